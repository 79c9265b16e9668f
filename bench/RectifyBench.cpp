// Rectifying a large scanned map (10000 x 8000 pixels) geo-coded by a thin-plate spline through
// 30 points into WGS 84 longitude and latitude, on the grid gdalwarp would choose: the whole
// write, overviews included, runs in a forked child so that its peak resident memory covers it
// and nothing else. Counters: rectify_ms and rectify_peak_MB (growth of the resident set).
//
// With VARNEL_RECTIFY_BENCH_KEEP set to a folder, the map is also left there as map.bmp with
// gcps.txt (gdal_translate's -gcp options, longitude and latitude) and grid.txt (gdalwarp's -te
// and -ts for the grid written), for a run of gdalwarp -tps on the same pixels and grid.

#include "formats/Rectify.h"
#include "imaging/BmpEncoding.h"
#include "imaging/DIBSection.h"
#include "platform/BinaryIO.h"
#include "platform/FileIO.h"

#include <QDir>
#include <QTemporaryDir>

#include "ChildMeasure.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>

namespace {

constexpr int kWidth = 10000;
constexpr int kHeight = 8000;

/// Where a pixel of the map lies: a sheet of about 4 by 2.4 degrees, slightly bent as a scan is.
GeoPosition Ground(double column, double row)
{
    return {45.0 - 0.0003 * row + 2e-9 * column * column + 0.01 * std::cos(row / 2500.0),
            -100.0 + 0.0004 * column + 1e-9 * column * row + 0.01 * std::sin(column / 3000.0)};
}

DIBSection MakeMap()
{
    DIBSection picture;
    picture.Create(24, kWidth, kHeight);
    for (int row = 0; row < kHeight; ++row) {
        std::uint8_t* bgr = picture.StoredRow(kHeight - 1 - row);
        for (int column = 0; column < kWidth; ++column, bgr += 3) {
            bgr[0] = std::uint8_t(column / 8 + row / 16);
            bgr[1] = std::uint8_t(row / 6);
            bgr[2] = std::uint8_t((column ^ row) / 32);
        }
    }
    return picture;
}

std::vector<GeoControlPoint> ThirtyPoints()
{
    std::vector<GeoControlPoint> points;
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 5; ++j) {
            const double column = 300 + 1880 * i + 50 * ((i * j) % 3), row = 250 + 1870 * j + 40 * ((i + j) % 2);
            const GeoPosition ground = Ground(column, row);
            points.push_back({ground.m_dLatitude, ground.m_dLongitude, column, row});
        }
    return points;
}

/// The map as a BMP with its control points and the grid, for gdalwarp.
void Keep(const QString& folder, const DIBSection& picture, const std::vector<GeoControlPoint>& points,
          const RectifiedGrid& grid)
{
    QByteArray bmp;
    BinaryWriter out(bmp);
    const auto pixelBytes = std::uint32_t(picture.RowBytes() * kHeight);
    WriteBmpFileHeader(out, 54 + pixelBytes, 54);
    out.WriteUInt32(40);
    out.WriteInt32(kWidth);
    out.WriteInt32(kHeight);
    out.WriteUInt16(1);
    out.WriteUInt16(24);
    for (int i = 0; i < 6; ++i)
        out.WriteUInt32(0);
    bmp.append(reinterpret_cast<const char*>(picture.m_pBits), qsizetype(pixelBytes));
    WriteWholeFile(QDir(folder).filePath("map.bmp"), bmp);
    QByteArray gcps;
    for (const GeoControlPoint& p : points)
        gcps += QStringLiteral("-gcp %1 %2 %3 %4\n").arg(p.m_dColumn, 0, 'g', 17).arg(p.m_dRow, 0, 'g', 17)
                    .arg(p.m_dLongitude, 0, 'g', 17).arg(p.m_dLatitude, 0, 'g', 17).toUtf8();
    WriteWholeFile(QDir(folder).filePath("gcps.txt"), gcps);
    const auto& g = grid.m_GeoTransform;
    WriteWholeFile(QDir(folder).filePath("grid.txt"),
                   QStringLiteral("-te %1 %2 %3 %4 -ts %5 %6\n")
                       .arg(g[0], 0, 'g', 17).arg(g[3] + grid.m_nHeight * g[5], 0, 'g', 17)
                       .arg(g[0] + grid.m_nWidth * g[1], 0, 'g', 17).arg(g[3], 0, 'g', 17)
                       .arg(grid.m_nWidth).arg(grid.m_nHeight).toUtf8());
}

void BM_RectifyLargeMapWithSpline(benchmark::State& state)
{
    const DIBSection picture = MakeMap();
    const std::vector<GeoControlPoint> points = ThirtyPoints();
    GeoCodingAnalysis analysis = GeoCoding::Analyse(TransformKind::Tps, FitCrs(), points, false);
    if (!analysis.m_GeoCoding) {
        state.SkipWithError(analysis.m_strRefusal.toStdString().c_str());
        return;
    }
    QTemporaryDir folder;
    const QString path = folder.filePath("rectified.tif");
    RectifyOptions options;
    options.m_eResampling = RectifyResampling::Bilinear;
    double seconds = 0, peak = 0;
    int runs = 0;
    for (auto _ : state) {
        const Measurement m =
            MeasureInChild([&] { RectifyMap(picture, *analysis.m_GeoCoding, options, path); });
        state.SetIterationTime(m.m_dSeconds);
        seconds += m.m_dSeconds;
        peak = std::max(peak, m.m_dPeakBytes);
        ++runs;
    }
    state.counters["rectify_ms"] = seconds / runs * 1000;
    state.counters["rectify_peak_MB"] = peak / 1e6;
    if (const char* keep = std::getenv("VARNEL_RECTIFY_BENCH_KEEP")) {
        const RectifyResult result = RectifyMap(picture, *analysis.m_GeoCoding, options, QDir(keep).filePath("varnel.tif"));
        if (result.m_Grid)
            Keep(QString::fromLocal8Bit(keep), picture, points, *result.m_Grid);
    }
}

} // namespace

BENCHMARK(BM_RectifyLargeMapWithSpline)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
