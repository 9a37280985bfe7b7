#pragma once
#include <windows.h>

#include "platform/Log.h"

// Release number 394802 or later under the .NET Framework 4 key.
bool IsNetFramework462Installed(const platform::Log& log = platform::NoLog());

// An uninstall entry of either Visual C++ 2010 x86 product code in the user's,
// the machine's or the machine's Wow6432Node uninstall list.
bool IsVcRedist2010Installed(const platform::Log& log = platform::NoLog());

// Whether root\parentPath\productCode can be opened. Nothing inside is read:
// an empty key counts.
bool UninstallKeyExists(HKEY root, const wchar_t* parentPath, const wchar_t* productCode,
                        const platform::Log& log = platform::NoLog());
