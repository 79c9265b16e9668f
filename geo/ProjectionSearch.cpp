#include "geo/ProjectionSearch.h"

#include <proj.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <numbers>

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kDegree = std::numbers::pi / 180.0;
/// The mean radius of the earth: ground errors are small against it, a sphere measures them well enough.
constexpr double kEarthRadius = 6371008.8;

/// The fewest points the search judges from; a family with shape parameters needs two more per
/// parameter, so that leaving one point out still leaves the others more than enough.
constexpr std::size_t kMinimumPoints = 6;
constexpr std::size_t kPointsPerShapeParameter = 2;
/// Below this spread (degrees of arc across the larger side of the points' extent) every family
/// differs from every other by less than digitising error, so all fit alike.
constexpr double kMinimumSpanDegrees = 2.0;
/// A best leave-one-out error above this share of the extent's diagonal means no family fits.
constexpr double kMisfitShareOfExtent = 0.01;
/// A family with more shape parameters ranks first only when its leave-one-out error is this much
/// below that of a simpler one: on noisy points the extra parameters fit the noise, not the map.
constexpr double kSimplerMargin = 1.10;
constexpr double kSimplerSlackMetres = 1.0;

const QString kCannotTell = QStringLiteral("The projection cannot be told from these points: %1");

/// The points as the search works with them: radians, and pixels centred on their mean.
struct Samples {
    std::vector<double> lon, lat;    ///< radians
    std::vector<double> col, row;    ///< pixels less their mean
    std::array<double, 9> normal{};  ///< (X'X)^-1 of the pixel design [col row 1]
    std::vector<double> leverage;    ///< the hat matrix's diagonal: how much each point pulls its own fit
};

/// The affine least squares from pixel to projected coordinates has the same design for every
/// projection tried: its inverse normal matrix and the leverages are computed once. Nothing when
/// the pixels lie on one line.
std::optional<Samples> PrepareSamples(const std::vector<GeoControlPoint>& points)
{
    Samples s;
    const std::size_t n = points.size();
    double meanCol = 0.0, meanRow = 0.0;
    for (const GeoControlPoint& p : points)
        meanCol += p.m_dColumn / double(n), meanRow += p.m_dRow / double(n);
    double scc = 0.0, srr = 0.0, scr = 0.0;
    for (const GeoControlPoint& p : points) {
        s.lon.push_back(p.m_dLongitude * kDegree);
        s.lat.push_back(p.m_dLatitude * kDegree);
        s.col.push_back(p.m_dColumn - meanCol);
        s.row.push_back(p.m_dRow - meanRow);
        scc += s.col.back() * s.col.back(), srr += s.row.back() * s.row.back(), scr += s.col.back() * s.row.back();
    }
    // Centred pixels make the normal matrix block diagonal: the constant's row stands apart.
    const double det = scc * srr - scr * scr;
    if (!(det > 1e-9 * std::max(1.0, scc * srr)))
        return std::nullopt;
    s.normal = {srr / det, -scr / det, 0.0, -scr / det, scc / det, 0.0, 0.0, 0.0, 1.0 / double(n)};
    for (std::size_t i = 0; i < n; ++i) {
        const double c = s.col[i], r = s.row[i];
        s.leverage.push_back(c * (s.normal[0] * c + s.normal[1] * r) + r * (s.normal[3] * c + s.normal[4] * r) +
                             s.normal[8]);
    }
    return s;
}

/// The points' extent: the middle (longitude taken across the date line when narrower that way)
/// and the spans in degrees.
struct Extent {
    double lat0 = 0.0, lon0 = 0.0, latSpan = 0.0, lonSpan = 0.0;
};

Extent ExtentOf(const std::vector<GeoControlPoint>& points)
{
    double south = 90.0, north = -90.0, west = 180.0, east = -180.0, west360 = 360.0, east360 = 0.0;
    for (const GeoControlPoint& p : points) {
        const double lon = std::remainder(p.m_dLongitude, 360.0), lon360 = lon < 0.0 ? lon + 360.0 : lon;
        south = std::min(south, p.m_dLatitude), north = std::max(north, p.m_dLatitude);
        west = std::min(west, lon), east = std::max(east, lon);
        west360 = std::min(west360, lon360), east360 = std::max(east360, lon360);
    }
    Extent e;
    e.lat0 = (south + north) / 2.0;
    e.latSpan = north - south;
    const bool across = east360 - west360 < east - west;
    e.lonSpan = across ? east360 - west360 : east - west;
    e.lon0 = std::remainder(across ? (west360 + east360) / 2.0 : (west + east) / 2.0, 360.0);
    return e;
}

/// A projection family: its PROJ definition for the shape parameters, and where the coarse grid
/// looks for them.
struct Family {
    int shapeParameters = 0;
    std::function<QString(const std::array<double, 2>&)> definition;
    std::vector<std::array<double, 2>> grid;
    /// Latitudes among the parameters are kept within these bounds.
    std::array<std::array<double, 2>, 2> bounds{{{-1e9, 1e9}, {-1e9, 1e9}}};
    /// The figure of the earth: the search's projection on its own, and the coordinate system
    /// that becomes the fit system.
    QString searchFigure = QStringLiteral(" +ellps=WGS84");
    QString crsFigure = QStringLiteral(" +datum=WGS84 +units=m +no_defs");

    QString SearchDefinition(const std::array<double, 2>& p) const { return definition(p) + searchFigure; }
};

QString Number(double value)
{
    QString text = QString::number(value, 'f', 4);
    while (text.contains(QLatin1Char('.')) && (text.endsWith(QLatin1Char('0')) || text.endsWith(QLatin1Char('.'))))
        text.chop(1);
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

double Longitude(double lon) { return std::remainder(lon, 360.0); }

std::vector<Family> Families(const Extent& extent)
{
    const double lon0 = extent.lon0, lat0 = extent.lat0;
    // Longitudes of a central meridian or a centre around the middle of the points; latitudes of
    // standard parallels over the whole sphere, of a centre around the middle and at the poles.
    std::vector<double> meridians, wideMeridians, parallels, centres;
    for (int d = -40; d <= 40; d += 10)
        meridians.push_back(Longitude(lon0 + d));
    for (int d = -60; d <= 60; d += 15)
        wideMeridians.push_back(Longitude(lon0 + d));
    for (int d = -85; d <= 85; d += 10)
        parallels.push_back(d);
    for (int d = -30; d <= 30; d += 10)
        centres.push_back(std::clamp(lat0 + d, -90.0, 90.0));
    centres.push_back(90.0);
    centres.push_back(-90.0);

    const auto single = [](const std::vector<double>& values) {
        std::vector<std::array<double, 2>> grid;
        for (const double v : values)
            grid.push_back({v, 0.0});
        return grid;
    };
    const auto fixed = [](QString text) { return [text](const std::array<double, 2>&) { return text; }; };
    const auto meridian = [](const char* proj) {
        return [proj](const std::array<double, 2>& p) {
            return QStringLiteral("+proj=%1 +lon_0=%2").arg(QLatin1String(proj), Number(Longitude(p[0])));
        };
    };
    const auto azimuthal = [](const char* proj) {
        return [proj](const std::array<double, 2>& p) {
            return QStringLiteral("+proj=%1 +lat_0=%2 +lon_0=%3")
                .arg(QLatin1String(proj), Number(p[0]), Number(std::fabs(Number(p[0]).toDouble()) == 90.0 ? 0.0 : Longitude(p[1])));
        };
    };
    std::vector<std::array<double, 2>> centreGrid, parallelPairs;
    for (const double lat : centres)
        for (int d = -30; d <= 30; d += 15) {
            centreGrid.push_back({lat, Longitude(lon0 + d)});
            if (std::fabs(lat) == 90.0)
                break; // at a pole the centre's longitude only turns the map
        }
    for (const double a : parallels)
        for (const double b : parallels)
            if (a < b && a != -b)
                parallelPairs.push_back({a, b});

    const QString lon = Number(lon0);
    const std::array<std::array<double, 2>, 2> parallelBounds{{{-89.9, 89.9}, {-89.9, 89.9}}};
    const std::array<std::array<double, 2>, 2> centreBounds{{{-90.0, 90.0}, {-1e9, 1e9}}};
    std::vector<Family> families;
    // The simplest first: ties in the ranking keep this order.
    families.push_back({0, fixed(QStringLiteral("+proj=eqc +lon_0=%1").arg(lon)), {{0.0, 0.0}}});
    families.push_back({0, fixed(QStringLiteral("+proj=merc +lon_0=%1").arg(lon)), {{0.0, 0.0}}});
    // Web maps draw Mercator's formulas for the sphere on WGS 84 latitudes, kilometres away from
    // Mercator on the ellipsoid at continental scale; the null grid keeps the latitudes as they are.
    Family web{0, fixed(QStringLiteral("+proj=merc +a=6378137 +b=6378137 +lon_0=%1").arg(lon)), {{0.0, 0.0}}};
    web.searchFigure.clear();
    web.crsFigure = QStringLiteral(" +nadgrids=@null +units=m +no_defs");
    families.push_back(std::move(web));
    // A conic's central meridian turns the map about the cone's apex, which the affine part
    // absorbs: it stays at the points' middle. A conformal conic's shape is its cone constant
    // alone, which one standard parallel fixes; an equal-area conic needs both.
    families.push_back({1,
                        [lon](const std::array<double, 2>& p) {
                            return QStringLiteral("+proj=lcc +lat_0=%1 +lat_1=%1 +lon_0=%2").arg(Number(p[0]), lon);
                        },
                        single(parallels), parallelBounds});
    families.push_back({2,
                        [lon](const std::array<double, 2>& p) {
                            return QStringLiteral("+proj=aea +lat_0=%1 +lat_1=%2 +lat_2=%3 +lon_0=%4")
                                .arg(Number((p[0] + p[1]) / 2.0), Number(std::min(p[0], p[1])),
                                     Number(std::max(p[0], p[1])), lon);
                        },
                        parallelPairs, parallelBounds});
    families.push_back({1, meridian("tmerc"), single(meridians)});
    families.push_back({1, meridian("poly"), single(meridians)});
    for (const char* proj : {"stere", "laea", "aeqd", "ortho"})
        families.push_back({2, azimuthal(proj), centreGrid, centreBounds});
    for (const char* proj : {"robin", "moll", "sinu"})
        families.push_back({1, meridian(proj), single(wideMeridians)});
    // Winkel's own standard parallel, arccos(2/pi), written out: as a coordinate system PROJ
    // takes a Winkel tripel without one at the equator, unlike the projection on its own.
    families.push_back({1,
                        [](const std::array<double, 2>& p) {
                            return QStringLiteral("+proj=wintri +lat_1=50.4598 +lon_0=%1").arg(Number(Longitude(p[0])));
                        },
                        single(wideMeridians)});
    return families;
}

/// Fits the affine part in trial projections and measures the ground error: one PROJ context for
/// the whole search.
class Evaluator {
public:
    explicit Evaluator(const Samples& samples) : m_Samples(samples), m_pContext(proj_context_create())
    {
        proj_log_level(m_pContext, PJ_LOG_NONE);
    }
    ~Evaluator() { proj_context_destroy(m_pContext); }
    Evaluator(const Evaluator&) = delete;
    Evaluator& operator=(const Evaluator&) = delete;

    struct Errors {
        double rms = kInfinity, loo = kInfinity;
    };

    /// The ground errors of the affine fit in the projection (a PROJ string of the projection on
    /// its own, from longitude and latitude in radians): RMS, and with each point left out.
    Errors Measure(const QString& definition, bool leaveOneOut)
    {
        const QByteArray text = definition.toUtf8();
        PJ* projection = proj_create(m_pContext, text.constData());
        if (!projection)
            return {};
        const std::size_t n = m_Samples.lon.size();
        // Each point and two neighbours a little east and north of it: the local derivatives turn
        // a residual in projected metres into one on the ground, which a projection's scale
        // (Mercator's at high latitudes) would otherwise inflate.
        constexpr double kStep = 1e-6; // radians: about 6 m
        m_X.resize(3 * n), m_Y.resize(3 * n);
        for (std::size_t i = 0; i < n; ++i) {
            const double lon = m_Samples.lon[i], lat = std::clamp(m_Samples.lat[i], -1.5707, 1.5707);
            m_X[3 * i] = lon, m_Y[3 * i] = lat;
            m_X[3 * i + 1] = lon + kStep, m_Y[3 * i + 1] = lat;
            m_X[3 * i + 2] = lon, m_Y[3 * i + 2] = lat + (lat > 0.0 ? -kStep : kStep);
        }
        const std::size_t done = proj_trans_generic(projection, PJ_FWD, m_X.data(), sizeof(double), 3 * n, m_Y.data(),
                                                    sizeof(double), 3 * n, nullptr, 0, 0, nullptr, 0, 0);
        proj_destroy(projection);
        if (done != 3 * n)
            return {};
        for (std::size_t i = 0; i < 3 * n; ++i)
            if (!std::isfinite(m_X[i]) || !std::isfinite(m_Y[i]) || std::fabs(m_X[i]) > 1e12)
                return {};

        const auto fitted = [&](const std::vector<double>& v, std::vector<double>& residual) {
            double sc = 0.0, sr = 0.0, s1 = 0.0;
            for (std::size_t i = 0; i < n; ++i)
                sc += m_Samples.col[i] * v[3 * i], sr += m_Samples.row[i] * v[3 * i], s1 += v[3 * i];
            const std::array<double, 9>& m = m_Samples.normal;
            const double a = m[0] * sc + m[1] * sr, b = m[3] * sc + m[4] * sr, c = m[8] * s1;
            residual.resize(n);
            for (std::size_t i = 0; i < n; ++i)
                residual[i] = a * m_Samples.col[i] + b * m_Samples.row[i] + c - v[3 * i];
        };
        fitted(m_X, m_Ex);
        fitted(m_Y, m_Ey);

        double sum = 0.0, sumLoo = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            // Projected metres per metre on the ground eastward and northward.
            const double east = kStep * kEarthRadius * std::cos(m_Samples.lat[i]);
            const double north = (m_Samples.lat[i] > 0.0 ? -kStep : kStep) * kEarthRadius;
            const double jxe = (m_X[3 * i + 1] - m_X[3 * i]) / east, jye = (m_Y[3 * i + 1] - m_Y[3 * i]) / east;
            const double jxn = (m_X[3 * i + 2] - m_X[3 * i]) / north, jyn = (m_Y[3 * i + 2] - m_Y[3 * i]) / north;
            const double det = jxe * jyn - jxn * jye;
            if (!std::isfinite(det) || std::fabs(det) < 1e-12)
                return {};
            const auto ground = [&](double ex, double ey) {
                const double ge = (jyn * ex - jxn * ey) / det, gn = (-jye * ex + jxe * ey) / det;
                return ge * ge + gn * gn;
            };
            sum += ground(m_Ex[i], m_Ey[i]);
            if (leaveOneOut) {
                // Closed form: the residual of the fit without the point is its residual in the
                // full fit divided by one less its leverage.
                const double keep = 1.0 - m_Samples.leverage[i];
                sumLoo += keep > 1e-9 ? ground(m_Ex[i] / keep, m_Ey[i] / keep) : kInfinity;
            }
        }
        Errors errors;
        errors.rms = std::sqrt(sum / double(n));
        errors.loo = leaveOneOut ? std::sqrt(sumLoo / double(n)) : kInfinity;
        return errors;
    }

private:
    const Samples& m_Samples;
    PJ_CONTEXT* m_pContext;
    std::vector<double> m_X, m_Y, m_Ex, m_Ey;
};

/// Nelder and Mead's simplex descent over the family's shape parameters from a start.
std::array<double, 2> Descend(const Family& family, Evaluator& evaluator, std::array<double, 2> start, double& best)
{
    const int k = family.shapeParameters;
    const auto clampToBounds = [&](std::array<double, 2> p) {
        for (int j = 0; j < k; ++j)
            p[j] = std::clamp(p[j], family.bounds[j][0], family.bounds[j][1]);
        return p;
    };
    const auto cost = [&](const std::array<double, 2>& p) {
        return evaluator.Measure(family.SearchDefinition(clampToBounds(p)), false).rms;
    };
    std::vector<std::array<double, 2>> simplex(k + 1, start);
    std::vector<double> values(k + 1);
    for (int j = 0; j < k; ++j)
        simplex[j + 1][j] += start[j] > 80.0 ? -4.0 : 4.0;
    for (int j = 0; j <= k; ++j)
        values[j] = cost(simplex[j]);
    constexpr int kIterations = 120;
    for (int iteration = 0; iteration < kIterations; ++iteration) {
        std::vector<int> order(k + 1);
        for (int j = 0; j <= k; ++j)
            order[j] = j;
        std::sort(order.begin(), order.end(), [&](int a, int b) { return values[a] < values[b]; });
        const int bestIndex = order.front(), worst = order.back();
        double size = 0.0;
        for (int j = 0; j <= k; ++j)
            for (int d = 0; d < k; ++d)
                size = std::max(size, std::fabs(simplex[j][d] - simplex[bestIndex][d]));
        if (size < 1e-4)
            break;
        std::array<double, 2> centroid{0.0, 0.0};
        for (int j = 0; j <= k; ++j)
            if (j != worst)
                for (int d = 0; d < k; ++d)
                    centroid[d] += simplex[j][d] / k;
        const auto along = [&](double t) {
            std::array<double, 2> p = centroid;
            for (int d = 0; d < k; ++d)
                p[d] = centroid[d] + t * (simplex[worst][d] - centroid[d]);
            return clampToBounds(p);
        };
        const std::array<double, 2> reflected = along(-1.0);
        const double fr = cost(reflected);
        const double secondWorst = values[order[k - 1 >= 0 ? k - 1 : 0]];
        if (fr < values[bestIndex]) {
            const std::array<double, 2> expanded = along(-2.0);
            const double fe = cost(expanded);
            simplex[worst] = fe < fr ? expanded : reflected, values[worst] = std::min(fe, fr);
        } else if (fr < secondWorst) {
            simplex[worst] = reflected, values[worst] = fr;
        } else {
            const std::array<double, 2> contracted = along(0.5);
            const double fc = cost(contracted);
            if (fc < values[worst]) {
                simplex[worst] = contracted, values[worst] = fc;
            } else {
                for (int j = 0; j <= k; ++j)
                    if (j != bestIndex) {
                        for (int d = 0; d < k; ++d)
                            simplex[j][d] = simplex[bestIndex][d] + 0.5 * (simplex[j][d] - simplex[bestIndex][d]);
                        values[j] = cost(simplex[j]);
                    }
            }
        }
    }
    const auto bestAt = std::min_element(values.begin(), values.end()) - values.begin();
    best = values[bestAt];
    return clampToBounds(simplex[bestAt]);
}

/// The family fitted: its best shape parameters from the coarse grid refined by descent.
ProjectionCandidate FitFamily(const Family& family, Evaluator& evaluator)
{
    std::vector<std::pair<double, std::array<double, 2>>> tried;
    for (const std::array<double, 2>& p : family.grid)
        tried.push_back({evaluator.Measure(family.SearchDefinition(p), false).rms, p});
    std::sort(tried.begin(), tried.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::array<double, 2> best = tried.front().second;
    double bestRms = tried.front().first;
    if (family.shapeParameters > 0) {
        // The two best cells of the grid each start a descent: a valley between them may hide
        // the better one.
        for (std::size_t start = 0; start < std::min<std::size_t>(2, tried.size()); ++start) {
            if (!std::isfinite(tried[start].first))
                break;
            double rms = kInfinity;
            const std::array<double, 2> found = Descend(family, evaluator, tried[start].second, rms);
            if (rms < bestRms)
                bestRms = rms, best = found;
        }
    }
    ProjectionCandidate candidate;
    candidate.m_strCrs = family.definition(best) + family.crsFigure;
    const Evaluator::Errors errors = evaluator.Measure(family.SearchDefinition(best), true);
    candidate.m_dRmsMetres = errors.rms;
    candidate.m_dLooRmsMetres = errors.loo;
    candidate.m_nShapeParameters = family.shapeParameters;
    return candidate;
}

QString Kilometres(double metres) { return QString::number(metres / 1000.0, 'f', metres < 10000.0 ? 1 : 0); }

} // namespace

ProjectionSearchResult SearchProjection(const std::vector<GeoControlPoint>& points, std::size_t keep)
{
    ProjectionSearchResult result;
    if (points.size() < kMinimumPoints) {
        result.m_strRefusal = kCannotTell.arg(QStringLiteral("there are %1 and the search needs at least %2.")
                                                  .arg(points.size())
                                                  .arg(kMinimumPoints));
        return result;
    }
    const Extent extent = ExtentOf(points);
    const double eastWest = extent.lonSpan * std::cos(extent.lat0 * kDegree);
    if (std::max(extent.latSpan, eastWest) < kMinimumSpanDegrees) {
        result.m_strRefusal = kCannotTell.arg(
            QStringLiteral("they span less than %1 degrees, over which every projection fits them alike.")
                .arg(kMinimumSpanDegrees));
        return result;
    }
    const std::optional<Samples> samples = PrepareSamples(points);
    if (!samples) {
        result.m_strRefusal = kCannotTell.arg(QStringLiteral("their pixels lie on one line."));
        return result;
    }

    Evaluator evaluator(*samples);
    std::vector<ProjectionCandidate> candidates;
    int unjudged = 0; // the fewest shape parameters of a family left out
    for (const Family& family : Families(extent)) {
        // Leaving one point out judges only the affine part; shape parameters are judged by the
        // surplus of points beyond them.
        const std::size_t needed = kMinimumPoints + kPointsPerShapeParameter * family.shapeParameters;
        if (points.size() < needed) {
            unjudged = unjudged == 0 ? family.shapeParameters : std::min(unjudged, family.shapeParameters);
            continue;
        }
        ProjectionCandidate candidate = FitFamily(family, evaluator);
        if (std::isfinite(candidate.m_dLooRmsMetres))
            candidates.push_back(std::move(candidate));
    }
    std::stable_sort(candidates.begin(), candidates.end(), [](const ProjectionCandidate& a, const ProjectionCandidate& b) {
        return a.m_dLooRmsMetres < b.m_dLooRmsMetres;
    });
    if (unjudged > 0)
        result.m_strNote =
            unjudged == 1
                ? QStringLiteral("Projections with shape parameters need %1 points for one and %2 for two to be judged; "
                                 "with %3 they were left out.")
                      .arg(kMinimumPoints + kPointsPerShapeParameter)
                      .arg(kMinimumPoints + 2 * kPointsPerShapeParameter)
                      .arg(points.size())
                : QStringLiteral("Projections with two shape parameters need %1 points to be judged; with %2 they were "
                                 "left out.")
                      .arg(kMinimumPoints + 2 * kPointsPerShapeParameter)
                      .arg(points.size());
    const double diagonal = kEarthRadius * kDegree * std::hypot(extent.latSpan, eastWest);
    if (candidates.empty() || candidates.front().m_dLooRmsMetres > kMisfitShareOfExtent * diagonal) {
        result.m_strRefusal =
            candidates.empty()
                ? kCannotTell.arg(QStringLiteral("no projection family takes all of them."))
                : kCannotTell.arg(QStringLiteral("the best projection still misses them by %1 km, more than a hundredth "
                                                 "of their extent; %2")
                                      .arg(Kilometres(candidates.front().m_dLooRmsMetres),
                                           result.m_strNote.isEmpty() ? QStringLiteral("some points may be wrong.")
                                                                      : result.m_strNote));
        result.m_strNote.clear();
        return result;
    }
    // The simplest family among those nearly as good as the best comes first.
    const double tolerable = kSimplerMargin * candidates.front().m_dLooRmsMetres + kSimplerSlackMetres;
    auto chosen = candidates.begin();
    for (auto it = candidates.begin(); it != candidates.end() && it->m_dLooRmsMetres <= tolerable; ++it)
        if (it->m_nShapeParameters < chosen->m_nShapeParameters)
            chosen = it;
    std::rotate(candidates.begin(), chosen, chosen + 1);
    if (candidates.size() > keep)
        candidates.resize(keep);
    result.m_Candidates = std::move(candidates);
    return result;
}
