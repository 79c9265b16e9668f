// Exporting a large map (10000 x 8000 pixels, a GeoTIFF in UTM) as a GeoTIFF with varnel-cli
// export, against GDAL doing the same job: gdal_translate into 256 x 256 tiles, Deflate with the
// horizontal predictor, then gdaladdo -r average adding internal overviews at the halvings
// Varnel's file has, compressed alike. Taken in turn, a few rounds; medians of the times, the
// highest peaks. Each program's peak is its own process's resident set, the map it reads
// included (varnel-cli holds the picture as the document does).
// Counters: varnel_ms, gdal_ms (gdal_translate plus gdaladdo), time_ratio (varnel over GDAL),
// varnel_peak_MB, gdal_peak_MB (the higher of the two GDAL programs), peak_ratio.
//
// With VARNEL_GEOTIFF_BENCH_KEEP set to a folder, the files are made and left there: map.tif,
// varnel.tif and gdal.tif.

#include "ChildMeasure.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 10000;
constexpr int kHeight = 8000;
constexpr int kRounds = 3;

/// A scan-like map as an uncompressed RGB GeoTIFF in strips, UTM zone 33 north.
bool WriteMap(const QString& path)
{
    GDALAllRegister();
    const char* options[] = {"INTERLEAVE=PIXEL", "PHOTOMETRIC=RGB", nullptr};
    GDALDatasetH map = GDALCreate(GDALGetDriverByName("GTiff"), QFile::encodeName(path).constData(), kWidth, kHeight, 3,
                                  GDT_Byte, const_cast<char**>(options));
    if (!map)
        return false;
    double gt[6] = {400000, 2, 0, 5500000, 0, -2};
    GDALSetGeoTransform(map, gt);
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, 32633);
    GDALSetSpatialRef(map, srs);
    OSRDestroySpatialReference(srs);
    std::vector<std::uint8_t> row(std::size_t(kWidth) * 3);
    bool ok = true;
    for (int y = 0; y < kHeight && ok; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int texture = (x * 7 + y * 13) % 23;
            row[3 * x] = std::uint8_t(x / 40 + texture);
            row[3 * x + 1] = std::uint8_t(y / 32 + texture * 2);
            row[3 * x + 2] = std::uint8_t((x + y) / 64);
        }
        ok = GDALDatasetRasterIO(map, GF_Write, 0, y, kWidth, 1, row.data(), kWidth, 1, GDT_Byte, 3, nullptr, 3,
                                 kWidth * 3, 1) == CE_None;
    }
    GDALClose(map);
    return ok;
}

void BM_GeoTiffExportLargeMap(benchmark::State& state)
{
    const QString translate = QStandardPaths::findExecutable(QStringLiteral("gdal_translate"));
    const QString addo = QStandardPaths::findExecutable(QStringLiteral("gdaladdo"));
    if (translate.isEmpty() || addo.isEmpty()) {
        state.SkipWithError("gdal_translate or gdaladdo is not installed");
        return;
    }
    QTemporaryDir temporary;
    const char* keep = std::getenv("VARNEL_GEOTIFF_BENCH_KEEP");
    const QDir folder(keep ? QString::fromLocal8Bit(keep) : temporary.path());
    const QString map = folder.filePath("map.tif"), ours = folder.filePath("varnel.tif"),
                  theirs = folder.filePath("gdal.tif");
    if (!WriteMap(map)) {
        state.SkipWithError("could not write the map");
        return;
    }
    std::vector<double> oursSeconds, gdalSeconds;
    double oursPeak = 0, gdalPeak = 0;
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            const Measurement varnel = MeasureProcess({VARNEL_CLI_PATH, "export", map, "--format", "geotiff", "-o", ours});
            QFile::remove(theirs);
            const Measurement copy = MeasureProcess({translate, "-q", "-of", "GTiff", "-co", "TILED=YES", "-co", "BLOCKXSIZE=256",
                                         "-co", "BLOCKYSIZE=256", "-co", "COMPRESS=DEFLATE", "-co", "PREDICTOR=2",
                                         "-co", "PHOTOMETRIC=RGB", map, theirs});
            const Measurement overviews =
                MeasureProcess({addo, "-q", "-r", "average", "--config", "COMPRESS_OVERVIEW", "DEFLATE", "--config",
                            "PREDICTOR_OVERVIEW", "2", theirs, "2", "4", "8", "16", "32", "64"});
            if (varnel.m_dSeconds <= 0 || copy.m_dSeconds <= 0 || overviews.m_dSeconds <= 0) {
                state.SkipWithError("an export failed");
                return;
            }
            oursSeconds.push_back(varnel.m_dSeconds);
            gdalSeconds.push_back(copy.m_dSeconds + overviews.m_dSeconds);
            oursPeak = std::max(oursPeak, varnel.m_dPeakBytes);
            gdalPeak = std::max({gdalPeak, copy.m_dPeakBytes, overviews.m_dPeakBytes});
        }
        state.SetIterationTime(Median(oursSeconds));
    }
    state.counters["varnel_ms"] = Median(oursSeconds) * 1000;
    state.counters["gdal_ms"] = Median(gdalSeconds) * 1000;
    state.counters["time_ratio"] = Median(oursSeconds) / Median(gdalSeconds);
    state.counters["varnel_peak_MB"] = oursPeak / 1e6;
    state.counters["gdal_peak_MB"] = gdalPeak / 1e6;
    state.counters["peak_ratio"] = oursPeak / gdalPeak;
}

} // namespace

BENCHMARK(BM_GeoTiffExportLargeMap)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
