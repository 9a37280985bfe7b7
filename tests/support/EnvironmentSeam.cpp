// Linked only into SetupTest.exe, the test build of the set-up program: it
// sets the seam from the environment for what Wine cannot produce. The
// shipped Setup.exe has no such code and reads no environment variable.
//   NORVALIS_TEST_NOT_ADMIN=1       the user is not an administrator
//   NORVALIS_TEST_NO_THREAD=1       the worker thread cannot be created
//   NORVALIS_TEST_REFUSE_WRITES=1   every registry value write fails
//   NORVALIS_TEST_RESTART_LOG=path  restart requests are appended here
//                                   ("flags reason", hex)
//   NORVALIS_TEST_REFUSE_RESTART=1  restart requests are refused
// The test build never restarts: in a shared Wine prefix a restart would end
// the session of every other test.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/Seam.h"

namespace {

std::wstring Variable(const wchar_t* name) {
    wchar_t buffer[1024];
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, 1024);
    return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

std::wstring restartLog;
bool refuseRestart = false;

bool RecordRestart(UINT flags, DWORD reason) {
    if (restartLog.empty()) return !refuseRestart;
    HANDLE file = ::CreateFileW(restartLog.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return !refuseRestart;
    char line[64];
    const int length = std::snprintf(line, sizeof(line), "0x%X 0x%08lX\n", flags,
                                     static_cast<unsigned long>(reason));
    DWORD written = 0;
    ::WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    ::CloseHandle(file);
    return !refuseRestart;
}

struct ApplyEnvironment {
    ApplyEnvironment() {
        platform::TestSeam& seam = platform::Seam();
        if (Variable(L"NORVALIS_TEST_NOT_ADMIN") == L"1") {
            seam.administrators = platform::TestSeam::Membership::NotMember;
        }
        seam.refuseThreadCreation = Variable(L"NORVALIS_TEST_NO_THREAD") == L"1";
        seam.refuseRegistryWrites = Variable(L"NORVALIS_TEST_REFUSE_WRITES") == L"1";
        restartLog = Variable(L"NORVALIS_TEST_RESTART_LOG");
        refuseRestart = Variable(L"NORVALIS_TEST_REFUSE_RESTART") == L"1";
        seam.restartRequested = RecordRestart;
    }
};

const ApplyEnvironment applied;

}  // namespace
