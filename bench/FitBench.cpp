// The geo-coding fit with every point's residuals, as `varnel-cli fit` runs it: 1,000, 4,000 and
// 20,000 control points scattered over a 5000 x 3200 picture of an affine map with half a pixel of
// noise. The sizes run in turn, five rounds, so that a busy machine slows them alike. Counters:
// ms_1000, ms_4000, ms_20000 (medians of the wall time), ratio_20000_1000 (linear is 20, the
// target at most 25) and cpu_ratio_20000_1000, the same in this thread's processor time.

#include "geo/GeoFit.h"
#include "geo/Residuals.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <map>
#include <vector>

namespace {

double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::vector<CDataGeo> NoisyPoints(int count)
{
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    const auto uniform = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    };
    std::vector<CDataGeo> points;
    for (int i = 0; i < count; ++i) {
        const double lat = 40 + 2 * uniform(), lon = 10 + 3 * uniform();
        const double column = 100 + 1500 * (lon - 10) + 40 * (lat - 40) + uniform() - 0.5;
        const double row = 3100 - 1500 * (lat - 40) + 30 * (lon - 10) + uniform() - 0.5;
        points.push_back(CDataGeo::FromDegrees(lat, lon, column / 5000, 1 - row / 3200));
    }
    return points;
}

void BM_FitWithResiduals(benchmark::State& state)
{
    const std::vector<int> sizes{1000, 4000, 20000};
    std::map<int, std::vector<CDataGeo>> sets;
    for (const int n : sizes)
        sets[n] = NoisyPoints(n);
    std::map<int, std::vector<double>> seconds, cpuSeconds;
    for (auto _ : state)
        for (const int n : sizes) {
            const double cpuStart = ThreadCpuSeconds();
            const auto start = std::chrono::steady_clock::now();
            const GeoFitResult fit = ComputeGeoFit(sets[n], 5000, 3200, {}, 0);
            const ResidualAnalysis analysis = AnalyseResiduals(sets[n], 5000, 3200);
            seconds[n].push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            cpuSeconds[n].push_back(ThreadCpuSeconds() - cpuStart);
            benchmark::DoNotOptimize(fit.m_dAccuracy);
            benchmark::DoNotOptimize(analysis.m_dRmsMetres);
        }
    const auto median = [](std::vector<double> times) {
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    };
    for (const int n : sizes)
        state.counters["ms_" + std::to_string(n)] = median(seconds[n]) * 1000;
    state.counters["ratio_20000_1000"] = median(seconds[20000]) / median(seconds[1000]);
    // The processor time of this thread alone, which other work on a busy machine does not lengthen.
    state.counters["cpu_ratio_20000_1000"] = median(cpuSeconds[20000]) / median(cpuSeconds[1000]);
}

} // namespace

BENCHMARK(BM_FitWithResiduals)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
