// The four commands. Every failure ends in one line on stderr (the
// permission advice in a few) and a non-zero exit status; nothing is
// committed after a record the controller did not accept.
#include "ctl/ctl_commands.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ctl/ctl_doctor.h"
#include "ctl/ctl_options.h"
#include "ctl/ctl_output.h"
#include "ctl/ctl_platform.h"
#include "ctl/ctl_records.h"
#include "app/session_state.h"
#include "device/controller_protocol.h"
#include "device/hid_device.h"
#include "device/hid_enumerate.h"
#include "device/name_text.h"

#ifndef KELCALIB_VERSION
#define KELCALIB_VERSION "unknown"
#endif

namespace {

// Between two reads of the touch packets in `watch`.
constexpr std::uint32_t kWatchPollMs = 20;

// The message on stderr after the program's name; a message of several
// lines (the permission advice) keeps its own line breaks.
int Fail(int status, const char* format, ...) {
    char message[2 * kCtlMessageSize];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    std::size_t length = std::strlen(message);
    while (length > 0 && message[length - 1] == '\n') message[--length] = '\0';
    std::fprintf(stderr, "kelcalib-ctl: %s\n", message);
    return status;
}

// Every HID interface in search order, in memory the caller frees; null when
// the system's list can't be read.
HidInterfaceInfo* ListInterfaces(std::uint16_t vendorId, int* count) {
    int capacity = 32;
    for (;;) {
        auto* interfaces = static_cast<HidInterfaceInfo*>(
            std::calloc(static_cast<std::size_t>(capacity), sizeof(HidInterfaceInfo)));
        if (interfaces == nullptr) return nullptr;
        *count = ListHidInterfaces(vendorId, interfaces, capacity);
        if (*count >= 0 && *count <= capacity) return interfaces;
        std::free(interfaces);
        if (*count < 0) return nullptr;
        capacity = *count;
    }
}

enum class OpenResult { kOpened, kNoController, kNoPermission, kFailed };

// Opens match index `index` of the controllers of `vendorId` into gSession
// (device, feature report length, logical maxima with the 0x7FFF fallback).
// On anything but kOpened `why` says why, from a listing of the interfaces
// as the search saw them.
OpenResult OpenController(std::uint16_t vendorId, std::uint16_t index, char* why,
                          std::size_t whySize) {
    if (OpenTouchDevice(vendorId, index)) {
        if (!ReadLogicalMaxima(gSession.device, &gSession.logicalMaxX, &gSession.logicalMaxY)) {
            gSession.logicalMaxX = 0x7FFF;
            gSession.logicalMaxY = 0x7FFF;
        }
        return OpenResult::kOpened;
    }
    int count = 0;
    HidInterfaceInfo* interfaces = ListInterfaces(vendorId, &count);
    if (interfaces == nullptr) {
        std::snprintf(why, whySize, "cannot read the system's list of HID devices");
        return OpenResult::kFailed;
    }
    OpenResult result = OpenResult::kNoController;
    int ours = 0;
    for (int i = 0; i < count && result == OpenResult::kNoController; ++i) {
        const HidInterfaceInfo& info = interfaces[i];
        if (info.ours && ours++ == index) {
            std::snprintf(why, whySize, "controller %u (%s) cannot be opened%s%s",
                          static_cast<unsigned>(index), info.path, info.problem[0] ? ": " : "",
                          info.problem);
            result = OpenResult::kFailed;
        }
    }
    if (result == OpenResult::kNoController) {
        if (CtlDeniedAccess(interfaces, count, vendorId, why, whySize)) {
            result = OpenResult::kNoPermission;
        } else if (ours > 0) {
            std::snprintf(why, whySize, "no controller with vendor ID 0x%04X at index %u (%d found)",
                          vendorId, static_cast<unsigned>(index), ours);
        } else {
            std::snprintf(why, whySize, "no controller with vendor ID 0x%04X among %d HID devices",
                          vendorId, count);
        }
    }
    std::free(interfaces);
    return result;
}

// Which of the three report IDs answer a feature read of the open controller.
void ProbeReportIds(bool answered[3]) {
    const std::size_t size = gSession.featureReportLength > kFeatureBufferSize
                                 ? gSession.featureReportLength
                                 : kFeatureBufferSize;
    auto* buffer = static_cast<std::uint8_t*>(std::calloc(size, 1));
    for (int i = 0; i < 3; ++i) {
        answered[i] = false;
        if (buffer == nullptr) continue;
        std::memset(buffer, 0, size);
        buffer[0] = kCtlReportIds[i];
        answered[i] = PlatformGetFeature(gSession.device, buffer, gSession.featureReportLength);
    }
    std::free(buffer);
}

int RunList(const CtlOptions& options) {
    int count = 0;
    HidInterfaceInfo* interfaces = ListInterfaces(options.vendorId, &count);
    if (interfaces == nullptr) {
        return Fail(kCtlExitDevice, "cannot read the system's list of HID devices");
    }
    auto* controllers = static_cast<CtlListedController*>(
        std::calloc(static_cast<std::size_t>(count) + 1, sizeof(CtlListedController)));
    if (controllers == nullptr) {
        std::free(interfaces);
        return Fail(kCtlExitDevice, "out of memory");
    }
    // Asked before any open: the system's note of what stood in the way is
    // the listing's.
    char denied[kCtlMessageSize] = "";
    const bool accessDenied =
        CtlDeniedAccess(interfaces, count, options.vendorId, denied, sizeof denied);
    int controllerCount = 0;
    for (int i = 0; i < count; ++i) {
        const HidInterfaceInfo& info = interfaces[i];
        if (!info.ours) continue;
        CtlListedController& c = controllers[controllerCount];
        c.info = &info;
        CtlInputDevices(info, &c);
        if (OpenController(options.vendorId, static_cast<std::uint16_t>(controllerCount),
                           c.openProblem, sizeof c.openProblem) == OpenResult::kOpened) {
            c.openProblem[0] = '\0';
            ProbeReportIds(c.answered);
            CtlCloseController();
        }
        ++controllerCount;
    }
    PrintList(options.json, options.all, options.vendorId, controllers, controllerCount, interfaces,
              count);
    std::free(controllers);
    std::free(interfaces);
    if (controllerCount > 0) return kCtlExitOk;
    if (accessDenied) return Fail(kCtlExitPermission, "%s", denied);
    return Fail(kCtlExitNoController, "no controller with vendor ID 0x%04X among %d HID devices%s",
                options.vendorId, count, options.all ? "" : " (--all lists them)");
}

int OpenOrFail(const CtlOptions& options) {
    char why[kCtlMessageSize] = "";
    switch (OpenController(options.vendorId, options.index, why, sizeof why)) {
        case OpenResult::kOpened: return kCtlExitOk;
        case OpenResult::kNoController: return Fail(kCtlExitNoController, "%s", why);
        case OpenResult::kNoPermission: return Fail(kCtlExitPermission, "%s", why);
        case OpenResult::kFailed: break;
    }
    return Fail(kCtlExitDevice, "%s", why);
}

std::int64_t MillisecondsSince(std::uint64_t start) {
    return static_cast<std::int64_t>(CtlMilliseconds() - start);
}

// One line per change: a touch where the position differs from the last
// line's (or follows a lift), and a lift when the packets stop. A finger
// held still prints nothing more.
int RunWatch(const CtlOptions& options) {
    const int opened = OpenOrFail(options);
    if (opened != kCtlExitOk) return opened;
    CtlCatchInterrupt();
    if (!SendTargetCue()) {
        const bool gone = CtlControllerGone();
        CtlCloseController();
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
        } else if (CtlControllerGone()) {
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
        CtlCloseController();
        CtlInterruptHandled();
        return Fail(kCtlExitDevice, "controller %u is gone (unplugged?) after %ld line%s",
                    static_cast<unsigned>(options.index), lines, lines == 1 ? "" : "s");
    }
    const bool aborted = SendAbort();
    CtlCloseController();
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

// After a step that was not accepted (or Ctrl-C before the next) the abort
// command puts the controller back on its committed calibration: an X
// record it took must not stay active beside the old Y.
int FailAndRestore(const char* what) {
    const bool restored = SendAbort();
    return Fail(kCtlExitDevice, "%s; nothing was committed%s", what,
                restored ? " and the controller is back on its committed calibration"
                         : " and the abort command failed too");
}

// Sends both records (identity, or those in gSession.deviceRecords), then CS
// and WC; stops at the first step that is not accepted, or at Ctrl-C
// between two steps.
int SendAndCommit(bool identity) {
    CtlCatchInterrupt();
    const char* const kInterrupted = "interrupted";
    if (!(identity ? SendIdentityX() : SendAxisRecordX())) {
        return FailAndRestore("the controller did not accept the X record (rejected, or no reply)");
    }
    if (CtlInterrupted()) return FailAndRestore(kInterrupted);
    if (!(identity ? SendIdentityY() : SendAxisRecordY())) {
        return FailAndRestore("the controller did not accept the Y record (rejected, or no reply)");
    }
    if (CtlInterrupted()) return FailAndRestore(kInterrupted);
    if (!SendStageCommand()) {
        return FailAndRestore("the controller did not accept the commit's first step (CS)");
    }
    if (CtlInterrupted()) return FailAndRestore(kInterrupted);
    if (!SendWriteCommand()) {
        // WC may have been carried out with its reply lost, or not at all.
        SendAbort();
        return Fail(kCtlExitDevice,
                    "the controller accepted CS but not WC (rejected, or no reply): whether it "
                    "wrote the records is uncertain; run 'kelcalib-ctl reset --yes' (then apply "
                    "again)");
    }
    return kCtlExitOk;
}

// Opens the controller, sends and commits, closes; prints what was committed.
int Commit(const CtlOptions& options, bool identity, const char* command) {
    char running[kCtlMessageSize] = "";
    if (!CtlKeepCalibrationOut(running, sizeof running)) return Fail(kCtlExitDevice, "%s", running);
    const int opened = OpenOrFail(options);
    if (opened != kCtlExitOk) return opened;
    const int status = SendAndCommit(identity);
    CtlCloseController();
    CtlInterruptHandled();
    if (status != kCtlExitOk) return status;
    if (identity) {
        const std::int32_t records[2][4] = {{1, 0, 0, 1}, {0, 1, 0, 1}};
        PrintCommitted(options.json, command, options.vendorId, options.index, records);
    } else {
        PrintCommitted(options.json, command, options.vendorId, options.index,
                       gSession.deviceRecords);
    }
    return kCtlExitOk;
}

int RunReset(const CtlOptions& options) {
    if (!options.yes) {
        return Fail(kCtlExitUsage,
                    "reset replaces the controller's calibration with its factory mapping; "
                    "add --yes to do it");
    }
    return Commit(options, true, "reset");
}

// The whole records file (or standard input) into `text`, at most one byte
// past the limit so that the parser refuses a larger one.
bool ReadRecordsFile(const char* path, const char* name, bool standardInput, char* text,
                     std::size_t* length) {
    std::FILE* file = standardInput ? stdin : CtlOpenFileForReading(path);
    if (file == nullptr) {
        Fail(kCtlExitUsage, "cannot open the records file %s", name);
        return false;
    }
    *length = std::fread(text, 1, kRecordsFileMax + 1, file);
    const bool readError = std::ferror(file) != 0;
    if (!standardInput) std::fclose(file);
    if (readError) Fail(kCtlExitUsage, "cannot read the records file %s", name);
    return !readError;
}

int RunApply(const CtlOptions& options) {
    if (!options.yes) {
        return Fail(kCtlExitUsage,
                    "apply replaces the controller's calibration with the records; add --yes to "
                    "do it");
    }
    const bool standardInput =
        options.recordsPath == nullptr || std::strcmp(options.recordsPath, "-") == 0;
    // The file's name as the messages show it: printable text.
    char name[4 * 200 + 1];
    TakeName(standardInput ? "(standard input)" : options.recordsPath, name, sizeof name);
    auto* text = static_cast<char*>(std::malloc(kRecordsFileMax + 1));
    if (text == nullptr) return Fail(kCtlExitDevice, "out of memory");
    std::size_t length = 0;
    char error[kCtlMessageSize] = "";
    std::int32_t records[2][4];
    const bool read = ReadRecordsFile(options.recordsPath, name, standardInput, text, &length);
    const bool parsed = read && ParseRecordsText(text, length, records, error, sizeof error);
    std::free(text);
    if (!read) return kCtlExitUsage;
    if (!parsed) {
        return Fail(kCtlExitUsage, "malformed records file %s: %s; nothing was sent", name, error);
    }
    std::memcpy(gSession.deviceRecords, records, sizeof records);
    return Commit(options, false, "apply");
}

}  // namespace

int RunCtl(int argc, const char* const* argv) {
    CtlOptions options;
    char error[kCtlMessageSize] = "";
    if (!ParseCtlOptions(argc, argv, &options, error, sizeof error)) {
        return Fail(kCtlExitUsage, "%s (see --help)", error);
    }
    if (options.help) {
        PrintCtlUsage(stdout);
        return kCtlExitOk;
    }
    if (options.version) {
        std::printf("kelcalib-ctl %s (vendor ID 0x%04X)\n", KELCALIB_VERSION,
                    static_cast<unsigned>(KELCALIB_VENDOR_ID));
        return kCtlExitOk;
    }
    gSession = InitialSessionState();
    gSession.vendorId = options.vendorId;
    CtlIgnoreBrokenPipe();
    switch (options.command) {
        case CtlCommand::kList: return RunList(options);
        case CtlCommand::kWatch: return RunWatch(options);
        case CtlCommand::kReset: return RunReset(options);
        case CtlCommand::kApply: return RunApply(options);
        case CtlCommand::kDoctor: return RunDoctor(options);
        case CtlCommand::kNone: break;
    }
    return Fail(kCtlExitUsage, "no command given (see --help)");
}
