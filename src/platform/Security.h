#pragma once
#include <windows.h>

namespace platform {

// Whether the calling thread's token is a member of the local Administrators
// group (S-1-5-32-544). Any failure counts as "not a member".
bool IsUserAdministrator();

// Enables SeShutdownPrivilege in the process token and asks Windows to restart.
// Returns at once: true when Windows accepted the request, false (with the
// error in GetLastError) when it refused.
bool RequestRestart(UINT flags, DWORD reason);

}  // namespace platform
