#include "platform/Process.h"

#include "platform/Seam.h"

namespace platform {

std::optional<StartedProcess> StartProcess(const wchar_t* application, std::wstring* commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    // CreateProcessW may write into the command line, so it gets the string's
    // own writable buffer.
    wchar_t* line = commandLine != nullptr ? commandLine->data() : nullptr;
    if (!::CreateProcessW(application, line, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                          nullptr, nullptr, &startup, &info)) {
        return std::nullopt;
    }
    StartedProcess started{UniqueHandle(info.hProcess), UniqueHandle(info.hThread)};
    if (!started.process) return std::nullopt;
    return started;
}

DWORD WaitForExitCode(const StartedProcess& started) {
    ::WaitForSingleObject(started.process.get(), INFINITE);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(started.process.get(), &exitCode);
    return exitCode;
}

UniqueHandle TakeNamedMutex(const wchar_t* name, bool& heldElsewhere) {
    UniqueHandle mutex(::CreateMutexW(nullptr, TRUE, name));
    const DWORD error = ::GetLastError();
    // A mutex made by another user's elevated process may deny us access:
    // it exists, so someone else holds it.
    heldElsewhere = error == ERROR_ALREADY_EXISTS || (!mutex && error == ERROR_ACCESS_DENIED);
    if (heldElsewhere) return UniqueHandle();
    return mutex;
}

UniqueHandle CreateSuspendedThread(LPTHREAD_START_ROUTINE routine, void* parameter) {
    if (Seam().refuseThreadCreation) return UniqueHandle();
    return UniqueHandle(::CreateThread(nullptr, 0, routine, parameter, CREATE_SUSPENDED, nullptr));
}

}  // namespace platform
