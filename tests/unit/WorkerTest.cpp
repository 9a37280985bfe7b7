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

std::wstring Widen(const char* text) { return std::wstring(text, text + strlen(text)); }

bool Contains(const std::vector<std::wstring>& texts, const std::wstring& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

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

// A progress dialog object whose window is the recorder's: the worker reaches
// it through the application's progressDialog, as it reaches the real one.
struct RecordingDialog {
    RecordingDialog() { dialog.m_hWnd = recorder.Window(); }
    // The recorder destroys its own window.
    ~RecordingDialog() { dialog.m_hWnd = nullptr; }

    PostRecorder recorder;
    CProgressDialog dialog;
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
WorkerRun RunWorker(CSetupRunnerApp& app, bool withoutMemory = false) {
    WorkerRun run;
    DWORD threadId = 0;
    HANDLE thread = ::CreateThread(nullptr, 0, InstallWorker, &app, CREATE_SUSPENDED, &threadId);
    if (thread == nullptr) return run;
    if (withoutMemory) threadWithoutMemory = threadId;
    run.resumed = staged::Now();
    ::ResumeThread(thread);
    run.ended = PumpUntilSignalled(thread, 120000);
    if (!run.ended) {
        // The worker still uses the application object: it must not outlive it.
        ::TerminateThread(thread, 1);
        ::WaitForSingleObject(thread, 10000);
    }
    threadWithoutMemory = 0;
    ::GetExitCodeThread(thread, &run.exitCode);
    ::CloseHandle(thread);
    return run;
}

// What sits where the catalog expects an installer.
enum class Placed { StandIn, Nothing, Folder };

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
            ASSERT_TRUE(stage.StandIn(L"StandInInstaller.exe", InstallerPath(i), entries[i].behaviour))
                << "cannot put a stand-in at " << testing::PrintToString(InstallerPath(i));
            break;
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
        installOutcome = kUntouched;
        installErrorText.clear();
    }
    ~WorkerFixture() {
        app.progressDialog = nullptr;
        installOutcome = Completed;
        installErrorText.clear();
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

    // Message 133, captioned with the application title.
    void ExpectMissingMessage(const MessageBoxWatcher::Box& box) const {
        EXPECT_EQ(app.AppTitle(), box.caption);
        const std::wstring text = LoadResourceString(IDS_PACKAGES_MISSING);
        ASSERT_FALSE(text.empty());
        EXPECT_TRUE(Contains(box.texts, text)) << "the box does not show message 133";
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
    int namedInError;      // the entry the error text names; -1: no error text
    size_t missingBoxes;   // times message 133 was shown
};

const wchar_t kSucceeds[] = L"exit=0\n";

const OutcomeRow kOutcomeRows[] = {
    {"BothSucceed", {{false, Placed::StandIn, kSucceeds}, {false, Placed::StandIn, kSucceeds}},
     {0, 1}, {true, true}, Completed, -1, 0},
    {"FirstEndsWithOne", {{false, Placed::StandIn, L"exit=1\n"}, {false, Placed::StandIn, kSucceeds}},
     {0}, {true, false}, Failed, 0, 0},
    {"FirstAsksForARestart3010",
     {{false, Placed::StandIn, L"exit=3010\n"}, {false, Placed::StandIn, kSucceeds}},
     {0}, {true, false}, RestartRequired, -1, 0},
    {"FirstHasStartedARestart1641",
     {{false, Placed::StandIn, L"exit=1641\n"}, {false, Placed::StandIn, kSucceeds}},
     {0}, {true, false}, RestartRequired, -1, 0},
    {"FirstEndsWithFFFFFFFF",
     {{false, Placed::StandIn, L"exit=0xFFFFFFFF\n"}, {false, Placed::StandIn, kSucceeds}},
     {0}, {true, false}, Failed, 0, 0},
    {"FirstEndsWithFFFFFFFE",
     {{false, Placed::StandIn, L"exit=0xFFFFFFFE\n"}, {false, Placed::StandIn, kSucceeds}},
     {0}, {true, false}, Failed, 0, 0},
    {"FirstCrashes", {{false, Placed::StandIn, L"crash=1\n"}, {false, Placed::StandIn, kSucceeds}},
     {0}, {true, false}, Failed, 0, 0},
    {"FirstInstallerFileMissing", {{false, Placed::Nothing, L""}, {false, Placed::StandIn, kSucceeds}},
     {0}, {false, false}, Aborted, -1, 1},
    {"FolderInPlaceOfTheFirstInstaller",
     {{false, Placed::Folder, L""}, {false, Placed::StandIn, kSucceeds}},
     {0}, {false, false}, Failed, 0, 0},
    {"SecondEndsWithOne", {{false, Placed::StandIn, kSucceeds}, {false, Placed::StandIn, L"exit=1\n"}},
     {0, 1}, {true, true}, Failed, 1, 0},
    {"SecondInstallerFileMissing", {{false, Placed::StandIn, kSucceeds}, {false, Placed::Nothing, L""}},
     {0, 1}, {true, false}, Aborted, -1, 1},
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
    RecordingDialog progress;
    ASSERT_NE(nullptr, progress.recorder.Window());
    app.progressDialog = &progress.dialog;

    MessageBoxWatcher watcher;
    const WorkerRun run = RunWorker(app);
    const auto boxes = watcher.Stop();
    ASSERT_TRUE(run.ended) << "the worker did not end";

    EXPECT_EQ(row.outcome, installOutcome);
    if (row.namedInError < 0) {
        EXPECT_EQ(L"", installErrorText);
    } else {
        const std::wstring failed = LoadResourceString(IDS_INSTALL_FAILED);
        ASSERT_FALSE(failed.empty());
        EXPECT_EQ(failed + L"   - " + app.prerequisites[row.namedInError].displayName, installErrorText);
    }
    EXPECT_EQ(row.announced, progress.recorder.Indices());
    for (const auto& post : progress.recorder.Posts()) EXPECT_EQ(0, post.lParam);
    for (size_t i = 0; i < 2; ++i) ExpectStarted(i, row.ran[i]);
    ASSERT_EQ(row.missingBoxes, boxes.size()) << "message 133 shown a wrong number of times";
    for (const auto& box : boxes) ExpectMissingMessage(box);
}

INSTANTIATE_TEST_SUITE_P(Rows, WorkerOutcomeTest, testing::ValuesIn(kOutcomeRows),
                         [](const testing::TestParamInfo<OutcomeRow>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// An exception inside the worker is caught at its top: the pass ends as a
// failure, the thread returns normally and the process goes on. Running out of
// memory is the exception the worker can meet. The exception crosses the
// worker's frames with the unwinder of the target: DWARF tables on 32-bit
// Windows, the system's unwind tables on 64-bit Windows.

class WorkerExceptionTest : public WorkerFixture, public testing::Test {};

TEST_F(WorkerExceptionTest, NoMemoryForTheWorkerEndsThePassAsFailed) {
    const EntrySetup entries[2] = {{false, Placed::StandIn, kSucceeds}, {false, Placed::StandIn, kSucceeds}};
    Arrange(stage, entries);
    ASSERT_FALSE(HasFatalFailure());
    RecordingDialog progress;
    app.progressDialog = &progress.dialog;

    const WorkerRun run = RunWorker(app, true);
    ASSERT_TRUE(run.ended) << "the worker did not end";
    EXPECT_EQ(0u, run.exitCode) << "the worker did not return from its top";
    EXPECT_EQ(Failed, installOutcome);
    ExpectStarted(0, false);
    ExpectStarted(1, false);

    // The same application object serves a whole pass afterwards.
    installOutcome = kUntouched;
    const WorkerRun again = RunWorker(app);
    ASSERT_TRUE(again.ended);
    EXPECT_EQ(Completed, installOutcome);
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

    RecordingDialog progress;  // told only when the application points at it
    CProgressDialog closed;    // a dialog whose window no longer exists
    switch (row.dialog) {
    case DialogState::Open:
        app.progressDialog = &progress.dialog;
        break;
    case DialogState::None:
        app.progressDialog = nullptr;
        break;
    case DialogState::WindowGone: {
        HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        nullptr, nullptr);
        ASSERT_NE(nullptr, window);
        ::DestroyWindow(window);
        ASSERT_FALSE(::IsWindow(window));
        closed.m_hWnd = window;
        app.progressDialog = &closed;
        break;
    }
    }

    const WorkerRun run = RunWorker(app);
    closed.m_hWnd = nullptr;
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(Completed, installOutcome);
    ExpectStarted(0, true);
    ExpectStarted(1, false);
    const auto started = staged::StartTimeOf(InstallerPath(0));
    ASSERT_TRUE(started.has_value());

    ULONGLONG from = run.resumed;
    if (row.dialog == DialogState::Open) {
        ASSERT_EQ(std::vector<WPARAM>{0}, progress.recorder.Indices());
        from = progress.recorder.Posts()[0].arrival;
    } else {
        EXPECT_TRUE(progress.recorder.Posts().empty());
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

    MessageBoxWatcher watcher;
    DWORD exitCode = 12345;
    const int status = RunInstaller(path, L" /q", exitCode);
    const auto boxes = watcher.Stop();

    const auto starts = staged::StartsOf(path);
    if (row.runs) {
        EXPECT_EQ(0, status);
        EXPECT_EQ(7u, exitCode);
        EXPECT_TRUE(boxes.empty());
        ASSERT_EQ(1u, starts.size());
        EXPECT_EQ(L"\"" + path + L"\" /q", starts[0].commandLine);
    } else {
        EXPECT_EQ(-2, status);
        EXPECT_TRUE(starts.empty()) << "the installer ran";
        ASSERT_EQ(1u, boxes.size()) << "message 133 not shown exactly once";
        ExpectMissingMessage(boxes[0]);
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
    app.LoadAppTitle();
    RecordingDialog progress;
    app.progressDialog = &progress.dialog;
    installOutcome = kUntouched;
    {
        ModuleNameOverride name(mode == L"ProgramPathTooLong"
                                    ? ProgramNameOfLength(staged::OwnFolder(), 300)
                                    : std::wstring(L"worker_test.exe"));
        ASSERT_TRUE(name.Applied());
        EXPECT_EQ(L"", GetPackagesDirectory());

        MessageBoxWatcher watcher;
        const WorkerRun run = RunWorker(app);
        const auto boxes = watcher.Stop();
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(Aborted, installOutcome);
        EXPECT_EQ(L"", installErrorText);
        EXPECT_EQ(std::vector<WPARAM>{0}, progress.recorder.Indices());
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(app.AppTitle(), boxes[0].caption);
        EXPECT_TRUE(Contains(boxes[0].texts, LoadResourceString(IDS_PACKAGES_MISSING)));
    }
    // Nothing was remembered: with the program's real name the folder is found.
    EXPECT_EQ(PackagesFolder(), GetPackagesDirectory());
    app.progressDialog = nullptr;
    if (!HasFailure()) staged::WriteText(result, L"done");
}

// ---------------------------------------------------------------------------
// Every handle and key is closed again.

// Kernel handles (keys among them) held by this process, from the system's
// handle list. GetProcessHandleCount cannot serve under Wine: it answers 0
// whatever the process holds.
struct HandleEntry {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG attributes;
    ULONG reserved;
};

std::optional<size_t> OpenHandleCount() {
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return std::nullopt;
    constexpr ULONG kExtendedHandleInformation = 64;
    constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<ULONG_PTR> buffer(1 << 16);
    LONG status;
    ULONG needed = 0;
    while ((status = query(kExtendedHandleInformation, buffer.data(),
                           static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR)), &needed)) == kLengthMismatch) {
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) return std::nullopt;
    const ULONG_PTR count = buffer[0];
    const auto* entries = reinterpret_cast<const HandleEntry*>(buffer.data() + 2);
    size_t own = 0;
    for (ULONG_PTR i = 0; i < count; ++i) {
        if (entries[i].processId == ::GetCurrentProcessId()) ++own;
    }
    return own;
}

const wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kServerKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Norvalis Server";

void NoteRestart(UINT, DWORD) {}

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
        } worker[] = {{&bothRun, Completed}, {&restart, RestartRequired}, {&firstMissing, Aborted}, {&folder, Failed}};

        MessageBoxWatcher watcher;  // answers messages 133 and 131
        for (const auto& pass : worker) {
            staged::Stage installers;
            Arrange(installers, *pass.entries);
            RecordingDialog progress;
            app.progressDialog = &progress.dialog;
            const WorkerRun run = RunWorker(app);
            app.progressDialog = nullptr;
            ASSERT_TRUE(run.ended);
            EXPECT_EQ(pass.outcome, installOutcome);
        }
        DWORD exitCode = 0;
        EXPECT_EQ(-2, RunInstaller(InstallerPathOfLength(300), L" /q", exitCode));

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
        EXPECT_EQ(4u, boxes.size()) << "messages 133 and 131, twice each";
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
