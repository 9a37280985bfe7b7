// Whole runs of the set-up program in a staged distribution, answered the way
// a user would answer them.
//
// Each test stages a fresh distribution with stand-in installers and launcher
// and watches the run (tests/support/ScenarioHarness.h).
//
// Expected texts come from a table in the three languages, chosen by the user
// interface language, so every test holds in English, German and Russian.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "DialogDriver.h"
#include "RegistrySandbox.h"
#include "ScenarioHarness.h"

namespace {

using namespace scenario;

std::string RowName(const char* name) { return name; }

// A table row prints as its name.
template <typename Row>
    requires requires(const Row& row) { row.name; }
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
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
    bool vcIsNoProgram;                 // a signed library stands where the installer should be
    std::vector<std::wstring> started;  // installers that ran, in order
    const std::wstring* failedName;
};

class Failed : public StagedDistribution, public ::testing::WithParamInterface<FailedCase> {};

TEST_P(Failed, ShowsOneMessageNamingTheComponentAndStartsNothingMore) {
    const FailedCase& row = GetParam();
    Arrange(row.vcInstalled, false);
    Behave(Installer::Vc, row.vcBehaviour);
    Behave(Installer::Net, row.netBehaviour);
    if (row.vcIsNoProgram) {
        ASSERT_TRUE(Copy(L"StandInInstallerNotAProgram.exe", InstallerPath(Installer::Vc)));
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
        FailedCase{"InstallerCannotBeStarted", false, "", kNetInstalls, true, {}, &kVcName}),
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
    enum class Cause { NotAdministrator, LauncherMissing, InstallerFileMissing, InstallerUnsigned };

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
        if (cause == Cause::InstallerUnsigned) {
            ASSERT_TRUE(Copy(L"StandInInstallerUnsigned.exe", InstallerPath(Installer::Vc)));
        }
        WatchedRun* run = StartSetup(Program::TestBuild, environment);
        ASSERT_NE(nullptr, run);
        if (cause == Cause::InstallerFileMissing || cause == Cause::InstallerUnsigned) {
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

TEST_F(Languages, RefusedInstallerMessageSpeaksTheUserInterfaceLanguage) {
    ExpectMessage(Cause::InstallerUnsigned, UiTexts().packagesMissing);
    EXPECT_TRUE(Started().empty()) << "the unsigned installer ran";
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
