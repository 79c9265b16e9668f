#include "formats/TiffDecoder.h"

#include "formats/TiffMessageScope.h"
#include "imaging/DIBSection.h"
#include "platform/LargeMemory.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

namespace {

/// Sample layouts that are converted straight from the decoded samples.
enum class DirectFormat { None, Rgb, Grey, InvertedGrey };

int Channels(DirectFormat format)
{
    return format == DirectFormat::Rgb ? 3 : 1;
}

/// Picks the direct route when the directory holds samples that libtiff's RGBA reader would only
/// repack: 8-bit unsigned, top-left origin, no extra samples, and either RGB (interleaved, or
/// JPEG-compressed YCbCr that libjpeg turns into RGB, as the RGBA reader does too) or one grey
/// sample (min-is-white inverted, as the RGBA reader's grey map does).
DirectFormat PickDirectFormat(TIFF* tif)
{
    std::uint16_t bitsPerSample = 0, samplesPerPixel = 0, planar = 0, compression = 0, orientation = 0,
                  sampleFormat = 0, extraCount = 0, photometric = 0;
    std::uint16_t* extraInfo = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraInfo);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    if (bitsPerSample != 8 || orientation != ORIENTATION_TOPLEFT || sampleFormat != SAMPLEFORMAT_UINT ||
        extraCount != 0)
        return DirectFormat::None;
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) {
        // The RGBA reader's guess for a missing tag.
        if (samplesPerPixel == 1)
            photometric = PHOTOMETRIC_MINISBLACK;
        else if (samplesPerPixel == 3)
            photometric = PHOTOMETRIC_RGB;
        else
            return DirectFormat::None;
    }
    switch (photometric) {
    case PHOTOMETRIC_MINISBLACK:
        return samplesPerPixel == 1 ? DirectFormat::Grey : DirectFormat::None;
    case PHOTOMETRIC_MINISWHITE:
        return samplesPerPixel == 1 ? DirectFormat::InvertedGrey : DirectFormat::None;
    case PHOTOMETRIC_RGB:
        return samplesPerPixel == 3 && planar == PLANARCONFIG_CONTIG ? DirectFormat::Rgb : DirectFormat::None;
    case PHOTOMETRIC_YCBCR:
        if (samplesPerPixel == 3 && planar == PLANARCONFIG_CONTIG && compression == COMPRESSION_JPEG &&
            TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB))
            return DirectFormat::Rgb;
        return DirectFormat::None;
    default:
        return DirectFormat::None;
    }
}

/// Converts count decoded pixels into blue, green, red section pixels, keeping every value.
void ConvertDirect(DirectFormat format, const std::uint8_t* in, std::uint8_t* out, std::uint32_t count)
{
    switch (format) {
    case DirectFormat::Rgb:
        for (std::uint32_t i = 0; i < count; ++i, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
        break;
    case DirectFormat::Grey:
        for (std::uint32_t i = 0; i < count; ++i, out += 3)
            out[0] = out[1] = out[2] = in[i];
        break;
    case DirectFormat::InvertedGrey:
        for (std::uint32_t i = 0; i < count; ++i, out += 3)
            out[0] = out[1] = out[2] = static_cast<std::uint8_t>(255 - in[i]);
        break;
    case DirectFormat::None:
        break;
    }
}

/// One channel of a raster pixel on black. libtiff's RGBA reader hands out colours already
/// multiplied by their alpha (it associates unassociated alpha itself), which is the pixel laid
/// on black: an opaque value stays as it is and a fully transparent pixel is black. A colour
/// brighter than its alpha allows (damaged associated data) is held to the alpha.
std::uint8_t OnBlack(std::uint32_t value, std::uint32_t alpha)
{
    return static_cast<std::uint8_t>(std::min(value, alpha));
}

/// Converts count packed RGBA pixels (libtiff's raster format) into blue, green, red: opaque
/// pixels keep their values, transparent ones lie on black.
void ConvertRgba(const std::uint32_t* in, std::uint8_t* out, std::uint32_t count)
{
    for (std::uint32_t i = 0; i < count; ++i, out += 3) {
        const std::uint32_t pixel = in[i];
        const std::uint32_t alpha = TIFFGetA(pixel);
        out[0] = OnBlack(TIFFGetB(pixel), alpha);
        out[1] = OnBlack(TIFFGetG(pixel), alpha);
        out[2] = OnBlack(TIFFGetR(pixel), alpha);
    }
}

template <typename T>
std::unique_ptr<T[]> Allocate(std::int64_t count)
{
    if (count <= 0)
        return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<size_t>(count)]);
}

template <typename T>
std::unique_ptr<T[]> AllocateZeroed(std::int64_t count)
{
    if (count <= 0)
        return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<size_t>(count)]());
}

/// Whether libtiff has reported an error since the watch began. Some of its codecs report a
/// damaged stretch of data and go on decoding (the fax decoders after a bad code word): the
/// strip is unreadable all the same.
class ErrorWatch {
public:
    bool Reported() const { return TiffMessageScope::ErrorCount() != m_nBefore; }

private:
    int m_nBefore = TiffMessageScope::ErrorCount();
};

/// Image row y (0 at the top) is stored row height - 1 - y of the bottom-up section.
std::uint8_t* SectionRowFromTop(const DIBSection& section, std::uint32_t y)
{
    return section.StoredRow(section.m_nHeight - 1 - static_cast<int>(y));
}

/// Strips read whole into one reused buffer, or scanline by scanline when a strip is too large to
/// hold. Returns whether every strip was read (it stops at the first that cannot be), or nothing
/// when this route cannot take the directory after all (then nothing has been written).
std::optional<bool> DecodeStripsDirect(TIFF* tif, DIBSection& section, DirectFormat format,
                                       const TiffDecodeLimits& limits, const Progress& progress)
{
    const auto width = static_cast<std::uint32_t>(section.m_nWidth);
    const auto height = static_cast<std::uint32_t>(section.m_nHeight);
    std::uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (rowsPerStrip == 0 || rowsPerStrip > height)
        rowsPerStrip = height;
    const std::int64_t scanline = TIFFScanlineSize64(tif);
    if (scanline < std::int64_t(width) * Channels(format))
        return std::nullopt;

    const ErrorWatch errors;
    if (scanline * rowsPerStrip <= limits.m_nMaxStripBytes) {
        auto buffer = AllocateZeroed<std::uint8_t>(scanline * rowsPerStrip);
        if (!buffer)
            return std::nullopt;
        for (std::uint32_t top = 0; top < height; top += rowsPerStrip) {
            const std::uint32_t rows = std::min(rowsPerStrip, height - top);
            // Decoding stops at the first strip that cannot be read: the caller keeps nothing.
            if (TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, top, 0), buffer.get(), scanline * rows) < 0 ||
                errors.Reported())
                return false;
            for (std::uint32_t r = 0; r < rows; ++r)
                ConvertDirect(format, buffer.get() + scanline * r, SectionRowFromTop(section, top + r), width);
            if (!progress.Report(top + rows, height))
                return false;
        }
        return true;
    }

    auto line = AllocateZeroed<std::uint8_t>(scanline);
    if (!line)
        return std::nullopt;
    for (std::uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tif, line.get(), y, 0) < 0 || errors.Reported())
            return false;
        ConvertDirect(format, line.get(), SectionRowFromTop(section, y), width);
        if (!progress.Report(y + 1, height))
            return false;
    }
    return true;
}

/// Tiles read one at a time into one reused buffer; edge tiles are clipped to the picture.
/// Returns as DecodeStripsDirect does.
std::optional<bool> DecodeTilesDirect(TIFF* tif, DIBSection& section, DirectFormat format, const Progress& progress)
{
    const auto width = static_cast<std::uint32_t>(section.m_nWidth);
    const auto height = static_cast<std::uint32_t>(section.m_nHeight);
    std::uint32_t tileWidth = 0, tileLength = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
    const std::int64_t tileRow = TIFFTileRowSize64(tif);
    const std::int64_t tileSize = TIFFTileSize64(tif);
    if (tileWidth == 0 || tileLength == 0 || tileRow < std::int64_t(tileWidth) * Channels(format) ||
        tileSize < tileRow * tileLength)
        return std::nullopt;
    auto buffer = AllocateZeroed<std::uint8_t>(tileSize);
    if (!buffer)
        return std::nullopt;
    const ErrorWatch errors;
    for (std::uint32_t top = 0; top < height; top += tileLength) {
        const std::uint32_t rows = std::min(tileLength, height - top);
        for (std::uint32_t left = 0; left < width; left += tileWidth) {
            const std::uint32_t columns = std::min(tileWidth, width - left);
            if (TIFFReadEncodedTile(tif, TIFFComputeTile(tif, left, top, 0, 0), buffer.get(), tileSize) < 0 ||
                errors.Reported())
                return false;
            for (std::uint32_t r = 0; r < rows; ++r)
                ConvertDirect(format, buffer.get() + tileRow * r,
                              SectionRowFromTop(section, top + r) + std::int64_t(left) * 3, columns);
            if (!progress.Report(std::int64_t(top) * width + std::int64_t(left + columns) * rows, std::int64_t(height) * width))
                return false;
        }
    }
    return true;
}

/// libtiff's RGBA reader, asked for bands of whole strips or rows of tiles so that each strip or
/// tile is decoded once, and converted band by band.
bool DecodeThroughRgba(TIFF* tif, DIBSection& section, const TiffDecodeLimits& limits, const Progress& progress)
{
    char message[1024] = "";
    TIFFRGBAImage image{};
    // Stop on the first error: a strip or tile that cannot be read ends the decoding.
    if (!TIFFRGBAImageOK(tif, message) || !TIFFRGBAImageBegin(&image, tif, 1, message)) {
        TIFFErrorExtR(tif, TIFFFileName(tif), "%s", message);
        return false;
    }
    const auto width = static_cast<std::uint32_t>(section.m_nWidth);
    const auto height = static_cast<std::uint32_t>(section.m_nHeight);

    std::uint32_t unit = 0;
    if (TIFFIsTiled(tif))
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &unit);
    else
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &unit);
    if (unit == 0 || unit > height)
        unit = height;
    const std::int64_t unitBytes = std::int64_t(width) * 4 * unit;
    const std::int64_t units = std::max<std::int64_t>(1, limits.m_nBandBytes / unitBytes);
    const auto bandRows = static_cast<std::uint32_t>(std::min<std::int64_t>(height, units * unit));

    auto raster = Allocate<std::uint32_t>(std::int64_t(width) * bandRows);
    if (!raster) {
        TIFFRGBAImageEnd(&image);
        TIFFErrorExtR(tif, TIFFFileName(tif), "Not enough memory to decode the image");
        return false;
    }
    // Asked for a bottom-left origin, the reader turns a directory stored top-down upside down;
    // the rows of a band then come bottom row first.
    const bool upsideDown = image.orientation == ORIENTATION_TOPLEFT || image.orientation == ORIENTATION_TOPRIGHT ||
                            image.orientation == ORIENTATION_LEFTTOP || image.orientation == ORIENTATION_RIGHTTOP;
    bool complete = true;
    const ErrorWatch errors;
    for (std::uint32_t first = 0; first < height; first += bandRows) {
        const std::uint32_t rows = std::min(bandRows, height - first);
        image.row_offset = static_cast<int>(first);
        image.col_offset = 0;
        if (!TIFFRGBAImageGet(&image, raster.get(), width, rows) || errors.Reported()) {
            // The reader gave up inside the band: decoding stops, and the caller keeps nothing.
            complete = false;
            break;
        }
        // Raster row j is stored row base + j, as the whole-image read's row would be.
        const std::uint32_t base = upsideDown ? height - first - rows : first;
        for (std::uint32_t j = 0; j < rows; ++j)
            ConvertRgba(raster.get() + std::int64_t(width) * j, section.StoredRow(static_cast<int>(base + j)), width);
        if (!progress.Report(first + rows, height)) {
            complete = false;
            break;
        }
    }
    TIFFRGBAImageEnd(&image);
    return complete;
}

} // namespace

bool DecodeTiffDirectory(TIFF* tif, DIBSection& section, const TiffDecodeLimits& limits, const Progress& progress)
{
    if (!tif || !section.m_pBits || section.m_nBitCount != 24 || section.m_nWidth <= 0 || section.m_nHeight <= 0)
        return false;
    // A large map otherwise takes one page fault per 4 KB as the decoder first writes each page.
    CommitMemory(section.m_pBits, static_cast<std::size_t>(section.RowBytes() * section.m_nHeight));
    const DirectFormat format = PickDirectFormat(tif);
    if (format != DirectFormat::None) {
        const std::optional<bool> complete = TIFFIsTiled(tif) ? DecodeTilesDirect(tif, section, format, progress)
                                                              : DecodeStripsDirect(tif, section, format, limits, progress);
        if (complete)
            return *complete;
    }
    return DecodeThroughRgba(tif, section, limits, progress);
}

bool TiffDecodesDirectly(TIFF* tif)
{
    return tif && PickDirectFormat(tif) != DirectFormat::None;
}
