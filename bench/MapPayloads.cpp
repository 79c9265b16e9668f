#include "MapPayloads.h"

#include "imaging/BitmapInfoHeader.h"
#include "imaging/BmpEncoding.h"
#include "platform/BinaryIO.h"

#include <QFile>

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 4000;

/// Cheap reproducible noise for tens of millions of pixels.
class NoiseSource {
public:
    std::uint64_t Next()
    {
        m_nState ^= m_nState >> 12;
        m_nState ^= m_nState << 25;
        m_nState ^= m_nState >> 27;
        return m_nState * 0x2545F4914F6CDD1DULL;
    }
    /// Roughly normal with the given standard deviation (sum of four uniform bytes).
    double Gaussian(double sigma)
    {
        const std::uint64_t r = Next();
        const double sum = double(r & 0xFF) + double((r >> 8) & 0xFF) + double((r >> 16) & 0xFF) + double((r >> 24) & 0xFF);
        return (sum / 255.0 - 2.0) / 0.57735 * sigma;
    }
    double Unit() { return double(Next() >> 11) / double(1ULL << 53); }

private:
    std::uint64_t m_nState = 0x9E3779B97F4A7C15ULL;
};

std::uint8_t Clamp(double value)
{
    return static_cast<std::uint8_t>(std::clamp(static_cast<int>(std::lround(value)), 0, 255));
}

/// A 24-bit BMP with every pixel from pixel(x, y, blue, green, red), y counted from the top.
template <typename Pixel>
QByteArray MakeBmp(Pixel pixel)
{
    const std::int64_t rowBytes = (std::int64_t(kWidth) * 3 + 3) & ~std::int64_t(3);
    const std::uint32_t headerBytes = kBitmapFileHeaderSize + kBitmapInfoHeaderSize;
    QByteArray file;
    BinaryWriter out(file);
    WriteBmpFileHeader(out, static_cast<std::uint32_t>(headerBytes + rowBytes * kHeight), headerBytes);
    out.WriteUInt32(kBitmapInfoHeaderSize);
    out.WriteInt32(kWidth);
    out.WriteInt32(kHeight);
    out.WriteUInt16(1);
    out.WriteUInt16(24);
    for (int i = 0; i < 6; ++i)
        out.WriteUInt32(0);
    file.resize(static_cast<qsizetype>(headerBytes + rowBytes * kHeight));
    for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<std::uint8_t*>(file.data()) + headerBytes + rowBytes * (kHeight - 1 - y);
        for (int x = 0; x < kWidth; ++x)
            pixel(x, y, row[3 * x], row[3 * x + 1], row[3 * x + 2]);
        std::memset(row + 3 * kWidth, 0, static_cast<size_t>(rowBytes - 3 * kWidth));
    }
    return file;
}

/// A topographic sheet: water, lowland green and paper by a smooth elevation field, contour
/// lines and a grid, washed out towards white by pale (0 to 1), with sensor noise of sigma on
/// every channel. Without shading the colours are flat, as on a printed map.
QByteArray MakeSheet(double sigma, double pale, bool shaded)
{
    NoiseSource noise;
    return MakeBmp([&](int x, int y, std::uint8_t& blue, std::uint8_t& green, std::uint8_t& red) {
        const double elevation = 0.5 + 0.22 * std::sin(x / 410.0 + 0.7 * std::cos(y / 530.0))
            + 0.16 * std::cos(y / 270.0 - x / 900.0) + 0.08 * std::sin((x + y) / 97.0);
        double r = 240, g = 228, b = 200; // paper
        if (elevation < 0.32) {
            r = 150, g = 190, b = 230;
        } else if (elevation < 0.55) {
            r = 200, g = 225, b = 170;
        }
        if (shaded) {
            const double t = elevation - 0.3;
            r += 40 * t;
            g -= 30 * t;
            b -= 20 * t;
        }
        if (std::fabs(std::fmod(elevation, 0.05)) < 0.0025)
            r = 120, g = 80, b = 50;
        if (x % 500 < 2 || y % 500 < 2)
            r = g = b = 40;
        r += (255 - r) * pale;
        g += (255 - g) * pale;
        b += (255 - b) * pale;
        blue = Clamp(b + noise.Gaussian(sigma));
        green = Clamp(g + noise.Gaussian(sigma));
        red = Clamp(r + noise.Gaussian(sigma));
    });
}

/// A line-art sheet: white paper, a sparse grid, contour-like curves and small blocks of
/// lettering in black, with a grey pixel here and there where the scanner caught an edge.
QByteArray MakeLineArt()
{
    NoiseSource noise;
    return MakeBmp([&](int x, int y, std::uint8_t& blue, std::uint8_t& green, std::uint8_t& red) {
        int grey = 255;
        const double curve = std::sin(x / 173.0) * 40 + std::cos(y / 211.0) * 30;
        const bool onGrid = x % 250 < 2 || y % 250 < 2;
        const bool onCurve = std::fabs(std::fmod(curve + 200.0, 25.0)) < 1.3;
        // Lettering: 8 x 10 glyph cells in short labels scattered over the sheet.
        const int labelX = x % 600;
        const int labelY = y % 420;
        const bool inLabel = labelX >= 40 && labelX < 260 && labelY >= 60 && labelY < 72;
        const bool glyphInk = inLabel && ((labelX * 7 + labelY * 13) % 11 < 3);
        if (onGrid || onCurve || glyphInk)
            grey = 0;
        else if (noise.Unit() < 0.02)
            grey = static_cast<int>(noise.Next() % 256); // edge pixels and dust
        blue = green = red = static_cast<std::uint8_t>(grey);
    });
}

} // namespace

const char* SheetKindName(SheetKind kind)
{
    switch (kind) {
    case SheetKind::NoisyScan: return "NoisyScan";
    case SheetKind::LightScan: return "LightScan";
    case SheetKind::CleanMap: return "CleanMap";
    case SheetKind::LineArt: return "LineArt";
    }
    return "?";
}

const QByteArray& MapBmp(SheetKind kind)
{
    static std::array<std::unique_ptr<QByteArray>, 4> made;
    std::unique_ptr<QByteArray>& slot = made[static_cast<std::size_t>(kind)];
    if (!slot) {
        switch (kind) {
        case SheetKind::NoisyScan: slot = std::make_unique<QByteArray>(MakeSheet(8.0, 0.1, true)); break;
        case SheetKind::LightScan: slot = std::make_unique<QByteArray>(MakeSheet(5.0, 0.5, true)); break;
        case SheetKind::CleanMap: slot = std::make_unique<QByteArray>(MakeSheet(0.6, 0.0, false)); break;
        case SheetKind::LineArt: slot = std::make_unique<QByteArray>(MakeLineArt()); break;
        }
    }
    return *slot;
}

QByteArray LargeMapBmp()
{
    const std::int64_t rowBytes = (std::int64_t(kLargeMapWidth) * 3 + 3) & ~std::int64_t(3);
    const std::int64_t imageBytes = rowBytes * kLargeMapHeight;
    const std::uint32_t headerBytes = kBitmapFileHeaderSize + kBitmapInfoHeaderSize;
    QByteArray file;
    file.reserve(static_cast<qsizetype>(headerBytes + imageBytes));
    BinaryWriter out(file);
    WriteBmpFileHeader(out, static_cast<std::uint32_t>(headerBytes + imageBytes), headerBytes);
    out.WriteUInt32(kBitmapInfoHeaderSize);
    out.WriteInt32(kLargeMapWidth);
    out.WriteInt32(kLargeMapHeight);
    out.WriteUInt16(1);
    out.WriteUInt16(24);
    for (int i = 0; i < 6; ++i)
        out.WriteUInt32(0);
    file.resize(static_cast<qsizetype>(headerBytes + imageBytes));
    std::uint64_t noise = 0x9E3779B97F4A7C15ULL;
    for (int y = 0; y < kLargeMapHeight; ++y) {
        auto* row = reinterpret_cast<std::uint8_t*>(file.data()) + headerBytes + rowBytes * y;
        for (int x = 0; x < kLargeMapWidth; ++x) {
            noise ^= noise >> 12;
            noise ^= noise << 25;
            noise ^= noise >> 27;
            const std::uint32_t n = static_cast<std::uint32_t>((noise * 0x2545F4914F6CDD1DULL) >> 58); // 0..63
            const std::uint32_t texture = (std::uint32_t(x) * 7 + std::uint32_t(y) * 13) % 23;
            row[3 * x] = static_cast<std::uint8_t>(160 + (x / 80 + texture + (n & 7)) % 64);
            row[3 * x + 1] = static_cast<std::uint8_t>(120 + (y / 64 + texture * 2 + (n >> 3)) % 96);
            row[3 * x + 2] = static_cast<std::uint8_t>(((x + y) / 128 + (n & 15)) & 0xFF);
        }
        std::memset(row + 3 * kLargeMapWidth, 0, static_cast<size_t>(rowBytes - 3 * kLargeMapWidth));
    }
    return file;
}

bool WriteFaxPage(const QString& path, int side)
{
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(side));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(side));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, std::uint16_t(1));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(1));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, std::uint16_t(PHOTOMETRIC_MINISWHITE));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, std::uint16_t(COMPRESSION_CCITTFAX4));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, std::uint32_t(side));
    std::vector<std::uint8_t> row((std::size_t(side) + 7) / 8, 0);
    bool ok = true;
    for (int y = 0; y < side && ok; ++y)
        ok = TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0) >= 0;
    TIFFClose(tif);
    return ok;
}
