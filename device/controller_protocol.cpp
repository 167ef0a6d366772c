// The controller's acknowledged command protocol over SendFeature and
// ReceiveFeature, waiting only through WaitMilliseconds.
#include "device/controller_protocol.h"

#include <algorithm>
#include <cstring>

#include "app/session_state.h"
#include "device/hid_device.h"

namespace {

constexpr std::int32_t kRecordLength = 20;
constexpr int kReplyBufferSize = 100;
constexpr int kTouchPacketLength = 10;
constexpr int kTouchScanPositions = 88;

constexpr std::uint8_t kSoh = 0x01;
constexpr std::uint8_t kCr = 0x0D;

constexpr std::uint8_t kTargetCueCommand[4] = {kSoh, 'Q', 0x87, kCr};
constexpr std::uint8_t kAbortCommand[4] = {kSoh, 'R', 's', kCr};
constexpr std::uint8_t kCommitCSCommand[4] = {kSoh, 'C', 'S', kCr};
constexpr std::uint8_t kCommitWCCommand[4] = {kSoh, 'W', 'C', kCr};

constexpr std::uint8_t kIdentityRecordX[kRecordLength] = {
    kSoh, 'C', 'x', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, kCr};
constexpr std::uint8_t kIdentityRecordY[kRecordLength] = {
    kSoh, 'C', 'y', 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, kCr};

struct Replies {
    std::uint8_t accept[kReplyLength];
    std::uint8_t reject[kReplyLength];
};

Replies RepliesFor(char first, char second) {
    const auto a = static_cast<std::uint8_t>(first);
    const auto b = static_cast<std::uint8_t>(second);
    return Replies{{kSoh, a, b, '0', kCr}, {kSoh, a, b, '1', kCr}};
}

// Byte-for-byte comparison that stops early only at a zero byte present in both.
bool RepliesEqual(const std::uint8_t* received, const std::uint8_t* expected, std::int32_t length) {
    for (std::int32_t i = 0; i < length; ++i) {
        if (received[i] != expected[i]) return false;
        if (received[i] == 0) return true;
    }
    return true;
}

bool SendRecordWithReply(const std::uint8_t* record, char axis) {
    const Replies replies = RepliesFor('C', axis);
    return SendCommandWithReply(record, kRecordLength, replies.accept, replies.reject, kReplyLength);
}

bool SendAxisRecord(int recordIndex, char axis) {
    std::uint8_t record[kRecordLength];
    record[0] = kSoh;
    record[1] = 'C';
    record[2] = static_cast<std::uint8_t>(axis);
    for (int v = 0; v < 4; ++v) {
        const auto value = static_cast<std::uint32_t>(gSession.deviceRecords[recordIndex][v]);
        for (int b = 0; b < 4; ++b) {
            record[3 + 4 * v + b] = static_cast<std::uint8_t>((value >> (8 * b)) & 0xFFu);
        }
    }
    record[19] = kCr;
    return SendRecordWithReply(record, axis);
}

// A handshake stops at its next step once the controller is gone, or once
// the program is asked to end, unless it is part of a commit: a Yes once
// given is carried to its end.
bool HandshakeStopped() {
    return gSession.deviceGone || (gLeaveRequested != 0 && !gSession.committing);
}

}  // namespace

bool SendCommandWithReply(const std::uint8_t* command, std::int32_t commandLength,
                          const std::uint8_t* acceptReply, const std::uint8_t* rejectReply,
                          std::int32_t compareLength) {
    // The reply buffer holds 100 bytes; no comparison reaches past it.
    const std::int32_t length = std::clamp(compareLength, 0, kReplyBufferSize);
    for (int send = 0; send < kSendsPerHandshake; ++send) {
        if (HandshakeStopped()) return false;
        SendFeature(command, commandLength);
        WaitMilliseconds(kHandshakeWaitMs);
        for (int poll = 0; poll < kPollsPerSend; ++poll) {
            std::uint8_t reply[kReplyBufferSize] = {};
            ReceiveFeature(reply, length);
            WaitMilliseconds(kHandshakeWaitMs);
            if (RepliesEqual(reply, acceptReply, length)) return true;
            if (RepliesEqual(reply, rejectReply, length)) break;
            if (HandshakeStopped()) return false;
        }
    }
    return false;
}

bool SendTargetCue() {
    const bool sent = SendFeature(kTargetCueCommand, sizeof kTargetCueCommand);
    WaitMilliseconds(kTargetCueWaitMs);
    return sent;
}

bool SendAbort() {
    return SendFeature(kAbortCommand, sizeof kAbortCommand);
}

bool SendAxisRecordX() {
    return SendAxisRecord(kRecordX, 'x');
}

bool SendAxisRecordY() {
    return SendAxisRecord(kRecordY, 'y');
}

bool SendCoefficients() {
    const bool x = SendAxisRecordX();
    const bool y = SendAxisRecordY();
    return x && y;
}

bool SendIdentityX() {
    return SendRecordWithReply(kIdentityRecordX, 'x');
}

bool SendIdentityY() {
    return SendRecordWithReply(kIdentityRecordY, 'y');
}

bool ResetToIdentity() {
    const bool x = SendIdentityX();
    const bool y = SendIdentityY();
    return x && y;
}

bool SendStageCommand() {
    const Replies cs = RepliesFor('C', 'S');
    return SendCommandWithReply(kCommitCSCommand, sizeof kCommitCSCommand, cs.accept, cs.reject,
                                kReplyLength);
}

bool SendWriteCommand() {
    const Replies wc = RepliesFor('W', 'C');
    return SendCommandWithReply(kCommitWCCommand, sizeof kCommitWCCommand, wc.accept, wc.reject,
                                kReplyLength);
}

bool CommitCalibration() {
    gSession.committing = true;
    const bool committed = SendStageCommand() && SendWriteCommand();
    gSession.committing = false;
    return committed;
}

bool ReadTouchPoint(std::uint16_t* rawX, std::uint16_t* rawY) {
    std::uint8_t buffer[kReplyBufferSize] = {};
    ReceiveFeature(buffer, kReplyBufferSize);
    bool found = false;
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    for (int k = 0; k < kTouchScanPositions; ++k) {
        const std::uint8_t* p = buffer + k;
        if (p[0] == 'U' && p[1] == 'T' && p[kTouchPacketLength] == 'U' &&
            p[kTouchPacketLength + 1] == 'T') {
            x = static_cast<std::uint16_t>(p[3] + 256 * p[4]);
            y = static_cast<std::uint16_t>(p[5] + 256 * p[6]);
            found = true;
        }
    }
    if (!found) return false;
    *rawX = x;
    *rawY = y;
    return true;
}
