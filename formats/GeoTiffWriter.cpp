#include "formats/GeoTiffWriter.h"

#include "platform/MemoryBudget.h"

#include <geotiff.h>
#include <geovalues.h>
#include <xtiffio.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <future>
#include <optional>
#include <system_error>
#include <memory>
#include <new>
#include <thread>
#include <vector>

namespace {

constexpr std::uint32_t kTile = 256;
constexpr int kOverviewFrom = 1024; ///< images above this on a side get overviews
/// From this many pixels on, Qt's smooth scaling halves a picture by area sampling, which the
/// reduced copies repeat row by row; a smaller picture it draws at half size, which they leave
/// to it, whole (it is small).
constexpr std::int64_t kAreaSamplingFrom = std::int64_t(1) << 20;
constexpr int kProjUtmNorth = 16000; ///< Proj_UTM_zone_1N is 16001
constexpr int kProjUtmSouth = 16100; ///< Proj_UTM_zone_1S is 16101
constexpr int kLinearMetre = 9001;

/// Where libtiff's bytes go: memory, or a file open for reading and writing.
struct TiffStore {
    QByteArray* m_pBytes = nullptr; ///< in memory when set, else in m_nFd
    int m_nFd = -1;
    qint64 m_nPos = 0;
    bool m_bOutOfMemory = false; ///< a write found no memory to grow the bytes
    int m_nError = 0;            ///< errno of a failed read or write of the file

    qint64 Size() const
    {
        struct stat info {};
        return m_pBytes ? m_pBytes->size() : (::fstat(m_nFd, &info) == 0 ? qint64(info.st_size) : 0);
    }
    /// What went wrong, as an errno: ENOMEM, the file's own error, or EIO for libtiff's refusal.
    int Failure() const { return m_bOutOfMemory ? ENOMEM : m_nError ? m_nError : EIO; }
};

tsize_t ReadProc(thandle_t handle, tdata_t data, tsize_t size)
{
    auto* store = static_cast<TiffStore*>(handle);
    if (!store->m_pBytes) {
        ssize_t n = 0;
        while ((n = ::pread(store->m_nFd, data, size_t(size), store->m_nPos)) < 0 && errno == EINTR) {
        }
        if (n < 0) {
            store->m_nError = errno;
            return -1;
        }
        store->m_nPos += n;
        return static_cast<tsize_t>(n);
    }
    const qint64 available = std::max<qint64>(0, store->m_pBytes->size() - store->m_nPos);
    const qint64 n = std::min<qint64>(size, available);
    std::memcpy(data, store->m_pBytes->constData() + store->m_nPos, static_cast<size_t>(n));
    store->m_nPos += n;
    return static_cast<tsize_t>(n);
}

tsize_t WriteProc(thandle_t handle, tdata_t data, tsize_t size)
{
    auto* store = static_cast<TiffStore*>(handle);
    if (!store->m_pBytes) {
        const char* from = static_cast<const char*>(data);
        for (tsize_t left = size; left > 0;) {
            const ssize_t n = ::pwrite(store->m_nFd, from, size_t(left), store->m_nPos);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                store->m_nError = n < 0 ? errno : EIO;
                return -1;
            }
            from += n, left -= n, store->m_nPos += n;
        }
        return size;
    }
    const qint64 end = store->m_nPos + size;
    // No exception may pass through libtiff: the failed write ends the file, and the coder says why.
    try {
        if (end > store->m_pBytes->size())
            store->m_pBytes->resize(static_cast<qsizetype>(end));
    } catch (const std::bad_alloc&) {
        store->m_bOutOfMemory = true;
        return -1;
    }
    std::memcpy(store->m_pBytes->data() + store->m_nPos, data, static_cast<size_t>(size));
    store->m_nPos = end;
    return size;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence)
{
    auto* store = static_cast<TiffStore*>(handle);
    qint64 base = 0;
    if (whence == SEEK_CUR)
        base = store->m_nPos;
    else if (whence == SEEK_END)
        base = store->Size();
    store->m_nPos = base + static_cast<qint64>(offset);
    return static_cast<toff_t>(store->m_nPos);
}

int CloseProc(thandle_t)
{
    return 0;
}

toff_t SizeProc(thandle_t handle)
{
    return static_cast<toff_t>(static_cast<TiffStore*>(handle)->Size());
}

int MapProc(thandle_t, tdata_t*, toff_t*)
{
    return 0;
}

void UnmapProc(thandle_t, tdata_t, toff_t) {}

/// GDAL's NoData tag, which libtiff does not know by itself.
const TIFFFieldInfo kNoDataField = {TIFFTAG_GDAL_NODATA, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0,
                                    const_cast<char*>("GDALNoDataValue")};

struct CloseTiff {
    void operator()(TIFF* open) const { XTIFFClose(open); }
};
using TiffHandle = std::unique_ptr<TIFF, CloseTiff>;

TiffHandle OpenTiff(TiffStore& store)
{
    TiffHandle handle(XTIFFClientOpen("geotiff", "w", &store, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                                      MapProc, UnmapProc));
    if (handle)
        TIFFMergeFieldInfo(handle.get(), &kNoDataField, 1);
    return handle;
}

/// The tags of one image directory of RGB tiles; reduced marks an overview. noData, when not
/// empty, is GDAL's NoData value of its samples.
void SetTileTags(TIFF* tif, std::uint32_t width, std::uint32_t height, bool reduced, const QByteArray& noData)
{
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
}

/// One image directory of RGB tiles from a picture held whole (the smallest reduced copies).
bool WriteDirectory(TIFF* tif, const QImage& rgb, const QByteArray& noData, const Progress& progress)
{
    const auto width = static_cast<std::uint32_t>(rgb.width());
    const auto height = static_cast<std::uint32_t>(rgb.height());
    SetTileTags(tif, width, height, true, noData);
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

/// A row of tiles filled a picture row at a time; what lies beyond the picture stays black.
class TileRow {
public:
    explicit TileRow(int width)
        : m_nWidth(width), m_nColumns(int((std::uint32_t(width) + kTile - 1) / kTile)),
          m_Pixels(std::size_t(m_nColumns) * kTile * kTile * 3)
    {
    }
    int Columns() const { return m_nColumns; }
    /// Takes the picture's next row; true when the row of tiles is full.
    bool Put(const std::uint8_t* rgb)
    {
        std::memcpy(m_Pixels.data() + std::size_t(m_nFilled) * m_nColumns * kTile * 3, rgb, std::size_t(m_nWidth) * 3);
        return ++m_nFilled == int(kTile);
    }
    /// Copies tile column of the row into tile (256 x 256 x 3 bytes), ready for libtiff.
    void CopyTile(int column, std::uint8_t* tile) const
    {
        const std::size_t stride = std::size_t(m_nColumns) * kTile * 3;
        for (std::uint32_t y = 0; y < kTile; ++y)
            std::memcpy(tile + y * kTile * 3, m_Pixels.data() + y * stride + std::size_t(column) * kTile * 3, kTile * 3);
    }
    /// Starts the next row of tiles.
    void Clear()
    {
        std::fill(m_Pixels.begin(), m_Pixels.end(), 0);
        m_nFilled = 0;
    }

private:
    int m_nWidth;
    int m_nColumns;
    int m_nFilled = 0;
    std::vector<std::uint8_t> m_Pixels;
};

/// The tiles of a row coded by libtiff as a file of these tags codes them, on all cores: each
/// core codes its share in a file of its own in memory, whose bytes are taken out tile by tile.
/// Empty on failure, with outOfMemory set when memory ran out.
std::vector<QByteArray> CodeTiles(const TileRow& row, bool& outOfMemory)
{
    const int columns = row.Columns();
    const int cores = std::clamp(int(std::thread::hardware_concurrency()), 1, columns);
    std::vector<QByteArray> coded(static_cast<std::size_t>(columns));
    std::atomic<bool> failed{false}, exhausted{false};
    const auto code = [&](int first, int count) {
        try {
            QByteArray bytes;
            TiffStore store{&bytes};
            TiffHandle tif = OpenTiff(store);
            std::vector<std::uint8_t> tile(kTile * kTile * 3);
            bool ok = bool(tif);
            if (ok)
                SetTileTags(tif.get(), kTile, kTile * std::uint32_t(count), false, {});
            for (int i = 0; ok && i < count; ++i) {
                row.CopyTile(first + i, tile.data());
                ok = TIFFWriteTile(tif.get(), tile.data(), 0, std::uint32_t(i) * kTile, 0, 0) >= 0;
            }
            const std::uint64_t* offsets = nullptr;
            const std::uint64_t* counts = nullptr;
            ok = ok && TIFFGetField(tif.get(), TIFFTAG_TILEOFFSETS, &offsets) &&
                 TIFFGetField(tif.get(), TIFFTAG_TILEBYTECOUNTS, &counts);
            for (int i = 0; ok && i < count; ++i)
                coded[std::size_t(first + i)] = bytes.mid(qsizetype(offsets[i]), qsizetype(counts[i]));
            if (store.m_bOutOfMemory)
                exhausted = true;
            if (!ok || store.m_bOutOfMemory)
                failed = true;
        } catch (const std::bad_alloc&) {
            exhausted = true;
            failed = true;
        }
    };
    std::vector<std::thread> helpers;
    int first = 0;
    for (int core = 0; core < cores; ++core) {
        const int count = (columns - first) / (cores - core);
        bool started = false;
        try {
            if (core + 1 < cores)
                helpers.emplace_back(code, first, count), started = true;
        } catch (const std::system_error&) {
            // No thread to spare: this share is coded here.
        }
        if (!started)
            code(first, count);
        first += count;
    }
    for (std::thread& helper : helpers)
        helper.join();
    outOfMemory = exhausted;
    return failed ? std::vector<QByteArray>() : coded;
}

/// Halves a picture of 2^20 pixels or more by area sampling as its rows come, with the very
/// weights and integer steps of Qt's smooth scaling, so that the reduced copies are those the
/// whole picture scaled by Qt would give: each target pixel sums the source pixels it covers,
/// in 14-bit fractions, first along the row, then down the column.
class AreaHalving {
public:
    AreaHalving(int sw, int sh, int dw, int dh) : m_X(sw, dw), m_Y(sh, dh), m_nWidth(dw), m_Out(std::size_t(dw) * 3)
    {
        m_Last.resize(std::size_t(dh));
        for (int y = 0; y < dh; ++y)
            m_Last[std::size_t(y)] = std::min(sh - 1, m_Y.m_First[std::size_t(y)] + m_Y.Count(y) - 1);
    }

    /// Takes the next row of the picture above; take gets every row of the copy it completes.
    template <class Take>
    void Push(const std::uint8_t* rgb, Take&& take)
    {
        const int row = m_nBase + int(m_Sums.size());
        std::vector<std::uint32_t> sums = TakeSpare();
        SumAlongRow(rgb, sums);
        m_Sums.push_back(std::move(sums));
        const int rows = int(m_Last.size());
        while (m_nNext < rows && m_Last[std::size_t(m_nNext)] <= row) {
            MakeRow(m_nNext);
            take(m_Out.data());
            ++m_nNext;
            // Rows above the next target row's first are done with.
            const int keep = m_nNext < rows ? m_Y.m_First[std::size_t(m_nNext)] : row + 1;
            while (m_nBase < keep && !m_Sums.empty()) {
                m_Spare.push_back(std::move(m_Sums.front()));
                m_Sums.erase(m_Sums.begin());
                ++m_nBase;
            }
        }
    }

private:
    /// Where the target pixels of one direction start in the source and how much of it each
    /// takes: the first source pixel's share, then whole shares while the 1 << 14 of a target
    /// pixel lasts, and the rest from the last. The same size on both sides copies.
    struct Axis {
        Axis(int source, int target) : m_bSame(target >= source)
        {
            const std::int64_t step = (std::int64_t(source) << 16) / target;
            m_nShare = m_bSame ? 0 : int(((std::int64_t(target) << 14) + source - 1) / source);
            for (std::int64_t i = 0, at = 0; i < target; ++i, at += step) {
                m_First.push_back(int(at >> 16));
                m_Firsts.push_back(m_bSame ? 0 : int(((0x10000 - (at & 0xffff)) * m_nShare) >> 16));
            }
        }
        int Count(int i) const
        {
            if (m_bSame)
                return 1;
            int count = 2;
            for (int j = (1 << 14) - m_Firsts[std::size_t(i)]; j > m_nShare; j -= m_nShare)
                ++count;
            return count;
        }
        bool m_bSame;
        int m_nShare = 0;
        std::vector<int> m_First;
        std::vector<int> m_Firsts;
    };

    std::vector<std::uint32_t> TakeSpare()
    {
        if (m_Spare.empty())
            return std::vector<std::uint32_t>(std::size_t(m_nWidth) * 3);
        std::vector<std::uint32_t> sums = std::move(m_Spare.back());
        m_Spare.pop_back();
        return sums;
    }

    void SumAlongRow(const std::uint8_t* rgb, std::vector<std::uint32_t>& sums) const
    {
        for (int x = 0; x < m_nWidth; ++x) {
            const std::uint8_t* p = rgb + std::size_t(m_X.m_First[std::size_t(x)]) * 3;
            std::uint32_t* s = sums.data() + std::size_t(x) * 3;
            if (m_X.m_bSame) {
                s[0] = p[0], s[1] = p[1], s[2] = p[2];
                continue;
            }
            const std::uint32_t first = std::uint32_t(m_X.m_Firsts[std::size_t(x)]), share = std::uint32_t(m_X.m_nShare);
            std::uint32_t r = p[0] * first, g = p[1] * first, b = p[2] * first;
            std::uint32_t j = (1u << 14) - first;
            for (; j > share; j -= share) {
                p += 3;
                r += p[0] * share, g += p[1] * share, b += p[2] * share;
            }
            p += 3;
            s[0] = r + p[0] * j, s[1] = g + p[1] * j, s[2] = b + p[2] * j;
        }
    }

    void MakeRow(int y)
    {
        const std::size_t n = std::size_t(m_nWidth) * 3;
        const std::uint32_t* top = m_Sums[std::size_t(m_Y.m_First[std::size_t(y)] - m_nBase)].data();
        if (m_Y.m_bSame) {
            for (std::size_t i = 0; i < n; ++i)
                m_Out[i] = std::uint8_t(top[i] >> 14);
            return;
        }
        // Sums along a row carry 14 bits of fraction; down the column, a copied row's 14 bits
        // end the sum, a summed row's are cut to 10 first, as 32 bits hold both.
        const int cut = m_X.m_bSame ? 0 : 4, end = m_X.m_bSame ? 14 : 24;
        m_Acc.assign(n, 0);
        const std::uint32_t first = std::uint32_t(m_Y.m_Firsts[std::size_t(y)]), share = std::uint32_t(m_Y.m_nShare);
        std::size_t k = std::size_t(m_Y.m_First[std::size_t(y)] - m_nBase);
        const auto add = [&](std::size_t at, std::uint32_t weight) {
            const std::uint32_t* sums = m_Sums[std::min(at, m_Sums.size() - 1)].data();
            for (std::size_t i = 0; i < n; ++i)
                m_Acc[i] += (sums[i] >> cut) * weight;
        };
        add(k, first);
        std::uint32_t j = (1u << 14) - first;
        for (; j > share; j -= share)
            add(++k, share);
        add(++k, j);
        for (std::size_t i = 0; i < n; ++i)
            m_Out[i] = std::uint8_t(m_Acc[i] >> end);
    }

    Axis m_X, m_Y;
    int m_nWidth;
    std::vector<int> m_Last; ///< the last source row each target row takes
    std::vector<std::vector<std::uint32_t>> m_Sums; ///< source rows from m_nBase, summed along
    std::vector<std::vector<std::uint32_t>> m_Spare;
    std::vector<std::uint32_t> m_Acc;
    std::vector<std::uint8_t> m_Out;
    int m_nBase = 0;
    int m_nNext = 0;
};

/// The sizes of the picture and its reduced copies: halves, rounded up, while the longer side
/// of the last is above 256, for pictures above 1024 on a side.
std::vector<QSize> PyramidSizes(int width, int height)
{
    std::vector<QSize> sizes{QSize(width, height)};
    if (std::max(width, height) <= kOverviewFrom)
        return sizes;
    while (std::max(sizes.back().width(), sizes.back().height()) > int(kTile))
        sizes.emplace_back(std::max(1, (sizes.back().width() + 1) / 2), std::max(1, (sizes.back().height() + 1) / 2));
    return sizes;
}

/// How many reduced copies are made by area sampling as the rows come: those whose source has
/// 2^20 pixels or more. The others are made whole from the last of them.
std::size_t AreaLevels(const std::vector<QSize>& sizes)
{
    std::size_t count = 0;
    while (count + 1 < sizes.size() &&
           std::int64_t(sizes[count].width()) * sizes[count].height() >= kAreaSamplingFrom)
        ++count;
    return count;
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


/// Writes the file of rows into main; the reduced copies made as the rows come are coded into
/// scratch first. 0 or the errno of the failure.
/// A reduced copy's tile coded ahead of its directory, waiting in scratch.
struct CodedTile {
    qint64 m_nOffset;
    qsizetype m_nSize;
};

/// Writes the reduced copies' directories after the picture's: first those whose tiles wait coded
/// in scratch (coded, a list for each size from the picture's on), then the smallest ones, halved
/// in turn from small. done is the share of progress reported so far. 0, or the errno of a failure.
int WriteReducedCopies(TIFF* tif, TiffStore& mainStore, TiffStore& scratchStore, const std::vector<QSize>& sizes,
                       const std::vector<std::vector<CodedTile>>& coded, const QImage* small, const QByteArray& noData,
                       const Progress& progress, double done)
{
    std::vector<char> raw;
    for (std::size_t level = 1; level < coded.size(); ++level) {
        SetTileTags(tif, std::uint32_t(sizes[level].width()), std::uint32_t(sizes[level].height()), true, noData);
        for (std::size_t tile = 0; tile < coded[level].size(); ++tile) {
            raw.resize(std::size_t(coded[level][tile].m_nSize));
            scratchStore.m_nPos = coded[level][tile].m_nOffset;
            if (ReadProc(&scratchStore, raw.data(), tsize_t(raw.size())) != tsize_t(raw.size()))
                return scratchStore.Failure();
            if (TIFFWriteRawTile(tif, std::uint32_t(tile), raw.data(), tsize_t(raw.size())) < 0)
                return mainStore.Failure();
        }
        if (!TIFFWriteDirectory(tif))
            return mainStore.Failure();
        const double share = (1.0 - done) * 0.75;
        if (!progress.Part(done, done + share).Report(1, 1))
            return ECANCELED;
        done += share;
    }
    if (small) {
        QImage reduced = *small;
        for (std::size_t level = coded.size(); level < sizes.size(); ++level) {
            reduced = reduced.scaled(sizes[level], Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            RequirePixels(reduced);
            const double share = (1.0 - done) * 0.75;
            if (!WriteDirectory(tif, reduced, noData, progress.Part(done, done + share)))
                return progress.Cancelled() ? ECANCELED : mainStore.Failure();
            done += share;
        }
    }
    return 0;
}

/// The picture and its reduced copies as the picture's rows arrive from the top: each size's
/// rows fill a row of tiles, coded on the other cores while the next one fills; the picture's
/// tiles go into the file, the reduced copies' into scratch until their directory's turn.
class PyramidBuilder {
public:
    PyramidBuilder(TIFF* tif, TiffStore& scratchStore, const std::vector<QSize>& sizes, std::size_t areaLevels,
                   const Progress& fullProgress)
        : m_pTif(tif), m_Scratch(scratchStore), m_Sizes(sizes), m_nAreaLevels(areaLevels),
          m_bTail(sizes.size() > areaLevels + 1), m_FullProgress(fullProgress), m_Coded(areaLevels + 1),
          m_Filling(areaLevels + 1, 0), m_RowsDone(areaLevels + 1, 0), m_Coding(areaLevels + 1)
    {
        // Two rows of tiles a size: one fills while the other is coded.
        for (std::size_t level = 0; level <= areaLevels; ++level) {
            m_TileRows.push_back({TileRow(sizes[level].width()), TileRow(sizes[level].width())});
            if (level > 0)
                m_Halvings.emplace_back(sizes[level - 1].width(), sizes[level - 1].height(), sizes[level].width(),
                                        sizes[level].height());
        }
        if (m_bTail) {
            m_Small = QImage(sizes[areaLevels], QImage::Format_RGB888);
            RequirePixels(m_Small);
        }
    }

    /// Takes the next row of a size (level 0 the picture's), passing its halving to the next size.
    void Deliver(std::size_t level, const std::uint8_t* rgb)
    {
        if (!m_bOk)
            return;
        const int y = m_RowsDone[level]++;
        if (m_TileRows[level][std::size_t(m_Filling[level])].Put(rgb) || m_RowsDone[level] == m_Sizes[level].height())
            Flush(level);
        if (level < m_nAreaLevels)
            m_Halvings[level].Push(rgb, [&](const std::uint8_t* reduced) { Deliver(level + 1, reduced); });
        else if (m_bTail)
            std::memcpy(m_Small.scanLine(y), rgb, std::size_t(m_Sizes[level].width()) * 3);
    }

    /// Writes every row of tiles still being coded; false when anything failed.
    bool Finish()
    {
        for (std::size_t level = 0; level <= m_nAreaLevels; ++level)
            Finish(level);
        return m_bOk;
    }

    bool Ok() const { return m_bOk; }
    bool OutOfMemory() const { return m_bOutOfMemory; }
    const std::vector<std::vector<CodedTile>>& Coded() const { return m_Coded; }
    /// The largest size left to Qt's halving, when there are such sizes.
    const QImage* Small() const { return m_bTail ? &m_Small : nullptr; }

private:
    /// A row of tiles being coded: its top, and whether its coding ran out of memory.
    struct Coding {
        std::future<std::vector<QByteArray>> m_Tiles;
        std::uint32_t m_nTop = 0;
        std::unique_ptr<bool> m_pOutOfMemory = std::make_unique<bool>(false);
    };

    /// The coded row of tiles of a size written where it goes, in order: the picture's into the
    /// file, a reduced copy's into scratch.
    void Finish(std::size_t level)
    {
        if (!m_Coding[level])
            return;
        const std::vector<QByteArray> codedRow = m_Coding[level]->m_Tiles.get();
        const std::uint32_t y0 = m_Coding[level]->m_nTop;
        m_bOutOfMemory = m_bOutOfMemory || *m_Coding[level]->m_pOutOfMemory;
        m_Coding[level].reset();
        m_bOk = m_bOk && !codedRow.empty();
        for (std::size_t column = 0; m_bOk && column < codedRow.size(); ++column) {
            QByteArray tile = codedRow[column];
            if (level == 0) {
                m_bOk = TIFFWriteRawTile(m_pTif, TIFFComputeTile(m_pTif, std::uint32_t(column) * kTile, y0, 0, 0),
                                         tile.data(), tsize_t(tile.size())) >= 0;
            } else {
                m_Coded[level].push_back({m_Scratch.Size(), tile.size()});
                m_Scratch.m_nPos = m_Coded[level].back().m_nOffset;
                m_bOk = WriteProc(&m_Scratch, tile.data(), tsize_t(tile.size())) == tsize_t(tile.size());
            }
        }
        const int height = m_Sizes[0].height();
        if (m_bOk && level == 0)
            m_bOk = m_FullProgress.Report(std::min<int>(height, int(y0 + kTile)), height);
    }

    /// Hands the filled row of tiles of a size to be coded and starts filling the other.
    void Flush(std::size_t level)
    {
        Finish(level);
        if (!m_bOk)
            return;
        const TileRow& tiles = m_TileRows[level][std::size_t(m_Filling[level])];
        Coding next;
        next.m_nTop = std::uint32_t(m_RowsDone[level] - 1) / kTile * kTile;
        const auto code = [&tiles, flag = next.m_pOutOfMemory.get()] { return CodeTiles(tiles, *flag); };
        try {
            next.m_Tiles = std::async(std::launch::async, code);
        } catch (const std::system_error&) {
            next.m_Tiles = std::async(std::launch::deferred, code); // no thread to spare: coded when written
        }
        m_Coding[level] = std::move(next);
        m_Filling[level] ^= 1;
        m_TileRows[level][std::size_t(m_Filling[level])].Clear();
    }

    TIFF* m_pTif;
    TiffStore& m_Scratch;
    const std::vector<QSize>& m_Sizes;
    std::size_t m_nAreaLevels;
    bool m_bTail;
    Progress m_FullProgress;
    std::vector<std::vector<CodedTile>> m_Coded;
    std::vector<std::array<TileRow, 2>> m_TileRows;
    std::vector<int> m_Filling;
    std::vector<AreaHalving> m_Halvings;
    std::vector<int> m_RowsDone;
    std::vector<std::optional<Coding>> m_Coding;
    QImage m_Small;
    bool m_bOk = true;
    bool m_bOutOfMemory = false;
};

int WritePyramid(TiffStore& mainStore, TiffStore& scratchStore, const RgbRows& rows, const MapCrs& crs,
                 const std::array<double, 6>& gt, const QByteArray& noData, const Progress& progress)
{
    const std::vector<QSize> sizes = PyramidSizes(rows.m_nWidth, rows.m_nHeight);
    TiffHandle handle = OpenTiff(mainStore);
    TIFF* tif = handle.get();
    if (!tif)
        return mainStore.Failure();
    WriteGeoKeys(tif, crs, gt);
    SetTileTags(tif, std::uint32_t(rows.m_nWidth), std::uint32_t(rows.m_nHeight), false, noData);

    const double fullShare = sizes.size() > 1 ? 0.75 : 1.0;
    PyramidBuilder pyramid(tif, scratchStore, sizes, AreaLevels(sizes), progress.Part(0.0, fullShare));
    std::vector<std::uint8_t> row(std::size_t(rows.m_nWidth) * 3);
    for (int y = 0; pyramid.Ok() && y < rows.m_nHeight; ++y) {
        rows.m_Read(y, row.data());
        pyramid.Deliver(0, row.data());
    }
    if (!pyramid.Finish())
        return progress.Cancelled()                                ? ECANCELED
               : pyramid.OutOfMemory()                             ? ENOMEM
               : mainStore.m_nError || mainStore.m_bOutOfMemory    ? mainStore.Failure()
                                                                   : scratchStore.Failure();
    if (!TIFFWriteDirectory(tif))
        return mainStore.Failure();
    if (const int error = WriteReducedCopies(tif, mainStore, scratchStore, sizes, pyramid.Coded(), pyramid.Small(),
                                             noData, progress, fullShare))
        return error;
    handle.reset(); // writes what libtiff still holds
    if (mainStore.m_bOutOfMemory || mainStore.m_nError)
        return mainStore.Failure();
    return progress.Cancelled() ? ECANCELED : 0;
}

} // namespace

int WriteGeoTiff(int fd, int scratch, const RgbRows& rows, const MapCrs& crs, const std::array<double, 6>& geoTransform,
                 const QByteArray& noData, const Progress& progress)
{
    if (rows.m_nWidth <= 0 || rows.m_nHeight <= 0)
        return EINVAL;
    TiffStore file{nullptr, fd};
    TiffStore spare{nullptr, scratch};
    try {
        return WritePyramid(file, spare, rows, crs, geoTransform, noData, progress);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

QByteArray EncodeGeoTiff(const QImage& image, const MapCrs& crs, const std::array<double, 6>& geoTransform,
                         const QByteArray& noData, const Progress& progress)
{
    if (image.isNull())
        return {};
    // A picture of another kind is converted whole; 32-bit pixels are read a row at a time.
    const bool direct = image.format() == QImage::Format_RGB888 || image.format() == QImage::Format_RGB32 ||
                        image.format() == QImage::Format_ARGB32;
    const QImage source = direct ? image : image.convertToFormat(QImage::Format_RGB888);
    RequirePixels(source);
    RgbRows rows{source.width(), source.height(), [&source](int y, std::uint8_t* rgb) {
                     const uchar* line = source.constScanLine(y);
                     if (source.format() == QImage::Format_RGB888) {
                         std::memcpy(rgb, line, std::size_t(source.width()) * 3);
                         return;
                     }
                     const auto* pixels = reinterpret_cast<const QRgb*>(line);
                     for (int x = 0; x < source.width(); ++x, rgb += 3)
                         rgb[0] = std::uint8_t(qRed(pixels[x])), rgb[1] = std::uint8_t(qGreen(pixels[x])),
                         rgb[2] = std::uint8_t(qBlue(pixels[x]));
                 }};
    QByteArray bytes, scratchBytes;
    TiffStore file{&bytes};
    TiffStore scratch{&scratchBytes};
    const int error = WritePyramid(file, scratch, rows, crs, geoTransform, noData, progress);
    if (error == ENOMEM)
        throw std::bad_alloc();
    return error == 0 ? bytes : QByteArray();
}

std::int64_t GeoTiffWorkingBytes(int width, int height)
{
    const std::vector<QSize> sizes = PyramidSizes(width, height);
    const std::size_t areaLevels = AreaLevels(sizes);
    std::int64_t bytes = 0;
    for (std::size_t level = 0; level <= areaLevels; ++level) {
        const std::int64_t w = sizes[level].width();
        // Two rows of tiles, one filling and one being coded, and that one's coded bytes twice
        // (as coded, and taken out); the picture's row, and the halving's rows summed along.
        bytes += 4 * ((w + kTile - 1) / kTile * kTile * kTile * 3) + w * 3 + 8 * w * 12;
    }
    // The smallest copies are made whole: the first at 24 bits, and Qt's work at 32 on it.
    if (sizes.size() > areaLevels + 1)
        bytes += std::int64_t(sizes[areaLevels].width()) * sizes[areaLevels].height() * (3 + 4);
    return bytes;
}
