// Whole runs of the set-up program in a staged distribution, answered the way
// a user would answer them.
//
// Each test stages a fresh distribution in a temporary folder whose name has
// blanks: Setup.exe (the shipped program, or its test build copied under that
// name), Packages\Launcher.exe and the two prerequisite installers at their
// catalog paths. The launcher and the installers are stand-ins that record
// every start; the installers register themselves in the registry the way the
// real ones do. The program runs in a job object, so everything it starts is
// counted and nothing outlives the test. While it runs, every dialog and
// message box it shows is recorded with its texts.
//
// Expected texts come from a table in the three languages, chosen by the user
// interface language, so every test holds in English, German and Russian.
#include <windows.h>

#include <gtest/gtest.h>

#include <deque>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DialogDriver.h"
#include "RegistrySandbox.h"

namespace {

using driver::Kind;

constexpr DWORD kDialogTimeoutMs = 15000;
constexpr DWORD kEndTimeoutMs = 20000;

// ---------------------------------------------------------------------------
// Texts, as the user sees them in each language.

struct Texts {
    LANGID language;
    std::wstring title;               // 57344, caption of every window
    std::wstring installFailed;       // 130
    std::wstring launchFailed;        // 131
    std::wstring adminRequired;       // 132
    std::wstring packagesMissing;     // 133
    std::wstring serverContinues;     // 134
    std::wstring restartRequired;     // 136
    std::wstring continueButton;      // prerequisites dialog, IDOK
    std::wstring cancelButton;        // prerequisites dialog, IDCANCEL
    std::vector<std::wstring> explanation;  // its static lines that have text
    std::wstring installingHeading;   // progress dialog
    std::wstring restartButton;       // restart dialog, IDCANCEL
};

const Texts kEnglish{
    0x0409,
    L"Install Norvalis",
    L"There was an error installing the following components:\n\n",
    L"Error starting Norvalis installation",
    L"You should have administrator privileges on this computer to install Norvalis.",
    L"Prerequisite software distributives are either corrupted or not found.",
    L"Norvalis server installation will be continued after your restart your computer.",
    L"Your computer must be restarted to continue setup.\nIf setup program is not started "
    L"automatically when you restart, launch it manually.",
    L"Continue",
    L"Cancel",
    {L"You should install additional prerequisites for Norvalis to work correctly."},
    L"Installing prerequisites...",
    L"Restart",
};

const Texts kGerman{
    0x0407,
    L"Installation von Norvalis",
    L"Bei der Installation folgender Komponenten sind Fehler aufgetreten:\n\n",
    L"Fehler beim Starten der Installation von Norvalis",
    L"Sie müssen über Administratorrechte verfügen, um die Installation von Norvalis zu starten.",
    L"Distributionen der Software der dritten Herstellen, die zum Programminstallation "
    L"erforderlich sind, sind entweder beschädigt oder nicht gefunden.",
    L"Die Installation der Serverkomponente von Norvalis wird nach einem Neustart des Computers "
    L"fortgesetzt.",
    L"Zum Fortsetzen der Installation muss der Computer neu gestartet werden.\nWenn das "
    L"Installationsprogramm nach dem Neustart nicht automatisch ausgeführt wird, dann starten Sie "
    L"das Programm manuell.",
    L"Fortsetzen",
    L"Abbrechen",
    {L"Damit Norvalis ordnungsgemäß funktioniert, sollten",
     L"folgende Elemente  installiert werden:"},
    L"Installation erforderlicher Komponenten...",
    L"Neu starten",
};

const Texts kRussian{
    0x0419,
    L"Установка Norvalis",
    L"Установка следующих компонент завершилась с ошибкой:\n\n",
    L"Ошибка запуска процесса установки Norvalis",
    L"Для начала установки Norvalis необходимо наличие прав администратора для вашей учетной "
    L"записи.",
    L"Дистрибутивы сторонних компонентов, необходимые для установки программы, повреждены или "
    L"отсутствуют.",
    L"Установка серверной части Norvalis будет продолжена после перезагрузки компьютера.",
    L"Для продолжения установки необходимо перезагрузить компьютер.\nЕсли после перезагрузки "
    L"программа установки не запустится автоматически, запустите ее самостоятельно.",
    L"Продолжить",
    L"Отмена",
    {L"Для корректной работы Norvalis требуется установить", L"дополнительные компоненты."},
    L"Установка дополнительных компонентов...",
    L"Перезагрузить",
};

// The texts of the user's interface language; English for any other language,
// which the Languages suite does not accept.
const Texts& UiTexts() {
    switch (::GetUserDefaultUILanguage()) {
    case 0x0407: return kGerman;
    case 0x0419: return kRussian;
    default: return kEnglish;
    }
}

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

const InstallerFacts& Facts(Installer installer) {
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
constexpr wchar_t kServerValue[] = L"InstallerPath";

// What the real installers leave behind when they succeed: the stand-ins do
// the same, so a later detection finds the component installed.
const std::string kVcInstalls =
    "key=HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{F0C3E5D1-1ADE-321E-8167-"
    "68EF0DE699A5}\n";
const std::string kNetInstalls = "release=394802\n";

// ---------------------------------------------------------------------------
// Files.

std::string Utf8(const std::wstring& text) {
    std::string bytes(text.size() * 4 + 1, '\0');
    bytes.resize(::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                       nullptr));
    return bytes;
}

std::wstring Wide(const std::string& bytes) {
    std::wstring text(bytes.size() + 1, L'\0');
    text.resize(::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                      text.data(), static_cast<int>(text.size())));
    return text;
}

bool FileExists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteFileText(const std::wstring& path, const std::string& bytes) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok && written == bytes.size();
}

std::string ReadFileText(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    ::CloseHandle(file);
    return bytes;
}

// The lines of a UTF-8 text file; none when it does not exist.
std::vector<std::wstring> ReadLines(const std::wstring& path) {
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

std::pair<std::wstring, std::wstring> SplitAtTab(const std::wstring& line) {
    const size_t tab = line.find(L'\t');
    if (tab == std::wstring::npos) return {line, L""};
    return {line.substr(0, tab), line.substr(tab + 1)};
}

std::wstring OwnFolder() {
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring TempFolder() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    std::wstring path(buffer, length);
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

void RemoveFolder(const std::wstring& path) {
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

const wchar_t* KindName(Kind kind) {
    switch (kind) {
    case Kind::Prerequisites: return L"prerequisites dialog";
    case Kind::Progress: return L"progress dialog";
    case Kind::Reboot: return L"restart dialog";
    case Kind::MessageBox: return L"message box";
    default: return L"other window";
    }
}

// A dialog can be visible a moment before its initialisation has filled it.
bool FilledIn(HWND dialog, Kind kind) {
    switch (kind) {
    case Kind::Prerequisites: return !driver::ListItems(dialog, 1000).empty();
    case Kind::Reboot: return !driver::ControlText(dialog, 65535).empty();
    case Kind::MessageBox: return !driver::Text(dialog).empty() && !driver::StaticTexts(dialog).empty();
    default: return !driver::Text(dialog).empty();
    }
}

using Environment = std::vector<std::pair<std::wstring, std::wstring>>;

// The environment of this process without any test switch, plus `extra`.
std::vector<wchar_t> EnvironmentBlock(const Environment& extra) {
    std::vector<wchar_t> block;
    wchar_t* strings = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; entry != nullptr && *entry != L'\0';
         entry += wcslen(entry) + 1) {
        if (_wcsnicmp(entry, L"NORVALIS_TEST_", 14) == 0) continue;
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
        if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                              CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, block.data(),
                              currentDirectory.c_str(), &startup, &info)) {
            return L"CreateProcess failed: " + std::to_wstring(::GetLastError());
        }
        m_process = info.hProcess;
        m_processId = info.dwProcessId;
        const bool joined = ::AssignProcessToJobObject(m_job, m_process);
        ::ResumeThread(info.hThread);
        ::CloseHandle(info.hThread);
        if (!joined) return L"AssignProcessToJobObject failed: " + std::to_wstring(::GetLastError());
        return {};
    }

    // Records every dialog of the program that is visible now.
    void Poll() {
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
    std::deque<Sighting> m_sightings;
};

// ---------------------------------------------------------------------------
// A staged distribution with the registry of a clean machine.

enum class Program {
    Shipped,   // Setup.exe as it ships
    TestBuild  // SetupTest.exe copied as Setup.exe: the same program with the test seam
};

// How the user answers a dialog.
enum class Answer { Button, EnterKey, EscapeKey, CloseRequest };

void Give(Answer answer, HWND dialog, int button) {
    switch (answer) {
    case Answer::Button: driver::Click(dialog, button); break;
    case Answer::EnterKey: driver::PressKey(dialog, VK_RETURN); break;
    case Answer::EscapeKey: driver::PressKey(dialog, VK_ESCAPE); break;
    case Answer::CloseRequest: driver::Close(dialog); break;
    }
}

std::wstring TestName() {
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
        m_sandbox = std::make_unique<RegistrySandbox>(std::vector<std::pair<HKEY, std::wstring>>{
            {HKEY_CURRENT_USER, kUninstall + L"\\" + kVcCode},
            {HKEY_CURRENT_USER, kUninstall + L"\\" + kVcOtherCode},
            {HKEY_LOCAL_MACHINE, kUninstall + L"\\" + kVcCode},
            {HKEY_LOCAL_MACHINE, kUninstall + L"\\" + kVcOtherCode},
            {HKEY_LOCAL_MACHINE, kWowUninstall + L"\\" + kVcCode},
            {HKEY_LOCAL_MACHINE, kWowUninstall + L"\\" + kVcOtherCode},
            {HKEY_LOCAL_MACHINE, kNetKey},
            {HKEY_LOCAL_MACHINE, kServerKey},
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
    void Arrange(bool vcInstalled, bool netInstalled) {
        if (vcInstalled) CreateTestKey(HKEY_LOCAL_MACHINE, kUninstall + L"\\" + kVcCode);
        if (netInstalled) {
            const DWORD release = kNet462Release;
            SetTestValue(HKEY_LOCAL_MACHINE, kNetKey, L"Release", REG_DWORD, &release, 4);
        }
    }

    // Starts the staged Setup.exe and returns its run; null (with a failure)
    // when it could not be started.
    WatchedRun* StartSetup(Program program, const Environment& environment = {},
                           const std::wstring& currentDirectory = {}) {
        if (!Copy(program == Program::Shipped ? L"Setup.exe" : L"SetupTest.exe", SetupPath())) {
            ADD_FAILURE() << "cannot stage the program";
            return nullptr;
        }
        return StartProgram(SetupPath(), L"\"" + SetupPath() + L"\"",
                            currentDirectory.empty() ? m_dist : currentDirectory, environment);
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
        return more;
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
    std::unique_ptr<RegistrySandbox> m_sandbox;
    std::vector<std::unique_ptr<WatchedRun>> m_runs;
};

const std::vector<std::wstring> kNothingStarted{};
const std::wstring kVcFile = L"vcredist_x86.exe";
const std::wstring kNetFile = L"dotnet.exe";
const std::wstring kLauncher = kLauncherFile;

std::string RowName(const char* name) { return name; }

// A table row prints as its name.
template <typename Row>
    requires requires(const Row& row) { row.name; }
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

// ===========================================================================
// Waits for the run's message box and checks that it carries the application
// title and exactly `text`. Null (and a failure) when no box appears.
Sighting* AwaitMessage(WatchedRun& run, const std::wstring& text) {
    Sighting* message = run.Await(Kind::MessageBox);
    EXPECT_NE(nullptr, message) << run.Describe();
    if (message == nullptr) return nullptr;
    EXPECT_EQ(UiTexts().title, message->caption);
    EXPECT_EQ(std::vector<std::wstring>{text}, message->statics);
    return message;
}

// Scenarios: one for each way a run ends.

class Scenario : public StagedDistribution {};

TEST_F(Scenario, NotAnAdministratorSeesMessage132AndNothingElse) {
    WatchedRun* run = StartSetup(Program::TestBuild, RecordingRestarts({{L"NORVALIS_TEST_NOT_ADMIN", L"1"}}));
    ASSERT_NE(nullptr, run);
    Sighting* message = AwaitMessage(*run, UiTexts().adminRequired);
    ASSERT_NE(nullptr, message);
    driver::Click(message->hwnd, IDOK);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();

    EXPECT_EQ(std::vector<Kind>{Kind::MessageBox}, run->Kinds()) << run->Describe();
    EXPECT_EQ(std::nullopt, RunOnceValue());
    EXPECT_EQ(std::nullopt, ServerMarker());
    EXPECT_EQ(kNothingStarted, Started());
    EXPECT_EQ(1u, run->ProcessesStarted());
    EXPECT_TRUE(RestartRequests().empty());
}

// Both components are present, found in one of the places a machine keeps them.
struct NothingMissingCase {
    const char* name;
    HKEY vcRoot;
    const std::wstring* vcList;
    const std::wstring* vcCode;
    DWORD release;
};

class NothingMissing : public StagedDistribution,
                       public ::testing::WithParamInterface<NothingMissingCase> {};

TEST_P(NothingMissing, HandsOverToTheLauncherWithoutAnyDialog) {
    const NothingMissingCase& row = GetParam();
    CreateTestKey(row.vcRoot, *row.vcList + L"\\" + *row.vcCode);
    SetTestValue(HKEY_LOCAL_MACHINE, kNetKey, L"Release", REG_DWORD, &row.release, 4);

    WatchedRun* run = StartSetup(Program::Shipped);
    ASSERT_NE(nullptr, run);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();

    EXPECT_TRUE(run->Sightings().empty()) << run->Describe();
    EXPECT_EQ(QuotedSetupPath(), RunOnceValue());
    EXPECT_EQ(std::nullopt, ServerMarker());
    EXPECT_EQ(std::vector<std::wstring>{kLauncher}, Started());
    EXPECT_EQ(std::vector<std::wstring>{m_dist}, Directories(kLauncherPath));
    EXPECT_EQ(2u, run->ProcessesStarted());
}

INSTANTIATE_TEST_SUITE_P(
    Scenario, NothingMissing,
    ::testing::Values(
        NothingMissingCase{"MachineUninstallEntry", HKEY_LOCAL_MACHINE, &kUninstall, &kVcCode, 394802},
        NothingMissingCase{"UserUninstallEntryOtherCode", HKEY_CURRENT_USER, &kUninstall, &kVcOtherCode,
                           528040},
        NothingMissingCase{"Wow6432NodeUninstallEntry", HKEY_LOCAL_MACHINE, &kWowUninstall, &kVcCode,
                           394802}),
    [](const auto& info) { return RowName(info.param.name); });

TEST_F(Scenario, LauncherMissingIsReportedWithMessage131Once) {
    Arrange(true, true);
    ASSERT_TRUE(::DeleteFileW(Path(kLauncherPath).c_str()));
    WatchedRun* run = StartSetup(Program::Shipped);
    ASSERT_NE(nullptr, run);
    Sighting* message = AwaitMessage(*run, UiTexts().launchFailed);
    ASSERT_NE(nullptr, message);
    driver::Click(message->hwnd, IDOK);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();

    EXPECT_EQ(std::vector<Kind>{Kind::MessageBox}, run->Kinds()) << run->Describe();
    EXPECT_EQ(QuotedSetupPath(), RunOnceValue());
    EXPECT_EQ(1u, run->ProcessesStarted());
}

// The list of missing components.
struct MissingListCase {
    const char* name;
    bool vcInstalled;
    bool netKey;
    DWORD release;
    std::vector<std::wstring> expected;
};

class MissingList : public StagedDistribution, public ::testing::WithParamInterface<MissingListCase> {};

TEST_P(MissingList, ShowsTheMissingComponentsInCatalogOrder) {
    const MissingListCase& row = GetParam();
    Arrange(row.vcInstalled, false);
    if (row.netKey) SetTestValue(HKEY_LOCAL_MACHINE, kNetKey, L"Release", REG_DWORD, &row.release, 4);

    WatchedRun* run = StartSetup(Program::Shipped);
    ASSERT_NE(nullptr, run);
    Sighting* dialog = run->Await(Kind::Prerequisites);
    ASSERT_NE(nullptr, dialog) << run->Describe();
    EXPECT_EQ(row.expected, dialog->items);
    driver::Click(dialog->hwnd, IDCANCEL);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
    EXPECT_EQ(std::vector<Kind>{Kind::Prerequisites}, run->Kinds()) << run->Describe();
    EXPECT_EQ(kNothingStarted, Started());
}

INSTANTIATE_TEST_SUITE_P(
    Scenario, MissingList,
    ::testing::Values(
        MissingListCase{"BothMissing", false, false, 0, {kVcName, kNetName}},
        MissingListCase{"OnlyNetFrameworkMissing", true, false, 0, {kNetName}},
        MissingListCase{"NetFrameworkReleaseTooOld", true, true, 394801, {kNetName}},
        MissingListCase{"OnlyVisualCppMissing", false, true, 394802, {kVcName}}),
    [](const auto& info) { return RowName(info.param.name); });

// The user does not continue.
struct CancelCase {
    const char* name;
    Answer answer;
};

class Cancelled : public StagedDistribution, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(Cancelled, EndsWithoutInstallingAndKeepsTheContinuationValue) {
    WatchedRun* run = StartSetup(Program::TestBuild, RecordingRestarts());
    ASSERT_NE(nullptr, run);
    Sighting* dialog = run->Await(Kind::Prerequisites);
    ASSERT_NE(nullptr, dialog) << run->Describe();
    EXPECT_EQ(QuotedSetupPath(), RunOnceValue()) << "written before the dialog";
    Give(GetParam().answer, dialog->hwnd, IDCANCEL);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();

    ExpectEndWithoutRestart(*run, {Kind::Prerequisites}, kNothingStarted);
}

INSTANTIATE_TEST_SUITE_P(Scenario, Cancelled,
                         ::testing::Values(CancelCase{"CancelButton", Answer::Button},
                                           CancelCase{"EscapeKey", Answer::EscapeKey},
                                           CancelCase{"CloseRequest", Answer::CloseRequest}),
                         [](const auto& info) { return RowName(info.param.name); });

TEST_F(Scenario, WorkerNotCreatedEndsAfterContinueWithoutMessage) {
    WatchedRun* run = StartSetup(Program::TestBuild, RecordingRestarts({{L"NORVALIS_TEST_NO_THREAD", L"1"}}));
    ASSERT_NE(nullptr, run);
    Sighting* dialog = run->Await(Kind::Prerequisites);
    ASSERT_NE(nullptr, dialog) << run->Describe();
    driver::Click(dialog->hwnd, IDOK);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();

    EXPECT_EQ(std::vector<Kind>{Kind::Prerequisites}, run->Kinds()) << run->Describe();
    EXPECT_EQ(QuotedSetupPath(), RunOnceValue());
    EXPECT_EQ(kNothingStarted, Started());
    EXPECT_EQ(1u, run->ProcessesStarted());
    EXPECT_TRUE(RestartRequests().empty());
}

// Every missing component installs.
struct CompletedCase {
    const char* name;
    bool vcInstalled;
    bool netInstalled;
    Answer continueBy;
    std::vector<std::wstring> started;         // stand-ins in order, launcher last
    std::vector<std::wstring> componentNames;  // as the progress dialog showed them
};

class Completed : public StagedDistribution, public ::testing::WithParamInterface<CompletedCase> {};

TEST_P(Completed, InstallsEachMissingComponentInOrderThenStartsTheLauncher) {
    const CompletedCase& row = GetParam();
    Arrange(row.vcInstalled, row.netInstalled);
    // Started from another folder: the installers are found by their full
    // path and inherit the program's current directory.
    WatchedRun* run = StartSetup(Program::TestBuild, RecordingRestarts(), m_elsewhere);
    ASSERT_NE(nullptr, run);
    Sighting* dialog = run->Await(Kind::Prerequisites);
    ASSERT_NE(nullptr, dialog) << run->Describe();
    Give(row.continueBy, dialog->hwnd, IDOK);
    Sighting* progress = run->Await(Kind::Progress);
    ASSERT_NE(nullptr, progress) << run->Describe();
    EXPECT_EQ(UiTexts().title, progress->caption);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();

    EXPECT_EQ((std::vector<Kind>{Kind::Prerequisites, Kind::Progress}), run->Kinds()) << run->Describe();
    EXPECT_EQ(row.componentNames, progress->componentNames);
    EXPECT_EQ(row.started, Started());
    for (Installer installer : {Installer::Vc, Installer::Net}) {
        const auto expected = std::find(row.started.begin(), row.started.end(),
                                        Facts(installer).fileName) != row.started.end()
                                  ? std::vector<std::wstring>{ExpectedCommandLine(installer)}
                                  : std::vector<std::wstring>{};
        EXPECT_EQ(expected, CommandLines(Facts(installer).fileName));
        if (!expected.empty()) {
            EXPECT_EQ(std::vector<std::wstring>{m_elsewhere}, Directories(Facts(installer).relativePath));
        }
    }
    EXPECT_EQ(std::vector<std::wstring>{m_elsewhere}, Directories(kLauncherPath));
    EXPECT_EQ(QuotedSetupPath(), RunOnceValue());
    EXPECT_EQ(std::nullopt, ServerMarker());
    EXPECT_EQ(1u + row.started.size(), run->ProcessesStarted());
    EXPECT_TRUE(RestartRequests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Scenario, Completed,
    ::testing::Values(
        CompletedCase{"BothMissingContinueButton", false, false, Answer::Button,
                      {kVcFile, kNetFile, kLauncher}, {kVcName, kNetName}},
        CompletedCase{"BothMissingEnterKey", false, false, Answer::EnterKey,
                      {kVcFile, kNetFile, kLauncher}, {kVcName, kNetName}},
        CompletedCase{"OnlyNetFrameworkMissing", true, false, Answer::Button, {kNetFile, kLauncher},
                      {kNetName}},
        CompletedCase{"OnlyVisualCppMissing", false, true, Answer::Button, {kVcFile, kLauncher},
                      {kVcName}}),
    [](const auto& info) { return RowName(info.param.name); });

// Keys and close requests do not end the progress dialog while installing.
class ProgressDialogWhileInstalling : public StagedDistribution,
                                      public ::testing::WithParamInterface<CancelCase> {};

TEST_P(ProgressDialogWhileInstalling, StaysOpenUntilTheInstallersHaveEnded) {
    Behave(Installer::Vc, kVcInstalls + "sleep=2500\n");
    WatchedRun* run = StartSetup(Program::TestBuild, RecordingRestarts());
    ASSERT_NE(nullptr, run);
    Sighting* dialog = run->Await(Kind::Prerequisites);
    ASSERT_NE(nullptr, dialog) << run->Describe();
    driver::Click(dialog->hwnd, IDOK);
    Sighting* progress = run->Await(Kind::Progress);
    ASSERT_NE(nullptr, progress) << run->Describe();
    // Wait until the first installer runs, then try to end the dialog.
    const ULONGLONG deadline = ::GetTickCount64() + kDialogTimeoutMs;
    while (Started().empty() && ::GetTickCount64() < deadline) ::Sleep(20);
    ASSERT_EQ(std::vector<std::wstring>{kVcFile}, Started());
    Give(GetParam().answer, progress->hwnd, IDCANCEL);
    ::Sleep(700);
    EXPECT_TRUE(::IsWindow(progress->hwnd) && ::IsWindowVisible(progress->hwnd));
    EXPECT_FALSE(run->Ended());
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();

    EXPECT_EQ((std::vector<Kind>{Kind::Prerequisites, Kind::Progress}), run->Kinds()) << run->Describe();
    EXPECT_EQ((std::vector<std::wstring>{kVcFile, kNetFile, kLauncher}), Started());
}

INSTANTIATE_TEST_SUITE_P(Scenario, ProgressDialogWhileInstalling,
                         ::testing::Values(CancelCase{"EscapeKey", Answer::EscapeKey},
                                           CancelCase{"EnterKey", Answer::EnterKey},
                                           CancelCase{"CloseRequest", Answer::CloseRequest}),
                         [](const auto& info) { return RowName(info.param.name); });

// An installer fails: one message names the component.
struct FailedCase {
    const char* name;
    bool vcInstalled;
    std::string vcBehaviour;
    std::string netBehaviour;
    bool vcIsFolder;                    // a folder stands where the installer should be
    std::vector<std::wstring> started;  // installers that ran, in order
    const std::wstring* failedName;
};

class Failed : public StagedDistribution, public ::testing::WithParamInterface<FailedCase> {};

TEST_P(Failed, ShowsOneMessageNamingTheComponentAndStartsNothingMore) {
    const FailedCase& row = GetParam();
    Arrange(row.vcInstalled, false);
    Behave(Installer::Vc, row.vcBehaviour);
    Behave(Installer::Net, row.netBehaviour);
    if (row.vcIsFolder) {
        ASSERT_TRUE(::DeleteFileW(InstallerPath(Installer::Vc).c_str()));
        ASSERT_TRUE(::CreateDirectoryW(InstallerPath(Installer::Vc).c_str(), nullptr));
    }
    WatchedRun* run = StartSetup(Program::TestBuild, RecordingRestarts());
    ASSERT_NE(nullptr, run);
    Sighting* dialog = run->Await(Kind::Prerequisites);
    ASSERT_NE(nullptr, dialog) << run->Describe();
    driver::Click(dialog->hwnd, IDOK);
    Sighting* message = AwaitMessage(*run, UiTexts().installFailed + L"   - " + *row.failedName);
    ASSERT_NE(nullptr, message);
    EXPECT_EQ(row.started, Started()) << "before the message is answered";
    driver::Click(message->hwnd, IDOK);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();

    ExpectEndWithoutRestart(*run, {Kind::Prerequisites, Kind::Progress, Kind::MessageBox}, row.started);
}

INSTANTIATE_TEST_SUITE_P(
    Scenario, Failed,
    ::testing::Values(
        FailedCase{"FirstInstallerExits1", false, "exit=1\n", kNetInstalls, false, {kVcFile}, &kVcName},
        FailedCase{"OnlyNetFrameworkMissingExits1", true, kVcInstalls, "exit=1\n", false, {kNetFile},
                   &kNetName},
        FailedCase{"SecondInstallerExits5", false, kVcInstalls, "exit=5\n", false, {kVcFile, kNetFile},
                   &kNetName},
        FailedCase{"ExitCodeFFFFFFFE", false, "exit=0xFFFFFFFE\n", kNetInstalls, false, {kVcFile},
                   &kVcName},
        FailedCase{"ExitCodeFFFFFFFF", false, "exit=0xFFFFFFFF\n", kNetInstalls, false, {kVcFile},
                   &kVcName},
        // A real access violation in the installer.
        FailedCase{"CrashingInstaller", false, "crash=1\n", kNetInstalls, false, {kVcFile}, &kVcName},
        FailedCase{"FolderInPlaceOfInstaller", false, "", kNetInstalls, true, {}, &kVcName}),
    [](const auto& info) { return RowName(info.param.name); });

// An installer file is missing: message 133 from the installation, then the end.
struct AbortedCase {
    const char* name;
    bool vcInstalled;
    Installer removed;
    std::vector<std::wstring> started;  // installers that ran, in order
};

class Aborted : public StagedDistribution, public ::testing::WithParamInterface<AbortedCase> {};

TEST_P(Aborted, ShowsMessage133OnlyAndStartsNothingMore) {
    const AbortedCase& row = GetParam();
    Arrange(row.vcInstalled, false);
    ASSERT_TRUE(::DeleteFileW(InstallerPath(row.removed).c_str()));
    WatchedRun* run = StartSetup(Program::TestBuild, RecordingRestarts());
    ASSERT_NE(nullptr, run);
    Sighting* dialog = run->Await(Kind::Prerequisites);
    ASSERT_NE(nullptr, dialog) << run->Describe();
    driver::Click(dialog->hwnd, IDOK);
    Sighting* message = AwaitMessage(*run, UiTexts().packagesMissing);
    ASSERT_NE(nullptr, message);
    // The installation shows it while the progress dialog is still up.
    EXPECT_TRUE(run->Sightings().size() >= 2 && run->Sightings()[1].kind == Kind::Progress &&
                ::IsWindowVisible(run->Sightings()[1].hwnd))
        << run->Describe();
    driver::Click(message->hwnd, IDOK);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();

    ExpectEndWithoutRestart(*run, {Kind::Prerequisites, Kind::Progress, Kind::MessageBox}, row.started);
}

INSTANTIATE_TEST_SUITE_P(
    Scenario, Aborted,
    ::testing::Values(AbortedCase{"FirstInstallerFileMissing", false, Installer::Vc, {}},
                      AbortedCase{"SecondInstallerFileMissing", false, Installer::Net, {kVcFile}},
                      AbortedCase{"OnlyNetFrameworkMissingFileMissing", true, Installer::Net, {}}),
    [](const auto& info) { return RowName(info.param.name); });

// An installer asks for a restart.
struct RestartCase {
    const char* name;
    std::string vcBehaviour;
    std::string netBehaviour;
    bool refuseWrites;
    Answer closeBy;
    std::vector<std::wstring> started;  // installers that ran, in order
};

class RestartRequired : public StagedDistribution, public ::testing::WithParamInterface<RestartCase> {};

TEST_P(RestartRequired, MarksTheServerRegistersAgainAndRestartsAfterTheDialog) {
    const RestartCase& row = GetParam();
    Behave(Installer::Vc, row.vcBehaviour);
    Behave(Installer::Net, row.netBehaviour);
    Environment environment = RecordingRestarts();
    if (row.refuseWrites) environment.emplace_back(L"NORVALIS_TEST_REFUSE_WRITES", L"1");
    WatchedRun* run = StartSetup(Program::TestBuild, environment);
    ASSERT_NE(nullptr, run);
    Sighting* dialog = run->Await(Kind::Prerequisites);
    ASSERT_NE(nullptr, dialog) << run->Describe();
    if (row.refuseWrites) {
        EXPECT_EQ(std::nullopt, RunOnceValue());
    } else {
        // Removed after the first write, so its presence later shows the second.
        EXPECT_EQ(QuotedSetupPath(), RunOnceValue());
        ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunOnceKey.c_str(), kRunOnceValue);
    }
    driver::Click(dialog->hwnd, IDOK);
    Sighting* reboot = run->Await(Kind::Reboot);
    ASSERT_NE(nullptr, reboot) << run->Describe();
    const Texts& texts = UiTexts();
    EXPECT_EQ(texts.title, reboot->caption);
    EXPECT_EQ(row.refuseWrites ? texts.restartRequired : texts.serverContinues,
              driver::ControlText(reboot->hwnd, 65535));
    EXPECT_EQ(texts.restartButton, reboot->cancelText);
    EXPECT_EQ(nullptr, ::GetDlgItem(reboot->hwnd, IDOK));
    if (row.refuseWrites) {
        EXPECT_EQ(std::nullopt, RunOnceValue());
        EXPECT_EQ(std::nullopt, ServerMarker());
    } else {
        EXPECT_EQ(QuotedSetupPath(), RunOnceValue());
        EXPECT_EQ(SetupPath(), ServerMarker());
    }
    EXPECT_EQ(row.started, Started());
    // Nothing is requested while the dialog is open.
    ::Sleep(300);
    EXPECT_TRUE(RestartRequests().empty());
    EXPECT_FALSE(run->Ended());

    Give(row.closeBy, reboot->hwnd, IDCANCEL);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
    EXPECT_EQ(std::vector<std::wstring>{L"0x2 0x80040002"}, RestartRequests());
    EXPECT_EQ((std::vector<Kind>{Kind::Prerequisites, Kind::Progress, Kind::Reboot}), run->Kinds())
        << run->Describe();
    EXPECT_EQ(row.started, Started()) << "no launcher, no further installer";
    EXPECT_EQ(1u + row.started.size(), run->ProcessesStarted());
}

const std::string kNetAsksForRestart = kNetInstalls + "exit=3010\n";

INSTANTIATE_TEST_SUITE_P(
    Scenario, RestartRequired,
    ::testing::Values(
        RestartCase{"RestartButton", kVcInstalls, kNetAsksForRestart, false, Answer::Button,
                    {kVcFile, kNetFile}},
        RestartCase{"EscapeKey", kVcInstalls, kNetAsksForRestart, false, Answer::EscapeKey,
                    {kVcFile, kNetFile}},
        RestartCase{"EnterKey", kVcInstalls, kNetAsksForRestart, false, Answer::EnterKey,
                    {kVcFile, kNetFile}},
        RestartCase{"CloseRequest", kVcInstalls, kNetAsksForRestart, false, Answer::CloseRequest,
                    {kVcFile, kNetFile}},
        RestartCase{"FirstInstallerExits1641", kVcInstalls + "exit=1641\n", kNetInstalls, false,
                    Answer::Button, {kVcFile}},
        RestartCase{"ContinuationNotWrittenShowsMessage136", kVcInstalls, kNetAsksForRestart, true,
                    Answer::Button, {kVcFile, kNetFile}}),
    [](const auto& info) { return RowName(info.param.name); });

TEST_F(Scenario, RunAfterRestartFindsEverythingInstalledAndStartsTheLauncher) {
    Behave(Installer::Net, kNetAsksForRestart);
    WatchedRun* first = StartSetup(Program::TestBuild, RecordingRestarts());
    ASSERT_NE(nullptr, first);
    Sighting* dialog = first->Await(Kind::Prerequisites);
    ASSERT_NE(nullptr, dialog) << first->Describe();
    driver::Click(dialog->hwnd, IDOK);
    Sighting* reboot = first->Await(Kind::Reboot);
    ASSERT_NE(nullptr, reboot) << first->Describe();
    driver::Click(reboot->hwnd, IDCANCEL);
    ASSERT_TRUE(first->AwaitEnd()) << first->Describe();
    ASSERT_EQ(std::vector<std::wstring>{L"0x2 0x80040002"}, RestartRequests());

    // The next logon: Windows removes the value and runs what it holds, from
    // its own current directory.
    const std::optional<std::wstring> stored = RunOnceValue();
    ASSERT_TRUE(stored.has_value());
    ASSERT_TRUE(stored->size() > 2 && stored->front() == L'"' && stored->back() == L'"') << *stored;
    const std::wstring program = stored->substr(1, stored->size() - 2);
    ASSERT_EQ(std::wstring::npos, program.find(L'"')) << *stored;
    ASSERT_EQ(SetupPath(), program);
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunOnceKey.c_str(), kRunOnceValue);

    WatchedRun* next = StartProgram(program, *stored, m_elsewhere, RecordingRestarts());
    ASSERT_NE(nullptr, next);
    ASSERT_TRUE(next->AwaitEnd()) << next->Describe();
    EXPECT_TRUE(next->Sightings().empty()) << next->Describe();
    EXPECT_EQ((std::vector<std::wstring>{kVcFile, kNetFile, kLauncher}), Started());
    EXPECT_EQ(std::vector<std::wstring>{m_elsewhere}, Directories(kLauncherPath));
    EXPECT_EQ(QuotedSetupPath(), RunOnceValue()) << "a fresh continuation value";
    EXPECT_EQ(2u, next->ProcessesStarted());
    EXPECT_EQ(std::vector<std::wstring>{L"0x2 0x80040002"}, RestartRequests()) << "no second restart";
}

// ===========================================================================
// Languages: run in English, German and Russian. Each test expects the texts
// of the user interface language, and the display names unchanged.

class Languages : public StagedDistribution {
protected:
    void SetUp() override {
        StagedDistribution::SetUp();
        if (HasFatalFailure()) return;
        const LANGID language = ::GetUserDefaultUILanguage();
        ASSERT_TRUE(language == 0x0409 || language == 0x0407 || language == 0x0419)
            << "user interface language 0x" << std::hex << language;
        // The locale asked for must be the one in effect, or a German or
        // Russian run would quietly check English.
        const std::wstring locale = LocaleAskedFor();
        LANGID asked = language;
        if (locale.rfind(L"de", 0) == 0) asked = 0x0407;
        if (locale.rfind(L"ru", 0) == 0) asked = 0x0419;
        if (locale.rfind(L"en", 0) == 0) asked = 0x0409;
        ASSERT_EQ(asked, language) << "locale " << locale;
    }

    // The messages shown by id, each with the title as caption.
    enum class Cause { NotAdministrator, LauncherMissing, InstallerFileMissing };

    void ExpectMessage(Cause cause, const std::wstring& expected) {
        Environment environment = RecordingRestarts();
        if (cause == Cause::NotAdministrator) environment.emplace_back(L"NORVALIS_TEST_NOT_ADMIN", L"1");
        if (cause == Cause::LauncherMissing) {
            Arrange(true, true);
            ASSERT_TRUE(::DeleteFileW(Path(kLauncherPath).c_str()));
        }
        if (cause == Cause::InstallerFileMissing) {
            ASSERT_TRUE(::DeleteFileW(InstallerPath(Installer::Vc).c_str()));
        }
        WatchedRun* run = StartSetup(Program::TestBuild, environment);
        ASSERT_NE(nullptr, run);
        if (cause == Cause::InstallerFileMissing) {
            Sighting* dialog = run->Await(Kind::Prerequisites);
            ASSERT_NE(nullptr, dialog) << run->Describe();
            driver::Click(dialog->hwnd, IDOK);
        }
        Sighting* message = AwaitMessage(*run, expected);
        ASSERT_NE(nullptr, message);
        driver::Click(message->hwnd, IDOK);
        ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
    }

    static std::wstring LocaleAskedFor() {
        for (const wchar_t* name : {L"LC_ALL", L"LC_MESSAGES", L"LANG"}) {
            wchar_t value[256];
            const DWORD length = ::GetEnvironmentVariableW(name, value, 256);
            if (length > 0 && length < 256) return std::wstring(value, length);
        }
        return {};
    }
};

TEST_F(Languages, PrerequisitesDialogSpeaksTheUserInterfaceLanguage) {
    const Texts& texts = UiTexts();
    WatchedRun* run = StartSetup(Program::Shipped);
    ASSERT_NE(nullptr, run);
    Sighting* dialog = run->Await(Kind::Prerequisites);
    ASSERT_NE(nullptr, dialog) << run->Describe();
    EXPECT_EQ(texts.title, dialog->caption);
    EXPECT_EQ(texts.explanation, dialog->statics);
    EXPECT_EQ(texts.continueButton, dialog->okText);
    EXPECT_EQ(texts.cancelButton, dialog->cancelText);
    EXPECT_EQ((std::vector<std::wstring>{kVcName, kNetName}), dialog->items);
    driver::Click(dialog->hwnd, IDCANCEL);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
}

TEST_F(Languages, ProgressAndFailureMessageSpeakTheUserInterfaceLanguage) {
    const Texts& texts = UiTexts();
    Arrange(true, false);
    Behave(Installer::Net, "exit=1\n");
    WatchedRun* run = StartSetup(Program::TestBuild, RecordingRestarts());
    ASSERT_NE(nullptr, run);
    Sighting* dialog = run->Await(Kind::Prerequisites);
    ASSERT_NE(nullptr, dialog) << run->Describe();
    driver::Click(dialog->hwnd, IDOK);
    Sighting* progress = run->Await(Kind::Progress);
    ASSERT_NE(nullptr, progress) << run->Describe();
    EXPECT_EQ(texts.title, progress->caption);
    ASSERT_FALSE(progress->statics.empty());
    EXPECT_EQ(texts.installingHeading, progress->statics.front());
    Sighting* message = run->Await(Kind::MessageBox);
    ASSERT_NE(nullptr, message) << run->Describe();
    EXPECT_EQ(std::vector<std::wstring>{kNetName}, progress->componentNames);
    EXPECT_EQ(texts.title, message->caption);
    EXPECT_EQ(std::vector<std::wstring>{texts.installFailed + L"   - " + kNetName}, message->statics);
    driver::Click(message->hwnd, IDOK);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
    EXPECT_EQ((std::vector<Kind>{Kind::Prerequisites, Kind::Progress, Kind::MessageBox}), run->Kinds());
}

TEST_F(Languages, RestartDialogSpeaksTheUserInterfaceLanguage) {
    const Texts& texts = UiTexts();
    Arrange(true, false);
    Behave(Installer::Net, kNetAsksForRestart);
    WatchedRun* run = StartSetup(Program::TestBuild, RecordingRestarts());
    ASSERT_NE(nullptr, run);
    Sighting* dialog = run->Await(Kind::Prerequisites);
    ASSERT_NE(nullptr, dialog) << run->Describe();
    driver::Click(dialog->hwnd, IDOK);
    Sighting* reboot = run->Await(Kind::Reboot);
    ASSERT_NE(nullptr, reboot) << run->Describe();
    EXPECT_EQ(texts.title, reboot->caption);
    EXPECT_EQ(std::vector<std::wstring>{texts.serverContinues}, reboot->statics);
    EXPECT_EQ(texts.restartButton, reboot->cancelText);
    driver::Click(reboot->hwnd, IDCANCEL);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
    EXPECT_EQ(std::vector<std::wstring>{L"0x2 0x80040002"}, RestartRequests());
}

TEST_F(Languages, RestartDialogWithoutContinuationSpeaksTheUserInterfaceLanguage) {
    const Texts& texts = UiTexts();
    Arrange(true, false);
    Behave(Installer::Net, kNetAsksForRestart);
    WatchedRun* run = StartSetup(Program::TestBuild,
                          RecordingRestarts({{L"NORVALIS_TEST_REFUSE_WRITES", L"1"}}));
    ASSERT_NE(nullptr, run);
    Sighting* dialog = run->Await(Kind::Prerequisites);
    ASSERT_NE(nullptr, dialog) << run->Describe();
    driver::Click(dialog->hwnd, IDOK);
    Sighting* reboot = run->Await(Kind::Reboot);
    ASSERT_NE(nullptr, reboot) << run->Describe();
    EXPECT_EQ(std::vector<std::wstring>{texts.restartRequired}, reboot->statics);
    EXPECT_EQ(1, std::count(texts.restartRequired.begin(), texts.restartRequired.end(), L'\n'));
    driver::PressKey(reboot->hwnd, VK_ESCAPE);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
    EXPECT_EQ(std::vector<std::wstring>{L"0x2 0x80040002"}, RestartRequests());
}

TEST_F(Languages, AdministratorMessageSpeaksTheUserInterfaceLanguage) {
    ExpectMessage(Cause::NotAdministrator, UiTexts().adminRequired);
}

TEST_F(Languages, LauncherMessageSpeaksTheUserInterfaceLanguage) {
    ExpectMessage(Cause::LauncherMissing, UiTexts().launchFailed);
}

TEST_F(Languages, PackagesMissingMessageSpeaksTheUserInterfaceLanguage) {
    ExpectMessage(Cause::InstallerFileMissing, UiTexts().packagesMissing);
}

// Wine starts its desktop process with the first window of a session. Started
// here, it is not counted among the processes of the first run.
class DesktopFirst : public ::testing::Environment {
public:
    void SetUp() override {
        HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(::GetDesktopWindow() != nullptr);
        if (window != nullptr) ::DestroyWindow(window);
    }
};

const auto* const desktopFirst = ::testing::AddGlobalTestEnvironment(new DesktopFirst);

}  // namespace
