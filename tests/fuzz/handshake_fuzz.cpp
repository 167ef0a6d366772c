// SendCommandWithReply against a controller that answers arbitrary byte
// strings: true only when a poll read the accept reply, never more sends or
// polls than the handshake allows, and the waits it mandates.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "device/controller_protocol.h"
#include "tests/fuzz/fuzz_device.h"

namespace {

const std::uint8_t kRecordX[20] = {0x01, 'C', 'x', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x0D};
const std::uint8_t kAccept[kReplyLength] = {0x01, 'C', 'x', '0', 0x0D};
const std::uint8_t kReject[kReplyLength] = {0x01, 'C', 'x', '1', 0x0D};

bool StartsWith(const std::vector<std::uint8_t>& delivered, const std::uint8_t (&reply)[kReplyLength]) {
    return delivered.size() >= kReplyLength && std::memcmp(delivered.data(), reply, kReplyLength) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in{data, size, 0};
    const std::uint8_t acceptMask = TakeByte(&in);
    const std::uint8_t lengthChoice = TakeByte(&in);
    const std::uint16_t reportLength = lengthChoice < 128 ? 101 : static_cast<std::uint16_t>(lengthChoice - 120);
    ResetFuzzDevice(acceptMask, reportLength);
    // The rest is a sequence of reports, each a length byte and its bytes.
    while (in.pos < in.size) {
        const std::size_t length = TakeByte(&in) % 24;
        std::vector<std::uint8_t> report;
        for (std::size_t i = 0; i < length && in.pos < in.size; ++i) report.push_back(TakeByte(&in));
        gFuzzDevice.reports.push_back(report);
    }

    const bool accepted = SendCommandWithReply(kRecordX, 20, kAccept, kReject, kReplyLength);

    const std::uint32_t maxSends = kSendsPerHandshake;
    const std::uint32_t maxPolls = kPollsPerSend * gFuzzDevice.sends;
    if (gFuzzDevice.sends > maxSends || gFuzzDevice.polls > maxPolls) std::abort();
    if (gFuzzDevice.sends == 0) std::abort();
    // Replay what each poll delivered: accepted exactly when one poll (the
    // last) read the accept reply; a reject ends that send's polling.
    bool sawAccept = false;
    std::size_t rejects = 0;
    for (const std::vector<std::uint8_t>& served : gFuzzDevice.served) {
        const std::vector<std::uint8_t> delivered = ExpectedDelivery(served, reportLength, kReplyLength);
        if (sawAccept) std::abort();  // a read after the accept
        if (StartsWith(delivered, kAccept)) sawAccept = true;
        if (StartsWith(delivered, kReject)) ++rejects;
    }
    if (accepted != sawAccept) std::abort();
    if (!accepted && gFuzzDevice.sends != maxSends) std::abort();
    if (rejects > gFuzzDevice.sends) std::abort();
    // The wait after every send and every poll, nothing else.
    if (gFuzzDevice.waitedMs != std::uint64_t{kHandshakeWaitMs} * (gFuzzDevice.sends + gFuzzDevice.polls)) std::abort();
    return 0;
}
