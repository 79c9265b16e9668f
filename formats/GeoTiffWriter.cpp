#include "formats/GeoTiffWriter.h"

#include "platform/MemoryBudget.h"

#include <geotiff.h>
#include <geovalues.h>
#include <xtiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr std::uint32_t kTile = 256;
constexpr int kOverviewFrom = 1024; ///< images above this on a side get overviews
constexpr int kProjUtmNorth = 16000; ///< Proj_UTM_zone_1N is 16001
constexpr int kProjUtmSouth = 16100; ///< Proj_UTM_zone_1S is 16101
constexpr int kLinearMetre = 9001;

/// libtiff writing into memory: the bytes are handed to the atomic file writer afterwards.
struct MemoryFile {
    QByteArray m_Bytes;
    qint64 m_nPos = 0;
    bool m_bOutOfMemory = false; ///< a write found no memory to grow the file
};

tsize_t ReadProc(thandle_t handle, tdata_t data, tsize_t size)
{
    auto* file = static_cast<MemoryFile*>(handle);
    const qint64 available = std::max<qint64>(0, file->m_Bytes.size() - file->m_nPos);
    const qint64 n = std::min<qint64>(size, available);
    std::memcpy(data, file->m_Bytes.constData() + file->m_nPos, static_cast<size_t>(n));
    file->m_nPos += n;
    return static_cast<tsize_t>(n);
}

tsize_t WriteProc(thandle_t handle, tdata_t data, tsize_t size)
{
    auto* file = static_cast<MemoryFile*>(handle);
    const qint64 end = file->m_nPos + size;
    // No exception may pass through libtiff: the failed write ends the file, and the coder says why.
    try {
        if (end > file->m_Bytes.size())
            file->m_Bytes.resize(static_cast<qsizetype>(end));
    } catch (const std::bad_alloc&) {
        file->m_bOutOfMemory = true;
        return -1;
    }
    std::memcpy(file->m_Bytes.data() + file->m_nPos, data, static_cast<size_t>(size));
    file->m_nPos = end;
    return size;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence)
{
    auto* file = static_cast<MemoryFile*>(handle);
    qint64 base = 0;
    if (whence == SEEK_CUR)
        base = file->m_nPos;
    else if (whence == SEEK_END)
        base = file->m_Bytes.size();
    file->m_nPos = base + static_cast<qint64>(offset);
    return static_cast<toff_t>(file->m_nPos);
}

int CloseProc(thandle_t)
{
    return 0;
}

toff_t SizeProc(thandle_t handle)
{
    return static_cast<toff_t>(static_cast<MemoryFile*>(handle)->m_Bytes.size());
}

int MapProc(thandle_t, tdata_t*, toff_t*)
{
    return 0;
}

void UnmapProc(thandle_t, tdata_t, toff_t) {}

/// GDAL's NoData tag, which libtiff does not know by itself.
const TIFFFieldInfo kNoDataField = {TIFFTAG_GDAL_NODATA, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0,
                                    const_cast<char*>("GDALNoDataValue")};

/// One image directory of RGB tiles; reduced marks an overview. noData, when not empty, is
/// GDAL's NoData value of its samples.
bool WriteDirectory(TIFF* tif, const QImage& rgb, bool reduced, const QByteArray& noData, const Progress& progress)
{
    const auto width = static_cast<std::uint32_t>(rgb.width());
    const auto height = static_cast<std::uint32_t>(rgb.height());
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, reduced ? FILETYPE_REDUCEDIMAGE : 0);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, kTile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, kTile);
    if (!noData.isEmpty())
        TIFFSetField(tif, TIFFTAG_GDAL_NODATA, noData.constData());
    std::vector<std::uint8_t> tile(kTile * kTile * 3);
    for (std::uint32_t y0 = 0; y0 < height; y0 += kTile) {
        for (std::uint32_t x0 = 0; x0 < width; x0 += kTile) {
            // Tiles beyond the picture's edge are padded with black.
            std::fill(tile.begin(), tile.end(), 0);
            for (std::uint32_t y = 0; y < kTile && y0 + y < height; ++y) {
                const uchar* line = rgb.constScanLine(static_cast<int>(y0 + y)) + x0 * 3;
                const std::uint32_t count = std::min(kTile, width - x0);
                std::memcpy(tile.data() + y * kTile * 3, line, count * 3);
            }
            if (TIFFWriteTile(tif, tile.data(), x0, y0, 0, 0) < 0)
                return false;
        }
        if (!progress.Report(std::min(height, y0 + kTile), height))
            return false;
    }
    return TIFFWriteDirectory(tif) != 0;
}

void WriteKeysAsRead(GTIF* keys, const std::vector<GeoKeyValue>& values)
{
    for (const GeoKeyValue& key : values) {
        const auto id = static_cast<geokey_t>(key.m_nKey);
        const int count = static_cast<int>(key.m_Values.size());
        switch (key.m_Type) {
        case GeoKeyValue::Type::Ascii:
            GTIFKeySet(keys, id, TYPE_ASCII, 0, key.m_Text.constData());
            break;
        case GeoKeyValue::Type::Double:
            if (count == 1)
                GTIFKeySet(keys, id, TYPE_DOUBLE, 1, key.m_Values[0]);
            else if (count > 1)
                GTIFKeySet(keys, id, TYPE_DOUBLE, count, key.m_Values.data());
            break;
        case GeoKeyValue::Type::Short: {
            std::vector<unsigned short> shorts(key.m_Values.begin(), key.m_Values.end());
            if (count == 1)
                GTIFKeySet(keys, id, TYPE_SHORT, 1, static_cast<int>(shorts[0]));
            else if (count > 1)
                GTIFKeySet(keys, id, TYPE_SHORT, count, shorts.data());
            break;
        }
        }
    }
}

void WriteGeoKeys(TIFF* tif, const MapCrs& crs, const std::array<double, 6>& gt)
{
    if (gt[2] == 0.0 && gt[4] == 0.0) {
        // North up: the tie point at the top-left corner of the top-left pixel, and the scale.
        const double scale[3] = {gt[1], -gt[5], 0.0};
        const double tie[6] = {0.0, 0.0, 0.0, gt[0], gt[3], 0.0};
        TIFFSetField(tif, TIFFTAG_GEOPIXELSCALE, 3, scale);
        TIFFSetField(tif, TIFFTAG_GEOTIEPOINTS, 6, tie);
    } else {
        const double matrix[16] = {gt[1], gt[2], 0.0, gt[0], gt[4], gt[5], 0.0, gt[3],
                                   0.0,   0.0,   0.0, 0.0,   0.0,   0.0,   0.0, 1.0};
        TIFFSetField(tif, TIFFTAG_GEOTRANSMATRIX, 16, matrix);
    }
    GTIF* keys = GTIFNew(tif);
    if (!keys)
        return;
    const QByteArray citation = crs.Citation().toUtf8();
    GTIFKeySet(keys, GTRasterTypeGeoKey, TYPE_SHORT, 1, RasterPixelIsArea);
    if (!crs.m_GeoKeys.empty()) {
        // The system of the map's own keys: written back as they were, so that its datum, its
        // projection and its names stay the file's own.
        WriteKeysAsRead(keys, crs.m_GeoKeys);
        GTIFWriteKeys(keys);
        GTIFFree(keys);
        return;
    }
    if (crs.m_bGeographic) {
        GTIFKeySet(keys, GTModelTypeGeoKey, TYPE_SHORT, 1, ModelTypeGeographic);
        GTIFKeySet(keys, GeographicTypeGeoKey, TYPE_SHORT, 1, crs.GeographicEpsg());
        GTIFKeySet(keys, GeogCitationGeoKey, TYPE_ASCII, 0, citation.constData());
    } else {
        GTIFKeySet(keys, GTModelTypeGeoKey, TYPE_SHORT, 1, ModelTypeProjected);
        if (crs.m_nEpsg) {
            GTIFKeySet(keys, ProjectedCSTypeGeoKey, TYPE_SHORT, 1, *crs.m_nEpsg);
        } else {
            // No EPSG code for this zone on this datum: the UTM zone and the datum's geographic
            // system say the same.
            GTIFKeySet(keys, ProjectedCSTypeGeoKey, TYPE_SHORT, 1, KvUserDefined);
            GTIFKeySet(keys, ProjectionGeoKey, TYPE_SHORT, 1,
                       (crs.m_bSouth ? kProjUtmSouth : kProjUtmNorth) + crs.m_nUtmZone);
            GTIFKeySet(keys, GeographicTypeGeoKey, TYPE_SHORT, 1, crs.GeographicEpsg());
            GTIFKeySet(keys, ProjLinearUnitsGeoKey, TYPE_SHORT, 1, kLinearMetre);
        }
    }
    // The citation lets Varnel itself, which reads the zone from it, geo-code the file again.
    GTIFKeySet(keys, GTCitationGeoKey, TYPE_ASCII, 0, citation.constData());
    GTIFWriteKeys(keys);
    GTIFFree(keys);
}

} // namespace

QByteArray EncodeGeoTiff(const QImage& image, const MapCrs& crs, const std::array<double, 6>& geoTransform,
                         const QByteArray& noData, const Progress& progress)
{
    if (image.isNull())
        return {};
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    RequirePixels(rgb);
    MemoryFile file;
    // Closed however the coding ends, also when an image for it finds no memory.
    const auto close = [](TIFF* open) { XTIFFClose(open); };
    std::unique_ptr<TIFF, decltype(close)> handle(
        XTIFFClientOpen("geotiff", "w", &file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc, UnmapProc),
        close);
    TIFF* tif = handle.get();
    if (!tif)
        return {};
    TIFFMergeFieldInfo(tif, &kNoDataField, 1);
    WriteGeoKeys(tif, crs, geoTransform);
    // The overviews together are a third of the image's pixels, each a quarter of the one before.
    const bool overviews = std::max(rgb.width(), rgb.height()) > kOverviewFrom;
    double done = overviews ? 0.75 : 1.0;
    bool ok = WriteDirectory(tif, rgb, false, noData, progress.Part(0.0, done));
    if (ok && overviews) {
        QImage reduced = rgb;
        while (ok && std::max(reduced.width(), reduced.height()) > static_cast<int>(kTile)) {
            reduced = reduced.scaled(std::max(1, (reduced.width() + 1) / 2), std::max(1, (reduced.height() + 1) / 2),
                                     Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            RequirePixels(reduced);
            const double share = (1.0 - done) * 0.75;
            ok = WriteDirectory(tif, reduced, true, noData, progress.Part(done, done + share));
            done += share;
        }
    }
    handle.reset(); // writes what libtiff still holds
    if (file.m_bOutOfMemory)
        throw std::bad_alloc();
    return ok && !progress.Cancelled() ? file.m_Bytes : QByteArray();
}
