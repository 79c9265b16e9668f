// End to end, as a user feels it: `varnel-cli pack` and `varnel-cli unpack` of the large scanned
// map (MapPayloads.h, 240 MB) against `zstd -1` and `zstd -d` of the same BMP, whole processes
// on the same machine, taken in turn (ours, theirs, ours, ...), a few rounds; medians.
// BM_PackUnpackVsZstd/0 works in a folder on the disk, /1 in one on tmpfs (/dev/shm).
// Counters: pack_ms, zstd1_ms, pack_vs_zstd1; unpack_ms, zstd_d_ms, unpack_vs_zstd_d; on the disk
// also unpack_vs_zstd_d_synced (the median of ratios of runs in turn), where zstd -d is followed by
// the `sync FILE` that puts its output on disk, as unpack does before it reports success; pack_peak_MB, unpack_peak_MB,
// zstd1_peak_MB and zstd_d_peak_MB (each process's own peak resident set); cli_start_ms and
// cli_start_MB, what `varnel-cli --version` takes, the part of each of our runs that is only
// the program starting. Skipped when no zstd
// program is installed. VARNEL_BENCH_CLI names another varnel-cli to measure (an earlier build).

#include "ChildMeasure.h"
#include "MapPayloads.h"

#include "platform/FileIO.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr int kRounds = 5;
const char* const kCoefficients = "0,5000,0,610000,-5000,0,0,240000,0,0,0,0,0,0,0,0";

/// Runs each command in turn, kRounds times, and gives the median time and peak of each;
/// false when one failed.
bool MeasureInTurn(const std::vector<QStringList>& commands, std::vector<double>& seconds, std::vector<double>& peaks)
{
    std::vector<std::vector<double>> times(commands.size()), highs(commands.size());
    for (int round = 0; round < kRounds; ++round)
        for (std::size_t i = 0; i < commands.size(); ++i) {
            const Measurement run = MeasureProcess(commands[i]);
            if (run.m_dSeconds <= 0)
                return false;
            times[i].push_back(run.m_dSeconds);
            highs[i].push_back(run.m_dPeakBytes);
        }
    seconds.clear();
    peaks.clear();
    for (std::size_t i = 0; i < commands.size(); ++i) {
        seconds.push_back(Median(times[i]));
        peaks.push_back(Median(highs[i]));
    }
    return true;
}

void BM_PackUnpackVsZstd(benchmark::State& state)
{
    const QString zstd = QStandardPaths::findExecutable(QStringLiteral("zstd"));
    const QString sync = QStandardPaths::findExecutable(QStringLiteral("sync"));
    if (zstd.isEmpty() || sync.isEmpty()) {
        state.SkipWithError("no zstd or sync program installed");
        return;
    }
    const bool tmpfs = state.range(0) != 0;
    QTemporaryDir folder(tmpfs ? QStringLiteral("/dev/shm/varnel-bench-XXXXXX") : QDir::tempPath() + QStringLiteral("/varnel-bench-XXXXXX"));
    const auto at = [&folder](const char* name) { return folder.filePath(QString::fromLatin1(name)); };
    const QString cli = qEnvironmentVariable("VARNEL_BENCH_CLI", QStringLiteral(VARNEL_CLI_PATH));
    {
        const QByteArray bmp = LargeMapBmp();
        if (!folder.isValid() || !WriteWholeFile(at("map.bmp"), bmp)) {
            state.SkipWithError("could not write the map");
            return;
        }
    }
    const QStringList pack {cli, QStringLiteral("pack"), QStringLiteral("--format"), QStringLiteral("dpf"),
                            QStringLiteral("--coef"), QString::fromLatin1(kCoefficients), at("map.bmp"),
                            QStringLiteral("-o"), at("map.dpf")};
    const QStringList compress {zstd, QStringLiteral("-1"), QStringLiteral("-q"), QStringLiteral("-f"), at("map.bmp"),
                                QStringLiteral("-o"), at("map.zst")};
    const QStringList unpack {cli, QStringLiteral("unpack"), at("map.dpf"), QStringLiteral("-o"), at("unpacked.bmp")};
    const QStringList decompress {zstd, QStringLiteral("-d"), QStringLiteral("-q"), QStringLiteral("-f"), at("map.zst"),
                                  QStringLiteral("-o"), at("decompressed.bmp")};
    // What starting the program costs (its libraries, GDAL's among them, linked in), which zstd
    // hardly has: counted in every run of ours.
    const QStringList start {cli, QStringLiteral("--version")};
    std::vector<double> seconds, peaks;
    for (auto _ : state) {
        if (!MeasureInTurn({pack, compress, unpack, decompress, start}, seconds, peaks)) {
            state.SkipWithError("a process failed");
            return;
        }
    }
    QByteArray original, unpacked;
    if (!ReadWholeFile(at("map.bmp"), original) || !ReadWholeFile(at("unpacked.bmp"), unpacked) || unpacked != original) {
        state.SkipWithError("unpack wrote something else than the map");
        return;
    }
    state.counters["pack_ms"] = seconds[0] * 1000;
    state.counters["zstd1_ms"] = seconds[1] * 1000;
    state.counters["pack_vs_zstd1"] = seconds[0] / seconds[1];
    state.counters["unpack_ms"] = seconds[2] * 1000;
    state.counters["zstd_d_ms"] = seconds[3] * 1000;
    state.counters["unpack_vs_zstd_d"] = seconds[2] / seconds[3];
    state.counters["cli_start_ms"] = seconds[4] * 1000;
    state.counters["cli_start_MB"] = peaks[4] / 1e6;
    state.counters["pack_peak_MB"] = peaks[0] / 1e6;
    state.counters["zstd1_peak_MB"] = peaks[1] / 1e6;
    state.counters["unpack_peak_MB"] = peaks[2] / 1e6;
    state.counters["zstd_d_peak_MB"] = peaks[3] / 1e6;
    if (!tmpfs) {
        // zstd -d leaves the flush to the system; sync of a file of its own gives it unpack's guarantee.
        const QStringList decompressSynced {zstd, QStringLiteral("-d"), QStringLiteral("-q"), QStringLiteral("-f"),
                                            at("map.zst"), QStringLiteral("-o"), at("synced.bmp")};
        std::vector<double> synced;
        for (int round = 0; round < kRounds; ++round) {
            const Measurement ours = MeasureProcess(unpack);
            const Measurement theirs = MeasureProcess(decompressSynced);
            const Measurement flush = MeasureProcess({sync, at("synced.bmp")});
            if (ours.m_dSeconds <= 0 || theirs.m_dSeconds <= 0 || flush.m_dSeconds <= 0) {
                state.SkipWithError("a process failed");
                return;
            }
            synced.push_back(ours.m_dSeconds / (theirs.m_dSeconds + flush.m_dSeconds));
        }
        state.counters["unpack_vs_zstd_d_synced"] = Median(synced);
    }
}
BENCHMARK(BM_PackUnpackVsZstd)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
