// A scripted controller for the device fuzz targets: it answers each feature
// read with the next report taken from the fuzz input, accepts the report IDs
// it is told to, and counts what the program did. It provides the device
// seams (PlatformSetFeature, PlatformGetFeature, WaitMilliseconds) for the
// fuzz executables, in place of the Windows ones or the virtual controller.
#ifndef KELCALIB_TESTS_FUZZ_FUZZ_DEVICE_H
#define KELCALIB_TESTS_FUZZ_FUZZ_DEVICE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/fuzz/fuzz_input.h"

struct FuzzDevice {
    std::uint8_t acceptMask;     // bit 0: 0x55, bit 1: 0x01, bit 2: 0x00 accepted
    std::uint16_t reportLength;  // length every transfer must pass
    // Reports served to reads: each read takes the next one whole (the
    // last one again once they run out; zeros when there are none).
    std::vector<std::vector<std::uint8_t>> reports;
    std::size_t nextReport;
    // What the program did.
    std::uint32_t setCalls;
    std::uint32_t getCalls;
    std::uint32_t sends;  // SendFeature calls that reached the device (ID 0x55 attempts)
    std::uint32_t polls;  // ReceiveFeature calls that reached the device (ID 0x55 attempts)
    std::uint64_t waitedMs;
    std::vector<std::vector<std::uint8_t>> served;  // the report bytes of each successful read
};

extern FuzzDevice gFuzzDevice;

// Resets the device and points gSession at it with the given report length.
void ResetFuzzDevice(std::uint8_t acceptMask, std::uint16_t reportLength);

// What ReceiveFeature must deliver for a received report of `reportLength`
// bytes (`report` holds them): trailing zeros trimmed over at most the ID and
// 100 payload bytes, from byte 0 when the report begins with 0x01, else from
// byte 1, at most `capacity` bytes.
std::vector<std::uint8_t> ExpectedDelivery(const std::vector<std::uint8_t>& report,
                                           std::uint16_t reportLength, std::int32_t capacity);

#endif  // KELCALIB_TESTS_FUZZ_FUZZ_DEVICE_H
