#include "device/name_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

int Utf8SequenceLength(const unsigned char* p) {
    const unsigned char c = p[0];
    if (c < 0x80) return 1;
    int length = 0;
    unsigned int lowest = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        lowest = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        lowest = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        lowest = 0x10000;
    } else {
        return 0;
    }
    unsigned int code = c & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;  // also stops at the terminating 0
        code = (code << 6) | (p[i] & 0x3F);
    }
    if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

bool IsControlSequence(const unsigned char* p, int length) {
    if (length == 1) return p[0] < 0x20 || p[0] == 0x7F;
    // U+0080..U+009F are C2 80..C2 9F.
    return length == 2 && p[0] == 0xC2 && p[1] < 0xA0;
}

void TakeName(const char* raw, std::size_t length, char* out, std::size_t size) {
    if (size == 0) return;
    if (raw == nullptr) length = 0;
    // A copy that ends in 0, so that a sequence is never read past the name.
    char bounded[1024];
    const std::size_t n = std::min<std::size_t>(length, sizeof bounded - 1);
    std::size_t end = 0;
    while (end < n && raw[end] != '\0') ++end;
    std::memcpy(bounded, raw, end);
    bounded[end] = '\0';
    std::size_t used = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(bounded);
    while (*p != '\0') {
        int sequence = Utf8SequenceLength(p);
        const bool escape = sequence == 0 || *p == '\\' || IsControlSequence(p, sequence);
        if (sequence == 0) sequence = 1;
        const std::size_t needed = escape ? 4u * static_cast<std::size_t>(sequence)
                                          : static_cast<std::size_t>(sequence);
        if (used + needed + 1 > size) break;
        for (int i = 0; i < sequence; ++i) {
            if (escape) {
                std::snprintf(out + used, 5, "\\x%02X", p[i]);
                used += 4;
            } else {
                out[used++] = static_cast<char>(p[i]);
            }
        }
        p += sequence;
    }
    out[used] = '\0';
}

void TakeName(const char* raw, char* out, std::size_t size) {
    TakeName(raw, raw != nullptr ? std::strlen(raw) : 0, out, size);
}

bool IsPrintableText(const char* text) {
    if (text == nullptr) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != '\0') {
        const int sequence = Utf8SequenceLength(p);
        if (sequence == 0 || IsControlSequence(p, sequence)) return false;
        p += sequence;
    }
    return true;
}

void PrintJsonString(const char* text) {
    std::putchar('"');
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != '\0') {
        const unsigned char c = *p;
        const int length = Utf8SequenceLength(p);
        if (c == '"' || c == '\\') {
            std::putchar('\\');
            std::putchar(c);
        } else if (length == 1 && IsControlSequence(p, 1)) {
            std::printf("\\u%04x", c);
        } else if (length == 2 && IsControlSequence(p, 2)) {
            std::printf("\\u%04x", p[1]);  // C1: U+0080..U+009F
        } else if (length == 0) {
            std::printf("\\ufffd");
        } else {
            std::fwrite(p, 1, static_cast<std::size_t>(length), stdout);
        }
        p += length == 0 ? 1 : length;
    }
    std::putchar('"');
}

void PrintTextString(const char* text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != '\0') {
        const int length = Utf8SequenceLength(p);
        if (length == 0 || IsControlSequence(p, length)) {
            const int bytes = length == 0 ? 1 : length;
            for (int i = 0; i < bytes; ++i) std::printf("\\x%02X", p[i]);
            p += bytes;
        } else {
            std::fwrite(p, 1, static_cast<std::size_t>(length), stdout);
            p += length;
        }
    }
}
