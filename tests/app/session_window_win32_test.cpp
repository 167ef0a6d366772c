// The calibration window's procedure and the touch capture hook under Wine,
// driven message by message against the virtual controller (virtual clock:
// the protocol's waits cost nothing here).
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/calibration_window_win32.h"
#include "app/session_state.h"
#include "device/controller_protocol.h"
#include "tools/virtual-controller/native_adapter.h"

namespace {

// Private and session messages posted to `window`, in order; everything else
// is dispatched.
std::vector<UINT> TakePosted(HWND window) {
    std::vector<UINT> posted;
    MSG message;
    while (PeekMessageW(&message, window, 0, 0, PM_REMOVE)) {
        if (message.message >= WM_CALIB_START && message.message <= WM_CALIB_EXIT) {
            posted.push_back(message.message);
        } else if (message.message != WM_TIMER && message.message != WM_PAINT) {
            DispatchMessageW(&message);
        }
    }
    return posted;
}

bool QuitPosted() {
    MSG message;
    return PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
}

int CountEvents(const std::string& prefix) {
    int n = 0;
    for (const std::string& e : VcNativeEvents()) {
        if (e.compare(0, prefix.size(), prefix) == 0) {
            ++n;
        }
    }
    return n;
}

// The four targets of a 1024 x 768 screen.
constexpr int kStraightX[4] = {204, 819, 819, 204};
constexpr int kStraightY[4] = {153, 614, 153, 614};

// A message box found by another thread: its text and where it stood.
struct SeenBox {
    std::wstring text;
    RECT rect = {0, 0, 0, 0};
    bool found = false;
    bool hookInPlace = false;     // the touch hook, while the box was open
    HWND capture = nullptr;       // the owner thread's capture, then
};

// Waits (bounded) on a helper thread for a box with `caption`, records it and
// then either clicks `button` or, when `closeOwner` is set, posts WM_CLOSE
// to the owner instead and leaves the box to its fate.
class BoxAnswerer {
public:
    BoxAnswerer(const wchar_t* caption, int button, HWND closeOwner = nullptr)
        : thread_([this, caption, button, closeOwner] { Run(caption, button, closeOwner); }) {}
    ~BoxAnswerer() { Join(); }
    void Join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    SeenBox seen;

private:
    void Run(const wchar_t* caption, int button, HWND closeOwner) {
        for (int i = 0; i < 1000; ++i) {
            HWND box = FindWindowW(L"#32770", caption);
            if (box != nullptr && IsWindowVisible(box)) {
                wchar_t text[256] = {};
                GetDlgItemTextW(box, 0xFFFF, text, 256);
                seen.text = text;
                GetWindowRect(box, &seen.rect);
                seen.hookInPlace = gSession.mouseHook != nullptr;
                GUITHREADINFO thread = {};
                thread.cbSize = sizeof(thread);
                if (GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &thread)) {
                    seen.capture = thread.hwndCapture;
                }
                seen.found = true;
                if (closeOwner != nullptr) {
                    PostMessageW(closeOwner, WM_CLOSE, 0, 0);
                } else {
                    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
                }
                return;
            }
            Sleep(10);
        }
    }
    std::thread thread_;
};

class SessionWindow : public ::testing::Test {
protected:
    void SetUp() override {
        gSession = InitialSessionState();
        gSession.instance = GetModuleHandleW(nullptr);
        std::string error;
        ASSERT_TRUE(VcNativeLoadConfig("controller\n", &error)) << error;
        ASSERT_TRUE(VcNativeOpen(0));
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = gSession.instance;
        windowClass.lpszClassName = L"KelCalibSessionTest";
        RegisterClassExW(&windowClass);
        // Created plain, then given the calibration procedure, so that the
        // opening steps of WM_CREATE stay out of these tests.
        window_ = CreateWindowExW(0, L"KelCalibSessionTest", nullptr, WS_POPUP, 100, 50, 600, 400,
                                  nullptr, nullptr, gSession.instance, nullptr);
        ASSERT_NE(window_, nullptr);
        SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CalibrationWndProc));
        gSession.mainWindow = window_;
        gSession.logicalMaxX = 0x7FFF;
        gSession.logicalMaxY = 0x7FFF;
        VcNativeSetTouch(512, 384, 1024, 768);
    }
    void TearDown() override {
        if (gSession.mouseHook != nullptr) {
            UnhookWindowsHookEx(gSession.mouseHook);
        }
        if (IsWindow(window_)) {
            DestroyWindow(window_);
        }
        TakePosted(window_);
        QuitPosted();
    }
    LRESULT Send(UINT message, WPARAM wParam = 0) {
        return CalibrationWndProc(window_, message, wParam, 0);
    }
    // A release long enough after the last one to pass the debounce.
    LRESULT DebouncedRelease(WPARAM button) {
        gSession.elapsedMs = 0;
        gSession.lastTick = GetTickCount() - 1000;
        return TouchCaptureHook(HC_ACTION, button, 0);
    }
    HWND window_ = nullptr;
};

TEST_F(SessionWindow, HookSwallowsButtonsAndPassesEverythingElseUntouched) {
    gSession.lastTick = 12345;
    gSession.elapsedMs = 7;
    for (WPARAM press : {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN}) {
        EXPECT_EQ(TouchCaptureHook(HC_ACTION, press, 0), 1) << press;
    }
    for (WPARAM other : {WM_MOUSEMOVE, WM_MOUSEWHEEL, WM_XBUTTONDOWN, WM_XBUTTONUP}) {
        EXPECT_EQ(TouchCaptureHook(HC_ACTION, other, 0), 0) << other;
    }
    EXPECT_EQ(TouchCaptureHook(-1, WM_LBUTTONUP, 0), 0) << "negative code: not looked at";
    EXPECT_EQ(gSession.lastTick, 12345u);
    EXPECT_EQ(gSession.elapsedMs, 7);
    EXPECT_TRUE(TakePosted(window_).empty());
    EXPECT_EQ(VcNativeGetCalls(), 0);
}

TEST_F(SessionWindow, HookTurnsEachButtonsReleaseIntoPointsAndSolvesOnce) {
    SendTargetCue();
    const WPARAM releases[4] = {WM_LBUTTONUP, WM_RBUTTONUP, WM_MBUTTONUP, WM_LBUTTONUP};
    for (int i = 0; i < 4; ++i) {
        VcNativeSetTouch(kStraightX[i], kStraightY[i], 1024, 768);
        EXPECT_EQ(DebouncedRelease(releases[i]), 1);
        const std::vector<UINT> want =
            i < 3 ? std::vector<UINT>{WM_CALIB_NEXT} : std::vector<UINT>{WM_CALIB_NEXT, WM_CALIB_SOLVE};
        EXPECT_EQ(TakePosted(window_), want) << i;
        EXPECT_EQ(gSession.pointCount, i + 1);
        // Straight panel: raw = 65535 * pixel / size, rounded.
        EXPECT_NEAR(gSession.rawPoints[i].x, 65535.0 * kStraightX[i] / 1024, 1) << i;
        EXPECT_NEAR(gSession.rawPoints[i].y, 65535.0 * kStraightY[i] / 768, 1) << i;
    }
    const std::int64_t reads = VcNativeGetCalls();
    EXPECT_EQ(DebouncedRelease(WM_LBUTTONUP), 1) << "a fifth release is still swallowed";
    EXPECT_TRUE(TakePosted(window_).empty()) << "but posts nothing";
    EXPECT_EQ(VcNativeGetCalls(), reads) << "and reads nothing";
    EXPECT_EQ(gSession.pointCount, 4);
}

TEST_F(SessionWindow, HookRejectsAnEarlyReleaseAndRepeatsTheTargetWithoutAPacket) {
    SendTargetCue();
    gSession.lastTick = GetTickCount();
    gSession.elapsedMs = -100000;  // far below the debounce whatever the clock does
    EXPECT_EQ(TouchCaptureHook(HC_ACTION, WM_LBUTTONUP, 0), 1);
    EXPECT_TRUE(TakePosted(window_).empty());
    EXPECT_EQ(gSession.pointCount, 0);

    VcNativeSetTouching(false);
    EXPECT_EQ(DebouncedRelease(WM_LBUTTONUP), 1);
    EXPECT_EQ(TakePosted(window_), std::vector<UINT>{WM_CALIB_NEXT}) << "same target again";
    EXPECT_EQ(gSession.pointCount, 0);
    EXPECT_EQ(gSession.elapsedMs, 0);
}

TEST_F(SessionWindow, KeysAndButtonUpsAreHandledWithoutDefaultProcessing) {
    EXPECT_EQ(Send(WM_KEYDOWN, 'A'), 0);
    EXPECT_TRUE(TakePosted(window_).empty());
    EXPECT_EQ(Send(WM_KEYDOWN, VK_ESCAPE), 0);
    EXPECT_EQ(TakePosted(window_), std::vector<UINT>{WM_CALIB_ABORT});
    for (UINT up : {WM_LBUTTONUP, WM_RBUTTONUP, WM_MBUTTONUP}) {
        EXPECT_EQ(Send(up), 0);
    }
    // Something the table does not name goes to DefWindowProcW.
    EXPECT_EQ(Send(WM_GETDLGCODE), DefWindowProcW(window_, WM_GETDLGCODE, 0, 0));
    EXPECT_TRUE(TakePosted(window_).empty());
}

TEST_F(SessionWindow, TimerAdvancesTheDebounceClock) {
    gSession.lastTick = GetTickCount() - 50;
    gSession.elapsedMs = 10;
    EXPECT_EQ(Send(WM_TIMER, kTrackingTimerId), 0);
    EXPECT_GE(gSession.elapsedMs, 61) << "50 ms measured plus the extra millisecond";
    EXPECT_GE(gSession.lastTick, GetTickCount() - 1000);
}

TEST_F(SessionWindow, StartSendsIdentityAndShowsTheFirstTarget) {
    gSession.pointCount = 3;
    EXPECT_EQ(Send(WM_CALIB_START), 0);
    EXPECT_NE(gSession.mouseHook, nullptr);
    EXPECT_EQ(gSession.pointCount, 0);
    EXPECT_EQ(TakePosted(window_), std::vector<UINT>{WM_CALIB_NEXT});
    const std::vector<std::string> events = VcNativeEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], "Cx accept 1 0 0 1");
    EXPECT_EQ(events[1], "Cy accept 0 1 0 1");

    EXPECT_EQ(Send(WM_CALIB_NEXT), 0);
    EXPECT_EQ(CountEvents("Q cue"), 1);
}

TEST_F(SessionWindow, ANewPassStartsWithAClearedDebounceClock) {
    // As after a No to the question: long past the last accepted touch.
    gSession.lastTick = GetTickCount();
    gSession.elapsedMs = 100000;
    EXPECT_EQ(Send(WM_CALIB_START), 0);
    EXPECT_EQ(TakePosted(window_), std::vector<UINT>{WM_CALIB_NEXT});
    const std::int64_t reads = VcNativeGetCalls();
    EXPECT_EQ(TouchCaptureHook(HC_ACTION, WM_LBUTTONUP, 0), 1);
    EXPECT_TRUE(TakePosted(window_).empty()) << "a release within 300 ms of the pass is dropped";
    EXPECT_EQ(gSession.pointCount, 0);
    EXPECT_EQ(VcNativeGetCalls(), reads);
}

TEST_F(SessionWindow, RefusedIdentityShowsItsErrorCentredThenAborts) {
    std::string error;
    ASSERT_TRUE(VcNativeLoadConfig("controller\nfault reject 8\n", &error)) << error;
    ASSERT_TRUE(VcNativeOpen(0));
    gSession.pointCount = 2;
    BoxAnswerer answer(L"Fatal error!", IDOK);
    EXPECT_EQ(Send(WM_CALIB_START), 0);
    answer.Join();
    ASSERT_TRUE(answer.seen.found);
    EXPECT_EQ(answer.seen.text, kTransferErrorText);
    // The pass was over before the box came: a tap on it is the box's own.
    EXPECT_FALSE(answer.seen.hookInPlace) << "the touch hook was still in place";
    EXPECT_EQ(answer.seen.capture, nullptr) << "the window still held the capture";
    EXPECT_EQ(gSession.mouseHook, nullptr);
    EXPECT_EQ(gSession.pointCount, 2) << "no new pass";
    EXPECT_EQ(TakePosted(window_), std::vector<UINT>{WM_CALIB_ABORT});
    // Centred on the calibration window (100, 50)-(700, 450).
    const RECT& b = answer.seen.rect;
    EXPECT_NEAR((b.left + b.right) / 2, 400, 1);
    EXPECT_NEAR((b.top + b.bottom) / 2, 250, 1);
    EXPECT_EQ(gSession.messageBoxHook, nullptr);
}

TEST_F(SessionWindow, CloseAbortsWithoutDestroyingTheWindow) {
    for (UINT request : {static_cast<UINT>(WM_CLOSE), WM_CALIB_ABORT}) {
        VcNativeClearCounters();
        EXPECT_EQ(Send(request), 0);
        EXPECT_TRUE(IsWindow(window_));
        EXPECT_EQ(TakePosted(window_), std::vector<UINT>{WM_CALIB_EXIT});
        const std::vector<VcLogEntry> sets = VcNativeTransfers(VcLogKind::kSet);
        ASSERT_EQ(sets.size(), 1u) << request;
        EXPECT_NE(VcFormatLogEntry(sets[0]).find(": 55 01 52 73 0d"), std::string::npos)
            << VcFormatLogEntry(sets[0]);
    }
}

TEST_F(SessionWindow, ExitReleasesEverythingAndNeverTouchesTheClosedHandleAgain) {
    HANDLE device = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    gSession.device = device;
    gSession.timerId = SetTimer(window_, kTrackingTimerId, 1, nullptr);
    ASSERT_NE(gSession.timerId, 0u);
    gSession.mouseHook = SetWindowsHookExW(WH_MOUSE_LL, TouchCaptureHook, gSession.instance, 0);
    EXPECT_EQ(Send(WM_CALIB_EXIT), 0);
    EXPECT_EQ(gSession.device, nullptr);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(device, &flags)) << "the controller handle is closed";
    EXPECT_EQ(gSession.timerId, 0u);
    EXPECT_EQ(gSession.mouseHook, nullptr);
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_TRUE(QuitPosted());

    // A handle opened later may get the same value: a second exit leaves it be.
    HANDLE later = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(Send(WM_CALIB_EXIT), 0);
    EXPECT_TRUE(GetHandleInformation(later, &flags));
    CloseHandle(later);
}

// The four touches of a straight panel, as raw points.
void StoreStraightPoints() {
    for (int i = 0; i < 4; ++i) {
        gSession.rawPoints[i].x = 65535 * kStraightX[i] / 1024;
        gSession.rawPoints[i].y = 65535 * kStraightY[i] / 768;
    }
    gSession.pointCount = 4;
}

TEST_F(SessionWindow, SolveSendsRecordsAsksAndCommitsOnYes) {
    StoreStraightPoints();
    gSession.mouseHook = SetWindowsHookExW(WH_MOUSE_LL, TouchCaptureHook, gSession.instance, 0);
    BoxAnswerer answer(kConfirmCaption, IDYES);
    EXPECT_EQ(Send(WM_CALIB_SOLVE), 0);
    answer.Join();
    ASSERT_TRUE(answer.seen.found);
    EXPECT_EQ(answer.seen.text, kConfirmText);
    EXPECT_EQ(gSession.mouseHook, nullptr);
    EXPECT_EQ(CountEvents("Cx accept"), 1);
    EXPECT_EQ(CountEvents("Cy accept"), 1);
    EXPECT_EQ(CountEvents("CS accept"), 1);
    EXPECT_EQ(CountEvents("WC accept"), 1);
    EXPECT_EQ(TakePosted(window_), std::vector<UINT>{WM_CALIB_EXIT});
}

TEST_F(SessionWindow, SolveStartsOverOnNoAndOnRefusedRecords) {
    StoreStraightPoints();
    {
        BoxAnswerer answer(kConfirmCaption, IDNO);
        EXPECT_EQ(Send(WM_CALIB_SOLVE), 0);
    }
    EXPECT_EQ(CountEvents("CS"), 0);
    EXPECT_EQ(TakePosted(window_), std::vector<UINT>{WM_CALIB_START});

    std::string error;
    ASSERT_TRUE(VcNativeLoadConfig("controller\nfault reject 8\n", &error)) << error;
    ASSERT_TRUE(VcNativeOpen(0));
    EXPECT_EQ(Send(WM_CALIB_SOLVE), 0) << "no question is asked: nothing answers one here";
    EXPECT_EQ(CountEvents("Cy accept"), 1) << "Y is sent even after X was refused";
    EXPECT_EQ(TakePosted(window_), std::vector<UINT>{WM_CALIB_START});
}

TEST_F(SessionWindow, NothingIsCommittedWhenTheWindowClosesWhileTheQuestionIsOpen) {
    StoreStraightPoints();
    BoxAnswerer closer(kConfirmCaption, 0, window_);
    EXPECT_EQ(Send(WM_CALIB_SOLVE), 0);
    closer.Join();
    ASSERT_TRUE(closer.seen.found);
    EXPECT_EQ(CountEvents("CS"), 0);
    EXPECT_EQ(CountEvents("WC"), 0);
    EXPECT_EQ(gSession.device, nullptr);
    EXPECT_FALSE(IsWindow(window_));
}

// Each command sent, with whether the touch hook was in place as it went
// out: "Cx-" is an X record sent without the hook, "Q+" a cue with it.
std::vector<std::string> gSentWithHook;

void RecordSentWithHook(const std::uint8_t* report, std::uint32_t length) {
    // The report ID, then 0x01 and the command's letters.
    std::string command = length < 4 ? "?" : std::string(1, static_cast<char>(report[2]));
    if (command != "Q" && length >= 4) command += static_cast<char>(report[3]);
    gSentWithHook.push_back(command + (gSession.mouseHook != nullptr ? "+" : "-"));
}

// A low-level hook that does not answer in time is removed by Windows
// without a word, and every handshake blocks the thread for 400 ms or more:
// over two passes (No, then Yes), only the cues go out with the hook in place.
TEST_F(SessionWindow, NoHandshakeRunsWhileTheTouchHookIsInPlace) {
    gSentWithHook.clear();
    VcNativeObserveSets(RecordSentWithHook);
    std::vector<UINT> queue{WM_CALIB_START};
    for (int answer : {IDNO, IDYES}) {
        BoxAnswerer question(kConfirmCaption, answer);
        for (int step = 0; step < 40 && !queue.empty(); ++step) {
            const UINT message = queue.front();
            queue.erase(queue.begin());
            Send(message);
            if (message == WM_CALIB_NEXT && gSession.pointCount < kTargetCount) {
                const int i = gSession.pointCount;
                VcNativeSetTouch(kStraightX[i], kStraightY[i], 1024, 768);
                EXPECT_EQ(DebouncedRelease(WM_LBUTTONUP), 1);
            }
            for (UINT posted : TakePosted(window_)) queue.push_back(posted);
            if (message == WM_CALIB_SOLVE) break;
        }
        question.Join();
        EXPECT_TRUE(question.seen.found) << answer;
    }
    VcNativeObserveSets(nullptr);
    const std::vector<std::string> pass = {"Cx-", "Cy-", "Q+", "Q+", "Q+", "Q+", "Q+", "Cx-", "Cy-"};
    std::vector<std::string> want = pass;
    want.insert(want.end(), pass.begin(), pass.end());
    want.insert(want.end(), {"CS-", "WC-"});
    EXPECT_EQ(gSentWithHook, want);
    EXPECT_EQ(queue, std::vector<UINT>{WM_CALIB_EXIT});
}

}  // namespace
