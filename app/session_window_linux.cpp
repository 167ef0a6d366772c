// The calibration session on Linux: opening the chosen controller, the event
// loop that hands inputs to the session (calibration_session.h), and how the
// session's end is told on the terminal and in the exit status. A display
// server that goes away ends the session through the same abort step.
#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "app/calibration_session.h"
#include "app/exit_status_linux.h"
#include "app/session_events_linux.h"
#include "app/calibration_window_linux.h"
#include "app/session_platform.h"
#include "app/session_state.h"
#include "app/session_texts.h"
#include "device/hid_device.h"
#include "display/touch_mapping_linux.h"
#include "device/hidraw_linux.h"
#include "display/display_system_linux.h"

namespace {

// The controller of this session, for the line that ends it.
char gControllerPath[sizeof(HidInterfaceInfo::path)] = "the controller";
// Whether the controller could not be opened for lack of permission.
bool gDeniedAccess = false;

const char* AbandonedBy(AbandonReason reason) {
    switch (reason) {
    case AbandonReason::kEscape: return "Esc";
    case AbandonReason::kCloseRequest: return "a close request";
    case AbandonReason::kSignal: return "a signal";
    case AbandonReason::kDisplayLost: return "the display going away";
    case AbandonReason::kControllerGone: return "the controller unplugged";
    }
    return "an abandon";
}

// One line on the terminal for the session's outcome (with, for a missing
// controller, what stood in the way below it); returns the exit status.
int ReportOutcome() {
    const std::int32_t(*r)[4] = gSession.deviceRecords;
    switch (gSession.outcome) {
    case SessionOutcome::kCalibrated:
        std::printf("kelcalib: calibrated %s: committed record-x %d %d %d %d, record-y %d %d %d %d\n",
                    gControllerPath, r[0][0], r[0][1], r[0][2], r[0][3], r[1][0], r[1][1], r[1][2],
                    r[1][3]);
        std::fflush(stdout);
        return kExitOk;
    case SessionOutcome::kCommitRefused:
        std::fprintf(stderr,
                     "kelcalib: %s did not accept the commit: the new calibration is not kept "
                     "(it stays in force until the controller restarts)\n",
                     gControllerPath);
        return kExitRefused;
    case SessionOutcome::kIdentityRefused:
        std::fprintf(stderr, "kelcalib: %s: %s (the identity records were not accepted)\n",
                     gControllerPath, kTransferErrorUtf8);
        return kExitRefused;
    case SessionOutcome::kNoController: {
        const char* detail = NoControllerDetail();
        std::fprintf(stderr, "kelcalib: %s%s%s", kNoDeviceUtf8, detail[0] != '\0' ? "\n" : "",
                     detail);
        if (detail[0] == '\0' || detail[std::strlen(detail) - 1] != '\n') std::fputc('\n', stderr);
        return gDeniedAccess ? kExitNotPermitted : kExitNoController;
    }
    case SessionOutcome::kAbandoned:
    case SessionOutcome::kRunning:
        break;
    }
    std::fprintf(stderr, "kelcalib: calibration abandoned (%s); %s keeps the calibration it had\n",
                 AbandonedBy(gSession.abandonReason), gControllerPath);
    return kExitAbandoned;
}

// The X server went away in the middle of the session: the abort step
// without the display (it took the touch mapping with it), then the end.
int LeaveSessionWithoutDisplay() {
    AbandonSession(AbandonReason::kDisplayLost);
    CloseTouchDevice();
    return ReportOutcome();
}

int (*gDisplayLostStep)() = LeaveSessionWithoutDisplay;

// The X server went away: no more calls to it, then the mode's step.
int LeaveWithoutDisplay() {
    gScreen.displayLost = true;
    return gDisplayLostStep();
}

}  // namespace

void SetDisplayLostStep(int (*step)()) { gDisplayLostStep = step; }

void CatchLostDisplay() { OnDisplayServerLost(LeaveWithoutDisplay); }

int RunCalibrationSession(const ControllerChoice& choice, bool persist) {
    ChosenController chosen;
    char problem[1024] = "";
    const bool opened =
        OpenChosenController(gSession.vendorId, choice, &chosen, problem, sizeof(problem));
    if (opened) {
        std::snprintf(gControllerPath, sizeof gControllerPath, "%s", chosen.info.path);
    } else {
        // A controller that may not be opened or is not there as named: the
        // message says which node, why, and (for access) the udev rule that
        // grants it, below the text.
        NoteNoControllerDetail(problem);
        gDeniedAccess = OpenDeniedAccess();
    }
    if (!OpenSession(opened)) return ReportOutcome();
    MappedDisplay mapped{gScreen.window, ScreenArea(), gScreen.facts.orientation, ""};
    std::snprintf(mapped.name, sizeof mapped.name, "%s", gScreen.facts.name);
    PrepareDisplayMapping(chosen.node, chosen.info, mapped, persist);
    ApplyTouchMapping();
    gSession.lastTick = SDL_GetTicks();
    StartTrackingTimer(gSession.lastTick);
    SDL_RaiseWindow(gScreen.window);
    PaintTargetScreen();
    PostSessionMessage(WM_CALIB_START);
    while (!gScreen.ended) {
        SessionInput input;
        if (!NextInput(&input)) continue;
        switch (input.kind) {
        case InputKind::kSessionMessage:
            HandleSessionMessage(input.message);
            break;
        case InputKind::kLeave:
            AbandonSession(input.reason);
            break;
        case InputKind::kEscape:
            PostSessionMessage(WM_CALIB_ABORT);
            break;
        case InputKind::kRelease:
            if (gScreen.collecting) TakeRelease(SDL_GetTicks());
            break;
        case InputKind::kRedraw:
            PaintTargetScreen();
            break;
        case InputKind::kKey:
        case InputKind::kPress:
        case InputKind::kNone:
            break;
        }
    }
    return ReportOutcome();
}
