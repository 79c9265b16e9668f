// Throughput of the GPF/DPF payload coder on BMP payloads of the size a scanned map sheet gives,
// for the table-driven coder and the plain tree walks side by side. Two kinds of map: a colour
// scan (smooth colours plus sensor noise, which codes to about 7.4 bits per byte) and line art
// (white paper with sparse black lines and lettering, about 1.2 bits per byte).

#include "imaging/BmpEncoding.h"
#include "formats/CHuffmanTree.h"
#include "formats/HuffmanReference.h"

#include <QImage>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kWidth = 3712; // 3712 x 2800 x 3 bytes: a 31 MB payload
constexpr int kHeight = 2800;

/// Cheap reproducible noise for tens of millions of pixels.
class NoiseSource {
public:
    std::uint64_t Next()
    {
        m_nState ^= m_nState >> 12;
        m_nState ^= m_nState << 25;
        m_nState ^= m_nState >> 27;
        return m_nState * 0x2545F4914F6CDD1DULL;
    }
    /// Roughly normal with the given standard deviation (sum of four uniform bytes).
    double Gaussian(double sigma)
    {
        const std::uint64_t r = Next();
        const double sum = double(r & 0xFF) + double((r >> 8) & 0xFF) + double((r >> 16) & 0xFF) + double((r >> 24) & 0xFF);
        return (sum / 255.0 - 2.0) / 0.57735 * sigma;
    }
    double Unit() { return double(Next() >> 11) / double(1ULL << 53); }

private:
    std::uint64_t m_nState = 0x9E3779B97F4A7C15ULL;
};

int Clamp(double value)
{
    return std::clamp(static_cast<int>(std::lround(value)), 0, 255);
}

/// A colour scan of a topographic sheet: water, lowland green to upland brown by a smooth
/// elevation field, contour lines, and independent sensor noise on every channel.
QImage MakeColourScan()
{
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    NoiseSource noise;
    for (int y = 0; y < kHeight; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            const double elevation = 0.5 + 0.22 * std::sin(x / 410.0 + 0.7 * std::cos(y / 530.0))
                + 0.16 * std::cos(y / 270.0 - x / 900.0) + 0.08 * std::sin((x + y) / 97.0);
            double r, g, b;
            if (elevation < 0.32) {
                r = 70 + 60 * elevation;
                g = 120 + 80 * elevation;
                b = 190 + 40 * elevation;
            } else {
                const double t = std::min(1.0, (elevation - 0.32) / 0.7);
                r = 110 + 130 * t;
                g = 170 + 20 * t - 60 * t * t;
                b = 90 + 40 * t;
            }
            if (std::fabs(std::fmod(elevation, 0.05)) < 0.0025) { // contour line
                r *= 0.55;
                g *= 0.45;
                b *= 0.4;
            }
            const double sigma = 17.0;
            line[x] = qRgb(Clamp(r + noise.Gaussian(sigma)), Clamp(g + noise.Gaussian(sigma)), Clamp(b + noise.Gaussian(sigma)));
        }
    }
    return image;
}

/// A line-art sheet: white paper, a sparse grid, contour-like curves and small blocks of
/// lettering in black, with a grey pixel here and there where the scanner caught an edge.
QImage MakeLineArt()
{
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    NoiseSource noise;
    for (int y = 0; y < kHeight; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            int grey = 255;
            const double curve = std::sin(x / 173.0) * 40 + std::cos(y / 211.0) * 30;
            const bool onGrid = x % 250 < 2 || y % 250 < 2;
            const bool onCurve = std::fabs(std::fmod(curve + 200.0, 25.0)) < 1.3;
            // Lettering: 8 x 10 glyph cells in short labels scattered over the sheet.
            const int labelX = x % 600;
            const int labelY = y % 420;
            const bool inLabel = labelX >= 40 && labelX < 260 && labelY >= 60 && labelY < 72;
            const bool glyphInk = inLabel && ((labelX * 7 + labelY * 13) % 11 < 3);
            if (onGrid || onCurve || glyphInk)
                grey = 0;
            else if (noise.Unit() < 0.02)
                grey = static_cast<int>(noise.Next() % 256); // edge pixels and dust
            line[x] = qRgb(grey, grey, grey);
        }
    }
    return image;
}

enum class PayloadKind { ColourScan, LineArt };

/// One BMP payload, its counts, the tree built from them and the fast coder's output.
struct Payload {
    Bytes m_Bmp;
    std::unique_ptr<CHuffmanTree> m_pTree = std::make_unique<CHuffmanTree>();
    Bytes m_Encoded;
    double m_dBitsPerByte = 0;
};

const Payload& GetPayload(PayloadKind kind)
{
    static std::array<std::unique_ptr<Payload>, 2> payloads;
    std::unique_ptr<Payload>& slot = payloads[kind == PayloadKind::ColourScan ? 0 : 1];
    if (!slot) {
        slot = std::make_unique<Payload>();
        const QByteArray bmp = EncodeBmp24(kind == PayloadKind::ColourScan ? MakeColourScan() : MakeLineArt());
        slot->m_Bmp.assign(bmp.begin(), bmp.end());
        std::uint32_t counts[256] = {};
        for (std::uint8_t byte : slot->m_Bmp)
            ++counts[byte];
        slot->m_pTree->BuildTree(counts);
        slot->m_Encoded.resize(slot->m_Bmp.size());
        const std::uint32_t size = slot->m_pTree->Encode(slot->m_Bmp.data(), static_cast<std::uint32_t>(slot->m_Bmp.size()),
                                                         slot->m_Encoded.data());
        slot->m_Encoded.resize(size);
        slot->m_dBitsPerByte = 8.0 * double(size) / double(slot->m_Bmp.size());
    }
    return *slot;
}

void BM_HuffmanEncode(benchmark::State& state, PayloadKind kind, bool fast)
{
    const Payload& payload = GetPayload(kind);
    const CHuffmanTree& tree = *payload.m_pTree;
    const auto length = static_cast<std::uint32_t>(payload.m_Bmp.size());
    Bytes destination(length);
    std::uint32_t written = 0;
    for (auto _ : state) {
        written = fast ? tree.Encode(payload.m_Bmp.data(), length, destination.data())
                       : HuffmanEncodeReference(tree, payload.m_Bmp.data(), length, destination.data());
        benchmark::DoNotOptimize(written);
        benchmark::ClobberMemory();
    }
    destination.resize(written);
    if (destination != payload.m_Encoded)
        state.SkipWithError("encoded bytes differ between the coders");
    state.SetBytesProcessed(std::int64_t(state.iterations()) * length);
    if (fast) {
        state.counters["bits_per_byte"] = payload.m_dBitsPerByte;
        int longest = 0;
        for (int v = 0; v < 256; ++v)
            longest = std::max(longest, tree.CodeLength(static_cast<std::uint8_t>(v)));
        state.counters["longest_code"] = longest;
    }
}

void BM_HuffmanDecode(benchmark::State& state, PayloadKind kind, bool fast)
{
    const Payload& payload = GetPayload(kind);
    const CHuffmanTree& tree = *payload.m_pTree;
    const auto length = static_cast<std::uint32_t>(payload.m_Bmp.size());
    const auto compressed = static_cast<std::uint32_t>(payload.m_Encoded.size());
    Bytes destination(length);
    std::uint32_t decoded = 0;
    for (auto _ : state) {
        decoded = fast ? tree.Decode(payload.m_Encoded.data(), compressed, length, destination.data())
                       : HuffmanDecodeReference(tree, payload.m_Encoded.data(), compressed, length, destination.data());
        benchmark::DoNotOptimize(decoded);
        benchmark::ClobberMemory();
    }
    if (decoded != length || destination != payload.m_Bmp)
        state.SkipWithError("decoded payload differs from the original");
    state.SetBytesProcessed(std::int64_t(state.iterations()) * length);
}

BENCHMARK_CAPTURE(BM_HuffmanEncode, ColourScan/Fast, PayloadKind::ColourScan, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HuffmanEncode, ColourScan/Reference, PayloadKind::ColourScan, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HuffmanDecode, ColourScan/Fast, PayloadKind::ColourScan, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HuffmanDecode, ColourScan/Reference, PayloadKind::ColourScan, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HuffmanEncode, LineArt/Fast, PayloadKind::LineArt, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HuffmanEncode, LineArt/Reference, PayloadKind::LineArt, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HuffmanDecode, LineArt/Fast, PayloadKind::LineArt, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HuffmanDecode, LineArt/Reference, PayloadKind::LineArt, false)->Unit(benchmark::kMillisecond);

} // namespace
