// Georeferenced output that GIS tools read: GeoTIFF keys read back with libgeotiff, world files,
// and control points exchanged with QGIS and CSV files, both ways.

#include "commands/ExportCommands.h"
#include "commands/FileCommands.h"
#include "commands/RectifyCommand.h"
#include "document/CQuilletDoc.h"
#include "formats/ControlPointFile.h"
#include "formats/WorkspaceFile.h"
#include "formats/WorldFile.h"
#include "imaging/BmpEncoding.h"
#include "platform/MemoryBudget.h"
#include "ScriptedUiServices.h"

#include "ProjReference.h"
#include "TestDocs.h"
#include "TestSupport.h"
#include "TiffTestFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>

#include <gdal.h>
#include <geotiff.h>
#include <ogr_srs_api.h>
#include <geo_normalize.h>
#include <geovalues.h>
#include <xtiffio.h>

#include <gtest/gtest.h>

namespace {

/// A picture map of 90 x 60 pixels whose every pixel differs, geo-coded by model.
void LoadPatternMap(CQuilletDoc& doc, const GeoModel& model, const std::vector<CDataGeo>& points = {})
{
    QImage pattern(90, 60, QImage::Format_RGB32);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 90; ++x)
            pattern.setPixel(x, y, qRgb(x * 2, y * 4, (x + y) % 256));
    const QByteArray bmp = EncodeBmp24(pattern);
    CPicture picture;
    picture.LoadFromMemory(bmp);
    picture.m_nWidth = 90;
    picture.m_nHeight = 60;
    doc.InstallPictureMap(QStringLiteral("/maps/pattern.bmp"), MapKind::Bmp, std::move(picture), bmp);
    SetPointsAndModel(doc, points, true, model.Coefficients());
}

/// What a GeoTIFF's keys and tags say, read with libgeotiff and libtiff alone.
struct GeoTiffKeys {
    int m_nModelType = 0;
    int m_nProjected = 0;
    int m_nGeographic = 0;
    int m_nRaster = 0;
    std::vector<double> m_Tie, m_Scale, m_Matrix;
    QImage m_Pixels;
};

GeoTiffKeys ReadKeys(const QString& path)
{
    GeoTiffKeys keys;
    TIFF* tif = XTIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif) {
        ADD_FAILURE() << "cannot open " << path.toStdString();
        return keys;
    }
    GTIF* gtif = GTIFNew(tif);
    unsigned short value = 0;
    if (GTIFKeyGet(gtif, GTModelTypeGeoKey, &value, 0, 1))
        keys.m_nModelType = value;
    if (GTIFKeyGet(gtif, ProjectedCSTypeGeoKey, &value, 0, 1))
        keys.m_nProjected = value;
    if (GTIFKeyGet(gtif, GeographicTypeGeoKey, &value, 0, 1))
        keys.m_nGeographic = value;
    if (GTIFKeyGet(gtif, GTRasterTypeGeoKey, &value, 0, 1))
        keys.m_nRaster = value;
    GTIFFree(gtif);
    const auto doubles = [tif](ttag_t tag) {
        std::uint16_t count = 0;
        double* values = nullptr;
        std::vector<double> out;
        if (TIFFGetField(tif, tag, &count, &values) && values)
            out.assign(values, values + count);
        return out;
    };
    keys.m_Tie = doubles(TIFFTAG_GEOTIEPOINTS);
    keys.m_Scale = doubles(TIFFTAG_GEOPIXELSCALE);
    keys.m_Matrix = doubles(TIFFTAG_GEOTRANSMATRIX);
    std::uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    std::vector<std::uint32_t> raster(std::size_t(w) * h);
    if (TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0)) {
        keys.m_Pixels = QImage(int(w), int(h), QImage::Format_RGB32);
        for (std::uint32_t y = 0; y < h; ++y)
            for (std::uint32_t x = 0; x < w; ++x) {
                const std::uint32_t p = raster[y * w + x];
                keys.m_Pixels.setPixel(int(x), int(y), qRgb(TIFFGetR(p), TIFFGetG(p), TIFFGetB(p)));
            }
    }
    XTIFFClose(tif);
    return keys;
}

/// The coordinate system of a GeoTIFF's keys as libgeotiff makes it out, and its NoData text.
std::pair<std::vector<double>, QByteArray> SystemOf(const QString& path)
{
    TIFF* tif = XTIFFOpen(QFile::encodeName(path).constData(), "r");
    GTIF* gtif = tif ? GTIFNew(tif) : nullptr;
    GTIFDefn d;
    EXPECT_TRUE(gtif && GTIFGetDefn(gtif, &d)) << "no keys in " << path.toStdString();
    std::vector<double> system = {double(d.Model), double(d.PCS), double(d.GCS), double(d.Datum), double(d.Ellipsoid),
                                  double(d.CTProjection), d.SemiMajor, d.SemiMinor};
    system.insert(system.end(), d.ProjParm, d.ProjParm + d.nParms);
    GTIFFree(gtif);
    XTIFFClose(tif);
    return {system, RawTiff::Text(RawTiff(ReadFileBytes(path)).Directories().at(0), 42113)};
}

class ExportTest : public ::testing::Test {
protected:
    QString Path(const char* name) const { return m_Dir.filePath(QString::fromLatin1(name)); }
    ScriptedUiServices m_Ui;
    ScopedUiServices m_Installed{m_Ui};
    QTemporaryDir m_Dir;
};

} // namespace

TEST_F(ExportTest, GeoTiffKeysAndPixelsReadBackWithLibgeotiff)
{
    // North up: 0.01 degree per pixel east from 10 E, 0.02 south from 50 N.
    const GeoModel northUp = GeoModel::FromAffine(0, 100, -1000, -50, 0, 2500);
    // Rotated 45 degrees: written as a transformation matrix.
    const GeoModel rotated = GeoModel::FromAffine(100, 100, 0, -100, 100, 0);
    for (const bool isRotated : {false, true}) {
        const GeoModel& model = isRotated ? rotated : northUp;
        CQuilletDoc doc;
        LoadPatternMap(doc, model);
        const QString path = Path("map.tif");
        ExportReport report;
        ASSERT_TRUE(ExportGeoreferenced(doc, std::nullopt, ExportKind::GeoTiff, path, &report).m_bDone);
        EXPECT_EQ(report.m_Crs.Name(), QStringLiteral("EPSG:4326"));
        const GeoTiffKeys keys = ReadKeys(path);
        EXPECT_EQ(keys.m_nModelType, ModelTypeGeographic);
        EXPECT_EQ(keys.m_nGeographic, 4326);
        EXPECT_EQ(keys.m_nRaster, RasterPixelIsArea);
        const std::array<double, 6> gt = *model.GeoTransform();
        if (!isRotated) {
            ASSERT_EQ(keys.m_Tie.size(), 6u);
            ASSERT_GE(keys.m_Scale.size(), 2u);
            EXPECT_DOUBLE_EQ(keys.m_Tie[3], 10.0);
            EXPECT_DOUBLE_EQ(keys.m_Tie[4], 50.0);
            EXPECT_DOUBLE_EQ(keys.m_Scale[0], 0.01);
            EXPECT_DOUBLE_EQ(keys.m_Scale[1], 0.02);
            EXPECT_TRUE(keys.m_Matrix.empty());
        } else {
            ASSERT_EQ(keys.m_Matrix.size(), 16u);
            EXPECT_DOUBLE_EQ(keys.m_Matrix[0], gt[1]);
            EXPECT_DOUBLE_EQ(keys.m_Matrix[1], gt[2]);
            EXPECT_DOUBLE_EQ(keys.m_Matrix[4], gt[4]);
            EXPECT_DOUBLE_EQ(keys.m_Matrix[5], gt[5]);
            EXPECT_TRUE(keys.m_Tie.empty());
        }
        // The pixels are the map's as shown at 100%.
        ASSERT_EQ(keys.m_Pixels.size(), QSize(90, 60));
        EXPECT_EQ(keys.m_Pixels.pixel(0, 0), qRgb(0, 0, 0));
        EXPECT_EQ(keys.m_Pixels.pixel(89, 59), qRgb(178, 236, 148));
        EXPECT_EQ(keys.m_Pixels.pixel(40, 20), qRgb(80, 80, 60));
    }

    // A map geo-coded by its own GeoTIFF keys keeps its UTM georeference.
    CQuilletDoc geotiff;
    InitialNewDocument(geotiff);
    ASSERT_TRUE(OpenDocumentFile(geotiff, nullptr, TestDataPath(QStringLiteral("geotiff/RGB.byte.tif"))));
    ASSERT_TRUE(ExportGeoreferenced(geotiff, std::nullopt, ExportKind::GeoTiff, Path("utm.tif")).m_bDone);
    const GeoTiffKeys utm = ReadKeys(Path("utm.tif"));
    EXPECT_EQ(utm.m_nModelType, ModelTypeProjected);
    EXPECT_EQ(utm.m_nProjected, 32618);
    ASSERT_EQ(utm.m_Tie.size(), 6u);
    EXPECT_DOUBLE_EQ(utm.m_Tie[3], 101985.0);
    EXPECT_DOUBLE_EQ(utm.m_Tie[4], 2826915.0);
    EXPECT_DOUBLE_EQ(utm.m_Scale[0], 300.0379266750948);
    EXPECT_EQ(utm.m_Pixels.size(), QSize(791, 718));
}

TEST_F(ExportTest, ARangeCoversItsCutOutAndRefusalsWriteNothing)
{
    CQuilletDoc doc;
    LoadPatternMap(doc, GeoModel::FromAffine(0, 100, -1000, -50, 0, 2500));
    // Left quarter to three quarters of 89 steps, top third to two thirds of 59.
    const OutputRange range{true, 0.25, 0.75, 1.0 / 3, 2.0 / 3};
    ExportReport report;
    ASSERT_TRUE(ExportGeoreferenced(doc, range, ExportKind::GeoTiff, Path("part.tif"), &report).m_bDone);
    const GeoTiffKeys keys = ReadKeys(Path("part.tif"));
    EXPECT_EQ(keys.m_Pixels.size(), QSize(44, 19)); // 0.5 x 89 and 1/3 x 59, truncated
    // Its top-left pixel is pixel (22, 20) of the map: 22 x 0.01 east, 20 x 0.02 south.
    EXPECT_DOUBLE_EQ(report.m_GeoTransform[0], 10.22);
    EXPECT_DOUBLE_EQ(report.m_GeoTransform[3], 49.6);
    EXPECT_EQ(keys.m_Pixels.pixel(0, 0), qRgb(44, 80, 42));
    // A world file stands beside the whole picture: the range does not move its origin.
    ASSERT_TRUE(ExportGeoreferenced(doc, range, ExportKind::WorldFile, Path("whole.bpw")).m_bDone);
    const std::array<double, 6> world = ParseWorldFile(ReadFileBytes(Path("whole.bpw"))).value_or(std::array<double, 6>{});
    EXPECT_EQ(std::pair(world[0], world[3]), std::pair(10.0, 50.0));

    // Not geo-coded: refused, nothing written, an earlier file kept.
    WriteFileBytes(Path("kept.tif"), "an earlier export");
    SetPointsAndModel(doc, {}, false, doc.GeoCoef());
    for (const ExportKind kind : {ExportKind::GeoTiff, ExportKind::WorldFile, ExportKind::PointsCsv}) {
        const CommandResult refused = ExportGeoreferenced(doc, std::nullopt, kind, Path("kept.tif"));
        EXPECT_FALSE(refused.m_bDone);
        ASSERT_EQ(refused.m_Messages.size(), 1u);
        EXPECT_EQ(refused.m_Messages[0].m_strText, QStringLiteral("Invalid projection. Need more points."));
    }
    EXPECT_EQ(ReadFileBytes(Path("kept.tif")), QByteArray("an earlier export"));
    EXPECT_EQ(QDir(m_Dir.path()).entryList(QDir::Files), (QStringList{"kept.tif", "part.tif", "whole.bpw", "whole.prj"}));
}

TEST_F(ExportTest, ControlPointsTravelBothWays)
{
    // The last point as typed in the dialog (the typed numbers times 3600): the files carry them.
    const std::vector<CDataGeo> points = {{45.1234567 * 3600, -75.7654321 * 3600, 0.123456789, 0.987654321},
                                          {-33.5 * 3600, 151.25 * 3600, 0.5, 0.25},
                                          {-9.8303 * 3600, -99.6 * 3600, 1.0 / 3, 2.0 / 3}};
    CQuilletDoc doc;
    LoadPatternMap(doc, GeoModel::FromAffine(0, 100, -1000, -50, 0, 2500), points);
    for (const auto& [kind, name] : {std::pair{ExportKind::QgisPoints, "points.points"}, std::pair{ExportKind::PointsCsv, "points.csv"}}) {
        ASSERT_TRUE(ExportGeoreferenced(doc, std::nullopt, kind, Path(name)).m_bDone) << name;
        const Parsed<std::vector<CDataGeo>> read = ParseControlPoints(ReadFileBytes(Path(name)), 90, 60);
        ASSERT_TRUE(read) << read.Why().toStdString();
        ASSERT_EQ(read->size(), points.size());
        for (std::size_t i = 0; i < points.size(); ++i) {
            EXPECT_NEAR((*read)[i].m_dLatitude / 3600, points[i].m_dLatitude / 3600, 1e-9) << name;
            EXPECT_NEAR((*read)[i].m_dLongitude / 3600, points[i].m_dLongitude / 3600, 1e-9) << name;
            EXPECT_NEAR((*read)[i].m_dImageX * 90, points[i].m_dImageX * 90, 1e-9) << name;
            EXPECT_NEAR((*read)[i].m_dImageY * 60, points[i].m_dImageY * 60, 1e-9) << name;
        }
    }
    EXPECT_TRUE(ReadFileBytes(Path("points.points")).startsWith("#CRS: GEOGCRS[\"WGS 84\""));
    EXPECT_TRUE(ReadFileBytes(Path("points.points")).contains("\n-99.6,-9.8303,"));
    EXPECT_TRUE(ReadFileBytes(Path("points.csv")).contains("\n-9.8303,-99.6,"));

    // Imported onto the map: appended as one step that undo takes back.
    const std::size_t before = doc.ControlPoints().size();
    int added = 0;
    ASSERT_TRUE(ImportControlPoints(doc, Path("points.points"), &added).m_bDone);
    EXPECT_EQ(added, 3);
    EXPECT_EQ(doc.ControlPoints().size(), before + 3);
    EXPECT_EQ(doc.UndoStack().undoText(), QStringLiteral("Import 3 Points"));
    doc.UndoStack().undo();
    EXPECT_EQ(doc.ControlPoints().size(), before);
}

TEST_F(ExportTest, PointsOnAGeoTiffFrameTravelAtTheirPixels)
{
    // A GeoTIFF map's points are kept in its frame's degrees, placed there as a click places them.
    CQuilletDoc doc;
    InitialNewDocument(doc);
    ASSERT_TRUE(OpenDocumentFile(doc, nullptr, TestDataPath(QStringLiteral("geotiff/RGB.byte.tif"))));
    ASSERT_TRUE(doc.HasGeoTiffFrame());
    const CDataGeo origin = doc.GeoOrigin(), extent = doc.GeoExtent();
    const double pixels[][2] = {{100, 200}, {700.5, 50}, {395.5, 359}};
    std::vector<CDataGeo> points;
    for (const auto& [column, row] : pixels)
        points.push_back({25 * 3600.0, -78 * 3600.0, origin.m_dLongitude + extent.m_dLongitude * column / 791,
                          origin.m_dLatitude + extent.m_dLatitude * (1 - row / 718)});
    doc.EditPoints(QStringLiteral("Add Points"), points);
    ASSERT_TRUE(ExportGeoreferenced(doc, std::nullopt, ExportKind::PointsCsv, Path("frame.csv")).m_bDone);
    const QList<QByteArray> lines = ReadFileBytes(Path("frame.csv")).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 4);
    for (int i = 0; i < 3; ++i) {
        const QList<QByteArray> fields = lines[i + 1].split(',');
        EXPECT_NEAR(fields[2].toDouble() * 791, pixels[i][0], 1e-6) << lines[i + 1].toStdString();
        EXPECT_NEAR((1 - fields[3].toDouble()) * 718, pixels[i][1], 1e-6) << lines[i + 1].toStdString();
    }
    // Imported back, they land where they were.
    ASSERT_TRUE(ImportControlPoints(doc, Path("frame.csv")).m_bDone);
    ASSERT_EQ(doc.ControlPoints().size(), 6u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(doc.ControlPoints()[i + 3].m_dImageX, points[i].m_dImageX, 1e-9);
        EXPECT_NEAR(doc.ControlPoints()[i + 3].m_dImageY, points[i].m_dImageY, 1e-9);
    }
}

TEST_F(ExportTest, PointsInAProjectedSystemAreConvertedAndBadLinesRefuseTheWholeFile)
{
    // WGS 84 / UTM zone 18N; the older pixelX/pixelY header; a disabled row.
    const QByteArray utm = "#CRS: EPSG:32618\n"
                           "mapX,mapY,pixelX,pixelY,enable\n"
                           "101985,2826915,0,0,1\n"
                           "339315,2611485,791,-718,1\n"
                           "200000,2700000,10,-10,0\n";
    const Parsed<std::vector<CDataGeo>> read = ParseControlPoints(utm, 791, 718);
    ASSERT_TRUE(read) << read.Why().toStdString();
    ASSERT_EQ(read->size(), 2u);
    const LatLon corner = ReferenceInverse("EPSG:32618", "EPSG:4326", 339315, 2611485);
    EXPECT_NEAR((*read)[1].m_dLatitude / 3600, corner.m_dLatitude, 1e-9);
    EXPECT_NEAR((*read)[1].m_dLongitude / 3600, corner.m_dLongitude, 1e-9);
    EXPECT_NEAR((*read)[1].m_dImageX, 1.0, 1e-12);
    EXPECT_NEAR((*read)[1].m_dImageY, 0.0, 1e-12);

    const struct {
        QByteArray file;
        int line; ///< the line the message names
    } bad[] = {
        {"mapX,mapY,sourceX,sourceY,enable\n10,20,1,-1,1\n10,twenty,1,-1,1\n", 3},
        {"mapX,mapY,sourceX,sourceY,enable\n10,20,1\n", 2},
        {"mapX,mapY,sourceX,sourceY,enable\n200,20,1,-1,1\n", 2}, // no CRS: WGS 84, and 200 E is not
        {"latitude,longitude,x,y\n45,7,0.5,0.5,0\n", 2},
        {"lat,lon,x,y\n", 1},
        // Nothing to place: a header alone, or only disabled rows, as an empty file.
        {"#CRS: EPSG:4326\nmapX,mapY,sourceX,sourceY,enable\n", 0},
        {"latitude,longitude,x,y\n\n", 0},
        {"mapX,mapY,sourceX,sourceY,enable\n10,20,1,-1,0\n", 0},
    };
    CQuilletDoc doc;
    LoadPictureMap(doc, 100, 100);
    for (const auto& c : bad) {
        const Parsed<std::vector<CDataGeo>> parsed = ParseControlPoints(c.file, 100, 100);
        const QString& error = parsed.Why();
        EXPECT_FALSE(parsed) << c.file.toStdString();
        EXPECT_TRUE(c.line ? error.startsWith(QStringLiteral("Line %1:").arg(c.line)) : !error.startsWith(QStringLiteral("Line")))
            << error.toStdString();
        WriteFileBytes(Path("bad.points"), c.file);
        EXPECT_FALSE(ImportControlPoints(doc, Path("bad.points")).m_bDone);
        EXPECT_TRUE(doc.ControlPoints().empty()); // nothing half-imported
    }
}

TEST_F(ExportTest, AWorldFileIsProposedBesideThePictureWithItsExtension)
{
    // A JPEG held in work1.pws: named after the workspace, with the JPEG's world file type.
    const GeoModel model = GeoModel::FromAffine(0, 100, -1000, -50, 0, 2500);
    CQuilletDoc doc;
    doc.InstallWorkspace(Path("work1.pws"), {1, 7, 90, 60, model.Coefficients(), MakeBmpFile(90, 60), {}, {}}, {});
    SetPointsAndModel(doc, {}, true, model.Coefficients());
    m_Ui.AnswerFile(Path("work1.wld"), 2); // the world file's type chosen
    OnExportGeoreferenced(doc, nullptr);
    ASSERT_EQ(m_Ui.m_FileDialogs.size(), 1u);
    EXPECT_EQ(m_Ui.m_FileDialogs[0].m_strProposal, Path("work1.tif"));
    EXPECT_TRUE(m_Ui.m_FileDialogs[0].m_strFilter.contains(QStringLiteral("|World file (*.jgw)|*.jgw|")));
    EXPECT_TRUE(QFile::exists(Path("work1.jgw")));
}

TEST_F(ExportTest, AGeoTiffMapKeepsItsOwnSystemAndNoDataAndExportsAGridOfItsGeoreference)
{
    // Each map's own system as libgeotiff reads it (NAD83, not WGS 84; a user-defined zone on the WGS 84
    // ellipsoid, not NAD27) and GDAL's NoData text. The lower right corner by GDAL is where PROJ puts it by
    // the map's system, the .prj and the points file's CRS alike, and the last of 5 x 5 exported points.
    const struct { const char *m_pMap, *m_pProj, *m_pNoData; double x, y; int m_nWidth, m_nHeight; } cases[] = {
        {"cog_rgb.tif", "EPSG:26913", "", 519467.495727581495885 + 383 * 0.149815529419532,
         4311669.765735351480544 - 232 * 0.149997895864513, 383, 232},
        {"rgb-byte-tenth.tif", "+proj=utm +zone=18 +ellps=WGS84 +type=crs", "0", 339315, 2611485, 79, 71},
        {"RGB.byte.tif", "EPSG:32618", "0", 339315, 2611485, 791, 718},
        {"utmsmall.tif", "EPSG:26711", "", 446720, 3745320, 100, 100},
        {"transverse_mercator.tif", "EPSG:3814", "", 440780, 3751260, 1, 1}}; // NAD83, no zone: by its keys alone
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pMap);
        const QString map = TestDataPath(QStringLiteral("geotiff/") + QLatin1String(c.m_pMap));
        CQuilletDoc doc;
        InitialNewDocument(doc);
        ASSERT_TRUE(OpenDocumentFile(doc, nullptr, map));
        for (const auto& [kind, name] : {std::pair{ExportKind::GeoTiff, "out.tif"}, {ExportKind::WorldFile, "out.tfw"},
                                         {ExportKind::QgisPoints, "out.points"}, {ExportKind::PointsCsv, "out.csv"}})
            ASSERT_TRUE(ExportGeoreferenced(doc, std::nullopt, kind, Path(name)).m_bDone) << name;
        const std::pair<std::vector<double>, QByteArray> system = SystemOf(Path("out.tif"));
        EXPECT_EQ(system, SystemOf(map));
        EXPECT_EQ(system.second, QByteArray(c.m_pNoData));
        const QList<QByteArray> points = ReadFileBytes(Path("out.points")).trimmed().split('\n');
        const QList<QByteArray> csv = ReadFileBytes(Path("out.csv")).trimmed().split('\n');
        ASSERT_EQ(points.size(), 2 + 25); // the CRS, the header, the points
        ASSERT_EQ(csv.size(), 1 + 25);
        const QList<QByteArray> last = points.back().split(','), degrees = csv.back().split(',');
        EXPECT_LT(qAbs(last.value(0).toDouble() - c.x) + qAbs(last.value(1).toDouble() - c.y), 1e-6);
        EXPECT_EQ(last.mid(2, 2), (QList<QByteArray>{QByteArray::number(c.m_nWidth), QByteArray::number(-c.m_nHeight)}));
        const LatLon corner = ReferenceInverse(c.m_pProj, "EPSG:4326", c.x, c.y);
        for (const LatLon& there : {LatLon{degrees.value(0).toDouble(), degrees.value(1).toDouble()},
                                    ReferenceInverse(ReadFileBytes(Path("out.prj")).toStdString(), "EPSG:4326", c.x, c.y),
                                    ReferenceInverse(points[0].mid(6).toStdString(), "EPSG:4326", c.x, c.y)}) {
            EXPECT_NEAR(there.m_dLatitude, corner.m_dLatitude, 1e-9);
            EXPECT_NEAR(there.m_dLongitude, corner.m_dLongitude, 1e-9);
        }
    }
}

TEST_F(ExportTest, ExportRectifiedWritesTheGridAskedForAndCancelLeavesNoFile)
{
    // 0.01 degree per pixel east from 10 E, 0.02 south from 50 N: 10 to 10.9 E, 48.8 to 50 N.
    CQuilletDoc doc;
    LoadPatternMap(doc, GeoModel::FromAffine(0, 100, -1000, -50, 0, 2500));
    GDALAllRegister();
    struct Case {
        const char* name;
        const char* crs;        ///< typed over the proposed EPSG:4326; null keeps it
        const char* resolution; ///< sizes that divide the extent exactly in binary
        const char* extent;
        int epsg, width, height;
    };
    const Case cases[] = {
        {"geographic.tif", nullptr, "0.0078125,0.015625", "10,49,10.5,50", 4326, 64, 64},
        {"utm.tif", "EPSG:32632", "1000", "580000,5450000,620000,5480000", 32632, 40, 30},
        {"cancelled.tif", nullptr, "0.0078125,0.015625", "10,49,10.5,50", 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_Ui.m_Dialogs.clear();
        m_Ui.m_StatusTexts.clear();
        m_Ui.m_dCancelAt = c.epsg ? 2.0 : 0.0;
        ScriptedUiServices::DialogAnswer answer;
        answer.m_OnRectify = [&c](RectifyEntry& entry) {
            if (c.crs)
                entry.m_strCrs = QString::fromLatin1(c.crs);
            entry.m_strResolution = QString::fromLatin1(c.resolution);
            entry.m_strExtent = QString::fromLatin1(c.extent);
            return IDOK;
        };
        m_Ui.m_DialogAnswers.push_back(answer);
        const QString path = Path(c.name);
        m_Ui.AnswerFile(path, 1);
        OnExportRectified(doc);
        ASSERT_EQ(m_Ui.m_Dialogs.size(), 1u);
        EXPECT_EQ(m_Ui.m_Dialogs[0].m_Rectify.m_strCrs, QStringLiteral("EPSG:4326")); // the fit's system
        EXPECT_TRUE(m_Ui.m_Messages.empty());
        if (!c.epsg) {
            EXPECT_FALSE(QFileInfo::exists(path));
            EXPECT_TRUE(m_Ui.m_StatusTexts.empty());
            continue;
        }
        ASSERT_EQ(m_Ui.m_StatusTexts.size(), 1u);
        EXPECT_TRUE(m_Ui.m_StatusTexts[0].contains(QString::fromLatin1(c.name)));
        GDALDatasetH written = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
        ASSERT_TRUE(written);
        EXPECT_EQ(GDALGetRasterXSize(written), c.width);
        EXPECT_EQ(GDALGetRasterYSize(written), c.height);
        OGRSpatialReferenceH srs = OSRNewSpatialReference(GDALGetProjectionRef(written));
        ASSERT_TRUE(srs);
        OSRAutoIdentifyEPSG(srs);
        const char* code = OSRGetAuthorityCode(srs, nullptr);
        EXPECT_EQ(code ? std::atoi(code) : 0, c.epsg);
        OSRDestroySpatialReference(srs);
        GDALClose(written);
    }
    // A system PROJ does not know is refused while the dialog can correct it: no file is asked for.
    m_Ui.m_Dialogs.clear();
    const std::size_t fileDialogs = m_Ui.m_FileDialogs.size();
    ScriptedUiServices::DialogAnswer unknown;
    unknown.m_OnRectify = [](RectifyEntry& entry) { return entry.m_strCrs = QStringLiteral("EPSG:999999"), IDOK; };
    m_Ui.m_DialogAnswers.push_back(unknown);
    OnExportRectified(doc);
    EXPECT_EQ(m_Ui.m_Dialogs.size(), 2u);
    EXPECT_EQ(m_Ui.m_FileDialogs.size(), fileDialogs);
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_EQ(m_Ui.m_Messages[0].m_strText, QStringLiteral("The coordinate system \"EPSG:999999\" is not one PROJ knows."));
}

TEST_F(ExportTest, GeoTiffPyramidsAreTheWholePictureHalvedAndTheFileIsAsBefore)
{
    // Sizes about the tile (256), the overview threshold (above 1024 on a side), the picture size
    // at which the halving becomes area sampling (2^20 pixels), odd sides, and a range cut out.
    // The digests are of files the whole-picture writer made from the same pixels.
    const struct { int w, h; bool picture, range; const char* digest; } cases[] = {
        {1025, 40, false, false, "552e7c0ffb7c8b65"},    {2048, 512, false, false, "527445059664eb16"},
        {2047, 512, false, false, "e2168c65c22516bb"},   {1300, 1100, false, false, "e45870851b314848"},
        {2049, 1537, true, false, "38e38e6414d067ee"},   {2049, 1537, false, true, "f4be479767ea26f0"},
        {1024, 1024, false, false, "e843dbe3573b889b"},
    };
    GDALAllRegister();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
        // Noise over gradients: every halving rounds.
        QImage pixels(c.w, c.h, QImage::Format_RGB32);
        std::uint32_t noise = 12345;
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                noise = noise * 1664525u + 1013904223u;
                pixels.setPixel(x, y, qRgb((x + (noise >> 28)) & 255, (y / 3 + (noise >> 24)) & 255, (noise >> 16) & 255));
            }
        CQuilletDoc doc;
        if (c.picture) {
            const QByteArray bmp = EncodeBmp24(pixels);
            CPicture picture;
            picture.LoadFromMemory(bmp);
            picture.m_nWidth = c.w, picture.m_nHeight = c.h;
            doc.InstallPictureMap(QStringLiteral("/maps/noise.bmp"), MapKind::Bmp, std::move(picture), bmp);
            SetPointsAndModel(doc, {}, true, GeoModel::FromAffine(0, 100, -1000, -50, 0, 2500).Coefficients());
        } else {
            DIBSection section;
            section.Create(24, c.w, c.h);
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x) {
                    std::uint8_t* bgr = section.StoredRow(c.h - 1 - y) + 3 * x;
                    const QRgb p = pixels.pixel(x, y);
                    bgr[0] = qBlue(p), bgr[1] = qGreen(p), bgr[2] = qRed(p);
                }
            std::vector<DIBSection> images;
            images.push_back(std::move(section));
            GeoTiffInfo info;
            info.m_dTieX = 10.0, info.m_dTieY = 50.0, info.m_dScaleX = info.m_dScaleY = 0.001;
            doc.InstallTiffMap(QStringLiteral("/maps/noise.tif"), MapKind::Tif, std::move(images), info);
        }
        const std::optional<OutputRange> range =
            c.range ? std::optional(OutputRange{true, 0.1, 0.9, 0.05, 0.95}) : std::nullopt;
        const QString path = Path("pyramid.tif");
        // A TIFF map's pixels are read where they are: its export needs rows of tiles, not copies.
        SetMemoryCeiling(c.picture ? 0 : 24'000'000);
        const CommandResult exported = ExportGeoreferenced(doc, range, ExportKind::GeoTiff, path);
        SetMemoryCeiling(0);
        ASSERT_TRUE(exported.m_bDone);
        const QByteArray file = ReadFileBytes(path);
        EXPECT_EQ(QCryptographicHash::hash(file, QCryptographicHash::Sha1).toHex().left(16).toStdString(), c.digest);
        // GDAL finds the halvings down to 256 pixels on the longer side; the first is each 2 x 2
        // block's mean rounded down wherever the sides are even.
        GDALDatasetH read = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
        ASSERT_TRUE(read);
        // The range starts at 0.1 of 2048 steps and 0.05 of 1536, rounded: pixel (205, 77).
        const QImage whole = c.range ? pixels.copy(205, 77, GDALGetRasterXSize(read), GDALGetRasterYSize(read)) : pixels;
        EXPECT_EQ(QSize(GDALGetRasterXSize(read), GDALGetRasterYSize(read)), whole.size());
        GDALRasterBandH red = GDALGetRasterBand(read, 1);
        std::vector<QSize> expected;
        for (QSize s = whole.size(); std::max(s.width(), s.height()) > (expected.empty() ? 1024 : 256);)
            expected.push_back(s = QSize((s.width() + 1) / 2, (s.height() + 1) / 2));
        std::vector<QSize> found;
        for (int i = 0; i < GDALGetOverviewCount(red); ++i)
            found.emplace_back(GDALGetRasterBandXSize(GDALGetOverview(red, i)), GDALGetRasterBandYSize(GDALGetOverview(red, i)));
        EXPECT_EQ(found, expected);
        if (!found.empty() && whole.width() % 2 == 0 && whole.height() % 2 == 0) {
            std::vector<std::uint8_t> half(std::size_t(found[0].width()) * found[0].height());
            ASSERT_EQ(GDALRasterIO(GDALGetOverview(red, 0), GF_Read, 0, 0, found[0].width(), found[0].height(), half.data(),
                                   found[0].width(), found[0].height(), GDT_Byte, 0, 0), CE_None);
            int wrong = 0;
            for (int y = 0; y < found[0].height(); ++y)
                for (int x = 0; x < found[0].width(); ++x)
                    wrong += half[std::size_t(y) * found[0].width() + x] !=
                             (qRed(whole.pixel(2 * x, 2 * y)) + qRed(whole.pixel(2 * x + 1, 2 * y)) +
                              qRed(whole.pixel(2 * x, 2 * y + 1)) + qRed(whole.pixel(2 * x + 1, 2 * y + 1))) / 4;
            EXPECT_EQ(wrong, 0);
        }
        GDALClose(read);
    }
}
