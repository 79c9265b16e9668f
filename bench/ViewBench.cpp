// What the map view costs while the user works: a paint of the whole or a zoomed-in frame for a
// small and a large map, the rebuild of a TIFF display copy on a zoom click, and a pointer move
// over a geo-coded map. A paint must follow the window's size, not the map's.

#include "commands/PointEditCommands.h"
#include "document/CQuilletDoc.h"
#include "imaging/BmpEncoding.h"
#include "view/core/ViewHost.h"
#include "view/core/ViewPainter.h"
#include "view/core/ViewState.h"

#include <QPainter>

#include <benchmark/benchmark.h>

namespace {

constexpr int kClientWidth = 1920;
constexpr int kClientHeight = 1080;

class BenchHost : public ViewHost {
public:
    QSize ClientSize() const override { return {kClientWidth, kClientHeight}; }
    void Invalidate() override {}
    void InvalidateFeedback(const QRect&) override {}
    void SetCapture() override {}
    void ReleaseCapture() override {}
    void SetPaneText(const QString& text, int) override { benchmark::DoNotOptimize(text.size()); }
    int TextHeight() const override { return 16; }
};

QImage Pattern(int width, int height)
{
    QImage map(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(map.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = qRgb(x & 0xFF, y & 0xFF, (x ^ y) & 0xFF);
    }
    return map;
}

/// A picture map (kind 2) of width x height pixels, loaded as the New command loads a BMP.
CQuilletDoc* PictureMap(int width, int height)
{
    auto* doc = new CQuilletDoc;
    const QByteArray bmp = EncodeBmp24(Pattern(width, height));
    CPicture picture;
    picture.LoadFromMemory(bmp);
    picture.m_nWidth = width;
    picture.m_nHeight = height;
    doc->InstallPictureMap(QStringLiteral("/maps/bench.bmp"), MapKind::Bmp, std::move(picture), bmp);
    return doc;
}

/// A TIFF map (kind 9) holding one 24-bit image of width x height pixels.
CQuilletDoc* TiffMap(int width, int height)
{
    auto* doc = new CQuilletDoc;
    DIBSection image;
    image.Create(24, width, height);
    for (int r = 0; r < height; ++r) {
        std::uint8_t* row = image.StoredRow(r);
        for (int c = 0; c < width * 3; ++c)
            row[c] = static_cast<std::uint8_t>((r * 7 + c * 13) & 0xFF);
    }
    std::vector<DIBSection> images;
    images.push_back(std::move(image));
    doc->InstallTiffMap(QStringLiteral("/maps/bench.tif"), MapKind::Tif, std::move(images));
    return doc;
}

void Zoom(ViewState& view, bool zoomedIn)
{
    view.ShowWholeFrame();
    if (zoomedIn) {
        view.SetWindow({0.45, 0.45, 0.55, 0.55});
    }
}

void PaintLoop(benchmark::State& state, CQuilletDoc& doc, ViewState& view)
{
    QImage client(kClientWidth, kClientHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        client.fill(Qt::white);
        QPainter painter(&client);
        PaintView(painter, doc, view, kClientWidth, kClientHeight);
    }
}

// Arguments: 0 a 1-megapixel map, 1 a 108-megapixel one; 0 whole frame, 1 zoomed to a tenth.
void BM_PaintPictureMap(benchmark::State& state)
{
    static CQuilletDoc* small = PictureMap(1200, 900);
    static CQuilletDoc* large = PictureMap(12000, 9000);
    CQuilletDoc& doc = state.range(0) ? *large : *small;
    ViewState view;
    Zoom(view, state.range(1) != 0);
    PaintLoop(state, doc, view);
}
BENCHMARK(BM_PaintPictureMap)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PaintTiffMap(benchmark::State& state)
{
    static CQuilletDoc* small = TiffMap(1150, 920);
    static CQuilletDoc* large = TiffMap(10000, 8000);
    CQuilletDoc& doc = state.range(0) ? *large : *small;
    ViewState view;
    BenchHost host;
    view.OnUpdate(doc, host, DocChange::kAll);
    Zoom(view, state.range(1) != 0);
    view.RebuildDisplayCopy(doc, view.GetDisplaySize(doc, kClientWidth, kClientHeight));
    PaintLoop(state, doc, view);
}
BENCHMARK(BM_PaintTiffMap)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ZoomClickRebuildsTheDisplayCopy(benchmark::State& state)
{
    static CQuilletDoc* doc = TiffMap(10000, 8000);
    BenchHost host;
    PointEditCommands actions(*doc);
    ViewState view;
    view.OnUpdate(*doc, host, DocChange::kAll);
    view.OnZoomIn(*doc);
    for (auto _ : state) {
        // Back to the whole frame and its copy, untimed; then the timed click rebuilds the copy.
        state.PauseTiming();
        view.ShowWholeFrame();
        view.RebuildDisplayCopy(*doc, view.GetDisplaySize(*doc, kClientWidth, kClientHeight));
        state.ResumeTiming();
        view.ZoomAtPoint(*doc, host, actions, kClientWidth / 2, kClientHeight / 2);
    }
}
BENCHMARK(BM_ZoomClickRebuildsTheDisplayCopy)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PointerMoveReadOut(benchmark::State& state)
{
    static CQuilletDoc* doc = PictureMap(400, 300);
    doc->RestorePoints({{}, 1, GeoModel::FromAffine(0, 400, -2800, -300, 0, 13500).Coefficients(), std::nullopt});
    BenchHost host;
    ViewState view;
    int x = 0;
    for (auto _ : state) {
        view.OnMouseMove(*doc, host, QPoint(x, 500));
        x = (x + 7) % kClientWidth;
    }
}
BENCHMARK(BM_PointerMoveReadOut)->Unit(benchmark::kMicrosecond);

} // namespace
