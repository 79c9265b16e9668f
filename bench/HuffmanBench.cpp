// Throughput of the GPF/DPF payload coder on 48 MB BMP payloads of four kinds of map sheet (see
// MapPayloads.h), side by side in one run:
//
//   BM_HuffmanDecodeVsZstd: decoding against libzstd's decompression of the same BMP compressed
//     at level 1 (on scans its time goes to 4-stream Huffman decoding of literals), against the
//     serial decoder (one stream, one thread), with one thread and with all threads. Counters:
//     MB/s of payload (10^6 bytes) for each, the ratios, and the threads used; all_cpu_vs_one is
//     the processor time all threads together spent against one thread's (1 when no work is
//     wasted), which holds also while other programs leave the run fewer cores than it has.
//   BM_HuffmanEncodeScaling: encoding on one thread and on all threads, the median ratio of
//     the two in each round, and the processor time ratio as above; with_count_scaling is the ratio of counting and encoding
//     together, all the writer does to a payload.
//   BM_ByteCount: counting the payload's bytes with one table, with four tables in turn, and
//     with four tables on all threads.
//   BM_HuffmanEncode, BM_HuffmanDecode: the coder (all threads) against the plain tree walks.
//
// Every variant is checked against the original bytes. Times are medians of several rounds.

#include "MapPayloads.h"

#include "formats/CHuffmanTree.h"
#include "formats/HuffmanReference.h"
#include "platform/WorkerPool.h"

#include <benchmark/benchmark.h>
#include <zstd.h>

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kRounds = 9;

/// One payload, its tree, its coded bytes and its zstd frame.
struct Coded {
    Bytes m_Bmp;
    std::unique_ptr<CHuffmanTree> m_pTree = std::make_unique<CHuffmanTree>();
    Bytes m_Encoded;
    Bytes m_Zstd;
    double m_dBitsPerByte = 0;
};

Coded& GetCoded(SheetKind kind)
{
    static std::array<std::unique_ptr<Coded>, 4> coded;
    std::unique_ptr<Coded>& slot = coded[static_cast<std::size_t>(kind)];
    if (!slot) {
        slot = std::make_unique<Coded>();
        const QByteArray& bmp = MapBmp(kind);
        slot->m_Bmp.assign(bmp.begin(), bmp.end());
        const auto length = static_cast<std::uint32_t>(slot->m_Bmp.size());
        std::uint32_t counts[CHuffmanTree::kLeafCount];
        CHuffmanTree::CountBytes(slot->m_Bmp.data(), length, counts);
        slot->m_pTree->BuildTree(counts);
        slot->m_Encoded.resize(length);
        slot->m_Encoded.resize(slot->m_pTree->Encode(slot->m_Bmp.data(), length, slot->m_Encoded.data()));
        slot->m_dBitsPerByte = 8.0 * double(slot->m_Encoded.size()) / double(length);
        slot->m_Zstd.resize(ZSTD_compressBound(length));
        slot->m_Zstd.resize(ZSTD_compress(slot->m_Zstd.data(), slot->m_Zstd.size(), slot->m_Bmp.data(), length, 1));
    }
    return *slot;
}

/// Processor time of the whole process, all threads, in seconds.
double ProcessSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

/// Wall time of work in seconds; adds the processor time it took to *processor when given.
template <typename Work>
double Seconds(Work work, double* processor = nullptr)
{
    const double before = processor != nullptr ? ProcessSeconds() : 0;
    const auto start = std::chrono::steady_clock::now();
    work();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (processor != nullptr)
        *processor += ProcessSeconds() - before;
    return seconds;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double MegabytesPerSecond(std::size_t bytes, double seconds)
{
    return double(bytes) / 1e6 / seconds;
}

const CHuffmanTree::Parallelism kSerial {1, false, 0, 0};
const CHuffmanTree::Parallelism kOneThread {1, true, 0, 0};
const CHuffmanTree::Parallelism kAllThreads {0, true, 0, 0};

void BM_HuffmanDecodeVsZstd(benchmark::State& state, SheetKind kind)
{
    Coded& coded = GetCoded(kind);
    CHuffmanTree& tree = *coded.m_pTree;
    const std::size_t length = coded.m_Bmp.size();
    const auto compressed = static_cast<std::uint32_t>(coded.m_Encoded.size());
    Bytes destination(length);
    ZSTD_DCtx* context = ZSTD_createDCtx();
    std::vector<double> zstd, serial, one, all;
    double oneProcessor = 0, allProcessor = 0;
    auto check = [&] {
        if (destination != coded.m_Bmp)
            state.SkipWithError("decoded payload differs from the original");
        std::fill(destination.begin(), destination.end(), std::uint8_t(0));
    };
    auto decode = [&](const CHuffmanTree::Parallelism& parallelism, double* processor = nullptr) {
        tree.SetParallelism(parallelism);
        const double seconds = Seconds([&] {
            benchmark::DoNotOptimize(tree.Decode(coded.m_Encoded.data(), compressed, std::uint32_t(length), destination.data()));
        }, processor);
        check();
        return seconds;
    };
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            zstd.push_back(Seconds([&] {
                benchmark::DoNotOptimize(
                    ZSTD_decompressDCtx(context, destination.data(), length, coded.m_Zstd.data(), coded.m_Zstd.size()));
            }));
            check();
            serial.push_back(decode(kSerial));
            one.push_back(decode(kOneThread, &oneProcessor));
            all.push_back(decode(kAllThreads, &allProcessor));
        }
    }
    tree.SetParallelism(kAllThreads);
    ZSTD_freeDCtx(context);
    state.counters["all_cpu_vs_one"] = allProcessor / oneProcessor;
    const double zstdRate = MegabytesPerSecond(length, Median(zstd));
    const double serialRate = MegabytesPerSecond(length, Median(serial));
    const double oneRate = MegabytesPerSecond(length, Median(one));
    const double allRate = MegabytesPerSecond(length, Median(all));
    state.counters["bits_per_byte"] = coded.m_dBitsPerByte;
    state.counters["zstd_ratio"] = double(coded.m_Zstd.size()) / double(coded.m_Encoded.size());
    state.counters["zstd_MBps"] = zstdRate;
    state.counters["serial_MBps"] = serialRate;
    state.counters["one_thread_MBps"] = oneRate;
    state.counters["all_threads_MBps"] = allRate;
    state.counters["one_vs_zstd"] = oneRate / zstdRate;
    state.counters["all_vs_zstd"] = allRate / zstdRate;
    state.counters["serial_vs_zstd"] = serialRate / zstdRate;
    state.counters["one_vs_serial"] = oneRate / serialRate;
    state.counters["all_vs_serial"] = allRate / serialRate;
    state.counters["threads"] = WorkerPool::Shared().Threads();
}

void BM_HuffmanEncodeScaling(benchmark::State& state, SheetKind kind)
{
    Coded& coded = GetCoded(kind);
    CHuffmanTree& tree = *coded.m_pTree;
    const auto length = static_cast<std::uint32_t>(coded.m_Bmp.size());
    Bytes destination(length);
    std::vector<double> one, all, oneWithCount, allWithCount;
    double oneProcessor = 0, allProcessor = 0;
    // As the writer does it: the bytes are counted slice by slice, and the slices' counts place
    // the slices in the output.
    auto encode = [&](const CHuffmanTree::Parallelism& parallelism, double* processor, std::vector<double>& encodeTimes,
                      std::vector<double>& withCountTimes) {
        tree.SetParallelism(parallelism);
        std::uint32_t counts[CHuffmanTree::kLeafCount];
        CHuffmanTree::SliceCounts slices;
        const double counting =
            Seconds([&] { CHuffmanTree::CountBytes(coded.m_Bmp.data(), length, counts, parallelism.m_nThreads, &slices); });
        std::uint32_t written = 0;
        const double encoding = Seconds(
            [&] { written = tree.Encode(coded.m_Bmp.data(), length, destination.data(), &slices); }, processor);
        if (written != coded.m_Encoded.size() || std::memcmp(destination.data(), coded.m_Encoded.data(), written) != 0)
            state.SkipWithError("encoded bytes differ");
        encodeTimes.push_back(encoding);
        withCountTimes.push_back(counting + encoding);
    };
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            encode(kOneThread, &oneProcessor, one, oneWithCount);
            encode(kAllThreads, &allProcessor, all, allWithCount);
        }
    }
    tree.SetParallelism(kAllThreads);
    const double oneRate = MegabytesPerSecond(length, Median(one));
    const double allRate = MegabytesPerSecond(length, Median(all));
    state.counters["one_thread_MBps"] = oneRate;
    state.counters["all_threads_MBps"] = allRate;
    // The ratio of the two runs of each round, taken one after the other, so that the speed this
    // shared machine gives from one moment to the next cancels out.
    auto roundRatios = [](const std::vector<double>& slow, const std::vector<double>& fast) {
        std::vector<double> ratios;
        for (std::size_t round = 0; round < slow.size(); ++round)
            ratios.push_back(slow[round] / fast[round]);
        return Median(ratios);
    };
    state.counters["scaling"] = roundRatios(one, all);
    state.counters["with_count_scaling"] = roundRatios(oneWithCount, allWithCount);
    state.counters["all_cpu_vs_one"] = allProcessor / oneProcessor;
    state.counters["threads"] = WorkerPool::Shared().Threads();
}

void BM_ByteCount(benchmark::State& state, SheetKind kind)
{
    const Coded& coded = GetCoded(kind);
    const std::uint8_t* bytes = coded.m_Bmp.data();
    const auto length = static_cast<std::uint32_t>(coded.m_Bmp.size());
    std::uint32_t expected[CHuffmanTree::kLeafCount];
    std::uint32_t counts[CHuffmanTree::kLeafCount];
    std::vector<double> single, four, all;
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            single.push_back(Seconds([&] {
                // One table, one increment after the other: how the writer used to count.
                std::fill(expected, expected + CHuffmanTree::kLeafCount, 0u);
                for (std::uint32_t i = 0; i < length; ++i)
                    ++expected[bytes[i]];
                benchmark::ClobberMemory();
            }));
            four.push_back(Seconds([&] { CHuffmanTree::CountBytes(bytes, length, counts, 1); }));
            if (!std::equal(counts, counts + CHuffmanTree::kLeafCount, expected))
                state.SkipWithError("counts differ");
            all.push_back(Seconds([&] { CHuffmanTree::CountBytes(bytes, length, counts); }));
            if (!std::equal(counts, counts + CHuffmanTree::kLeafCount, expected))
                state.SkipWithError("counts differ");
        }
    }
    const double singleRate = MegabytesPerSecond(length, Median(single));
    state.counters["one_table_MBps"] = singleRate;
    state.counters["four_tables_MBps"] = MegabytesPerSecond(length, Median(four));
    state.counters["all_threads_MBps"] = MegabytesPerSecond(length, Median(all));
    state.counters["four_vs_one"] = MegabytesPerSecond(length, Median(four)) / singleRate;
}

void BM_HuffmanEncode(benchmark::State& state, SheetKind kind, bool fast)
{
    Coded& coded = GetCoded(kind);
    const CHuffmanTree& tree = *coded.m_pTree;
    const auto length = static_cast<std::uint32_t>(coded.m_Bmp.size());
    Bytes destination(length);
    std::uint32_t written = 0;
    for (auto _ : state) {
        written = fast ? tree.Encode(coded.m_Bmp.data(), length, destination.data())
                       : HuffmanEncodeReference(tree, coded.m_Bmp.data(), length, destination.data());
        benchmark::DoNotOptimize(written);
        benchmark::ClobberMemory();
    }
    destination.resize(written);
    if (destination != coded.m_Encoded)
        state.SkipWithError("encoded bytes differ between the coders");
    state.SetBytesProcessed(std::int64_t(state.iterations()) * length);
    if (fast) {
        state.counters["bits_per_byte"] = coded.m_dBitsPerByte;
        int longest = 0;
        for (int v = 0; v < 256; ++v)
            longest = std::max(longest, tree.CodeLength(static_cast<std::uint8_t>(v)));
        state.counters["longest_code"] = longest;
    }
}

void BM_HuffmanDecode(benchmark::State& state, SheetKind kind, bool fast)
{
    Coded& coded = GetCoded(kind);
    const CHuffmanTree& tree = *coded.m_pTree;
    const auto length = static_cast<std::uint32_t>(coded.m_Bmp.size());
    const auto compressed = static_cast<std::uint32_t>(coded.m_Encoded.size());
    Bytes destination(length);
    std::uint32_t decoded = 0;
    for (auto _ : state) {
        decoded = fast ? tree.Decode(coded.m_Encoded.data(), compressed, length, destination.data())
                       : HuffmanDecodeReference(tree, coded.m_Encoded.data(), compressed, length, destination.data());
        benchmark::DoNotOptimize(decoded);
        benchmark::ClobberMemory();
    }
    if (decoded != length || destination != coded.m_Bmp)
        state.SkipWithError("decoded payload differs from the original");
    state.SetBytesProcessed(std::int64_t(state.iterations()) * length);
}

constexpr SheetKind kKinds[] = {SheetKind::NoisyScan, SheetKind::LightScan, SheetKind::CleanMap, SheetKind::LineArt};

const bool kRegistered = [] {
    for (SheetKind kind : kKinds) {
        const std::string name = SheetKindName(kind);
        benchmark::RegisterBenchmark(("BM_HuffmanDecodeVsZstd/" + name).c_str(), BM_HuffmanDecodeVsZstd, kind)
            ->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
    }
    for (SheetKind kind : kKinds) {
        const std::string name = SheetKindName(kind);
        benchmark::RegisterBenchmark(("BM_HuffmanEncodeScaling/" + name).c_str(), BM_HuffmanEncodeScaling, kind)
            ->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark(("BM_ByteCount/" + name).c_str(), BM_ByteCount, kind)
            ->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
    }
    for (SheetKind kind : {SheetKind::NoisyScan, SheetKind::LineArt}) {
        const std::string name = SheetKindName(kind);
        for (bool fast : {true, false}) {
            const std::string coder = fast ? "/Fast" : "/Reference";
            benchmark::RegisterBenchmark(("BM_HuffmanEncode/" + name + coder).c_str(), BM_HuffmanEncode, kind, fast)
                ->Unit(benchmark::kMillisecond)->UseRealTime();
            benchmark::RegisterBenchmark(("BM_HuffmanDecode/" + name + coder).c_str(), BM_HuffmanDecode, kind, fast)
                ->Unit(benchmark::kMillisecond)->UseRealTime();
        }
    }
    return true;
}();

} // namespace
