// Pieces of the virtual controller's model shared by its files: number and
// word parsing for the config and store formats, the transfer log, the
// coefficient store, a controller index checked and a maximum as read. Not
// part of the model's interface.
#ifndef KELCALIB_TOOLS_VC_INTERNAL_H
#define KELCALIB_TOOLS_VC_INTERNAL_H

#include <cstdint>
#include <string>
#include <vector>

#include "tools/virtual-controller/virtual_controller.h"

namespace vc_internal {

constexpr std::uint8_t kReportIds[3] = {0x55, 0x01, 0x00};

// 0..2 for the report IDs 0x55, 0x01, 0x00; -1 for any other.
int ReportIdSlot(std::uint8_t reportId);

// Two lower-case hexadecimal digits.
std::string Hex2(unsigned value);

// Decimal or 0x-hexadecimal integer, optional leading sign.
bool ParseInteger(const std::string& token, long long* value);
bool ParseRanged(const std::string& token, long long low, long long high, long long* value);
bool ParseDouble(const std::string& token, double* value);
std::vector<std::string> SplitWords(const std::string& line);

// "factorX factorY offset divisor"
std::string CoefficientText(const VcAxisCoefficients& axis);

// Transfer log: every transfer and firmware event, in memory and appended to
// the config's log file.
void LogTransfer(VcSystem* system, int controller, VcLogKind kind, const std::uint8_t* report,
                 std::uint32_t length, VcResult result);
void LogEvent(VcSystem* system, int controller, const std::string& text);

// Coefficient store file; an empty path is a store in memory only (writes
// succeed, reads find nothing).
bool WriteStore(const std::string& path, const VcCoefficients& coefficients);
bool ReadStore(const std::string& path, VcCoefficients* coefficients);

// True when `controller` indexes one of the system's controllers.
bool ValidController(const VcSystem& system, int controller);

// A logical maximum as the HID class reads it: written in logicalMaxBytes
// bytes, it is their value signed by that size.
std::int32_t LogicalMaxAsRead(const VcControllerConfig& config, int index);

}  // namespace vc_internal

#endif  // KELCALIB_TOOLS_VC_INTERNAL_H
