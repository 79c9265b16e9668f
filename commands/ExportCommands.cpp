#include "commands/ExportCommands.h"

#include "commands/CommandMessages.h"
#include "commands/FileNaming.h"
#include "commands/RectifyCommand.h"
#include "document/CQuilletDoc.h"
#include "formats/ControlPointFile.h"
#include "formats/FileKinds.h"
#include "formats/GeoTiffWriter.h"
#include "formats/Rectify.h"
#include "formats/WorldFile.h"
#include "geo/GeoTiffFrame.h"
#include "geo/PointEntry.h"
#include "geo/Residuals.h"
#include "imaging/BitmapExport.h"
#include "platform/DisplayText.h"
#include "platform/FileFilter.h"
#include "platform/FileIO.h"
#include "platform/MemoryBudget.h"
#include "platform/UiServices.h"
#include "view/core/ViewState.h"

#include <QFileInfo>
#include <QPainter>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <new>

#include <unistd.h>

namespace {

const QString kInvalidFile = InvalidFileCaption();

/// The part of the picture an export covers, in whole pixels.
struct Extent {
    int m_nLeft = 0;
    int m_nTop = 0;
    int m_nWidth = 0;
    int m_nHeight = 0;
};

/// The whole picture, or the range in whole pixels: it starts where Output A Geo-Map's cut-out
/// starts, rounded to a pixel so that the pixels written and their georeference agree exactly.
std::optional<UiMessage> ExtentOf(const CQuilletDoc& doc, const std::optional<OutputRange>& range, Extent& extent)
{
    extent = {0, 0, doc.ImageWidth(), doc.ImageHeight()};
    if (!range)
        return std::nullopt;
    int w = 0, h = 0;
    if (std::optional<UiMessage> refusal = RangeSize(doc, *range, w, h))
        return refusal;
    extent.m_nLeft = static_cast<int>(std::lround((doc.ImageWidth() - 1) * range->m_dLeft));
    extent.m_nTop = static_cast<int>(std::lround((doc.ImageHeight() - 1) * range->m_dTop));
    extent.m_nWidth = std::min(w, doc.ImageWidth() - extent.m_nLeft);
    extent.m_nHeight = std::min(h, doc.ImageHeight() - extent.m_nTop);
    return std::nullopt;
}

/// The map's georeference over the extent: the GeoTIFF's own, or the model in WGS 84.
std::optional<UiMessage> Georeference(const CQuilletDoc& doc, const Extent& extent, MapCrs& crs,
                                      std::array<double, 6>& gt)
{
    if (doc.HasGeoTiffFrame()) {
        // Every image of the map shares its georeference.
        const GeoTiffInfo& info = *doc.Georeference();
        crs = CrsOfGeoTiff(info);
        gt = GeoTiffGeoTransform(info);
        gt[0] += extent.m_nLeft * gt[1] + extent.m_nTop * gt[2];
        gt[3] += extent.m_nLeft * gt[4] + extent.m_nTop * gt[5];
        return std::nullopt;
    }
    const std::optional<std::array<double, 6>> transform =
        doc.Model().ShiftedForRange(extent.m_nLeft, extent.m_nTop).GeoTransform();
    if (!doc.IsGeoCoded() || !transform)
        return NeedMorePointsMessage();
    crs = Wgs84();
    gt = *transform;
    return std::nullopt;
}

/// The map's pixels as shown at 100%: a TIFF map's current image, a picture drawn at its size.
QImage MapPixels(const CQuilletDoc& doc)
{
    if (doc.IsTiffMap()) {
        const DIBSection* image = doc.CurrentImageSection();
        return image ? RgbImageOf(*image) : QImage();
    }
    if (!doc.Picture().m_pPicture || doc.ImageWidth() <= 0 || doc.ImageHeight() <= 0)
        return {};
    QImage rgb(doc.ImageWidth(), doc.ImageHeight(), QImage::Format_RGB32);
    RequirePixels(rgb);
    rgb.fill(Qt::white); // transparent parts of a picture show as white paper
    QPainter painter(&rgb);
    doc.Picture().Draw(&painter, rgb.rect());
    painter.end();
    return rgb;
}

/// The memory a GeoTIFF export of the extent makes besides the map: a picture drawn at its size
/// at 32 bits (a TIFF map's pixels are read where they are), and the writer's rows of tiles.
std::int64_t GeoTiffExportBytes(const CQuilletDoc& doc, const Extent& extent)
{
    const std::int64_t drawn = doc.IsTiffMap() ? 0 : std::int64_t(doc.ImageWidth()) * doc.ImageHeight() * 4;
    return drawn + GeoTiffWorkingBytes(extent.m_nWidth, extent.m_nHeight);
}

/// The extent's rows as the GeoTIFF writer reads them: from a TIFF map's own image, or from the
/// picture drawn at its size (pixels).
RgbRows ExtentRows(const CQuilletDoc& doc, const Extent& extent, const QImage& pixels)
{
    RgbRows rows{extent.m_nWidth, extent.m_nHeight, {}};
    if (pixels.isNull()) {
        const DIBSection* image = doc.CurrentImageSection();
        rows.m_Read = [image, extent](int y, std::uint8_t* rgb) {
            // Stored rows run bottom-up in blue, green, red.
            const std::uint8_t* from = image->StoredRow(image->m_nHeight - 1 - (extent.m_nTop + y)) + 3 * extent.m_nLeft;
            for (int x = 0; x < extent.m_nWidth; ++x, rgb += 3, from += 3)
                rgb[0] = from[2], rgb[1] = from[1], rgb[2] = from[0];
        };
    } else {
        rows.m_Read = [pixels, extent](int y, std::uint8_t* rgb) {
            const QRgb* from = reinterpret_cast<const QRgb*>(pixels.constScanLine(extent.m_nTop + y)) + extent.m_nLeft;
            for (int x = 0; x < extent.m_nWidth; ++x, rgb += 3)
                rgb[0] = std::uint8_t(qRed(from[x])), rgb[1] = std::uint8_t(qGreen(from[x])), rgb[2] = std::uint8_t(qBlue(from[x]));
        };
    }
    return rows;
}

/// The control points in the pixels of the extent, with their residuals under the map's
/// transformation.
std::vector<ExchangedPoint> PointsOf(const CQuilletDoc& doc, const Extent& extent)
{
    const std::vector<CDataGeo>& points = doc.ControlPoints();
    const ResidualAnalysis analysis = AnalyseResiduals(doc.Choice(), points, doc.ImageWidth(), doc.ImageHeight(), false);
    std::vector<ExchangedPoint> exchanged;
    for (std::size_t i = 0; i < points.size(); ++i) {
        ExchangedPoint p;
        // The degrees as typed, not the arc-seconds' quotient with its last digits.
        p.m_dLatitude = TypedDegrees(points[i].m_dLatitude);
        p.m_dLongitude = TypedDegrees(points[i].m_dLongitude);
        // On a GeoTIFF frame the points, and so the fit's pixels, count in degrees of the frame.
        const CDataGeo place = doc.InPictureFractions(points[i]);
        p.m_dColumn = place.PixelColumn(doc.ImageWidth()) - extent.m_nLeft;
        p.m_dRow = place.PixelRow(doc.ImageHeight()) - extent.m_nTop;
        if (analysis.m_Model) {
            p.m_dDx = analysis.m_Points[i].m_dDx / doc.GeoExtent().m_dLongitude;
            p.m_dDy = analysis.m_Points[i].m_dDy / doc.GeoExtent().m_dLatitude;
        }
        exchanged.push_back(p);
    }
    return exchanged;
}

/// Points spread over the exported picture for a map geo-coded without control points (by its
/// GeoTIFF keys, or read from a projection file), placed by its georeference: a 5 x 5 grid from
/// edge to edge, corners included. That pins the whole picture evenly and is enough for every
/// transformation of QGIS's georeferencer (its third-order polynomial needs 10 points), while
/// staying few enough to read; being exact, the points have no residuals. Map coordinates are in
/// crs, or with toWgs84 converted to WGS 84 latitude and longitude. Nothing, with why in error,
/// when PROJ cannot convert them.
std::optional<std::vector<ExchangedPoint>> GridPoints(const Extent& extent, const MapCrs& crs,
                                                      const std::array<double, 6>& gt, bool toWgs84, QString& error)
{
    constexpr int kSteps = 4;
    std::vector<ExchangedPoint> points;
    for (int j = 0; j <= kSteps; ++j) {
        for (int i = 0; i <= kSteps; ++i) {
            ExchangedPoint p;
            p.m_dColumn = double(extent.m_nWidth) * i / kSteps;
            p.m_dRow = double(extent.m_nHeight) * j / kSteps;
            p.m_dLongitude = gt[0] + gt[1] * p.m_dColumn + gt[2] * p.m_dRow;
            p.m_dLatitude = gt[3] + gt[4] * p.m_dColumn + gt[5] * p.m_dRow;
            if (toWgs84) {
                const std::optional<GeoPosition> at = ToWgs84(crs.Name(), p.m_dLongitude, p.m_dLatitude, &error);
                if (!at)
                    return std::nullopt;
                p.m_dLatitude = at->m_dLatitude;
                p.m_dLongitude = at->m_dLongitude;
            }
            points.push_back(p);
        }
    }
    return points;
}

/// The extension of the world file that goes with the map's picture (".jgw" for a JPEG): by the
/// picture file's name, or, for a picture that travels inside the workspace, by the map's kind.
QString WorldFileExtensionOf(const CQuilletDoc& doc)
{
    if (!doc.MapPath().isEmpty())
        return WorldFileExtension(doc.MapPath());
    for (const FileKindInfo& info : FileKinds())
        if (info.m_MapKind != MapKind::None && info.m_MapKind == doc.MapType())
            return WorldFileExtension(QStringLiteral("map.") + info.m_Extensions.constFirst());
    return WorldFileExtension(QString());
}

/// The system a chosen model's ground coordinates are in, as an export names it.
MapCrs CrsOfFit(const GeoCoding& coding)
{
    MapCrs crs;
    const QString definition = coding.Crs().Definition();
    crs.m_bGeographic = IsGeographicCrs(definition).value_or(false);
    bool isCode = false;
    const int code = definition.startsWith(QStringLiteral("EPSG:")) ? definition.mid(5).toInt(&isCode) : 0;
    if (isCode)
        crs.m_nEpsg = code;
    else
        crs.m_strDefinition = definition;
    return crs;
}

/// A world file's affine georeference of a model chosen affine or Helmert: exact in the fit's
/// system, from where three pixels land. Refused for a transformation no world file can hold.
std::optional<UiMessage> ChosenWorldGeoreference(const GeoCoding& coding, MapCrs& crs, std::array<double, 6>& gt)
{
    const std::optional<QPointF> origin = coding.PixelToGround(0, 0);
    const std::optional<QPointF> across = coding.PixelToGround(1, 0);
    const std::optional<QPointF> down = coding.PixelToGround(0, 1);
    if ((coding.Kind() != TransformKind::Affine && coding.Kind() != TransformKind::Helmert) || !origin || !across || !down)
        return UiMessage{QStringLiteral("A world file holds only an affine georeference, and the map is geo-coded with "
                                        "the %1 transformation. Export it as a GeoTIFF, which is written rectified.")
                             .arg(TransformKindName(coding.Kind())),
                         kInvalidFile, MB_OK | MB_ICONINFORMATION};
    gt = {origin->x(), across->x() - origin->x(), down->x() - origin->x(),
          origin->y(), across->y() - origin->y(), down->y() - origin->y()};
    crs = CrsOfFit(coding);
    return std::nullopt;
}

/// A GeoTIFF of a map geo-coded otherwise than affinely in latitude and longitude: the map, or the
/// range, rectified into the fit's system (latitude and longitude for geographic) through a model
/// of its own (WriteRectifiedMap), so that only the chosen model's system is read here.
CommandResult ExportRectified(const CQuilletDoc& doc, const GeoCoding& coding, const Extent& extent, bool cut,
                              const QString& path, ExportReport* report, const Progress& progress)
{
    RectifyOptions options;
    options.m_strCrs = coding.Crs().Definition();
    if (cut) {
        const double l = extent.m_nLeft, t = extent.m_nTop;
        const double r = l + extent.m_nWidth, b = t + extent.m_nHeight;
        options.m_strMask = QStringLiteral("POLYGON((%1 %2,%3 %2,%3 %4,%1 %4,%1 %2))").arg(l).arg(t).arg(r).arg(b);
    }
    RectifiedGrid grid;
    CommandResult written = WriteRectifiedMap(doc, options, path, &grid, progress);
    if (written.m_bDone && report) {
        report->m_Written = QStringList{path};
        report->m_Crs = CrsOfFit(coding);
        report->m_GeoTransform = grid.m_GeoTransform;
    }
    return written;
}

UiMessage NotWritten(const QString& error)
{
    return {QStringLiteral("%1 (%2)").arg(CannotOpenFileText(), error), kInvalidFile, MB_OKCANCEL | MB_ICONERROR};
}

} // namespace

const DIBSection* MapSection(const CQuilletDoc& doc, DIBSection& drawn)
{
    if (doc.IsTiffMap()) {
        const DIBSection* image = doc.CurrentImageSection();
        return image && image->m_nBitCount == 24 ? image : nullptr;
    }
    if (!doc.Picture().m_pPicture || doc.ImageWidth() <= 0 || doc.ImageHeight() <= 0)
        return nullptr;
    drawn.Create(24, doc.ImageWidth(), doc.ImageHeight());
    if (!drawn.m_pBits || !drawn.m_pDC)
        throw std::bad_alloc();
    drawn.m_pDC->fill(Qt::white); // transparent parts of a picture show as white paper
    // The section's image holds the rows bottom-up: the picture is drawn upside down into it.
    QPainter painter(drawn.m_pDC.get());
    painter.translate(0, doc.ImageHeight());
    painter.scale(1, -1);
    doc.Picture().Draw(&painter, QRect(0, 0, doc.ImageWidth(), doc.ImageHeight()));
    painter.end();
    return &drawn;
}

std::optional<ExportKind> ExportKindForEntry(int entry)
{
    if (entry < 1 || entry > 4)
        return std::nullopt;
    return static_cast<ExportKind>(entry - 1);
}

std::optional<ExportKind> ExportKindFromName(const QString& name)
{
    const QString lower = name.toLower();
    if (lower == QStringLiteral("geotiff"))
        return ExportKind::GeoTiff;
    if (lower == QStringLiteral("world"))
        return ExportKind::WorldFile;
    if (lower == QStringLiteral("points"))
        return ExportKind::QgisPoints;
    if (lower == QStringLiteral("csv"))
        return ExportKind::PointsCsv;
    return std::nullopt;
}

QString ExportExtension(ExportKind kind)
{
    switch (kind) {
    case ExportKind::GeoTiff:
        return QStringLiteral(".tif");
    case ExportKind::WorldFile:
        return QStringLiteral(".wld");
    case ExportKind::QgisPoints:
        return QStringLiteral(".points");
    case ExportKind::PointsCsv:
        break;
    }
    return QStringLiteral(".csv");
}

CommandResult MakeExport(const CQuilletDoc& doc, const std::optional<OutputRange>& range, ExportKind kind,
                         const QString& path, std::vector<ExportedFile>& files, ExportReport* report,
                         const Progress& progress)
{
    files.clear();
    if (!doc.IsMapLoaded())
        return CommandResult::Refused({QStringLiteral("There is no map to export."), kInvalidFile, MB_OK | MB_ICONSTOP});
    Extent extent{0, 0, doc.ImageWidth(), doc.ImageHeight()};
    // A world file stands beside the whole picture, never beside a cut-out of it: a range would
    // move the picture it describes.
    std::optional<UiMessage> rangeRefusal;
    if (kind != ExportKind::WorldFile)
        rangeRefusal = ExtentOf(doc, range, extent);
    // A map without a georeference is refused before its range: whether it has one does not
    // depend on the extent.
    MapCrs crs;
    std::array<double, 6> gt{};
    if (std::optional<UiMessage> refusal = Georeference(doc, extent, crs, gt))
        return CommandResult::Refused(*refusal);
    if (rangeRefusal)
        return CommandResult::Refused(*rangeRefusal);

    switch (kind) {
    case ExportKind::GeoTiff: {
        if (const std::optional<QString> shortfall = CheckMemory(GeoTiffExportBytes(doc, extent)))
            return CommandResult::Refused(OutOfMemoryMessage(*shortfall));
        // A TIFF map's image is read where it is; a picture is drawn once at its size.
        const bool tiffPixels = doc.IsTiffMap() && doc.CurrentImageSection() &&
                                doc.CurrentImageSection()->m_pBits && doc.CurrentImageSection()->m_nBitCount == 24;
        const QImage pixels = tiffPixels ? QImage() : MapPixels(doc);
        if (!tiffPixels && (pixels.isNull() || pixels.format() != QImage::Format_RGB32))
            return CommandResult::Refused({NoPictureToWriteText(),
                                           kInvalidFile, MB_OK | MB_ICONERROR});
        // A TIFF map's NoData value still names the same pixels: the export keeps it.
        const QByteArray noData = tiffPixels && doc.Georeference() ? doc.Georeference()->m_NoData : QByteArray();
        // Written straight into the file as its tiles are made, not first in memory: the map
        // itself may take most of it.
        ExportedFile file{path, {}, {}};
        file.m_Write = [rows = ExtentRows(doc, extent, pixels), crs, gt, noData, path](int fd, const Progress& writing) {
            const int scratch = OpenScratchFile(QFileInfo(path).absolutePath());
            if (scratch < 0)
                return errno;
            const int error = WriteGeoTiff(fd, scratch, rows, crs, gt, noData, writing);
            ::close(scratch);
            return error;
        };
        files.push_back(std::move(file));
        break;
    }
    case ExportKind::WorldFile: {
        if (const GeoCoding* chosen = doc.ChosenModel())
            if (std::optional<UiMessage> refusal = ChosenWorldGeoreference(*chosen, crs, gt))
                return CommandResult::Refused(*refusal);
        // The .prj beside it: the same name with its extension replaced.
        const QString suffix = QFileInfo(path).suffix();
        const QString prj = (suffix.isEmpty() ? path : path.left(path.size() - suffix.size() - 1)) + QStringLiteral(".prj");
        files.push_back({path, WorldFileText(gt), {}});
        files.push_back({prj, CrsWktEsri(crs).toUtf8(), {}});
        break;
    }
    case ExportKind::QgisPoints:
    case ExportKind::PointsCsv: {
        const bool csv = kind == ExportKind::PointsCsv;
        // Typed control points are WGS 84 latitude and longitude. Without any, a grid is placed
        // by the georeference, in its own system where the file can say which (a CSV holds degrees).
        QString system = CrsWkt2(Wgs84());
        std::vector<ExchangedPoint> points;
        if (!doc.ControlPoints().empty()) {
            points = PointsOf(doc, extent);
        } else {
            const QString own = CrsWkt2(crs);
            const bool toWgs84 = csv || own.isEmpty();
            if (!toWgs84)
                system = own;
            QString error;
            std::optional<std::vector<ExchangedPoint>> grid = GridPoints(extent, crs, gt, toWgs84, error);
            if (!grid)
                return CommandResult::Refused(NotWritten(error));
            points = std::move(*grid);
        }
        files.push_back({path, csv ? EncodePointsCsv(points, extent.m_nWidth, extent.m_nHeight) : EncodeQgisPoints(system, points), {}});
        break;
    }
    }
    if (!progress.Report(1.0, 1.0))
        return CommandResult::Cancelled();
    if (report) {
        report->m_Written.clear();
        for (const ExportedFile& file : files)
            report->m_Written << file.m_strPath;
        report->m_Crs = crs;
        report->m_GeoTransform = gt;
    }
    return CommandResult::Done();
}

CommandResult WriteExport(const std::vector<ExportedFile>& files, const Progress& progress)
{
    for (const ExportedFile& file : files) {
        QString error;
        int number = 0;
        const bool written =
            file.m_Write ? WriteFileThrough(file.m_strPath, [&](int fd) { return file.m_Write(fd, progress); }, &error,
                                            &number, progress)
                         : WriteWholeFile(file.m_strPath, file.m_Bytes, &error, &number, progress);
        if (!written) {
            if (progress.Cancelled())
                return CommandResult::Cancelled();
            if (number == ENOMEM)
                return CommandResult::Refused(OutOfMemoryMessage(OutOfMemoryText()));
            return CommandResult::Refused(NotWritten(error));
        }
    }
    return CommandResult::Done();
}

CommandResult ExportGeoreferenced(const CQuilletDoc& doc, const std::optional<OutputRange>& range, ExportKind kind,
                                  const QString& path, ExportReport* report, const Progress& progress)
{
    if (doc.ChosenModel() && kind == ExportKind::GeoTiff && doc.IsGeoCoded()) {
        Extent extent;
        if (std::optional<UiMessage> refusal = ExtentOf(doc, range, extent))
            return CommandResult::Refused(*refusal);
        return ExportRectified(doc, *doc.ChosenModel(), extent, range.has_value(), path, report, progress);
    }
    // Everything is made before any file is written (a GeoTIFF is written under a temporary
    // name as it is made), so that a refusal leaves no file.
    std::vector<ExportedFile> files;
    const CommandResult made = MakeExport(doc, range, kind, path, files, report, progress.Part(0.0, 0.05));
    return made.m_bDone ? WriteExport(files, progress.Part(0.05, 1.0)) : made;
}

void OnExportGeoreferenced(CQuilletDoc& doc, const ViewState* view)
{
    if (!doc.IsMapLoaded())
        return;
    // Beside the map's own picture and named after it, where GIS tools look for a world file;
    // a picture that travels inside the workspace is named after the workspace. The dialog
    // gives the name the extension of the type chosen in it.
    const QString picture = doc.MapPath();
    const QString proposal = picture.isEmpty() ? ProposedName(doc, QStringLiteral(".tif"))
                                               : QFileInfo(picture).absolutePath() + QLatin1Char('/') +
                                                     QFileInfo(picture).completeBaseName() + QStringLiteral(".tif");
    const QString worldExtension = WorldFileExtensionOf(doc);
    const FileDialogResult chosen =
        ChooseFileToWrite(doc, QStringLiteral("Export Georeferenced"), ExportFilter(worldExtension), proposal,
                          [&worldExtension](const FileDialogResult& answer) {
                              const std::optional<ExportKind> kind = ExportKindForEntry(answer.m_nFilterIndex);
                              if (!kind)
                                  return QString();
                              return ReplaceExtensionAtFirstDot(answer.m_strPath, *kind == ExportKind::WorldFile
                                                                                      ? worldExtension
                                                                                      : ExportExtension(*kind));
                          });
    if (!chosen.Accepted())
        return;
    const std::optional<ExportKind> kind = ExportKindForEntry(chosen.m_nFilterIndex);
    const QString path = chosen.m_strPath;
    const std::optional<OutputRange> range = OutputRangeOf(view);
    CommandResult result;
    Ui().RunLongWork(QStringLiteral("Exporting %1").arg(DisplayText(QFileInfo(path).fileName())), [&](Progress progress) {
        result = ExportGeoreferenced(doc, range, *kind, path, nullptr, progress);
    });
    ShowMessages(result.m_Messages);
    if (result.m_bDone)
        Ui().ShowStatus(WroteText(path));
}

CommandResult ImportControlPoints(CQuilletDoc& doc, const QString& path, int* added)
{
    const auto refuse = [](const QString& text) {
        return CommandResult::Refused({text, QStringLiteral("Invalid Control Points"), MB_OK | MB_ICONSTOP});
    };
    if (!doc.IsMapLoaded())
        return refuse(QStringLiteral("Load a map first: control points are placed on it."));
    QByteArray bytes;
    QString error;
    if (!ReadWholeFile(path, bytes, &error))
        return refuse(error);
    const Parsed<std::vector<CDataGeo>> read = ParseControlPoints(bytes, doc.ImageWidth(), doc.ImageHeight());
    if (!read)
        return refuse(QStringLiteral("%1 cannot be imported.\n%2").arg(DisplayText(QFileInfo(path).fileName()), read.Why()));
    std::vector<CDataGeo> points = doc.ControlPoints();
    for (const CDataGeo& point : *read)
        points.push_back(doc.InFrameUnits(point));
    const GeoFitResult fit =
        doc.EditPoints(QStringLiteral("Import %1 Points").arg(read->size()), std::move(points));
    if (added)
        *added = static_cast<int>(read->size());
    CommandResult result = CommandResult::Done();
    if (fit.m_Message)
        result.m_Messages.push_back(*fit.m_Message);
    return result;
}

void OnImportControlPoints(CQuilletDoc& doc)
{
    if (!doc.IsMapLoaded())
        return;
    const FileDialogResult chosen =
        Ui().OpenFileDialog(QStringLiteral("Import Control Points"), ImportPointsFilter(), StartFolder(doc));
    if (!chosen.Accepted())
        return;
    ShowMessages(ImportControlPoints(doc, chosen.m_strPath).m_Messages);
}
