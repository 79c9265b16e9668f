// The transformations against GDAL's own control-point transformers, against maps built by hand,
// and on point sets that cannot carry them; maps drawn in a projection, fitted in it, rectified
// and compared with gdalwarp; GeoTIFFs in any system read out as GDAL reads them.

#include "commands/ExportCommands.h"
#include "document/CQuilletDoc.h"
#include "geo/GeoCoding.h"
#include "geo/GeoFit.h"
#include "formats/Rectify.h"
#include "formats/ReferenceData.h"
#include "formats/TiffImport.h"
#include "ScriptedUiServices.h"
#include "geo/TransformationResiduals.h"
#include "imaging/DIBSection.h"
#include "platform/MemoryBudget.h"
#include "view/core/OverlayPainter.h"
#include <QPainter>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gdal_alg.h>
#include <gdal_utils.h>
#include <ogr_srs_api.h>
#include <geodesic.h>
#include <proj.h>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>

namespace {

using Map = std::function<QPointF(double column, double row)>;

std::vector<TiePoint> PointsOn(const std::vector<QPointF>& pixels, const Map& map)
{
    std::vector<TiePoint> points;
    for (const QPointF& p : pixels)
        points.push_back({p.x(), p.y(), map(p.x(), p.y()).x(), map(p.x(), p.y()).y()});
    return points;
}

/// 20 pixels on a jittered 5 x 4 grid over a 2000 x 1500 picture.
std::vector<QPointF> GridPixels()
{
    std::vector<QPointF> pixels;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j)
            pixels.emplace_back(100 + 450 * i + 37 * ((i * j) % 3), 80 + 420 * j + 23 * ((i + j) % 2));
    return pixels;
}

/// A smooth relation no kind here reproduces: bent in both directions, with a wave.
QPointF Curved(double c, double r)
{
    return {5.0 + 0.0012 * c + 1.5e-7 * c * r + 0.002 * std::sin(c / 400.0),
            52.0 - 0.0009 * r + 4e-8 * c * c + 0.001 * std::cos(r / 350.0)};
}

const std::vector<QPointF> kOffPoints{{0, 0}, {333.3, 1234.5}, {1777, 91}, {1000.25, 750.75}, {1950, 1450}, {620, 430}};

} // namespace

TEST(Transformation, AgreesWithGdalsTransformersAwayFromThePoints)
{
    const std::vector<TiePoint> points = PointsOn(GridPixels(), Curved);
    std::vector<GDAL_GCP> gcps(points.size());
    for (std::size_t i = 0; i < points.size(); ++i)
        gcps[i] = {const_cast<char*>(""), const_cast<char*>(""), points[i].m_dColumn, points[i].m_dRow, points[i].m_dX, points[i].m_dY, 0.0};
    const struct {
        TransformKind kind;
        int order; ///< 0: GDAL's thin-plate spline
    } cases[] = {{TransformKind::Affine, 1}, {TransformKind::Poly2, 2}, {TransformKind::Poly3, 3}, {TransformKind::Tps, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(TransformKindName(c.kind).toStdString());
        const std::shared_ptr<void> gdal(c.order ? GDALCreateGCPTransformer(20, gcps.data(), c.order, FALSE)
                                                 : GDALCreateTPSTransformer(20, gcps.data(), FALSE),
                                         GDALDestroyTransformer);
        ASSERT_TRUE(gdal);
        const TransformationAnalysis analysis = AnalyseTransformation(c.kind, points);
        ASSERT_TRUE(analysis.m_Fit.m_Transformation) << analysis.m_Fit.m_strRefusal.toStdString();
        const Transformation& ours = *analysis.m_Fit.m_Transformation;
        for (const QPointF& pixel : kOffPoints) {
            double x = pixel.x(), y = pixel.y(), z = 0.0;
            int ok = 0;
            ASSERT_TRUE(GDALUseTransformer(gdal.get(), FALSE, 1, &x, &y, &z, &ok) && ok);
            const std::optional<QPointF> ground = ours.Forward(pixel.x(), pixel.y());
            ASSERT_TRUE(ground);
            EXPECT_NEAR(ground->x(), x, 1e-6);
            EXPECT_NEAR(ground->y(), y, 1e-6);
            // Back from a ground position off the points (not GDAL's own image of this pixel).
            x += 0.01;
            y -= 0.02;
            const std::optional<QPointF> back = ours.Inverse(x, y);
            ASSERT_TRUE(back && GDALUseTransformer(gdal.get(), TRUE, 1, &x, &y, &z, &ok) && ok);
            EXPECT_NEAR(back->x(), x, 1e-3);
            EXPECT_NEAR(back->y(), y, 1e-3);
        }
        // The spline passes through every point, so only the leave-one-out measure tells anything.
        if (c.kind == TransformKind::Tps)
            for (const TransformationResidual& r : analysis.m_Points) {
                EXPECT_LT(std::hypot(r.m_dDx, r.m_dDy), 1e-6);
                EXPECT_LT(r.m_dGroundMetres, 1e-3);
                ASSERT_TRUE(r.m_dLeaveOneOutMetres && r.m_dLeaveOneOutPixels);
                EXPECT_GT(*r.m_dLeaveOneOutMetres, 1.0);
            }
    }
}

TEST(Transformation, HelmertAndProjectiveRecoverTheirOwnKindOfMap)
{
    const double s = 2e-4, turn = 20.0 * M_PI / 180.0;
    const struct {
        TransformKind kind;
        Map truth;
    } cases[] = {
        // North up the rows: (column, -row) turned by 20 degrees and scaled to 2e-4 degree a pixel.
        {TransformKind::Helmert,
         [=](double c, double r) {
             return QPointF(7.0 + s * (std::cos(turn) * c + std::sin(turn) * r), 45.0 + s * (std::sin(turn) * c - std::cos(turn) * r));
         }},
        {TransformKind::Projective,
         [](double c, double r) {
             const double w = 1e-5 * c + 2e-5 * r + 1.0;
             return QPointF((0.001 * c + 0.0002 * r + 10.0) / w, (-0.0001 * c - 0.0009 * r + 45.0) / w);
         }},
    };
    std::vector<QPointF> pixels{{0, 0}, {1000, 0}, {0, 800}, {1000, 800}, {500, 400}, {250, 650}, {800, 200}, {120, 330}};
    geod_geodesic wgs84{};
    geod_init(&wgs84, 6378137.0, 1 / 298.257223563);
    for (const auto& c : cases) {
        SCOPED_TRACE(TransformKindName(c.kind).toStdString());
        const TransformationAnalysis exact = AnalyseTransformation(c.kind, PointsOn(pixels, c.truth));
        ASSERT_TRUE(exact.m_Fit.m_Transformation) << exact.m_Fit.m_strRefusal.toStdString();
        for (const QPointF& pixel : kOffPoints) {
            const QPointF ground = c.truth(pixel.x(), pixel.y());
            const std::optional<QPointF> forward = exact.m_Fit.m_Transformation->Forward(pixel.x(), pixel.y());
            const std::optional<QPointF> back = exact.m_Fit.m_Transformation->Inverse(ground.x(), ground.y());
            ASSERT_TRUE(forward && back);
            EXPECT_NEAR(forward->x(), ground.x(), 1e-10);
            EXPECT_NEAR(forward->y(), ground.y(), 1e-10);
            EXPECT_NEAR(back->x(), pixel.x(), 1e-6);
            EXPECT_NEAR(back->y(), pixel.y(), 1e-6);
        }
        EXPECT_LT(exact.m_dRmsMetres, 1e-4);

        // The centre point's pixel moved by (3, -4): the other seven still fix the truth, so left
        // out it is off by the whole move, 5 pixels, and by the ground between the two pixels.
        std::vector<TiePoint> moved = PointsOn(pixels, c.truth);
        moved[4].m_dColumn += 3;
        moved[4].m_dRow -= 4;
        const TransformationAnalysis analysis = AnalyseTransformation(c.kind, moved);
        ASSERT_TRUE(analysis.m_Fit.m_Transformation);
        const TransformationResidual& r = analysis.m_Points[4];
        ASSERT_TRUE(r.m_dLeaveOneOutPixels && r.m_dLeaveOneOutMetres);
        EXPECT_NEAR(*r.m_dLeaveOneOutPixels, 5.0, 1e-6);
        const QPointF from = c.truth(500, 400), to = c.truth(503, 396);
        double metres = 0.0;
        geod_inverse(&wgs84, from.y(), from.x(), to.y(), to.x(), &metres, nullptr, nullptr);
        EXPECT_NEAR(*r.m_dLeaveOneOutMetres, metres, 1e-4);
        EXPECT_GT(r.m_dGroundMetres, 0.0);
    }
}

TEST(Transformation, RefusesPointSetsThatCannotCarryIt)
{
    const std::vector<TiePoint> grid = PointsOn(GridPixels(), Curved);
    auto first = [&](std::size_t n) { return std::vector<TiePoint>(grid.begin(), grid.begin() + static_cast<std::ptrdiff_t>(n)); };
    auto edited = [&](const std::function<void(std::vector<TiePoint>&)>& edit) {
        std::vector<TiePoint> points = first(8);
        edit(points);
        return points;
    };
    std::vector<QPointF> circle; // six points on one conic leave a second-order polynomial free
    for (int i = 0; i < 6; ++i)
        circle.emplace_back(1000 + 500 * std::cos(i * M_PI / 3), 700 + 500 * std::sin(i * M_PI / 3));
    const struct {
        const char* name;
        TransformKind kind;
        std::vector<TiePoint> points;
        const char* refusal; ///< empty: fitted
    } cases[] = {
        {"poly3", TransformKind::Poly3, first(7), "The third-order polynomial transformation needs at least 10 control points, and the map has 7."},
        {"affine", TransformKind::Affine, first(5), "The affine transformation needs at least 6 control points, and the map has 5."},
        {"projective", TransformKind::Projective, first(3), "The projective transformation needs at least 4 control points, and the map has 3."},
        {"two Helmert", TransformKind::Helmert, first(2), ""},
        {"same pixel", TransformKind::Poly2, edited([](auto& p) { p[4].m_dColumn = p[1].m_dColumn, p[4].m_dRow = p[1].m_dRow; }),
         "Control points 2 and 5 are at the same place on the map."},
        // A trillionth of a degree apart is the same place for any map.
        {"same ground", TransformKind::Tps, edited([](auto& p) { p[5].m_dX = p[2].m_dX + 1e-12, p[5].m_dY = p[2].m_dY; }),
         "Control points 3 and 6 have the same coordinates."},
        {"pixel line", TransformKind::Projective, edited([](auto& p) { for (auto& q : p) q.m_dColumn = 3 * q.m_dRow + 7; }),
         "The control points lie on one line of the map; the projective transformation needs them spread over it."},
        {"ground line", TransformKind::Tps, edited([](auto& p) { for (auto& q : p) q.m_dY = 40 - 0.5 * q.m_dX; }),
         "The control points' coordinates lie on one line; the thin-plate spline transformation needs them spread over the map."},
        {"conic", TransformKind::Poly2, PointsOn(circle, Curved),
         "The control points do not determine a second-order polynomial transformation; spread them more evenly over the map."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TransformationAnalysis analysis = AnalyseTransformation(c.kind, c.points);
        EXPECT_EQ(analysis.m_Fit.m_strRefusal.toStdString(), c.refusal);
        EXPECT_EQ(analysis.m_Fit.m_Transformation.has_value(), *c.refusal == '\0');
        EXPECT_EQ(analysis.m_Points.size(), *c.refusal ? 0u : c.points.size());
    }
    const char* names[] = {"affine", "helmert", "projective", "poly2", "poly3", "tps"};
    const int minimum[] = {6, 2, 4, 6, 10, 3};
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(TransformKindName(TransformKind(k)).toStdString(), names[k]);
        EXPECT_EQ(ParseTransformKind(QString::fromLatin1(names[k]).toUpper()), TransformKind(k));
        EXPECT_EQ(MinimumPoints(TransformKind(k)), minimum[k]);
    }
    EXPECT_FALSE(ParseTransformKind(QStringLiteral("poly4")));
}

TEST(GeoCoding, AffineInTheMapsOwnProjectionReadsOutTheTruth)
{
    const struct {
        const char* crs;
        double west, north, pixel; ///< the picture's top-left corner and pixel size in metres
        double columns, rows;
    } cases[] = {
        {"EPSG:5070", -2.4e6, 3.2e6, 1175.0, 4000, 2500}, // Albers over the conterminous USA
        {"EPSG:3413", -3.0e6, 3.0e6, 2000.0, 3000, 3000}, // polar stereographic, the pole inside
    };
    geod_geodesic wgs84{};
    geod_init(&wgs84, 6378137.0, 1 / 298.257223563);
    auto metres = [&](const GeoPosition& a, const GeoPosition& b) {
        double s = 0.0;
        geod_inverse(&wgs84, a.m_dLatitude, a.m_dLongitude, b.m_dLatitude, b.m_dLongitude, &s, nullptr, nullptr);
        return s;
    };
    PJ_CONTEXT* context = proj_context_create();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.crs);
        PJ* raw = proj_create_crs_to_crs(context, c.crs, "EPSG:4326", nullptr);
        PJ* toLonLat = proj_normalize_for_visualization(context, raw);
        proj_destroy(raw);
        ASSERT_TRUE(toLonLat);
        auto truth = [&](double column, double row) {
            const PJ_COORD g = proj_trans(toLonLat, PJ_FWD, proj_coord(c.west + column * c.pixel, c.north - row * c.pixel, 0, 0));
            return GeoPosition{g.lp.phi, g.lp.lam};
        };
        std::vector<GeoControlPoint> points;
        for (const QPointF& p : GridPixels()) {
            const double column = p.x() * c.columns / 2000, row = p.y() * c.rows / 1500;
            points.push_back({truth(column, row).m_dLatitude, truth(column, row).m_dLongitude, column, row});
        }
        const GeoCodingAnalysis own = GeoCoding::Analyse(TransformKind::Affine, *FitCrs::Parse(c.crs), points);
        const GeoCodingAnalysis geographic = GeoCoding::Analyse(TransformKind::Affine, FitCrs(), points);
        ASSERT_TRUE(own.m_GeoCoding && geographic.m_GeoCoding) << own.m_strRefusal.toStdString();
        EXPECT_LT(own.m_dRmsMetres, 0.01);
        EXPECT_GT(geographic.m_dRmsMetres, 1e5);
        // Ground residuals are the distance on the ellipsoid from the typed position to where the pixel reads out.
        for (std::size_t i = 0; i < points.size(); ++i) {
            const GeoPosition typed{points[i].m_dLatitude, points[i].m_dLongitude};
            const GeoPosition read = geographic.m_GeoCoding->PixelToGeo(points[i].m_dColumn, points[i].m_dRow).value();
            EXPECT_NEAR(geographic.m_Points[i].m_dGroundMetres, metres(typed, read), 1e-6);
        }
        double worstOwn = 0.0, worstGeographic = 0.0;
        for (int k = 0; k < 30; ++k) {
            const double column = c.columns * (0.03 + 0.94 * std::fmod(k * 0.618034, 1.0));
            const double row = c.rows * (0.03 + 0.94 * std::fmod(k * 0.381966 + 0.1, 1.0));
            worstOwn = std::max(worstOwn, metres(own.m_GeoCoding->PixelToGeo(column, row).value(), truth(column, row)));
            worstGeographic = std::max(worstGeographic, metres(geographic.m_GeoCoding->PixelToGeo(column, row).value(), truth(column, row)));
            const QPointF back = own.m_GeoCoding->GeoToPixel(truth(column, row)).value();
            EXPECT_LT(std::hypot(back.x() - column, back.y() - row), 1e-3);
        }
        EXPECT_LT(worstOwn, 1.0);
        EXPECT_GT(worstGeographic, 1000.0);
        proj_destroy(toLonLat);
    }
    proj_context_destroy(context);
}

TEST(GeoCoding, FitCrsIsReadResolvedAndWrittenBack)
{
    const QString notCrs = QStringLiteral("NOT A CRS ").repeated(12);
    const struct {
        QString text;
        std::vector<GeoPosition> points;
        const char* resolved; ///< empty: refused with the refusal
        const char* refusal;
    } cases[] = {
        {"Geographic", {}, "geographic", ""},
        {"utm", {{45.0, 9.0}, {46.0, 9.4}}, "EPSG:32632", ""},          // Milan
        {"UTM", {{-33.0, -70.0}}, "EPSG:32719", ""},                    // Santiago
        {"utm", {{60.4, 5.3}}, "EPSG:32632", ""},                       // Bergen: zone 32 is widened over it
        {"utm", {{78.0, 8.0}}, "EPSG:32631", ""},                       // Svalbard: zone 31 is widened over it
        {"utm", {{-16.0, 177.5}, {-19.0, -178.5}}, "EPSG:32760", ""},   // Fiji, across the date line
        {" EPSG:5070 ", {{40.0, -100.0}}, "EPSG:5070", ""},
        {"+proj=lcc +lat_1=33 +lat_2=45 +lat_0=39 +lon_0=-96 +datum=WGS84", {}, "+proj=lcc +lat_1=33 +lat_2=45 +lat_0=39 +lon_0=-96 +datum=WGS84", ""},
        {"EPSG:999999", {}, "", "The coordinate system \"EPSG:999999\" is not one PROJ knows."},
        // The first 40 and the last 39 characters of a long text.
        {notCrs, {}, "", "The coordinate system \"NOT A CRS NOT A CRS NOT A CRS NOT A CRS \u2026NOT A CRS NOT A CRS NOT A CRS NOT A CRS\" is not one PROJ knows."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        QString refusal;
        const std::optional<FitCrs> crs = FitCrs::Parse(c.text, &refusal);
        EXPECT_EQ(refusal.toStdString(), c.refusal);
        ASSERT_EQ(crs.has_value(), *c.refusal == '\0');
        if (!crs)
            continue;
        const FitCrs resolved = crs->Resolved(c.points);
        EXPECT_EQ(resolved.Text().toStdString(), c.resolved);
        EXPECT_EQ(FitCrs::Parse(crs->Text()), crs);
        EXPECT_TRUE(FitCrsConversion::Create(resolved));
    }
}

TEST(GeoCoding, AutoFindsTheProjectionAMapIsDrawnIn)
{
    const struct {
        const char* truth;
        double west, north, pixel, columns, rows; ///< the picture's top-left corner and pixel size in metres
        double noise;                             ///< metres added to each point, east and north
        const char* family;                       ///< the PROJ string found starts so; empty: refused
        double readOut;                           ///< RMS in metres at 30 other pixels
        const char* refusal;
    } cases[] = {
        {"+proj=lcc +lat_1=20 +lat_2=60 +lat_0=40 +lon_0=-96 +datum=WGS84", -3e6, 2.2e6, 1500, 4000, 2667, 0, "+proj=lcc", 500, ""},
        {"EPSG:3395", -3.3e6, 8.3e6, 2500, 4000, 3700, 0, "+proj=merc", 500, ""}, // the Atlantic, 10 S to 60 N
        {"EPSG:3857", -3.3e6, 8.3e6, 2500, 4000, 3700, 0, "+proj=merc +a=6378137", 500, ""}, // the same as web maps draw it
        {"EPSG:3413", -3e6, 3e6, 2000, 3000, 3000, 0, "+proj=stere +lat_0=90", 500, ""}, // the Arctic
        {"EPSG:3035", 2.5e6, 5.5e6, 1250, 4000, 3200, 0, "+proj=laea", 500, ""},         // Europe
        {"+proj=wintri +lat_1=50.4598 +lon_0=20 +datum=WGS84", -1.2e7, 7e6, 4500, 4000, 3000, 0, "+proj=wintri", 500, ""}, // the world
        // Points 3 km off on a plate carree of Europe: the families that bend fit the noise, not the map.
        {"+proj=eqc +lat_ts=30 +lon_0=10 +datum=WGS84", -1.93e6, 6.68e6, 1250, 3100, 3500, 3000, "+proj=eqc", 1000, ""},
        {"EPSG:3395", -3.3e6, 8.3e6, 2500, 4000, 3700, 3000, "+proj=merc", 1000, ""}, // a cone as flat as a cylinder fits no better
        {"EPSG:32632", 5e5, 5e6, 10, 4000, 3000, 0, "", 0,
         "The projection cannot be told from these points: they span less than 2 degrees, over which every projection "
         "fits them alike."},
    };
    geod_geodesic wgs84{};
    geod_init(&wgs84, 6378137.0, 1 / 298.257223563);
    PJ_CONTEXT* context = proj_context_create();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.truth);
        const QByteArray truthCrs = QByteArray(c.truth) + (*c.truth == '+' ? " +type=crs" : "");
        PJ* raw = proj_create_crs_to_crs(context, truthCrs.constData(), "EPSG:4326", nullptr);
        PJ* toLonLat = proj_normalize_for_visualization(context, raw);
        proj_destroy(raw);
        ASSERT_TRUE(toLonLat);
        auto truth = [&](double column, double row, double dx = 0, double dy = 0) {
            const PJ_COORD g = proj_trans(toLonLat, PJ_FWD,
                                          proj_coord(c.west + column * c.pixel + dx, c.north - row * c.pixel + dy, 0, 0));
            return GeoPosition{g.lp.phi, g.lp.lam};
        };
        std::vector<GeoControlPoint> points;
        int k = 0;
        for (const QPointF& p : GridPixels()) {
            const double column = p.x() * c.columns / 2000, row = p.y() * c.rows / 1500;
            ++k;
            const GeoPosition g = truth(column, row, c.noise * std::sin(7.3 * k), c.noise * std::cos(5.1 * k));
            points.push_back({g.m_dLatitude, g.m_dLongitude, column, row});
        }
        const GeoCodingAnalysis found = GeoCoding::Analyse(TransformKind::Affine, *FitCrs::Parse("Auto"), points);
        EXPECT_EQ(found.m_strRefusal.toStdString(), c.refusal);
        if (*c.family == '\0') {
            EXPECT_FALSE(found.m_GeoCoding);
        } else {
            ASSERT_TRUE(found.m_GeoCoding);
            EXPECT_TRUE(found.m_GeoCoding->Crs().Text().startsWith(c.family)) << found.m_GeoCoding->Crs().Text().toStdString();
            double sum = 0.0;
            for (int i = 0; i < 30; ++i) {
                const double column = c.columns * (0.03 + 0.94 * std::fmod(i * 0.618034, 1.0));
                const double row = c.rows * (0.03 + 0.94 * std::fmod(i * 0.381966 + 0.1, 1.0));
                const GeoPosition read = found.m_GeoCoding->PixelToGeo(column, row).value(), real = truth(column, row);
                double s = 0.0;
                geod_inverse(&wgs84, read.m_dLatitude, read.m_dLongitude, real.m_dLatitude, real.m_dLongitude, &s, nullptr, nullptr);
                sum += s * s;
            }
            EXPECT_LT(std::sqrt(sum / 30), c.readOut);
        }
        proj_destroy(toLonLat);
    }
    proj_context_destroy(context);
}

namespace {

/// A 600 x 400 map drawn in Albers over the USA (2 km pixels from its top-left corner at
/// -1200 km, 2400 km): a smooth colour pattern, geo-coded by an affine fit in its own projection
/// to 20 points whose latitude and longitude PROJ gives.
struct AlbersMap {
    static constexpr double kWest = -1.2e6, kNorth = 2.4e6, kPixel = 2000.0;
    DIBSection picture;
    std::optional<GeoCoding> geoCoding;

    AlbersMap()
    {
        picture.Create(24, 600, 400);
        for (int row = 0; row < 400; ++row) {
            std::uint8_t* bgr = picture.StoredRow(399 - row);
            for (int column = 0; column < 600; ++column, bgr += 3) {
                bgr[0] = std::uint8_t(128 + 100 * std::sin(column / 23.0));
                bgr[1] = std::uint8_t(128 + 100 * std::cos(row / 17.0));
                bgr[2] = std::uint8_t(128 + 100 * std::sin((column + row) / 41.0));
            }
        }
        PJ_CONTEXT* context = proj_context_create();
        PJ* raw = proj_create_crs_to_crs(context, "EPSG:5070", "EPSG:4326", nullptr);
        PJ* toLonLat = proj_normalize_for_visualization(context, raw);
        std::vector<GeoControlPoint> points;
        for (const QPointF& p : GridPixels()) {
            const double column = p.x() * 0.3, row = p.y() * 0.26;
            const PJ_COORD g = proj_trans(toLonLat, PJ_FWD, proj_coord(kWest + column * kPixel, kNorth - row * kPixel, 0, 0));
            points.push_back({g.lp.phi, g.lp.lam, column, row});
        }
        proj_destroy(toLonLat);
        proj_destroy(raw);
        proj_context_destroy(context);
        geoCoding = std::move(GeoCoding::Analyse(TransformKind::Affine, *FitCrs::Parse("EPSG:5070"), points).m_GeoCoding);
    }

    /// The same pixels with their georeference, as GDAL reads a GeoTIFF of them.
    GDALDatasetH Georeferenced() const
    {
        GDALDatasetH dataset = GDALCreate(GDALGetDriverByName("MEM"), "", 600, 400, 3, GDT_Byte, nullptr);
        for (int band = 0; band < 3; ++band)
            for (int row = 0; row < 400; ++row) {
                std::uint8_t line[600];
                for (int column = 0; column < 600; ++column)
                    line[column] = picture.StoredRow(399 - row)[3 * column + 2 - band];
                EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(dataset, band + 1), GF_Write, 0, row, 600, 1, line, 600, 1,
                                       GDT_Byte, 0, 0), CE_None);
            }
        double geoTransform[6] = {kWest, kPixel, 0, kNorth, 0, -kPixel};
        GDALSetGeoTransform(dataset, geoTransform);
        OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
        OSRImportFromEPSG(srs, 5070);
        GDALSetSpatialRef(dataset, srs);
        OSRDestroySpatialReference(srs);
        return dataset;
    }
};

std::vector<std::uint8_t> Bands(GDALDatasetH dataset, int width, int height)
{
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 4);
    EXPECT_EQ(GDALDatasetRasterIO(dataset, GF_Read, 0, 0, width, height, pixels.data(), width, height, GDT_Byte, 4,
                                  nullptr, 4, 4 * width, 1), CE_None);
    return pixels;
}

} // namespace

TEST(Rectify, MatchesGdalwarpOnTheSameGrid)
{
    const AlbersMap map;
    ASSERT_TRUE(map.geoCoding);
    GDALAllRegister();
    const struct {
        const char* crs;
        RectifyResampling resampling;
        const char* gdalResampling;
        std::optional<std::array<double, 2>> resolution;
        std::optional<std::array<double, 4>> extent;
        bool mask; ///< cut to a quadrilateral given in pixels (ours) and in Albers metres (gdalwarp's)
        bool inMemory = false; ///< RectifyToLatLong: white, which the pattern never is, where the map is not
    } cases[] = {
        {"EPSG:4326", RectifyResampling::Bilinear, "bilinear", {}, {}, false},
        {"EPSG:32614", RectifyResampling::Cubic, "cubic", {{3000.0, 2500.0}}, {}, false},
        {"EPSG:4326", RectifyResampling::Near, "near", {}, {{-104.0, 38.0, -96.0, 45.0}}, false},
        {"EPSG:4326", RectifyResampling::Bilinear, "bilinear", {}, {}, true},
        {"EPSG:4326", RectifyResampling::Bilinear, "bilinear", {}, {}, false, true},
    };
    const double quadrilateral[][2] = {{100, 50}, {500, 80}, {450, 350}, {120, 300}, {100, 50}};
    QString inPixels, inMetres;
    for (const auto& p : quadrilateral) {
        inPixels += QStringLiteral("%1[%2, %3]").arg(inPixels.isEmpty() ? "" : ", ").arg(p[0]).arg(p[1]);
        inMetres += QStringLiteral("%1[%2, %3]").arg(inMetres.isEmpty() ? "" : ", ")
                        .arg(AlbersMap::kWest + p[0] * AlbersMap::kPixel, 0, 'f', 1)
                        .arg(AlbersMap::kNorth - p[1] * AlbersMap::kPixel, 0, 'f', 1);
    }
    QTemporaryDir folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.crs);
        RectifyOptions options;
        options.m_strCrs = c.crs;
        options.m_eResampling = c.resampling;
        options.m_Resolution = c.resolution;
        options.m_Extent = c.extent;
        if (c.mask)
            options.m_strMask = QStringLiteral(R"({"type": "Feature", "geometry": {"type": "Polygon", "coordinates": [[%1]]}})").arg(inPixels);
        const QString path = folder.filePath("rectified.tif");
        const RectifiedPicture inMemory = c.inMemory ? RectifyToLatLong(map.picture, *map.geoCoding) : RectifiedPicture();
        const DIBSection& p = inMemory.m_Picture;
        const RectifyResult result = c.inMemory ? RectifyResult{RectifiedGrid{c.crs,
            {inMemory.m_dWest, inMemory.m_dDegreesPerColumn, 0, inMemory.m_dNorth, 0, -inMemory.m_dDegreesPerRow},
            p.m_nWidth, p.m_nHeight}, inMemory.m_strRefusal} : RectifyMap(map.picture, *map.geoCoding, options, path);
        ASSERT_TRUE(result.m_Grid && (!c.inMemory || p.m_pBits)) << result.m_strRefusal.toStdString();
        const RectifiedGrid& grid = *result.m_Grid;
        if (!c.inMemory) {
            EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).filter(".tif"), QStringList{"rectified.tif"});
        }
        const QByteArray cutline = folder.filePath("cut.geojson").toUtf8();
        {
            QFile file(QString::fromUtf8(cutline));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(QStringLiteral(R"({"type": "FeatureCollection", "crs": {"type": "name", "properties": {"name": "EPSG:5070"}},
                "features": [{"type": "Feature", "properties": {}, "geometry": {"type": "Polygon", "coordinates": [[%1]]}}]})")
                           .arg(inMetres).toUtf8());
        }

        // gdalwarp on the georeferenced pixels, told the grid the rectified file has.
        const double* g = grid.m_GeoTransform.data();
        const std::string te[] = {std::to_string(g[0]), std::to_string(g[3] + grid.m_nHeight * g[5]),
                                  std::to_string(g[0] + grid.m_nWidth * g[1]), std::to_string(g[3])};
        const std::string ts[] = {std::to_string(grid.m_nWidth), std::to_string(grid.m_nHeight)};
        const char* argv[] = {"-t_srs", c.crs, "-te", te[0].c_str(), te[1].c_str(), te[2].c_str(), te[3].c_str(),
                              "-ts", ts[0].c_str(), ts[1].c_str(), "-r", c.gdalResampling, "-dstalpha", "-of", "MEM",
                              c.mask ? "-cutline" : nullptr, cutline.constData(), nullptr};
        GDALWarpAppOptions* warpOptions = GDALWarpAppOptionsNew(const_cast<char**>(argv), nullptr);
        GDALDatasetH source = map.Georeferenced();
        GDALDatasetH reference = GDALWarp("", nullptr, 1, &source, warpOptions, nullptr);
        GDALWarpAppOptionsFree(warpOptions);
        ASSERT_TRUE(reference);
        std::vector<std::uint8_t> a;
        for (int row = 0; row < p.m_nHeight; ++row)
            for (const std::uint8_t* bgr = p.StoredRow(p.m_nHeight - 1 - row); bgr < p.StoredRow(p.m_nHeight - 1 - row) + 3 * p.m_nWidth; bgr += 3)
                a.insert(a.end(), {bgr[2], bgr[1], bgr[0], std::uint8_t(bgr[0] & bgr[1] & bgr[2]) == 255 ? std::uint8_t(0) : std::uint8_t(255)});
        GDALDatasetH ours = c.inMemory ? nullptr : GDALOpen(path.toUtf8().constData(), GA_ReadOnly);
        ASSERT_TRUE(ours || c.inMemory);
        if (ours) {
            ASSERT_EQ(GDALGetRasterCount(ours), 4);
            EXPECT_EQ(GDALGetRasterColorInterpretation(GDALGetRasterBand(ours, 4)), GCI_AlphaBand);
            a = Bands(ours, grid.m_nWidth, grid.m_nHeight);
        }
        const auto b = Bands(reference, grid.m_nWidth, grid.m_nHeight);
        long both = 0, either = 0, close = 0;
        for (std::size_t i = 0; i < a.size(); i += 4) {
            either += a[i + 3] || b[i + 3];
            if (!(a[i + 3] && b[i + 3]))
                continue;
            ++both;
            close += std::abs(a[i] - b[i]) <= 4 && std::abs(a[i + 1] - b[i + 1]) <= 4 && std::abs(a[i + 2] - b[i + 2]) <= 4;
        }
        ASSERT_GT(both, 1000);
        EXPECT_GE(double(both) / either, 0.98);
        EXPECT_GE(double(close) / both, 0.98);
        if (ours)
            GDALClose(ours);
        GDALClose(reference);
        GDALClose(source);
    }
}

TEST(Rectify, RefusesAndCancelsWithoutLeavingAFile)
{
    const AlbersMap map;
    ASSERT_TRUE(map.geoCoding);
    const struct {
        const char* crs;
        std::optional<std::array<double, 4>> extent;
        std::optional<std::array<double, 2>> resolution;
        const char* mask;
        bool cancel;
        const char* refusal; ///< its start
        bool inMemory = false; ///< RectifyToLatLong, under a memory ceiling when it is to refuse
    } cases[] = {
        {"EPSG:4326", {{10.0, 40.0, 20.0, 50.0}}, {}, "", false, "The extent misses the map."},
        {"EPSG:4326", {}, {}, "LINESTRING (0 0, 300 300)", false, "The mask is not a polygon."},
        {"EPSG:4326", {}, {}, R"({"type": "Point", "coordinates": [5, 5]})", false, "The mask is not a polygon."},
        {"EPSG:999999", {}, {}, "", false, "The coordinate system \"EPSG:999999\" is not one PROJ knows."},
        {"EPSG:4326", {}, {{1e-6, 1e-6}}, "", false, "This map needs "},
        {"EPSG:4326", {}, {}, "POLYGON ((50 50, 550 50, 550 350, 50 50))", true, ""},
        {"EPSG:4326", {}, {}, "", false, "This map needs ", true},
        {"EPSG:4326", {}, {}, "", true, "", true},
    };
    QTemporaryDir folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refusal);
        RectifyOptions options;
        options.m_strCrs = c.crs;
        options.m_Extent = c.extent;
        options.m_Resolution = c.resolution;
        options.m_strMask = c.mask;
        ProgressState state;
        state.m_OnReport = [&](double fraction) {
            if (c.cancel && fraction > 0.1)
                state.Cancel();
        };
        if (c.inMemory) {
            SetMemoryCeiling(*c.refusal ? 100000 : 0);
            const RectifiedPicture rectified = RectifyToLatLong(map.picture, *map.geoCoding, RectifyResampling::Near, Progress(state));
            SetMemoryCeiling(0);
            EXPECT_FALSE(rectified.m_Picture.m_pBits);
            EXPECT_EQ(rectified.m_bCancelled, c.cancel);
            EXPECT_EQ(rectified.m_strRefusal.left(int(std::strlen(c.refusal))), QString(c.refusal));
            continue;
        }
        const RectifyResult result = RectifyMap(map.picture, *map.geoCoding, options, folder.filePath("out.tif"), Progress(state));
        EXPECT_FALSE(result.m_Grid);
        EXPECT_EQ(result.m_bCancelled, c.cancel);
        EXPECT_EQ(result.m_strRefusal.left(int(std::strlen(c.refusal))), QString(c.refusal));
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
    }
}

TEST(GeoTiffCrs, AnySystemReadsOutAsGdalDoesAndExportsKeepIt)
{
    // GeoTIFFs GDAL writes in systems other than a WGS 84 or NAD27 zone its citation names: the
    // corners and centre where GDAL's transformer to WGS 84 puts them, the frame's edges through
    // the top-left and bottom-right ones, and a GeoTIFF export in the file's system, datum and all.
    // (Here, not with the frame tests: GDAL teaches libtiff tags the TIFF message tests must not know.)
    const double c = 1e-3 * std::cos(0.35), s = 1e-3 * std::sin(0.35);
    const struct {
        const char* srs;
        std::array<double, 6> gt;
        bool pixelIsPoint = false; // the tie point at the top-left pixel's centre
    } cases[] = {
        {"EPSG:5070", {1000000.0, 250.0, 0.0, 2000000.0, 0.0, -250.0}}, // NAD83 Conus Albers
        {"EPSG:4326", {10.0, c, s, 50.0, s, -c}},                       // degrees, turned
        {"EPSG:26913", {500000.0, 30.0, 0.0, 4300000.0, 0.0, -30.0}},   // NAD83 / UTM zone 13N
        {"EPSG:26913", {500000.0, 30.0, 0.0, 4300000.0, 0.0, -30.0}, true},
        {"+proj=utm +zone=18 +ellps=WGS84", {300000.0, 3000.0, 0.0, 2800000.0, 0.0, -3000.0}},
        {"EPSG:32633", {500000.0, 0.005, 0.0, 5000000.0, 0.0, -0.005}}, // 5 mm pixels are no degrees
        {"EPSG:4267", {-100.0, 0.001, 0.0, 40.0, 0.0, -0.001}},          // NAD27 degrees, shifted to WGS 84
        // A datum shift and a skew angle, which libgeotiff's PROJ text drops.
        {"+proj=tmerc +lat_0=49 +lon_0=-2 +k=0.9996012717 +x_0=400000 +y_0=-100000 +ellps=airy "
         "+towgs84=446.448,-125.157,542.06,0.15,0.247,0.842,-20.489",
         {400000.0, 250.0, 0.0, 300000.0, 0.0, -250.0}},
        {"+proj=omerc +lat_0=4 +lonc=115 +alpha=53.3 +gamma=53.13 +k=0.99984 +x_0=590476.87 +y_0=442857.65 "
         "+ellps=evrstSS",
         {500000.0, 250.0, 0.0, 500000.0, 0.0, -250.0}},
    };
    const int width = 400, height = 300;
    GDALAllRegister();
    ScriptedUiServices ui;
    ScopedUiServices installed(ui);
    QTemporaryDir dir;
    const QByteArray path = dir.filePath(QStringLiteral("map.tif")).toUtf8();
    const QByteArray out = dir.filePath(QStringLiteral("out.tif")).toUtf8();
    for (const auto& map : cases) {
        SCOPED_TRACE(std::string(map.srs) + (map.pixelIsPoint ? ", pixel is point" : ""));
        OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
        ASSERT_EQ(OSRSetFromUserInput(srs, map.srs), OGRERR_NONE);
        GDALDatasetH made =
            GDALCreate(GDALGetDriverByName("GTiff"), path.constData(), width, height, 1, GDT_Byte, nullptr);
        GDALSetGeoTransform(made, const_cast<double*>(map.gt.data()));
        GDALSetSpatialRef(made, srs);
        GDALSetMetadataItem(made, "AREA_OR_POINT", map.pixelIsPoint ? "Point" : "Area", nullptr);
        GDALClose(made);
        CQuilletDoc doc;
        TiffImport import = ImportTiffImages(QString::fromUtf8(path));
        doc.InstallTiffMap(QString::fromUtf8(path), MapKind::Tif, import.TakeImages(), import.MapGeoreference());
        ASSERT_TRUE(doc.IsGeoCoded() && doc.HasGeoTiffFrame());
        GDALDatasetH dataset = GDALOpen(path.constData(), GA_ReadOnly);
        const char* options[] = {"DST_SRS=EPSG:4326", nullptr};
        void* gdal = GDALCreateGenImgProjTransformer2(dataset, nullptr, const_cast<char**>(options));
        const double places[][2] = {{0, 0}, {width, height}, {width / 2.0, height / 2.0}, {width, 0}};
        for (const auto& [column, row] : places) {
            double x = column, y = row, z = 0.0;
            int ok = 0;
            ASSERT_TRUE(GDALGenImgProjTransform(gdal, FALSE, 1, &x, &y, &z, &ok) && ok);
            const std::optional<GeoPosition> ours = doc.PositionOfPixel(column, row);
            ASSERT_TRUE(ours);
            EXPECT_NEAR(ours->m_dLongitude, x, 1e-7) << column << ", " << row;
            EXPECT_NEAR(ours->m_dLatitude, y, 1e-7) << column << ", " << row;
            if (column == 0 || row == height) {
                EXPECT_NEAR(doc.GeoOrigin().m_dLongitude + (column ? doc.GeoExtent().m_dLongitude : 0.0), x, 1e-7);
                EXPECT_NEAR(doc.GeoOrigin().m_dLatitude + (row ? 0.0 : doc.GeoExtent().m_dLatitude), y, 1e-7);
            }
        }
        GDALDestroyGenImgProjTransformer(gdal);
        GDALClose(dataset);
        ASSERT_TRUE(ExportGeoreferenced(doc, std::nullopt, ExportKind::GeoTiff, QString::fromUtf8(out)).m_bDone);
        GDALDatasetH exported = GDALOpen(out.constData(), GA_ReadOnly);
        std::array<double, 6> written{};
        GDALGetGeoTransform(exported, written.data());
        EXPECT_EQ(written, map.gt);
        const char* same[] = {"IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES", nullptr};
        EXPECT_TRUE(OSRIsSameEx(GDALGetSpatialRef(exported), srs, same));
        GDALClose(exported);
        OSRDestroySpatialReference(srs);
    }
}

TEST(GeoCoding, APolarMapIsJudgedAcrossTheDateLine)
{
    // An Arctic map in EPSG:3413, 4 km a pixel, whose first point is typed at 180 degrees: it reads
    // out at -180 or a hair west of 180, the same meridian.
    PJ_CONTEXT* context = proj_context_create();
    PJ* raw = proj_create_crs_to_crs(context, "EPSG:3413", "EPSG:4326", nullptr);
    PJ* toLonLat = proj_normalize_for_visualization(context, raw);
    proj_destroy(raw);
    std::vector<CDataGeo> points;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j) {
            const double column = 100 + 200 * i + 13 * j, row = 100 + 200 * j + 7 * i;
            const PJ_COORD g = proj_trans(toLonLat, PJ_FWD, proj_coord(-2e6 + 4000 * column, 2e6 - 4000 * row, 0, 0));
            points.push_back({g.lp.phi * 3600, (i == 0 && j == 0 ? 180.0 : g.lp.lam) * 3600, column / 1000, 1 - row / 1000});
        }
    proj_destroy(toLonLat);
    proj_context_destroy(context);
    ASSERT_NEAR(std::fabs(points[0].m_dLongitude / 3600), 180.0, 1e-9); // on the date line
    const GeoFitResult fit = ComputeGeoFit({TransformKind::Affine, *FitCrs::Parse(QStringLiteral("EPSG:3413"))}, points,
                                           1000, 1000, {}, 0);
    EXPECT_EQ(fit.m_Outcome, GeoFitOutcome::Accepted) << fit.m_strReport.toStdString();
    EXPECT_LT(fit.m_dAccuracy.value_or(1e9), 0.01);
    for (const auto& [longitude, reference, near] : {std::tuple{179.9, -180.0, -180.1}, {-179.9, 180.0, 180.1},
                                                     {10.0, 12.0, 10.0}, {-170.0, 175.0, 190.0}})
        EXPECT_DOUBLE_EQ(LongitudeNear(longitude, reference), near);
}

TEST(Overlay, GraticuleOfAReferenceLiesWhereProjPutsIt)
{
    // Meridians and parallels as two-vertex lines, as a GIS writes a graticule, and two points:
    // straight in latitude and longitude, curved on the Albers map.
    const AlbersMap map;
    ASSERT_TRUE(map.geoCoding);
    QTemporaryDir dir;
    QByteArray features;
    const auto feature = [&](const char* type, const QByteArray& coordinates) {
        features += (features.isEmpty() ? "" : ",") + QByteArray("{\"type\":\"Feature\",\"properties\":{},\"geometry\":{\"type\":\"") +
                    type + "\",\"coordinates\":" + coordinates + "}}";
    };
    for (int longitude = -112; longitude <= -96; longitude += 2)
        feature("LineString", QByteArray("[[%1,35],[%1,49]]").replace("%1", QByteArray::number(longitude)));
    for (int latitude = 36; latitude <= 48; latitude += 2)
        feature("LineString", QByteArray("[[-114,%1],[-94,%1]]").replace("%1", QByteArray::number(latitude)));
    feature("MultiPoint", "[[-100,42],[-105,44]]");
    QFile file(dir.filePath(QStringLiteral("graticule.geojson")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("{\"type\":\"FeatureCollection\",\"features\":[" + features + "]}");
    file.close();

    const Parsed<ReferenceData> reference = ReadReference(file.fileName());
    ASSERT_TRUE(reference) << reference.Why().toStdString();
    const std::optional<FitCrsConversion> source = FitCrsConversion::Create(reference->m_Crs);
    ASSERT_TRUE(source);
    const OverlayDrawing drawing = DrawOverlay(reference->m_Shapes, &*source, *map.geoCoding, QRectF(0, 0, 600, 400));
    ASSERT_EQ(drawing.m_Points.size(), 2u);
    QImage image(600, 400, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        PaintOverlay(painter, drawing, QColor(255, 0, 0));
    }

    PJ_CONTEXT* context = proj_context_create();
    PJ* raw = proj_create_crs_to_crs(context, "EPSG:4326", "EPSG:5070", nullptr);
    PJ* toAlbers = proj_normalize_for_visualization(context, raw);
    const auto redNear = [&](double longitude, double latitude, int reach) {
        const PJ_COORD xy = proj_trans(toAlbers, PJ_FWD, proj_coord(longitude, latitude, 0, 0));
        const int column = static_cast<int>(std::floor((xy.xy.x - AlbersMap::kWest) / AlbersMap::kPixel));
        const int row = static_cast<int>(std::floor((AlbersMap::kNorth - xy.xy.y) / AlbersMap::kPixel));
        if (column < reach || row < reach || column >= 600 - reach || row >= 400 - reach)
            return std::optional<bool>(); // off the map: nothing to find
        for (int dy = -reach; dy <= reach; ++dy)
            for (int dx = -reach; dx <= reach; ++dx)
                if (image.pixel(column + dx, row + dy) == qRgb(255, 0, 0))
                    return std::optional<bool>(true);
        return std::optional<bool>(false);
    };
    int sampled = 0, missed = 0;
    for (double t = 0; t <= 1.0; t += 1.0 / 256) {
        for (int longitude = -112; longitude <= -96; longitude += 2)
            if (const std::optional<bool> found = redNear(longitude, 35 + 14 * t, 1); found && ++sampled)
                missed += !*found;
        for (int latitude = 36; latitude <= 48; latitude += 2)
            if (const std::optional<bool> found = redNear(-114 + 20 * t, latitude, 1); found && ++sampled)
                missed += !*found;
    }
    EXPECT_GT(sampled, 1000);
    EXPECT_EQ(missed, 0) << "of " << sampled << " samples";
    EXPECT_EQ(redNear(-100, 42, 0), std::optional<bool>(true)); // the points' crosses are centred on them
    EXPECT_EQ(redNear(-105, 44, 0), std::optional<bool>(true));
    // And nothing else is red: a pixel away from every line and point stays white.
    EXPECT_EQ(redNear(-103, 41, 3), std::optional<bool>(false));
    proj_destroy(toAlbers);
    proj_destroy(raw);
    proj_context_destroy(context);
}
