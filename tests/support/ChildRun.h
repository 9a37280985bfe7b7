#pragma once
// Runs one test of a test program in a process of its own: the running
// program, or a copy of it staged elsewhere, so that the code under test sees
// another program path, another current directory or a fresh process. The
// child test learns what to do from one environment variable and skips
// itself when that variable is absent. Header only.
#include <windows.h>

#include <string>

#include "platform/UniqueHandle.h"

struct ChildRun {
    bool started = false;
    bool ended = false;
    DWORD processId = 0;
    DWORD exitCode = STILL_ACTIVE;
    ULONGLONG exitTime = 0;  // system time (UTC, 100 ns units)
};

// Starts `program --gtest_filter=<filter>` with `variable`=`value` in its
// environment and `currentDirectory` (ours when empty), and waits for its end.
// A child still running after `timeoutMs` is ended and counts as not ended.
inline ChildRun RunChild(const std::wstring& program, const std::wstring& filter,
                         const wchar_t* variable, const std::wstring& value,
                         const std::wstring& currentDirectory = L"", DWORD timeoutMs = 120000) {
    ChildRun run;
    std::wstring commandLine = L"\"" + program + L"\" --gtest_filter=" + filter;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ::SetEnvironmentVariableW(variable, value.c_str());
    run.started = ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                   nullptr, currentDirectory.empty() ? nullptr : currentDirectory.c_str(),
                                   &startup, &info) != FALSE;
    ::SetEnvironmentVariableW(variable, nullptr);
    if (!run.started) return run;
    const platform::UniqueHandle process(info.hProcess);
    const platform::UniqueHandle thread(info.hThread);
    run.processId = info.dwProcessId;
    if (::WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        run.ended = true;
        ::GetExitCodeProcess(info.hProcess, &run.exitCode);
        FILETIME creation{}, exit{}, kernel{}, user{};
        if (::GetProcessTimes(info.hProcess, &creation, &exit, &kernel, &user)) {
            run.exitTime = (static_cast<ULONGLONG>(exit.dwHighDateTime) << 32) | exit.dwLowDateTime;
        }
    } else {
        ::TerminateProcess(info.hProcess, 1);
        ::WaitForSingleObject(info.hProcess, 10000);
    }
    return run;
}

// The value of an environment variable, or empty when it is not set.
inline std::wstring ChildInstruction(const wchar_t* variable) {
    wchar_t buffer[4096];
    const DWORD length = ::GetEnvironmentVariableW(variable, buffer, 4096);
    return length > 0 && length < 4096 ? std::wstring(buffer, length) : std::wstring();
}
