#include "output/OutputCommand.h"

#include "document/CQuilletDoc.h"
#include "imaging/Blit.h"
#include "imaging/BitmapExport.h"
#include "output/ProjectionFile.h"
#include "platform/FileFilter.h"
#include "platform/FileIO.h"
#include "platform/UiServices.h"
#include "platform/WinTypes.h"
#include "view/core/ViewState.h"

#include <QFile>
#include <QPainter>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kInvalidFile = QStringLiteral("Invalid File");
const QString kInvalidRange = QStringLiteral("Invalid Range");

void ReportFileNotOpened()
{
    Ui().MessageBox(QStringLiteral("The file can not be opened."), kInvalidFile, MB_OKCANCEL | MB_ICONERROR);
}

void ReportNoPicture()
{
    Ui().MessageBox(QStringLiteral("The map holds no picture that could be written."), kInvalidFile,
                    MB_OK | MB_ICONERROR);
}

/// The temporary BMP beside the projection file. Its name is taken only while no file of that
/// name exists (the user's own files are never overwritten); the file is deleted with the object.
class TemporaryBmp {
public:
    TemporaryBmp() = default;
    ~TemporaryBmp()
    {
        if (!m_strPath.isEmpty())
            ::unlink(QFile::encodeName(m_strPath).constData());
    }
    TemporaryBmp(const TemporaryBmp&) = delete;
    TemporaryBmp& operator=(const TemporaryBmp&) = delete;

    /// Creates the file empty under the first free name of TOWN00010001002.BMP,
    /// TOWN00010001002-1.BMP, TOWN00010001002-2.BMP, ... False when the folder takes no new file.
    bool Reserve(const QString& projectionPath)
    {
        const QString first = ProjectionTempBmpPath(projectionPath);
        const QString stem = first.left(first.size() - 4); // without ".BMP"
        for (int attempt = 0; attempt < 1000; ++attempt) {
            const QString candidate =
                attempt == 0 ? first : stem + QLatin1Char('-') + QString::number(attempt) + QStringLiteral(".BMP");
            const int fd = ::open(QFile::encodeName(candidate).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                m_strPath = candidate;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    const QString& Path() const { return m_strPath; }

private:
    QString m_strPath;
};

/// What the command writes: the picture's size, the coefficients and the picture file.
struct OutputPicture {
    int m_nWidth = 0;
    int m_nHeight = 0;
    GeoCoefficients m_dCoef{};
    QByteArray m_CpfPayload; ///< the picture file a CPF carries
    QByteArray m_BmpPayload; ///< the BMP file a GPF or DPF carries
};

bool IsOutputRangeOn(const CQuilletDoc& doc)
{
    return doc.m_pActiveView && doc.m_pActiveView->m_bSelectRange;
}

/// The cut-out's size in pixels: the range measured in steps of W - 1 and H - 1 pixels,
/// truncated. Refuses, with a message, a range that was never dragged or is under one pixel.
bool RangeSize(const CQuilletDoc& doc, const ViewState& view, int& w, int& h)
{
    if (!view.HasRange()) {
        Ui().MessageBox(QStringLiteral("No range has been selected. Drag the range to output over the map, "
                                       "or switch the range tool off to output the whole map."),
                        kInvalidRange, MB_OK | MB_ICONINFORMATION);
        return false;
    }
    const double width = std::fabs((view.m_dRangeRight - view.m_dRangeLeft) * (1.0 - doc.m_nImageWidth));
    const double height = std::fabs((view.m_dRangeBottom - view.m_dRangeTop) * (1.0 - doc.m_nImageHeight));
    if (!(width >= 1.0 && height >= 1.0 && width <= INT32_MAX && height <= INT32_MAX)) {
        Ui().MessageBox(QStringLiteral("The selected range is less than one pixel wide or high. "
                                       "Drag a larger range over the map."),
                        kInvalidRange, MB_OK | MB_ICONINFORMATION);
        return false;
    }
    w = static_cast<int>(width);
    h = static_cast<int>(height);
    return true;
}

/// The document holds a picture the command can write.
bool HasPicture(const CQuilletDoc& doc)
{
    if (doc.IsPictureMap())
        return doc.m_Picture.m_pPicture != nullptr;
    if (doc.IsTiffMap()) {
        if (doc.m_nCurrentImage < 0 || doc.m_nCurrentImage >= static_cast<int>(doc.m_Images.size()))
            return false;
        const DIBSection& image = doc.m_Images[static_cast<size_t>(doc.m_nCurrentImage)];
        return image.m_pBits != nullptr && image.m_nBitCount == 24;
    }
    return false;
}

/// A TIFF map: the current image becomes the document's picture, as a BMP made through the
/// temporary file, and a GeoTIFF frame gives the coefficients (kept in the document too).
bool PrepareTiffMap(CQuilletDoc& doc, const TemporaryBmp& temp, OutputPicture& out)
{
    const DIBSection& image = doc.m_Images[static_cast<size_t>(doc.m_nCurrentImage)];
    if (!WriteDibSectionBmp(temp.Path(), image))
        return false;
    doc.m_Picture.Free();
    QByteArray bmp;
    if (doc.m_Picture.LoadFromFile(temp.Path(), &bmp))
        doc.m_MapFileData = bmp;
    out.m_BmpPayload = bmp;
    out.m_CpfPayload = doc.m_MapFileData;

    if (doc.m_pActiveView && doc.m_pActiveView->m_bGeoTiffFrame) {
        const double w = doc.m_nImageWidth;
        const double h = doc.m_nImageHeight;
        const double latS = doc.m_GeoOrigin.m_dLatitude;
        const double lonW = doc.m_GeoOrigin.m_dLongitude;
        const double dLat = doc.m_GeoExtent.m_dLatitude;
        const double dLon = doc.m_GeoExtent.m_dLongitude;
        // The frame is a plain latitude/longitude grid over the image: north up, east right.
        doc.m_dGeoCoef[0] = 0.0;
        doc.m_dGeoCoef[1] = w / dLon;
        doc.m_dGeoCoef[3] = -lonW * w / dLon;
        doc.m_dGeoCoef[4] = -h / dLat;
        doc.m_dGeoCoef[5] = 0.0;
        doc.m_dGeoCoef[7] = (latS + dLat) * h / dLat;
        out.m_dCoef = doc.m_dGeoCoef;
    }
    return true;
}

/// The range cut-out: the part of the picture drawn at its pixel size, captured as a BMP and
/// passed once through the picture service; the offsets move to address the cut-out.
bool CutOutRange(CQuilletDoc& doc, const ViewState& view, int w, int h, const TemporaryBmp& temp,
                 OutputPicture& out)
{
    QImage memory = CreateCompatibleMemoryContext(nullptr, w, h);
    if (memory.isNull())
        return false;
    {
        QPainter painter(&memory);
        // The picture service counts vertical fractions from the bottom edge.
        doc.m_Picture.DrawPart(&painter, QRect(0, 0, w, h), view.m_dRangeLeft, view.m_dRangeRight, 1.0 - view.m_dRangeBottom,
                      1.0 - view.m_dRangeTop);
    }
    QByteArray packed;
    WritePackedBitmapFile(packed, CaptureBitmap(memory, nullptr, BI_RGB));
    memory = QImage();
    if (packed.isEmpty())
        return false;
    if (!WriteWholeFile(temp.Path(), packed))
        return false;
    packed.clear();
    CPicture cutOut;
    if (cutOut.LoadFromFile(temp.Path()))
        cutOut.SaveToFile(temp.Path());
    QByteArray bmp;
    if (!ReadWholeFile(temp.Path(), bmp))
        return false;
    out.m_nWidth = w;
    out.m_nHeight = h;
    out.m_BmpPayload = bmp;
    out.m_CpfPayload = bmp;
    out.m_dCoef[3] -= (doc.m_nImageWidth - 1) * view.m_dRangeLeft;
    out.m_dCoef[7] -= (doc.m_nImageHeight - 1) * view.m_dRangeTop;
    return true;
}

} // namespace

void OnOutputGeoMap(CQuilletDoc& doc)
{
    if (!doc.m_bMapLoaded)
        return;
    const FileDialogResult chosen =
        Ui().SaveFileDialog(QStringLiteral("Save Projection File"), QString::fromLatin1(kOutputFilter));
    if (!chosen.Accepted() || chosen.m_nFilterIndex < 1 || chosen.m_nFilterIndex > 3)
        return;
    doc.m_nOutputFormat = chosen.m_nFilterIndex;
    static const char* const kExtensions[] = {".gpf", ".dpf", ".cpf"};
    OutputProjectionFile(doc, ReplaceExtensionAtFirstDot(chosen.m_strPath,
                                                         QString::fromLatin1(kExtensions[chosen.m_nFilterIndex - 1])));
}

bool OutputProjectionFile(CQuilletDoc& doc, const QString& path)
{
    if (!doc.m_bMapLoaded || doc.m_nOutputFormat < 1 || doc.m_nOutputFormat > 3)
        return false;
    // Every refusal comes before anything is written, so that a refused output leaves no file.
    if (!doc.m_bGeoCoded) {
        Ui().MessageBox(QStringLiteral("Invalid projection. Need more points."), QStringLiteral("Invalid Projection"),
                        MB_OKCANCEL | MB_ICONINFORMATION);
        return false;
    }
    const ViewState* view = IsOutputRangeOn(doc) ? doc.m_pActiveView : nullptr;
    int w = doc.m_nImageWidth;
    int h = doc.m_nImageHeight;
    if (view && !RangeSize(doc, *view, w, h))
        return false;
    if (!HasPicture(doc)) {
        ReportNoPicture();
        return false;
    }

    CWaitCursor wait;
    TemporaryBmp temp;
    OutputPicture picture;
    picture.m_nWidth = w;
    picture.m_nHeight = h;
    picture.m_dCoef = doc.m_dGeoCoef;
    // The temporary BMP is needed where a picture is made: a TIFF image or a range cut-out.
    if ((doc.IsTiffMap() || view) && !temp.Reserve(path)) {
        ReportFileNotOpened();
        return false;
    }
    if (doc.IsTiffMap()) {
        if (!PrepareTiffMap(doc, temp, picture)) {
            ReportFileNotOpened();
            return false;
        }
    } else if (!view) {
        // A CPF carries the picture file as it was opened; a GPF or DPF the picture service's BMP
        // of it, which is also what it would save into the temporary file.
        picture.m_CpfPayload = doc.m_MapFileData;
        if (doc.m_nOutputFormat != 3)
            picture.m_BmpPayload = doc.m_Picture.m_pPicture->SaveAsBmp();
    }
    if (view && !CutOutRange(doc, *view, w, h, temp, picture)) {
        ReportFileNotOpened();
        return false;
    }

    QByteArray file;
    if (doc.m_nOutputFormat == 3) {
        WriteCpfProjection(file, picture.m_nWidth, picture.m_nHeight, picture.m_dCoef, picture.m_CpfPayload);
    } else {
        if (picture.m_BmpPayload.isEmpty()) {
            ReportNoPicture();
            return false;
        }
        WriteDpfHeader(file, doc.m_nOutputFormat == 1 ? kGpfTag : kDpfTag, picture.m_dCoef);
        WriteDpfPayload(file, picture.m_BmpPayload);
    }
    picture = OutputPicture();
    if (!WriteWholeFile(path, file)) {
        ReportFileNotOpened();
        return false;
    }
    return true;
}
