// Raster costs that a paint and a zoom click pay: resampling the TIFF display copy and blitting
// sections and pictures onto a window-sized surface.

#include "imaging/BmpEncoding.h"
#include "imaging/CPicture.h"
#include "imaging/DIBSection.h"

#include <QGuiApplication>
#include <QPainter>

#include <benchmark/benchmark.h>

namespace {

void FillPattern(DIBSection& dib)
{
    for (int r = 0; r < dib.m_nHeight; ++r) {
        std::uint8_t* row = dib.StoredRow(r);
        for (int c = 0; c < dib.m_nWidth * 3; ++c)
            row[c] = static_cast<std::uint8_t>((r * 7 + c * 13) & 0xFF);
    }
}

void BM_CreateResampled(benchmark::State& state)
{
    DIBSection source;
    source.Create(24, 10000, 8000);
    FillPattern(source);
    DIBSection display;
    const int width = static_cast<int>(state.range(0));
    const int height = width * 8 / 10;
    for (auto _ : state) {
        display.CreateResampled(width, height, &source);
        benchmark::DoNotOptimize(display.m_pBits);
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(width) * height);
}
BENCHMARK(BM_CreateResampled)->Arg(1920)->Arg(4800)->Unit(benchmark::kMillisecond);

void BM_DrawSection(benchmark::State& state)
{
    DIBSection dib;
    dib.Create(24, 1920, 1080);
    FillPattern(dib);
    QImage window(1920, 1080, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter painter(&window);
        dib.Draw(painter, 0, 0);
    }
}
BENCHMARK(BM_DrawSection)->Unit(benchmark::kMillisecond);

void BM_DrawPartOfLargePicture(benchmark::State& state)
{
    // A 12000 x 9000 map picture in a 1920 x 1080 window: whole (0) and zoomed to a tenth (1).
    static CPicture* picture = [] {
        QImage map(12000, 9000, QImage::Format_RGB32);
        for (int y = 0; y < map.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(map.scanLine(y));
            for (int x = 0; x < map.width(); ++x)
                line[x] = qRgb(x & 0xFF, y & 0xFF, (x ^ y) & 0xFF);
        }
        auto* loaded = new CPicture;
        loaded->LoadFromMemory(EncodeBmp24(map));
        return loaded;
    }();
    QImage window(1920, 1080, QImage::Format_RGB32);
    const bool whole = state.range(0) == 0;
    for (auto _ : state) {
        QPainter painter(&window);
        if (whole)
            picture->DrawPart(&painter, QRect(0, 0, 1920, 1080), 0.0, 1.0, 0.0, 1.0);
        else
            picture->DrawPart(&painter, QRect(0, 0, 1920, 1080), 0.45, 0.55, 0.45, 0.55);
    }
}
BENCHMARK(BM_DrawPartOfLargePicture)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    // Figures from another build than the default one are not comparable: say which this is.
    benchmark::AddCustomContext("build_type", VARNEL_BUILD_TYPE);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
