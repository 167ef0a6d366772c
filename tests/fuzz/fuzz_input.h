// Reading structured values off a fuzz input; past its end every byte is 0.
#ifndef KELCALIB_TESTS_FUZZ_FUZZ_INPUT_H
#define KELCALIB_TESTS_FUZZ_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>

struct FuzzInput {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

inline std::uint8_t TakeByte(FuzzInput* in) {
    return in->pos < in->size ? in->data[in->pos++] : 0;
}

inline std::uint16_t TakeU16(FuzzInput* in) {
    const std::uint16_t low = TakeByte(in);
    return static_cast<std::uint16_t>(low | (TakeByte(in) << 8));
}

inline std::int32_t TakeI32(FuzzInput* in) {
    const std::uint32_t low = TakeU16(in);
    return static_cast<std::int32_t>(low | (static_cast<std::uint32_t>(TakeU16(in)) << 16));
}

#endif  // KELCALIB_TESTS_FUZZ_FUZZ_INPUT_H
