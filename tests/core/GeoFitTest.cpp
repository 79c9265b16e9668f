#include "FitTestPoints.h"

#include "geo/GeoFit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

const QString kReportHeader = QStringLiteral("The following points cause \n the failure of projection:\n\n Index\tError in second \n");
const QString kAccuracyCaption = QStringLiteral("Projection Accuracy");
const QString kAppTitle = QStringLiteral("Varnel");

/// A model block whose every slot is recognisable, to see which slots a run replaced.
std::array<double, 16> SentinelCoefficients()
{
    std::array<double, 16> coef{};
    for (std::size_t i = 0; i < coef.size(); ++i)
        coef[i] = -1000.0 - 7.25 * static_cast<double>(i);
    return coef;
}

/// Expects the six model slots to hold the map and the other ten to be the sentinels. The
/// tolerance is relative to the map's largest slope (for the slopes) and to its largest number
/// (for the offsets): a slope that should be zero is only as exact as the largest one.
void ExpectStoredMap(const std::array<double, 16>& coef, const AffineMap& map, double relative)
{
    const double slopeScale = std::max({std::fabs(map.m_dColumnPerLat), std::fabs(map.m_dColumnPerLon),
                                        std::fabs(map.m_dRowPerLat), std::fabs(map.m_dRowPerLon)});
    const double offsetScale = std::max({slopeScale, std::fabs(map.m_dColumnOffset), std::fabs(map.m_dRowOffset)});
    EXPECT_NEAR(coef[0], map.m_dColumnPerLat, relative * slopeScale) << "slot 0";
    EXPECT_NEAR(coef[1], map.m_dColumnPerLon, relative * slopeScale) << "slot 1";
    EXPECT_NEAR(coef[3], map.m_dColumnOffset, relative * offsetScale) << "slot 3";
    EXPECT_NEAR(coef[4], map.m_dRowPerLat, relative * slopeScale) << "slot 4";
    EXPECT_NEAR(coef[5], map.m_dRowPerLon, relative * slopeScale) << "slot 5";
    EXPECT_NEAR(coef[7], map.m_dRowOffset, relative * offsetScale) << "slot 7";
    const std::array<double, 16> sentinel = SentinelCoefficients();
    for (std::size_t i : {2u, 6u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u})
        EXPECT_EQ(coef[i], sentinel[i]) << "slot " << i << " must be carried through";
}

// ---------------------------------------------------------------------------------------------
// Fewer than six points: the geo-coding is withdrawn silently and the model kept.

TEST(GeoFit, ReportListsTheWorstTwentyAndCountsTheRest)
{
    // A 10 x 4 grid over one degree of latitude and two of longitude (threshold 36 arc-seconds) at
    // 3600 pixels a degree, each point moved along its row in a checkerboard that leaves the fit
    // exact: 40 arc-seconds off on the first two rows, 60 on the last two.
    std::vector<CDataGeo> points;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 10; ++c) {
            const double lat = 41 - r / 3.0, lon = 10 + c * 2 / 9.0;
            const double shift = ((r + c) % 2 ? 1 : -1) * (r < 2 ? 40 : 60);
            points.push_back(CDataGeo::FromDegrees(lat, lon, ((lon - 10) * 3600 + 100 + shift) / 7400,
                                                   1 - ((41 - lat) * 3600 + 100) / 3800));
        }
    const GeoFitResult fit = ComputeGeoFit(points, 7400, 3800, {}, 0);
    QString listed;
    for (int i = 21; i <= 40; ++i)
        listed += QString::asprintf(" %d\t60.000 \n", i);
    EXPECT_EQ(fit.m_Outcome, GeoFitOutcome::Rejected);
    EXPECT_EQ(fit.m_strReport, kReportHeader + listed + " ... and 20 more points \n\n Threshold: 36.000 second");
}

TEST(GeoFit, FewerThanSixPointsAreSilent)
{
    const AffineMap map{10.0, 2000.0, 500.0, -3000.0, 5.0, 140000.0};
    const std::vector<CDataGeo> six = ExactAffinePoints(map, 45.0, -75.0, 1.0, 2.0, 5000, 4000);
    for (std::size_t count : {0u, 1u, 3u, 5u}) {
        SCOPED_TRACE(count);
        const std::vector<CDataGeo> points(six.begin(), six.begin() + static_cast<std::ptrdiff_t>(count));
        const GeoFitResult fit = ComputeGeoFit(points, 5000, 4000, SentinelCoefficients(), 1);
        EXPECT_EQ(fit.m_Outcome, GeoFitOutcome::TooFewPoints);
        EXPECT_EQ(fit.m_bGeoCoded, 0);
        EXPECT_EQ(fit.m_dGeoCoef, SentinelCoefficients());
        EXPECT_FALSE(fit.m_Message.has_value());
        EXPECT_TRUE(fit.m_dResiduals.empty());
        EXPECT_FALSE(fit.m_dThreshold.has_value());
        EXPECT_FALSE(fit.m_dAccuracy.has_value());
    }
    // The same points with the sixth added are fitted: the count, not the quality, decided.
    EXPECT_EQ(ComputeGeoFit(six, 5000, 4000, SentinelCoefficients(), 0).m_Outcome, GeoFitOutcome::Accepted);
}

// ---------------------------------------------------------------------------------------------
// Six points exactly on an affine image of their coordinates.

struct ExactCase {
    const char* m_pName;
    AffineMap m_Map;
    double m_dLat0, m_dLon0, m_dLatSpan, m_dLonSpan; // degrees
    int m_nWidth, m_nHeight;
    double m_dThreshold; // arc-seconds, worked out from the spans by hand

    friend void PrintTo(const ExactCase& c, std::ostream* os) { *os << c.m_pName; }
};

class GeoFitExact : public testing::TestWithParam<ExactCase> {};

TEST_P(GeoFitExact, IsAcceptedWithZeroAccuracyAndStoresTheMap)
{
    const ExactCase& c = GetParam();
    const std::vector<CDataGeo> points =
        ExactAffinePoints(c.m_Map, c.m_dLat0, c.m_dLon0, c.m_dLatSpan, c.m_dLonSpan, c.m_nWidth, c.m_nHeight);
    const GeoFitResult fit = ComputeGeoFit(points, c.m_nWidth, c.m_nHeight, SentinelCoefficients(), 0);

    ASSERT_EQ(fit.m_Outcome, GeoFitOutcome::Accepted);
    EXPECT_EQ(fit.m_bGeoCoded, 1);
    ASSERT_EQ(fit.m_dResiduals.size(), points.size());
    for (double residual : fit.m_dResiduals)
        EXPECT_NEAR(residual, 0.0, 1e-5);
    ASSERT_TRUE(fit.m_dThreshold.has_value());
    EXPECT_NEAR(*fit.m_dThreshold, c.m_dThreshold, 1e-9);
    ASSERT_TRUE(fit.m_dAccuracy.has_value());
    EXPECT_NEAR(*fit.m_dAccuracy, 0.0, 1e-5);
    ExpectStoredMap(fit.m_dGeoCoef, c.m_Map, 1e-8);

    // The stored model, read the way the pointer read-out reads it, puts each point on its pixel.
    for (const CDataGeo& point : points) {
        const double lat = point.m_dLatitude / 3600.0, lon = point.m_dLongitude / 3600.0;
        EXPECT_NEAR(fit.m_dGeoCoef[0] * lat + fit.m_dGeoCoef[1] * lon + fit.m_dGeoCoef[3],
                    point.m_dImageX * c.m_nWidth, 1e-4);
        EXPECT_NEAR(fit.m_dGeoCoef[4] * lat + fit.m_dGeoCoef[5] * lon + fit.m_dGeoCoef[7],
                    (1.0 - point.m_dImageY) * c.m_nHeight, 1e-4);
    }

    ASSERT_TRUE(fit.m_Message.has_value());
    EXPECT_EQ(fit.m_Message->m_strText, QStringLiteral("The map is successfully geo coded. The accuracy is 0.00 second."));
    EXPECT_EQ(fit.m_Message->m_strCaption, kAccuracyCaption);
    EXPECT_EQ(fit.m_Message->m_nType, MB_OK | MB_ICONINFORMATION);
}

INSTANTIATE_TEST_SUITE_P(
    GeoFitMaps, GeoFitExact,
    testing::Values(
        // 1 x 2 degrees: the smaller span is 3600", so the threshold is 36".
        ExactCase{"OneByTwoDegrees", {12.0, 3000.0, 225300.0, -3500.0, 40.0, 161600.0}, 45.0, -75.0, 1.0, 2.0, 6400,
                  3800, 36.0},
        // The longitude span (0.5 degree = 1800") is the smaller: 18".
        ExactCase{"LongitudeSpanSmaller", {-150.0, 4000.0, -10000.0, -2000.0, 300.0, 100000.0}, 48.0, 3.0, 2.0, 0.5,
                  2100, 4300, 18.0},
        // Rotated and sheared map south of the equator, 0.1 x 0.1 degree: 3.6".
        ExactCase{"RotatedSouthern", {8000.0, 30000.0, -4200000.0, -28000.0, 9000.0, -2311000.0}, -33.95, 151.15, 0.1,
                  0.1, 3000, 3000, 3.6},
        // 20" by 50": a hundredth of 20" is below the floor, so the threshold is 0.36".
        ExactCase{"SpanUnder36SecondsUsesFloor", {0.0, 900000.0, -9000000.0, -900000.0, 0.0, 9000500.0}, 10.0, 10.0,
                  20.0 / 3600.0, 50.0 / 3600.0, 13000, 6000, 0.36},
        // 100" by 200": a hundredth of 100" is 1", above the floor.
        ExactCase{"SpanOver36Seconds", {0.0, 90000.0, 1000.0, -90000.0, 0.0, 4501000.0}, 50.0, 0.0, 100.0 / 3600.0,
                  200.0 / 3600.0, 7000, 4000, 1.0}),
    [](const testing::TestParamInfo<ExactCase>& info) { return std::string(info.param.m_pName); });

// ---------------------------------------------------------------------------------------------
// Residuals against the threshold, on a grid whose least-squares answer is known (see
// PerturbedGrid): the centre's residual is the larger of its two shifts, the side middles' a
// quarter of that, the corners' zero.

struct ThresholdCase {
    const char* m_pName;
    double m_dLatSpan, m_dLonSpan;       // degrees
    double m_dCentreRow, m_dCentreColumn; // pixels = arc-seconds
    GeoFitOutcome m_Outcome;
    double m_dThreshold;                 // arc-seconds
    double m_dAccuracy;                  // arc-seconds
    const char* m_pListed;               // report lines of the points above the threshold
    const char* m_pThresholdLine;

    friend void PrintTo(const ThresholdCase& c, std::ostream* os) { *os << c.m_pName; }
};

class GeoFitThreshold : public testing::TestWithParam<ThresholdCase> {};

TEST_P(GeoFitThreshold, ListsPointsAboveThresholdAndDecides)
{
    const ThresholdCase& c = GetParam();
    PerturbedGrid grid;
    grid.m_dLatSpan = c.m_dLatSpan;
    grid.m_dLonSpan = c.m_dLonSpan;
    const std::vector<CDataGeo> points = grid.Points(c.m_dCentreRow, c.m_dCentreColumn);
    const GeoFitResult fit = ComputeGeoFit(points, grid.Width(), grid.Height(), SentinelCoefficients(), 1);

    EXPECT_EQ(fit.m_Outcome, c.m_Outcome);
    ASSERT_TRUE(fit.m_dThreshold.has_value());
    EXPECT_NEAR(*fit.m_dThreshold, c.m_dThreshold, 1e-9);
    ASSERT_TRUE(fit.m_dAccuracy.has_value());
    EXPECT_NEAR(*fit.m_dAccuracy, c.m_dAccuracy, 1e-6);

    const double centre = std::max(std::fabs(c.m_dCentreRow), std::fabs(c.m_dCentreColumn));
    const std::array<double, 9> expected = {0, centre / 4, 0, centre / 4, centre, centre / 4, 0, centre / 4, 0};
    ASSERT_EQ(fit.m_dResiduals.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(fit.m_dResiduals[i], expected[i], 1e-6) << "point " << i + 1;

    const QString report = kReportHeader + QString::fromUtf8(c.m_pListed) + QString::fromUtf8(c.m_pThresholdLine);
    EXPECT_EQ(fit.m_strReport, report);

    ASSERT_TRUE(fit.m_Message.has_value());
    if (c.m_Outcome == GeoFitOutcome::Accepted) {
        EXPECT_EQ(fit.m_bGeoCoded, 1);
        ExpectStoredMap(fit.m_dGeoCoef, grid.GridMap(), 1e-9);
        EXPECT_EQ(fit.m_Message->m_strText,
                  QStringLiteral("The map is successfully geo coded. The accuracy is %1 second.")
                      .arg(c.m_dAccuracy, 0, 'f', 2));
        EXPECT_EQ(fit.m_Message->m_strCaption, kAccuracyCaption);
        EXPECT_EQ(fit.m_Message->m_nType, MB_OK | MB_ICONINFORMATION);
    } else {
        EXPECT_EQ(fit.m_bGeoCoded, 0);
        EXPECT_EQ(fit.m_dGeoCoef, SentinelCoefficients());
        EXPECT_EQ(fit.m_Message->m_strText, report);
        EXPECT_EQ(fit.m_Message->m_strCaption, kAppTitle);
        EXPECT_EQ(fit.m_Message->m_nType, MB_OK);
    }
}

INSTANTIATE_TEST_SUITE_P(
    GeoFitGrid, GeoFitThreshold,
    testing::Values(
        // 1 x 2 degrees: T = 36", accepted below 45".
        ThresholdCase{"Below36NotListed", 1.0, 2.0, 0.0, 35.0, GeoFitOutcome::Accepted, 36.0, 35.0, "",
                      "\n Threshold: 36.000 second"},
        ThresholdCase{"At40ListedButAccepted", 1.0, 2.0, 0.0, 40.0, GeoFitOutcome::Accepted, 36.0, 40.0,
                      " 5\t40.000 \n", "\n Threshold: 36.000 second"},
        ThresholdCase{"At44ListedButAccepted", 1.0, 2.0, 0.0, -44.0, GeoFitOutcome::Accepted, 36.0, 44.0,
                      " 5\t44.000 \n", "\n Threshold: 36.000 second"},
        ThresholdCase{"At46Rejected", 1.0, 2.0, 0.0, 46.0, GeoFitOutcome::Rejected, 36.0, 46.0, " 5\t46.000 \n",
                      "\n Threshold: 36.000 second"},
        ThresholdCase{"LatitudeOnly48Rejected", 1.0, 2.0, -48.0, 0.0, GeoFitOutcome::Rejected, 36.0, 48.0,
                      " 5\t48.000 \n", "\n Threshold: 36.000 second"},
        // 30" in latitude and 40" in longitude count as 40", not as the 50" distance.
        ThresholdCase{"LargerOfLatLonNotDistance", 1.0, 2.0, 30.0, 40.0, GeoFitOutcome::Accepted, 36.0, 40.0,
                      " 5\t40.000 \n", "\n Threshold: 36.000 second"},
        ThresholdCase{"LargerOfLatLonRejectedAt18", 0.5, 1.0, 30.0, -40.0, GeoFitOutcome::Rejected, 18.0, 40.0,
                      " 5\t40.000 \n", "\n Threshold: 18.000 second"},
        // Several points above T, numbered from 1 in entry order; the corners (0") are not listed.
        ThresholdCase{"SeveralListedInEntryOrder", 1.0, 2.0, 0.0, -160.0, GeoFitOutcome::Rejected, 36.0, 160.0,
                      " 2\t40.000 \n 4\t40.000 \n 5\t160.000 \n 6\t40.000 \n 8\t40.000 \n",
                      "\n Threshold: 36.000 second"},
        // Three decimals in the list; the latitude span is the larger here (2 x 1 degrees).
        ThresholdCase{"ThreeDecimals", 2.0, 1.0, 50.5, 12.25, GeoFitOutcome::Rejected, 36.0, 50.5,
                      " 5\t50.500 \n", "\n Threshold: 36.000 second"}),
    [](const testing::TestParamInfo<ThresholdCase>& info) { return std::string(info.param.m_pName); });

// ---------------------------------------------------------------------------------------------
// Point sets that do not determine an invertible model change nothing and show nothing.

struct DegenerateCase {
    const char* m_pName;
    std::vector<CDataGeo> m_Points;
    int m_nWidth, m_nHeight;

    friend void PrintTo(const DegenerateCase& c, std::ostream* os) { *os << c.m_pName; }
};

std::vector<DegenerateCase> DegenerateCases()
{
    std::vector<DegenerateCase> cases;
    // All on the parallel of 45 degrees: no latitude spread, so D = 0.
    {
        DegenerateCase c{"OneLatitude", {}, 4000, 3000};
        for (int i = 0; i < 6; ++i)
            c.m_Points.push_back(MakeControlPoint(45.0, 7.0 + 0.25 * i, 100.0 + 500.0 * i, 1500.0 + 30.0 * i, 4000, 3000));
        cases.push_back(c);
    }
    // The same at latitudes whose fit-unit value does not divide evenly by the number of points:
    // the mean must still come out as that very latitude, or rounding leaves D barely above zero
    // and a meaningless model would be accepted.
    for (const auto& [lat, count] : {std::pair{40.5, 7}, std::pair{12.3456789, 6}, std::pair{-33.3333, 11}}) {
        DegenerateCase c{count == 7 ? "OneLatitudeOddCount" : count == 6 ? "OneLatitudeOddValue" : "OneLatitudeSouth",
                         {}, 4000, 3000};
        for (int i = 0; i < count; ++i)
            c.m_Points.push_back(MakeControlPoint(lat, 7.0 + 0.25 * i, 400.0 + 300.0 * i, 1500.0 + 30.0 * i, 4000, 3000));
        cases.push_back(c);
    }
    // All on one meridian.
    {
        DegenerateCase c{"OneLongitude", {}, 4000, 3000};
        for (int i = 0; i < 6; ++i)
            c.m_Points.push_back(MakeControlPoint(30.0 + 0.5 * i, -90.0, 2000.0 + 10.0 * i, 2900.0 - 400.0 * i, 4000, 3000));
        cases.push_back(c);
    }
    // On the line latitude = longitude: the latitude and longitude columns are identical.
    {
        DegenerateCase c{"OneDiagonalLine", {}, 4000, 3000};
        for (int i = 0; i < 6; ++i) {
            const double deg = 20.0 + 0.125 * i + 0.01 * i * i;
            c.m_Points.push_back(MakeControlPoint(deg, deg, 300.0 + 600.0 * i, 2800.0 - 450.0 * i, 4000, 3000));
        }
        cases.push_back(c);
    }
    // Eight points spread on the ground but all clicked on the same pixel: the model maps everything
    // to one pixel (G = 0) and cannot be inverted.
    {
        DegenerateCase c{"AllOnOnePixel", {}, 1024, 800};
        for (int i = 0; i < 8; ++i)
            c.m_Points.push_back(MakeControlPoint(50.0 + 0.1 * (i % 3), 5.0 + 0.2 * (i / 3), 512.0, 600.0, 1024, 800));
        cases.push_back(c);
    }
    // The same with a pixel whose mean does not come out evenly.
    {
        DegenerateCase c{"AllOnOnePixelOddCount", {}, 3001, 2999};
        for (int i = 0; i < 7; ++i)
            c.m_Points.push_back(MakeControlPoint(-12.0 + 0.3 * (i % 3), 140.0 + 0.2 * (i / 3), 1234.567, 987.654, 3001, 2999));
        cases.push_back(c);
    }
    // No picture size: every pixel position is 0.
    {
        DegenerateCase c{"NoPictureSize", {}, 0, 0};
        const AffineMap map{0.0, 3600.0, -36000.0, -3600.0, 0.0, 180000.0};
        c.m_Points = ExactAffinePoints(map, 49.0, 10.0, 1.0, 2.0, 8000, 4000);
        cases.push_back(c);
    }
    return cases;
}

class GeoFitDegenerate : public testing::TestWithParam<DegenerateCase> {};

TEST_P(GeoFitDegenerate, LeavesFlagAndModelAndIsSilent)
{
    const DegenerateCase& c = GetParam();
    for (BOOL before : {0, 1}) {
        SCOPED_TRACE(before);
        const GeoFitResult fit = ComputeGeoFit(c.m_Points, c.m_nWidth, c.m_nHeight, SentinelCoefficients(), before);
        EXPECT_EQ(fit.m_Outcome, GeoFitOutcome::Degenerate);
        EXPECT_EQ(fit.m_bGeoCoded, before);
        EXPECT_EQ(fit.m_dGeoCoef, SentinelCoefficients());
        EXPECT_FALSE(fit.m_Message.has_value());
        EXPECT_TRUE(fit.m_dResiduals.empty());
        EXPECT_FALSE(fit.m_dThreshold.has_value());
        EXPECT_FALSE(fit.m_dAccuracy.has_value());
    }
}

INSTANTIATE_TEST_SUITE_P(GeoFitSets, GeoFitDegenerate, testing::ValuesIn(DegenerateCases()),
                         [](const testing::TestParamInfo<DegenerateCase>& info) {
                             return std::string(info.param.m_pName);
                         });

// ---------------------------------------------------------------------------------------------
// Noisy points: the fit against an independent least-squares solution (uncentred normal
// equations with Gaussian elimination, in long double).

/// A small deterministic generator, so that the data are the same on every platform.
class TestRandom {
public:
    explicit TestRandom(std::uint64_t seed) : m_nState(seed * 6364136223846793005ull + 1442695040888963407ull) {}
    /// Uniform in [low, high).
    double Uniform(double low, double high)
    {
        m_nState = m_nState * 6364136223846793005ull + 1442695040888963407ull;
        return low + (high - low) * static_cast<double>(m_nState >> 11) / 9007199254740992.0;
    }

private:
    std::uint64_t m_nState;
};

/// Solves the 3 x 3 system m * s = r by Gaussian elimination with partial pivoting.
std::array<long double, 3> Solve3(std::array<std::array<long double, 3>, 3> m, std::array<long double, 3> r)
{
    for (int col = 0; col < 3; ++col) {
        int pivot = col;
        for (int row = col + 1; row < 3; ++row)
            if (std::fabs(m[row][col]) > std::fabs(m[pivot][col]))
                pivot = row;
        std::swap(m[col], m[pivot]);
        std::swap(r[col], r[pivot]);
        for (int row = col + 1; row < 3; ++row) {
            const long double factor = m[row][col] / m[col][col];
            for (int k = col; k < 3; ++k)
                m[row][k] -= factor * m[col][k];
            r[row] -= factor * r[col];
        }
    }
    std::array<long double, 3> s{};
    for (int row = 2; row >= 0; --row) {
        long double sum = r[row];
        for (int k = row + 1; k < 3; ++k)
            sum -= m[row][k] * s[k];
        s[row] = sum / m[row][row];
    }
    return s;
}

struct ReferenceFit {
    // Pixels per degree and pixels, as stored.
    long double m_ColumnPerLat, m_ColumnPerLon, m_ColumnOffset, m_RowPerLat, m_RowPerLon, m_RowOffset;
    std::vector<long double> m_Residuals; // arc-seconds
    long double m_Threshold;              // arc-seconds
    long double m_Largest;                // arc-seconds
};

ReferenceFit SolveReference(const std::vector<CDataGeo>& points, int width, int height)
{
    // Degrees as the design variables; residuals measured in arc-seconds.
    std::array<std::array<long double, 3>, 3> normal{};
    std::array<long double, 3> rhsColumn{}, rhsRow{};
    long double minLat = 1e30L, maxLat = -1e30L, minLon = 1e30L, maxLon = -1e30L;
    for (const CDataGeo& point : points) {
        const long double lat = point.m_dLatitude / 3600.0L, lon = point.m_dLongitude / 3600.0L;
        const long double column = static_cast<long double>(width) * point.m_dImageX;
        const long double row = (1.0L - point.m_dImageY) * static_cast<long double>(height);
        const std::array<long double, 3> basis = {1.0L, lat, lon};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                normal[i][j] += basis[i] * basis[j];
            rhsColumn[i] += basis[i] * column;
            rhsRow[i] += basis[i] * row;
        }
        minLat = std::min(minLat, lat), maxLat = std::max(maxLat, lat);
        minLon = std::min(minLon, lon), maxLon = std::max(maxLon, lon);
    }
    const std::array<long double, 3> col = Solve3(normal, rhsColumn);
    const std::array<long double, 3> row = Solve3(normal, rhsRow);
    ReferenceFit ref{col[1], col[2], col[0], row[1], row[2], row[0], {}, 0.0L, 0.0L};

    const long double smallerSpanSeconds = std::min(maxLat - minLat, maxLon - minLon) * 3600.0L;
    ref.m_Threshold = std::max(smallerSpanSeconds / 100.0L, 0.36L);

    // Back-projection: solve the 2 x 2 model for latitude and longitude at each point's pixel.
    const long double det = ref.m_ColumnPerLat * ref.m_RowPerLon - ref.m_ColumnPerLon * ref.m_RowPerLat;
    for (const CDataGeo& point : points) {
        const long double column = static_cast<long double>(width) * point.m_dImageX - ref.m_ColumnOffset;
        const long double rowPx = (1.0L - point.m_dImageY) * static_cast<long double>(height) - ref.m_RowOffset;
        const long double lat = (column * ref.m_RowPerLon - ref.m_ColumnPerLon * rowPx) / det;
        const long double lon = (ref.m_ColumnPerLat * rowPx - ref.m_RowPerLat * column) / det;
        const long double residual = std::max(std::fabs(lat * 3600.0L - point.m_dLatitude),
                                              std::fabs(lon * 3600.0L - point.m_dLongitude));
        ref.m_Residuals.push_back(residual);
        ref.m_Largest = std::max(ref.m_Largest, residual);
    }
    return ref;
}

TEST(GeoFitReference, NoisyPointsMatchIndependentLeastSquares)
{
    int accepted = 0, rejected = 0;
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        TestRandom random(seed);
        const int count = 6 + static_cast<int>(random.Uniform(0.0, 10.0));
        const double lat0 = random.Uniform(-70.0, 70.0), lon0 = random.Uniform(-180.0, 170.0);
        const double latSpan = random.Uniform(0.05, 2.0), lonSpan = random.Uniform(0.05, 3.0);
        const int width = 1000 + static_cast<int>(random.Uniform(0.0, 9000.0));
        const int height = 1000 + static_cast<int>(random.Uniform(0.0, 9000.0));
        // A rotated, unevenly scaled map that puts the box roughly onto the picture.
        const double angle = random.Uniform(-0.5, 0.5);
        const double sx = width / lonSpan * random.Uniform(0.6, 0.9), sy = height / latSpan * random.Uniform(0.6, 0.9);
        AffineMap map{-std::sin(angle) * sy, std::cos(angle) * sx, 0.0, -std::cos(angle) * sy, -std::sin(angle) * sx, 0.0};
        map.m_dColumnOffset = width / 2.0 - map.Column(lat0 + latSpan / 2, lon0 + lonSpan / 2);
        map.m_dRowOffset = height / 2.0 - map.Row(lat0 + latSpan / 2, lon0 + lonSpan / 2);
        // Clicking noise in pixels; some sets are good, some are not.
        const double noise = random.Uniform(0.0, 1.0) < 0.5 ? random.Uniform(0.0, 2.0) : random.Uniform(5.0, 60.0);

        std::vector<CDataGeo> points;
        for (int i = 0; i < count; ++i) {
            const double lat = lat0 + random.Uniform(0.0, latSpan), lon = lon0 + random.Uniform(0.0, lonSpan);
            points.push_back(MakeControlPoint(lat, lon, map.Column(lat, lon) + random.Uniform(-noise, noise),
                                              map.Row(lat, lon) + random.Uniform(-noise, noise), width, height));
        }

        const ReferenceFit ref = SolveReference(points, width, height);
        const GeoFitResult fit = ComputeGeoFit(points, width, height, SentinelCoefficients(), 0);

        ASSERT_TRUE(fit.m_dThreshold.has_value());
        ASSERT_TRUE(fit.m_dAccuracy.has_value());
        EXPECT_NEAR(*fit.m_dThreshold, static_cast<double>(ref.m_Threshold), 1e-9);
        EXPECT_NEAR(*fit.m_dAccuracy, static_cast<double>(ref.m_Largest), 1e-6);
        ASSERT_EQ(fit.m_dResiduals.size(), ref.m_Residuals.size());
        for (std::size_t i = 0; i < ref.m_Residuals.size(); ++i)
            EXPECT_NEAR(fit.m_dResiduals[i], static_cast<double>(ref.m_Residuals[i]), 1e-6) << "point " << i + 1;

        if (std::fabs(1.25L * ref.m_Threshold - ref.m_Largest) < 1e-6L)
            continue; // too close to call independently of rounding
        if (1.25L * ref.m_Threshold > ref.m_Largest) {
            ++accepted;
            EXPECT_EQ(fit.m_Outcome, GeoFitOutcome::Accepted);
            const AffineMap expected{static_cast<double>(ref.m_ColumnPerLat), static_cast<double>(ref.m_ColumnPerLon),
                                     static_cast<double>(ref.m_ColumnOffset), static_cast<double>(ref.m_RowPerLat),
                                     static_cast<double>(ref.m_RowPerLon), static_cast<double>(ref.m_RowOffset)};
            ExpectStoredMap(fit.m_dGeoCoef, expected, 1e-8);
        } else {
            ++rejected;
            EXPECT_EQ(fit.m_Outcome, GeoFitOutcome::Rejected);
            EXPECT_EQ(fit.m_dGeoCoef, SentinelCoefficients());
        }
    }
    // The data must exercise both decisions.
    EXPECT_GT(accepted, 5);
    EXPECT_GT(rejected, 5);
}

} // namespace
