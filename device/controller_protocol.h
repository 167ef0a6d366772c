// The controller's acknowledged command protocol, carried in feature reports:
// identity and solved coefficient records, the target cue, abort, the two
// commit commands and the touch packets of a touch.
#ifndef KELCALIB_DEVICE_CONTROLLER_PROTOCOL_H
#define KELCALIB_DEVICE_CONTROLLER_PROTOCOL_H

#include <cstdint>

// Sends `command` and polls for its accept or reject reply: up to 8 sends,
// up to 4 polls per send, 100 ms after each send and each poll. True when
// the accept reply was read. It stops early, false, once a transfer found
// the controller gone (gSession.deviceGone), or once the program is asked
// to end (gLeaveRequested) while no commit is in progress.
bool SendCommandWithReply(const std::uint8_t* command, std::int32_t commandLength,
                          const std::uint8_t* acceptReply, const std::uint8_t* rejectReply,
                          std::int32_t compareLength);

// The cue, then its 50 ms wait; true when the cue went out.
bool SendTargetCue();
bool SendAbort();
bool SendAxisRecordX();
bool SendAxisRecordY();
bool SendCoefficients();
bool SendIdentityX();
bool SendIdentityY();
bool ResetToIdentity();
// CS, then WC when CS was accepted: the two halves of CommitCalibration,
// which marks the session as committing meanwhile.
bool SendStageCommand();
bool SendWriteCommand();
bool CommitCalibration();

// Raw position of the last complete touch packet in the feature report; the
// outputs are written only when true.
bool ReadTouchPoint(std::uint16_t* rawX, std::uint16_t* rawY);

#endif  // KELCALIB_DEVICE_CONTROLLER_PROTOCOL_H
