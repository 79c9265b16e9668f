#include "formats/TiffDecoder.h"

#include "formats/TiffMessageScope.h"
#include "imaging/DIBSection.h"
#include "platform/LargeMemory.h"

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

namespace {

/// What libtiff is told when the buffer a decoding needs cannot be had.
constexpr const char* kNoMemoryText = "Not enough memory to decode the image";

/// Sample layouts that are converted straight from the decoded samples.
enum class DirectKind { None, Rgb, Grey };

/// How the samples of a directory on the direct route become section pixels.
struct DirectFormat {
    DirectKind m_Kind = DirectKind::None;
    int m_nBits = 8; ///< bits of a grey sample: 1, 2, 4 or 8
    /// The grey level of each sample value, as the RGBA reader's grey map gives it: value x of
    /// n bits is x * 255 / (2^n - 1), min-is-white counted from the top.
    std::array<std::uint8_t, 256> m_Grey{};

    bool operator!=(DirectKind kind) const { return m_Kind != kind; }
    bool operator==(DirectKind kind) const { return m_Kind == kind; }
    /// Bytes one row of width pixels takes in the decoded samples.
    std::int64_t RowBytes(std::int64_t width) const
    {
        return m_Kind == DirectKind::Rgb ? width * 3 : (width * m_nBits + 7) / 8;
    }
};

DirectFormat GreyFormat(int bits, bool minIsWhite)
{
    DirectFormat format{DirectKind::Grey, bits, {}};
    const int top = (1 << bits) - 1;
    for (int value = 0; value <= top; ++value) {
        const int level = (minIsWhite ? top - value : value) * 255 / top;
        format.m_Grey[static_cast<std::size_t>(value)] = static_cast<std::uint8_t>(level);
    }
    return format;
}

/// Picks the direct route when the directory holds samples that libtiff's RGBA reader would only
/// repack: unsigned, top-left origin, no extra samples, and either 8-bit RGB (interleaved, or
/// JPEG-compressed YCbCr that libjpeg turns into RGB, as the RGBA reader does too) or one grey
/// sample of 1, 2, 4 or 8 bits (a fax page is one bit; min-is-white inverted, as the RGBA
/// reader's grey map does).
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
    const bool grey = bitsPerSample == 1 || bitsPerSample == 2 || bitsPerSample == 4 || bitsPerSample == 8;
    if (!grey || orientation != ORIENTATION_TOPLEFT || sampleFormat != SAMPLEFORMAT_UINT || extraCount != 0)
        return {};
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) {
        // The RGBA reader's guess for a missing tag.
        if (samplesPerPixel == 1)
            photometric = PHOTOMETRIC_MINISBLACK;
        else if (samplesPerPixel == 3)
            photometric = PHOTOMETRIC_RGB;
        else
            return {};
    }
    switch (photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
        return samplesPerPixel == 1 ? GreyFormat(bitsPerSample, photometric == PHOTOMETRIC_MINISWHITE) : DirectFormat{};
    case PHOTOMETRIC_RGB:
        return bitsPerSample == 8 && samplesPerPixel == 3 && planar == PLANARCONFIG_CONTIG ? DirectFormat{DirectKind::Rgb}
                                                                                           : DirectFormat{};
    case PHOTOMETRIC_YCBCR:
        if (bitsPerSample == 8 && samplesPerPixel == 3 && planar == PLANARCONFIG_CONTIG &&
            compression == COMPRESSION_JPEG && TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB))
            return {DirectKind::Rgb};
        return {};
    default:
        return {};
    }
}

/// Converts count decoded pixels into blue, green, red section pixels, keeping every value. Grey
/// samples narrower than a byte are packed from the high bit down.
void ConvertDirect(const DirectFormat& format, const std::uint8_t* in, std::uint8_t* out, std::uint32_t count)
{
    if (format == DirectKind::Rgb) {
        for (std::uint32_t i = 0; i < count; ++i, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    } else if (format == DirectKind::Grey && format.m_nBits == 8) {
        for (std::uint32_t i = 0; i < count; ++i, out += 3)
            out[0] = out[1] = out[2] = format.m_Grey[in[i]];
    } else if (format == DirectKind::Grey) {
        const int bits = format.m_nBits;
        const int perByte = 8 / bits;
        const unsigned mask = (1u << bits) - 1;
        for (std::uint32_t i = 0; i < count; ++in) {
            const unsigned byte = *in;
            for (int k = 0; k < perByte && i < count; ++k, ++i, out += 3)
                out[0] = out[1] = out[2] = format.m_Grey[(byte >> (8 - bits * (k + 1))) & mask];
        }
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

/// What libtiff's codecs keep while they decode, at most: a Deflate, LZMA or Zstandard window,
/// libjpeg's rows, the fax decoders' runs, the RGBA reader's colour tables.
constexpr std::int64_t kCodecWorkingBytes = std::int64_t(32) << 20;

/// Image row y (0 at the top) is stored row height - 1 - y of the bottom-up section.
std::uint8_t* SectionRowFromTop(const DIBSection& section, std::uint32_t y)
{
    return section.StoredRow(section.m_nHeight - 1 - static_cast<int>(y));
}

/// Rows in a strip of the current directory, held to the picture.
std::uint32_t RowsPerStrip(TIFF* tif, std::uint32_t height)
{
    std::uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    return rowsPerStrip == 0 || rowsPerStrip > height ? height : rowsPerStrip;
}

/// The one buffer the direct route decodes into: a whole strip when it is no larger than
/// m_nMaxStripBytes, else one scanline; a tile. Nothing when the route cannot take the directory
/// (its rows or tiles are too short for the pixels).
std::optional<std::int64_t> DirectBufferBytes(TIFF* tif, const DirectFormat& format, std::uint32_t width,
                                              std::uint32_t height, const TiffDecodeLimits& limits)
{
    if (TIFFIsTiled(tif)) {
        std::uint32_t tileWidth = 0, tileLength = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
        const std::int64_t tileRow = TIFFTileRowSize64(tif);
        const std::int64_t tileSize = TIFFTileSize64(tif);
        if (tileWidth == 0 || tileLength == 0 || tileRow < format.RowBytes(tileWidth) || tileSize < tileRow * tileLength)
            return std::nullopt;
        return tileSize;
    }
    const std::int64_t scanline = TIFFScanlineSize64(tif);
    if (scanline < format.RowBytes(width))
        return std::nullopt;
    const std::int64_t strip = scanline * RowsPerStrip(tif, height);
    return strip <= limits.m_nMaxStripBytes ? strip : scanline;
}

/// The rows of one band of the RGBA route: whole strips or rows of tiles (so that each is decoded
/// once), as many as fit in m_nBandBytes of 32-bit pixels, at least one.
std::uint32_t RgbaBandRows(TIFF* tif, std::uint32_t width, std::uint32_t height, const TiffDecodeLimits& limits)
{
    std::uint32_t unit = 0;
    if (TIFFIsTiled(tif))
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &unit);
    else
        unit = RowsPerStrip(tif, height);
    if (unit == 0 || unit > height)
        unit = height;
    const std::int64_t units = std::max<std::int64_t>(1, limits.m_nBandBytes / (std::int64_t(width) * 4 * unit));
    return static_cast<std::uint32_t>(std::min<std::int64_t>(height, units * unit));
}

/// What the RGBA route holds besides the section: its band of 32-bit pixels, and the decoded
/// strip or tile libtiff's reader keeps (one for each plane, up to four, of separate planes).
std::int64_t RgbaWorkingBytes(TIFF* tif, std::uint32_t width, std::uint32_t height, const TiffDecodeLimits& limits)
{
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    const std::int64_t decoded = TIFFIsTiled(tif) ? TIFFTileSize64(tif) : TIFFStripSize64(tif);
    return std::int64_t(width) * 4 * RgbaBandRows(tif, width, height, limits) +
           (planar == PLANARCONFIG_SEPARATE ? 4 : 1) * decoded;
}

/// Strips read whole into one reused buffer, or scanline by scanline when a strip is too large to
/// hold (a fax page is often one strip). Returns whether every strip was read (it stops at the
/// first that cannot be), or nothing when this route cannot take the directory after all (then
/// nothing has been written).
std::optional<bool> DecodeStripsDirect(TIFF* tif, DIBSection& section, const DirectFormat& format,
                                       const TiffDecodeLimits& limits, const Progress& progress)
{
    const auto width = static_cast<std::uint32_t>(section.m_nWidth);
    const auto height = static_cast<std::uint32_t>(section.m_nHeight);
    const std::optional<std::int64_t> bufferBytes = DirectBufferBytes(tif, format, width, height, limits);
    if (!bufferBytes)
        return std::nullopt;
    const std::int64_t scanline = TIFFScanlineSize64(tif);
    const std::uint32_t rowsPerStrip = RowsPerStrip(tif, height);
    auto buffer = AllocateZeroed<std::uint8_t>(*bufferBytes);
    if (!buffer) {
        TIFFErrorExtR(tif, TIFFFileName(tif), "%s", kNoMemoryText);
        return false;
    }
    const ErrorWatch errors;
    if (*bufferBytes < scanline * rowsPerStrip) {
        for (std::uint32_t y = 0; y < height; ++y) {
            if (TIFFReadScanline(tif, buffer.get(), y, 0) < 0 || errors.Reported())
                return false;
            ConvertDirect(format, buffer.get(), SectionRowFromTop(section, y), width);
            if (!progress.Report(y + 1, height))
                return false;
        }
        return true;
    }
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

/// Tiles read one at a time into one reused buffer; edge tiles are clipped to the picture.
/// Returns as DecodeStripsDirect does.
std::optional<bool> DecodeTilesDirect(TIFF* tif, DIBSection& section, const DirectFormat& format,
                                      const TiffDecodeLimits& limits, const Progress& progress)
{
    const auto width = static_cast<std::uint32_t>(section.m_nWidth);
    const auto height = static_cast<std::uint32_t>(section.m_nHeight);
    const std::optional<std::int64_t> tileSize = DirectBufferBytes(tif, format, width, height, limits);
    if (!tileSize)
        return std::nullopt;
    std::uint32_t tileWidth = 0, tileLength = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
    const std::int64_t tileRow = TIFFTileRowSize64(tif);
    auto buffer = AllocateZeroed<std::uint8_t>(*tileSize);
    if (!buffer) {
        TIFFErrorExtR(tif, TIFFFileName(tif), "%s", kNoMemoryText);
        return false;
    }
    const ErrorWatch errors;
    for (std::uint32_t top = 0; top < height; top += tileLength) {
        const std::uint32_t rows = std::min(tileLength, height - top);
        for (std::uint32_t left = 0; left < width; left += tileWidth) {
            const std::uint32_t columns = std::min(tileWidth, width - left);
            if (TIFFReadEncodedTile(tif, TIFFComputeTile(tif, left, top, 0, 0), buffer.get(), *tileSize) < 0 ||
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
    const std::uint32_t bandRows = RgbaBandRows(tif, width, height, limits);

    auto raster = Allocate<std::uint32_t>(std::int64_t(width) * bandRows);
    if (!raster) {
        TIFFRGBAImageEnd(&image);
        TIFFErrorExtR(tif, TIFFFileName(tif), "%s", kNoMemoryText);
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
    if (format != DirectKind::None) {
        const std::optional<bool> complete = TIFFIsTiled(tif) ? DecodeTilesDirect(tif, section, format, limits, progress)
                                                              : DecodeStripsDirect(tif, section, format, limits, progress);
        if (complete)
            return *complete;
    }
    return DecodeThroughRgba(tif, section, limits, progress);
}

bool TiffDecodesDirectly(TIFF* tif)
{
    return tif && PickDirectFormat(tif) != DirectKind::None;
}

std::int64_t TiffDecodeWorkingBytes(TIFF* tif, std::int64_t fileBytes, const TiffDecodeLimits& limits)
{
    std::uint32_t width = 0, height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    if (width == 0 || height == 0)
        return 0;
    const DirectFormat format = PickDirectFormat(tif);
    const std::optional<std::int64_t> direct =
        format != DirectKind::None ? DirectBufferBytes(tif, format, width, height, limits) : std::nullopt;
    // libtiff reads a strip or tile of a plainly read file whole before decoding it.
    std::uint64_t largest = 0;
    const std::uint32_t striles = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    for (std::uint32_t i = 0; i < striles; ++i) {
        int error = 0;
        const std::uint64_t bytes = TIFFGetStrileByteCountWithErr(tif, i, &error);
        if (!error)
            largest = std::max(largest, bytes);
    }
    const auto raw = static_cast<std::int64_t>(std::min(largest, static_cast<std::uint64_t>(std::max<std::int64_t>(fileBytes, 0))));
    return (direct ? *direct : RgbaWorkingBytes(tif, width, height, limits)) + raw + kCodecWorkingBytes;
}
