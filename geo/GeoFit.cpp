#include "geo/GeoFit.h"

#include "geo/GeoModel.h"
#include "platform/Version.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace {

/// The fit works in thousandths of a degree: 3.6 arc-seconds per fit unit. The linear coefficients
/// come out per fit unit and are stored per degree, hence the factor 1000.
constexpr double kFitUnitsPerDegree = 1000.0;
constexpr double kArcSecondsPerFitUnit = CDataGeo::kArcSecondsPerDegree / kFitUnitsPerDegree;
static_assert(kArcSecondsPerFitUnit == 3.6);

/// Six points are the least the fit accepts, although three would determine the model: the
/// surplus is what makes the residuals say something about the quality of the points.
constexpr std::size_t kMinimumPoints = 6;

/// Below this the normal equations are taken as singular.
constexpr double kSingularDeterminant = 1e-8;

/// The threshold is one hundredth of the smaller span of the points, but never below 0.1 fit unit
/// (0.36 arc-second), and a fit is accepted while its largest residual stays under 1.25 thresholds.
constexpr double kThresholdPerSpan = 0.01;
constexpr double kMinimumThreshold = 0.1;
constexpr double kAcceptanceFactor = 1.25;

/// The rejection report lists at most this many points.
constexpr std::size_t kLargestListed = 20;

const QString kAccuracyCaption = QStringLiteral("Projection Accuracy");
/// The rejection report is captioned with the application's title.
const QString kApplicationTitle = ApplicationTitle();


/// The points as the fit reads them: latitude X and longitude Y in fit units; column P and row Q
/// in pixels, the row counted from the top edge. The picture size is used as it is, not reduced
/// by one.
struct FitSamples {
    std::vector<double> x, y, p, q;
};

FitSamples SamplesOf(const std::vector<CDataGeo>& points, int imageWidth, int imageHeight)
{
    const std::size_t count = points.size();
    FitSamples s{std::vector<double>(count), std::vector<double>(count), std::vector<double>(count),
                 std::vector<double>(count)};
    for (std::size_t i = 0; i < count; ++i) {
        s.x[i] = points[i].m_dLatitude / kArcSecondsPerFitUnit;
        s.y[i] = points[i].m_dLongitude / kArcSecondsPerFitUnit;
        s.p[i] = points[i].PixelColumn(imageWidth);
        s.q[i] = points[i].PixelRow(imageHeight);
    }
    return s;
}

/// P = a X + b Y + c and Q = d X + e Y + f, pixels per fit unit and pixels.
struct AffineFit {
    double a, b, c, d, e, f;
};

/// The least-squares affine fit of the samples, or nothing for a degenerate point set.
std::optional<AffineFit> SolveAffine(const FitSamples& s)
{
    const std::vector<double>&x = s.x, &y = s.y, &p = s.p, &q = s.q;
    const std::size_t count = x.size();
    // The sums are kept in long double and rounded to double once complete. Besides precision this
    // makes each mean exactly equal to the common value when all points share it (for fewer than
    // 512 points), so that points on one parallel or meridian, or all on one pixel, give an exactly
    // singular system instead of one that rounding left barely regular.
    const long double n = static_cast<long double>(count);
    long double sumX = 0.0L, sumY = 0.0L, sumP = 0.0L, sumQ = 0.0L;
    for (std::size_t i = 0; i < count; ++i) {
        sumX += x[i] / n;
        sumY += y[i] / n;
        sumP += p[i] / n;
        sumQ += q[i] / n;
    }
    const double meanX = static_cast<double>(sumX), meanY = static_cast<double>(sumY);
    const double meanP = static_cast<double>(sumP), meanQ = static_cast<double>(sumQ);

    // Centred sums of products. The cross term is accumulated both ways round; the solution uses
    // each form in its own place.
    long double sumXX = 0.0L, sumYY = 0.0L, sumXY = 0.0L, sumYX = 0.0L;
    long double sumPX = 0.0L, sumPY = 0.0L, sumQX = 0.0L, sumQY = 0.0L;
    for (std::size_t i = 0; i < count; ++i) {
        sumXX += static_cast<long double>(x[i] - meanX) * x[i];
        sumYY += static_cast<long double>(y[i] - meanY) * y[i];
        sumXY += static_cast<long double>(y[i] - meanY) * x[i];
        sumYX += static_cast<long double>(x[i] - meanX) * y[i];
        sumPX += static_cast<long double>(p[i] - meanP) * x[i];
        sumPY += static_cast<long double>(p[i] - meanP) * y[i];
        sumQX += static_cast<long double>(q[i] - meanQ) * x[i];
        sumQY += static_cast<long double>(q[i] - meanQ) * y[i];
    }
    const double sxx = static_cast<double>(sumXX), syy = static_cast<double>(sumYY);
    const double sxy = static_cast<double>(sumXY), syx = static_cast<double>(sumYX);
    const double spx = static_cast<double>(sumPX), spy = static_cast<double>(sumPY);
    const double sqx = static_cast<double>(sumQX), sqy = static_cast<double>(sumQY);

    const double det = sxx * syy - syx * sxy;
    if (!(std::fabs(det) > kSingularDeterminant))
        return std::nullopt;
    AffineFit fit{};
    fit.a = (syy * spx - sxy * spy) / det;
    fit.b = (sxx * spy - syx * spx) / det;
    fit.c = meanP - fit.a * meanX - fit.b * meanY;
    fit.d = (syy * sqx - sxy * sqy) / det;
    fit.e = (sxx * sqy - syx * sqx) / det;
    fit.f = meanQ - fit.d * meanX - fit.e * meanY;
    return fit;
}

/// The threshold in fit units: a hundredth of the smaller span of the points, at least the minimum.
double ThresholdOf(const FitSamples& s)
{
    const auto [minX, maxX] = std::minmax_element(s.x.begin(), s.x.end());
    const auto [minY, maxY] = std::minmax_element(s.y.begin(), s.y.end());
    const double smallerSpan = std::min(*maxX - *minX, *maxY - *minY);
    return kThresholdPerSpan * smallerSpan < kMinimumThreshold ? kMinimumThreshold : kThresholdPerSpan * smallerSpan;
}

/// Where each point's pixel reads out under the fitted model, in fit units; nothing where the
/// model has no position for it.
using BackProjection = std::function<std::optional<GeoPosition>(std::size_t point)>;

/// Each point's pixel position goes back through the fitted model; its residual is the larger
/// of the latitude and longitude differences, both in fit units as they are (the longitude
/// difference is not shortened by the cosine of the latitude). A pixel the model cannot bring
/// back counts as infinitely far. Fills the residuals, threshold, accuracy and report of result
/// and returns the largest residual in fit units.
double MeasureResiduals(const BackProjection& back, const FitSamples& s, double threshold, GeoFitResult& result)
{
    double largest = 0.0;
    std::vector<std::size_t> failing;
    result.m_dResiduals.reserve(s.x.size());
    for (std::size_t i = 0; i < s.x.size(); ++i) {
        const std::optional<GeoPosition> position = back(i);
        const double error = position ? std::max(std::fabs(position->m_dLatitude - s.x[i]),
                                                 std::fabs(position->m_dLongitude - s.y[i]))
                                      : std::numeric_limits<double>::infinity();
        result.m_dResiduals.push_back(error * kArcSecondsPerFitUnit);
        if (error > largest)
            largest = error;
        if (error > threshold)
            failing.push_back(i);
    }
    // A box lists no more points than a user reads: the worst ones, in entry order, and how many
    // more there are.
    const std::size_t listed = std::min(failing.size(), kLargestListed);
    std::nth_element(failing.begin(), failing.begin() + static_cast<std::ptrdiff_t>(listed), failing.end(),
                     [&](std::size_t a, std::size_t b) {
                         return result.m_dResiduals[a] > result.m_dResiduals[b] ||
                                (result.m_dResiduals[a] == result.m_dResiduals[b] && a < b);
                     });
    std::sort(failing.begin(), failing.begin() + static_cast<std::ptrdiff_t>(listed));
    QString report = QStringLiteral("The following points cause \n the failure of projection:\n\n Index\tError in second \n");
    for (std::size_t k = 0; k < listed; ++k)
        report += QString::asprintf(" %d\t%2.3f \n", static_cast<int>(failing[k] + 1), result.m_dResiduals[failing[k]]);
    if (failing.size() > listed)
        report += QString::asprintf(" ... and %d more points \n", static_cast<int>(failing.size() - listed));
    report += QString::asprintf("\n Threshold: %2.3f second", threshold * kArcSecondsPerFitUnit);

    result.m_dThreshold = threshold * kArcSecondsPerFitUnit;
    result.m_dAccuracy = largest * kArcSecondsPerFitUnit;
    result.m_strReport = report;
    return largest;
}

/// Judges the fitted model by its residuals: points a little above the threshold are listed in
/// the report, but only a residual beyond 1.25 thresholds rejects the fit. Sets the outcome, the
/// flag and the message; an accepted fit's coefficients are the caller's to store.
bool JudgeFit(const BackProjection& back, const FitSamples& samples, GeoFitResult& result)
{
    const double threshold = ThresholdOf(samples);
    const double largest = MeasureResiduals(back, samples, threshold, result);
    if (kAcceptanceFactor * threshold > largest) {
        result.m_Outcome = GeoFitOutcome::Accepted;
        result.m_bGeoCoded = 1;
        result.m_Message = UiMessage{
            QString::asprintf("The map is successfully geo coded. The accuracy is %2.2f second.",
                              largest * kArcSecondsPerFitUnit),
            kAccuracyCaption, MB_OK | MB_ICONINFORMATION};
        return true;
    }
    // The last accepted model stays, flagged as not geo-coded, so that the offending points can
    // be corrected.
    result.m_Outcome = GeoFitOutcome::Rejected;
    result.m_bGeoCoded = 0;
    result.m_Message = UiMessage{result.m_strReport, kApplicationTitle, MB_OK};
    return false;
}

/// The coefficients the document stores for an affine fit in fit units.
std::array<double, 16> StoredCoefficients(const AffineFit& fit, std::array<double, 16> coefficients)
{
    coefficients[0] = kFitUnitsPerDegree * fit.a;
    coefficients[1] = kFitUnitsPerDegree * fit.b;
    coefficients[3] = fit.c;
    coefficients[4] = kFitUnitsPerDegree * fit.d;
    coefficients[5] = kFitUnitsPerDegree * fit.e;
    coefficients[7] = fit.f;
    return coefficients;
}

/// The affine relation to latitude and longitude closest to the geo-coding over the whole
/// picture, from an 11 x 11 grid of pixels edge to edge: what the workspace's coefficients keep
/// of a map geo-coded otherwise, so that a reader of the coefficients alone places it nearly right.
std::optional<AffineFit> AffineApproximation(const GeoCoding& coding, int imageWidth, int imageHeight)
{
    constexpr int kSteps = 10;
    // A map across the 180th meridian keeps continuous longitudes, counted from its centre's.
    const std::optional<GeoPosition> centre = coding.PixelToGeo(imageWidth / 2.0, imageHeight / 2.0);
    FitSamples grid;
    for (int i = 0; i <= kSteps; ++i)
        for (int j = 0; j <= kSteps; ++j) {
            const double column = imageWidth * double(i) / kSteps;
            const double row = imageHeight * double(j) / kSteps;
            if (const std::optional<GeoPosition> position = coding.PixelToGeo(column, row)) {
                grid.x.push_back(position->m_dLatitude * kFitUnitsPerDegree);
                const double longitude = centre ? LongitudeNear(position->m_dLongitude, centre->m_dLongitude)
                                                : position->m_dLongitude;
                grid.y.push_back(longitude * kFitUnitsPerDegree);
                grid.p.push_back(column);
                grid.q.push_back(row);
            }
        }
    return grid.x.size() >= 3 ? SolveAffine(grid) : std::nullopt;
}

} // namespace

GeoFitResult ComputeGeoFit(const std::vector<CDataGeo>& points, int imageWidth, int imageHeight,
                           const std::array<double, 16>& geoCoef, BOOL geoCoded)
{
    GeoFitResult result;
    result.m_bGeoCoded = geoCoded;
    result.m_dGeoCoef = geoCoef;

    if (points.size() < kMinimumPoints) {
        // Too few points withdraw the geo-coding silently but keep the last model.
        result.m_Outcome = GeoFitOutcome::TooFewPoints;
        result.m_bGeoCoded = 0;
        return result;
    }

    const FitSamples samples = SamplesOf(points, imageWidth, imageHeight);
    // Degenerate point sets leave flag and model as they were and say nothing.
    const std::optional<AffineFit> solved = SolveAffine(samples);
    if (!solved) {
        result.m_Outcome = GeoFitOutcome::Degenerate;
        return result;
    }
    const auto [a, b, c, d, e, f] = *solved;

    // The model in fit units, inverted to bring each point's pixel back to latitude and longitude.
    const GeoModel fitted = GeoModel::FromAffine(a, b, c, d, e, f);
    if (!fitted.IsInvertible()) {
        result.m_Outcome = GeoFitOutcome::Degenerate;
        return result;
    }

    result.m_FittedModel = GeoModel::FromAffine(kFitUnitsPerDegree * a, kFitUnitsPerDegree * b, c, kFitUnitsPerDegree * d,
                                                kFitUnitsPerDegree * e, f)
                               .Coefficients();

    const BackProjection back = [&](std::size_t i) { return fitted.Inverse(samples.p[i], samples.q[i]); };
    if (JudgeFit(back, samples, result))
        result.m_dGeoCoef = StoredCoefficients(*solved, result.m_dGeoCoef);
    return result;
}

GeoFitResult ComputeGeoFit(const GeoCodingChoice& choice, const std::vector<CDataGeo>& points, int imageWidth,
                           int imageHeight, const std::array<double, 16>& geoCoef, BOOL geoCoded)
{
    if (choice.IsDefault())
        return ComputeGeoFit(points, imageWidth, imageHeight, geoCoef, geoCoded);

    GeoFitResult result;
    result.m_bGeoCoded = geoCoded;
    result.m_dGeoCoef = geoCoef;
    GeoCodingAnalysis analysis =
        GeoCoding::Analyse(choice.m_eTransform, choice.m_FitCrs, GeoControlPoints(points, imageWidth, imageHeight), false);
    if (!analysis.m_GeoCoding) {
        result.m_strRefusal = analysis.m_strRefusal;
        if (points.size() < static_cast<std::size_t>(MinimumPoints(choice.m_eTransform))) {
            // Too few points withdraw the geo-coding silently but keep the last model, as for the
            // affine fit; the refusal says how many the transformation needs.
            result.m_Outcome = GeoFitOutcome::TooFewPoints;
            result.m_bGeoCoded = 0;
        } else {
            result.m_Outcome = GeoFitOutcome::Degenerate;
        }
        return result;
    }
    auto coding = std::make_shared<const GeoCoding>(std::move(*analysis.m_GeoCoding));
    const std::optional<AffineFit> approximation = AffineApproximation(*coding, imageWidth, imageHeight);
    if (approximation)
        result.m_FittedModel = StoredCoefficients(*approximation, {});
    const FitSamples samples = SamplesOf(points, imageWidth, imageHeight);
    const BackProjection back = [&](std::size_t i) -> std::optional<GeoPosition> {
        const std::optional<GeoPosition> position = coding->PixelToGeo(samples.p[i], samples.q[i]);
        if (!position)
            return std::nullopt;
        const double longitude = LongitudeNear(position->m_dLongitude, points[i].LongitudeDegrees());
        return GeoPosition{position->m_dLatitude * kFitUnitsPerDegree, longitude * kFitUnitsPerDegree};
    };
    if (JudgeFit(back, samples, result)) {
        if (approximation)
            result.m_dGeoCoef = StoredCoefficients(*approximation, result.m_dGeoCoef);
        result.m_GeoCoding = std::move(coding);
    }
    return result;
}

std::vector<GeoControlPoint> GeoControlPoints(const std::vector<CDataGeo>& points, int imageWidth, int imageHeight)
{
    std::vector<GeoControlPoint> control;
    control.reserve(points.size());
    for (const CDataGeo& point : points)
        control.push_back({point.LatitudeDegrees(), point.LongitudeDegrees(), point.PixelColumn(imageWidth),
                           point.PixelRow(imageHeight)});
    return control;
}
