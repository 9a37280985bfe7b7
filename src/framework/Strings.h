#pragma once
#include <windows.h>
#include <string>

// A string of the executable's string table in the language the resource
// loader picks for this thread; empty when no such string exists.
std::wstring LoadResourceString(UINT id);

// Modal error and information boxes, captioned with the application title.
// The id form shows a string of the string table.
int AfxMessageBox(UINT stringId, UINT type = MB_OK);
int AfxMessageBox(const wchar_t* text, UINT type = MB_OK);
