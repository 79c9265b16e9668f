#pragma once
// Value types and constants that keep the original desktop program's vocabulary:
// flags are 32-bit integers, message boxes take MB_* flags and answer ID* codes.

#include <cstdint>

using BOOL = std::int32_t;

// Message-box buttons (low nibble) and icons (second nibble).
constexpr unsigned MB_OK = 0x00000000u;
constexpr unsigned MB_OKCANCEL = 0x00000001u;
constexpr unsigned MB_YESNOCANCEL = 0x00000003u;
constexpr unsigned MB_YESNO = 0x00000004u;
constexpr unsigned MB_TYPEMASK = 0x0000000Fu;
constexpr unsigned MB_ICONHAND = 0x00000010u;
constexpr unsigned MB_ICONERROR = MB_ICONHAND;
constexpr unsigned MB_ICONSTOP = MB_ICONHAND;
constexpr unsigned MB_ICONQUESTION = 0x00000020u;
constexpr unsigned MB_ICONEXCLAMATION = 0x00000030u;
constexpr unsigned MB_ICONINFORMATION = 0x00000040u;
constexpr unsigned MB_ICONMASK = 0x000000F0u;

// Answers of message boxes and modal dialogs.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Bitmap compression codes.
constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_RLE8 = 1;
constexpr std::uint32_t BI_RLE4 = 2;
constexpr std::uint32_t BI_BITFIELDS = 3;

/// number * numerator / denominator with a 64-bit intermediate, rounded to the nearest integer
/// (halves away from zero); -1 when denominator is 0, as the platform's MulDiv answers.
constexpr std::int32_t MulDiv(std::int32_t number, std::int32_t numerator, std::int32_t denominator)
{
    if (denominator == 0)
        return -1;
    std::int64_t product = std::int64_t(number) * numerator;
    const bool negative = (product < 0) != (denominator < 0);
    const std::int64_t a = product < 0 ? -product : product;
    const std::int64_t d = denominator < 0 ? -std::int64_t(denominator) : denominator;
    const std::int64_t q = (a + d / 2) / d;
    return static_cast<std::int32_t>(negative ? -q : q);
}

/// HIMETRIC units (hundredths of a millimetre) per inch, and the screen's pixels per inch.
constexpr std::int32_t kHimetricPerInch = 2540;
constexpr std::int32_t kPixelsPerInch = 96;
