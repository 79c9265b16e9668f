// Fuzz target for the workspace reader and what Open does with a workspace: the input is parsed
// (and must encode back to itself), then opened as Open opens it into a document and a view, and
// the view is fitted to a window and painted. A TIFF map's path is replaced by a small TIFF of
// the run's own, so that inputs never reach other files of the machine.

#include "FuzzHarness.h"

#include "commands/FileCommands.h"
#include "document/CQuilletDoc.h"
#include "formats/WorkspaceFile.h"
#include "view/core/ViewHost.h"
#include "view/core/ViewPainter.h"
#include "view/core/ViewState.h"

#include <QFile>
#include <QImage>
#include <QPainter>

#include <tiffio.h>

#include <cstdlib>

namespace {

class FuzzViewHost final : public ViewHost {
public:
    explicit FuzzViewHost(QSize size) : m_Size(size) {}
    QSize ClientSize() const override { return m_Size; }
    void Invalidate() override {}
    void InvalidateFeedback(const QRect&) override {}
    void SetCapture() override {}
    void ReleaseCapture() override {}
    void SetPaneText(const QString&, int) override {}
    int TextHeight() const override { return 16; }

private:
    QSize m_Size;
};

/// A 6 x 4 greyscale TIFF, written once.
const QString& SmallTiff()
{
    static const QString path = [] {
        const QString file = FuzzScratchPath(QStringLiteral("map.tif"));
        TIFF* tif = TIFFOpen(QFile::encodeName(file).constData(), "w");
        if (tif) {
            TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 6u);
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 4u);
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 4u);
            std::uint8_t rows[24];
            for (int i = 0; i < 24; ++i)
                rows[i] = static_cast<std::uint8_t>(i * 10);
            TIFFWriteEncodedStrip(tif, 0, rows, sizeof rows);
            TIFFClose(tif);
        }
        return file;
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = FuzzBytes(data, size);
    Parsed<WorkspaceContents> contents = ParseWorkspace(bytes);
    if (!contents)
        return 0;
    if (EncodeWorkspace(*contents) != bytes)
        std::abort();
    if (contents->m_Tiff)
        contents->m_Tiff->m_PathBytes = QFile::encodeName(SmallTiff()) + QByteArray(1, '\0');
    const QString path = FuzzScratchPath(QStringLiteral("input.pws"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(EncodeWorkspace(*contents));
    }

    CQuilletDoc doc;
    ViewState view;
    LoadWorkspaceFile(doc, &view, path);
    for (const QSize client : {QSize(64, 48), QSize(2, 300), QSize(1000, 3)}) {
        FuzzViewHost host(client);
        view.RebuildForClient(doc, host);
        QImage image(client, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        PaintView(painter, doc, view, client.width(), client.height());
    }
    FuzzProcessEvents();
    return 0;
}
