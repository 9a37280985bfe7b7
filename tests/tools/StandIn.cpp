// Stand-in for a prerequisite installer or for the product's launcher.
//
// What it does comes from a side file next to it, "<its own path>.behaviour",
// one setting per line (all optional):
//   exit=<number>          exit code (decimal, or 0x... hex), default 0
//   sleep=<ms>             stay alive this long before ending
//   crash=1                end by an access violation
//   key=HKCU|HKLM\<path>   create this registry key (e.g. an uninstall entry)
//   release=<number>       set HKLM\...\NDP\v4\Full "Release" to this REG_DWORD
// Every start is appended to "<its own path>.log" as one UTF-8 line:
//   <command line> TAB <current directory>
// and, when the side file names one, to a shared journal (journal=<path>) as
//   <own file name> TAB <command line>
// With signal=<event name> it sets that named event once it has started
// (for timing from another program).
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::wstring OwnPath() {
    wchar_t buffer[32768];
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, 32768);
    return std::wstring(buffer, length);
}

std::wstring ReadSideFile(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes(65536, '\0');
    DWORD read = 0;
    ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    ::CloseHandle(file);
    bytes.resize(read);
    std::wstring text(bytes.size(), L'\0');
    text.resize(::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                      text.data(), static_cast<int>(text.size())));
    return text;
}

std::wstring Setting(const std::wstring& text, const std::wstring& name) {
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(L'\n', at);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(at, end - at);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (line.compare(0, name.size() + 1, name + L"=") == 0) return line.substr(name.size() + 1);
        at = end + 1;
    }
    return {};
}

// Ends the process with the exception's code. A named WINAPI function, not a
// lambda: a lambda converts only to a pointer of the default calling
// convention, which on 32-bit Windows is not the filter's.
LONG WINAPI EndWithExceptionCode(EXCEPTION_POINTERS* exception) {
    ::TerminateProcess(::GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

void Append(const std::wstring& path, const std::wstring& line) {
    HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::wstring text = line + L"\n";
    std::string bytes(text.size() * 4, '\0');
    bytes.resize(::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr));
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

}  // namespace

int wmain() {
    const std::wstring self = OwnPath();
    const std::wstring behaviour = ReadSideFile(self + L".behaviour");

    wchar_t directory[32768];
    const DWORD dirLength = ::GetCurrentDirectoryW(32768, directory);
    Append(self + L".log", std::wstring(::GetCommandLineW()) + L"\t" + std::wstring(directory, dirLength));
    const std::wstring journal = Setting(behaviour, L"journal");
    if (!journal.empty()) {
        Append(journal, self.substr(self.find_last_of(L'\\') + 1) + L"\t" + ::GetCommandLineW());
    }

    const std::wstring signal = Setting(behaviour, L"signal");
    if (!signal.empty()) {
        if (HANDLE event = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, signal.c_str())) {
            ::SetEvent(event);
            ::CloseHandle(event);
        }
    }

    const std::wstring key = Setting(behaviour, L"key");
    if (key.size() > 5) {
        HKEY root = key.compare(0, 5, L"HKCU\\") == 0 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        HKEY created = nullptr;
        if (::RegCreateKeyExW(root, key.substr(5).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &created, nullptr) == ERROR_SUCCESS) {
            ::RegCloseKey(created);
        }
    }
    const std::wstring release = Setting(behaviour, L"release");
    if (!release.empty()) {
        const DWORD value = std::wcstoul(release.c_str(), nullptr, 0);
        HKEY created = nullptr;
        if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full",
                              0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr) == ERROR_SUCCESS) {
            ::RegSetValueExW(created, L"Release", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
            ::RegCloseKey(created);
        }
    }

    const std::wstring sleep = Setting(behaviour, L"sleep");
    if (!sleep.empty()) ::Sleep(std::wcstoul(sleep.c_str(), nullptr, 0));

    if (Setting(behaviour, L"crash") == L"1") {
        // A real access violation, ended with the exception's code as exit
        // code; the filter keeps Wine from starting its debugger.
        ::SetUnhandledExceptionFilter(EndWithExceptionCode);
        *static_cast<volatile int*>(nullptr) = 1;
    }
    const std::wstring exitCode = Setting(behaviour, L"exit");
    ::ExitProcess(exitCode.empty() ? 0 : std::wcstoul(exitCode.c_str(), nullptr, 0));
}
