#include "formats/ReferenceData.h"

#include "formats/GdalSupport.h"
#include "platform/DisplayText.h"

#include <QFile>
#include <QFileInfo>

#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_geometry.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <cmath>
#include <memory>

namespace {

struct DatasetCloser {
    void operator()(GDALDataset* dataset) const { GDALClose(GDALDataset::ToHandle(dataset)); }
};
using DatasetPtr = std::unique_ptr<GDALDataset, DatasetCloser>;

QString GdalReason()
{
    const QString reason = QString::fromUtf8(CPLGetLastErrorMsg()).trimmed();
    return reason.isEmpty() ? QStringLiteral("GDAL cannot read it") : reason;
}

/// The system for PROJ, as one line of WKT; nothing, with why, when PROJ cannot convert it.
std::optional<FitCrs> SystemOf(const OGRSpatialReference& srs, QString& refusal)
{
    char* wkt = nullptr;
    const char* const options[] = {"FORMAT=WKT2_2019", "MULTILINE=NO", nullptr};
    if (srs.exportToWkt(&wkt, options) != OGRERR_NONE || !wkt) {
        CPLFree(wkt);
        refusal = QStringLiteral("its coordinate system cannot be written for PROJ");
        return std::nullopt;
    }
    const QString text = QString::fromUtf8(wkt);
    CPLFree(wkt);
    QString why;
    std::optional<FitCrs> crs = FitCrs::Parse(text, &why);
    if (!crs)
        refusal = QStringLiteral("its coordinate system is not one PROJ can convert to WGS 84");
    return crs;
}

/// The system of a raster that has none of its own but a world file: the ".prj" beside it.
/// Nothing, with why, when there is none or PROJ does not know the one there.
std::optional<OGRSpatialReference> SidecarSystem(const QString& path, QString& refusal)
{
    const QFileInfo info(path);
    for (const QString& name : {info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".prj"),
                                path + QStringLiteral(".prj")}) {
        if (!QFileInfo::exists(name))
            continue;
        // ESRI's WKT, as GIS programs write it, over several lines or one; else its older
        // keyword form.
        OGRSpatialReference srs;
        QFile file(name);
        const QByteArray text = file.open(QIODevice::ReadOnly) ? file.read(1 << 20).simplified() : QByteArray();
        OGRErr error = text.isEmpty() ? OGRERR_FAILURE : srs.importFromWkt(text.constData());
        if (error != OGRERR_NONE) {
            char** lines = CSLLoad(name.toUtf8().constData());
            error = lines ? srs.importFromESRI(lines) : OGRERR_FAILURE;
            CSLDestroy(lines);
        }
        if (error == OGRERR_NONE && !srs.IsEmpty())
            return srs;
        refusal = QStringLiteral("%1 beside it holds no coordinate system PROJ knows").arg(QFileInfo(name).fileName());
        return std::nullopt;
    }
    refusal = QStringLiteral("it has a georeference but no coordinate system: put the system in a .prj file beside it");
    return std::nullopt;
}

/// The raster's picture at most maxSide pixels on its longer side, in its own colours.
QImage ReadPicture(GDALDataset& dataset, int maxSide, QString& refusal)
{
    const int width = dataset.GetRasterXSize();
    const int height = dataset.GetRasterYSize();
    const double scale = std::min(1.0, static_cast<double>(maxSide) / std::max(width, height));
    const int outWidth = std::max(1, static_cast<int>(std::lround(width * scale)));
    const int outHeight = std::max(1, static_cast<int>(std::lround(height * scale)));
    const int bands = dataset.GetRasterCount();
    GDALRasterBand* first = dataset.GetRasterBand(1);
    const GDALColorTable* palette = first->GetColorTable();

    QImage image;
    CPLErr error = CE_None;
    if (bands < 3 && palette) {
        image = QImage(outWidth, outHeight, QImage::Format_Indexed8);
        QList<QRgb> colours;
        for (int k = 0; k < std::min(256, palette->GetColorEntryCount()); ++k) {
            const GDALColorEntry* entry = palette->GetColorEntry(k);
            colours.append(qRgb(entry->c1, entry->c2, entry->c3));
        }
        image.setColorTable(colours);
        error = first->RasterIO(GF_Read, 0, 0, width, height, image.bits(), outWidth, outHeight, GDT_Byte, 1,
                                image.bytesPerLine(), nullptr);
    } else {
        image = QImage(outWidth, outHeight, QImage::Format_RGB32);
        image.fill(Qt::black);
        // RGB32 keeps blue, green and red in its first three bytes; a grey raster fills all three.
        int bandMap[3] = {3, 2, 1};
        if (bands < 3)
            bandMap[0] = bandMap[1] = bandMap[2] = 1;
        error = dataset.RasterIO(GF_Read, 0, 0, width, height, image.bits(), outWidth, outHeight, GDT_Byte, 3,
                                 bandMap, 4, image.bytesPerLine(), 1, nullptr);
    }
    if (error != CE_None) {
        refusal = QStringLiteral("its pixels cannot be read: %1").arg(GdalReason());
        return {};
    }
    return image;
}

Parsed<ReferenceData> ReadRaster(GDALDataset& dataset, ReferenceData data, int maxSide)
{
    std::array<double, 6> gt{};
    const bool georeferenced = dataset.GetGeoTransform(gt.data()) == CE_None &&
                               !(gt[0] == 0 && gt[1] == 1 && gt[2] == 0 && gt[3] == 0 && gt[4] == 0 && gt[5] == 1);
    if (!georeferenced || gt[1] * gt[5] - gt[2] * gt[4] == 0)
        return Parsed<ReferenceData>::Refused(QStringLiteral("it has no georeference (no geotransform and no world file)"));
    QString refusal;
    std::optional<OGRSpatialReference> srs;
    if (const OGRSpatialReference* own = dataset.GetSpatialRef())
        srs = *own;
    else
        srs = SidecarSystem(data.m_strPath, refusal);
    if (!srs)
        return Parsed<ReferenceData>::Refused(refusal);
    std::optional<FitCrs> crs = SystemOf(*srs, refusal);
    if (!crs)
        return Parsed<ReferenceData>::Refused(refusal);
    data.m_Crs = *crs;
    data.m_bRaster = true;
    data.m_Image = ReadPicture(dataset, maxSide, refusal);
    if (data.m_Image.isNull())
        return Parsed<ReferenceData>::Refused(refusal);
    const int width = dataset.GetRasterXSize();
    const int height = dataset.GetRasterYSize();
    const double sx = static_cast<double>(width) / data.m_Image.width();
    const double sy = static_cast<double>(height) / data.m_Image.height();
    data.m_GeoTransform = {gt[0], gt[1] * sx, gt[2] * sy, gt[3], gt[4] * sx, gt[5] * sy};
    double xs[4], ys[4];
    int k = 0;
    for (const double column : {0.0, static_cast<double>(width)})
        for (const double row : {0.0, static_cast<double>(height)}) {
            xs[k] = gt[0] + column * gt[1] + row * gt[2];
            ys[k++] = gt[3] + column * gt[4] + row * gt[5];
        }
    data.m_Extent = {*std::min_element(xs, xs + 4), *std::min_element(ys, ys + 4), *std::max_element(xs, xs + 4),
                     *std::max_element(ys, ys + 4)};
    return data;
}

/// Appends the geometry's lines and points as shapes; false, with why, for a coordinate that is
/// not a number.
bool AppendShapes(const OGRGeometry& geometry, std::vector<OverlayShape>& shapes, qsizetype& vertices)
{
    const OGRwkbGeometryType type = wkbFlatten(geometry.getGeometryType());
    if (OGR_GT_IsSubClassOf(type, wkbGeometryCollection)) {
        for (const OGRGeometry* part : *geometry.toGeometryCollection())
            if (!AppendShapes(*part, shapes, vertices))
                return false;
        return true;
    }
    if (OGR_GT_IsSubClassOf(type, wkbCurvePolygon)) {
        std::unique_ptr<OGRGeometry> linear(geometry.getLinearGeometry());
        for (const OGRLinearRing* ring : *linear->toPolygon())
            if (!AppendShapes(*ring, shapes, vertices))
                return false;
        return true;
    }
    OverlayShape shape;
    if (type == wkbPoint) {
        const OGRPoint* point = geometry.toPoint();
        if (point->IsEmpty())
            return true;
        shape.m_bPoint = true;
        shape.m_Vertices.emplace_back(point->getX(), point->getY());
    } else if (OGR_GT_IsCurve(type)) {
        std::unique_ptr<OGRLineString> line(geometry.toCurve()->CurveToLine());
        for (const OGRPoint& point : *line)
            shape.m_Vertices.emplace_back(point.getX(), point.getY());
    }
    for (const QPointF& vertex : shape.m_Vertices)
        if (!std::isfinite(vertex.x()) || !std::isfinite(vertex.y()))
            return false;
    vertices += static_cast<qsizetype>(shape.m_Vertices.size());
    if (!shape.m_Vertices.empty())
        shapes.push_back(std::move(shape));
    return true;
}

Parsed<ReferenceData> ReadVectors(GDALDataset& dataset, ReferenceData data)
{
    const OGRSpatialReference* firstSrs = nullptr;
    long long unreadable = 0; // features without a geometry, or with one OGR could not read
    for (OGRLayer* layer : dataset.GetLayers()) {
        const OGRSpatialReference* srs = layer->GetSpatialRef();
        if (!srs)
            return Parsed<ReferenceData>::Refused(
                QStringLiteral("its layer %1 has no coordinate system").arg(QString::fromUtf8(layer->GetName())));
        if (!firstSrs) {
            firstSrs = srs;
            QString refusal;
            std::optional<FitCrs> crs = SystemOf(*srs, refusal);
            if (!crs)
                return Parsed<ReferenceData>::Refused(refusal);
            data.m_Crs = *crs;
        }
        // Later layers are drawn in the first one's system.
        OGRSpatialReference target(*firstSrs), source(*srs);
        target.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        source.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        std::unique_ptr<OGRCoordinateTransformation> transform;
        if (!source.IsSame(&target)) {
            transform.reset(OGRCreateCoordinateTransformation(&source, &target));
            if (!transform)
                return Parsed<ReferenceData>::Refused(QStringLiteral("its layer %1 cannot be converted to the first "
                                                                     "layer's coordinate system")
                                                          .arg(QString::fromUtf8(layer->GetName())));
        }
        layer->ResetReading();
        long long number = 0;
        CPLErrorReset();
        for (;;) {
            std::unique_ptr<OGRFeature> feature(layer->GetNextFeature());
            if (CPLGetLastErrorType() == CE_Failure)
                return Parsed<ReferenceData>::Refused(
                    QStringLiteral("its feature %1 cannot be read: %2").arg(number + 1).arg(GdalReason()));
            if (!feature)
                break;
            ++number;
            OGRGeometry* geometry = feature->GetGeometryRef();
            if (!geometry || geometry->IsEmpty()) {
                ++unreadable;
                continue;
            }
            if (transform && geometry->transform(transform.get()) != OGRERR_NONE)
                return Parsed<ReferenceData>::Refused(
                    QStringLiteral("its feature %1 cannot be converted to the first layer's coordinate system").arg(number));
            if (!AppendShapes(*geometry, data.m_Shapes, data.m_nVertices))
                return Parsed<ReferenceData>::Refused(
                    QStringLiteral("its feature %1 has a coordinate that is not a number").arg(number));
            if (data.m_nVertices > kMaxReferenceVertices)
                return Parsed<ReferenceData>::Refused(
                    QStringLiteral("it has more than %1 vertices").arg(kMaxReferenceVertices));
        }
    }
    if (data.m_Shapes.empty())
        return Parsed<ReferenceData>::Refused(
            unreadable ? QStringLiteral("none of its features (%1) has a geometry that can be read").arg(unreadable)
                       : QStringLiteral("it has no lines, polygons or points to draw"));
    data.m_Extent = {HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (const OverlayShape& shape : data.m_Shapes)
        for (const QPointF& vertex : shape.m_Vertices) {
            data.m_Extent[0] = std::min(data.m_Extent[0], vertex.x());
            data.m_Extent[1] = std::min(data.m_Extent[1], vertex.y());
            data.m_Extent[2] = std::max(data.m_Extent[2], vertex.x());
            data.m_Extent[3] = std::max(data.m_Extent[3], vertex.y());
        }
    return data;
}

} // namespace

Parsed<ReferenceData> ReadReference(const QString& path, int maxSide)
{
    RegisterGdal();
    const QuietGdal quiet;
    if (!QFileInfo(path).isFile())
        return Parsed<ReferenceData>::Refused(QStringLiteral("it is not a file"));
    DatasetPtr dataset(GDALDataset::Open(path.toUtf8().constData(), GDAL_OF_RASTER | GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!dataset)
        return Parsed<ReferenceData>::Refused(QStringLiteral("GDAL cannot read it as a map: %1").arg(GdalReason()));
    ReferenceData data;
    data.m_strPath = path;
    if (dataset->GetRasterCount() > 0)
        return ReadRaster(*dataset, std::move(data), maxSide);
    if (dataset->GetLayerCount() > 0)
        return ReadVectors(*dataset, std::move(data));
    return Parsed<ReferenceData>::Refused(QStringLiteral("it holds neither a picture nor vector features"));
}

QPointF ReferenceImageToGround(const ReferenceData& reference, const QPointF& pixel)
{
    const std::array<double, 6>& gt = reference.m_GeoTransform;
    return {gt[0] + pixel.x() * gt[1] + pixel.y() * gt[2], gt[3] + pixel.x() * gt[4] + pixel.y() * gt[5]};
}

QPointF ReferenceGroundToImage(const ReferenceData& reference, const QPointF& ground)
{
    const std::array<double, 6>& gt = reference.m_GeoTransform;
    const double det = gt[1] * gt[5] - gt[2] * gt[4];
    const double dx = ground.x() - gt[0];
    const double dy = ground.y() - gt[3];
    return {(dx * gt[5] - dy * gt[2]) / det, (dy * gt[1] - dx * gt[4]) / det};
}

std::optional<std::array<double, 4>> PictureExtentIn(const FitCrsConversion& conversion, const GeoCoding& coding,
                                                     double width, double height)
{
    constexpr int kSamples = 8;
    std::optional<std::array<double, 4>> extent;
    for (int i = 0; i <= kSamples; ++i)
        for (int j = 0; j <= kSamples; ++j) {
            const std::optional<GeoPosition> at = coding.PixelToGeo(width * i / kSamples, height * j / kSamples);
            const std::optional<QPointF> xy = at ? conversion.ToFit(*at) : std::nullopt;
            if (!xy)
                continue;
            if (!extent)
                extent = std::array<double, 4>{xy->x(), xy->y(), xy->x(), xy->y()};
            auto& [west, south, east, north] = *extent;
            west = std::min(west, xy->x());
            south = std::min(south, xy->y());
            east = std::max(east, xy->x());
            north = std::max(north, xy->y());
        }
    return extent;
}

bool ReferenceOverlaps(const ReferenceData& reference, const GeoCoding& coding, double width, double height)
{
    const std::optional<FitCrsConversion> conversion = FitCrsConversion::Create(reference.m_Crs);
    if (!conversion)
        return true;
    const std::optional<std::array<double, 4>> ground = PictureExtentIn(*conversion, coding, width, height);
    if (!ground)
        return false;
    const std::array<double, 4>& e = reference.m_Extent;
    return (*ground)[0] <= e[2] && (*ground)[2] >= e[0] && (*ground)[1] <= e[3] && (*ground)[3] >= e[1];
}
