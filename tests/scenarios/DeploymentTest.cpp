// What the people who deploy and support the product rely on: the exit code
// of every way a run ends, read whole on the Windows side; unattended runs;
// the log of every run; one run at a time.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DialogDriver.h"
#include "RegistrySandbox.h"
#include "ScenarioHarness.h"

namespace {

using namespace scenario;

// A table row prints as its name.
template <typename Row>
    requires requires(const Row& row) { row.name; }
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

constexpr DWORD kSuccess = 0;
constexpr DWORD kFileNotFound = 2;
constexpr DWORD kInvalidParameter = 87;
constexpr DWORD kElevationRequired = 740;
constexpr DWORD kUserExit = 1602;
constexpr DWORD kFatalError = 1603;
constexpr DWORD kAnotherInstall = 1618;
constexpr DWORD kRestartInitiated = 1641;
constexpr DWORD kRestartRequired = 3010;

const std::wstring kVcFile = L"vcredist_x86.exe";
const std::wstring kNetFile = L"dotnet.exe";
const std::wstring kLauncher = L"Launcher.exe";
const std::string kNetAsksForRestart = kNetInstalls + "exit=3010\n";

// What the distribution lacks, or holds in the wrong form.
enum class Spoiled { Nothing, VcInstallerMissing, VcInstallerIsNoProgram, PackagesMissing, LauncherMissing };

// One answer of the user: await a window of this kind and press this button
// (0: press nothing, the window goes by itself).
struct Reply {
    Kind kind;
    int button;
};

struct Arrangement {
    bool vcInstalled = false;
    bool netInstalled = false;
    std::string vcBehaviour = kVcInstalls;
    std::string netBehaviour = kNetInstalls;
    Spoiled spoiled = Spoiled::Nothing;
    Environment environment = {};  // test switches of the program's test build
    std::wstring arguments = {};
};

class Deployment : public StagedDistribution {
protected:
    std::wstring LogPath() const { return Path(L"setup log.txt"); }

    // Stages the distribution as arranged and starts the program's test build,
    // its restart requests recorded instead of made.
    WatchedRun* Start(const Arrangement& arrangement) {
        Arrange(arrangement.vcInstalled, arrangement.netInstalled);
        Behave(Installer::Vc, arrangement.vcBehaviour);
        Behave(Installer::Net, arrangement.netBehaviour);
        switch (arrangement.spoiled) {
        case Spoiled::Nothing: break;
        case Spoiled::VcInstallerMissing:
            EXPECT_TRUE(::DeleteFileW(InstallerPath(Installer::Vc).c_str()));
            break;
        case Spoiled::VcInstallerIsNoProgram:
            // Signed like the installers, so it passes their check, but a library.
            EXPECT_TRUE(Copy(L"StandInInstallerNotAProgram.exe", InstallerPath(Installer::Vc)));
            break;
        case Spoiled::PackagesMissing:
            RemoveFolder(Path(L"Packages"));
            break;
        case Spoiled::LauncherMissing:
            EXPECT_TRUE(::DeleteFileW(Path(L"Packages\\Launcher.exe").c_str()));
            break;
        }
        return StartSetup(Program::TestBuild, RecordingRestarts(arrangement.environment), {},
                          arrangement.arguments);
    }

    std::vector<std::wstring> LogLines() const { return ReadLines(LogPath()); }

    // The lines of the log that contain `text`.
    std::vector<std::wstring> LogLinesWith(const std::wstring& text) const {
        std::vector<std::wstring> found;
        for (const std::wstring& line : LogLines()) {
            if (line.find(text) != std::wstring::npos) found.push_back(line);
        }
        return found;
    }
};

// ===========================================================================
// Every end of an interactive run, and its exit code.

struct ExitRow {
    const char* name;
    Arrangement arrangement;
    std::vector<Reply> replies;
    DWORD exitCode;
};

class ExitCodes : public Deployment, public ::testing::WithParamInterface<ExitRow> {};

TEST_P(ExitCodes, TellHowTheRunEnded) {
    const ExitRow& row = GetParam();
    WatchedRun* run = Start(row.arrangement);
    ASSERT_NE(nullptr, run);
    std::vector<Kind> kinds;
    for (const Reply& reply : row.replies) {
        Sighting* window = run->Await(reply.kind);
        ASSERT_NE(nullptr, window) << "no " << testing::PrintToString(KindName(reply.kind)) << "\n"
                                   << testing::PrintToString(run->Describe());
        kinds.push_back(reply.kind);
        if (reply.button != 0) driver::Click(window->hwnd, reply.button);
    }
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
    EXPECT_EQ(kinds, run->Kinds()) << run->Describe();
    EXPECT_EQ(row.exitCode, run->ExitCode());
}

const Arrangement kBothInstalled{.vcInstalled = true, .netInstalled = true};

INSTANTIATE_TEST_SUITE_P(
    Deployment, ExitCodes,
    ::testing::Values(
        ExitRow{"NothingMissingLauncherStarted", kBothInstalled, {}, kSuccess},
        ExitRow{"BothInstalledThenLauncherStarted", {},
                {{Kind::Prerequisites, IDOK}, {Kind::Progress, 0}}, kSuccess},
        ExitRow{"NotAnAdministrator", {.environment = {{L"NORVALIS_TEST_NOT_ADMIN", L"1"}}},
                {{Kind::MessageBox, IDOK}}, kElevationRequired},
        ExitRow{"PrerequisitesCancelled", {}, {{Kind::Prerequisites, IDCANCEL}}, kUserExit},
        ExitRow{"InstallerFails", {.vcBehaviour = "exit=1\n"},
                {{Kind::Prerequisites, IDOK}, {Kind::Progress, 0}, {Kind::MessageBox, IDOK}}, kFatalError},
        ExitRow{"InstallerCrashes", {.vcBehaviour = "crash=1\n"},
                {{Kind::Prerequisites, IDOK}, {Kind::Progress, 0}, {Kind::MessageBox, IDOK}}, kFatalError},
        ExitRow{"InstallerCannotStart", {.spoiled = Spoiled::VcInstallerIsNoProgram},
                {{Kind::Prerequisites, IDOK}, {Kind::Progress, 0}, {Kind::MessageBox, IDOK}}, kFatalError},
        ExitRow{"WorkerNotCreated", {.environment = {{L"NORVALIS_TEST_NO_THREAD", L"1"}}},
                {{Kind::Prerequisites, IDOK}}, kFatalError},
        ExitRow{"InstallerFileMissing", {.spoiled = Spoiled::VcInstallerMissing},
                {{Kind::Prerequisites, IDOK}, {Kind::Progress, 0}, {Kind::MessageBox, IDOK}}, kFileNotFound},
        ExitRow{"PackagesFolderMissing", {.spoiled = Spoiled::PackagesMissing},
                {{Kind::Prerequisites, IDOK}, {Kind::Progress, 0}, {Kind::MessageBox, IDOK}}, kFileNotFound},
        ExitRow{"LauncherCannotStart",
                {.vcInstalled = true, .netInstalled = true, .spoiled = Spoiled::LauncherMissing},
                {{Kind::MessageBox, IDOK}}, kFatalError},
        ExitRow{"RestartRequested", {.netBehaviour = kNetAsksForRestart},
                {{Kind::Prerequisites, IDOK}, {Kind::Progress, 0}, {Kind::Reboot, IDCANCEL}},
                kRestartInitiated},
        ExitRow{"RestartRefused",
                {.netBehaviour = kNetAsksForRestart,
                 .environment = {{L"NORVALIS_TEST_REFUSE_RESTART", L"1"}}},
                {{Kind::Prerequisites, IDOK}, {Kind::Progress, 0}, {Kind::Reboot, IDCANCEL}},
                kRestartRequired},
        ExitRow{"UnknownSwitch", {.arguments = L"/bogus"}, {{Kind::MessageBox, IDOK}}, kInvalidParameter},
        ExitRow{"LogSwitchWithoutPath", {.arguments = L"/log"}, {{Kind::MessageBox, IDOK}}, kInvalidParameter},
        ExitRow{"UsageAsked", {.arguments = L"/?"}, {{Kind::MessageBox, IDOK}}, kSuccess}),
    [](const auto& info) { return std::string(info.param.name); });

// The usage message, for /? and for a command line it does not understand;
// nothing else happens on such a run.
TEST_F(Deployment, UsageMessageNamesTheSwitchesAndNothingElseHappens) {
    // Asked for, the usage informs; after a mistake, it is an error.
    const std::pair<const wchar_t*, const char*> cases[] = {
        {L"/?", "information"}, {L"-nonsense /?", "error"}, {L"/log", "error"}, {L"\"\"", "error"}};
    for (const auto& [arguments, icon] : cases) {
        WatchedRun* run = StartSetup(Program::TestBuild, RecordingRestarts(), {}, arguments);
        ASSERT_NE(nullptr, run);
        Sighting* message = AwaitMessage(*run, UiTexts().usage, icon);
        ASSERT_NE(nullptr, message) << testing::PrintToString(arguments);
        driver::Click(message->hwnd, IDOK);
        ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
        EXPECT_EQ(std::vector<Kind>{Kind::MessageBox}, run->Kinds()) << run->Describe();
        EXPECT_EQ(std::nullopt, RunOnceValue());
        EXPECT_TRUE(Started().empty());
    }
}

// ===========================================================================
// Unattended runs: no window at any time, no restart, no continuation entry,
// no server marker, no launcher; the exit code tells.

struct QuietRow {
    const char* name;
    Arrangement arrangement;
    std::vector<std::wstring> started;  // stand-ins that ran, in order
    DWORD exitCode;
};

class Quiet : public Deployment, public ::testing::WithParamInterface<QuietRow> {};

TEST_P(Quiet, RunsWithoutAnyWindowAndTellsByTheExitCode) {
    const QuietRow& row = GetParam();
    WatchedRun* run = Start(row.arrangement);
    ASSERT_NE(nullptr, run);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
    EXPECT_EQ(row.exitCode, run->ExitCode());
    EXPECT_FALSE(run->AnyWindowSeen()) << run->Describe();
    EXPECT_EQ(row.started, Started());
    EXPECT_EQ(std::nullopt, RunOnceValue());
    EXPECT_EQ(std::nullopt, ServerMarker());
    EXPECT_TRUE(RestartRequests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Deployment, Quiet,
    ::testing::Values(
        QuietRow{"NothingMissing", {.vcInstalled = true, .netInstalled = true, .arguments = L"/quiet"},
                 {}, kSuccess},
        QuietRow{"OneMissingAndInstalled", {.vcInstalled = true, .arguments = L"/quiet"}, {kNetFile}, kSuccess},
        QuietRow{"BothMissingAndInstalled", {.arguments = L"/quiet"}, {kVcFile, kNetFile}, kSuccess},
        QuietRow{"InstallerAsksForARestart", {.netBehaviour = kNetAsksForRestart, .arguments = L"/quiet"},
                 {kVcFile, kNetFile}, kRestartRequired},
        QuietRow{"InstallerFailsAndTheNextDoesNotRun", {.vcBehaviour = "exit=1\n", .arguments = L"/quiet"},
                 {kVcFile}, kFatalError},
        QuietRow{"InstallerFileMissing", {.spoiled = Spoiled::VcInstallerMissing, .arguments = L"/quiet"},
                 {}, kFileNotFound},
        QuietRow{"NotAnAdministrator",
                 {.environment = {{L"NORVALIS_TEST_NOT_ADMIN", L"1"}}, .arguments = L"/quiet"}, {},
                 kElevationRequired},
        QuietRow{"AnyCaseEitherPrefixTwice",
                 {.vcInstalled = true, .netInstalled = true, .arguments = L"-QUIET /Quiet"}, {}, kSuccess},
        QuietRow{"UnknownSwitch", {.arguments = L"/quiet /bogus"}, {}, kInvalidParameter},
        QuietRow{"LogPathMissingBeforeQuiet", {.arguments = L"/log -quiet"}, {}, kInvalidParameter},
        QuietRow{"UsageAsked", {.arguments = L"/quiet /?"}, {}, kSuccess}),
    [](const auto& info) { return std::string(info.param.name); });

// ===========================================================================
// The log.

std::wstring CodeText(DWORD code) {
    wchar_t text[40];
    swprintf(text, 40, L"%lu (0x%08lX)", static_cast<unsigned long>(code), static_cast<unsigned long>(code));
    return text;
}

TEST_F(Deployment, LogOfAFailedRunNamesTheInstallersCommandLineAndExitCode) {
    // An earlier run's lines stay: the log is appended to.
    ASSERT_TRUE(WriteFileText(LogPath(), "an earlier run\r\n"));
    Arrangement arrangement{.vcBehaviour = "exit=0x643\n", .arguments = L"/log \"" + LogPath() + L"\""};
    WatchedRun* run = Start(arrangement);
    ASSERT_NE(nullptr, run);
    ASSERT_TRUE(ContinueInPrerequisites(*run));
    Sighting* message = run->Await(Kind::MessageBox);
    ASSERT_NE(nullptr, message) << run->Describe();
    driver::Click(message->hwnd, IDOK);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
    EXPECT_EQ(kFatalError, run->ExitCode());

    const std::vector<std::wstring> lines = LogLines();
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(L"an earlier run\r", lines[0]);
    for (size_t i = 1; i < lines.size(); ++i) {
        // "2026-12-11 16:40:12.345Z text", each line ended by CR LF.
        const std::wstring& line = lines[i];
        ASSERT_GT(line.size(), 26u) << testing::PrintToString(line);
        EXPECT_EQ(L'Z', line[23]) << testing::PrintToString(line);
        EXPECT_EQ(L'\r', line.back()) << testing::PrintToString(line);
    }
    EXPECT_NE(std::wstring::npos, lines[1].find(L"Norvalis Setup 1.0.0.0 ("));
    EXPECT_EQ(1u, LogLinesWith(L"command line: " + QuotedSetupPath() + L" /log").size());
    EXPECT_EQ(1u, LogLinesWith(L"administrator: yes").size());
    // Every probe of the detection, with its key, view and answer.
    EXPECT_EQ(7u, LogLinesWith(L" probe ").size());
    EXPECT_EQ(1u, LogLinesWith(L"probe HKLM\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full (").size());
    EXPECT_EQ(7u, LogLinesWith(L"): not found, error 2 (0x00000002)").size());
    EXPECT_EQ(1u, LogLinesWith(L"Microsoft Visual C++ 2010 x86 Redistributable: missing").size());
    EXPECT_EQ(1u, LogLinesWith(L"prerequisites dialog: continue").size());
    EXPECT_EQ(1u, LogLinesWith(L"installer starts: " + ExpectedCommandLine(Installer::Vc)).size());
    EXPECT_EQ(1u, LogLinesWith(L" s with exit code " + CodeText(0x643)).size());
    EXPECT_TRUE(LogLinesWith(L"installer starts: " + ExpectedCommandLine(Installer::Net)).empty());
    EXPECT_EQ(1u, LogLinesWith(L"installation outcome: failed").size());
    EXPECT_NE(std::wstring::npos, lines.back().find(L" exit code " + CodeText(kFatalError)));
}

TEST_F(Deployment, LogOfARestartRunShowsTheMarkerAndContinuationWrites) {
    Arrangement arrangement{.vcInstalled = true, .netBehaviour = kNetAsksForRestart,
                            .arguments = L"/log \"" + LogPath() + L"\""};
    WatchedRun* run = Start(arrangement);
    ASSERT_NE(nullptr, run);
    ASSERT_TRUE(ContinueInPrerequisites(*run));
    Sighting* reboot = run->Await(Kind::Reboot);
    ASSERT_NE(nullptr, reboot) << run->Describe();
    driver::Click(reboot->hwnd, IDCANCEL);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
    EXPECT_EQ(kRestartInitiated, run->ExitCode());

    const std::wstring runOnce = L"RunOnce value HKCU\\" + kRunOnceKey + L"\\Norvalis setup = " +
                                 QuotedSetupPath() + L": written";
    EXPECT_EQ(2u, LogLinesWith(runOnce).size()) << "written at the start and again before the restart";
    EXPECT_EQ(1u, LogLinesWith(L"server marker HKLM\\" + kServerKey + L"\\InstallerPath (").size());
    EXPECT_EQ(1u, LogLinesWith(L"view) = " + SetupPath() + L": written").size());
    EXPECT_EQ(1u, LogLinesWith(L"installer ended after ").size());
    EXPECT_EQ(1u, LogLinesWith(L" s with exit code " + CodeText(3010)).size());
    EXPECT_EQ(1u, LogLinesWith(L"restart requested: accepted").size());
    EXPECT_EQ(1u, LogLinesWith(L"exit code " + CodeText(kRestartInitiated)).size());
}

// A run that is killed while an installer runs loses no line it wrote.
TEST_F(Deployment, LogOfAKilledRunKeepsEveryEarlierLine) {
    Arrangement arrangement{.vcBehaviour = "sleep=60000\n", .arguments = L"/log \"" + LogPath() + L"\""};
    WatchedRun* run = Start(arrangement);
    ASSERT_NE(nullptr, run);
    ASSERT_TRUE(ContinueInPrerequisites(*run));
    const ULONGLONG deadline = ::GetTickCount64() + kDialogTimeoutMs;
    while (Started().empty() && ::GetTickCount64() < deadline) ::Sleep(20);
    ASSERT_EQ(std::vector<std::wstring>{kVcFile}, Started());
    run->KillProgram();

    const std::vector<std::wstring> lines = LogLines();
    ASSERT_FALSE(lines.empty());
    const std::wstring expectedInOrder[] = {
        L"Norvalis Setup ", L"command line: ", L"administrator: yes", L" probe ", L": missing",
        L"RunOnce value ", L"prerequisites dialog: continue", L"installing Microsoft Visual C++",
        L"installer starts: " + ExpectedCommandLine(Installer::Vc)};
    size_t at = 0;
    for (const std::wstring& expected : expectedInOrder) {
        while (at < lines.size() && lines[at].find(expected) == std::wstring::npos) ++at;
        EXPECT_LT(at, lines.size()) << "no line with " << testing::PrintToString(expected) << " in its place";
    }
    for (const std::wstring& line : lines) EXPECT_EQ(L'\r', line.back()) << testing::PrintToString(line);
    EXPECT_TRUE(LogLinesWith(L"exit code").empty());
}

// Without /log the log goes to %TEMP%, named by the local time of the run.
TEST_F(Deployment, LogGoesToTheTemporaryFolderByDefault) {
    Arrangement arrangement = kBothInstalled;
    arrangement.environment = {{L"TEMP", m_elsewhere}, {L"TMP", m_elsewhere}};
    WatchedRun* run = Start(arrangement);
    ASSERT_NE(nullptr, run);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
    EXPECT_EQ(kSuccess, run->ExitCode());

    std::vector<std::wstring> logs;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((m_elsewhere + L"\\*").c_str(), &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    do {
        if (found.cFileName[0] != L'.') logs.push_back(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    ASSERT_EQ(1u, logs.size()) << "one file, the log";
    // "Norvalis Setup yyyyMMdd_HHmmss.log"
    const std::wstring& name = logs[0];
    ASSERT_EQ(34u, name.size()) << testing::PrintToString(name);
    EXPECT_EQ(L"Norvalis Setup ", name.substr(0, 15));
    EXPECT_EQ(L'_', name[23]);
    EXPECT_EQ(L".log", name.substr(30));
    EXPECT_TRUE(std::all_of(name.begin() + 15, name.begin() + 23, iswdigit));
    const std::vector<std::wstring> lines = ReadLines(m_elsewhere + L"\\" + name);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(std::wstring::npos, lines.back().find(L"exit code " + CodeText(kSuccess)));
    EXPECT_EQ(std::vector<std::wstring>{kLauncher}, Started());
}

// A log that cannot be written changes nothing about the run.
TEST_F(Deployment, UnwritableLogChangesNothing) {
    const std::wstring tooLong = m_dist + L"\\" + std::wstring(300, L'l') + L".log";
    for (const std::wstring& log :
         {m_dist + L"\\no such folder\\setup.log", tooLong, Path(L"Packages")}) {
        ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunOnceKey.c_str(), L"Norvalis setup");
        Arrange(true, true);
        WatchedRun* run = StartSetup(Program::TestBuild, RecordingRestarts(), {}, L"/log \"" + log + L"\"");
        ASSERT_NE(nullptr, run);
        ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
        EXPECT_EQ(kSuccess, run->ExitCode()) << testing::PrintToString(log);
        EXPECT_TRUE(run->Sightings().empty()) << run->Describe();
        EXPECT_EQ(QuotedSetupPath(), RunOnceValue());
    }
    EXPECT_EQ(std::vector<std::wstring>(3, kLauncher), Started());
}

// ===========================================================================
// One run at a time.

TEST_F(Deployment, OfTwoRunsStartedTogetherOneInstallsAndTheOtherEndsWith1618) {
    Arrange(false, false);
    ASSERT_TRUE(Copy(L"SetupTest.exe", SetupPath()));
    const std::wstring logs[2] = {Path(L"first.log"), Path(L"second.log")};
    WatchedRun* runs[2];
    for (int i = 0; i < 2; ++i) {
        runs[i] = StartProgram(SetupPath(), QuotedSetupPath() + L" /log \"" + logs[i] + L"\"", m_dist,
                               RecordingRestarts());
        ASSERT_NE(nullptr, runs[i]);
    }
    // Whichever took the machine first shows the dialog; the other ends.
    const ULONGLONG deadline = ::GetTickCount64() + kDialogTimeoutMs;
    while (!runs[0]->Ended() && !runs[1]->Ended() && ::GetTickCount64() < deadline) ::Sleep(20);
    const int second = runs[0]->Ended() ? 0 : 1;
    ASSERT_TRUE(runs[second]->Ended()) << "neither run ended";
    WatchedRun& first = *runs[1 - second];
    EXPECT_EQ(kAnotherInstall, runs[second]->ExitCode());

    Sighting* dialog = first.Await(Kind::Prerequisites);
    ASSERT_NE(nullptr, dialog) << first.Describe();
    driver::Click(dialog->hwnd, IDOK);
    ASSERT_TRUE(first.AwaitEnd()) << first.Describe();
    EXPECT_EQ(kSuccess, first.ExitCode());
    EXPECT_EQ((std::vector<Kind>{Kind::Prerequisites, Kind::Progress}), first.Kinds()) << first.Describe();
    runs[second]->Poll();
    EXPECT_TRUE(runs[second]->Sightings().empty()) << runs[second]->Describe();
    EXPECT_EQ((std::vector<std::wstring>{kVcFile, kNetFile, kLauncher}), Started());
    const std::vector<std::wstring> secondLog = ReadLines(logs[second]);
    ASSERT_FALSE(secondLog.empty());
    EXPECT_NE(std::wstring::npos, secondLog.back().find(L"exit code " + CodeText(kAnotherInstall)));
}

TEST_F(Deployment, ASecondRunBringsTheFirstRunsDialogToTheFront) {
    WatchedRun* first = StartSetup(Program::TestBuild, RecordingRestarts());
    ASSERT_NE(nullptr, first);
    Sighting* dialog = first->Await(Kind::Prerequisites);
    ASSERT_NE(nullptr, dialog) << first->Describe();
    // Something else takes the foreground meanwhile.
    HWND other = ::CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                                   nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, other);
    ::SetForegroundWindow(other);
    ASSERT_EQ(other, ::GetForegroundWindow());

    WatchedRun* second = StartProgram(SetupPath(), QuotedSetupPath(), m_dist, RecordingRestarts());
    ASSERT_NE(nullptr, second);
    ASSERT_TRUE(second->AwaitEnd()) << second->Describe();
    EXPECT_EQ(kAnotherInstall, second->ExitCode());
    EXPECT_TRUE(second->Sightings().empty()) << second->Describe();
    EXPECT_EQ(dialog->hwnd, ::GetForegroundWindow());
    ::DestroyWindow(other);

    driver::Click(dialog->hwnd, IDCANCEL);
    ASSERT_TRUE(first->AwaitEnd()) << first->Describe();
    EXPECT_EQ(kUserExit, first->ExitCode());
    EXPECT_TRUE(Started().empty());
}

}  // namespace
