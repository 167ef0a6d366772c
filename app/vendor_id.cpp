#include "app/vendor_id.h"

#include <cstring>

bool ParseVendorId(const char* text, std::uint16_t* value) {
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
    const std::size_t digits = std::strlen(text);
    if (digits < 1 || digits > 4) return false;
    unsigned v = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        const char c = *p;
        unsigned d = 0;
        if (c >= '0' && c <= '9') {
            d = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            d = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            d = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        v = v * 16 + d;
    }
    *value = static_cast<std::uint16_t>(v);
    return true;
}
