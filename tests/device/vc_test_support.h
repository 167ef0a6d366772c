// Helpers shared by the device suites: load a virtual controller config and
// open controller 0, and read the transfers it logged.
#ifndef KELCALIB_TESTS_DEVICE_VC_TEST_SUPPORT_H
#define KELCALIB_TESTS_DEVICE_VC_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/session_state.h"
#include "tools/virtual-controller/native_adapter.h"

// Loads `config` and opens controller 0; fails the test on a bad config.
inline void OpenVirtualController(const std::string& config) {
    gSession = InitialSessionState();
    std::string error;
    ASSERT_TRUE(VcNativeLoadConfig(config, &error)) << error;
    ASSERT_TRUE(VcNativeOpen(0));
}

// Payload bytes (after the report ID) of every SET transfer, as sent.
inline std::vector<std::vector<std::uint8_t>> SentReports() {
    std::vector<std::vector<std::uint8_t>> reports;
    for (const VcLogEntry& entry : VcNativeTransfers(VcLogKind::kSet)) reports.push_back(entry.bytes);
    return reports;
}

inline std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (int v : values) bytes.push_back(static_cast<std::uint8_t>(v));
    return bytes;
}

#endif  // KELCALIB_TESTS_DEVICE_VC_TEST_SUPPORT_H
