#include "formats/Rectify.h"

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

void RegisterGdal()
{
    static std::once_flag once;
    std::call_once(once, [] {
        GDALAllRegister();
    });
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

RectifyResult RectifyMap(const DIBSection& picture, const GeoCoding& geoCoding, const RectifyOptions& options,
                         const QString& path, const Progress& progress)
{
    RectifyResult result;
    if (!picture.m_pBits || picture.m_nBitCount != 24 || picture.m_nWidth <= 0 || picture.m_nHeight <= 0) {
        result.m_strRefusal = QStringLiteral("The map has no pixels to rectify.");
        return result;
    }
    RegisterGdal();
    // GDAL's messages become the refusal's reason instead of lines on the terminal.
    CPLPushErrorHandler(CPLQuietErrorHandler);
    std::unique_ptr<void, void (*)(void*)> quiet(reinterpret_cast<void*>(1), [](void*) { CPLPopErrorHandler(); });
    CPLErrorReset();

    auto target = FitCrs::Parse(options.m_strCrs, &result.m_strRefusal);
    if (!target)
        return result;
    if (target->GetKind() == FitCrs::Kind::Utm) {
        const auto centre = geoCoding.PixelToGeo(picture.m_nWidth / 2.0, picture.m_nHeight / 2.0);
        if (centre)
            target = target->Resolved({*centre});
    }
    OGRSpatialReferenceH srs = TargetSpatialReference(*target);
    SharedGeoCoding shared;
    shared.m_pGeoCoding = &geoCoding;
    RectifyTransformer* exact = NewTransformer(&shared, *target, &result.m_strRefusal);
    if (!exact || !srs) {
        if (srs)
            OSRDestroySpatialReference(srs);
        delete exact;
        if (result.m_strRefusal.isEmpty())
            result.m_strRefusal = QStringLiteral("The coordinate system \"%1\" is not one PROJ knows.")
                                      .arg(DisplayText(options.m_strCrs, 80));
        return result;
    }
    std::unique_ptr<void, void (*)(void*)> srsOwner(srs, [](void* s) { OSRDestroySpatialReference(s); });
    TransformerPtr exactOwner(exact);

    DatasetPtr source = WrapPicture(picture);
    if (!source) {
        result.m_strRefusal = GdalFailure();
        return result;
    }

    // The grid gdalwarp would choose: the map's whole extent at its own resolution.
    double geoTransform[6];
    double extent[4];
    int width = 0, height = 0;
    if (GDALSuggestedWarpOutput2(GDALDataset::ToHandle(source.get()), TransformPoints, exact, geoTransform, &width,
                                 &height, extent, 0) != CE_None) {
        result.m_strRefusal = QStringLiteral("The map cannot be shown in %1.").arg(target->Text());
        return result;
    }
    double xRes = geoTransform[1], yRes = std::fabs(geoTransform[5]);
    double minX = extent[0], minY = extent[1], maxX = extent[2], maxY = extent[3];
    if (options.m_Extent) {
        const auto& e = *options.m_Extent;
        if (!(e[0] < e[2] && e[1] < e[3]) || e[2] <= minX || e[0] >= maxX || e[3] <= minY || e[1] >= maxY) {
            result.m_strRefusal = QStringLiteral("The extent misses the map.");
            return result;
        }
        minX = e[0], minY = e[1], maxX = e[2], maxY = e[3];
    }
    if (options.m_Resolution) {
        xRes = (*options.m_Resolution)[0];
        yRes = (*options.m_Resolution)[1];
    }
    if (options.m_Extent || options.m_Resolution) {
        if (!(xRes > 0 && yRes > 0)) {
            result.m_strRefusal = QStringLiteral("The resolution must be positive.");
            return result;
        }
        const double columns = std::max(1.0, std::floor((maxX - minX) / xRes + 0.5));
        const double rows = std::max(1.0, std::floor((maxY - minY) / yRes + 0.5));
        if (columns * rows * 4 > double(INT64_MAX) / 2 || columns > INT_MAX || rows > INT_MAX) {
            result.m_strRefusal = MemoryShortfallText(INT64_MAX / 2, AvailableMemoryBytes());
            return result;
        }
        width = int(columns);
        height = int(rows);
        if (options.m_Extent && !options.m_Resolution) {
            // The whole extent, at the resolution nearest the map's own that fills it.
            xRes = (maxX - minX) / width;
            yRes = (maxY - minY) / height;
        } else if (!options.m_Extent) {
            maxX = minX + width * xRes;
            minY = maxY - height * yRes;
        }
        const double grid[6] = {minX, xRes, 0.0, maxY, 0.0, -yRes};
        std::memcpy(geoTransform, grid, sizeof grid);
    }
    // The warper streams the grid in chunks, but building overviews and reading the file back
    // need its pixels in memory: a grid larger than the machine is refused before anything is made.
    if (const auto shortfall = CheckMemory(CheckedProduct(width, height, 4).value_or(-1))) {
        result.m_strRefusal = *shortfall;
        return result;
    }
    OGRGeometryH mask = nullptr;
    if (!options.m_strMask.trimmed().isEmpty() && !(mask = ParseMask(options.m_strMask, result.m_strRefusal)))
        return result;
    SetGrid(*exact, geoTransform);

    // Written under a temporary name beside the target, which GDAL creates with the permissions
    // any new file of the user's gets, and renamed when complete.
    static std::atomic<int> serial{0};
    const QFileInfo info(path);
    const QByteArray temporary = QFile::encodeName(QDir(info.absolutePath()).filePath(
        QStringLiteral(".%1.%2-%3.partial").arg(info.fileName()).arg(::getpid()).arg(serial++)));
    auto removeTemporary = [&temporary] { ::unlink(temporary.constData()); };

    CPLStringList createOptions;
    for (const char* option : {"TILED=YES", "COMPRESS=DEFLATE", "PHOTOMETRIC=RGB", "ALPHA=YES", "BIGTIFF=IF_SAFER"})
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
    output->SetSpatialRef(OGRSpatialReference::FromHandle(srs));
    output->GetRasterBand(4)->SetColorInterpretation(GCI_AlphaBand);

    GDALWarpOptions* warp = GDALCreateWarpOptions();
    warp->hSrcDS = GDALDataset::ToHandle(source.get());
    warp->hDstDS = GDALDataset::ToHandle(output.get());
    warp->nBandCount = 3;
    warp->panSrcBands = static_cast<int*>(CPLMalloc(3 * sizeof(int)));
    warp->panDstBands = static_cast<int*>(CPLMalloc(3 * sizeof(int)));
    for (int band = 0; band < 3; ++band)
        warp->panSrcBands[band] = warp->panDstBands[band] = band + 1;
    warp->nDstAlphaBand = 4;
    warp->eResampleAlg = GdalResampling(options.m_eResampling);
    warp->hCutline = mask;
    warp->papszWarpOptions = CSLSetNameValue(warp->papszWarpOptions, "NUM_THREADS", "ALL_CPUS");
    warp->papszWarpOptions = CSLSetNameValue(warp->papszWarpOptions, "INIT_DEST", "0");
    // As gdalwarp does: the exact transformer at a few points per row, linear between them
    // within an eighth of a pixel.
    warp->pTransformerArg = GDALCreateApproxTransformer(TransformPoints, exactOwner.release(), 0.125);
    GDALApproxTransformerOwnsSubtransformer(warp->pTransformerArg, TRUE);
    warp->pfnTransformer = GDALApproxTransform;
    ProgressBridge warpProgress{progress.Part(0.0, 0.8)};
    warp->pfnProgress = ReportProgress;
    warp->pProgressArg = &warpProgress;

    bool written = false;
    {
        GDALWarpOperation operation;
        written = operation.Initialize(warp) == CE_None &&
                  operation.ChunkAndWarpMulti(0, 0, width, height) == CE_None;
    }
    GDALDestroyTransformer(warp->pTransformerArg);
    warp->pTransformerArg = nullptr;
    GDALDestroyWarpOptions(warp);

    if (written) {
        std::vector<int> levels = OverviewLevels(width, height);
        ProgressBridge overviewProgress{progress.Part(0.8, 1.0)};
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
    std::copy(std::begin(geoTransform), std::end(geoTransform), result.m_Grid->m_GeoTransform.begin());
    return result;
}
