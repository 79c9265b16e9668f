#include "imaging/DIBSection.h"

#include "platform/WinTypes.h"

#include <QPainter>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

QImage::Format FormatForBitCount(int bitCount)
{
    switch (bitCount) {
    case 16:
        return QImage::Format_RGB555; // 16-bit BI_RGB sections are 5-5-5
    case 24:
        return QImage::Format_BGR888;
    case 32:
        return QImage::Format_RGB32;
    default:
        return QImage::Format_Invalid;
    }
}

} // namespace

void DIBSection::FreeDeleter::operator()(std::uint8_t* p) const
{
    std::free(p);
}

DIBSection::~DIBSection()
{
    Release();
}

DIBSection::DIBSection(const DIBSection& source)
{
    CopyFrom(source);
}

DIBSection& DIBSection::operator=(const DIBSection& source)
{
    if (this != &source)
        CopyFrom(source);
    return *this;
}

DIBSection::DIBSection(DIBSection&& source) noexcept
{
    *this = std::move(source);
}

DIBSection& DIBSection::operator=(DIBSection&& source) noexcept
{
    if (this == &source)
        return *this;
    m_hBitmap = std::move(source.m_hBitmap);
    m_pBits = std::exchange(source.m_pBits, nullptr);
    m_nRowPixels = std::exchange(source.m_nRowPixels, 0);
    m_pInfoHeader = std::move(source.m_pInfoHeader);
    m_nBitCount = std::exchange(source.m_nBitCount, 0);
    m_nWidth = std::exchange(source.m_nWidth, 0);
    m_nHeight = std::exchange(source.m_nHeight, 0);
    m_pDC = std::move(source.m_pDC); // the image wraps the moved memory, which did not move
    return *this;
}

void DIBSection::Create(int bitCount, int width, int height)
{
    Release();
    m_nWidth = width;
    m_nHeight = height;

    // The header's width is the row length in pixels: the width rounded up to a multiple of 4.
    m_pInfoHeader = std::make_unique<BitmapInfoHeader>();
    m_pInfoHeader->biWidth = width > 0 && width <= std::numeric_limits<int>::max() - 3 ? (width + 3) & ~3 : 0;
    m_pInfoHeader->biHeight = height;
    m_pInfoHeader->biPlanes = 1;
    m_pInfoHeader->biBitCount = static_cast<std::uint16_t>(bitCount);
    m_pInfoHeader->biCompression = BI_RGB;

    m_nRowPixels = m_pInfoHeader->biWidth;
    m_nBitCount = bitCount;

    const QImage::Format format = FormatForBitCount(bitCount);
    if (format == QImage::Format_Invalid || m_nRowPixels <= 0 || height <= 0)
        return;
    const std::int64_t rowBytes = RowBytes();
    if (rowBytes > std::numeric_limits<std::int64_t>::max() / height)
        return;
    // Zeroed memory: a section whose pixels are never written shows black.
    auto* bits = static_cast<std::uint8_t*>(std::calloc(static_cast<size_t>(height), static_cast<size_t>(rowBytes)));
    if (!bits)
        return;
    m_hBitmap.reset(bits);
    m_pBits = bits;
    m_pDC = std::make_unique<QImage>(bits, width, height, static_cast<qsizetype>(rowBytes), format);
    if (m_pDC->isNull())
        m_pDC.reset();
}

void DIBSection::Release()
{
    m_pDC.reset();
    m_pInfoHeader.reset();
    m_hBitmap.reset();
    m_pBits = nullptr;
    m_nRowPixels = 0;
    m_nBitCount = 0;
    m_nWidth = 0;
    m_nHeight = 0;
}

void DIBSection::CopyFrom(const DIBSection& source)
{
    if (&source == this)
        return;
    Release();
    if (!source.m_pBits)
        return;
    Create(source.m_nBitCount, source.m_nWidth, source.m_nHeight);
    if (m_pBits)
        std::memcpy(m_pBits, source.m_pBits, static_cast<size_t>(RowBytes() * m_nHeight));
}

void DIBSection::CreateResampled(int width, int height, const DIBSection* source)
{
    if (width <= 0 || height <= 0)
        return;
    if (source == this) {
        const DIBSection original(*this);
        CreateResampled(width, height, &original);
        return;
    }
    if (!source) {
        Release();
        return;
    }
    Create(source->m_nBitCount, width, height);
    if (!m_pBits || source->m_nWidth == 0 || source->m_nHeight == 0 || !source->m_pBits)
        return;

    const double stepX = double(unsigned(source->m_nWidth)) / double(unsigned(width));
    const double stepY = double(unsigned(source->m_nHeight)) / double(unsigned(height));
    const int pixelBytes = m_nBitCount / 8;

    // Source byte offset of every destination column, computed once for all rows.
    std::vector<std::int64_t> columnOffset(static_cast<size_t>(width));
    for (int j = 0; j < width; ++j) {
        const int sourceColumn = std::min(int(j * stepX + 0.5), source->m_nWidth - 1);
        columnOffset[static_cast<size_t>(j)] = std::int64_t(sourceColumn) * pixelBytes;
    }

    int previousSourceRow = -1;
    for (int i = 0; i < height; ++i) {
        const int sourceRow = std::min(int(i * stepY + 0.5), source->m_nHeight - 1);
        std::uint8_t* out = StoredRow(i);
        if (sourceRow == previousSourceRow) {
            // An enlarged row repeats the one above it exactly.
            std::memcpy(out, StoredRow(i - 1), static_cast<size_t>(width) * pixelBytes);
            continue;
        }
        previousSourceRow = sourceRow;
        const std::uint8_t* in = source->StoredRow(sourceRow);
        if (pixelBytes == 3) {
            for (int j = 0; j < width; ++j) {
                const std::uint8_t* p = in + columnOffset[static_cast<size_t>(j)];
                out[0] = p[0];
                out[1] = p[1];
                out[2] = p[2];
                out += 3;
            }
        } else {
            for (int j = 0; j < width; ++j, out += pixelBytes)
                std::memcpy(out, in + columnOffset[static_cast<size_t>(j)], static_cast<size_t>(pixelBytes));
        }
    }
}

void DIBSection::Draw(QPainter& destination, int x, int y) const
{
    StretchDraw(destination, x, y, x + m_nWidth, y + m_nHeight, 0, 0, m_nWidth, m_nHeight);
}

void DIBSection::StretchDraw(QPainter& destination, int left, int top, int right, int bottom, int srcLeft,
                             int srcTop, int srcRight, int srcHeight) const
{
    if (!m_pDC)
        return;
    // m_pDC shows the stored rows top-down, that is the picture upside down: the picture rows
    // srcTop .. srcTop + srcHeight are image rows H - srcTop down to H - srcTop - srcHeight.
    DrawImagePart(destination, *m_pDC, QRectF(left, top, right - left, bottom - top), srcLeft,
                  double(m_nHeight) - srcTop, srcRight - srcLeft, -double(srcHeight), BlitMode::Copy);
}
