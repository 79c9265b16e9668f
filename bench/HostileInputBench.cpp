// Files that claim far more than they hold: how long the refusal takes and how much memory it
// grows by, each in a child process of its own (see ChildMeasure.h). The targets: under two
// seconds and under 200 MB for every one. Counters: ms and peak_MB; refused is 1 when the file
// was refused as it must be.

#include "commands/FileCommands.h"
#include "commands/OutputCommand.h"
#include "document/CQuilletDoc.h"
#include "formats/TiffImport.h"
#include "formats/WorkspaceFile.h"
#include "imaging/CPicture.h"
#include "platform/MemoryBudget.h"

#include "ChildMeasure.h"
#include "MapPayloads.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace {

QString Sample(const char* name)
{
    return QStringLiteral(VARNEL_HOSTILE_DATA_DIR "/") + QString::fromLatin1(name);
}

/// The folder of the run's own files: a FIFO and the workspaces that name it or the TIFF sample.
const QString& Scratch()
{
    static QTemporaryDir folder;
    static const QString path = folder.path();
    return path;
}

/// A fax page of 7.6 KB claiming 60000 x 60000 pixels: 10.8 GB of them, more than a machine of
/// 8 GB has. Written once, before the children are measured.
const QString& FaxPage()
{
    static const QString path = [] {
        const QString page = Scratch() + QStringLiteral("/fax.tif");
        if (!WriteFaxPage(page, 60000))
            std::abort();
        return page;
    }();
    return path;
}

QString TiffWorkspace(const QString& name, const QString& mapPath)
{
    WorkspaceContents contents;
    contents.m_nGeoCoded = 1;
    contents.m_nMapType = 9;
    contents.m_nImageWidth = contents.m_nImageHeight = 100;
    contents.m_dGeoCoef = {0.5, 100, 0, -17000, -100, 0, 0, 1000};
    WorkspaceTiffPart tiff;
    tiff.m_nImageCount = 1;
    tiff.m_PathBytes = QFile::encodeName(mapPath) + QByteArray(1, '\0');
    contents.m_Tiff = tiff;
    const QString path = Scratch() + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(EncodeWorkspace(contents)) < 0)
        std::abort();
    return path;
}

/// The 128 x 128 hopper.jpg with its frame made to claim 30000 x 30000 and put behind a comment
/// whose length stops short of its contents, written into the scratch folder: the decoder skips
/// the stray bytes (0xFF 0x00 among them) to that frame.
QString JpegBehindShortComment()
{
    QFile sample(QStringLiteral(VARNEL_HOSTILE_DATA_DIR "/../pictures/jpg/hopper.jpg"));
    if (!sample.open(QIODevice::ReadOnly))
        std::abort();
    QByteArray jpeg = sample.readAll();
    const qsizetype at = jpeg.indexOf("\xFF\xC0");
    const QByteArray frame = jpeg.mid(at, 19).replace(5, 4, QByteArray("\x75\x30\x75\x30", 4));
    jpeg.remove(at, 19);
    jpeg.insert(2, QByteArray("\xFF\xFE\0\x04" "ab\x12\xFF\0\x7F\0", 11) + frame);
    const QString path = Scratch() + QStringLiteral("/short-comment.jpg");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(jpeg) != jpeg.size())
        std::abort();
    return path;
}

/// Opens a workspace as varnel-cli output does and writes the middle of it: refused when either
/// step refuses.
bool OutputRefused(const QString& workspace)
{
    CQuilletDoc doc;
    if (!LoadWorkspaceFile(doc, nullptr, workspace).m_bDone)
        return true;
    const QString out = Scratch() + QStringLiteral("/out.dpf");
    const bool written =
        WriteProjectionOutput(doc, OutputRange{true, 0.25, 0.75, 0.25, 0.75}, OutputFlavour::Dpf, out).m_bDone;
    QFile::remove(out);
    return !written;
}

enum class Input { Tiff, TiffWorkspace, Jpeg, HugePicture, NegativeSize, FifoWorkspace, FaxPage, JpegShortComment };

bool Refused(Input input)
{
    switch (input) {
    case Input::Tiff:
        return ImportTiffImages(Sample("tiff-138-bytes-claims-40000x40000.tif")).m_Images.empty();
    case Input::TiffWorkspace:
        return OutputRefused(TiffWorkspace(QStringLiteral("tiff.pws"), Sample("tiff-138-bytes-claims-40000x40000.tif")));
    case Input::Jpeg: {
        CPicture picture;
        return !picture.LoadFromFile(Sample("jpeg-6kb-claims-30000x30000.jpg"));
    }
    case Input::HugePicture:
        return OutputRefused(Sample("range-output-huge-picture.pws"));
    case Input::NegativeSize:
        return OutputRefused(Sample("range-output-negative-size.pws"));
    case Input::JpegShortComment: {
        CPicture picture;
        return !picture.LoadFromFile(JpegBehindShortComment());
    }
    case Input::FifoWorkspace: {
        const QString fifo = Scratch() + QStringLiteral("/map.tif");
        ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
        return OutputRefused(TiffWorkspace(QStringLiteral("fifo.pws"), fifo));
    }
    case Input::FaxPage:
        SetMemoryCeiling(std::int64_t(8) << 30);
        return ImportTiffImages(FaxPage()).m_Images.empty();
    }
    return false;
}

void BM_HostileInputRefused(benchmark::State& state)
{
    const auto input = static_cast<Input>(state.range(0));
    Scratch(); // made here, so that the children share it and it goes with the run
    if (input == Input::FaxPage)
        FaxPage();
    double seconds = 0, peak = 0;
    int runs = 0;
    for (auto _ : state) {
        const Measurement m = MeasureInChild([input] {
            if (!Refused(input))
                std::abort(); // a measurement of an accepted file would mean nothing
        });
        if (m.m_dSeconds <= 0) {
            state.SkipWithError("the file was not refused, or the measurement failed");
            return;
        }
        state.SetIterationTime(m.m_dSeconds);
        seconds += m.m_dSeconds;
        peak = std::max(peak, m.m_dPeakBytes);
        ++runs;
    }
    state.counters["ms"] = seconds / runs * 1000;
    state.counters["peak_MB"] = peak / 1e6;
}
// 0: the TIFF, 1: a workspace naming it, 2: the JPEG, 3: the huge range picture, 4: the negative
// size, 5: a workspace naming a FIFO, 6: a fax page of 60000 x 60000 pixels with 8 GB to spare,
// 7: the JPEG frame behind a short comment.
BENCHMARK(BM_HostileInputRefused)->DenseRange(0, 7)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace
