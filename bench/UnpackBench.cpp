// End to end, as a user feels it: `varnel-cli unpack MAP.dpf -o MAP.bmp` of a DPF holding the
// noisy 48 MB scan (MapPayloads.h) against `zstd -d` of the same BMP compressed with `zstd -1`,
// whole processes on the same machine, taken in turn. Counters: the median wall time of each
// (unpack_ms, zstd_ms) and their ratio (unpack_vs_zstd); zstd_synced_ms and its ratio add the
// `sync FILE` that puts zstd's output on disk, as unpack does before it reports success. Skipped
// when no zstd program is installed. (Memory is measured in OutputBench: a spawned process's own peak is not to be had.)

#include "MapPayloads.h"

#include "formats/ProjectionFile.h"
#include "platform/FileIO.h"

#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kRounds = 7;

/// Runs program with arguments, its standard output to /dev/null, and returns the seconds to its
/// end, or 0 when it could not run or failed.
double RunProcess(const std::vector<std::string>& command)
{
    std::vector<char*> argv;
    for (const std::string& word : command)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return 0;
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return 0;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void BM_UnpackVsZstdProcess(benchmark::State& state)
{
    const QString zstd = QStandardPaths::findExecutable(QStringLiteral("zstd"));
    if (zstd.isEmpty()) {
        state.SkipWithError("no zstd program installed");
        return;
    }
    QTemporaryDir folder;
    const QByteArray& bmp = MapBmp(SheetKind::NoisyScan);
    const std::string bmpPath = folder.filePath(QStringLiteral("map.bmp")).toStdString();
    const std::string dpfPath = folder.filePath(QStringLiteral("map.dpf")).toStdString();
    const std::string zstPath = folder.filePath(QStringLiteral("map.zst")).toStdString();
    const std::string unpacked = folder.filePath(QStringLiteral("unpacked.bmp")).toStdString();
    const std::string decompressed = folder.filePath(QStringLiteral("decompressed.bmp")).toStdString();
    QByteArray dpf;
    WriteDpfHeader(dpf, kDpfTag, GeoCoefficients {0, 5000, 0, 610000, -5000, 0, 0, 240000});
    WriteDpfPayload(dpf, bmp);
    if (!WriteWholeFile(QString::fromStdString(bmpPath), bmp) || !WriteWholeFile(QString::fromStdString(dpfPath), dpf) ||
        RunProcess({zstd.toStdString(), "-1", "-q", "-f", bmpPath, "-o", zstPath}) <= 0) {
        state.SkipWithError("could not make the files");
        return;
    }
    const std::vector<std::string> unpack {VARNEL_CLI_PATH, "unpack", dpfPath, "-o", unpacked};
    const std::vector<std::string> decompress {zstd.toStdString(), "-d", "-q", "-f", zstPath, "-o", decompressed};
    // unpack puts its file on disk before it reports success, as every Varnel write does; zstd
    // leaves that to the system. The sync program after zstd gives it the same guarantee, on a
    // file of its own, so that plain zstd -d never replaces a file already on disk.
    const QString sync = QStandardPaths::findExecutable(QStringLiteral("sync"));
    const std::string synced = folder.filePath(QStringLiteral("synced.bmp")).toStdString();
    const std::vector<std::string> decompressSynced {zstd.toStdString(), "-d", "-q", "-f", zstPath, "-o", synced};
    const std::vector<std::string> flush {sync.toStdString(), synced};
    std::vector<double> unpackSeconds, zstdSeconds, zstdSyncedSeconds;
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            const double ours = RunProcess(unpack);
            const double theirs = RunProcess(decompress);
            const double again = sync.isEmpty() ? 0 : RunProcess(decompressSynced);
            const double flushed = again > 0 ? RunProcess(flush) : 0;
            if (ours <= 0 || theirs <= 0 || (!sync.isEmpty() && flushed <= 0)) {
                state.SkipWithError("a process failed");
                return;
            }
            unpackSeconds.push_back(ours);
            zstdSeconds.push_back(theirs);
            zstdSyncedSeconds.push_back(again + flushed);
        }
    }
    QByteArray first, second;
    if (!ReadWholeFile(QString::fromStdString(unpacked), first) || first != bmp ||
        !ReadWholeFile(QString::fromStdString(decompressed), second) || second != bmp)
        state.SkipWithError("a process wrote something else than the map");
    state.counters["unpack_ms"] = Median(unpackSeconds) * 1000;
    state.counters["zstd_ms"] = Median(zstdSeconds) * 1000;
    state.counters["unpack_vs_zstd"] = Median(unpackSeconds) / Median(zstdSeconds);
    if (!sync.isEmpty()) {
        state.counters["zstd_synced_ms"] = Median(zstdSyncedSeconds) * 1000;
        state.counters["unpack_vs_zstd_synced"] = Median(unpackSeconds) / Median(zstdSyncedSeconds);
    }
    state.counters["dpf_MB"] = double(dpf.size()) / 1e6;
}
BENCHMARK(BM_UnpackVsZstdProcess)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
