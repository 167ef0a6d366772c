// The controller's acknowledged command protocol, carried in feature reports:
// identity and solved coefficient records, the target cue, abort, the two
// commit commands and the touch packets of a touch.
#ifndef KELCALIB_DEVICE_CONTROLLER_PROTOCOL_H
#define KELCALIB_DEVICE_CONTROLLER_PROTOCOL_H

#include <cstdint>

// The handshake's numbers: a command is sent up to kSendsPerHandshake
// times, each send followed by up to kPollsPerSend polls for its reply, and
// kHandshakeWaitMs waited after each send and each poll. A reply is its
// command's SOH and mnemonic, '0' (accept) or '1' (reject), and CR:
// kReplyLength bytes. The target cue waits kTargetCueWaitMs.
constexpr int kSendsPerHandshake = 8;
constexpr int kPollsPerSend = 4;
constexpr std::uint32_t kHandshakeWaitMs = 100;
constexpr std::uint32_t kTargetCueWaitMs = 50;
constexpr std::int32_t kReplyLength = 5;

// Sends `command` and polls for its accept or reject reply, as above. True
// when the accept reply was read. It stops early, false, once a transfer found
// the controller gone (gSession.deviceGone), or once the program is asked
// to end (gLeaveRequested) while no commit is in progress.
bool SendCommandWithReply(const std::uint8_t* command, std::int32_t commandLength,
                          const std::uint8_t* acceptReply, const std::uint8_t* rejectReply,
                          std::int32_t compareLength);

// The cue, then its wait; true when the cue went out.
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
