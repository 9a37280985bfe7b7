#pragma once
// The harness of the whole-run tests: a staged distribution of the set-up
// program with stand-in installers and launcher, a watched run of the program
// in a job object that records every dialog and message box it shows, and the
// texts the user sees in each language.
//
// Each test stages a fresh distribution in a temporary folder whose name has
// blanks: Setup.exe (the shipped program, or its test build copied under that
// name), Packages\Launcher.exe and the two prerequisite installers at their
// catalog paths. The launcher and the installers are stand-ins that record
// every start; the installers register themselves in the registry the way the
// real ones do. The program runs in a job object, so everything it starts is
// counted and nothing outlives the test.
#include <windows.h>

#include <gtest/gtest.h>

#include <deque>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DialogDriver.h"
#include "ExpectedTexts.h"
#include "RegistrySandbox.h"
#include "platform/UniqueHandle.h"

namespace scenario {

using driver::Kind;
using texts::Texts;
using texts::UiTexts;

// NORVALIS_TIMEOUT_SCALE stretches every wait, for a program that runs under
// an emulator (the 32-bit tier).
inline DWORD Scaled(DWORD milliseconds) {
    wchar_t value[16];
    const DWORD length = ::GetEnvironmentVariableW(L"NORVALIS_TIMEOUT_SCALE", value, 16);
    const unsigned long scale = length > 0 && length < 16 ? std::wcstoul(value, nullptr, 10) : 1;
    return milliseconds * static_cast<DWORD>(scale > 0 ? scale : 1);
}
inline const DWORD kDialogTimeoutMs = Scaled(15000);

// Whether `condition` holds within two seconds (scaled).
template <typename Condition>
bool Eventually(Condition condition) {
    const ULONGLONG deadline = ::GetTickCount64() + Scaled(2000);
    while (!condition()) {
        if (::GetTickCount64() >= deadline) return false;
        ::Sleep(20);
    }
    return true;
}
inline const DWORD kEndTimeoutMs = Scaled(20000);

// ---------------------------------------------------------------------------
// The catalog and the registry entries of a run.

const std::wstring kVcName = L"Microsoft Visual C++ 2010 x86 Redistributable";
const std::wstring kNetName = L"Microsoft .NET Framework 4.6.2";

enum class Installer { Vc, Net };

struct InstallerFacts {
    const wchar_t* relativePath;  // below the distribution's root
    const wchar_t* fileName;
    const wchar_t* arguments;
    const std::wstring* displayName;
};

inline const InstallerFacts& Facts(Installer installer) {
    static const InstallerFacts vc{
        L"Packages\\Visual C++ 2010 Redistributable Package\\vcredist_x86.exe", L"vcredist_x86.exe",
        L" /q", &kVcName};
    static const InstallerFacts net{L"Packages\\DotNetFX462\\dotnet.exe", L"dotnet.exe",
                                    L" /q /norestart", &kNetName};
    return installer == Installer::Vc ? vc : net;
}

constexpr wchar_t kLauncherFile[] = L"Launcher.exe";
constexpr wchar_t kLauncherPath[] = L"Packages\\Launcher.exe";

const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring kWowUninstall =
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring kVcCode = L"{F0C3E5D1-1ADE-321E-8167-68EF0DE699A5}";
const std::wstring kVcOtherCode = L"{196BB40D-1578-3D01-B289-BEFC77A11A1E}";
const std::wstring kNetKey = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";
constexpr DWORD kNet462Release = 394802;
const std::wstring kRunOnceKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr wchar_t kRunOnceValue[] = L"Norvalis setup";
const std::wstring kServerKey = kUninstall + L"\\Norvalis Server";
const std::wstring kWowServerKey = kWowUninstall + L"\\Norvalis Server";
const std::wstring kWowNetKey = L"SOFTWARE\\Wow6432Node\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";
constexpr wchar_t kServerValue[] = L"InstallerPath";

// What the real installers leave behind when they succeed: the stand-ins do
// the same, so a later detection finds the component installed.
const std::string kVcInstalls =
    "key=HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{F0C3E5D1-1ADE-321E-8167-"
    "68EF0DE699A5}\n";
const std::string kNetInstalls = "release=394802\n";

// ---------------------------------------------------------------------------
// Files.

inline std::string Utf8(const std::wstring& text) {
    std::string bytes(text.size() * 4 + 1, '\0');
    bytes.resize(::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                       nullptr));
    return bytes;
}

inline std::wstring Wide(const std::string& bytes) {
    std::wstring text(bytes.size() + 1, L'\0');
    text.resize(::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                      text.data(), static_cast<int>(text.size())));
    return text;
}

inline bool FileExists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool WriteFileText(const std::wstring& path, const std::string& bytes) {
    const platform::UniqueHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return false;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return ok && written == bytes.size();
}

inline std::string ReadFileText(const std::wstring& path) {
    const platform::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return {};
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    return bytes;
}

// The lines of a UTF-8 text file; none when it does not exist.
inline std::vector<std::wstring> ReadLines(const std::wstring& path) {
    const std::wstring text = Wide(ReadFileText(path));
    std::vector<std::wstring> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(L'\n', at);
        if (end == std::wstring::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

inline std::pair<std::wstring, std::wstring> SplitAtTab(const std::wstring& line) {
    const size_t tab = line.find(L'\t');
    if (tab == std::wstring::npos) return {line, L""};
    return {line.substr(0, tab), line.substr(tab + 1)};
}

inline std::wstring OwnFolder() {
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path.substr(0, path.find_last_of(L'\\'));
}

inline std::wstring TempFolder() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    std::wstring path(buffer, length);
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

inline void RemoveFolder(const std::wstring& path) {
    // Files of a process that has just ended can stay locked for a moment.
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::error_code error;
        std::filesystem::remove_all(std::filesystem::path(path), error);
        if (!FileExists(path)) return;
        ::Sleep(100);
    }
    ADD_FAILURE() << "cannot remove " << path;
}

// ---------------------------------------------------------------------------
// Watching one run of the program.

// One dialog or message box of the program, with what it showed.
struct Sighting {
    HWND hwnd = nullptr;
    Kind kind = Kind::Other;
    std::wstring caption;
    std::vector<std::wstring> statics;       // static texts with text, in child order
    std::vector<std::wstring> items;         // the list of missing components
    std::wstring okText;                     // IDOK, when there is one
    std::wstring cancelText;                 // IDCANCEL, when there is one
    std::vector<std::wstring> componentNames;  // progress dialog: every name it showed
    bool live = true;
    bool claimed = false;
};

inline const wchar_t* KindName(Kind kind) {
    switch (kind) {
    case Kind::Prerequisites: return L"prerequisites dialog";
    case Kind::Progress: return L"progress dialog";
    case Kind::Reboot: return L"restart dialog";
    case Kind::MessageBox: return L"message box";
    default: return L"other window";
    }
}

// A dialog can be visible a moment before its initialisation has filled it.
inline bool FilledIn(HWND dialog, Kind kind) {
    switch (kind) {
    case Kind::Prerequisites: return !driver::ListItems(dialog, 1000).empty();
    case Kind::Reboot: return !driver::ControlText(dialog, 65535).empty();
    case Kind::MessageBox: return !driver::Text(dialog).empty() && !driver::StaticTexts(dialog).empty();
    default: return !driver::Text(dialog).empty();
    }
}

using Environment = std::vector<std::pair<std::wstring, std::wstring>>;

// The environment of this process without any test switch, plus `extra`,
// which replaces variables of the same name.
inline std::vector<wchar_t> EnvironmentBlock(const Environment& extra) {
    std::vector<wchar_t> block;
    wchar_t* strings = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; entry != nullptr && *entry != L'\0';
         entry += wcslen(entry) + 1) {
        if (_wcsnicmp(entry, L"NORVALIS_TEST_", 14) == 0) continue;
        const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const auto& variable) {
            return _wcsnicmp(entry, (variable.first + L"=").c_str(), variable.first.size() + 1) == 0;
        });
        if (replaced) continue;
        block.insert(block.end(), entry, entry + wcslen(entry) + 1);
    }
    if (strings != nullptr) ::FreeEnvironmentStringsW(strings);
    for (const auto& [name, value] : extra) {
        const std::wstring entry = name + L"=" + value;
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

class WatchedRun {
public:
    WatchedRun() = default;
    WatchedRun(const WatchedRun&) = delete;
    WatchedRun& operator=(const WatchedRun&) = delete;
    ~WatchedRun() { Kill(); }

    // Starts `program` with `commandLine` in `currentDirectory`, inside a job
    // that every process it starts joins too. Empty on success, else why not.
    std::wstring Start(const std::wstring& program, std::wstring commandLine,
                       const std::wstring& currentDirectory, const Environment& environment) {
        m_job = ::CreateJobObjectW(nullptr, nullptr);
        if (m_job == nullptr) return L"CreateJobObject failed";
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        ::SetInformationJobObject(m_job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));

        std::vector<wchar_t> block = EnvironmentBlock(environment);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        // Wine now and then fails to start a process with an internal error
        // (1359) when the machine is busy; the program has not run then, so
        // starting it again is the same test.
        BOOL created = FALSE;
        for (int attempt = 0; attempt < 3 && !created; ++attempt) {
            if (attempt > 0) ::Sleep(200);
            created = ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                                       CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, block.data(),
                                       currentDirectory.c_str(), &startup, &info);
            if (!created && ::GetLastError() != ERROR_INTERNAL_ERROR) break;
        }
        if (!created) return L"CreateProcess failed: " + std::to_wstring(::GetLastError());
        m_process = info.hProcess;
        m_processId = info.dwProcessId;
        const bool joined = ::AssignProcessToJobObject(m_job, m_process);
        ::ResumeThread(info.hThread);
        ::CloseHandle(info.hThread);
        if (!joined) return L"AssignProcessToJobObject failed: " + std::to_wstring(::GetLastError());
        return {};
    }

    // Records every dialog of the program that is visible now, and whether
    // any window of it has been visible at all.
    void Poll() {
        if (!m_anyWindow && !driver::VisibleWindows(m_processId).empty()) m_anyWindow = true;
        const std::vector<HWND> dialogs = driver::VisibleDialogs(m_processId);
        for (Sighting& sighting : m_sightings) {
            if (!sighting.live) continue;
            if (!::IsWindow(sighting.hwnd) || !::IsWindowVisible(sighting.hwnd)) {
                sighting.live = false;
                continue;
            }
            if (sighting.kind == Kind::Progress) {
                const std::wstring name = driver::ControlText(sighting.hwnd, 1001);
                if (!name.empty() && name != L" " &&
                    (sighting.componentNames.empty() || sighting.componentNames.back() != name)) {
                    sighting.componentNames.push_back(name);
                }
            }
        }
        for (HWND dialog : dialogs) {
            bool known = false;
            for (const Sighting& sighting : m_sightings) {
                known = known || (sighting.live && sighting.hwnd == dialog);
            }
            if (known) continue;
            const Kind kind = driver::KindOf(dialog);
            if (!FilledIn(dialog, kind)) continue;
            Sighting sighting;
            sighting.hwnd = dialog;
            sighting.kind = kind;
            sighting.caption = driver::Text(dialog);
            sighting.statics = driver::StaticTexts(dialog);
            if (kind == Kind::Prerequisites) sighting.items = driver::ListItems(dialog, 1000);
            if (::GetDlgItem(dialog, IDOK) != nullptr) sighting.okText = driver::ControlText(dialog, IDOK);
            if (::GetDlgItem(dialog, IDCANCEL) != nullptr) {
                sighting.cancelText = driver::ControlText(dialog, IDCANCEL);
            }
            m_sightings.push_back(sighting);
        }
    }

    // The next dialog of this kind that no earlier call has returned, or null
    // on time-out. Everything else that shows meanwhile is recorded too.
    Sighting* Await(Kind kind, DWORD timeoutMs = kDialogTimeoutMs) {
        const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
        for (;;) {
            Poll();
            for (Sighting& sighting : m_sightings) {
                if (sighting.kind == kind && !sighting.claimed) {
                    sighting.claimed = true;
                    return &sighting;
                }
            }
            if (::GetTickCount64() >= deadline) return nullptr;
            ::Sleep(20);
        }
    }

    // Waits until the program and every process it started have ended,
    // recording dialogs meanwhile. False on time-out.
    bool AwaitEnd(DWORD timeoutMs = kEndTimeoutMs) {
        const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
        while (::WaitForSingleObject(m_process, 20) == WAIT_TIMEOUT) {
            Poll();
            if (::GetTickCount64() >= deadline) return false;
        }
        Poll();
        while (ActiveProcesses() > 0) {
            if (::GetTickCount64() >= deadline) return false;
            ::Sleep(20);
        }
        return true;
    }

    bool Ended() const { return ::WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0; }

    // The program's whole 32-bit exit code (a Linux shell sees it modulo
    // 256); STILL_ACTIVE while it runs.
    DWORD ExitCode() const {
        DWORD code = STILL_ACTIVE;
        ::GetExitCodeProcess(m_process, &code);
        return code;
    }

    // Whether any window of the program was seen visible while it was watched.
    bool AnyWindowSeen() const { return m_anyWindow; }

    // Whether the program records its message boxes (the test build, told where).
    bool RecordsMessageBoxes() const { return m_recordsBoxes; }
    void SetRecordsMessageBoxes(bool records) { m_recordsBoxes = records; }

    // Ends the program alone, as a crash or a kill would, leaving what it
    // started running.
    void KillProgram() {
        ::TerminateProcess(m_process, 9);
        ::WaitForSingleObject(m_process, 5000);
    }

    // How many processes ran in the job: the program and all it started.
    DWORD ProcessesStarted() const { return Accounting().TotalProcesses; }

    DWORD ProcessId() const { return m_processId; }
    const std::deque<Sighting>& Sightings() const { return m_sightings; }

    std::vector<Kind> Kinds() const {
        std::vector<Kind> kinds;
        for (const Sighting& sighting : m_sightings) kinds.push_back(sighting.kind);
        return kinds;
    }

    // Every dialog seen, for failure output.
    std::wstring Describe() const {
        std::wstring text = L"dialogs seen:";
        if (m_sightings.empty()) text += L" none";
        for (const Sighting& sighting : m_sightings) {
            text += L"\n  " + std::wstring(KindName(sighting.kind)) + L" \"" + sighting.caption + L"\"";
            for (const auto& line : sighting.statics) text += L"\n    text: " + line;
            for (const auto& item : sighting.items) text += L"\n    item: " + item;
        }
        return text;
    }

    // Ends whatever is left of the run, so no window blocks a later test.
    void Kill() {
        if (m_job != nullptr) {
            ::TerminateJobObject(m_job, 1);
            const ULONGLONG deadline = ::GetTickCount64() + 5000;
            while (ActiveProcesses() > 0 && ::GetTickCount64() < deadline) ::Sleep(20);
        }
        if (m_process != nullptr) {
            ::WaitForSingleObject(m_process, 5000);
            ::CloseHandle(m_process);
            m_process = nullptr;
        }
        if (m_job != nullptr) {
            ::CloseHandle(m_job);
            m_job = nullptr;
        }
    }

private:
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION Accounting() const {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
        if (m_job != nullptr) {
            ::QueryInformationJobObject(m_job, JobObjectBasicAccountingInformation, &accounting,
                                        sizeof(accounting), nullptr);
        }
        return accounting;
    }
    DWORD ActiveProcesses() const { return Accounting().ActiveProcesses; }

    HANDLE m_job = nullptr;
    HANDLE m_process = nullptr;
    DWORD m_processId = 0;
    bool m_anyWindow = false;
    bool m_recordsBoxes = false;
    std::deque<Sighting> m_sightings;
};

// Waits for the run's message box and checks that it carries the application
// title and exactly `text`. Null (and a failure) when no box appears.
inline Sighting* AwaitCaptionedMessage(WatchedRun& run, const std::wstring& text) {
    Sighting* message = run.Await(Kind::MessageBox);
    EXPECT_NE(nullptr, message) << run.Describe();
    if (message == nullptr) return nullptr;
    EXPECT_EQ(UiTexts().title, message->caption);
    EXPECT_EQ(std::vector<std::wstring>{text}, message->statics);
    return message;
}

// ---------------------------------------------------------------------------
// A staged distribution with the registry of a clean machine.

enum class Program {
    Shipped,   // Setup.exe as it ships
    TestBuild  // SetupTest.exe copied as Setup.exe: the same program with the test seam
};

// How the user answers a dialog.
enum class Answer { Button, EnterKey, EscapeKey, CloseRequest };

inline void Give(Answer answer, HWND dialog, int button) {
    switch (answer) {
    case Answer::Button: driver::Click(dialog, button); break;
    case Answer::EnterKey: driver::PressKey(dialog, VK_RETURN); break;
    case Answer::EscapeKey: driver::PressKey(dialog, VK_ESCAPE); break;
    case Answer::CloseRequest: driver::Close(dialog); break;
    }
}

inline std::wstring TestName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + " " + info->name();
    for (char& c : name) {
        if (c == '/' || c == '\\' || c == ':') c = ' ';
    }
    return Wide(name);
}

class StagedDistribution : public ::testing::Test {
protected:
    void SetUp() override {
        m_bin = OwnFolder();
        const std::wstring temp = TempFolder();
        m_dist = temp + L"\\Norvalis Dist " + TestName();
        m_elsewhere = temp + L"\\Norvalis Elsewhere " + TestName();
        m_journal = m_dist + L"\\journal of starts.txt";
        m_restartLog = m_dist + L"\\restart requests.txt";
        m_boxLog = m_dist + L"\\message boxes.txt";
        m_sandbox = std::make_unique<RegistrySandbox>(std::vector<std::pair<HKEY, std::wstring>>{
            {HKEY_CURRENT_USER, kUninstall + L"\\" + kVcCode},
            {HKEY_CURRENT_USER, kUninstall + L"\\" + kVcOtherCode},
            {HKEY_LOCAL_MACHINE, kUninstall + L"\\" + kVcCode},
            {HKEY_LOCAL_MACHINE, kUninstall + L"\\" + kVcOtherCode},
            {HKEY_LOCAL_MACHINE, kWowUninstall + L"\\" + kVcCode},
            {HKEY_LOCAL_MACHINE, kWowUninstall + L"\\" + kVcOtherCode},
            {HKEY_LOCAL_MACHINE, kNetKey},
            {HKEY_LOCAL_MACHINE, kServerKey},
            // The same keys as a 32-bit program sees them on 64-bit Windows.
            {HKEY_LOCAL_MACHINE, kWowNetKey},
            {HKEY_LOCAL_MACHINE, kWowServerKey},
        });
        ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunOnceKey.c_str(), kRunOnceValue);

        RemoveFolder(m_dist);
        RemoveFolder(m_elsewhere);
        ASSERT_TRUE(::CreateDirectoryW(m_dist.c_str(), nullptr)) << m_dist;
        ASSERT_TRUE(::CreateDirectoryW(m_elsewhere.c_str(), nullptr)) << m_elsewhere;
        ASSERT_TRUE(::CreateDirectoryW((m_dist + L"\\Packages").c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(
            (m_dist + L"\\Packages\\Visual C++ 2010 Redistributable Package").c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW((m_dist + L"\\Packages\\DotNetFX462").c_str(), nullptr));
        ASSERT_TRUE(Copy(L"StandInLauncher.exe", Path(kLauncherPath)));
        ASSERT_TRUE(Copy(L"StandInInstaller.exe", InstallerPath(Installer::Vc)));
        ASSERT_TRUE(Copy(L"StandInInstaller.exe", InstallerPath(Installer::Net)));
        Behave(kLauncherPath, "");
        Behave(Installer::Vc, kVcInstalls);
        Behave(Installer::Net, kNetInstalls);
    }

    void TearDown() override {
        m_runs.clear();  // ends any program still running
        m_sandbox.reset();
        ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunOnceKey.c_str(), kRunOnceValue);
        RemoveFolder(m_dist);
        RemoveFolder(m_elsewhere);
    }

    std::wstring Path(const std::wstring& relative) const { return m_dist + L"\\" + relative; }
    std::wstring InstallerPath(Installer installer) const { return Path(Facts(installer).relativePath); }
    std::wstring SetupPath() const { return Path(L"Setup.exe"); }

    bool Copy(const std::wstring& builtFile, const std::wstring& target) const {
        return ::CopyFileW((m_bin + L"\\" + builtFile).c_str(), target.c_str(), FALSE) != 0;
    }

    // What a stand-in does when started; every start is also journalled.
    void Behave(const std::wstring& relative, const std::string& settings) {
        ASSERT_TRUE(WriteFileText(Path(relative) + L".behaviour",
                                  settings + "journal=" + Utf8(m_journal) + "\n"));
    }
    void Behave(Installer installer, const std::string& settings) {
        Behave(std::wstring(Facts(installer).relativePath), settings);
    }

    // The machine before the run: which components are already there.
    // In the registry view of the program under test.
    void Arrange(bool vcInstalled, bool netInstalled) {
        const REGSAM view = ProgramIs32Bit() ? KEY_WOW64_32KEY : 0;
        if (vcInstalled) CreateTestKey(HKEY_LOCAL_MACHINE, kUninstall + L"\\" + kVcCode, view);
        if (netInstalled) {
            const DWORD release = kNet462Release;
            SetTestValue(HKEY_LOCAL_MACHINE, kNetKey, L"Release", REG_DWORD, &release, 4, view);
        }
    }

    // Whether the staged Setup.exe is a 32-bit program (the shipped kind),
    // read from its file header.
    bool ProgramIs32Bit() const {
        const std::string bytes = ReadFileText(ShippedProgram());
        if (bytes.size() < 0x40) return false;
        DWORD peAt = 0;
        std::memcpy(&peAt, bytes.data() + 0x3C, sizeof(peAt));
        WORD machine = 0;
        if (bytes.size() < peAt + 6) return false;
        std::memcpy(&machine, bytes.data() + peAt + 4, sizeof(machine));
        return machine == IMAGE_FILE_MACHINE_I386;
    }

    // The file run as the shipped program: NORVALIS_SHIPPED_SETUP names it
    // (the 32-bit tier gives the release build's Setup.exe), else the
    // Setup.exe built beside the tests.
    std::wstring ShippedProgram() const {
        wchar_t path[MAX_PATH];
        const DWORD length = ::GetEnvironmentVariableW(L"NORVALIS_SHIPPED_SETUP", path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) return std::wstring(path, length);
        return m_bin + L"\\Setup.exe";
    }

    // Starts the staged Setup.exe and returns its run; null (with a failure)
    // when it could not be started.
    WatchedRun* StartSetup(Program program, const Environment& environment = {},
                           const std::wstring& currentDirectory = {},
                           const std::wstring& arguments = {}) {
        const std::wstring source = program == Program::Shipped ? ShippedProgram() : m_bin + L"\\SetupTest.exe";
        if (!::CopyFileW(source.c_str(), SetupPath().c_str(), FALSE)) {
            ADD_FAILURE() << "cannot stage the program";
            return nullptr;
        }
        std::wstring commandLine = QuotedSetupPath();
        if (!arguments.empty()) commandLine += L" " + arguments;
        WatchedRun* run = StartProgram(SetupPath(), commandLine,
                                       currentDirectory.empty() ? m_dist : currentDirectory, environment);
        const bool toldWhere = std::any_of(environment.begin(), environment.end(), [](const auto& variable) {
            return variable.first == L"NORVALIS_TEST_BOX_LOG";
        });
        if (run != nullptr) run->SetRecordsMessageBoxes(program == Program::TestBuild && toldWhere);
        return run;
    }

    WatchedRun* StartProgram(const std::wstring& program, const std::wstring& commandLine,
                             const std::wstring& currentDirectory, const Environment& environment) {
        m_runs.push_back(std::make_unique<WatchedRun>());
        const std::wstring error = m_runs.back()->Start(program, commandLine, currentDirectory, environment);
        if (!error.empty()) {
            ADD_FAILURE() << error;
            return nullptr;
        }
        return m_runs.back().get();
    }

    // The test build's environment that records restart requests instead of
    // performing them, plus `more`.
    Environment RecordingRestarts(Environment more = {}) const {
        more.emplace_back(L"NORVALIS_TEST_RESTART_LOG", m_restartLog);
        more.emplace_back(L"NORVALIS_TEST_BOX_LOG", m_boxLog);
        return more;
    }

    // Answers the prerequisites dialog with "Continue"; false (with a
    // failure) when no such dialog shows.
    bool ContinueInPrerequisites(WatchedRun& run) {
        Sighting* dialog = run.Await(Kind::Prerequisites);
        EXPECT_NE(nullptr, dialog) << run.Describe();
        if (dialog == nullptr) return false;
        driver::Click(dialog->hwnd, IDOK);
        return true;
    }

    // Waits for the run's message box and checks its caption and text; that
    // it came to the foreground; and, where the test build records it, the
    // icon the program gave it. Null (and a failure) when no box appears.
    Sighting* AwaitMessage(WatchedRun& run, const std::wstring& text, const char* icon = "error") {
        Sighting* message = AwaitCaptionedMessage(run, text);
        if (message == nullptr) return nullptr;
        if (std::string(icon) == "error") {
            EXPECT_TRUE(Eventually([&] { return ::GetForegroundWindow() == message->hwnd; }))
                << "an error message that is not in the foreground";
        }
        if (run.RecordsMessageBoxes()) {
            std::string shown;
            Eventually([&] { return !(shown = RecordedIcon(message->hwnd)).empty(); });
            EXPECT_EQ(icon, shown) << "the icon of the message box";
        }
        return message;
    }

    // The icon the test build recorded for this box; empty when none yet.
    std::string RecordedIcon(HWND box) const {
        char window[24];
        std::snprintf(window, sizeof(window), "%llX ",
                      static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(box)));
        const std::string text = ReadFileText(m_boxLog);
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            const std::string line = text.substr(at, end - at);
            if (line.rfind(window, 0) == 0) return line.substr(std::strlen(window));
            at = end + 1;
        }
        return {};
    }

    // The continuation value, or nothing.
    std::optional<std::wstring> RunOnceValue() const {
        std::wstring value;
        if (!ReadTestString(HKEY_CURRENT_USER, kRunOnceKey, kRunOnceValue, value)) return std::nullopt;
        return value;
    }
    std::optional<std::wstring> ServerMarker() const {
        std::wstring value;
        if (!ReadTestString(HKEY_LOCAL_MACHINE, kServerKey, kServerValue, value)) return std::nullopt;
        return value;
    }
    std::wstring QuotedSetupPath() const { return L"\"" + SetupPath() + L"\""; }

    // How every run that does not restart ends: the dialogs it showed, the
    // continuation value in place and no server marker, the stand-ins that
    // started (the set-up program itself is the one more process), and no
    // restart request.
    void ExpectEndWithoutRestart(const WatchedRun& run, const std::vector<Kind>& kinds,
                                 const std::vector<std::wstring>& started) const {
        EXPECT_EQ(kinds, run.Kinds()) << run.Describe();
        EXPECT_EQ(started, Started());
        EXPECT_EQ(QuotedSetupPath(), RunOnceValue());
        EXPECT_EQ(std::nullopt, ServerMarker());
        EXPECT_EQ(1u + started.size(), run.ProcessesStarted());
        EXPECT_TRUE(RestartRequests().empty());
    }

    // The file names of the stand-ins, in the order they started.
    std::vector<std::wstring> Started() const {
        std::vector<std::wstring> names;
        for (const auto& line : ReadLines(m_journal)) names.push_back(SplitAtTab(line).first);
        return names;
    }
    // The command lines with which a stand-in started, one per start.
    std::vector<std::wstring> CommandLines(const std::wstring& fileName) const {
        std::vector<std::wstring> lines;
        for (const auto& line : ReadLines(m_journal)) {
            const auto [name, commandLine] = SplitAtTab(line);
            if (name == fileName) lines.push_back(commandLine);
        }
        return lines;
    }
    // The current directories in which a stand-in started, one per start.
    std::vector<std::wstring> Directories(const std::wstring& relative) const {
        std::vector<std::wstring> directories;
        for (const auto& line : ReadLines(Path(relative) + L".log")) {
            directories.push_back(SplitAtTab(line).second);
        }
        return directories;
    }
    std::wstring ExpectedCommandLine(Installer installer) const {
        return L"\"" + InstallerPath(installer) + L"\"" + Facts(installer).arguments;
    }
    std::vector<std::wstring> RestartRequests() const { return ReadLines(m_restartLog); }

    std::wstring m_bin;
    std::wstring m_dist;
    std::wstring m_elsewhere;
    std::wstring m_journal;
    std::wstring m_restartLog;
    std::wstring m_boxLog;
    std::unique_ptr<RegistrySandbox> m_sandbox;
    std::vector<std::unique_ptr<WatchedRun>> m_runs;
};

const std::vector<std::wstring> kNothingStarted{};
const std::wstring kVcFile = L"vcredist_x86.exe";
const std::wstring kNetFile = L"dotnet.exe";
const std::wstring kLauncher = kLauncherFile;


// ===========================================================================

}  // namespace scenario
