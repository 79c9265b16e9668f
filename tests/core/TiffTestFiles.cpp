#include "TiffTestFiles.h"

#include "imaging/DIBSection.h"

#include <QFile>

#include <tiffio.h>
#include <geotiffio.h>
#include <xtiffio.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <set>
#include <sstream>

namespace {

/// The bytes of row y of one plane (all samples when contiguous, sample `plane` when separate),
/// packed most significant bit first for the other depths (below 8, and 12), native 16-bit words
/// for 16.
QByteArray PackRow(const TiffContent& content, int y, int plane)
{
    const bool separate = content.m_nPlanar == PLANARCONFIG_SEPARATE;
    const int samples = separate ? 1 : content.m_nSamples;
    const int firstSample = separate ? plane : 0;
    const int bits = content.m_nBits;
    const std::int64_t rowBits = std::int64_t(content.m_nWidth) * samples * bits;
    QByteArray row(static_cast<qsizetype>((rowBits + 7) / 8), '\0');
    auto* out = reinterpret_cast<std::uint8_t*>(row.data());
    std::int64_t bit = 0;
    for (int x = 0; x < content.m_nWidth; ++x) {
        for (int s = 0; s < samples; ++s) {
            const std::uint16_t value = content.m_Sample(x, y, firstSample + s);
            if (bits == 16) {
                std::memcpy(out + bit / 8, &value, 2);
            } else if (bits == 8) {
                out[bit / 8] = static_cast<std::uint8_t>(value);
            } else {
                // Bit by bit: a 12-bit sample straddles bytes.
                for (int b = bits - 1; b >= 0; --b)
                    if ((value >> b) & 1)
                        out[(bit + bits - 1 - b) / 8] |= static_cast<std::uint8_t>(0x80 >> ((bit + bits - 1 - b) % 8));
            }
            bit += bits;
        }
    }
    return row;
}

bool WriteDirectory(TIFF* tif, const TiffContent& content)
{
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(content.m_nWidth));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(content.m_nHeight));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, std::uint16_t(content.m_nBits));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(content.m_nSamples));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, std::uint16_t(content.m_nPlanar));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, std::uint16_t(content.m_nCompression));
    TIFFSetField(tif, TIFFTAG_ORIENTATION, std::uint16_t(content.m_nOrientation));
    if (content.m_bJpegYCbCr) {
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, std::uint16_t(PHOTOMETRIC_YCBCR));
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    } else {
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, std::uint16_t(content.m_nPhotometric));
    }
    if (content.m_nCompression == COMPRESSION_JPEG)
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 90);
    if (content.m_nPredictor)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, std::uint16_t(content.m_nPredictor));
    if (!content.m_ExtraSamples.empty())
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, std::uint16_t(content.m_ExtraSamples.size()), content.m_ExtraSamples.data());
    std::vector<std::uint16_t> red, green, blue;
    if (content.m_nPhotometric == PHOTOMETRIC_PALETTE) {
        for (int i = 0; i < (1 << content.m_nBits); ++i) {
            red.push_back(std::uint16_t(i * 2311 % 65536));
            green.push_back(std::uint16_t(65535 - i * 257));
            blue.push_back(std::uint16_t(i * 40503 % 65536));
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }

    const int planes = content.m_nPlanar == PLANARCONFIG_SEPARATE ? content.m_nSamples : 1;
    if (content.m_nTileWidth) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, std::uint32_t(content.m_nTileWidth));
        TIFFSetField(tif, TIFFTAG_TILELENGTH, std::uint32_t(content.m_nTileLength));
        const int pixelBytes = (content.m_nBits / 8) * (planes == 1 ? content.m_nSamples : 1);
        const int tileRowBytes = content.m_nTileWidth * pixelBytes;
        for (int plane = 0; plane < planes; ++plane) {
            for (int top = 0; top < content.m_nHeight; top += content.m_nTileLength) {
                for (int left = 0; left < content.m_nWidth; left += content.m_nTileWidth) {
                    QByteArray tile(tileRowBytes * content.m_nTileLength, '\0');
                    for (int r = 0; r < content.m_nTileLength && top + r < content.m_nHeight; ++r) {
                        const QByteArray row = PackRow(content, top + r, plane);
                        const int columns = std::min(content.m_nTileWidth, content.m_nWidth - left);
                        std::memcpy(tile.data() + r * tileRowBytes, row.constData() + left * pixelBytes,
                                    static_cast<size_t>(columns * pixelBytes));
                    }
                    const std::uint32_t index = TIFFComputeTile(tif, std::uint32_t(left), std::uint32_t(top), 0,
                                                                std::uint16_t(plane));
                    if (TIFFWriteEncodedTile(tif, index, tile.data(), tile.size()) < 0)
                        return false;
                }
            }
        }
    } else {
        const int rowsPerStrip = content.m_nRowsPerStrip ? content.m_nRowsPerStrip : content.m_nHeight;
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, std::uint32_t(rowsPerStrip));
        const int stripsPerPlane = (content.m_nHeight + rowsPerStrip - 1) / rowsPerStrip;
        for (int plane = 0; plane < planes; ++plane) {
            for (int strip = 0; strip < stripsPerPlane; ++strip) {
                QByteArray data;
                for (int y = strip * rowsPerStrip; y < std::min(content.m_nHeight, (strip + 1) * rowsPerStrip); ++y)
                    data += PackRow(content, y, plane);
                if (TIFFWriteEncodedStrip(tif, std::uint32_t(plane * stripsPerPlane + strip), data.data(),
                                          data.size()) < 0)
                    return false;
            }
        }
    }
    return TIFFWriteDirectory(tif) != 0;
}

void PutLe16(QByteArray& out, std::uint16_t v)
{
    out.append(char(v & 0xFF)).append(char(v >> 8));
}

void PutLe32(QByteArray& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

std::uint32_t TypeSize(std::uint16_t type)
{
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
    }
}

std::uint64_t LeValue(const QByteArray& bytes, qsizetype offset, int size)
{
    std::uint64_t v = 0;
    for (int i = size - 1; i >= 0; --i)
        v = (v << 8) | static_cast<std::uint8_t>(bytes[offset + i]);
    return v;
}

/// Messages of the reference reader are not what the tests look at.
int Quiet(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

} // namespace

bool WriteTiff(const QString& path, const std::vector<TiffContent>& directories)
{
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    bool ok = true;
    for (const TiffContent& content : directories)
        ok = ok && WriteDirectory(tif, content);
    TIFFClose(tif);
    return ok;
}

bool WriteGeoTiff(const QString& path, const QByteArray& citation, const std::vector<double>& tiePoint,
                  const std::vector<double>& pixelScale, const QByteArray& asciiOnly, bool geographicCitation)
{
    TIFF* tif = XTIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    const std::uint32_t width = 4, height = 3;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, std::uint16_t(8));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(3));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, std::uint16_t(PHOTOMETRIC_RGB));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, std::uint16_t(PLANARCONFIG_CONTIG));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
    if (!tiePoint.empty())
        TIFFSetField(tif, TIFFTAG_GEOTIEPOINTS, int(tiePoint.size()), tiePoint.data());
    if (!pixelScale.empty())
        TIFFSetField(tif, TIFFTAG_GEOPIXELSCALE, int(pixelScale.size()), pixelScale.data());
    if (!asciiOnly.isEmpty()) {
        TIFFSetField(tif, TIFFTAG_GEOASCIIPARAMS, asciiOnly.constData());
    } else {
        GTIF* gtif = GTIFNew(tif);
        GTIFKeySet(gtif, GTModelTypeGeoKey, TYPE_SHORT, 1, ModelTypeProjected);
        GTIFKeySet(gtif, GTRasterTypeGeoKey, TYPE_SHORT, 1, RasterPixelIsArea);
        if (!citation.isEmpty())
            GTIFKeySet(gtif, geographicCitation ? GeogCitationGeoKey : GTCitationGeoKey, TYPE_ASCII, 0,
                       citation.constData());
        GTIFWriteKeys(gtif);
        GTIFFree(gtif);
    }
    std::vector<std::uint8_t> pixels(width * height * 3, 77);
    const bool ok = TIFFWriteEncodedStrip(tif, 0, pixels.data(), tmsize_t(pixels.size())) >= 0;
    XTIFFClose(tif);
    return ok;
}

void TiffBytes::AddGreyDirectory(std::uint32_t width, std::uint32_t height, std::uint32_t rowsPerStrip,
                                 const std::vector<QByteArray>& strips)
{
    Directory directory;
    std::vector<std::uint32_t> counts;
    for (const QByteArray& strip : strips)
        counts.push_back(std::uint32_t(strip.size()));
    directory.m_Entries = {
        {256, 4, {width}},
        {257, 4, {height}},
        {258, 3, {8}},
        {259, 3, {1}},
        {262, 3, {1}},
        {273, 4, std::vector<std::uint32_t>(strips.size(), 0), true},
        {277, 3, {1}},
        {278, 4, {rowsPerStrip}},
        {279, 4, counts},
    };
    directory.m_Strips = strips;
    m_Directories.push_back(directory);
}

void TiffBytes::AddShort(std::uint16_t tag, std::uint16_t value)
{
    m_Directories.back().m_Entries.push_back({tag, 3, {value}});
}

QByteArray TiffBytes::Build() const
{
    auto valueBytes = [](const Entry& e) { return std::uint32_t(e.m_Values.size()) * (e.m_nType == 3 ? 2u : 4u); };
    // Layout: every directory followed by its out-of-line values, then all strips.
    std::vector<std::uint32_t> directoryOffset;
    std::uint32_t position = 8;
    for (const Directory& d : m_Directories) {
        directoryOffset.push_back(position);
        position += 2 + 12 * std::uint32_t(d.m_Entries.size()) + 4;
        for (const Entry& e : d.m_Entries)
            if (valueBytes(e) > 4)
                position += valueBytes(e);
    }
    std::vector<std::vector<std::uint32_t>> stripOffsets;
    for (const Directory& d : m_Directories) {
        stripOffsets.emplace_back();
        for (const QByteArray& strip : d.m_Strips) {
            stripOffsets.back().push_back(position);
            position += std::uint32_t(strip.size());
        }
    }

    QByteArray out("II");
    PutLe16(out, 42);
    PutLe32(out, 8);
    for (size_t i = 0; i < m_Directories.size(); ++i) {
        std::vector<Entry> entries = m_Directories[i].m_Entries;
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.m_nTag < b.m_nTag; });
        if (m_Directories[i].m_bUnsorted)
            std::reverse(entries.begin(), entries.end());
        for (Entry& e : entries)
            if (e.m_bStripOffsets)
                e.m_Values = stripOffsets[i];
        std::uint32_t outOfLine = directoryOffset[i] + 2 + 12 * std::uint32_t(entries.size()) + 4;
        QByteArray values;
        PutLe16(out, std::uint16_t(entries.size()));
        for (const Entry& e : entries) {
            PutLe16(out, e.m_nTag);
            PutLe16(out, e.m_nType);
            PutLe32(out, std::uint32_t(e.m_Values.size()));
            QByteArray data;
            for (std::uint32_t v : e.m_Values) {
                if (e.m_nType == 3)
                    PutLe16(data, std::uint16_t(v));
                else
                    PutLe32(data, v);
            }
            if (data.size() > 4) {
                PutLe32(out, outOfLine);
                outOfLine += std::uint32_t(data.size());
                values += data;
            } else {
                out += data.leftJustified(4, '\0');
            }
        }
        PutLe32(out, i + 1 < m_Directories.size() ? directoryOffset[i + 1] : 0);
        out += values;
    }
    for (const Directory& d : m_Directories)
        for (const QByteArray& strip : d.m_Strips)
            out += strip;
    return out;
}

RawTiff::RawTiff(const QByteArray& bytes)
{
    if (bytes.size() < 8 || !bytes.startsWith("II") || LeValue(bytes, 2, 2) != 42)
        return;
    std::set<std::uint64_t> seen;
    std::uint64_t offset = LeValue(bytes, 4, 4);
    while (offset != 0 && offset + 2 <= std::uint64_t(bytes.size()) && seen.insert(offset).second) {
        const auto count = static_cast<std::uint32_t>(LeValue(bytes, qsizetype(offset), 2));
        if (offset + 2 + 12ull * count + 4 > std::uint64_t(bytes.size()))
            return;
        Directory directory;
        for (std::uint32_t i = 0; i < count; ++i) {
            const auto entry = qsizetype(offset + 2 + 12ull * i);
            Field field;
            const auto tag = static_cast<std::uint16_t>(LeValue(bytes, entry, 2));
            field.m_nType = static_cast<std::uint16_t>(LeValue(bytes, entry + 2, 2));
            field.m_nCount = static_cast<std::uint32_t>(LeValue(bytes, entry + 4, 4));
            const std::uint64_t size = std::uint64_t(field.m_nCount) * TypeSize(field.m_nType);
            const std::uint64_t at = size <= 4 ? std::uint64_t(entry + 8) : LeValue(bytes, entry + 8, 4);
            if (at + size <= std::uint64_t(bytes.size()))
                field.m_Bytes = bytes.mid(qsizetype(at), qsizetype(size));
            directory[tag] = field;
        }
        m_Directories.push_back(directory);
        offset = LeValue(bytes, qsizetype(offset + 2 + 12ull * count), 4);
    }
    m_bValid = true;
}

std::vector<double> RawTiff::Doubles(const Directory& directory, std::uint16_t tag)
{
    const auto it = directory.find(tag);
    if (it == directory.end() || it->second.m_nType != 12)
        return {};
    std::vector<double> values;
    for (qsizetype i = 0; i + 8 <= it->second.m_Bytes.size(); i += 8)
        values.push_back(std::bit_cast<double>(LeValue(it->second.m_Bytes, i, 8)));
    return values;
}

std::vector<std::uint32_t> RawTiff::Numbers(const Directory& directory, std::uint16_t tag)
{
    const auto it = directory.find(tag);
    if (it == directory.end() || (it->second.m_nType != 3 && it->second.m_nType != 4))
        return {};
    const int size = it->second.m_nType == 3 ? 2 : 4;
    std::vector<std::uint32_t> values;
    for (qsizetype i = 0; i + size <= it->second.m_Bytes.size(); i += size)
        values.push_back(static_cast<std::uint32_t>(LeValue(it->second.m_Bytes, i, size)));
    return values;
}

QByteArray RawTiff::Text(const Directory& directory, std::uint16_t tag)
{
    const auto it = directory.find(tag);
    if (it == directory.end() || it->second.m_nType != 2)
        return {};
    const QByteArray& bytes = it->second.m_Bytes;
    const qsizetype end = bytes.indexOf('\0');
    return end < 0 ? bytes : bytes.left(end);
}

ReferencePicture ReferenceDecode(const QString& path, int directory)
{
    ReferencePicture picture;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
    TIFF* tif = TIFFOpenExt(QFile::encodeName(path).constData(), "r", options);
    TIFFOpenOptionsFree(options);
    if (!tif)
        return picture;
    if (TIFFSetDirectory(tif, tdir_t(directory))) {
        std::uint32_t width = 0, height = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
        picture.m_nWidth = int(width);
        picture.m_nHeight = int(height);
        picture.m_Bgr.assign(std::size_t(width) * height * 3, 0);
        std::vector<std::uint32_t> raster(std::size_t(width) * height);
        picture.m_bRead = TIFFReadRGBAImage(tif, width, height, raster.data(), 0) != 0;
        if (picture.m_bRead) {
            // The raster's row 0 is the bottom row of the picture.
            for (std::uint32_t r = 0; r < height; ++r) {
                std::uint8_t* out = picture.m_Bgr.data() + std::size_t(height - 1 - r) * width * 3;
                for (std::uint32_t c = 0; c < width; ++c) {
                    const std::uint32_t p = raster[std::size_t(r) * width + c];
                    const std::uint32_t red = p & 0xFF, green = (p >> 8) & 0xFF, blue = (p >> 16) & 0xFF,
                                        alpha = p >> 24;
                    out[3 * c] = std::uint8_t(std::min(blue, alpha));
                    out[3 * c + 1] = std::uint8_t(std::min(green, alpha));
                    out[3 * c + 2] = std::uint8_t(std::min(red, alpha));
                }
            }
        }
    }
    TIFFClose(tif);
    return picture;
}

std::string CompareWithReference(const DIBSection& section, const ReferencePicture& reference)
{
    std::ostringstream why;
    if (!section.m_pBits || section.m_nBitCount != 24 || section.m_nWidth != reference.m_nWidth ||
        section.m_nHeight != reference.m_nHeight) {
        why << "section " << section.m_nWidth << "x" << section.m_nHeight << " bits " << section.m_nBitCount
            << (section.m_pBits ? "" : " (no pixels)") << ", reference " << reference.m_nWidth << "x"
            << reference.m_nHeight;
        return why.str();
    }
    const int width = reference.m_nWidth;
    for (int y = 0; y < reference.m_nHeight; ++y) {
        const std::uint8_t* got = section.StoredRow(section.m_nHeight - 1 - y);
        const std::uint8_t* want = reference.Row(y);
        for (int x = 0; std::memcmp(got, want, size_t(width) * 3) != 0 && x < width; ++x) {
            if (std::memcmp(got + 3 * x, want + 3 * x, 3) != 0) {
                why << "picture row " << y << " column " << x << ": got (" << int(got[3 * x]) << ","
                    << int(got[3 * x + 1]) << "," << int(got[3 * x + 2]) << ") want (" << int(want[3 * x]) << ","
                    << int(want[3 * x + 1]) << "," << int(want[3 * x + 2]) << ")";
                return why.str();
            }
        }
        for (std::int64_t b = std::int64_t(width) * 3; b < section.RowBytes(); ++b) {
            if (got[b] != 0) {
                why << "picture row " << y << ": padding byte " << b << " is " << int(got[b]);
                return why.str();
            }
        }
    }
    return {};
}
