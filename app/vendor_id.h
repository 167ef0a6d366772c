// The USB vendor ID on a command line (kelcalib --vid, kelcalib-ctl --vid).
#ifndef KELCALIB_APP_VENDOR_ID_H
#define KELCALIB_APP_VENDOR_ID_H

#include <cstdint>

// 1 to 4 hexadecimal digits, with or without 0x; false (nothing written)
// for anything else.
bool ParseVendorId(const char* text, std::uint16_t* value);

#endif  // KELCALIB_APP_VENDOR_ID_H
