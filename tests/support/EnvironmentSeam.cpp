// Linked only into SetupTest.exe, the test build of the set-up program: it
// sets the seam from the environment for what Wine cannot produce. The
// shipped Setup.exe has no such code and reads no environment variable.
//   NORVALIS_TEST_NOT_ADMIN=1       the user is not an administrator
//   NORVALIS_TEST_NO_THREAD=1       the worker thread cannot be created
//   NORVALIS_TEST_REFUSE_WRITES=1   every registry value write fails
//   NORVALIS_TEST_RESTART_LOG=path  restart requests are appended here
//                                   ("flags reason", hex)
//   NORVALIS_TEST_REFUSE_RESTART=1  restart requests are refused
//   NORVALIS_TEST_BOX_LOG=path      each message box shown is appended here as
//                                   "<window, hex> <icon>", its icon read back
//                                   inside the program: error, warning,
//                                   information, question, none or other
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

void AppendLine(const std::wstring& path, const char* line, int length) {
    HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    ::CloseHandle(file);
}

std::wstring boxLog;

// Which of the system's icons a message box shows. Inside the process that
// shows it, the box's icon is the very handle LoadIcon gives for it.
const char* IconName(HWND box) {
    for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if ((::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
        const auto icon = reinterpret_cast<HICON>(::SendMessageW(child, STM_GETICON, 0, 0));
        const struct {
            LPCWSTR id;
            const char* name;
        } known[] = {{IDI_ERROR, "error"}, {IDI_WARNING, "warning"}, {IDI_INFORMATION, "information"},
                     {IDI_QUESTION, "question"}};
        for (const auto& candidate : known) {
            if (icon != nullptr && icon == ::LoadIconW(nullptr, candidate.id)) return candidate.name;
        }
        return "other";
    }
    return "none";
}

void CALLBACK RecordBox(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG, DWORD, DWORD) {
    wchar_t className[16] = {};
    if (object != OBJID_WINDOW || ::GetParent(window) != nullptr ||
        ::GetClassNameW(window, className, 16) == 0 || lstrcmpW(className, L"#32770") != 0) {
        return;
    }
    // The event reaches this (main) thread once it waits for messages again.
    // A box of the worker thread may still be filling in its controls then.
    if (::GetWindowThreadProcessId(window, nullptr) != ::GetCurrentThreadId()) {
        for (int i = 0; i < 100 && ::IsWindow(window) && ::GetDlgItem(window, 0xFFFF) == nullptr; ++i) ::Sleep(20);
    }
    if (::GetDlgItem(window, 0xFFFF) == nullptr) return;  // not a message box: theirs is the text
    char line[64];
    const int length = std::snprintf(line, sizeof(line), "%llX %s\n",
                                     static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)),
                                     IconName(window));
    AppendLine(boxLog, line, length);
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
        boxLog = Variable(L"NORVALIS_TEST_BOX_LOG");
        // Out of context: the events reach the main thread whenever it waits
        // for messages, which it does while any box of the program is up.
        // (Wine reports the creation of windows, not their showing.)
        if (!boxLog.empty()) {
            ::SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, nullptr, RecordBox,
                              ::GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
        }
        seam.restartRequested = RecordRestart;
    }
};

const ApplyEnvironment applied;

}  // namespace
