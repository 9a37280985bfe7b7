#pragma once
#include <windows.h>
#include <optional>
#include <string>

#include "platform/UniqueHandle.h"

namespace platform {

struct StartedProcess {
    UniqueHandle process;
    UniqueHandle thread;
};

// CreateProcessW with no inheritance, NORMAL_PRIORITY_CLASS, the caller's
// environment and current directory. `application` may be null (then the
// program comes from the command line); `commandLine` may be null.
// Nothing when Windows gives no process handle.
std::optional<StartedProcess> StartProcess(const wchar_t* application, std::wstring* commandLine);

// Waits without bound for the process to end and gives its exit code.
DWORD WaitForExitCode(const StartedProcess& started);

// Creates and owns the named mutex `name`. Empty, with `heldElsewhere` set,
// when another process has it already (or it exists and cannot be opened);
// empty with `heldElsewhere` clear when it cannot be made at all.
UniqueHandle TakeNamedMutex(const wchar_t* name, bool& heldElsewhere);

// A thread created suspended; an empty handle when it cannot be created.
UniqueHandle CreateSuspendedThread(LPTHREAD_START_ROUTINE routine, void* parameter);

}  // namespace platform
