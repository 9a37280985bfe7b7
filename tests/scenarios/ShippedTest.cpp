// Whole runs of the shipped program itself, with no test seam: the file users
// run. In the 32-bit tier NORVALIS_SHIPPED_SETUP names the release build's
// Setup.exe, and these runs prove what can differ between the 32- and the
// 64-bit build: registry views, calling conventions of the thread, dialog and
// message-map routines, unwinding, resources, exit codes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DialogDriver.h"
#include "InstallerFixtures.h"
#include "RegistrySandbox.h"
#include "ScenarioHarness.h"

namespace {

using namespace scenario;

const std::wstring kVcFile = L"vcredist_x86.exe";
const std::wstring kNetFile = L"dotnet.exe";
const std::wstring kLauncher = L"Launcher.exe";

class Shipped : public StagedDistribution {
protected:
    std::wstring LogPath() const { return Path(L"setup log.txt"); }
    std::wstring LogArgument() const { return L"/log \"" + LogPath() + L"\""; }

    WatchedRun* Start(const std::wstring& arguments = {}) {
        return StartSetup(Program::Shipped, {}, {}, arguments.empty() ? LogArgument() : arguments);
    }

    // Continues in the prerequisites dialog, after checking what it lists.
    void Continue(WatchedRun& run, const std::vector<std::wstring>& listed) {
        Sighting* dialog = run.Await(Kind::Prerequisites);
        ASSERT_NE(nullptr, dialog) << run.Describe();
        EXPECT_EQ(listed, dialog->items);
        driver::Click(dialog->hwnd, IDOK);
    }

    void ExpectRefusedInstaller();

    size_t LogLinesWith(const std::wstring& text) const {
        size_t count = 0;
        for (const std::wstring& line : ReadLines(LogPath())) count += line.find(text) != std::wstring::npos;
        return count;
    }

    // What the log says of the program: its bitness as Windows runs it.
    std::wstring Bitness() const { return ProgramIs32Bit() ? L"(32-bit, on 64-bit Windows)" : L"(64-bit)"; }
};

TEST_F(Shipped, NothingMissingStartsTheLauncherByItsQuotedPath) {
    Arrange(true, true);
    WatchedRun* run = Start();
    ASSERT_NE(nullptr, run);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
    EXPECT_EQ(0u, run->ExitCode());
    EXPECT_TRUE(run->Sightings().empty()) << run->Describe();
    EXPECT_EQ(std::vector<std::wstring>{L"\"" + Path(L"Packages\\Launcher.exe") + L"\""}, CommandLines(kLauncher));
    EXPECT_EQ(QuotedSetupPath(), RunOnceValue());
    EXPECT_EQ(1u, LogLinesWith(L"Norvalis Setup 1.0.0.0 " + Bitness()));
    EXPECT_EQ(1u, LogLinesWith(L"exit code 0 (0x00000000)"));
}

TEST_F(Shipped, OneMissingIsInstalledThenTheLauncherStarts) {
    Arrange(true, false);
    WatchedRun* run = Start();
    ASSERT_NE(nullptr, run);
    Continue(*run, {kNetName});
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
    EXPECT_EQ(0u, run->ExitCode());
    EXPECT_EQ((std::vector<Kind>{Kind::Prerequisites, Kind::Progress}), run->Kinds()) << run->Describe();
    // The worker's announcement reached the progress dialog.
    ASSERT_GE(run->Sightings().size(), 2u);
    EXPECT_EQ(std::vector<std::wstring>{kNetName}, run->Sightings()[1].componentNames);
    EXPECT_EQ((std::vector<std::wstring>{kNetFile, kLauncher}), Started());
    EXPECT_EQ(std::vector<std::wstring>{ExpectedCommandLine(Installer::Net)}, CommandLines(kNetFile));
}

TEST_F(Shipped, AFailedInstallerIsNamedAndTheExitCodeIsWhole) {
    Behave(Installer::Vc, "exit=0x80070643\n");
    WatchedRun* run = Start();
    ASSERT_NE(nullptr, run);
    Continue(*run, {kVcName, kNetName});
    Sighting* message = AwaitMessage(*run, UiTexts().installFailed + L"   - " + kVcName);
    ASSERT_NE(nullptr, message);
    driver::Click(message->hwnd, IDOK);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
    EXPECT_EQ(1603u, run->ExitCode());
    EXPECT_EQ(std::vector<std::wstring>{kVcFile}, Started());
    EXPECT_EQ(1u, LogLinesWith(L" s with exit code 2147944003 (0x80070643)"));
}

// The first installer cannot run: message 133 once, exit code 2, nothing
// started.
void Shipped::ExpectRefusedInstaller() {
    WatchedRun* run = Start();
    ASSERT_NE(nullptr, run);
    Continue(*run, {kVcName, kNetName});
    Sighting* message = AwaitMessage(*run, UiTexts().packagesMissing);
    ASSERT_NE(nullptr, message);
    driver::Click(message->hwnd, IDOK);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
    EXPECT_EQ(2u, run->ExitCode());
    EXPECT_EQ((std::vector<Kind>{Kind::Prerequisites, Kind::Progress, Kind::MessageBox}), run->Kinds())
        << run->Describe();
    EXPECT_TRUE(Started().empty());
}

TEST_F(Shipped, AMissingInstallerShowsMessage133OnceAndNothingElse) {
    ASSERT_TRUE(::DeleteFileW(InstallerPath(Installer::Vc).c_str()));
    ExpectRefusedInstaller();
}

TEST_F(Shipped, ASpoiledInstallerIsRefused) {
    std::string bytes = ReadFileText(InstallerPath(Installer::Vc));
    ASSERT_EQ("", installer_fixtures::Spoil(bytes, installer_fixtures::Spoiling::CodeByteChanged));
    ASSERT_TRUE(WriteFileText(InstallerPath(Installer::Vc), bytes));
    ExpectRefusedInstaller();
    EXPECT_EQ(1u, LogLinesWith(L"installer signature: corrupted, code 2148098064 (0x80096010)"));
}

TEST_F(Shipped, AQuietRunInstallsWithoutAnyWindow) {
    WatchedRun* run = Start(L"/quiet " + LogArgument());
    ASSERT_NE(nullptr, run);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
    EXPECT_EQ(0u, run->ExitCode());
    EXPECT_FALSE(run->AnyWindowSeen()) << run->Describe();
    EXPECT_EQ((std::vector<std::wstring>{kVcFile, kNetFile}), Started());
    EXPECT_EQ(std::nullopt, RunOnceValue());
    EXPECT_EQ(2u, LogLinesWith(L"signer \"Microsoft Corporation\""));
}

// The restart is real here: the program asks Windows, and Windows (Wine)
// ends the session of the prefix. It runs only where NORVALIS_RESTART_ALLOWED
// says the prefix is a throwaway one.
TEST_F(Shipped, ARestartMarksTheServerInTheProgramsViewAndIsRequested) {
    wchar_t allowed[4];
    if (::GetEnvironmentVariableW(L"NORVALIS_RESTART_ALLOWED", allowed, 4) == 0) {
        GTEST_SKIP() << "a real restart ends the Wine session: runs only in a prefix of its own";
    }
    Behave(Installer::Net, kNetInstalls + "exit=3010\n");
    WatchedRun* run = Start();
    ASSERT_NE(nullptr, run);
    Continue(*run, {kVcName, kNetName});
    Sighting* reboot = run->Await(Kind::Reboot);
    ASSERT_NE(nullptr, reboot) << run->Describe();
    EXPECT_EQ(UiTexts().serverContinues, driver::ControlText(reboot->hwnd, 65535));

    // A 32-bit program writes the marker to the 32-bit view of the machine's
    // uninstall list, which 64-bit Windows keeps under Wow6432Node: there the
    // server's installation looks, and nowhere else may it be.
    const REGSAM view64 = KEY_WOW64_64KEY;
    std::wstring marker;
    if (ProgramIs32Bit()) {
        EXPECT_TRUE(ReadTestString(HKEY_LOCAL_MACHINE, kWowServerKey, L"InstallerPath", marker, nullptr, view64));
        EXPECT_FALSE(TestKeyExists(HKEY_LOCAL_MACHINE, kServerKey, view64)) << "a marker in the 64-bit view";
    } else {
        EXPECT_TRUE(ReadTestString(HKEY_LOCAL_MACHINE, kServerKey, L"InstallerPath", marker, nullptr, view64));
    }
    EXPECT_EQ(SetupPath(), marker);
    EXPECT_EQ(QuotedSetupPath(), RunOnceValue());
    EXPECT_EQ((std::vector<std::wstring>{kVcFile, kNetFile}), Started());

    driver::Click(reboot->hwnd, IDCANCEL);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
    EXPECT_EQ(1641u, run->ExitCode()) << "the restart was not requested, or Windows refused it";
    EXPECT_EQ(1u, LogLinesWith(L"restart requested: accepted"));
}

}  // namespace
