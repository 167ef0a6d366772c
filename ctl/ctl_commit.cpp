// kelcalib-ctl reset and apply: the identity records, or those of a
// records file, then the commit; nothing is committed after a record the
// controller did not accept, and an interrupted or refused step ends with
// the abort command.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/session_state.h"
#include "ctl/ctl_commands.h"
#include "ctl/ctl_output.h"
#include "ctl/ctl_platform.h"
#include "ctl/ctl_records.h"
#include "device/controller_protocol.h"
#include "device/hid_device.h"
#include "device/name_text.h"

namespace {

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
    CloseTouchDevice();
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

}  // namespace

int RunReset(const CtlOptions& options) {
    if (!options.yes) {
        return Fail(kCtlExitUsage,
                    "reset replaces the controller's calibration with its factory mapping; "
                    "add --yes to do it");
    }
    return Commit(options, true, "reset");
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

