// The hand-off to Packages\Launcher.exe: started from its full path, with no
// arguments, in the set-up program's current directory, and left running when
// set-up ends; a launcher that cannot be started is reported once (message
// 131) and nothing starts.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ChildRun.h"
#include "MessageBoxWatcher.h"
#include "ModuleNameOverride.h"
#include "StagedFiles.h"
#include "app/Launcher.h"
#include "app/SetupRunner.h"
#include "framework/Strings.h"
#include "res/resource.h"

namespace {

const wchar_t kChildVariable[] = L"NORVALIS_LAUNCHER_CHILD";

struct ProcessEntry {
    DWORD id;
    DWORD parentId;
    std::wstring name;
};

std::vector<ProcessEntry> Processes() {
    std::vector<ProcessEntry> processes;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        processes.push_back({entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
    }
    ::CloseHandle(snapshot);
    return processes;
}

// Ids of the processes this process started that still run.
std::set<DWORD> OwnChildren() {
    std::set<DWORD> children;
    for (const ProcessEntry& process : Processes()) {
        if (process.parentId == ::GetCurrentProcessId()) children.insert(process.id);
    }
    return children;
}

std::vector<std::wstring> Arguments(const std::wstring& commandLine) {
    std::vector<std::wstring> arguments;
    int count = 0;
    LPWSTR* parsed = ::CommandLineToArgvW(commandLine.c_str(), &count);
    if (parsed == nullptr) return arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(parsed[i]);
    ::LocalFree(parsed);
    return arguments;
}

ULONGLONG ExitTime(HANDLE process) {
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (!::GetProcessTimes(process, &creation, &exit, &kernel, &user)) return 0;
    return (static_cast<ULONGLONG>(exit.dwHighDateTime) << 32) | exit.dwLowDateTime;
}

// A copy of this test program in a folder with blanks hands off, started with
// its current directory in another folder. That folder holds a Packages
// folder of its own with a decoy launcher, which a path taken relative to the
// current directory would start instead.
TEST(LauncherTest, StartsTheLauncherByItsFullPathWithNoArgumentsAndLeavesItRunning) {
    staged::Stage stage;
    const std::wstring setupFolder = staged::OwnFolder() + L"\\Norvalis Setup Folder";
    const std::wstring elsewhere = staged::OwnFolder() + L"\\Another Current Directory";
    const std::wstring program = setupFolder + L"\\Setup.exe";
    const std::wstring launcher = setupFolder + L"\\Packages\\Launcher.exe";
    const std::wstring decoy = elsewhere + L"\\Packages\\Launcher.exe";
    const std::wstring result = setupFolder + L"\\child result.txt";
    ASSERT_TRUE(stage.Copy(staged::OwnPath(), program));
    ASSERT_TRUE(stage.StandIn(L"StandInLauncher.exe", launcher, L"sleep=6000\nexit=42\n"));
    ASSERT_TRUE(stage.StandIn(L"StandInLauncher.exe", decoy, L"exit=0\n"));
    stage.Remember(result);

    const ChildRun child = RunChild(program, L"LauncherChildTest.HandsOff", kChildVariable, result, elsewhere);
    ASSERT_TRUE(child.started);
    ASSERT_TRUE(child.ended);
    EXPECT_EQ(0u, child.exitCode);
    EXPECT_EQ(std::optional<std::wstring>(L"messages shown: 0"), staged::ReadText(result));

    // Set-up has ended; its launcher still runs, and ends later by itself.
    DWORD launcherId = 0;
    for (const ProcessEntry& process : Processes()) {
        if (process.parentId == child.processId && _wcsicmp(process.name.c_str(), L"Launcher.exe") == 0) {
            launcherId = process.id;
        }
    }
    ASSERT_NE(0u, launcherId) << "no launcher runs once set-up has ended";
    HANDLE running = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, launcherId);
    ASSERT_NE(nullptr, running);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(running, 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(running, 60000));
    DWORD exitCode = 0;
    ::GetExitCodeProcess(running, &exitCode);
    EXPECT_EQ(42u, exitCode) << "the launcher did not run to its own end";
    EXPECT_GT(ExitTime(running), child.exitTime);
    ::CloseHandle(running);

    const auto starts = staged::StartsOf(launcher);
    ASSERT_EQ(1u, starts.size());
    EXPECT_EQ(std::vector<std::wstring>{launcher}, Arguments(starts[0].commandLine))
        << "command line: " << testing::PrintToString(starts[0].commandLine);
    EXPECT_EQ(elsewhere, starts[0].currentDirectory);
    EXPECT_TRUE(staged::StartsOf(decoy).empty()) << "the launcher below the current directory ran";
}

// Runs only as the child of LauncherTest.
TEST(LauncherChildTest, HandsOff) {
    const std::wstring result = ChildInstruction(kChildVariable);
    if (result.empty()) GTEST_SKIP() << "runs only as the child of LauncherTest";
    CSetupRunnerApp app;
    app.LoadAppTitle();
    MessageBoxWatcher watcher;
    LaunchMainPackage();
    const size_t shown = watcher.Stop().size();
    staged::WriteText(result, L"messages shown: " + std::to_wstring(shown));
}

// ---------------------------------------------------------------------------
// A launcher that cannot be started.

enum class Trouble { LauncherAbsent, FolderInPlaceOfTheLauncher, LauncherIsNoProgram, ProgramPathTooLong };

struct FailureRow {
    const char* name;
    Trouble trouble;
};

const FailureRow kFailureRows[] = {
    {"LauncherAbsent", Trouble::LauncherAbsent},
    {"FolderInPlaceOfTheLauncher", Trouble::FolderInPlaceOfTheLauncher},
    {"LauncherIsNoProgram", Trouble::LauncherIsNoProgram},
    {"ProgramPathTooLong", Trouble::ProgramPathTooLong},
};

class LauncherFailureTest : public testing::TestWithParam<FailureRow> {};

TEST_P(LauncherFailureTest, ShowsMessage131OnceAndStartsNothing) {
    const FailureRow& row = GetParam();
    const std::wstring launcher = staged::OwnFolder() + L"\\Packages\\Launcher.exe";
    staged::Stage stage;
    switch (row.trouble) {
    case Trouble::LauncherAbsent:
        ASSERT_FALSE(staged::Exists(launcher)) << "something is left at the launcher's place";
        break;
    case Trouble::FolderInPlaceOfTheLauncher:
        ASSERT_TRUE(stage.Folder(launcher));
        break;
    case Trouble::LauncherIsNoProgram:
        ASSERT_TRUE(stage.File(launcher, L"This is no program.\n"));
        break;
    case Trouble::ProgramPathTooLong:
        // A launcher that would start, if set-up knew where it is.
        ASSERT_TRUE(stage.StandIn(L"StandInLauncher.exe", launcher, L"exit=0\n"));
        break;
    }

    CSetupRunnerApp app;
    app.LoadAppTitle();
    const std::set<DWORD> childrenBefore = OwnChildren();
    MessageBoxWatcher watcher;
    if (row.trouble == Trouble::ProgramPathTooLong) {
        ModuleNameOverride name(ProgramNameOfLength(staged::OwnFolder(), 300));
        ASSERT_TRUE(name.Applied());
        LaunchMainPackage();
    } else {
        LaunchMainPackage();
    }
    const auto boxes = watcher.Stop();

    ASSERT_EQ(1u, boxes.size()) << "message 131 not shown exactly once";
    EXPECT_EQ(app.AppTitle(), boxes[0].caption);
    const std::wstring message = LoadResourceString(IDS_LAUNCH_FAILED);
    ASSERT_FALSE(message.empty());
    EXPECT_NE(boxes[0].texts.end(), std::find(boxes[0].texts.begin(), boxes[0].texts.end(), message))
        << "the box does not show message 131";
    EXPECT_EQ(childrenBefore, OwnChildren()) << "a process was started";
    EXPECT_TRUE(staged::StartsOf(launcher).empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, LauncherFailureTest, testing::ValuesIn(kFailureRows),
                         [](const testing::TestParamInfo<FailureRow>& info) { return info.param.name; });

}  // namespace
