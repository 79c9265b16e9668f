// Rectifying a large scanned map (10000 x 8000 pixels) geo-coded by a thin-plate spline through
// 30 points into WGS 84 longitude and latitude, on the grid gdalwarp would choose, against
// gdalwarp -tps -multi -wo NUM_THREADS=ALL_CPUS on the same pixels (a BMP under a VRT holding the
// control points) and the same grid, bilinear, with an alpha band, tiled and Deflate-compressed;
// gdaladdo -r average then adds the overviews Varnel's file has. Taken in turn, a few rounds;
// medians. Our whole write, overviews included, runs in a forked child so that its peak resident
// memory covers it and nothing else; gdalwarp's and gdaladdo's peaks are their processes' own.
// Counters: rectify_ms, gdalwarp_ms, gdaladdo_ms, rectify_vs_gdalwarp (times),
// rectify_vs_gdalwarp_gdaladdo, rectify_cpu_ms and gdalwarp_cpu_ms (processor time, user and
// system, of all threads: the fairer figure on a shared machine); rectify_peak_MB (growth of the resident set), rectify_total_MB
// (that plus the picture it reads, as gdalwarp's process holds its source), gdalwarp_peak_MB,
// gdaladdo_peak_MB, memory_vs_gdalwarp (total against gdalwarp's peak).
//
// With VARNEL_RECTIFY_BENCH_KEEP set to a folder, the files are made and left there: map.bmp,
// gcps.txt (gdal_translate's -gcp options, longitude and latitude), grid.txt (gdalwarp's -te and
// -ts), map.vrt, varnel.tif and gdalwarp.tif.

#include "formats/Rectify.h"
#include "imaging/BmpEncoding.h"
#include "imaging/DIBSection.h"
#include "platform/BinaryIO.h"
#include "platform/FileIO.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "ChildMeasure.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

constexpr int kWidth = 10000;
constexpr int kHeight = 8000;
constexpr int kRounds = 3;

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

/// The map as a BMP with its control points, for gdal_translate.
bool WriteMapFiles(const QString& folder, const DIBSection& picture, const std::vector<GeoControlPoint>& points)
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
    QByteArray gcps;
    for (const GeoControlPoint& p : points)
        gcps += QStringLiteral("-gcp %1 %2 %3 %4\n").arg(p.m_dColumn, 0, 'g', 17).arg(p.m_dRow, 0, 'g', 17)
                    .arg(p.m_dLongitude, 0, 'g', 17).arg(p.m_dLatitude, 0, 'g', 17).toUtf8();
    return WriteWholeFile(QDir(folder).filePath("map.bmp"), bmp) && WriteWholeFile(QDir(folder).filePath("gcps.txt"), gcps);
}

/// gdalwarp's -te and -ts for the grid written, as words.
QStringList GridWords(const RectifiedGrid& grid)
{
    const auto& g = grid.m_GeoTransform;
    return QStringLiteral("-te %1 %2 %3 %4 -ts %5 %6")
        .arg(g[0], 0, 'g', 17).arg(g[3] + grid.m_nHeight * g[5], 0, 'g', 17)
        .arg(g[0] + grid.m_nWidth * g[1], 0, 'g', 17).arg(g[3], 0, 'g', 17)
        .arg(grid.m_nWidth).arg(grid.m_nHeight)
        .split(QLatin1Char(' '));
}

/// Processor seconds (user and system) of the children this process has waited for.
double ChildrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

void BM_RectifyLargeMapWithSpline(benchmark::State& state)
{
    QStringList tools;
    for (const char* name : {"gdal_translate", "gdalwarp", "gdaladdo"}) {
        tools << QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (tools.back().isEmpty()) {
            state.SkipWithError(("no " + std::string(name) + " program installed").c_str());
            return;
        }
    }
    const DIBSection picture = MakeMap();
    const std::vector<GeoControlPoint> points = ThirtyPoints();
    GeoCodingAnalysis analysis = GeoCoding::Analyse(TransformKind::Tps, FitCrs(), points, false);
    if (!analysis.m_GeoCoding) {
        state.SkipWithError(analysis.m_strRefusal.toStdString().c_str());
        return;
    }
    QTemporaryDir temporary;
    const char* keep = std::getenv("VARNEL_RECTIFY_BENCH_KEEP");
    const QDir folder(keep ? QString::fromLocal8Bit(keep) : temporary.path());
    const QString ours = folder.filePath("varnel.tif"), theirs = folder.filePath("gdalwarp.tif");
    const QString gridPath = folder.filePath("grid.txt"), vrt = folder.filePath("map.vrt");
    QFile::remove(gridPath);
    if (!WriteMapFiles(folder.path(), picture, points)) {
        state.SkipWithError("could not write the map");
        return;
    }
    QByteArray gcps;
    ReadWholeFile(folder.filePath("gcps.txt"), gcps);
    const QStringList translate = QStringList{tools[0], "-q", "-of", "VRT", "-a_srs", "EPSG:4326"} +
                                  QString::fromUtf8(gcps).simplified().split(QLatin1Char(' ')) +
                                  QStringList{folder.filePath("map.bmp"), vrt};
    if (MeasureProcess(translate).m_dSeconds <= 0) {
        state.SkipWithError("gdal_translate failed");
        return;
    }
    RectifyOptions options;
    options.m_eResampling = RectifyResampling::Bilinear;
    // Processor time too: on a machine other work shares, wall times swing with its load.
    std::vector<double> oursSeconds, warpSeconds, addoSeconds, oursCpu, warpCpu;
    double oursPeak = 0, warpPeak = 0, addoPeak = 0;
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            const double cpuBefore = ChildrenCpuSeconds();
            const Measurement m = MeasureInChild([&] {
                const RectifyResult result = RectifyMap(picture, *analysis.m_GeoCoding, options, ours);
                if (result.m_Grid && !QFile::exists(gridPath))
                    WriteWholeFile(gridPath, GridWords(*result.m_Grid).join(QLatin1Char(' ')).toUtf8());
            });
            QByteArray grid;
            if (m.m_dSeconds <= 0 || !ReadWholeFile(gridPath, grid)) {
                state.SkipWithError("rectifying failed");
                return;
            }
            const double cpuBetween = ChildrenCpuSeconds();
            QFile::remove(theirs);
            const Measurement warp = MeasureProcess(
                QStringList{tools[1], "-q", "-tps", "-multi", "-wo", "NUM_THREADS=ALL_CPUS", "-r", "bilinear",
                            "-dstalpha", "-co", "TILED=YES", "-co", "COMPRESS=DEFLATE"} +
                QString::fromUtf8(grid).split(QLatin1Char(' ')) + QStringList{vrt, theirs});
            const double cpuAfter = ChildrenCpuSeconds();
            const Measurement addo = MeasureProcess({tools[2], "-q", "-r", "average", theirs, "2", "4", "8", "16", "32"});
            if (warp.m_dSeconds <= 0 || addo.m_dSeconds <= 0) {
                state.SkipWithError("gdalwarp or gdaladdo failed");
                return;
            }
            oursSeconds.push_back(m.m_dSeconds);
            warpSeconds.push_back(warp.m_dSeconds);
            addoSeconds.push_back(addo.m_dSeconds);
            oursCpu.push_back(cpuBetween - cpuBefore);
            warpCpu.push_back(cpuAfter - cpuBetween);
            oursPeak = std::max(oursPeak, m.m_dPeakBytes);
            warpPeak = std::max(warpPeak, warp.m_dPeakBytes);
            addoPeak = std::max(addoPeak, addo.m_dPeakBytes);
        }
        state.SetIterationTime(Median(oursSeconds));
    }
    const double picturedBytes = double(picture.RowBytes()) * kHeight;
    state.counters["rectify_ms"] = Median(oursSeconds) * 1000;
    state.counters["gdalwarp_ms"] = Median(warpSeconds) * 1000;
    state.counters["gdaladdo_ms"] = Median(addoSeconds) * 1000;
    state.counters["rectify_vs_gdalwarp"] = Median(oursSeconds) / Median(warpSeconds);
    state.counters["rectify_vs_gdalwarp_gdaladdo"] = Median(oursSeconds) / (Median(warpSeconds) + Median(addoSeconds));
    state.counters["rectify_cpu_ms"] = Median(oursCpu) * 1000;
    state.counters["gdalwarp_cpu_ms"] = Median(warpCpu) * 1000;
    state.counters["rectify_peak_MB"] = oursPeak / 1e6;
    state.counters["rectify_total_MB"] = (oursPeak + picturedBytes) / 1e6;
    state.counters["gdalwarp_peak_MB"] = warpPeak / 1e6;
    state.counters["gdaladdo_peak_MB"] = addoPeak / 1e6;
    state.counters["memory_vs_gdalwarp"] = (oursPeak + picturedBytes) / warpPeak;
}

} // namespace

BENCHMARK(BM_RectifyLargeMapWithSpline)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
