#include "app/RunLog.h"

#include <windows.h>

#include "framework/WinApp.h"

namespace {

std::wstring TwoDigits(unsigned value) { return platform::Decimal(value + 100).substr(1); }

// The file name of the default log, in local time: the time the user knows.
std::wstring DefaultLogName(const SYSTEMTIME& now) {
    return L"Norvalis Setup " + platform::Decimal(now.wYear) + TwoDigits(now.wMonth) +
           TwoDigits(now.wDay) + L"_" + TwoDigits(now.wHour) + TwoDigits(now.wMinute) +
           TwoDigits(now.wSecond);
}

std::wstring TempFolder() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return {};
    return std::wstring(buffer, length);  // ends with a backslash
}

std::wstring Version(WORD major, WORD minor, WORD build, WORD revision) {
    return platform::Decimal(major) + L"." + platform::Decimal(minor) + L"." +
           platform::Decimal(build) + L"." + platform::Decimal(revision);
}

// The file version of the program's own version resource.
std::wstring ProgramVersion() {
    HMODULE self = AfxGetResourceHandle();
    HRSRC found = ::FindResourceW(self, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));  // RT_VERSION
    if (found == nullptr) return L"unknown";
    const auto* data = static_cast<const BYTE*>(::LockResource(::LoadResource(self, found)));
    const DWORD size = ::SizeofResource(self, found);
    // VS_VERSIONINFO: three WORDs, the key "VS_VERSION_INFO" and its NUL,
    // padding to a DWORD boundary, then VS_FIXEDFILEINFO.
    constexpr DWORD kFixedAt = 40;
    if (data == nullptr || size < kFixedAt + sizeof(VS_FIXEDFILEINFO)) return L"unknown";
    VS_FIXEDFILEINFO fixed;
    ::CopyMemory(&fixed, data + kFixedAt, sizeof(fixed));
    if (fixed.dwSignature != 0xFEEF04BD) return L"unknown";
    return Version(HIWORD(fixed.dwFileVersionMS), LOWORD(fixed.dwFileVersionMS),
                   HIWORD(fixed.dwFileVersionLS), LOWORD(fixed.dwFileVersionLS));
}

// The version Windows really has: RtlGetVersion is not subject to the
// compatibility shims that make GetVersionEx answer with an older one.
std::wstring WindowsVersion() {
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    FARPROC proc = ntdll != nullptr ? ::GetProcAddress(ntdll, "RtlGetVersion") : nullptr;
    if (proc == nullptr ||
        reinterpret_cast<GetVersion>(reinterpret_cast<void*>(proc))(&info) != 0) {
        return L"unknown";
    }
    return platform::Decimal(info.dwMajorVersion) + L"." + platform::Decimal(info.dwMinorVersion) +
           L"." + platform::Decimal(info.dwBuildNumber);
}

const wchar_t* Bitness() {
    if (sizeof(void*) == 8) return L"64-bit";
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64
               ? L"32-bit, on 64-bit Windows"
               : L"32-bit";
}

}  // namespace

void OpenRunLog(platform::Log& log, const CommandLine& commandLine) {
    if (!commandLine.logPath.empty()) {
        log.OpenForAppend(commandLine.logPath);
        return;
    }
    const std::wstring folder = TempFolder();
    if (folder.empty()) return;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    const std::wstring name = folder + DefaultLogName(now);
    // Two runs started in the same second each get a file of their own.
    if (log.OpenNew(name + L".log")) return;
    for (unsigned n = 2; n <= 9; ++n) {
        if (log.OpenNew(name + L" (" + platform::Decimal(n) + L").log")) return;
    }
}

void LogRunStart(const platform::Log& log) {
    log.Write({L"Norvalis Setup ", ProgramVersion(), L" (", Bitness(), L")"});
    log.Write({L"Windows ", WindowsVersion(), L", user interface language 0x",
               platform::Hex(::GetUserDefaultUILanguage(), 4)});
    log.Write({L"command line: ", ::GetCommandLineW()});
}
