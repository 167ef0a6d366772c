// The calibration session on Linux: the state machine of the five session
// messages, posted as SDL user events in the order the Windows window
// procedure posts them, the tracking timer, Esc, close requests and hang-ups,
// and releases (a finger lifted, or a mouse button) taken as touches while a
// pass collects.
#include <SDL.h>
#include <signal.h>

#include <cstring>
#include <string>

#include "app/pointer_events_linux.h"
#include "app/session_linux.h"
#include "app/session_state.h"
#include "app/session_texts.h"
#include "app/touch_mapping_linux.h"
#include "app/touch_timing.h"
#include "calib/calibration_solve.h"
#include "device/controller_protocol.h"
#include "device/hid_device.h"

namespace {

// The Windows tracking timer asks for 1 ms and is served at the system's
// shortest timer interval; each tick adds one more millisecond to the clock
// below 30 s. This loop ticks every 10 ms.
constexpr std::uint32_t kTrackingTickMs = 10;
std::uint32_t gNextTick = 0;
// Events are polled at this interval. SDL_WaitEventTimeout would wake its
// wait through a second X connection aimed at the window, and SDL 2.26 can
// still aim it there after the window is gone: an X error that ends the
// process with status 1 (seen in about one exit in eight).
constexpr std::uint32_t kEventPollMs = 4;
// Set once the abort command went out: a second close request or signal
// does not send it again.
bool gAborted = false;
// SIGHUP (the terminal or the ssh session closed) arrived: answered like
// SIGTERM, which SDL itself turns into a quit event.
volatile sig_atomic_t gHangup = 0;

void OnHangup(int) { gHangup = 1; }

// The pointer and the keyboard belong to the calibration while it collects,
// where the system allows it.
void SetCollecting(bool collecting) {
    gScreen.collecting = collecting;
    SDL_SetWindowGrab(gScreen.window, collecting ? SDL_TRUE : SDL_FALSE);
    SDL_SetWindowKeyboardGrab(gScreen.window, collecting ? SDL_TRUE : SDL_FALSE);
}

void OnStartPass() {
    gSession.elapsedMs = 0;
    // The grab comes once the identity records were accepted, as on
    // Windows, where the touch hook does.
    if (ResetToIdentity()) {
        SetCollecting(true);
        gSession.pointCount = 0;
        PostSessionMessage(WM_CALIB_NEXT);
        return;
    }
    // The pass ends here, never having grabbed: the message is answered by
    // touch or key. Answered or closed, the session is abandoned: the abort
    // command goes out once.
    ShowBox(kTransferErrorUtf8, kFatalCaptionUtf8, BoxKind::kOk);
    PaintTargetScreen();
    PostSessionMessage(WM_CALIB_ABORT);
}

void OnSolve() {
    SetCollecting(false);
    ComputeCalibration();
    // Coincident or collinear points leave nothing to try: a new pass.
    if (!gSession.coefficients.valid || !SendCoefficients()) {
        PostSessionMessage(WM_CALIB_START);
        return;
    }
    // The cursor follows the finger on this display while the user judges
    // (again, after a No).
    ApplyTouchMapping();
    const BoxAnswer answer = ShowBox(kConfirmUtf8, kConfirmCaptionUtf8, BoxKind::kYesNo);
    PaintTargetScreen();
    if (answer != BoxAnswer::kYes) RestoreTouchMapping();
    if (answer == BoxAnswer::kClosed) {
        PostSessionMessage(WM_CALIB_ABORT);
        return;
    }
    if (answer == BoxAnswer::kNo) {
        PostSessionMessage(WM_CALIB_START);
        return;
    }
    if (CommitCalibration()) {
        KeepTouchMapping();
    } else {
        RestoreTouchMapping();
    }
    PostSessionMessage(WM_CALIB_EXIT);
}

void OnAbort() {
    if (gAborted) return;
    gAborted = true;
    SetCollecting(false);
    SendAbort();
    PostSessionMessage(WM_CALIB_EXIT);
}

void OnExit() {
    RestoreTouchMapping();
    CloseTouchDevice();
    gSession.device = nullptr;
    SetCollecting(false);
    gScreen.ended = true;
}

void OnSessionMessage(unsigned message) {
    switch (message) {
    case WM_CALIB_START:
        OnStartPass();
        break;
    case WM_CALIB_NEXT:
        SendTargetCue();
        // A touch made during the transfers before this target answers an
        // earlier screen: dropped, not taken as this target's point.
        DropQueuedInput();
        PaintTargetScreen();
        break;
    case WM_CALIB_SOLVE:
        OnSolve();
        break;
    case WM_CALIB_ABORT:
        OnAbort();
        break;
    case WM_CALIB_EXIT:
        OnExit();
        break;
    default:
        break;
    }
}

// A release: a finger lifted, or the left, right or middle mouse button.
void OnRelease() {
    if (!gScreen.collecting) return;
    const ReleasePosts posts = HandleTouchRelease(SDL_GetTicks(), ReadTouchPoint);
    if (posts != ReleasePosts::kNothing) PostSessionMessage(WM_CALIB_NEXT);
    if (posts == ReleasePosts::kNextAndSolve) PostSessionMessage(WM_CALIB_SOLVE);
}

void OnEvent(const SDL_Event& event) {
    if (event.type == gScreen.sessionEvent) {
        OnSessionMessage(static_cast<unsigned>(event.user.code));
        return;
    }
    switch (event.type) {
    case SDL_QUIT:  // SIGTERM, SIGINT or SIGHUP
        OnAbort();
        break;
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
            OnAbort();
        } else if (event.window.event == SDL_WINDOWEVENT_EXPOSED) {
            PaintTargetScreen();
        }
        break;
    case SDL_KEYDOWN:
        if (event.key.keysym.sym == SDLK_ESCAPE) PostSessionMessage(WM_CALIB_ABORT);
        break;
    default:
        if (ReadPointerEvent(event, gScreen.width, gScreen.height).kind == PointerKind::kRelease) {
            OnRelease();
        }
        break;
    }
}

}  // namespace

void PostSessionMessage(unsigned message) {
    SDL_Event event;
    std::memset(&event, 0, sizeof(event));
    event.type = gScreen.sessionEvent;
    event.user.code = static_cast<Sint32>(message);
    SDL_PushEvent(&event);
}

void CatchHangup() {
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = OnHangup;
    action.sa_flags = SA_RESTART;  // a transfer in progress goes on
    sigaction(SIGHUP, &action, nullptr);
}

bool NextEvent(SDL_Event* event) {
    if (gHangup != 0) {
        gHangup = 0;
        std::memset(event, 0, sizeof(*event));
        event->type = SDL_QUIT;
        return true;
    }
    const std::uint32_t wait = RunTrackingTimer();
    if (SDL_PollEvent(event) != 0) return true;
    SDL_Delay(wait < kEventPollMs ? wait : kEventPollMs);
    return SDL_PollEvent(event) != 0;
}

std::uint32_t RunTrackingTimer() {
    const std::uint32_t now = SDL_GetTicks();
    if (static_cast<std::int32_t>(now - gNextTick) >= 0) {
        AdvanceTrackingTimer(now);
        gNextTick = now + kTrackingTickMs;
    }
    return gNextTick - now;
}

int RunCalibrationSession(const ControllerChoice& choice, bool persist) {
    ChosenController chosen;
    char problem[1024] = "";
    if (!OpenChosenController(gSession.vendorId, choice, &chosen, problem, sizeof(problem))) {
        // A controller that may not be opened or is not there as named: the
        // message says which node, why, and (for access) the udev rule that
        // grants it, below the text.
        if (problem[0] != '\0') {
            SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "%s", problem);
            std::string text = kNoDeviceUtf8;
            text += "\n\n";
            text += problem;
            ShowBox(text.c_str(), kFatalCaptionUtf8, BoxKind::kOk);
        } else {
            ShowBox(kNoDeviceUtf8, kFatalCaptionUtf8, BoxKind::kOk);
        }
        return 0;
    }
    if (!ReadLogicalMaxima(gSession.device, &gSession.logicalMaxX, &gSession.logicalMaxY)) {
        gSession.logicalMaxX = 0x7FFF;
        gSession.logicalMaxY = 0x7FFF;
    }
    PrepareTouchMapping(chosen, persist);
    ApplyTouchMapping();
    gSession.elapsedMs = 0;
    gSession.lastTick = SDL_GetTicks();
    gNextTick = gSession.lastTick + kTrackingTickMs;
    SDL_RaiseWindow(gScreen.window);
    PaintTargetScreen();
    PostSessionMessage(WM_CALIB_START);
    while (!gScreen.ended) {
        SDL_Event event;
        if (NextEvent(&event)) {
            OnEvent(event);
        }
    }
    return 0;
}
