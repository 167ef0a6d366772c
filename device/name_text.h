// Names that come from outside the program (a device's product string,
// sysfs, the X server, DRM, SDL) are data: each is taken in once, where it
// is read, as printable text, so that no later message, log line or
// configuration comment can carry a control byte to a terminal or a file.
#ifndef KELCALIB_DEVICE_NAME_TEXT_H
#define KELCALIB_DEVICE_NAME_TEXT_H

#include <cstddef>

// The length of the valid UTF-8 sequence at `p` (1 to 4, ASCII included), 0
// when the bytes there are not one: overlong forms, surrogates and code
// points above U+10FFFF are not. Reads no further than a terminating 0.
int Utf8SequenceLength(const unsigned char* p);

// True for the sequence of `length` bytes at `p` (as Utf8SequenceLength
// measured it) that a terminal may act on: C0 controls (CR, LF and ESC
// among them), DEL and the C1 controls U+0080..U+009F.
bool IsControlSequence(const unsigned char* p, int length);

// `raw` (at most `length` bytes, ending earlier at a 0) as the programs keep
// a name: printable ASCII and valid UTF-8 as they are; each byte of a
// control (C0, DEL, C1), of a sequence that is not UTF-8, and every
// backslash as \xNN (upper-case hexadecimal). Always terminated; cut before
// the first character or escape that does not fit in `size`.
void TakeName(const char* raw, std::size_t length, char* out, std::size_t size);

// The same for a terminated string.
void TakeName(const char* raw, char* out, std::size_t size);

// True when `text` is valid UTF-8 without a control (C0, DEL, C1): what
// TakeName gives, and what may go to a terminal or a comment as it is.
bool IsPrintableText(const char* text);

// `text` as a JSON string, quotes included: control characters (C0, DEL,
// C1) escaped, bytes that are not UTF-8 each replaced by U+FFFD.
void PrintJsonString(const char* text);

// `text` for a terminal: printable ASCII and valid UTF-8 sequences as they
// are, every other byte (control characters C0, DEL and C1, bytes that are
// not UTF-8) as \xNN.
void PrintTextString(const char* text);

#endif  // KELCALIB_DEVICE_NAME_TEXT_H
