#pragma once
// The bit order of the GPF/DPF payload coder in 8-byte words: bit n of a word is bit n % 8 of
// its byte n / 8, which is the order the codes are packed in (least significant bit first).

#include <bit>
#include <cstdint>
#include <cstring>

inline std::uint64_t HuffmanByteSwap64(std::uint64_t value)
{
    std::uint64_t swapped = 0;
    for (int i = 0; i < 8; ++i) {
        swapped = (swapped << 8) | (value & 0xFF);
        value >>= 8;
    }
    return swapped;
}

/// Eight bytes as one value, first byte lowest.
inline std::uint64_t HuffmanLoad64(const std::uint8_t* bytes)
{
    std::uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    if constexpr (std::endian::native == std::endian::big)
        value = HuffmanByteSwap64(value);
    return value;
}

/// Stores value as eight bytes, lowest first.
inline void HuffmanStore64(std::uint8_t* bytes, std::uint64_t value)
{
    if constexpr (std::endian::native == std::endian::big)
        value = HuffmanByteSwap64(value);
    std::memcpy(bytes, &value, sizeof value);
}

/// Stores value as four bytes, lowest first.
inline void HuffmanStore32(std::uint8_t* bytes, std::uint32_t value)
{
    if constexpr (std::endian::native == std::endian::big)
        value = static_cast<std::uint32_t>(HuffmanByteSwap64(value) >> 32);
    std::memcpy(bytes, &value, sizeof value);
}
