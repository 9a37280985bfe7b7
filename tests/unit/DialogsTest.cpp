// The three dialogs on the real window manager of Wine, driven from inside
// their own modal loops by a thread timer, as keyboard and mouse would.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "DialogDriver.h"
#include "app/SetupRunner.h"
#include "framework/Strings.h"
#include "res/resource.h"
#include "ui/ProgressDialog.h"
#include "ui/RebootDialog.h"
#include "ui/SetupRunnerDlg.h"

namespace {

// Steps run one per timer tick inside the dialog's modal loop. A step that
// answers false is tried again at the next tick (a condition to wait for).
class Script {
public:
    using Step = std::function<bool()>;

    explicit Script(std::deque<Step> steps) : m_steps(std::move(steps)) {
        current = this;
        m_timer = ::SetTimer(nullptr, 0, 30, &Script::Tick);
    }
    ~Script() {
        ::KillTimer(nullptr, m_timer);
        current = nullptr;
    }
    bool Finished() const { return m_steps.empty(); }

    // Called when the script has not finished after about 10 s, so a broken
    // dialog fails the test instead of hanging it.
    std::function<void()> onTimeout;

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        Script* script = current;
        if (script == nullptr) return;
        if (++script->m_ticks > 330 && script->onTimeout) {
            ADD_FAILURE() << "dialog script timed out";
            auto timeout = std::exchange(script->onTimeout, nullptr);
            timeout();
            return;
        }
        if (!script->m_steps.empty() && script->m_steps.front()()) script->m_steps.pop_front();
    }

    static inline Script* current = nullptr;
    std::deque<Step> m_steps;
    UINT_PTR m_timer = 0;
    int m_ticks = 0;
};

const std::wstring kVcName = L"Microsoft Visual C++ 2010 x86 Redistributable";
const std::wstring kNetName = L"Microsoft .NET Framework 4.6.2";

bool Visible(const CDialog& dialog) {
    return dialog.GetSafeHwnd() != nullptr && ::IsWindowVisible(dialog.GetSafeHwnd());
}

// ---- prerequisites dialog ----

class PrerequisitesDialogTest : public ::testing::Test {
protected:
    CSetupRunnerApp m_app;
    CSetupRunnerDlg m_dialog;
};

TEST_F(PrerequisitesDialogTest, ListsTheNamesInTheGivenOrderWithContinueFocused) {
    m_dialog.m_componentNames = {kVcName, kNetName};
    std::vector<std::wstring> listed;
    HWND focused = nullptr;
    HWND continueButton = nullptr;
    Script script({
        [&] { return Visible(m_dialog); },
        [&] {
            listed = driver::ListItems(m_dialog.m_hWnd, IDC_PREREQ_LIST);
            focused = ::GetFocus();
            continueButton = m_dialog.GetDlgItem(IDOK);
            EXPECT_NE(nullptr, reinterpret_cast<HICON>(::SendMessageW(m_dialog.m_hWnd, WM_GETICON, ICON_BIG, 0)));
            EXPECT_NE(nullptr, reinterpret_cast<HICON>(::SendMessageW(m_dialog.m_hWnd, WM_GETICON, ICON_SMALL, 0)));
            driver::Click(m_dialog.m_hWnd, IDCANCEL);
            return true;
        },
    });
    script.onTimeout = [&] { m_dialog.EndDialog(-2); };
    EXPECT_EQ(IDCANCEL, m_dialog.DoModal());
    EXPECT_EQ((std::vector<std::wstring>{kVcName, kNetName}), listed);
    EXPECT_TRUE(script.Finished());
    // The focus was on "Continue" when the dialog opened.
    EXPECT_NE(nullptr, continueButton);
    EXPECT_EQ(continueButton, focused);
}

struct EndCase {
    const char* name;
    std::function<void(HWND)> act;
    int expected;
};

class PrerequisitesEndTest : public PrerequisitesDialogTest,
                             public ::testing::WithParamInterface<EndCase> {};

TEST_P(PrerequisitesEndTest, EndsWithTheUsersChoice) {
    m_dialog.m_componentNames = {kNetName};
    HWND continueButton = nullptr;
    HWND focusAtOpen = nullptr;
    Script script({
        [&] { return Visible(m_dialog); },
        [&] {
            continueButton = m_dialog.GetDlgItem(IDOK);
            focusAtOpen = ::GetFocus();
            GetParam().act(m_dialog.m_hWnd);
            return true;
        },
    });
    script.onTimeout = [&] { m_dialog.EndDialog(-2); };
    EXPECT_EQ(GetParam().expected, m_dialog.DoModal());
    EXPECT_EQ(continueButton, focusAtOpen);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PrerequisitesEndTest,
    ::testing::Values(
        EndCase{"EnterRightAfterOpening", [](HWND d) { driver::PressKey(d, VK_RETURN); }, IDOK},
        EndCase{"Escape", [](HWND d) { driver::PressKey(d, VK_ESCAPE); }, IDCANCEL},
        EndCase{"ContinueButton", [](HWND d) { driver::Click(d, IDOK); }, IDOK},
        EndCase{"CancelButton", [](HWND d) { driver::Click(d, IDCANCEL); }, IDCANCEL},
        EndCase{"CloseRequest", [](HWND d) { driver::Close(d); }, IDCANCEL}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PrerequisitesDialogTest, SelectingOrDoubleClickingALineEndsNothing) {
    m_dialog.m_componentNames = {kVcName, kNetName};
    bool stillOpen = false;
    std::vector<std::wstring> listedAfter;
    Script script({
        [&] { return Visible(m_dialog); },
        [&] {
            HWND list = m_dialog.GetDlgItem(IDC_PREREQ_LIST);
            RECT item{};
            ::SendMessageW(list, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
            const LPARAM at = MAKELPARAM(item.left + 5, item.top + 2);
            // A real click, then a real double click on the second line.
            ::PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
            ::PostMessageW(list, WM_LBUTTONUP, 0, at);
            ::PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
            ::PostMessageW(list, WM_LBUTTONUP, 0, at);
            return true;
        },
        [&] { return true; },  // let the clicks be handled
        [&] {
            stillOpen = Visible(m_dialog);
            listedAfter = driver::ListItems(m_dialog.m_hWnd, IDC_PREREQ_LIST);
            EXPECT_EQ(1, ::SendMessageW(m_dialog.GetDlgItem(IDC_PREREQ_LIST), LB_GETCURSEL, 0, 0));
            driver::Click(m_dialog.m_hWnd, IDCANCEL);
            return true;
        },
    });
    script.onTimeout = [&] { m_dialog.EndDialog(-2); };
    EXPECT_EQ(IDCANCEL, m_dialog.DoModal());
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ((std::vector<std::wstring>{kVcName, kNetName}), listedAfter);
}

struct IconCase {
    int clientWidth, clientHeight, iconWidth, iconHeight;
    LONG x, y;
};

class IconPositionTest : public ::testing::TestWithParam<IconCase> {};

TEST_P(IconPositionTest, CentresRoundingUpAndTruncatesTowardZero) {
    const IconCase& c = GetParam();
    const POINT at = CSetupRunnerDlg::IconPosition(c.clientWidth, c.clientHeight, c.iconWidth, c.iconHeight);
    EXPECT_EQ(c.x, at.x);
    EXPECT_EQ(c.y, at.y);
}

INSTANTIATE_TEST_SUITE_P(Table, IconPositionTest,
                         ::testing::Values(IconCase{69, 32, 32, 32, 19, 0},   // 37 wider: (37 + 1) / 2
                                           IconCase{0, 0, 32, 32, -15, -15},  // -31 / 2 toward zero
                                           IconCase{48, 49, 32, 32, 8, 9},
                                           IconCase{33, 16, 32, 16, 1, 0}));

TEST(FrameworkDialogTest, MissingTemplateGivesMinusOne) {
    CDialog dialog(4242);
    EXPECT_EQ(-1, dialog.DoModal());
    EXPECT_EQ(nullptr, dialog.GetSafeHwnd());
}

// ---- progress dialog ----

// A worker the test steers: it records that it ran, posts what it is told to
// post and ends when released.
struct SteeredWorker {
    std::atomic<bool> started{false};
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE step = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> toPost{-1};
    HWND window = nullptr;
    ~SteeredWorker() {
        ::CloseHandle(release);
        ::CloseHandle(step);
    }

    static DWORD WINAPI Run(LPVOID self) {
        auto* worker = static_cast<SteeredWorker*>(self);
        worker->started = true;
        HANDLE waits[] = {worker->release, worker->step};
        for (;;) {
            const DWORD which = ::WaitForMultipleObjects(2, waits, FALSE, 20000);
            if (which != WAIT_OBJECT_0 + 1) return 0;  // released (or stuck): end
            ::PostMessageW(worker->window, WM_INSTALLING_COMPONENT, worker->toPost.load(), 0);
        }
    }
};

class ProgressDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dialog.m_componentNames = {kVcName, kNetName};
        m_thread = ::CreateThread(nullptr, 0, SteeredWorker::Run, &m_worker, CREATE_SUSPENDED, nullptr);
        ASSERT_NE(nullptr, m_thread);
        m_dialog.m_hWorkerThread = m_thread;
    }
    void TearDown() override {
        ::SetEvent(m_worker.release);
        ::ResumeThread(m_thread);
        ::WaitForSingleObject(m_thread, 5000);
        ::CloseHandle(m_thread);
    }
    void Post(int index) {
        m_worker.window = m_dialog.m_hWnd;
        m_worker.toPost = index;
        ::SetEvent(m_worker.step);
    }
    std::wstring NameLine() const { return driver::ControlText(m_dialog.m_hWnd, IDC_COMPONENT_NAME); }

    CSetupRunnerApp m_app;
    CProgressDialog m_dialog;
    SteeredWorker m_worker;
    HANDLE m_thread = nullptr;
};

TEST_F(ProgressDialogTest, ShowsEachAnnouncedNameInPlaceOfThePreviousOne) {
    std::wstring blank, first, second, afterBadIndex;
    LONG barStyle = 0;
    EXPECT_FALSE(m_worker.started);  // created suspended: nothing runs before the dialog
    Script script({
        [&] { return Visible(m_dialog) && m_worker.started; },
        [&] {
            blank = NameLine();
            barStyle = ::GetWindowLongW(m_dialog.GetDlgItem(IDC_PROGRESS), GWL_STYLE);
            Post(0);
            return true;
        },
        [&] { return NameLine() == kVcName; },
        [&] { first = NameLine(); Post(1); return true; },
        [&] { return NameLine() == kNetName; },
        [&] { second = NameLine(); Post(7); return true; },
        [&] { return true; },
        [&] { afterBadIndex = NameLine(); ::SetEvent(m_worker.release); return true; },
    });
    script.onTimeout = [&] { ::SetEvent(m_worker.release); };
    EXPECT_EQ(IDCANCEL, m_dialog.DoModal());
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(L" ", blank);
    EXPECT_EQ(kVcName, first);
    EXPECT_EQ(kNetName, second);
    // An index outside the catalog changes nothing.
    EXPECT_EQ(kNetName, afterBadIndex);
    EXPECT_TRUE(barStyle & PBS_MARQUEE);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(m_thread, 0));
}

TEST_F(ProgressDialogTest, StaysOpenUnderKeysAndCloseRequestsWhileTheWorkerRuns) {
    bool openAfterKeys = false;
    std::wstring blankAtEnd;
    Script script({
        [&] { return Visible(m_dialog); },
        [&] {
            driver::PressKey(m_dialog.m_hWnd, VK_RETURN);
            driver::PressKey(m_dialog.m_hWnd, VK_ESCAPE);
            driver::Close(m_dialog.m_hWnd);
            ::PostMessageW(m_dialog.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);  // Alt+F4
            ::PostMessageW(m_dialog.m_hWnd, WM_COMMAND, IDOK, 0);
            ::PostMessageW(m_dialog.m_hWnd, WM_COMMAND, IDCANCEL, 0);
            return true;
        },
        [&] { return true; },
        [&] {
            openAfterKeys = Visible(m_dialog);
            blankAtEnd = NameLine();
            ::SetEvent(m_worker.release);
            return true;
        },
    });
    script.onTimeout = [&] { ::SetEvent(m_worker.release); };
    EXPECT_EQ(IDCANCEL, m_dialog.DoModal());
    EXPECT_TRUE(openAfterKeys);
    // Nothing was announced: the name line kept its single blank.
    EXPECT_EQ(L" ", blankAtEnd);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(m_thread, 0));
}

TEST_F(ProgressDialogTest, ClosesWhenTheWorkerEndsBeforeTheFirstIdleMoment) {
    ::SetEvent(m_worker.release);  // the worker ends as soon as it is resumed
    ULONGLONG began = ::GetTickCount64();
    EXPECT_EQ(IDCANCEL, m_dialog.DoModal());
    EXPECT_TRUE(m_worker.started);
    EXPECT_LT(::GetTickCount64() - began, 5000u);
    EXPECT_EQ(nullptr, m_dialog.GetSafeHwnd());
}

// Every PBM_SETMARQUEE sent on this thread while it lives: on or off, and the
// interval between the marquee's steps.
class MarqueeRequests {
public:
    MarqueeRequests() {
        current = this;
        m_hook = ::SetWindowsHookExW(WH_CALLWNDPROC, &MarqueeRequests::Hook, nullptr, ::GetCurrentThreadId());
    }
    ~MarqueeRequests() {
        if (m_hook != nullptr) ::UnhookWindowsHookEx(m_hook);
        current = nullptr;
    }
    bool Hooked() const { return m_hook != nullptr; }

    std::vector<std::pair<WPARAM, LPARAM>> requests;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && current != nullptr && sent->message == PBM_SETMARQUEE) {
            current->requests.emplace_back(sent->wParam, sent->lParam);
        }
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static inline MarqueeRequests* current = nullptr;
    HHOOK m_hook = nullptr;
};

// The control's client area as the control draws it into memory: under Wine's
// null graphics driver there are no pixels on any screen, but a control still
// paints into a memory bitmap when asked to print itself.
std::vector<DWORD> Picture(HWND control) {
    RECT client{};
    ::GetClientRect(control, &client);
    std::vector<DWORD> pixels;
    if (client.right <= 0 || client.bottom <= 0) return pixels;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = -client.bottom;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC memory = ::CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (memory != nullptr && bitmap != nullptr) {
        HGDIOBJ previous = ::SelectObject(memory, bitmap);
        ::SendMessageW(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT | PRF_ERASEBKGND);
        ::GdiFlush();
        const auto* first = static_cast<const DWORD*>(bits);
        pixels.assign(first, first + static_cast<size_t>(client.right) * client.bottom);
        ::SelectObject(memory, previous);
    }
    if (bitmap != nullptr) ::DeleteObject(bitmap);
    if (memory != nullptr) ::DeleteDC(memory);
    return pixels;
}

TEST_F(ProgressDialogTest, MarqueeStartsWithTheAskedIntervalAndItsDrawingMoves) {
    MarqueeRequests marquee;
    ASSERT_TRUE(marquee.Hooked());
    // One picture per script tick (30 ms, three of the marquee's steps): a bar
    // that never steps draws the same picture every time.
    constexpr size_t kPictures = 12;
    std::vector<std::vector<DWORD>> pictures;
    Script script({
        [&] { return Visible(m_dialog) && m_worker.started; },
        [&] {
            pictures.push_back(Picture(m_dialog.GetDlgItem(IDC_PROGRESS)));
            return pictures.size() == kPictures;
        },
        [&] { ::SetEvent(m_worker.release); return true; },
    });
    script.onTimeout = [&] { ::SetEvent(m_worker.release); };
    EXPECT_EQ(IDCANCEL, m_dialog.DoModal());
    EXPECT_TRUE(script.Finished());

    // Switched on once, with 10 ms between steps.
    EXPECT_EQ((std::vector<std::pair<WPARAM, LPARAM>>{{TRUE, 10}}), marquee.requests);
    ASSERT_EQ(kPictures, pictures.size());
    ASSERT_FALSE(pictures[0].empty()) << "the bar has no client area to draw";
    size_t changes = 0;
    for (size_t i = 1; i < pictures.size(); ++i) {
        if (pictures[i] != pictures[i - 1]) ++changes;
    }
    RecordProperty("picture_changes", static_cast<int>(changes));
    EXPECT_GE(changes, 2u) << "the marquee's drawing did not move";
}

TEST(ProgressDialogAloneTest, AFailedWaitClosesTheDialogLikeAnEndedWorker) {
    CSetupRunnerApp app;
    CProgressDialog dialog;
    dialog.m_hWorkerThread = nullptr;  // waiting on no handle fails
    EXPECT_EQ(IDCANCEL, dialog.DoModal());
}

// ---- restart dialog ----

struct RebootCase {
    const char* name;
    bool registered;
    std::function<void(HWND)> close;
    int expected;
};

class RebootDialogTest : public ::testing::TestWithParam<RebootCase> {};

TEST_P(RebootDialogTest, ShowsItsMessageAndEveryWayOfClosingReturns) {
    CSetupRunnerApp app;
    const RebootCase& c = GetParam();
    RebootDialog dialog(c.registered);
    std::wstring text, button;
    HICON icon = nullptr;
    HWND focused = nullptr;
    HWND restartButton = nullptr;
    LRESULT buttonCode = 0;
    Script script({
        [&] { return Visible(dialog); },
        [&] {
            restartButton = dialog.GetDlgItem(IDCANCEL);
            focused = ::GetFocus();
            buttonCode = ::SendMessageW(restartButton, WM_GETDLGCODE, 0, 0);
            text = driver::ControlText(dialog.m_hWnd, IDC_REBOOT_TEXT);
            button = driver::ControlText(dialog.m_hWnd, IDCANCEL);
            icon = reinterpret_cast<HICON>(::SendDlgItemMessageW(dialog.m_hWnd, IDC_REBOOT_ICON, STM_GETICON, 0, 0));
            c.close(dialog.m_hWnd);
            return true;
        },
    });
    script.onTimeout = [&] { dialog.EndDialog(-2); };
    EXPECT_EQ(c.expected, dialog.DoModal());
    // The dialog opened with the focus on its only button, "Restart".
    EXPECT_NE(nullptr, restartButton);
    EXPECT_EQ(restartButton, focused);
    // Wine's dialog manager gives it the focus without making it the default
    // push button, and the template names no default id: Enter then sends
    // IDOK, with which the base class ends the dialog (the Enter row). The
    // restart follows either way.
    EXPECT_EQ(DLGC_UNDEFPUSHBUTTON, buttonCode & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON));
    const std::wstring expected = LoadResourceString(c.registered ? IDS_SERVER_CONTINUES : IDS_RESTART_REQUIRED);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(expected, text);
    EXPECT_EQ(c.registered ? 0 : 1, std::count(text.begin(), text.end(), L'\n'));
    EXPECT_NE(nullptr, icon);
    EXPECT_FALSE(button.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, RebootDialogTest,
    ::testing::Values(
        RebootCase{"RestartButton", true, [](HWND d) { driver::Click(d, IDCANCEL); }, IDCANCEL},
        RebootCase{"Escape", true, [](HWND d) { driver::PressKey(d, VK_ESCAPE); }, IDCANCEL},
        RebootCase{"Enter", false, [](HWND d) { driver::PressKey(d, VK_RETURN); }, IDOK},
        RebootCase{"CloseRequest", false, [](HWND d) { driver::Close(d); }, IDCANCEL},
        RebootCase{"AltF4", true, [](HWND d) { ::PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); }, IDCANCEL},
        RebootCase{"OkCommand", false, [](HWND d) { ::PostMessageW(d, WM_COMMAND, IDOK, 0); }, IDOK}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
