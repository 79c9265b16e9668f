// End to end, as a user feels it: `varnel-cli pack` and `varnel-cli unpack` of the large scanned
// map (MapPayloads.h, 240 MB) against `zstd -1` and `zstd -d` of the same BMP, whole processes
// on the same machine, taken in turn (ours, theirs, ours, ...), nine rounds; times are medians,
// ratios the median of each round's ratio.
// BM_PackUnpackVsZstd/0 works in a folder on the disk, /1 in one on tmpfs (/dev/shm).
// Counters: pack_ms, zstd1_ms, pack_vs_zstd1; unpack_ms, zstd_d_ms, unpack_vs_zstd_d; on the disk
// also unpack_vs_zstd_d_synced (the median of ratios of runs in turn), where zstd -d is followed by
// the `sync FILE` that puts its output on disk, as unpack does before it reports success; pack_peak_MB, unpack_peak_MB,
// zstd1_peak_MB and zstd_d_peak_MB (each process's own peak resident set); cli_start_ms and
// cli_start_MB, what `varnel-cli --version` takes, the part of an unpack that is only the
// launcher starting; tool_start_ms, what `varnel-cli pack --help` takes, the launcher handing
// over to the tool with GDAL and the rest, as every other command does. Skipped when no zstd
// program is installed. VARNEL_BENCH_CLI names another varnel-cli to measure (an earlier build).

#include "ChildMeasure.h"
#include "MapPayloads.h"

#include "platform/FileIO.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <optional>
#include <vector>

namespace {

constexpr int kRounds = 9;
const char* const kCoefficients = "0,5000,0,610000,-5000,0,0,240000,0,0,0,0,0,0,0,0";

/// Each command's time and peak in every round.
struct InTurn {
    std::vector<std::vector<double>> m_Seconds, m_Peaks;

    double MedianSeconds(std::size_t i) const { return Median(m_Seconds[i]); }
    double MedianPeak(std::size_t i) const { return Median(m_Peaks[i]); }
    /// The median over the rounds of command i's time over command j's: what the machine's other
    /// work does to a round then touches both alike.
    double MedianRatio(std::size_t i, std::size_t j) const
    {
        std::vector<double> ratios;
        for (std::size_t round = 0; round < m_Seconds[i].size(); ++round)
            ratios.push_back(m_Seconds[i][round] / m_Seconds[j][round]);
        return Median(ratios);
    }
};

/// Runs each command in turn, kRounds times; nothing when one failed.
std::optional<InTurn> MeasureInTurn(const std::vector<QStringList>& commands)
{
    InTurn measured {std::vector<std::vector<double>>(commands.size()), std::vector<std::vector<double>>(commands.size())};
    for (int round = 0; round < kRounds; ++round)
        for (std::size_t i = 0; i < commands.size(); ++i) {
            const Measurement run = MeasureProcess(commands[i]);
            if (run.m_dSeconds <= 0)
                return std::nullopt;
            measured.m_Seconds[i].push_back(run.m_dSeconds);
            measured.m_Peaks[i].push_back(run.m_dPeakBytes);
        }
    return measured;
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
    // What starting costs, which zstd hardly has: the launcher alone (unpack), and the launcher
    // and the tool with GDAL and the rest linked in (pack).
    const QStringList start {cli, QStringLiteral("--version")};
    const QStringList toolStart {cli, QStringLiteral("pack"), QStringLiteral("--help")};
    std::optional<InTurn> runs;
    for (auto _ : state) {
        runs = MeasureInTurn({pack, compress, unpack, decompress, start, toolStart});
        if (!runs) {
            state.SkipWithError("a process failed");
            return;
        }
    }
    QByteArray original, unpacked;
    if (!ReadWholeFile(at("map.bmp"), original) || !ReadWholeFile(at("unpacked.bmp"), unpacked) || unpacked != original) {
        state.SkipWithError("unpack wrote something else than the map");
        return;
    }
    state.counters["pack_ms"] = runs->MedianSeconds(0) * 1000;
    state.counters["zstd1_ms"] = runs->MedianSeconds(1) * 1000;
    state.counters["pack_vs_zstd1"] = runs->MedianRatio(0, 1);
    state.counters["unpack_ms"] = runs->MedianSeconds(2) * 1000;
    state.counters["zstd_d_ms"] = runs->MedianSeconds(3) * 1000;
    state.counters["unpack_vs_zstd_d"] = runs->MedianRatio(2, 3);
    state.counters["cli_start_ms"] = runs->MedianSeconds(4) * 1000;
    state.counters["cli_start_MB"] = runs->MedianPeak(4) / 1e6;
    state.counters["tool_start_ms"] = runs->MedianSeconds(5) * 1000;
    state.counters["pack_peak_MB"] = runs->MedianPeak(0) / 1e6;
    state.counters["zstd1_peak_MB"] = runs->MedianPeak(1) / 1e6;
    state.counters["unpack_peak_MB"] = runs->MedianPeak(2) / 1e6;
    state.counters["zstd_d_peak_MB"] = runs->MedianPeak(3) / 1e6;
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
