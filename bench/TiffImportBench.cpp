// Importing a large scanned map from TIFF: time and peak memory of LoadTiffImage against the
// plain whole-image read with libtiff's TIFFReadRGBAImage into one 32-bit buffer.
//
// Each measurement runs in a child process of its own, so that its peak resident memory (the
// kernel's high-water mark, reset at the start) covers that one import and nothing else.
// Counters: import_ms and baseline_ms (means), time_ratio (import / baseline), import_peak_MB
// and baseline_peak_MB (growth of the resident set during the call), and peak_ratio (import peak
// over the bytes of the 24-bit image it holds).
//
// A fax page (one bit a pixel, group 4, one strip) is imported on its own: its peak must stay
// within the memory the import checks before it decodes (target: peak_over_estimate at most 1),
// where libtiff's RGBA reader once held the whole page at 32 bits besides the section.

#include "formats/TiffDecoder.h"
#include "formats/TiffFile.h"
#include "formats/TiffImport.h"
#include "imaging/DIBSection.h"

#include <QFile>
#include <QTemporaryDir>

#include "ChildMeasure.h"
#include "MapPayloads.h"

#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr std::uint32_t kWidth = 10000;
constexpr std::uint32_t kHeight = 8000;

/// A scan-like RGB picture: smooth shading with fine texture, so that LZW and JPEG have work.
void FillRow(std::vector<std::uint8_t>& row, std::uint32_t y)
{
    for (std::uint32_t x = 0; x < kWidth; ++x) {
        const std::uint32_t texture = (x * 7 + y * 13) % 23;
        row[3 * x] = static_cast<std::uint8_t>((x / 40 + texture) & 0xFF);
        row[3 * x + 1] = static_cast<std::uint8_t>((y / 32 + texture * 2) & 0xFF);
        row[3 * x + 2] = static_cast<std::uint8_t>(((x + y) / 64) & 0xFF);
    }
}

bool WriteBenchTiff(const QString& path, std::uint16_t compression)
{
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, std::uint16_t(8));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(3));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, std::uint16_t(PLANARCONFIG_CONTIG));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    if (compression == COMPRESSION_JPEG) {
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, std::uint16_t(PHOTOMETRIC_YCBCR));
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 85);
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, std::uint32_t(16));
    } else {
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, std::uint16_t(PHOTOMETRIC_RGB));
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    }
    std::vector<std::uint8_t> row(std::size_t(kWidth) * 3);
    bool ok = true;
    for (std::uint32_t y = 0; y < kHeight && ok; ++y) {
        FillRow(row, y);
        ok = TIFFWriteScanline(tif, row.data(), y, 0) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

/// The test pictures, written once per run: uncompressed, LZW and JPEG.
const QString& BenchFile(int kind)
{
    static QTemporaryDir* folder = new QTemporaryDir;
    static QString paths[3];
    static const std::uint16_t compressions[3] = {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_JPEG};
    static const char* names[3] = {"map_none.tif", "map_lzw.tif", "map_jpeg.tif"};
    if (paths[kind].isEmpty()) {
        const QString path = folder->filePath(QString::fromLatin1(names[kind]));
        if (!WriteBenchTiff(path, compressions[kind])) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(path));
            std::abort();
        }
        paths[kind] = path;
    }
    return paths[kind];
}

void ImportOnce(const QString& path)
{
    DIBSection section;
    LoadTiffImage(path, section, 0);
    if (!section.m_pBits)
        std::abort();
    benchmark::DoNotOptimize(section.m_pBits[0]);
}

void WholeImageReadOnce(const QString& path)
{
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        std::abort();
    std::unique_ptr<std::uint32_t, decltype(&_TIFFfree)> raster(
        static_cast<std::uint32_t*>(_TIFFmalloc(tmsize_t(kWidth) * kHeight * 4)), &_TIFFfree);
    if (!raster || !TIFFReadRGBAImage(tif, kWidth, kHeight, raster.get(), 0))
        std::abort();
    benchmark::DoNotOptimize(raster.get()[0]);
    TIFFClose(tif);
}

void BM_TiffImportLargeMap(benchmark::State& state)
{
    const QString& path = BenchFile(static_cast<int>(state.range(0)));
    const double heldBytes = double(((kWidth + 3) & ~3u) * 3.0) * kHeight;
    double importSeconds = 0, baselineSeconds = 0, importPeak = 0, baselinePeak = 0;
    int runs = 0;
    for (auto _ : state) {
        const Measurement import = MeasureInChild([&path] { ImportOnce(path); });
        const Measurement baseline = MeasureInChild([&path] { WholeImageReadOnce(path); });
        if (import.m_dSeconds <= 0 || baseline.m_dSeconds <= 0) {
            state.SkipWithError("a measurement failed");
            return;
        }
        state.SetIterationTime(import.m_dSeconds);
        importSeconds += import.m_dSeconds;
        baselineSeconds += baseline.m_dSeconds;
        importPeak = std::max(importPeak, import.m_dPeakBytes);
        baselinePeak = std::max(baselinePeak, baseline.m_dPeakBytes);
        ++runs;
    }
    state.counters["import_ms"] = importSeconds / runs * 1000;
    state.counters["baseline_ms"] = baselineSeconds / runs * 1000;
    state.counters["time_ratio"] = importSeconds / baselineSeconds;
    state.counters["import_peak_MB"] = importPeak / 1e6;
    state.counters["baseline_peak_MB"] = baselinePeak / 1e6;
    state.counters["peak_ratio"] = importPeak / heldBytes;
}
// 0: uncompressed, 1: LZW, 2: JPEG.
BENCHMARK(BM_TiffImportLargeMap)->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_TiffImportFaxPage(benchmark::State& state)
{
    const int side = static_cast<int>(state.range(0));
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("page.tif"));
    if (!WriteFaxPage(path, side)) {
        state.SkipWithError("the page could not be written");
        return;
    }
    // What the import checks before it decodes: the section and the decoding's working memory.
    const TiffFile file(path);
    const double estimate = double((std::int64_t(side) * 3 + 3) & ~std::int64_t(3)) * side +
                            double(TiffDecodeWorkingBytes(file.Handle(), file.FileSize()));
    double seconds = 0, peak = 0;
    int runs = 0;
    for (auto _ : state) {
        const Measurement m = MeasureInChild([&path] { ImportOnce(path); });
        if (m.m_dSeconds <= 0) {
            state.SkipWithError("the import failed");
            return;
        }
        state.SetIterationTime(m.m_dSeconds);
        seconds += m.m_dSeconds;
        peak = std::max(peak, m.m_dPeakBytes);
        ++runs;
    }
    state.counters["import_ms"] = seconds / runs * 1000;
    state.counters["peak_MB"] = peak / 1e6;
    state.counters["estimate_MB"] = estimate / 1e6;
    state.counters["peak_over_estimate"] = peak / estimate;
}
// Pages of 20000 x 20000 pixels: 1.2 GB held as 24-bit pixels.
BENCHMARK(BM_TiffImportFaxPage)->Arg(20000)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

} // namespace
