// Installers are checked before they start with administrator rights: a
// damaged, truncated, unsigned or foreign file is never started. The user
// sees message 133 once, in their language; an unattended run shows nothing;
// both end with exit code 2 and a log line that says why.
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
using installer_fixtures::Spoiling;

constexpr DWORD kFileNotFound = 2;

// What stands at the Visual C++ installer's place.
enum class Placed { Spoiled, Built, Folder };

struct SpoiledCase {
    const char* name;
    Placed placed;
    const wchar_t* built;  // the stand-in it is made from
    Spoiling spoiling;     // for Placed::Spoiled
    const wchar_t* verdict;  // as the log names it
};

void PrintTo(const SpoiledCase& row, std::ostream* out) { *out << row.name; }

const SpoiledCase kCases[] = {
    {"Unsigned", Placed::Built, L"StandInInstallerUnsigned.exe", Spoiling::Emptied, L"not signed"},
    {"OneByteChanged", Placed::Spoiled, L"StandInInstaller.exe", Spoiling::CodeByteChanged, L"corrupted"},
    {"TruncatedInTheMiddle", Placed::Spoiled, L"StandInInstaller.exe", Spoiling::CutInTheMiddle, L"not signed"},
    {"TruncatedBeforeItsSignature", Placed::Spoiled, L"StandInInstaller.exe", Spoiling::CutBeforeSignature,
     L"not signed"},
    {"SignedByAnotherOrganisation", Placed::Built, L"StandInInstallerForeign.exe", Spoiling::Emptied,
     L"signed by another publisher"},
    {"ZeroBytes", Placed::Spoiled, L"StandInInstaller.exe", Spoiling::Emptied, L"not signed"},
    {"FolderInItsPlace", Placed::Folder, L"", Spoiling::Emptied, L"corrupted"},
};

class SpoiledInstaller : public StagedDistribution,
                         public ::testing::WithParamInterface<std::tuple<SpoiledCase, bool>> {
protected:
    void Place(const SpoiledCase& row) {
        const std::wstring target = InstallerPath(Installer::Vc);
        ASSERT_TRUE(::DeleteFileW(target.c_str()));
        switch (row.placed) {
        case Placed::Folder:
            ASSERT_TRUE(::CreateDirectoryW(target.c_str(), nullptr));
            break;
        case Placed::Built:
            ASSERT_TRUE(Copy(row.built, target));
            break;
        case Placed::Spoiled: {
            std::string bytes = ReadFileText(m_bin + L"\\" + row.built);
            ASSERT_FALSE(bytes.empty());
            ASSERT_EQ("", installer_fixtures::Spoil(bytes, row.spoiling));
            ASSERT_TRUE(WriteFileText(target, bytes));
            break;
        }
        }
    }

    std::wstring LogPath() const { return Path(L"setup log.txt"); }
};

TEST_P(SpoiledInstaller, IsNeverStartedAndCountsAsMissing) {
    const auto& [row, quiet] = GetParam();
    Place(row);
    ASSERT_FALSE(HasFatalFailure());
    std::wstring arguments = L"/log \"" + LogPath() + L"\"";
    if (quiet) arguments += L" /quiet";
    WatchedRun* run = StartSetup(Program::TestBuild, RecordingRestarts(), {}, arguments);
    ASSERT_NE(nullptr, run);
    if (!quiet) {
        ASSERT_TRUE(ContinueInPrerequisites(*run));
        Sighting* message = AwaitMessage(*run, UiTexts().packagesMissing);
        ASSERT_NE(nullptr, message);
        driver::Click(message->hwnd, IDOK);
    }
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();

    EXPECT_EQ(kFileNotFound, run->ExitCode());
    EXPECT_TRUE(Started().empty()) << "an installer ran";
    if (quiet) {
        EXPECT_FALSE(run->AnyWindowSeen()) << run->Describe();
    } else {
        EXPECT_EQ((std::vector<Kind>{Kind::Prerequisites, Kind::Progress, Kind::MessageBox}), run->Kinds())
            << run->Describe();
    }
    // The log says why: the verdict, the system's code and the file.
    size_t found = 0;
    for (const std::wstring& line : ReadLines(LogPath())) {
        if (line.find(L"installer signature: " + std::wstring(row.verdict) + L", code ") != std::wstring::npos &&
            line.find(InstallerPath(Installer::Vc)) != std::wstring::npos) {
            ++found;
        }
    }
    EXPECT_EQ(1u, found) << "no log line gives the verdict " << testing::PrintToString(row.verdict);
}

INSTANTIATE_TEST_SUITE_P(VerifiedInstallers, SpoiledInstaller,
                         ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "Quiet" : "");
                         });

// An intact installer passes the check and runs as before; the log records
// the check with the signer.
class VerifiedInstallers : public StagedDistribution {};

TEST_F(VerifiedInstallers, IntactSignedOnesRunAndTheLogNamesTheirSigner) {
    const std::wstring log = Path(L"setup log.txt");
    WatchedRun* run = StartSetup(Program::TestBuild, RecordingRestarts(), {}, L"/quiet /log \"" + log + L"\"");
    ASSERT_NE(nullptr, run);
    ASSERT_TRUE(run->AwaitEnd()) << run->Describe();
    EXPECT_EQ(0u, run->ExitCode());
    EXPECT_EQ((std::vector<std::wstring>{L"vcredist_x86.exe", L"dotnet.exe"}), Started());
    size_t checks = 0;
    for (const std::wstring& line : ReadLines(log)) {
        if (line.find(L"installer signature: ") != std::wstring::npos &&
            line.find(L"signer \"Microsoft Corporation\"") != std::wstring::npos) {
            ++checks;
        }
    }
    EXPECT_EQ(2u, checks);
}

}  // namespace
