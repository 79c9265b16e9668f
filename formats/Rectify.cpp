#include "formats/Rectify.h"

#include "formats/GdalSupport.h"

#include "imaging/DIBSection.h"
#include "platform/DisplayText.h"
#include "platform/MemoryBudget.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal_alg.h>
#include <gdalwarper.h>
#include <memdataset.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace {

constexpr char kTransformerName[] = "VarnelRectifyTransformer";

/// What every thread's transformer shares: the geo-coding, which serves one thread at a time.
struct SharedGeoCoding {
    const GeoCoding* m_pGeoCoding = nullptr;
    std::mutex m_Mutex;
};

/// Between output pixels (or target coordinates while no grid is set) and picture pixels,
/// through WGS 84. Laid out as GDAL's transformers are, so that the warper can make a similar one
/// for each of its threads.
struct RectifyTransformer {
    GDALTransformerInfo m_Info;
    SharedGeoCoding* m_pShared = nullptr;
    FitCrs m_Target;
    std::optional<FitCrsConversion> m_Conversion;
    bool m_bHasGrid = false;
    double m_GeoTransform[6] = {0, 1, 0, 0, 0, 1};
    double m_InverseGeoTransform[6] = {0, 1, 0, 0, 0, 1};
    /// Picture pixels per source pixel: 1, or more when the warper reads a reduced copy.
    double m_dSourceRatioX = 1.0;
    double m_dSourceRatioY = 1.0;
};

int TransformPoints(void* arg, int dstToSrc, int count, double* x, double* y, double* /*z*/, int* success);
void DestroyTransformer(void* arg);
void* CreateSimilarTransformer(void* arg, double ratioX, double ratioY);

RectifyTransformer* NewTransformer(SharedGeoCoding* shared, const FitCrs& target, QString* refusal = nullptr)
{
    auto conversion = FitCrsConversion::Create(target, refusal);
    if (!conversion)
        return nullptr;
    auto* transformer = new RectifyTransformer;
    std::memcpy(transformer->m_Info.abySignature, GDAL_GTI2_SIGNATURE, 4);
    transformer->m_Info.pszClassName = kTransformerName;
    transformer->m_Info.pfnTransform = TransformPoints;
    transformer->m_Info.pfnCleanup = DestroyTransformer;
    transformer->m_Info.pfnSerialize = nullptr;
    transformer->m_Info.pfnCreateSimilar = CreateSimilarTransformer;
    transformer->m_pShared = shared;
    transformer->m_Target = target;
    transformer->m_Conversion = std::move(conversion);
    return transformer;
}

void SetGrid(RectifyTransformer& transformer, const double geoTransform[6])
{
    std::memcpy(transformer.m_GeoTransform, geoTransform, sizeof transformer.m_GeoTransform);
    transformer.m_bHasGrid = GDALInvGeoTransform(transformer.m_GeoTransform, transformer.m_InverseGeoTransform) != 0;
}

int TransformPoints(void* arg, int dstToSrc, int count, double* x, double* y, double* /*z*/, int* success)
{
    auto& transformer = *static_cast<RectifyTransformer*>(arg);
    const GeoCoding& geoCoding = *transformer.m_pShared->m_pGeoCoding;
    if (dstToSrc) {
        auto positions = std::vector<std::optional<GeoPosition>>(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            double px = x[i], py = y[i];
            if (transformer.m_bHasGrid)
                GDALApplyGeoTransform(transformer.m_GeoTransform, x[i], y[i], &px, &py);
            positions[std::size_t(i)] = transformer.m_Conversion->ToWgs84(QPointF(px, py));
        }
        std::lock_guard lock(transformer.m_pShared->m_Mutex);
        for (int i = 0; i < count; ++i) {
            std::optional<QPointF> pixel;
            if (positions[std::size_t(i)])
                pixel = geoCoding.GeoToPixel(*positions[std::size_t(i)]);
            success[i] = pixel && std::isfinite(pixel->x()) && std::isfinite(pixel->y());
            if (success[i]) {
                x[i] = pixel->x() / transformer.m_dSourceRatioX;
                y[i] = pixel->y() / transformer.m_dSourceRatioY;
            }
        }
        return TRUE;
    }
    auto positions = std::vector<std::optional<GeoPosition>>(static_cast<std::size_t>(count));
    {
        std::lock_guard lock(transformer.m_pShared->m_Mutex);
        for (int i = 0; i < count; ++i)
            positions[std::size_t(i)] =
                geoCoding.PixelToGeo(x[i] * transformer.m_dSourceRatioX, y[i] * transformer.m_dSourceRatioY);
    }
    for (int i = 0; i < count; ++i) {
        std::optional<QPointF> xy;
        if (positions[std::size_t(i)])
            xy = transformer.m_Conversion->ToFit(*positions[std::size_t(i)]);
        success[i] = xy && std::isfinite(xy->x()) && std::isfinite(xy->y());
        if (!success[i])
            continue;
        x[i] = xy->x();
        y[i] = xy->y();
        if (transformer.m_bHasGrid)
            GDALApplyGeoTransform(transformer.m_InverseGeoTransform, xy->x(), xy->y(), &x[i], &y[i]);
    }
    return TRUE;
}

void DestroyTransformer(void* arg)
{
    delete static_cast<RectifyTransformer*>(arg);
}

/// The same transformer for a reduced copy of the picture, ratio picture pixels to one of its
/// (1 when the warper gives each of its threads a transformer of its own), with a PROJ
/// conversion of its own.
void* CreateSimilarTransformer(void* arg, double ratioX, double ratioY)
{
    const auto& original = *static_cast<RectifyTransformer*>(arg);
    RectifyTransformer* similar = NewTransformer(original.m_pShared, original.m_Target);
    if (!similar)
        return nullptr;
    if (original.m_bHasGrid)
        SetGrid(*similar, original.m_GeoTransform);
    similar->m_dSourceRatioX = original.m_dSourceRatioX * ratioX;
    similar->m_dSourceRatioY = original.m_dSourceRatioY * ratioY;
    return similar;
}

struct DatasetCloser {
    void operator()(GDALDataset* dataset) const { GDALClose(GDALDataset::ToHandle(dataset)); }
};
using DatasetPtr = std::unique_ptr<GDALDataset, DatasetCloser>;

struct TransformerDestroyer {
    void operator()(void* transformer) const { GDALDestroyTransformer(transformer); }
};
using TransformerPtr = std::unique_ptr<void, TransformerDestroyer>;

/// The picture's own memory as a GDAL dataset of red, green and blue bands: stored rows run
/// bottom-up, so each band starts at the last stored row and steps back a row at a time.
DatasetPtr WrapPicture(const DIBSection& picture)
{
    DatasetPtr dataset(MEMDataset::Create("", picture.m_nWidth, picture.m_nHeight, 0, GDT_Byte, nullptr));
    if (!dataset)
        return nullptr;
    auto* memory = static_cast<MEMDataset*>(dataset.get());
    GByte* topRow = picture.StoredRow(picture.m_nHeight - 1);
    static constexpr GDALColorInterp kColours[] = {GCI_RedBand, GCI_GreenBand, GCI_BlueBand};
    for (int band = 0; band < 3; ++band) {
        // Pixels are stored blue, green, red.
        memory->AddMEMBand(MEMCreateRasterBandEx(memory, band + 1, topRow + (2 - band), GDT_Byte, 3,
                                                 -picture.RowBytes(), FALSE));
        memory->GetRasterBand(band + 1)->SetColorInterpretation(kColours[band]);
    }
    return dataset;
}

GDALResampleAlg GdalResampling(RectifyResampling resampling)
{
    switch (resampling) {
    case RectifyResampling::Near:
        return GRA_NearestNeighbour;
    case RectifyResampling::Bilinear:
        return GRA_Bilinear;
    case RectifyResampling::Cubic:
        return GRA_Cubic;
    case RectifyResampling::Lanczos:
        return GRA_Lanczos;
    }
    return GRA_Bilinear;
}

struct ProgressBridge {
    Progress m_Progress;
};

int CPL_STDCALL ReportProgress(double fraction, const char* /*message*/, void* data)
{
    return static_cast<ProgressBridge*>(data)->m_Progress.Report(fraction, 1.0) ? TRUE : FALSE;
}

QString GdalFailure()
{
    const QString reason = QString::fromUtf8(CPLGetLastErrorMsg()).trimmed();
    return reason.isEmpty() ? QStringLiteral("The rectified map could not be written.")
                            : QStringLiteral("The rectified map could not be written: %1").arg(reason);
}

/// The mask polygon from WKT or GeoJSON text; nothing, with the refusal, for anything else.
OGRGeometryH ParseMask(const QString& text, QString& refusal)
{
    QByteArray utf8 = text.trimmed().toUtf8();
    OGRGeometryH geometry = nullptr;
    if (utf8.startsWith('{')) {
        // A GeoJSON feature, as drawing programs save one, carries the polygon as its geometry.
        const QJsonObject object = QJsonDocument::fromJson(utf8).object();
        if (object.value(QLatin1String("type")).toString() == QLatin1String("Feature"))
            utf8 = QJsonDocument(object.value(QLatin1String("geometry")).toObject()).toJson(QJsonDocument::Compact);
        geometry = OGR_G_CreateGeometryFromJson(utf8.constData());
    } else {
        char* wkt = const_cast<char*>(utf8.constData());
        if (OGR_G_CreateFromWkt(&wkt, nullptr, &geometry) != OGRERR_NONE)
            geometry = nullptr;
    }
    const OGRwkbGeometryType type = geometry ? wkbFlatten(OGR_G_GetGeometryType(geometry)) : wkbUnknown;
    if (type != wkbPolygon && type != wkbMultiPolygon) {
        if (geometry)
            OGR_G_DestroyGeometry(geometry);
        refusal = QStringLiteral("The mask is not a polygon.");
        return nullptr;
    }
    return geometry;
}

/// Reduced copies at halves, quarters, ... while the smaller copy keeps 256 pixels on its longer
/// side, as the other GeoTIFFs Varnel writes have them.
std::vector<int> OverviewLevels(int width, int height)
{
    std::vector<int> levels;
    for (int level = 2; std::max(width, height) / level >= 256; level *= 2)
        levels.push_back(level);
    return levels;
}

/// The target system's definition for GDAL, longitude (easting) first as the transformer has it.
OGRSpatialReferenceH TargetSpatialReference(const FitCrs& target)
{
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    if (OSRSetFromUserInput(srs, target.Definition().toUtf8().constData()) != OGRERR_NONE) {
        OSRDestroySpatialReference(srs);
        return nullptr;
    }
    OSRSetAxisMappingStrategy(srs, OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}


/// What a rectification needs before its grid is settled: the target system, the picture as a
/// dataset, the exact transformer between them, and the grid gdalwarp would choose (the map's
/// whole extent at its own resolution).
struct WarpSetup {
    FitCrs m_Target;
    std::unique_ptr<void, void (*)(void*)> m_Srs{nullptr, [](void* s) { OSRDestroySpatialReference(s); }};
    std::unique_ptr<SharedGeoCoding> m_pShared = std::make_unique<SharedGeoCoding>();
    TransformerPtr m_Exact;
    DatasetPtr m_Source;
    double m_GeoTransform[6] = {};
    double m_Extent[4] = {}; ///< xmin, ymin, xmax, ymax
    int m_nWidth = 0;
    int m_nHeight = 0;

    RectifyTransformer& Exact() const { return *static_cast<RectifyTransformer*>(m_Exact.get()); }
};

/// Sets the warp up for the picture into the system crsText; nothing, with the refusal, when the
/// picture is empty, PROJ does not know the system or the map has no extent in it.
std::unique_ptr<WarpSetup> SetUpWarp(const DIBSection& picture, const GeoCoding& geoCoding, const QString& crsText,
                                     QString& refusal)
{
    if (!picture.m_pBits || picture.m_nBitCount != 24 || picture.m_nWidth <= 0 || picture.m_nHeight <= 0) {
        refusal = QStringLiteral("The map has no pixels to rectify.");
        return nullptr;
    }
    RegisterGdal();
    auto target = FitCrs::Parse(crsText, &refusal);
    if (!target)
        return nullptr;
    if (target->GetKind() == FitCrs::Kind::Utm) {
        const auto centre = geoCoding.PixelToGeo(picture.m_nWidth / 2.0, picture.m_nHeight / 2.0);
        if (centre)
            target = target->Resolved({*centre});
    }
    auto setup = std::make_unique<WarpSetup>();
    setup->m_Target = *target;
    setup->m_pShared->m_pGeoCoding = &geoCoding;
    setup->m_Srs.reset(TargetSpatialReference(*target));
    setup->m_Exact.reset(NewTransformer(setup->m_pShared.get(), *target, &refusal));
    if (!setup->m_Exact || !setup->m_Srs) {
        if (refusal.isEmpty())
            refusal = QStringLiteral("The coordinate system \"%1\" is not one PROJ knows.").arg(DisplayText(crsText, 80));
        return nullptr;
    }
    setup->m_Source = WrapPicture(picture);
    if (!setup->m_Source) {
        refusal = GdalFailure();
        return nullptr;
    }
    if (GDALSuggestedWarpOutput2(GDALDataset::ToHandle(setup->m_Source.get()), TransformPoints, setup->m_Exact.get(),
                                 setup->m_GeoTransform, &setup->m_nWidth, &setup->m_nHeight, setup->m_Extent,
                                 0) != CE_None) {
        refusal = QStringLiteral("The map cannot be shown in %1.").arg(target->Text());
        return nullptr;
    }
    return setup;
}

/// Warps the picture's red, green and blue into bands 1 to 3 of output on the setup's grid, on
/// all cores, the exact transformer taken at a few points per row and linear between them
/// within an eighth of a pixel, as gdalwarp does. Pixels the map does not reach get initial,
/// or 0 in the alpha band when there is one (alphaBand 0 for none). Takes the setup's
/// transformer; false on failure or Cancel.
bool Warp(WarpSetup& setup, GDALDatasetH output, int alphaBand, int initial, RectifyResampling resampling,
          OGRGeometryH mask, const Progress& progress)
{
    SetGrid(setup.Exact(), setup.m_GeoTransform);
    GDALWarpOptions* warp = GDALCreateWarpOptions();
    warp->hSrcDS = GDALDataset::ToHandle(setup.m_Source.get());
    warp->hDstDS = output;
    warp->nBandCount = 3;
    warp->panSrcBands = static_cast<int*>(CPLMalloc(3 * sizeof(int)));
    warp->panDstBands = static_cast<int*>(CPLMalloc(3 * sizeof(int)));
    for (int band = 0; band < 3; ++band)
        warp->panSrcBands[band] = warp->panDstBands[band] = band + 1;
    warp->nDstAlphaBand = alphaBand;
    warp->eResampleAlg = GdalResampling(resampling);
    // Chunks of at most 24 MB rather than the warper's 64: buffers under the C library's 32 MB
    // ceiling for fresh mappings are reused from chunk to chunk instead of being mapped and zeroed
    // anew, which saved about a seventh of the page faults and 50 MB of peak memory on a
    // 10000 x 8000 map, at no cost in time.
    warp->dfWarpMemoryLimit = 24.0 * 1024 * 1024;
    warp->hCutline = mask;
    warp->papszWarpOptions = CSLSetNameValue(warp->papszWarpOptions, "NUM_THREADS", "ALL_CPUS");
    warp->papszWarpOptions = CSLSetNameValue(warp->papszWarpOptions, "INIT_DEST", std::to_string(initial).c_str());
    warp->pTransformerArg = GDALCreateApproxTransformer(TransformPoints, setup.m_Exact.release(), 0.125);
    GDALApproxTransformerOwnsSubtransformer(warp->pTransformerArg, TRUE);
    warp->pfnTransformer = GDALApproxTransform;
    ProgressBridge bridge{progress};
    warp->pfnProgress = ReportProgress;
    warp->pProgressArg = &bridge;

    bool warped = false;
    {
        GDALWarpOperation operation;
        warped = operation.Initialize(warp) == CE_None &&
                 operation.ChunkAndWarpMulti(0, 0, GDALGetRasterXSize(output), GDALGetRasterYSize(output)) == CE_None;
    }
    GDALDestroyTransformer(warp->pTransformerArg);
    warp->pTransformerArg = nullptr;
    GDALDestroyWarpOptions(warp); // the cutline with it
    return warped;
}

} // namespace

std::optional<RectifyResampling> ParseResampling(const QString& text)
{
    static const std::pair<const char*, RectifyResampling> kNames[] = {{"near", RectifyResampling::Near},
                                                                        {"bilinear", RectifyResampling::Bilinear},
                                                                        {"cubic", RectifyResampling::Cubic},
                                                                        {"lanczos", RectifyResampling::Lanczos}};
    for (const auto& [name, resampling] : kNames)
        if (text == QLatin1String(name))
            return resampling;
    return std::nullopt;
}

namespace {

/// The grid the user asked for, as gdalwarp takes -te and -tr over the grid it suggests: an
/// extent keeps the map's resolution nearest to filling it, a resolution keeps the extent's
/// top-left corner. False, with why, for an extent that misses the map, a resolution that is not
/// positive or a grid too large to count.
bool ChooseGrid(WarpSetup& setup, const RectifyOptions& options, QString& refusal)
{
    double* geoTransform = setup.m_GeoTransform;
    double xRes = geoTransform[1], yRes = std::fabs(geoTransform[5]);
    double minX = setup.m_Extent[0], minY = setup.m_Extent[1], maxX = setup.m_Extent[2], maxY = setup.m_Extent[3];
    if (options.m_Extent) {
        const auto& e = *options.m_Extent;
        if (!(e[0] < e[2] && e[1] < e[3]) || e[2] <= minX || e[0] >= maxX || e[3] <= minY || e[1] >= maxY) {
            refusal = QStringLiteral("The extent misses the map.");
            return false;
        }
        minX = e[0], minY = e[1], maxX = e[2], maxY = e[3];
    }
    if (options.m_Resolution) {
        xRes = (*options.m_Resolution)[0];
        yRes = (*options.m_Resolution)[1];
    }
    if (!options.m_Extent && !options.m_Resolution)
        return true;
    if (!(xRes > 0 && yRes > 0)) {
        refusal = QStringLiteral("The resolution must be positive.");
        return false;
    }
    const double columns = std::max(1.0, std::floor((maxX - minX) / xRes + 0.5));
    const double rows = std::max(1.0, std::floor((maxY - minY) / yRes + 0.5));
    if (columns * rows * 4 > double(INT64_MAX) / 2 || columns > INT_MAX || rows > INT_MAX) {
        refusal = MemoryShortfallText(INT64_MAX / 2, AvailableMemoryBytes());
        return false;
    }
    setup.m_nWidth = int(columns);
    setup.m_nHeight = int(rows);
    if (options.m_Extent && !options.m_Resolution) {
        // The whole extent, at the resolution nearest the map's own that fills it.
        xRes = (maxX - minX) / setup.m_nWidth;
        yRes = (maxY - minY) / setup.m_nHeight;
    } else if (!options.m_Extent) {
        maxX = minX + setup.m_nWidth * xRes;
        minY = maxY - setup.m_nHeight * yRes;
    }
    const double grid[6] = {minX, xRes, 0.0, maxY, 0.0, -yRes};
    std::memcpy(geoTransform, grid, sizeof grid);
    return true;
}

} // namespace

RectifyResult RectifyMap(const DIBSection& picture, const GeoCoding& geoCoding, const RectifyOptions& options,
                         const QString& path, const Progress& progress)
{
    RectifyResult result;
    const QuietGdal quiet;
    const std::unique_ptr<WarpSetup> setup = SetUpWarp(picture, geoCoding, options.m_strCrs, result.m_strRefusal);
    if (!setup)
        return result;
    if (!ChooseGrid(*setup, options, result.m_strRefusal))
        return result;
    const int width = setup->m_nWidth, height = setup->m_nHeight;
    double* geoTransform = setup->m_GeoTransform;
    // The warper streams the grid in chunks, but building overviews and reading the file back
    // need its pixels in memory: a grid larger than the machine is refused before anything is made.
    if (const auto shortfall = CheckMemory(CheckedProduct(width, height, 4).value_or(-1))) {
        result.m_strRefusal = *shortfall;
        return result;
    }
    OGRGeometryH mask = nullptr;
    if (!options.m_strMask.trimmed().isEmpty() && !(mask = ParseMask(options.m_strMask, result.m_strRefusal)))
        return result;

    // Written under a temporary name beside the target, which GDAL creates with the permissions
    // any new file of the user's gets, and renamed when complete.
    static std::atomic<int> serial{0};
    const QFileInfo info(path);
    const QByteArray temporary = QFile::encodeName(QDir(info.absolutePath()).filePath(
        QStringLiteral(".%1.%2-%3.partial").arg(info.fileName()).arg(::getpid()).arg(serial++)));
    auto removeTemporary = [&temporary] { ::unlink(temporary.constData()); };

    // Tiles are compressed on all cores too: the grid stays in GDAL's block cache until the
    // overviews are built from it, and then one core compressed all of it, a ninth of the whole
    // write of a 10000 x 8000 map.
    CPLStringList createOptions;
    for (const char* option :
         {"TILED=YES", "COMPRESS=DEFLATE", "PHOTOMETRIC=RGB", "ALPHA=YES", "BIGTIFF=IF_SAFER", "NUM_THREADS=ALL_CPUS"})
        createOptions.AddString(option);
    GDALDriverH gtiff = GDALGetDriverByName("GTiff");
    DatasetPtr output(GDALDataset::FromHandle(
        GDALCreate(gtiff, temporary.constData(), width, height, 4, GDT_Byte, const_cast<char**>(createOptions.List()))));
    if (!output) {
        if (mask)
            OGR_G_DestroyGeometry(mask);
        result.m_strRefusal = GdalFailure();
        removeTemporary();
        return result;
    }
    output->SetGeoTransform(geoTransform);
    output->SetSpatialRef(OGRSpatialReference::FromHandle(setup->m_Srs.get()));
    output->GetRasterBand(4)->SetColorInterpretation(GCI_AlphaBand);

    bool written = Warp(*setup, GDALDataset::ToHandle(output.get()), 4, 0, options.m_eResampling, mask,
                        progress.Part(0.0, 0.8));
    if (written) {
        std::vector<int> levels = OverviewLevels(width, height);
        ProgressBridge overviewProgress{progress.Part(0.8, 1.0)};
        // The reduced copies are computed on all cores as well; set for this thread alone, so
        // that nothing else the process runs meanwhile is affected.
        CPLConfigOptionSetter threads("GDAL_NUM_THREADS", "ALL_CPUS", true);
        written = levels.empty() || GDALBuildOverviews(GDALDataset::ToHandle(output.get()), "AVERAGE", int(levels.size()),
                                                       levels.data(), 0, nullptr, ReportProgress,
                                                       &overviewProgress) == CE_None;
    }
    const QString failure = GdalFailure();
    output.reset();
    if (progress.Cancelled()) {
        removeTemporary();
        result.m_bCancelled = true;
        return result;
    }
    if (!written || std::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        result.m_strRefusal = written ? QStringLiteral("The rectified map could not be written: %1")
                                            .arg(QString::fromLocal8Bit(std::strerror(errno)))
                                      : failure;
        removeTemporary();
        return result;
    }
    result.m_Grid = RectifiedGrid{options.m_strCrs, {}, width, height};
    std::copy(geoTransform, geoTransform + 6, result.m_Grid->m_GeoTransform.begin());
    return result;
}

RectifiedPicture RectifyToLatLong(const DIBSection& picture, const GeoCoding& geoCoding, RectifyResampling resampling,
                                  const Progress& progress)
{
    RectifiedPicture result;
    const QuietGdal quiet;
    const std::unique_ptr<WarpSetup> setup =
        SetUpWarp(picture, geoCoding, QStringLiteral("EPSG:4326"), result.m_strRefusal);
    if (!setup)
        return result;
    const int width = setup->m_nWidth, height = setup->m_nHeight;
    // Rows padded to whole 4-byte words, as every 24-bit picture is held.
    if (const auto shortfall = CheckMemory(CheckedProduct((std::int64_t(width) + 3) / 4 * 4, height, 3).value_or(-1))) {
        result.m_strRefusal = *shortfall;
        return result;
    }
    DIBSection& rectified = result.m_Picture;
    rectified.Create(24, width, height);
    if (!rectified.m_pBits) {
        result.m_strRefusal = OutOfMemoryText();
        return result;
    }
    // The warper writes straight into the picture's memory.
    const DatasetPtr output = WrapPicture(rectified);
    bool warped = output && Warp(*setup, GDALDataset::ToHandle(output.get()), 0, 255, resampling, nullptr, progress);
    if (progress.Cancelled() || !warped) {
        result.m_bCancelled = progress.Cancelled();
        if (!result.m_bCancelled)
            result.m_strRefusal = GdalFailure();
        rectified.Release();
        return result;
    }
    result.m_dWest = setup->m_GeoTransform[0];
    result.m_dNorth = setup->m_GeoTransform[3];
    result.m_dDegreesPerColumn = setup->m_GeoTransform[1];
    result.m_dDegreesPerRow = -setup->m_GeoTransform[5];
    return result;
}
