// kelcalib-ctl watch: the raw position of each touch as the controller
// reports it, until the time is up or the tool is interrupted; the abort
// command at the end, always.
#include <cstdio>

#include "app/session_state.h"
#include "ctl/ctl_commands.h"
#include "ctl/ctl_output.h"
#include "ctl/ctl_platform.h"
#include "device/controller_protocol.h"
#include "device/hid_device.h"

namespace {

// Between two reads of the touch packets in `watch`.
constexpr std::uint32_t kWatchPollMs = 20;

std::int64_t MillisecondsSince(std::uint64_t start) {
    return static_cast<std::int64_t>(CtlMilliseconds() - start);
}

// One line per change: a touch where the position differs from the last
// line's (or follows a lift), and a lift when the packets stop. A finger
// held still prints nothing more.
}  // namespace

int RunWatch(const CtlOptions& options) {
    const int opened = OpenOrFail(options);
    if (opened != kCtlExitOk) return opened;
    CtlCatchInterrupt();
    if (!SendTargetCue()) {
        const bool gone = TouchDeviceGone();
        CloseTouchDevice();
        CtlInterruptHandled();
        return Fail(kCtlExitDevice, gone ? "controller %u is gone (unplugged?)"
                                         : "the cue could not be sent to controller %u; nothing to watch",
                    static_cast<unsigned>(options.index));
    }
    std::fprintf(stderr,
                 "kelcalib-ctl: watching controller %u (vendor ID 0x%04X, logical maxima x %d, "
                 "y %d); touch the panel, Ctrl-C ends\n",
                 static_cast<unsigned>(options.index), options.vendorId,
                 static_cast<int>(gSession.logicalMaxX), static_cast<int>(gSession.logicalMaxY));
    const std::uint64_t start = CtlMilliseconds();
    const std::int64_t limit = static_cast<std::int64_t>(options.seconds) * 1000;
    bool touching = false;
    std::uint16_t lastX = 0;
    std::uint16_t lastY = 0;
    long lines = 0;
    bool gone = false;
    // A line that cannot be written (`watch | head`, a dropped session) ends
    // the watch as Ctrl-C does.
    while (!CtlInterrupted() && (limit == 0 || MillisecondsSince(start) < limit)) {
        std::uint16_t x = 0;
        std::uint16_t y = 0;
        if (ReadTouchPoint(&x, &y)) {
            if (!touching || x != lastX || y != lastY) {
                if (!PrintTouch(options.json, MillisecondsSince(start), true, x, y)) CtlInterruptNow();
                ++lines;
            }
            touching = true;
            lastX = x;
            lastY = y;
        } else if (TouchDeviceGone()) {
            gone = true;
            break;
        } else if (touching) {
            if (!PrintTouch(options.json, MillisecondsSince(start), false, 0, 0)) CtlInterruptNow();
            ++lines;
            touching = false;
        }
        WaitMilliseconds(kWatchPollMs);
    }
    if (gone) {
        CloseTouchDevice();
        CtlInterruptHandled();
        return Fail(kCtlExitDevice, "controller %u is gone (unplugged?) after %ld line%s",
                    static_cast<unsigned>(options.index), lines, lines == 1 ? "" : "s");
    }
    const bool aborted = SendAbort();
    CloseTouchDevice();
    CtlInterruptHandled();
    if (!aborted) {
        return Fail(kCtlExitDevice,
                    "the abort command could not be sent: the controller may still be in touch "
                    "packet mode (unplug it or run watch again)");
    }
    std::fprintf(stderr, "kelcalib-ctl: %ld line%s; abort command sent\n", lines,
                 lines == 1 ? "" : "s");
    return kCtlExitOk;
}

