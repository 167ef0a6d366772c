// The virtual touch controller's model: the firmware side of the command
// protocol (transfers checked, commands carried out, replies and packets).
#include "tools/virtual-controller/virtual_controller.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <sstream>

#include "tools/virtual-controller/vc_internal.h"

using vc_internal::CoefficientText;
using vc_internal::Hex2;
using vc_internal::LogEvent;
using vc_internal::LogTransfer;
using vc_internal::ValidController;
using vc_internal::ReadStore;
using vc_internal::ReportIdSlot;
using vc_internal::WriteStore;

namespace {

constexpr std::uint8_t kSoh = 0x01;
constexpr std::uint8_t kCr = 0x0D;

std::uint64_t NextRandom(std::uint64_t* state) {
    // splitmix64: deterministic for a given seed on every platform.
    std::uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::int32_t ReadLe32(const std::uint8_t* bytes) {
    const std::uint32_t value = static_cast<std::uint32_t>(bytes[0]) |
                                (static_cast<std::uint32_t>(bytes[1]) << 8) |
                                (static_cast<std::uint32_t>(bytes[2]) << 16) |
                                (static_cast<std::uint32_t>(bytes[3]) << 24);
    return static_cast<std::int32_t>(value);
}

// ---- firmware -------------------------------------------------------------

// Common checks of both transfer directions, counting the transfer.
VcResult CheckTransfer(VcControllerState* state, bool wire, const std::uint8_t* report,
                       std::uint32_t length) {
    ++state->transfers;
    if (state->config.faults.goneAfter >= 0 && state->transfers > state->config.faults.goneAfter) {
        state->gone = true;
    }
    if (state->gone) return VcResult::kGone;
    if (report == nullptr || length == 0) return VcResult::kBadLength;
    if (wire) {
        // The device's HID stack: a report its descriptor does not declare
        // is stalled, a declared one must come at its own length.
        const std::uint32_t declared = VcWireReportLength(state->config, report[0]);
        if (declared == 0) return VcResult::kRefused;
        if (length != declared) return VcResult::kBadLength;
    } else if (length != state->config.featureReportLength) {
        return VcResult::kBadLength;
    }
    const int slot = ReportIdSlot(report[0]);
    if (slot < 0 || !state->config.acceptsReportId[slot]) return VcResult::kRefused;
    return VcResult::kOk;
}

void SetReply(VcControllerState* state, char first, char second, bool accept) {
    const VcFaults& faults = state->config.faults;
    if (faults.otherReply) {
        if (first == 'C' && second == 'x') {
            second = 'y';
        } else if (first == 'C' && second == 'y') {
            second = 'x';
        } else if (first == 'C' && second == 'S') {
            first = 'W';
            second = 'C';
        } else {
            first = 'C';
            second = 'S';
        }
    }
    std::uint8_t* r = state->reply;
    int n = 0;
    if (faults.garbage) {
        // Starts with STX instead of SOH, so it can never be taken for a reply.
        r[n++] = 0x02;
        for (int i = 0; i < 3; ++i) r[n++] = static_cast<std::uint8_t>(0x21 + NextRandom(&state->random) % 0x5E);
        r[n++] = 0x0A;
    } else {
        r[n++] = kSoh;
        r[n++] = static_cast<std::uint8_t>(first);
        r[n++] = static_cast<std::uint8_t>(second);
        if (!faults.halfReply) {
            r[n++] = accept ? '0' : '1';
            if (!faults.noCr) r[n++] = kCr;
        }
    }
    if (faults.trailingBytes) {
        r[n++] = 'E';
        r[n++] = 'N';
        r[n++] = 'D';
    }
    state->replyLength = n;
    state->mode = VcReportMode::kReply;
}

// Adds the held-back faults whose point of the session has come.
void ActivateLateFaults(VcControllerState* state) {
    std::vector<VcLateFault>& pending = state->config.lateFaults;
    VcFaults& active = state->config.faults;
    for (std::size_t i = 0; i < pending.size();) {
        const VcLateFault& late = pending[i];
        if ((late.afterAccepts ? state->accepts : state->cues) < late.count) {
            ++i;
            continue;
        }
        const VcFaults& f = late.fault;
        active.silent = active.silent || f.silent;
        active.garbage = active.garbage || f.garbage;
        active.noCr = active.noCr || f.noCr;
        active.halfReply = active.halfReply || f.halfReply;
        active.otherReply = active.otherReply || f.otherReply;
        active.trailingBytes = active.trailingBytes || f.trailingBytes;
        active.noPackets = active.noPackets || f.noPackets;
        active.singlePacket = active.singlePacket || f.singlePacket;
        if (f.rejectNext > 0) state->rejectRemaining = f.rejectNext;
        if (f.goneAfter >= 0) {
            active.goneAfter = static_cast<std::int32_t>(
                std::min<std::int64_t>(state->transfers + f.goneAfter, 2147483647LL));
        }
        if (f.slowMs > 0) active.slowMs = f.slowMs;
        pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

bool TakeForcedReject(VcControllerState* state) {
    if (state->rejectRemaining <= 0) return false;
    --state->rejectRemaining;
    return true;
}

// Carries out one command frame: `payload` is the report after its ID.
void RunCommand(VcSystem* system, int controller, const std::uint8_t* payload, std::uint32_t size) {
    VcControllerState* state = &system->controllers[static_cast<std::size_t>(controller)];
    if (state->config.faults.silent) {
        LogEvent(system, controller, "ignored (silent)");
        return;
    }
    auto frameEndsAt = [&](std::uint32_t index) { return size > index && payload[index] == kCr; };
    if (size < 4 || payload[0] != kSoh) {
        state->mode = VcReportMode::kEmpty;
        LogEvent(system, controller, "unknown frame");
        return;
    }
    const char first = static_cast<char>(payload[1]);
    const char second = static_cast<char>(payload[2]);
    if (first == 'Q' && payload[2] == 0x87 && frameEndsAt(3)) {
        state->mode = VcReportMode::kPackets;
        LogEvent(system, controller, "Q cue");
        ++state->cues;
        ActivateLateFaults(state);
        return;
    }
    if (first == 'R' && second == 's' && frameEndsAt(3)) {
        state->active = state->committed;
        state->stagedValid = false;
        state->mode = VcReportMode::kEmpty;
        LogEvent(system, controller, "Rs restore " + CoefficientText(state->active.axis[0]) + " / " +
                                         CoefficientText(state->active.axis[1]));
        return;
    }
    if (first == 'C' && (second == 'x' || second == 'y') && frameEndsAt(19)) {
        VcAxisCoefficients axis;
        axis.factorX = ReadLe32(payload + 3);
        axis.factorY = ReadLe32(payload + 7);
        axis.offset = ReadLe32(payload + 11);
        axis.divisor = ReadLe32(payload + 15);
        const std::string name = std::string("C") + second;
        if (TakeForcedReject(state)) {
            SetReply(state, first, second, false);
            LogEvent(system, controller, name + " reject (fault) " + CoefficientText(axis));
        } else if (axis.divisor == 0) {
            SetReply(state, first, second, false);
            LogEvent(system, controller, name + " reject (divisor 0) " + CoefficientText(axis));
        } else {
            state->active.axis[second == 'x' ? 0 : 1] = axis;
            SetReply(state, first, second, true);
            LogEvent(system, controller, name + " accept " + CoefficientText(axis));
            ++state->accepts;
            ActivateLateFaults(state);
        }
        return;
    }
    if (first == 'C' && second == 'S' && frameEndsAt(3)) {
        if (TakeForcedReject(state)) {
            SetReply(state, first, second, false);
            LogEvent(system, controller, "CS reject (fault)");
        } else {
            state->staged = state->active;
            state->stagedValid = true;
            SetReply(state, first, second, true);
            LogEvent(system, controller, "CS accept");
            ++state->accepts;
            ActivateLateFaults(state);
        }
        return;
    }
    if (first == 'W' && second == 'C' && frameEndsAt(3)) {
        if (TakeForcedReject(state)) {
            SetReply(state, first, second, false);
            LogEvent(system, controller, "WC reject (fault)");
        } else if (!state->stagedValid) {
            SetReply(state, first, second, false);
            LogEvent(system, controller, "WC reject (no CS before it)");
        } else if (!WriteStore(state->config.storePath, state->staged)) {
            SetReply(state, first, second, false);
            LogEvent(system, controller, "WC reject (store not written)");
        } else {
            state->committed = state->staged;
            state->stagedValid = false;
            ++state->commits;
            SetReply(state, first, second, true);
            LogEvent(system, controller, "WC accept committed " +
                                             CoefficientText(state->committed.axis[0]) + " / " +
                                             CoefficientText(state->committed.axis[1]));
            ++state->accepts;
            ActivateLateFaults(state);
        }
        return;
    }
    state->mode = VcReportMode::kEmpty;
    LogEvent(system, controller, "unknown command " + Hex2(payload[1]) + " " + Hex2(payload[2]));
}

void WritePackets(VcControllerState* state, std::uint8_t* payload, std::uint32_t size,
                  const VcTouch& touch) {
    const VcFaults& faults = state->config.faults;
    if (!touch.touching || faults.noPackets) return;
    std::uint32_t count = size / 10;
    if (faults.singlePacket && count > 1) count = 1;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint16_t rawX = 0;
        std::uint16_t rawY = 0;
        VcPanelRaw(state->config.panel, touch, &rawX, &rawY);
        const std::int32_t noise = state->config.panel.noise;
        if (noise > 0) {
            const std::uint64_t span = static_cast<std::uint64_t>(noise) * 2 + 1;
            const std::int32_t dx = static_cast<std::int32_t>(NextRandom(&state->random) % span) - noise;
            const std::int32_t dy = static_cast<std::int32_t>(NextRandom(&state->random) % span) - noise;
            rawX = static_cast<std::uint16_t>(std::clamp(rawX + dx, 0, 65535));
            rawY = static_cast<std::uint16_t>(std::clamp(rawY + dy, 0, 65535));
        }
        std::uint8_t* p = payload + i * 10;
        p[0] = 'U';
        p[1] = 'T';
        p[2] = 0x81;  // status: touching
        p[3] = static_cast<std::uint8_t>(rawX & 0xFF);
        p[4] = static_cast<std::uint8_t>(rawX >> 8);
        p[5] = static_cast<std::uint8_t>(rawY & 0xFF);
        p[6] = static_cast<std::uint8_t>(rawY >> 8);
        p[7] = static_cast<std::uint8_t>(i);  // packet sequence
        p[8] = 0x00;
        unsigned sum = 0;
        for (int k = 0; k < 9; ++k) sum += p[k];
        p[9] = static_cast<std::uint8_t>(sum);  // checksum
    }
}

}  // namespace

// ---- public ---------------------------------------------------------------

VcCoefficients VcIdentityCoefficients() {
    VcCoefficients identity;
    identity.axis[0] = VcAxisCoefficients{1, 0, 0, 1};
    identity.axis[1] = VcAxisCoefficients{0, 1, 0, 1};
    return identity;
}

void VcResetController(VcSystem* system, int controller, const VcControllerConfig& config) {
    if (!ValidController(*system, controller)) return;
    VcControllerState& state = system->controllers[static_cast<std::size_t>(controller)];
    state.config = config;
    state.committed = VcIdentityCoefficients();
    VcCoefficients stored;
    if (ReadStore(config.storePath, &stored)) state.committed = stored;
    state.active = state.committed;
    state.staged = state.committed;
    state.stagedValid = false;
    state.mode = config.hasCannedReport ? VcReportMode::kCanned : VcReportMode::kEmpty;
    state.canned = config.cannedReport;
    std::memset(state.reply, 0, sizeof state.reply);
    state.replyLength = 0;
    state.rejectRemaining = config.faults.rejectNext;
    state.transfers = 0;
    state.gone = false;
    state.random = config.seed;
    state.setCount = 0;
    state.getCount = 0;
    state.commits = 0;
    state.cues = 0;
    state.accepts = 0;
    ActivateLateFaults(&state);  // "after-cues 0" holds nothing back
}

void VcReset(VcSystem* system, const VcConfig& config) {
    system->config = config;
    system->controllers.assign(config.controllers.size(), VcControllerState());
    system->log.clear();
    system->nextSequence = 0;
    for (std::size_t i = 0; i < config.controllers.size(); ++i) {
        VcResetController(system, static_cast<int>(i), config.controllers[i]);
    }
}

VcResult VcSetFeature(VcSystem* system, int controller, const std::uint8_t* report,
                      std::uint32_t length) {
    if (!ValidController(*system, controller)) return VcResult::kGone;
    VcControllerState* state = &system->controllers[static_cast<std::size_t>(controller)];
    ++state->setCount;
    const VcResult result = CheckTransfer(state, system->wireRequests, report, length);
    LogTransfer(system, controller, VcLogKind::kSet, report, length, result);
    if (result == VcResult::kOk) RunCommand(system, controller, report + 1, length - 1);
    return result;
}

VcResult VcGetFeature(VcSystem* system, int controller, std::uint8_t* report,
                      std::uint32_t length, const VcTouch& touch) {
    if (!ValidController(*system, controller)) return VcResult::kGone;
    VcControllerState* state = &system->controllers[static_cast<std::size_t>(controller)];
    ++state->getCount;
    const VcResult result = CheckTransfer(state, system->wireRequests, report, length);
    if (result == VcResult::kOk) {
        const std::uint8_t reportId = report[0];
        std::memset(report + 1, 0, length - 1);
        std::uint8_t* payload = report + 1;
        const std::uint32_t size = length - 1;
        if (!state->config.faults.silent) {
            if (state->mode == VcReportMode::kReply) {
                // Under report ID 0x01 the ID itself stands for the reply's leading 0x01.
                const int skip = reportId == kSoh ? 1 : 0;
                const std::uint32_t count =
                    std::min<std::uint32_t>(size, static_cast<std::uint32_t>(state->replyLength - skip));
                std::memcpy(payload, state->reply + skip, count);
            } else if (state->mode == VcReportMode::kPackets) {
                WritePackets(state, payload, size, touch);
            } else if (state->mode == VcReportMode::kCanned) {
                const std::size_t count = std::min<std::size_t>(size, state->canned.size());
                if (count > 0) std::memcpy(payload, state->canned.data(), count);
            }
        }
    }
    LogTransfer(system, controller, VcLogKind::kGet, report, length, result);
    return result;
}

std::uint32_t VcTransferDelayMs(const VcSystem& system, int controller) {
    if (!ValidController(system, controller)) return 0;
    return system.controllers[static_cast<std::size_t>(controller)].config.faults.slowMs;
}

void VcSetGone(VcSystem* system, int controller, bool gone) {
    if (!ValidController(*system, controller)) return;
    VcControllerState& state = system->controllers[static_cast<std::size_t>(controller)];
    state.gone = gone;
    if (!gone) state.config.faults.goneAfter = -1;
}

void VcSetCannedReport(VcSystem* system, int controller, const std::vector<std::uint8_t>& bytes) {
    if (!ValidController(*system, controller)) return;
    VcControllerState& state = system->controllers[static_cast<std::size_t>(controller)];
    state.canned = bytes;
    state.mode = VcReportMode::kCanned;
}
