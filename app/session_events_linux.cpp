#include "app/session_events_linux.h"

#include <SDL.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "app/touch_capture_linux.h"
#include "app/calibration_window_linux.h"
#include "app/touch_timing.h"
#include "display/display_system_linux.h"
#include "device/controller_protocol.h"
#include "device/hid_device.h"
#include "device/hidraw_linux.h"

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

void OnLeaveSignal(int) { gLeaveRequested = 1; }

// SDL 2.26 does not report every display that goes away (an X output), so
// the program looks every half second whether the calibrated area is still
// shown; a display that cannot be told so from the start is not watched.
constexpr std::uint32_t kDisplayWatchMs = 500;
std::uint32_t gNextDisplayWatch = 0;
enum class Watch { kUnknown, kWatching, kOff };
Watch gWatch = Watch::kUnknown;
SDL_Window* gWatchedWindow = nullptr;

bool CalibratedDisplayGone() {
    if (gScreen.window != gWatchedWindow) {  // another window: look afresh
        gWatchedWindow = gScreen.window;
        gWatch = Watch::kUnknown;
    }
    const std::uint32_t now = SDL_GetTicks();
    if (gWatch == Watch::kOff || gScreen.window == nullptr ||
        static_cast<std::int32_t>(now - gNextDisplayWatch) < 0) {
        return false;
    }
    gNextDisplayWatch = now + kDisplayWatchMs;
    bool known = false;
    const bool shown = AreaStillShown(gScreen.window, ScreenArea(), &known);
    if (!known) {
        gWatch = Watch::kOff;
        return false;
    }
    if (gWatch == Watch::kUnknown || !shown) {
        const bool gone = gWatch == Watch::kWatching;
        gWatch = shown ? Watch::kWatching : Watch::kOff;  // told once
        return gone;
    }
    return false;
}

void Say(const char* text) {
    const ssize_t written = write(STDERR_FILENO, text, std::strlen(text));
    static_cast<void>(written);
}

// The process is failing (abort()): the abort command still goes out if a
// session holds the controller and has not sent it, through a transfer that
// allocates nothing (the usual report lengths live on the stack); then the
// signal takes its course.
void OnAbortSignal(int) {
    if (!gSession.leaving && TouchDeviceOpen() &&
        gSession.featureReportLength <= kFeatureBufferSize && SendAbort()) {
        Say("kelcalib: ended by SIGABRT; the abort command was sent\n");
    } else {
        Say("kelcalib: ended by SIGABRT\n");
    }
    signal(SIGABRT, SIG_DFL);
    raise(SIGABRT);
}

// `event` as an input of the session; kNone for what no loop needs.
SessionInput Classify(const SDL_Event& event) {
    SessionInput input{};
    input.kind = InputKind::kNone;
    if (event.type == gScreen.sessionEvent) {
        input.kind = InputKind::kSessionMessage;
        input.message = static_cast<unsigned>(event.user.code);
        return input;
    }
    switch (event.type) {
    case SDL_QUIT:
        // The program's own handlers take the signals and a closed window
        // is a close request, so SDL quits only when it lost its display
        // server (a Wayland compositor gone).
        input.kind = InputKind::kLeave;
        input.reason = AbandonReason::kDisplayLost;
        break;
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
            input.kind = InputKind::kLeave;
            input.reason = AbandonReason::kCloseRequest;
        } else if (event.window.event == SDL_WINDOWEVENT_EXPOSED) {
            input.kind = InputKind::kRedraw;
        }
        break;
    case SDL_DISPLAYEVENT:
        // The display being calibrated was removed.
        if (event.display.event == SDL_DISPLAYEVENT_DISCONNECTED &&
            static_cast<int>(event.display.display) == gScreen.display) {
            input.kind = InputKind::kLeave;
            input.reason = AbandonReason::kDisplayLost;
        }
        break;
    case SDL_KEYDOWN:
        input.kind = event.key.keysym.sym == SDLK_ESCAPE ? InputKind::kEscape : InputKind::kKey;
        input.key = event.key.keysym.sym;
        break;
    default: {
        const PointerEvent pointer = ReadPointerEvent(event, gScreen.width, gScreen.height);
        if (pointer.kind != PointerKind::kNone) {
            input.kind = pointer.kind == PointerKind::kPress ? InputKind::kPress : InputKind::kRelease;
            input.x = pointer.x;
            input.y = pointer.y;
        }
        break;
    }
    }
    return input;
}

// A controller unplugged while the program waits (for a touch, for an
// answer) is found within half a second: the kernel answers ENODEV.
constexpr std::uint32_t kControllerWatchMs = 500;
std::uint32_t gNextControllerWatch = 0;

bool ControllerGone() {
    const std::uint32_t now = SDL_GetTicks();
    if (gSession.deviceGone || !TouchDeviceOpen() ||
        static_cast<std::int32_t>(now - gNextControllerWatch) < 0) {
        return false;
    }
    gNextControllerWatch = now + kControllerWatchMs;
    if (!HidrawNodeGone(DeviceFileDescriptor(gSession.device))) return false;
    gSession.deviceGone = true;
    return true;
}

bool Leave(SessionInput* input, AbandonReason reason) {
    *input = SessionInput{};
    input->kind = InputKind::kLeave;
    input->reason = reason;
    return true;
}

bool TakeLeaveRequest(SessionInput* input) {
    if (gLeaveRequested == 0) return false;
    gLeaveRequested = 0;
    return Leave(input, AbandonReason::kSignal);
}

bool PollInput(SessionInput* input) {
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        *input = Classify(event);
        if (input->kind != InputKind::kNone) return true;
    }
    return false;
}

}  // namespace

void CatchLeaveSignals() {
    // SDL would turn SIGINT and SIGTERM into its quit event, queued behind
    // everything already waiting; the flag is seen first, and it also stops
    // a handshake in progress.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = OnLeaveSignal;
    action.sa_flags = SA_RESTART;  // a transfer in progress goes on to its end
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(signal, &action, nullptr);
    action.sa_handler = OnAbortSignal;
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGABRT, &action, nullptr);
}

bool NextInput(SessionInput* input) {
    if (TakeLeaveRequest(input)) return true;
    if (!gScreen.displayLost && CalibratedDisplayGone()) return Leave(input, AbandonReason::kDisplayLost);
    if (ControllerGone()) return Leave(input, AbandonReason::kControllerGone);
    const std::uint32_t wait = RunTrackingTimer();
    if (PollInput(input)) return true;
    SDL_Delay(wait < kEventPollMs ? wait : kEventPollMs);
    return TakeLeaveRequest(input) || PollInput(input);
}

void StartTrackingTimer(std::uint32_t now) { gNextTick = now + kTrackingTickMs; }

std::uint32_t RunTrackingTimer() {
    const std::uint32_t now = SDL_GetTicks();
    if (static_cast<std::int32_t>(now - gNextTick) >= 0) {
        AdvanceTrackingTimer(now);
        gNextTick = now + kTrackingTickMs;
    }
    return gNextTick - now;
}
