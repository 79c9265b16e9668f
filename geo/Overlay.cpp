#include "geo/Overlay.h"

#include <QLineF>

#include <algorithm>
#include <cmath>

namespace {

/// Deep enough for a continent's parallel at a fine tolerance, shallow enough that a line the
/// geo-coding tears apart costs at most a few thousand vertices.
constexpr int kMaxSplits = 12;
/// A chord longer than this is split even when its middle lies on it: a line may wind back.
constexpr double kLongestChord = 256.0;

/// Where the picture is, a chord near it may be split further: a meridian given as one segment
/// from pole to pole must still follow its curve across the map.
constexpr int kMaxSplitsNearPicture = 24;
/// Halvings that find where a line leaves the geo-coding's reach: to a millionth of its segment.
constexpr int kEdgeHalvings = 20;

class OverlayProjector {
public:
    OverlayProjector(const FitCrsConversion* source, const GeoCoding& coding, double tolerance, const QRectF& picture)
        : m_pSource(source), m_Coding(coding), m_dTolerance(tolerance),
          m_Near(picture.isEmpty() ? QRectF() : picture.adjusted(-picture.width(), -picture.height(), picture.width(),
                                                                 picture.height()))
    {
    }

    std::optional<QPointF> Pixel(const QPointF& xy) const
    {
        GeoPosition position{xy.y(), xy.x()};
        if (m_pSource) {
            const std::optional<GeoPosition> wgs84 = m_pSource->ToWgs84(xy);
            if (!wgs84)
                return std::nullopt;
            position = *wgs84;
        }
        return m_Coding.GeoToPixel(position);
    }

    /// Draws the line's vertices into drawing, starting a new run after each gap. A segment that
    /// leaves the geo-coding's reach (a pole a conic cannot show) is drawn up to where it leaves.
    void DrawLine(const std::vector<QPointF>& vertices, OverlayDrawing& drawing) const
    {
        QPolygonF run;
        std::optional<QPointF> previous;
        for (std::size_t k = 0; k < vertices.size(); ++k) {
            const std::optional<QPointF> pixel = Pixel(vertices[k]);
            if (k > 0 && previous && pixel) {
                if (!Follow(vertices[k - 1], *previous, vertices[k], *pixel, 0, run)) {
                    Flush(run, drawing);
                    run.append(*pixel);
                }
            } else if (k > 0 && previous) {
                const auto [edge, edgePixel] = Edge(vertices[k - 1], *previous, vertices[k]);
                Follow(vertices[k - 1], *previous, edge, edgePixel, 0, run);
                Flush(run, drawing);
            } else if (k > 0 && pixel) {
                const auto [edge, edgePixel] = Edge(vertices[k], *pixel, vertices[k - 1]);
                run.append(edgePixel);
                if (!Follow(edge, edgePixel, vertices[k], *pixel, 0, run)) {
                    Flush(run, drawing);
                    run.append(*pixel);
                }
            } else if (pixel) {
                run.append(*pixel);
            }
            previous = pixel;
        }
        Flush(run, drawing);
    }

private:
    /// Appends the pixels from after pa up to pb, splitting the segment a..b in the source system
    /// while its middle strays from the chord. False at a gap (run then ends before it).
    bool Follow(const QPointF& a, const QPointF& pa, const QPointF& b, const QPointF& pb, int depth, QPolygonF& run) const
    {
        const bool nearPicture = !m_Near.isEmpty() && QRectF(pa, pb).normalized().intersects(m_Near);
        if (depth < (nearPicture ? kMaxSplitsNearPicture : kMaxSplits)) {
            const QPointF middle = (a + b) / 2.0;
            const std::optional<QPointF> pm = Pixel(middle);
            if (!pm)
                return false;
            const double stray = QLineF(*pm, (pa + pb) / 2.0).length();
            if (stray > m_dTolerance || QLineF(pa, pb).length() > kLongestChord)
                return Follow(a, pa, middle, *pm, depth + 1, run) && Follow(middle, *pm, b, pb, depth + 1, run);
        }
        run.append(pb);
        return true;
    }

    /// The last point from inside (whose pixel is known) toward outside (which has none) that has
    /// a pixel, and that pixel.
    std::pair<QPointF, QPointF> Edge(QPointF inside, QPointF insidePixel, QPointF outside) const
    {
        for (int k = 0; k < kEdgeHalvings; ++k) {
            const QPointF middle = (inside + outside) / 2.0;
            if (const std::optional<QPointF> pixel = Pixel(middle)) {
                inside = middle;
                insidePixel = *pixel;
            } else {
                outside = middle;
            }
        }
        return {inside, insidePixel};
    }

    static void Flush(QPolygonF& run, OverlayDrawing& drawing)
    {
        if (run.size() > 1)
            drawing.m_Lines.push_back(run);
        run.clear();
    }

    const FitCrsConversion* m_pSource;
    const GeoCoding& m_Coding;
    double m_dTolerance;
    QRectF m_Near; ///< the picture and a picture's width and height around it; empty when not given
};

} // namespace

OverlayDrawing DrawOverlay(const std::vector<OverlayShape>& shapes, const FitCrsConversion* source,
                           const GeoCoding& coding, const QRectF& picture, double tolerance)
{
    const OverlayProjector projector(source, coding, tolerance, picture);
    OverlayDrawing drawing;
    for (const OverlayShape& shape : shapes) {
        if (!shape.m_bPoint) {
            projector.DrawLine(shape.m_Vertices, drawing);
            continue;
        }
        for (const QPointF& vertex : shape.m_Vertices)
            if (const std::optional<QPointF> pixel = projector.Pixel(vertex))
                drawing.m_Points.push_back(*pixel);
    }
    return drawing;
}

double GraticuleInterval(double latitudeSpan, double longitudeSpan)
{
    static constexpr double kIntervals[] = {30.0,        20.0,        15.0,       10.0,        5.0,
                                            2.0,         1.0,         30.0 / 60,  20.0 / 60,   15.0 / 60,
                                            10.0 / 60,   5.0 / 60,    2.0 / 60,   1.0 / 60};
    const double span = std::max(latitudeSpan, longitudeSpan);
    for (const double interval : kIntervals)
        if (span / interval >= 3.0)
            return interval;
    return kIntervals[std::size(kIntervals) - 1];
}

std::optional<std::array<double, 4>> PictureExtent(const GeoCoding& coding, double width, double height)
{
    constexpr int kSamples = 16;
    const std::optional<GeoPosition> centre = coding.PixelToGeo(width / 2.0, height / 2.0);
    std::optional<std::array<double, 4>> extent;
    for (int i = 0; i <= kSamples; ++i) {
        for (int j = 0; j <= kSamples; ++j) {
            const std::optional<GeoPosition> at = coding.PixelToGeo(width * i / kSamples, height * j / kSamples);
            if (!at)
                continue;
            const double longitude = centre ? LongitudeNear(at->m_dLongitude, centre->m_dLongitude) : at->m_dLongitude;
            if (!extent) {
                extent = std::array<double, 4>{at->m_dLatitude, longitude, at->m_dLatitude, longitude};
                continue;
            }
            auto& [south, west, north, east] = *extent;
            south = std::min(south, at->m_dLatitude);
            north = std::max(north, at->m_dLatitude);
            west = std::min(west, longitude);
            east = std::max(east, longitude);
        }
    }
    return extent;
}

GraticuleLines Graticule(const GeoCoding& coding, double width, double height, double interval)
{
    GraticuleLines graticule;
    const std::optional<std::array<double, 4>> extent = PictureExtent(coding, width, height);
    if (!extent) {
        graticule.m_strRefusal = QStringLiteral("no part of the map reads out a position");
        return graticule;
    }
    // The samples miss the border's outermost bulges: reach a little beyond them.
    const double latitudeMargin = ((*extent)[2] - (*extent)[0]) / 16.0;
    const double longitudeMargin = ((*extent)[3] - (*extent)[1]) / 16.0;
    const double south = std::max(-90.0, (*extent)[0] - latitudeMargin);
    const double north = std::min(90.0, (*extent)[2] + latitudeMargin);
    const double west = (*extent)[1] - longitudeMargin;
    const double east = (*extent)[3] + longitudeMargin;
    if (interval <= 0.0)
        interval = GraticuleInterval(north - south, east - west);
    graticule.m_dInterval = interval;

    const auto first = static_cast<long long>(std::ceil(west / interval));
    const auto last = static_cast<long long>(std::floor(east / interval));
    const auto lowest = static_cast<long long>(std::ceil(south / interval));
    const auto highest = static_cast<long long>(std::floor(north / interval));
    if ((last - first + 1) + (highest - lowest + 1) > 1000) {
        graticule.m_strRefusal =
            QStringLiteral("an interval of %1 degrees draws more than a thousand lines over this map").arg(interval);
        return graticule;
    }
    // Vertices every quarter interval at most; DrawOverlay follows the curve between them.
    const auto along = [](double from, double to, double step) {
        std::vector<double> values;
        const int pieces = std::max(1, static_cast<int>(std::ceil((to - from) / step)));
        for (int k = 0; k <= pieces; ++k)
            values.push_back(from + (to - from) * k / pieces);
        return values;
    };
    std::vector<GraticuleLine>& lines = graticule.m_Lines;
    for (long long k = first; k <= last; ++k) {
        GraticuleLine line{true, static_cast<double>(k) * interval, {}};
        for (const double latitude : along(south, north, interval / 4.0))
            line.m_Shape.m_Vertices.emplace_back(line.m_dValue, latitude);
        lines.push_back(std::move(line));
    }
    for (long long k = lowest; k <= highest; ++k) {
        GraticuleLine line{false, static_cast<double>(k) * interval, {}};
        for (const double longitude : along(west, east, interval / 4.0))
            line.m_Shape.m_Vertices.emplace_back(longitude, line.m_dValue);
        lines.push_back(std::move(line));
    }
    return graticule;
}

QString GraticuleLabel(const GraticuleLine& line)
{
    double value = line.m_dValue;
    if (line.m_bMeridian)
        value = LongitudeNear(value, 0.0);
    const long long minutes = std::llround(std::abs(value) * 60.0);
    const QChar hemisphere = line.m_bMeridian ? (value < 0 ? QLatin1Char('W') : QLatin1Char('E'))
                                              : (value < 0 ? QLatin1Char('S') : QLatin1Char('N'));
    QString text = QStringLiteral("%1\u00B0").arg(minutes / 60);
    if (minutes % 60 != 0)
        text += QStringLiteral("%1'").arg(minutes % 60, 2, 10, QLatin1Char('0'));
    if (minutes != 0 && !(line.m_bMeridian && minutes == 180 * 60))
        text += hemisphere;
    return text;
}

OverlayDrawing ConvertedDrawing(const OverlayDrawing& drawing, const FitCrsConversion& from, const FitCrsConversion& to)
{
    const auto convert = [&](const QPointF& xy) -> std::optional<QPointF> {
        const std::optional<GeoPosition> wgs84 = from.ToWgs84(xy);
        return wgs84 ? to.ToFit(*wgs84) : std::nullopt;
    };
    OverlayDrawing converted;
    for (const QPolygonF& line : drawing.m_Lines) {
        QPolygonF run;
        for (const QPointF& vertex : line) {
            if (const std::optional<QPointF> xy = convert(vertex)) {
                run.append(*xy);
            } else if (run.size() > 1) {
                converted.m_Lines.push_back(run);
                run.clear();
            }
        }
        if (run.size() > 1)
            converted.m_Lines.push_back(run);
    }
    for (const QPointF& point : drawing.m_Points)
        if (const std::optional<QPointF> xy = convert(point))
            converted.m_Points.push_back(*xy);
    return converted;
}
