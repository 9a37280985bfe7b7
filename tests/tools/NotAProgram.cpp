// A library, not a program: signed like the installers, it passes their
// signature check and then cannot be started, as a DLL renamed into an
// installer's place cannot.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
