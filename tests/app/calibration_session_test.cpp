// The session's decisions, natively, against the virtual controller with its
// virtual clock: the platform's part is a recorder here, so each test sees
// what the session asked of the platform and what it sent to the controller.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "app/calibration_session.h"
#include "app/session_platform.h"
#include "app/session_state.h"
#include "tools/virtual-controller/native_adapter.h"

namespace {

// The four targets of a 1024 x 768 screen.
constexpr int kTargets[4][2] = {{204, 153}, {819, 614}, {819, 153}, {204, 614}};

std::vector<std::string> gAsked;  // what the session asked of the platform
std::deque<UINT> gPosted;
std::vector<std::string> gSent;   // commands, in order ("Cx", "Q", "Rs", ...)
SessionAnswer gAnswer = SessionAnswer::kYes;
bool gCloseAtQuestion = false;
std::string gWhen;                // command on whose way out...
void (*gThen)() = nullptr;        // ...this happens

void RecordCommand(const std::uint8_t* report, std::uint32_t length) {
    std::string command = length < 4 ? "?" : std::string(1, static_cast<char>(report[2]));
    if (command != "Q" && length >= 4) command += static_cast<char>(report[3]);
    gSent.push_back(command);
    if (gThen != nullptr && command == gWhen) {
        gThen();
        gThen = nullptr;
    }
}

void RequestLeave() { gLeaveRequested = 1; }
void Unplug() { gSession.deviceGone = true; }

class Session : public ::testing::Test {
protected:
    void SetUp() override {
        gSession = InitialSessionState();
        std::string error;
        ASSERT_TRUE(VcNativeLoadConfig("controller\n", &error)) << error;
        ASSERT_TRUE(VcNativeOpen(0));
        VcNativeObserveSets(RecordCommand);
        gAsked.clear();
        gPosted.clear();
        gSent.clear();
        gAnswer = SessionAnswer::kYes;
        gCloseAtQuestion = false;
        gThen = nullptr;
        gLeaveRequested = 0;
        gSession.logicalMaxX = 0x7FFF;
        gSession.logicalMaxY = 0x7FFF;
        gSession.outcome = SessionOutcome::kRunning;
    }
    void TearDown() override { VcNativeObserveSets(nullptr); }

    // Handles the posted messages in order, touching each target of a
    // collecting pass once its cue went out, until the session ends or
    // `last` was handled.
    void Run(UINT first, UINT last = WM_CALIB_EXIT) {
        gPosted.push_back(first);
        RunQueue(last);
    }
    void RunQueue(UINT last = WM_CALIB_EXIT) {
        std::uint32_t now = 0;
        for (int step = 0; step < 100 && !gPosted.empty(); ++step) {
            const UINT message = gPosted.front();
            gPosted.pop_front();
            HandleSessionMessage(message);
            if (message == last) return;
            if (message == WM_CALIB_NEXT && collecting_ && gSession.pointCount < 4) {
                const int* t = kTargets[gSession.pointCount];
                VcNativeSetTouch(t[0], t[1], 1024, 768);
                now += 1000;
                TakeRelease(now);
            }
        }
    }
    bool collecting_ = false;
};

}  // namespace

// The platform's part, recorded.
void PostSessionMessage(UINT message) { gPosted.push_back(message); }
void CaptureTouches() { gAsked.push_back("capture"); }
void ReleaseTouches() { gAsked.push_back("release"); }
void ShowCurrentTarget() { gAsked.push_back("target"); }
void ShowMisclick(std::int32_t) { gAsked.push_back("misclick"); }
void ShowSessionMessage(SessionMessage message) {
    gAsked.push_back(message == SessionMessage::kNoController ? "no-controller" : "transfer-error");
}
SessionAnswer AskCalibrationQuestion() {
    gAsked.push_back("question");
    if (gCloseAtQuestion) {
        AbandonSession(AbandonReason::kCloseRequest);
        return SessionAnswer::kUnanswered;
    }
    return gAnswer;
}
void ApplyTouchMapping() { gAsked.push_back("map"); }
void RestoreTouchMapping() { gAsked.push_back("unmap"); }
void KeepTouchMapping() { gAsked.push_back("keep"); }
void EndSessionWindow() { gAsked.push_back("end"); }

namespace {

const std::vector<std::string> kPass = {"Cx", "Cy", "Q", "Q", "Q", "Q", "Q", "Cx", "Cy"};

std::vector<std::string> Then(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Only Yes commits; No and a question left unanswered (a box that could
// not open) start a new pass; a close while the question is open ends the
// session with the abort command there and then.
TEST_F(Session, OnlyYesCommits) {
    struct Case {
        SessionAnswer answer;
        bool close;
        std::vector<std::string> sent;
        SessionOutcome outcome;
        UINT next;  // the message posted after the question (0: none)
    };
    const Case cases[] = {
        {SessionAnswer::kYes, false, Then(kPass, {"CS", "WC"}), SessionOutcome::kCalibrated, WM_CALIB_EXIT},
        {SessionAnswer::kNo, false, kPass, SessionOutcome::kRunning, WM_CALIB_START},
        {SessionAnswer::kUnanswered, false, kPass, SessionOutcome::kRunning, WM_CALIB_START},
        {SessionAnswer::kYes, true, Then(kPass, {"Rs"}), SessionOutcome::kAbandoned, WM_CALIB_EXIT},
    };
    for (const Case& c : cases) {
        SetUp();
        collecting_ = true;
        gAnswer = c.answer;
        gCloseAtQuestion = c.close;
        Run(WM_CALIB_START, WM_CALIB_SOLVE);
        EXPECT_EQ(gSent, c.sent) << static_cast<int>(c.answer) << c.close;
        EXPECT_EQ(gSession.outcome, c.outcome);
        ASSERT_EQ(gPosted.size(), 1u);
        EXPECT_EQ(gPosted.front(), c.next);
    }
}

// Abandoned right after the fourth touch: the WM_CALIB_NEXT and
// WM_CALIB_SOLVE queued before the abandon send nothing.
TEST_F(Session, NothingQueuedBehindAnAbandonIsSent) {
    Run(WM_CALIB_START, WM_CALIB_START);
    for (int i = 0; i < 4; ++i) {
        const UINT next = gPosted.front();
        gPosted.pop_front();
        HandleSessionMessage(next);
        VcNativeSetTouch(kTargets[i][0], kTargets[i][1], 1024, 768);
        TakeRelease(1000u * static_cast<std::uint32_t>(i + 1));
    }
    ASSERT_EQ(gSession.pointCount, 4);
    ASSERT_EQ(gPosted, (std::deque<UINT>{WM_CALIB_NEXT, WM_CALIB_SOLVE}));
    const std::size_t before = gSent.size();
    AbandonSession(AbandonReason::kSignal);
    AbandonSession(AbandonReason::kCloseRequest);  // a second request: nothing more
    RunQueue();
    EXPECT_EQ(std::vector<std::string>(gSent.begin() + before, gSent.end()), std::vector<std::string>{"Rs"});
    EXPECT_EQ(gSession.outcome, SessionOutcome::kAbandoned);
    EXPECT_EQ(gSession.abandonReason, AbandonReason::kSignal);
    EXPECT_EQ(gAsked.back(), "end");
}

// A request to end the program (a signal) stops the identity handshake at
// its next step: no Y record, the abort command, the end. During a commit
// it waits: CS and WC go out whole, and nothing after them.
TEST_F(Session, ASignalStopsAHandshakeButNotACommit) {
    gWhen = "Cx";
    gThen = RequestLeave;
    Run(WM_CALIB_START);
    EXPECT_EQ(gSent, (std::vector<std::string>{"Cx", "Rs"}));
    EXPECT_EQ(gSession.outcome, SessionOutcome::kAbandoned);
    EXPECT_EQ(gLeaveRequested, 0) << "the request was taken";

    SetUp();
    collecting_ = true;
    gWhen = "CS";
    gThen = RequestLeave;
    Run(WM_CALIB_START);
    EXPECT_EQ(gSent, Then(kPass, {"CS", "WC"}));
    EXPECT_EQ(gSession.outcome, SessionOutcome::kCalibrated);
    AbandonSession(AbandonReason::kSignal);
    EXPECT_EQ(gSent.back(), "WC") << "nothing after the commit";
}

// The controller gone (the link saw ENODEV) while a target is cued: the
// no-controller message at once, and no abort command to a controller that
// is not there.
TEST_F(Session, AControllerGoneEndsTheSessionAtOnceWithoutAnAbort) {
    collecting_ = true;
    gWhen = "Q";
    gThen = Unplug;
    Run(WM_CALIB_START);
    EXPECT_EQ(gSent, (std::vector<std::string>{"Cx", "Cy", "Q"}));
    EXPECT_EQ(gSession.outcome, SessionOutcome::kNoController);
    EXPECT_EQ(gAsked, (std::vector<std::string>{"capture", "release", "no-controller", "unmap", "end"}));
}

}  // namespace
