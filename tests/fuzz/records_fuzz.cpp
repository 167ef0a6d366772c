// apply's records text (ParseRecordsText) over arbitrary bytes: either two
// records within what calib-solve produces, or an error that names where and
// holds no control byte (the file's words are echoed in it).
#include <cstdlib>
#include <cstring>

#include "ctl/ctl_records.h"
#include "device/name_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::int32_t records[2][4] = {{7, 7, 7, 7}, {7, 7, 7, 7}};
    char error[256] = "";
    const char* text = reinterpret_cast<const char*>(data);
    if (!ParseRecordsText(text, size, records, error, sizeof error)) {
        if (error[0] == '\0' || !IsPrintableText(error)) std::abort();
        if (std::strncmp(error, "line ", 5) != 0 && std::strncmp(error, "no record-", 10) != 0 &&
            std::strncmp(error, "more than", 9) != 0) {
            std::abort();
        }
        for (const auto& record : records) {
            for (const std::int32_t value : record) {
                if (value != 7) std::abort();  // untouched on a refusal
            }
        }
        return 0;
    }
    for (const auto& record : records) {
        if (record[3] < 1) std::abort();
        for (int i = 0; i < 2; ++i) {
            if (record[i] < -kRecordFactorMax || record[i] > kRecordFactorMax) std::abort();
        }
        if (record[2] < -kRecordOffsetMax || record[2] > kRecordOffsetMax) std::abort();
    }
    return 0;
}
