// Finding the projection of a map from 50 control points: a Lambert conformal conic of North
// America and a polar stereographic map of the Arctic (PROJ gives the points' positions), each
// searched through every family. The time is the search's own, as the window and the command line
// run it before fitting in the winner. Counters: search_ms (median of the maps' searches, the
// target is under a second), found_loo_m (the worst winner's leave-one-out RMS in metres).

#include "geo/ProjectionSearch.h"

#include <proj.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

std::vector<GeoControlPoint> PointsOnMap(const char* crs, double west, double north, double pixel)
{
    PJ_CONTEXT* context = proj_context_create();
    PJ* raw = proj_create_crs_to_crs(context, crs, "EPSG:4326", nullptr);
    PJ* toLonLat = proj_normalize_for_visualization(context, raw);
    std::vector<GeoControlPoint> points;
    for (int k = 0; k < 50; ++k) {
        const double column = 100 + 3800 * std::fmod(k * 0.618034, 1.0), row = 100 + 2800 * std::fmod(k * 0.381966 + 0.1, 1.0);
        const PJ_COORD g = proj_trans(toLonLat, PJ_FWD, proj_coord(west + column * pixel, north - row * pixel, 0, 0));
        points.push_back({g.lp.phi, g.lp.lam, column, row});
    }
    proj_destroy(toLonLat);
    proj_destroy(raw);
    proj_context_destroy(context);
    return points;
}

void BM_ProjectionSearch50Points(benchmark::State& state)
{
    const std::vector<std::vector<GeoControlPoint>> maps{
        PointsOnMap("+proj=lcc +lat_1=20 +lat_2=60 +lat_0=40 +lon_0=-96 +datum=WGS84 +type=crs", -3e6, 2.2e6, 1500),
        PointsOnMap("EPSG:3413", -3e6, 3e6, 1500),
    };
    std::vector<double> seconds;
    double worst = 0.0;
    for (auto _ : state)
        for (const std::vector<GeoControlPoint>& points : maps) {
            const auto start = std::chrono::steady_clock::now();
            const ProjectionSearchResult result = SearchProjection(points);
            seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            worst = std::max(worst, result.m_Candidates.empty() ? 1e99 : result.m_Candidates.front().m_dLooRmsMetres);
        }
    std::sort(seconds.begin(), seconds.end());
    state.counters["search_ms"] = seconds[seconds.size() / 2] * 1000;
    state.counters["found_loo_m"] = worst;
}

} // namespace

BENCHMARK(BM_ProjectionSearch50Points)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
