// What the overlays cost while the user works on a geo-coded map: drawing 20,000 vertices of
// reference lines through the geo-coding (after every edit), painting what was drawn over the
// picture at 100% (every redraw), and the graticule. A redraw is to stay under 50 ms.

#include "geo/FitCrsConversion.h"
#include "geo/GeoCoding.h"
#include "geo/Overlay.h"
#include "view/core/OverlayPainter.h"

#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

/// A scan of the conterminous USA in Albers (EPSG:5070), 1200 m a pixel.
constexpr int kWidth = 4000;
constexpr int kHeight = 2500;
constexpr double kPixelMetres = 1200.0;

/// 200 lines of 100 vertices in WGS 84 longitude and latitude, winding as roads and rivers do,
/// each vertex about 5 km from the last (a few pixels on the map), spread over the country.
std::vector<OverlayShape> ReferenceLines()
{
    std::vector<OverlayShape> shapes;
    for (int i = 0; i < 200; ++i) {
        OverlayShape line;
        const double west = -121.0 + (i % 20) * 2.4, south = 27.0 + (i / 20) * 2.0;
        for (int k = 0; k < 100; ++k)
            line.m_Vertices.emplace_back(west + 0.05 * k, south + 0.6 * std::sin(k / (7.0 + i % 5)));
        shapes.push_back(std::move(line));
    }
    return shapes;
}

/// The map's geo-coding: the georeference of a GeoTIFF in Albers (affine), or a thin-plate
/// spline through 30 points placed where PROJ puts them (the costliest transformation to invert).
GeoCoding MapGeoCoding(bool spline)
{
    const FitCrs albers = *FitCrs::Parse(QStringLiteral("EPSG:5070"));
    const std::array<double, 6> gt{-2.4e6, kPixelMetres, 0.0, 3.2e6, 0.0, -kPixelMetres};
    std::optional<GeoCoding> affine = GeoCoding::FromGeoTransform(albers, gt);
    if (!spline)
        return std::move(*affine);
    std::vector<GeoControlPoint> points;
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 5; ++j) {
            const double column = kWidth * (0.05 + 0.18 * i), row = kHeight * (0.08 + 0.2 * j);
            const GeoPosition at = *affine->PixelToGeo(column, row);
            points.push_back({at.m_dLatitude, at.m_dLongitude, column, row});
        }
    return std::move(*GeoCoding::Analyse(TransformKind::Tps, albers, points, false).m_GeoCoding);
}

/// Counts the vertices drawn, so the figures say how much was drawn.
void CountDrawn(benchmark::State& state, const OverlayDrawing& drawing)
{
    std::size_t vertices = 0;
    for (const QPolygonF& line : drawing.m_Lines)
        vertices += static_cast<std::size_t>(line.size());
    state.counters["lines"] = static_cast<double>(drawing.m_Lines.size());
    state.counters["drawn_vertices"] = static_cast<double>(vertices);
}

/// Arguments: the map's geo-coding (0 affine, 1 spline); the reference's system (0 WGS 84
/// longitude and latitude, 1 web Mercator, EPSG:3857, which costs one more conversion a vertex).
void BM_DrawReferenceLines(benchmark::State& state)
{
    const GeoCoding coding = MapGeoCoding(state.range(0) != 0);
    std::vector<OverlayShape> shapes = ReferenceLines();
    std::optional<FitCrsConversion> mercator;
    if (state.range(1) != 0) {
        mercator = FitCrsConversion::Create(*FitCrs::Parse(QStringLiteral("EPSG:3857")));
        for (OverlayShape& shape : shapes)
            for (QPointF& vertex : shape.m_Vertices)
                vertex = *mercator->ToFit({vertex.y(), vertex.x()});
    }
    OverlayDrawing drawing;
    for (auto _ : state) {
        drawing = DrawOverlay(shapes, mercator ? &*mercator : nullptr, coding, QRectF(0, 0, kWidth, kHeight));
        benchmark::DoNotOptimize(drawing.m_Lines.data());
    }
    CountDrawn(state, drawing);
}
BENCHMARK(BM_DrawReferenceLines)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PaintReferenceLines(benchmark::State& state)
{
    const GeoCoding coding = MapGeoCoding(false);
    const OverlayDrawing drawing = DrawOverlay(ReferenceLines(), nullptr, coding, QRectF(0, 0, kWidth, kHeight));
    QImage picture(kWidth, kHeight, QImage::Format_RGB32);
    picture.fill(Qt::white);
    for (auto _ : state) {
        QPainter painter(&picture);
        PaintOverlay(painter, drawing, QColor(255, 0, 0));
    }
    CountDrawn(state, drawing);
}
BENCHMARK(BM_PaintReferenceLines)->Unit(benchmark::kMillisecond)->UseRealTime();

/// Arguments: the map's geo-coding (0 affine, 1 spline); the interval in degrees (0 automatic).
void BM_DrawGraticule(benchmark::State& state)
{
    const GeoCoding coding = MapGeoCoding(state.range(0) != 0);
    OverlayDrawing drawing;
    for (auto _ : state) {
        const GraticuleLines graticule = Graticule(coding, kWidth, kHeight, static_cast<double>(state.range(1)));
        std::vector<OverlayShape> shapes;
        for (const GraticuleLine& line : graticule.m_Lines)
            shapes.push_back(line.m_Shape);
        drawing = DrawOverlay(shapes, nullptr, coding, QRectF(0, 0, kWidth, kHeight));
    }
    CountDrawn(state, drawing);
}
BENCHMARK(BM_DrawGraticule)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
