#pragma once

#include "imaging/BitmapInfoHeader.h"
#include "imaging/Blit.h"

#include <QImage>

#include <cstdint>
#include <memory>

class QPainter;

/// A raster picture in device-independent layout whose pixels the program addresses in place:
/// rows stored bottom-up, each row m_nRowPixels pixels (the width rounded up to a multiple of 4)
/// of m_nBitCount / 8 bytes, 24-bit pixels in blue, green, red order. Columns from m_nWidth to
/// m_nRowPixels - 1 are padding. The section can be drawn at once: m_pDC is a paint-device view
/// of the same memory, so drawing is one blit with no pixel conversion pass of our own.
class DIBSection {
public:
    DIBSection() = default;
    ~DIBSection();
    DIBSection(const DIBSection& source);
    DIBSection& operator=(const DIBSection& source);
    DIBSection(DIBSection&& source) noexcept;
    DIBSection& operator=(DIBSection&& source) noexcept;

    /// Releases any content and makes an all-black section of the given size. Bit counts of 16,
    /// 24 and 32 make pixel memory; anything else, a non-positive size or a failed allocation
    /// leaves m_pBits null (callers test m_pBits).
    void Create(int bitCount, int width, int height);
    /// Frees everything and returns to the empty state.
    void Release();
    /// Makes this section an independent copy of source.
    void CopyFrom(const DIBSection& source);
    /// Makes this section a nearest-neighbour copy of source scaled to width x height. A
    /// non-positive size does nothing; a null source leaves this section released and empty.
    void CreateResampled(int width, int height, const DIBSection* source);

    /// Copies the whole section, at its own size, with its top-left corner at (x, y).
    void Draw(QPainter& destination, int x, int y) const;
    /// Stretches the part of the section from (srcLeft, srcTop) to srcRight, srcHeight rows high,
    /// onto the destination rectangle. Source rows are counted from the top of the picture as it
    /// is seen. Negative extents mirror, as a stretched blit does.
    void StretchDraw(QPainter& destination, int left, int top, int right, int bottom, int srcLeft, int srcTop,
                     int srcRight, int srcHeight) const;

    /// Bytes from one stored row to the next.
    std::int64_t RowBytes() const { return std::int64_t(m_nRowPixels) * m_nBitCount / 8; }
    /// Start of stored row r (0 is the bottom row of the picture).
    std::uint8_t* StoredRow(int r) const { return m_pBits + RowBytes() * r; }

    struct FreeDeleter {
        void operator()(std::uint8_t* p) const;
    };

    std::unique_ptr<std::uint8_t, FreeDeleter> m_hBitmap; ///< owns the pixel memory; null when empty
    std::uint8_t* m_pBits = nullptr;                       ///< the pixel memory
    int m_nRowPixels = 0;                                  ///< pixels per stored row
    std::unique_ptr<BitmapInfoHeader> m_pInfoHeader;       ///< describes the section
    int m_nBitCount = 0;                                   ///< bits per pixel
    int m_nWidth = 0;                                      ///< width in pixels as requested
    int m_nHeight = 0;                                     ///< height in pixels
    /// The memory context: an image over m_pBits (rows as stored, so it shows the picture upside
    /// down; drawing flips it back). Null while there are no bits.
    std::unique_ptr<QImage> m_pDC;
};
