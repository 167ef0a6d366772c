// The records file `apply` sends: calib-solve's output, of which the
// `record-x` and `record-y` lines count.
#ifndef KELCALIB_CTL_CTL_RECORDS_H
#define KELCALIB_CTL_CTL_RECORDS_H

#include <cstddef>
#include <cstdint>

// Largest records file read; calib-solve prints about 150 bytes.
constexpr std::size_t kRecordsFileMax = 65536;

// The ranges of the records calib-solve produces: factors of at most 15
// bits, offsets of at most 27 (the offset is c / divisor, c within 27 bits),
// a divisor of 1 or more.
constexpr std::int32_t kRecordFactorMax = 32767;
constexpr std::int32_t kRecordOffsetMax = (1 << 27) - 1;

// Finds the two records in the `length` bytes of `text`: exactly one
// `record-x` and one `record-y` line, each with exactly four signed 32-bit
// decimal numbers (factor of raw x, factor of raw y, offset, divisor), each
// within the ranges above (a divisor of 0 or below is refused). Other lines (calib-solve's `expected`,
// `coefficients`, `fit`) are passed over, but a line whose first word is
// "record" or begins with "record-" and is neither of the two is an error.
// On false `error` names the line and the fault (words of the file in it as
// printable text, device/name_text.h) and `records` is untouched.
bool ParseRecordsText(const char* text, std::size_t length, std::int32_t records[2][4],
                      char* error, std::size_t errorSize);

#endif  // KELCALIB_CTL_CTL_RECORDS_H
