// Opening and writing the DPF of a large scanned map (10000 x 8000 pixels, a 240 MB BMP payload)
// against the Huffman coder alone on the same payload plus one pass of file input or output.
//
//   BM_OpenDpfLargeMap: OpenProjectionFile, that is mapping the file + ParseDpfProjection +
//     InstallProjection (what Open does),
//     against building the tree and decoding the payload plus mapping the file once.
//   BM_WriteDpfLargeMap: OutputProjectionFile of the picture map (what Output A Geo-Map does),
//     against counting, building the tree and encoding the payload plus writing the file once.
//   BM_DecodeLargeBmpToRgb32: what drawing a picture used to cost before it could be drawn from
//     the BMP's own rows, a whole decode into 32-bit pixels; for comparison only.
//
// Every measured step runs in a forked child of its own, so that its peak resident memory (the
// kernel's high-water mark, reset at the start of the child) covers that step and nothing else.
// Counters: step_ms, coder_ms and io_ms (means), time_ratio = step / (coder + io), which must
// stay at most 1.5, step_peak_MB (growth of the resident set during the step) and held_copies
// (the picture copies held at the step's peak, the document's own included, in units of the
// 240 MB payload), which must stay at most 2.

#include "document/CQuilletDoc.h"
#include "imaging/BitmapInfoHeader.h"
#include "imaging/BmpEncoding.h"
#include "formats/CHuffmanTree.h"
#include "commands/OutputCommand.h"
#include "formats/ProjectionFile.h"
#include "platform/BinaryIO.h"
#include "platform/FileIO.h"
#include "platform/LargeMemory.h"
#include "platform/MappedFile.h"
#include "commands/FileCommands.h"

#include <QImage>
#include <QImageReader>
#include <QtEndian>
#include <QTemporaryDir>

#include "ChildMeasure.h"
#include "MapPayloads.h"

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

namespace {

constexpr int kMapWidth = kLargeMapWidth;
constexpr int kMapHeight = kLargeMapHeight;

GeoCoefficients BenchCoefficients()
{
    GeoCoefficients c{};
    c[1] = 5000.0;
    c[3] = 610000.0;
    c[4] = -5000.0;
    c[7] = 240000.0;
    return c;
}

/// The map, its DPF and the files on disk, made once per run.
struct Fixture {
    QTemporaryDir m_Folder;
    QByteArray m_Bmp;
    QByteArray m_Dpf;
    std::uint32_t m_Counts[CHuffmanTree::kLeafCount] = {};
    QString m_strDpfPath;
    QString m_strOutputPath;

    Fixture()
    {
        m_Bmp = LargeMapBmp();
        WriteDpfHeader(m_Dpf, kDpfTag, BenchCoefficients());
        WriteDpfPayload(m_Dpf, m_Bmp);
        for (int v = 0; v < CHuffmanTree::kLeafCount; ++v)
            m_Counts[v] = qFromLittleEndian<quint32>(m_Dpf.constData() + 153 + 4 * v);
        m_strDpfPath = m_Folder.filePath(QStringLiteral("map.dpf"));
        m_strOutputPath = m_Folder.filePath(QStringLiteral("written.dpf"));
        if (!WriteWholeFile(m_strDpfPath, m_Dpf)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(m_strDpfPath));
            std::abort();
        }
    }
};

Fixture& TheFixture()
{
    static Fixture* fixture = new Fixture;
    return *fixture;
}

void OpenDpf(const Fixture& f)
{
    // The Open command's own path: read the file, check and decode it, install it.
    CQuilletDoc doc;
    if (!OpenProjectionFile(doc, f.m_strDpfPath, ProjectionKind::Dpf) || !doc.IsGeoCoded() ||
        !doc.Picture().m_pPicture)
        std::abort();
    benchmark::DoNotOptimize(doc.Picture().m_nWidth);
}

void DecodeAlone(const Fixture& f)
{
    CHuffmanTree tree;
    tree.BuildTree(f.m_Counts);
    QByteArray payload(f.m_Bmp.size(), Qt::Uninitialized);
    CommitMemory(payload.data(), static_cast<std::size_t>(payload.size()));
    const auto compressed = qFromLittleEndian<quint32>(f.m_Dpf.constData() + 145);
    const std::uint32_t done = tree.Decode(reinterpret_cast<const std::uint8_t*>(f.m_Dpf.constData()) + kDpfPayloadOffset,
                                           compressed, static_cast<std::uint32_t>(payload.size()),
                                           reinterpret_cast<std::uint8_t*>(payload.data()));
    if (done != std::uint32_t(payload.size()))
        std::abort();
    benchmark::DoNotOptimize(payload.data()[0]);
}

void ReadOnce(const Fixture& f)
{
    MappedFile file;
    if (!file.Open(f.m_strDpfPath))
        std::abort();
    benchmark::DoNotOptimize(file.Bytes().constData()[0]);
}

void EncodeAlone(const Fixture& f)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(f.m_Bmp.constData());
    const auto length = static_cast<std::uint32_t>(f.m_Bmp.size());
    std::uint32_t counts[CHuffmanTree::kLeafCount];
    CHuffmanTree::SliceCounts slices;
    CHuffmanTree::CountBytes(bytes, length, counts, 0, &slices);
    CHuffmanTree tree;
    tree.BuildTree(counts);
    const std::uint64_t bits = tree.EncodedBits(counts);
    QByteArray out(static_cast<qsizetype>((bits + 7) / 8), Qt::Uninitialized);
    CommitMemory(out.data(), static_cast<std::size_t>(out.size()));
    const std::uint32_t written = tree.Encode(bytes, length, reinterpret_cast<std::uint8_t*>(out.data()), &slices);
    benchmark::DoNotOptimize(written);
}

void WriteOnce(const Fixture& f)
{
    if (!WriteWholeFile(f.m_strOutputPath, f.m_Dpf))
        std::abort();
}

/// The document of a picture map opened from the BMP, geo-coded, ready for output as a DPF.
CQuilletDoc& PictureMapDocument(const Fixture& f)
{
    static CQuilletDoc* doc = [&f] {
        auto* made = new CQuilletDoc;
        CPicture picture;
        picture.LoadFromMemory(f.m_Bmp);
        picture.m_nWidth = kMapWidth;
        picture.m_nHeight = kMapHeight;
        made->InstallPictureMap(QStringLiteral("/maps/large.bmp"), MapKind::Bmp, std::move(picture), f.m_Bmp);
        made->RestorePoints({{}, 1, BenchCoefficients(), std::nullopt});
        made->SetOutputFormat(OutputFlavour::Dpf);
        return made;
    }();
    return *doc;
}

void WriteDpf(const Fixture& f)
{
    if (!WriteProjectionOutput(PictureMapDocument(f), std::nullopt, OutputFlavour::Dpf, f.m_strOutputPath).m_bDone)
        std::abort();
}

void Report(benchmark::State& state, const char* step, double stepSeconds, double coderSeconds, double ioSeconds,
            double stepPeak, double heldBefore, int runs)
{
    const double payload = double(TheFixture().m_Bmp.size());
    state.counters[std::string(step) + "_ms"] = stepSeconds / runs * 1000;
    state.counters["coder_ms"] = coderSeconds / runs * 1000;
    state.counters["io_ms"] = ioSeconds / runs * 1000;
    state.counters["time_ratio"] = stepSeconds / (coderSeconds + ioSeconds);
    state.counters["step_peak_MB"] = stepPeak / 1e6;
    state.counters["held_copies"] = (heldBefore + stepPeak) / payload;
}

void BM_OpenDpfLargeMap(benchmark::State& state)
{
    const Fixture& f = TheFixture();
    double open = 0, coder = 0, io = 0, peak = 0;
    int runs = 0;
    for (auto _ : state) {
        const Measurement step = MeasureInChild([&f] { OpenDpf(f); });
        const Measurement decode = MeasureInChild([&f] { DecodeAlone(f); });
        const Measurement read = MeasureInChild([&f] { ReadOnce(f); });
        if (step.m_dSeconds <= 0 || decode.m_dSeconds <= 0 || read.m_dSeconds <= 0) {
            state.SkipWithError("a measurement failed");
            return;
        }
        state.SetIterationTime(step.m_dSeconds);
        open += step.m_dSeconds;
        coder += decode.m_dSeconds;
        io += read.m_dSeconds;
        peak = std::max(peak, step.m_dPeakBytes);
        ++runs;
    }
    // Open starts from nothing: every copy it holds is in its own growth.
    Report(state, "open", open, coder, io, peak, 0.0, runs);
}
BENCHMARK(BM_OpenDpfLargeMap)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_WriteDpfLargeMap(benchmark::State& state)
{
    const Fixture& f = TheFixture();
    PictureMapDocument(f);
    double write = 0, coder = 0, io = 0, peak = 0;
    int runs = 0;
    for (auto _ : state) {
        const Measurement step = MeasureInChild([&f] { WriteDpf(f); });
        const Measurement encode = MeasureInChild([&f] { EncodeAlone(f); });
        const Measurement once = MeasureInChild([&f] { WriteOnce(f); });
        if (step.m_dSeconds <= 0 || encode.m_dSeconds <= 0 || once.m_dSeconds <= 0) {
            state.SkipWithError("a measurement failed");
            return;
        }
        state.SetIterationTime(step.m_dSeconds);
        write += step.m_dSeconds;
        coder += encode.m_dSeconds;
        io += once.m_dSeconds;
        peak = std::max(peak, step.m_dPeakBytes);
        ++runs;
    }
    // The document holds the picture once (file bytes and picture share them) before the step.
    Report(state, "write", write, coder, io, peak, double(f.m_Bmp.size()), runs);
}
BENCHMARK(BM_WriteDpfLargeMap)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_DecodeLargeBmpToRgb32(benchmark::State& state)
{
    const Fixture& f = TheFixture();
    QImageReader::setAllocationLimit(8192); // the picture service's own limit for large maps
    for (auto _ : state) {
        QImage image = QImage::fromData(f.m_Bmp, "BMP").convertToFormat(QImage::Format_RGB32);
        if (image.isNull()) {
            state.SkipWithError("decode failed");
            return;
        }
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_DecodeLargeBmpToRgb32)->Iterations(2)->Unit(benchmark::kMillisecond);

} // namespace
