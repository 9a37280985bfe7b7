// The installation worker, run on a real thread with stand-in installers in
// the Packages folder beside this program: which installers run and with which
// command line, which components the progress dialog is told about, and what
// the pass comes to. Also: every handle and key that the worker, the hand-off
// and the restart continuation open is closed again.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "ChildRun.h"
#include "HandleCount.h"
#include "KeyBackup.h"
#include "MessageBoxWatcher.h"
#include "ModuleNameOverride.h"
#include "RegistrySandbox.h"
#include "StagedFiles.h"
#include "app/Launcher.h"
#include "app/RestartContinuation.h"
#include "app/SetupRunner.h"
#include "framework/Strings.h"
#include "platform/Seam.h"
#include "prerequisites/InstallWorker.h"
#include "res/resource.h"
#include "ui/ProgressDialog.h"

// The thread for which no memory can be had (none when 0): the worker's, in
// the test where an exception has to cross the worker's frames to its top.
static std::atomic<DWORD> threadWithoutMemory{0};

void* operator new(std::size_t size) {
    const DWORD starved = threadWithoutMemory.load();
    if (starved != 0 && starved == ::GetCurrentThreadId()) throw std::bad_alloc();
    if (void* block = std::malloc(size != 0 ? size : 1)) return block;
    throw std::bad_alloc();
}
// The blocks of the operator new above come from malloc: free is their match,
// which the compiler cannot see once it has inlined a delete expression.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
#pragma GCC diagnostic pop

namespace {

// The installers of the catalog below the Packages folder, and their switches.
const wchar_t* const kInstallerPaths[2] = {
    L"\\Visual C++ 2010 Redistributable Package\\vcredist_x86.exe",
    L"\\DotNetFX462\\dotnet.exe",
};
const wchar_t* const kArguments[2] = {L" /q", L" /q /norestart"};

// The worker looks for the installers beside the running program.
std::wstring PackagesFolder() { return staged::OwnFolder() + L"\\Packages"; }
std::wstring InstallerPath(size_t index) { return PackagesFolder() + kInstallerPaths[index]; }
std::wstring ExpectedCommandLine(size_t index) {
    return L"\"" + InstallerPath(index) + L"\"" + kArguments[index];
}

// A value the worker never writes: seeing it afterwards means it wrote nothing.
const InstallOutcome kUntouched = static_cast<InstallOutcome>(77);

// Stands in for the program's message 133: counts how often the worker asks
// for it.
int missingReports = 0;
void CountMissingReport() { ++missingReports; }

std::wstring Widen(const char* text) { return std::wstring(text, text + strlen(text)); }


// A window of the test thread that notes every WM_INSTALLING_COMPONENT it
// receives, with the time it arrived.
class PostRecorder {
public:
    struct Post {
        WPARAM index;
        LPARAM lParam;
        ULONGLONG arrival;
    };

    PostRecorder() {
        static const ATOM windowClass = Register();
        m_window = ::CreateWindowExW(0, MAKEINTATOM(windowClass), L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                     nullptr, ::GetModuleHandleW(nullptr), this);
    }
    ~PostRecorder() {
        if (m_window != nullptr) ::DestroyWindow(m_window);
    }
    PostRecorder(const PostRecorder&) = delete;
    PostRecorder& operator=(const PostRecorder&) = delete;

    HWND Window() const { return m_window; }
    const std::vector<Post>& Posts() const { return m_posts; }
    std::vector<WPARAM> Indices() const {
        std::vector<WPARAM> indices;
        for (const Post& post : m_posts) indices.push_back(post.index);
        return indices;
    }

private:
    static ATOM Register() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"NorvalisTestPostRecorder";
        return ::RegisterClassW(&windowClass);
    }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<PostRecorder*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_INSTALLING_COMPONENT && self != nullptr) {
            self->m_posts.push_back({wParam, lParam, staged::Now()});
            return 0;
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }

    HWND m_window = nullptr;
    std::vector<Post> m_posts;
};

// Handles this thread's messages until `handle` is signalled or the time is
// up; then the messages already queued.
bool PumpUntilSignalled(HANDLE handle, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return false;
        const DWORD result = ::MsgWaitForMultipleObjects(1, &handle, FALSE,
                                                         static_cast<DWORD>(deadline - now), QS_ALLINPUT);
        if (result == WAIT_OBJECT_0) {
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
            return true;
        }
        if (result == WAIT_FAILED) return false;
    }
}

struct WorkerRun {
    bool ended = false;
    ULONGLONG resumed = 0;  // when the thread was let go
    DWORD exitCode = STILL_ACTIVE;
};

// Runs InstallWorker on a thread of its own, created suspended and resumed as
// the progress dialog does it, while this thread handles the posted messages.
// With `withoutMemory` no allocation of the worker's thread succeeds.
WorkerRun RunWorker(InstallJob& job, bool withoutMemory = false) {
    WorkerRun run;
    DWORD threadId = 0;
    HANDLE thread = ::CreateThread(nullptr, 0, InstallWorker, &job, CREATE_SUSPENDED, &threadId);
    if (thread == nullptr) return run;
    if (withoutMemory) threadWithoutMemory = threadId;
    run.resumed = staged::Now();
    ::ResumeThread(thread);
    run.ended = PumpUntilSignalled(thread, 120000);
    if (!run.ended) {
        // The worker still uses the job: it must not outlive it.
        ::TerminateThread(thread, 1);
        ::WaitForSingleObject(thread, 10000);
    }
    threadWithoutMemory = 0;
    ::GetExitCodeThread(thread, &run.exitCode);
    ::CloseHandle(thread);
    return run;
}

// What sits where the catalog expects an installer.
enum class Placed {
    StandIn,      // the stand-in, signed like the real installers
    Unsigned,     // the same program without a signature
    NotAProgram,  // a signed library: passes the check, cannot be started
    Nothing,
    Folder,
};

struct EntrySetup {
    bool installed;
    Placed placed;
    const wchar_t* behaviour;  // side file of the stand-in
};

// Puts the stand-ins (or a folder, or nothing) at the catalog's paths.
void Arrange(staged::Stage& stage, const EntrySetup (&entries)[2]) {
    for (size_t i = 0; i < 2; ++i) {
        switch (entries[i].placed) {
        case Placed::StandIn:
        case Placed::Unsigned:
        case Placed::NotAProgram: {
            const wchar_t* built = entries[i].placed == Placed::StandIn    ? L"StandInInstaller.exe"
                                   : entries[i].placed == Placed::Unsigned ? L"StandInInstallerUnsigned.exe"
                                                                           : L"StandInInstallerNotAProgram.exe";
            ASSERT_TRUE(stage.StandIn(built, InstallerPath(i), entries[i].behaviour))
                << "cannot put " << testing::PrintToString(built) << " at " << testing::PrintToString(InstallerPath(i));
            break;
        }
        case Placed::Folder:
            ASSERT_TRUE(stage.Folder(InstallerPath(i)));
            break;
        case Placed::Nothing:
            ASSERT_FALSE(staged::Exists(InstallerPath(i)))
                << "something is left at " << testing::PrintToString(InstallerPath(i));
            break;
        }
    }
}

class WorkerFixture {
protected:
    WorkerFixture() {
        app.LoadAppTitle();
        missingReports = 0;
    }

    // A job over the application's catalog and the Packages folder beside
    // this program, telling `window`.
    InstallJob Job(HWND window) {
        InstallJob job;
        job.catalog = &app.prerequisites;
        job.packages = PackagesFolder();
        job.window = window;
        job.onInstallerMissing = CountMissingReport;
        job.outcome = kUntouched;
        return job;
    }

    // Checks the start of installer `index`: started once, with the quoted
    // full path followed directly by the catalog's switches, in our current
    // directory; or never started.
    static void ExpectStarted(size_t index, bool started) {
        const auto starts = staged::StartsOf(InstallerPath(index));
        if (!started) {
            EXPECT_TRUE(starts.empty()) << "installer " << index << " ran";
            return;
        }
        ASSERT_EQ(1u, starts.size()) << "installer " << index << " did not run exactly once";
        EXPECT_EQ(ExpectedCommandLine(index), starts[0].commandLine);
        EXPECT_EQ(staged::CurrentDirectory(), starts[0].currentDirectory);
    }

    CSetupRunnerApp app;
    staged::Stage stage;
};

// ---------------------------------------------------------------------------
// The outcome of the pass.

struct OutcomeRow {
    const char* name;
    EntrySetup entries[2];
    std::vector<WPARAM> announced;  // wParams posted, in order
    bool ran[2];
    InstallOutcome outcome;
    int component;         // the entry the pass ended at; -1: none
    int missingReports;    // times the missing installer was reported
};

const wchar_t kSucceeds[] = L"exit=0\n";

const OutcomeRow kOutcomeRows[] = {
    {"BothSucceed", {{false, Placed::StandIn, kSucceeds}, {false, Placed::StandIn, kSucceeds}},
     {0, 1}, {true, true}, Completed, -1, 0},
    {"FirstEndsWithOne", {{false, Placed::StandIn, L"exit=1\n"}, {false, Placed::StandIn, kSucceeds}},
     {0}, {true, false}, Failed, 0, 0},
    {"FirstAsksForARestart3010",
     {{false, Placed::StandIn, L"exit=3010\n"}, {false, Placed::StandIn, kSucceeds}},
     {0}, {true, false}, RestartRequired, 0, 0},
    {"FirstHasStartedARestart1641",
     {{false, Placed::StandIn, L"exit=1641\n"}, {false, Placed::StandIn, kSucceeds}},
     {0}, {true, false}, RestartRequired, 0, 0},
    {"FirstEndsWithFFFFFFFF",
     {{false, Placed::StandIn, L"exit=0xFFFFFFFF\n"}, {false, Placed::StandIn, kSucceeds}},
     {0}, {true, false}, Failed, 0, 0},
    {"FirstEndsWithFFFFFFFE",
     {{false, Placed::StandIn, L"exit=0xFFFFFFFE\n"}, {false, Placed::StandIn, kSucceeds}},
     {0}, {true, false}, Failed, 0, 0},
    {"FirstCrashes", {{false, Placed::StandIn, L"crash=1\n"}, {false, Placed::StandIn, kSucceeds}},
     {0}, {true, false}, Failed, 0, 0},
    {"FirstInstallerFileMissing", {{false, Placed::Nothing, L""}, {false, Placed::StandIn, kSucceeds}},
     {0}, {false, false}, Aborted, 0, 1},
    // A folder passes for a file, but carries no signature: as good as missing.
    {"FolderInPlaceOfTheFirstInstaller",
     {{false, Placed::Folder, L""}, {false, Placed::StandIn, kSucceeds}},
     {0}, {false, false}, Aborted, 0, 1},
    {"FirstInstallerUnsigned", {{false, Placed::Unsigned, kSucceeds}, {false, Placed::StandIn, kSucceeds}},
     {0}, {false, false}, Aborted, 0, 1},
    {"FirstInstallerCannotBeStarted",
     {{false, Placed::NotAProgram, L""}, {false, Placed::StandIn, kSucceeds}},
     {0}, {false, false}, Failed, 0, 0},
    {"SecondEndsWithOne", {{false, Placed::StandIn, kSucceeds}, {false, Placed::StandIn, L"exit=1\n"}},
     {0, 1}, {true, true}, Failed, 1, 0},
    {"SecondInstallerFileMissing", {{false, Placed::StandIn, kSucceeds}, {false, Placed::Nothing, L""}},
     {0, 1}, {true, false}, Aborted, 1, 1},
    {"NothingToInstall", {{true, Placed::StandIn, kSucceeds}, {true, Placed::StandIn, kSucceeds}},
     {}, {false, false}, Completed, -1, 0},
    {"OnlyTheSecondMissing", {{true, Placed::StandIn, kSucceeds}, {false, Placed::StandIn, kSucceeds}},
     {1}, {false, true}, Completed, -1, 0},
};

class WorkerOutcomeTest : public WorkerFixture, public testing::TestWithParam<OutcomeRow> {};

// Wine answers a crash by starting its debugger, which shows a crash window
// and waits for someone to close it: no one would. Told not to show it, the
// debugger ends the crashed installer at once. Wine's setting is put back
// after the test.
class QuietCrashes {
public:
    QuietCrashes() {
        const DWORD no = 0;
        SetTestValue(HKEY_CURRENT_USER, kWineDebugger, L"ShowCrashDialog", REG_DWORD, &no, sizeof(no));
    }

private:
    static constexpr const wchar_t* kWineDebugger = L"Software\\Wine\\WineDbg";
    KeyBackup m_setting{HKEY_CURRENT_USER, kWineDebugger};
};

TEST_P(WorkerOutcomeTest, InstallsInCatalogOrderUntilTheFirstInstallerThatDoesNotSucceed) {
    const OutcomeRow& row = GetParam();
    QuietCrashes quietCrashes;
    Arrange(stage, row.entries);
    ASSERT_FALSE(testing::Test::HasFatalFailure());
    for (size_t i = 0; i < 2; ++i) app.prerequisites[i].installed = row.entries[i].installed;
    PostRecorder recorder;
    ASSERT_NE(nullptr, recorder.Window());
    InstallJob job = Job(recorder.Window());

    MessageBoxWatcher watcher;
    const WorkerRun run = RunWorker(job);
    const auto boxes = watcher.Stop();
    ASSERT_TRUE(run.ended) << "the worker did not end";

    EXPECT_EQ(row.outcome, job.outcome);
    EXPECT_EQ(row.component < 0 ? InstallJob::kNoComponent : static_cast<size_t>(row.component),
              job.component);
    if (row.component >= 0) {
        // Only an installer that could not be started leaves the system's error.
        EXPECT_EQ(row.entries[row.component].placed == Placed::NotAProgram, job.launchError != 0)
            << "launch error " << job.launchError;
    }
    EXPECT_EQ(row.announced, recorder.Indices());
    for (const auto& post : recorder.Posts()) EXPECT_EQ(0, post.lParam);
    for (size_t i = 0; i < 2; ++i) ExpectStarted(i, row.ran[i]);
    EXPECT_EQ(row.missingReports, missingReports) << "the missing installer reported a wrong number of times";
    EXPECT_TRUE(boxes.empty()) << "the worker itself shows no message";
}

INSTANTIATE_TEST_SUITE_P(Rows, WorkerOutcomeTest, testing::ValuesIn(kOutcomeRows),
                         [](const testing::TestParamInfo<OutcomeRow>& info) { return info.param.name; });

// An exception inside the pass (here thrown where the program would show
// message 133) unwinds through the worker's frames to its top: the pass ends
// as failed, naming the component it was at, and nothing more runs.
void ThrowFromTheWorker() { throw std::bad_alloc(); }

class WorkerExceptionTest : public WorkerFixture, public testing::Test {};

TEST_F(WorkerExceptionTest, AnExceptionInsideThePassEndsItAsFailedAtThatComponent) {
    const EntrySetup entries[2] = {{false, Placed::Nothing, L""}, {false, Placed::StandIn, kSucceeds}};
    Arrange(stage, entries);
    ASSERT_FALSE(testing::Test::HasFatalFailure());
    PostRecorder recorder;
    InstallJob job = Job(recorder.Window());
    job.onInstallerMissing = ThrowFromTheWorker;

    const WorkerRun run = RunWorker(job);
    ASSERT_TRUE(run.ended) << "the exception ended the worker some other way";
    EXPECT_EQ(Failed, job.outcome);
    EXPECT_EQ(0u, job.component);
    EXPECT_EQ(std::vector<WPARAM>{0}, recorder.Indices());
    ExpectStarted(1, false);
}

// ---------------------------------------------------------------------------
// An exception inside the worker is caught at its top: the pass ends as a
// failure, the thread returns normally and the process goes on. Running out of
// memory is the exception the worker can meet. The exception crosses the
// worker's frames with the unwinder of the target: DWARF tables on 32-bit
// Windows, the system's unwind tables on 64-bit Windows.


TEST_F(WorkerExceptionTest, NoMemoryForTheWorkerEndsThePassAsFailed) {
    const EntrySetup entries[2] = {{false, Placed::StandIn, kSucceeds}, {false, Placed::StandIn, kSucceeds}};
    Arrange(stage, entries);
    ASSERT_FALSE(HasFatalFailure());
    PostRecorder recorder;
    InstallJob job = Job(recorder.Window());

    const WorkerRun run = RunWorker(job, true);
    ASSERT_TRUE(run.ended) << "the worker did not end";
    EXPECT_EQ(0u, run.exitCode) << "the worker did not return from its top";
    EXPECT_EQ(Failed, job.outcome);
    EXPECT_EQ(0u, job.component) << "the component being installed stays named";
    ExpectStarted(0, false);
    ExpectStarted(1, false);

    // The same catalog serves a whole pass afterwards.
    InstallJob again = Job(recorder.Window());
    ASSERT_TRUE(RunWorker(again).ended);
    EXPECT_EQ(Completed, again.outcome);
    ExpectStarted(0, true);
    ExpectStarted(1, true);
}

// ---------------------------------------------------------------------------
// The pause between the announcement and the start of the installer, and the
// announcement when there is no window to tell.

enum class DialogState { Open, None, WindowGone };

struct PauseRow {
    const char* name;
    DialogState dialog;
};

const PauseRow kPauseRows[] = {
    {"DialogOpen", DialogState::Open},
    {"NoDialog", DialogState::None},
    {"DialogWindowGone", DialogState::WindowGone},
};

class AnnouncementPauseTest : public WorkerFixture, public testing::TestWithParam<PauseRow> {};

TEST_P(AnnouncementPauseTest, InstallerStartsHalfASecondAfterTheAnnouncement) {
    const PauseRow& row = GetParam();
    const EntrySetup entries[2] = {{false, Placed::StandIn, kSucceeds}, {true, Placed::StandIn, kSucceeds}};
    Arrange(stage, entries);
    ASSERT_FALSE(testing::Test::HasFatalFailure());
    app.prerequisites[0].installed = false;
    app.prerequisites[1].installed = true;

    PostRecorder recorder;  // told only when the job names its window
    InstallJob job = Job(nullptr);
    switch (row.dialog) {
    case DialogState::Open:
        job.window = recorder.Window();
        break;
    case DialogState::None:
        break;
    case DialogState::WindowGone: {
        HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        nullptr, nullptr);
        ASSERT_NE(nullptr, window);
        ::DestroyWindow(window);
        ASSERT_FALSE(::IsWindow(window));
        job.window = window;
        break;
    }
    }

    const WorkerRun run = RunWorker(job);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(Completed, job.outcome);
    ExpectStarted(0, true);
    ExpectStarted(1, false);
    const auto started = staged::StartTimeOf(InstallerPath(0));
    ASSERT_TRUE(started.has_value());

    ULONGLONG from = run.resumed;
    if (row.dialog == DialogState::Open) {
        ASSERT_EQ(std::vector<WPARAM>{0}, recorder.Indices());
        from = recorder.Posts()[0].arrival;
    } else {
        EXPECT_TRUE(recorder.Posts().empty());
    }
    // 100 ns units. The installer's own start-up only adds to the pause, and a
    // file time may lag the clock by a tick: 450 ms is the floor.
    const LONGLONG pauseMs = (static_cast<LONGLONG>(*started) - static_cast<LONGLONG>(from)) / 10000;
    RecordProperty("pause_ms", static_cast<int>(pauseMs));
    EXPECT_GE(pauseMs, 450) << "the installer started too soon after the announcement";
    EXPECT_LT(pauseMs, 10000) << "the installer started far too late";
}

INSTANTIATE_TEST_SUITE_P(Rows, AnnouncementPauseTest, testing::ValuesIn(kPauseRows),
                         [](const testing::TestParamInfo<PauseRow>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// RunInstaller and the length of the installer's full path.

// A full path of exactly `length` characters below this program's folder.
std::wstring InstallerPathOfLength(size_t length) {
    std::wstring path = staged::OwnFolder() + L"\\Long Installer Path";
    while (length - path.size() - 1 > 120) path += L"\\" + std::wstring(100, L'd');
    return path + L"\\" + std::wstring(length - path.size() - 1 - 4, L'i') + L".exe";
}

struct LengthRow {
    const char* name;
    size_t length;
    bool runs;
};

const LengthRow kLengthRows[] = {
    {"Length259Runs", 259, true},
    {"Length260IsMissing", 260, false},
    {"Length300IsMissing", 300, false},
};

class InstallerPathLengthTest : public WorkerFixture, public testing::TestWithParam<LengthRow> {};

TEST_P(InstallerPathLengthTest, PathsOf260CharactersOrMoreCountAsMissing) {
    const LengthRow& row = GetParam();
    const std::wstring path = InstallerPathOfLength(row.length);
    ASSERT_EQ(row.length, path.size());
    // The file is really there, so only the length can make it "missing".
    ASSERT_TRUE(stage.StandIn(L"StandInInstaller.exe", path, L"exit=7\n"));

    InstallerRun run;
    run.exitCode = 12345;
    const int status = RunInstaller(path, L" /q", run);

    const auto starts = staged::StartsOf(path);
    if (row.runs) {
        EXPECT_EQ(0, status);
        EXPECT_EQ(7u, run.exitCode);
        ASSERT_EQ(1u, starts.size());
        EXPECT_EQ(L"\"" + path + L"\" /q", starts[0].commandLine);
    } else {
        EXPECT_EQ(-2, status);
        EXPECT_TRUE(starts.empty()) << "the installer ran";
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, InstallerPathLengthTest, testing::ValuesIn(kLengthRows),
                         [](const testing::TestParamInfo<LengthRow>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// A Packages folder that cannot be known: the program's own path is too long,
// or has no folder. The directory is remembered only once it is known, so
// this runs in a fresh process of its own.

const wchar_t kChildVariable[] = L"NORVALIS_WORKER_CHILD";

struct UnknownFolderRow {
    const char* name;
};

const UnknownFolderRow kUnknownFolderRows[] = {{"ProgramPathTooLong"}, {"ProgramNameWithoutFolder"}};

class UnknownPackagesFolderTest : public testing::TestWithParam<UnknownFolderRow> {};

TEST_P(UnknownPackagesFolderTest, InstallerCountsAsMissingAndNothingRuns) {
    staged::Stage stage;
    // Installers wait at the real place, and at the place the catalog's paths
    // name on their own: below the root of the current drive, which is C: for
    // the child. None of them may run.
    const std::wstring driveRoot = L"C:";
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_TRUE(stage.StandIn(L"StandInInstaller.exe", InstallerPath(i), kSucceeds));
        ASSERT_TRUE(stage.StandIn(L"StandInInstaller.exe", driveRoot + kInstallerPaths[i], kSucceeds));
    }
    const std::wstring result = staged::OwnFolder() + L"\\worker child result.txt";
    stage.Remember(result);
    ::DeleteFileW(result.c_str());

    const ChildRun child = RunChild(staged::OwnPath(), L"WorkerChildTest.UnknownPackagesFolder",
                                    kChildVariable, Widen(GetParam().name) + L"|" + result,
                                    driveRoot + L"\\");
    ASSERT_TRUE(child.started);
    ASSERT_TRUE(child.ended);
    EXPECT_EQ(0u, child.exitCode) << "the child test failed (its report is above)";
    EXPECT_EQ(std::optional<std::wstring>(L"done"), staged::ReadText(result))
        << "the child test did not run to its end";
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(staged::StartsOf(InstallerPath(i)).empty());
        EXPECT_TRUE(staged::StartsOf(driveRoot + kInstallerPaths[i]).empty())
            << "the installer below the drive's root ran";
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, UnknownPackagesFolderTest, testing::ValuesIn(kUnknownFolderRows),
                         [](const testing::TestParamInfo<UnknownFolderRow>& info) {
                             return info.param.name;
                         });

// Runs only as the child of UnknownPackagesFolderTest.
TEST(WorkerChildTest, UnknownPackagesFolder) {
    const std::wstring instruction = ChildInstruction(kChildVariable);
    if (instruction.empty()) GTEST_SKIP() << "runs only as the child of UnknownPackagesFolderTest";
    const std::wstring mode = instruction.substr(0, instruction.find(L'|'));
    const std::wstring result = instruction.substr(instruction.find(L'|') + 1);

    CSetupRunnerApp app;
    PostRecorder recorder;
    missingReports = 0;
    {
        ModuleNameOverride name(mode == L"ProgramPathTooLong"
                                    ? ProgramNameOfLength(staged::OwnFolder(), 300)
                                    : std::wstring(L"worker_test.exe"));
        ASSERT_TRUE(name.Applied());
        EXPECT_EQ(L"", GetPackagesDirectory());

        // As the program makes its job: no folder when none is known.
        InstallJob job;
        job.catalog = &app.prerequisites;
        job.window = recorder.Window();
        job.onInstallerMissing = CountMissingReport;
        const WorkerRun run = RunWorker(job);
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(Aborted, job.outcome);
        EXPECT_EQ(0u, job.component);
        EXPECT_EQ(std::vector<WPARAM>{0}, recorder.Indices());
        EXPECT_EQ(1, missingReports);
    }
    // Nothing was remembered: with the program's real name the folder is found.
    EXPECT_EQ(PackagesFolder(), GetPackagesDirectory());
    if (!HasFailure()) staged::WriteText(result, L"done");
}

// ---------------------------------------------------------------------------
// Every handle and key is closed again.

const wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kServerKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Norvalis Server";

bool NoteRestart(UINT, DWORD) { return true; }

class OpenHandlesTest : public WorkerFixture, public testing::Test {
protected:
    // One pass over every operation that opens handles or keys, along its
    // success and its failure paths.
    void EveryOperation() {
        const EntrySetup bothRun[2] = {{false, Placed::StandIn, kSucceeds}, {false, Placed::StandIn, kSucceeds}};
        const EntrySetup restart[2] = {{false, Placed::StandIn, L"exit=3010\n"}, {false, Placed::Nothing, L""}};
        const EntrySetup firstMissing[2] = {{false, Placed::Nothing, L""}, {false, Placed::Nothing, L""}};
        const EntrySetup folder[2] = {{false, Placed::Folder, L""}, {false, Placed::Nothing, L""}};
        const struct {
            const EntrySetup (*entries)[2];
            InstallOutcome outcome;
        } worker[] = {{&bothRun, Completed}, {&restart, RestartRequired}, {&firstMissing, Aborted}, {&folder, Aborted}};

        MessageBoxWatcher watcher;  // answers message 131
        for (const auto& pass : worker) {
            staged::Stage installers;
            Arrange(installers, *pass.entries);
            PostRecorder recorder;
            InstallJob job = Job(recorder.Window());
            const WorkerRun run = RunWorker(job);
            ASSERT_TRUE(run.ended);
            EXPECT_EQ(pass.outcome, job.outcome);
        }
        InstallerRun run;
        EXPECT_EQ(-2, RunInstaller(InstallerPathOfLength(300), L" /q", run));

        {
            staged::Stage launcher;
            const std::wstring path = PackagesFolder() + L"\\Launcher.exe";
            ASSERT_TRUE(launcher.StandIn(L"StandInLauncher.exe", path, L"exit=0\n"));
            LaunchMainPackage();
            // Wait until the launcher has started, so its file can go.
            for (int i = 0; i < 500 && staged::StartsOf(path).empty(); ++i) ::Sleep(10);
            EXPECT_EQ(1u, staged::StartsOf(path).size());
        }
        LaunchMainPackage();  // no launcher: message 131

        {
            KeyBackup runOnce(HKEY_CURRENT_USER, kRunOnceKey);
            RegistrySandbox server({{HKEY_LOCAL_MACHINE, kServerKey}});
            EXPECT_TRUE(RegisterRunOnce());  // key present
            KeyBackup::DeleteTree(HKEY_CURRENT_USER, kRunOnceKey);
            EXPECT_TRUE(RegisterRunOnce());  // key missing
            MarkServerInstallerPath();        // key missing
            MarkServerInstallerPath();        // key present
            platform::Seam().refuseRegistryWrites = true;
            EXPECT_FALSE(RegisterRunOnce());
            MarkServerInstallerPath();
            platform::Seam().refuseRegistryWrites = false;
            {
                ModuleNameOverride name(ProgramNameOfLength(staged::OwnFolder(), 300));
                EXPECT_FALSE(RegisterRunOnce());
                MarkServerInstallerPath();
                LaunchMainPackage();  // message 131
            }
        }
        platform::Seam().restartRequested = NoteRestart;
        ASSERT_NE(nullptr, platform::Seam().restartRequested);
        RestartSystem();
        platform::Seam().restartRequested = nullptr;

        const auto boxes = watcher.Stop();
        EXPECT_EQ(2u, boxes.size()) << "message 131, twice";
    }
};

TEST_F(OpenHandlesTest, EveryHandleAndKeyIsClosedOnEveryPath) {
    // The count must see a key and a handle come and go, or it proves nothing.
    const auto before = OpenHandleCount();
    ASSERT_TRUE(before.has_value()) << "the system's handle list is not available";
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key));
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, event);
    EXPECT_EQ(*before + 2, OpenHandleCount());
    ::RegCloseKey(key);
    ::CloseHandle(event);
    ASSERT_EQ(*before, OpenHandleCount());

    // The first pass lets the system open what it keeps for the whole process.
    EveryOperation();
    ASSERT_FALSE(HasFailure());
    const auto settled = OpenHandleCount();
    for (int pass = 0; pass < 3; ++pass) EveryOperation();
    EXPECT_EQ(settled, OpenHandleCount()) << "handles or keys stay open after three passes";
}

}  // namespace
