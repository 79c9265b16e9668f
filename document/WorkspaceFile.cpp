#include "document/WorkspaceFile.h"

#include "document/CQuilletDoc.h"
#include "document/TiffImport.h"
#include "platform/BinaryIO.h"
#include "platform/FileIO.h"
#include "platform/UiServices.h"
#include "view/core/ViewState.h"

#include <algorithm>

namespace {

QString DamagedText()
{
    return QStringLiteral("The work space file is cut short or damaged. It cannot be read.");
}

QString NotAWorkspaceText()
{
    return QStringLiteral("This is not a work space file. It may be for another application.");
}

void WriteGeo(BinaryWriter& out, const CDataGeo& geo)
{
    out.WriteDouble(geo.m_dLatitude);
    out.WriteDouble(geo.m_dLongitude);
}

bool ReadGeo(BinaryReader& in, CDataGeo& geo)
{
    geo = CDataGeo{};
    return in.Read(geo.m_dLatitude) && in.Read(geo.m_dLongitude);
}

void WritePoints(BinaryWriter& out, const std::vector<CDataGeo>& points)
{
    out.WriteInt32(static_cast<std::int32_t>(points.size()));
    for (const CDataGeo& point : points) {
        out.WriteDouble(point.m_dLatitude);
        out.WriteDouble(point.m_dLongitude);
        out.WriteDouble(point.m_dImageX);
        out.WriteDouble(point.m_dImageY);
    }
}

/// Reads N and the N point records; N must be at least 0 and its records all present.
bool ReadPoints(BinaryReader& in, std::vector<CDataGeo>& points)
{
    std::int32_t count = 0;
    if (!in.Read(count) || count < 0 || !in.Has(static_cast<qsizetype>(count) * kWorkspacePointLength))
        return false;
    points.resize(static_cast<std::size_t>(count));
    for (CDataGeo& point : points) {
        if (!in.Read(point.m_dLatitude) || !in.Read(point.m_dLongitude) || !in.Read(point.m_dImageX) ||
            !in.Read(point.m_dImageY))
            return false;
    }
    return true;
}

/// Decodes the map's images again: the import of the New command, stopped after count images.
/// The k-th image of a TIFF map is the k-th listed directory that gave pixels, so the same
/// import brings back the images the workspace was written with, in the same places.
void DecodeTiffImages(CQuilletDoc& doc, std::int32_t count)
{
    CWaitCursor wait;
    for (ImportedTiffImage& imported : ImportTiffImages(doc.m_strMapPath, std::max(count, 0)))
        doc.m_Images.push_back(std::move(imported.m_Image));
}

} // namespace

QString WorkspaceTiffPart::MapPath() const
{
    const qsizetype end = m_PathBytes.indexOf('\0');
    return QString::fromUtf8(end >= 0 ? m_PathBytes.left(end) : m_PathBytes);
}

WorkspaceContents CaptureWorkspace(const CQuilletDoc& doc, const ViewState* view)
{
    WorkspaceContents contents;
    contents.m_nGeoCoded = doc.m_bGeoCoded;
    contents.m_nMapType = doc.m_nMapType;
    contents.m_nImageWidth = doc.m_nImageWidth;
    contents.m_nImageHeight = doc.m_nImageHeight;
    contents.m_dGeoCoef = doc.m_dGeoCoef;
    if (IsWorkspacePictureKind(doc.m_nMapType)) {
        contents.m_PictureBytes = doc.m_MapFileData;
        contents.m_ControlPoints = doc.m_ControlPoints;
    } else if (IsWorkspaceTiffKind(doc.m_nMapType)) {
        WorkspaceTiffPart tiff; // without a view: the whole frame, image 0, no GeoTIFF frame
        if (view) {
            tiff.m_nGeoTiffFrame = view->m_bGeoTiffFrame ? 1 : 0;
            tiff.m_nSelectedImage = view->m_nSelectedImage;
            tiff.m_dWinLeft = view->m_dWinLeft;
            tiff.m_dWinRight = view->m_dWinRight;
            tiff.m_dWinBottom = view->m_dWinBottom;
            tiff.m_dWinTop = view->m_dWinTop;
        }
        tiff.m_GeoOrigin = {doc.m_GeoOrigin.m_dLatitude, doc.m_GeoOrigin.m_dLongitude, 0, 0};
        tiff.m_GeoExtent = {doc.m_GeoExtent.m_dLatitude, doc.m_GeoExtent.m_dLongitude, 0, 0};
        tiff.m_FrameOrigin = {doc.m_FrameOrigin.m_dLatitude, doc.m_FrameOrigin.m_dLongitude, 0, 0};
        tiff.m_FrameExtent = {doc.m_FrameExtent.m_dLatitude, doc.m_FrameExtent.m_dLongitude, 0, 0};
        tiff.m_nImageCount = static_cast<std::int32_t>(doc.m_Images.size());
        tiff.m_PathBytes = doc.m_strMapPath.toUtf8();
        tiff.m_PathBytes.append('\0');
        contents.m_Tiff = std::move(tiff);
        contents.m_ControlPoints = doc.m_ControlPoints;
    }
    return contents;
}

QByteArray EncodeWorkspace(const WorkspaceContents& contents)
{
    QByteArray file;
    BinaryWriter out(file);
    out.WriteUInt32(kWorkspaceTag);
    out.WriteInt32(contents.m_nGeoCoded);
    out.WriteInt32(contents.m_nMapType);
    out.WriteInt32(contents.m_nImageWidth);
    out.WriteInt32(contents.m_nImageHeight);
    for (const double c : contents.m_dGeoCoef)
        out.WriteDouble(c);

    if (IsWorkspacePictureKind(contents.m_nMapType)) {
        const QByteArray picture = contents.m_PictureBytes.value_or(QByteArray());
        out.WriteInt32(static_cast<std::int32_t>(picture.size()));
        out.WriteBytes(picture);
        WritePoints(out, contents.m_ControlPoints);
    } else if (IsWorkspaceTiffKind(contents.m_nMapType)) {
        const WorkspaceTiffPart tiff = contents.m_Tiff.value_or(WorkspaceTiffPart{});
        out.WriteUInt8(tiff.m_nGeoTiffFrame);
        out.WriteInt32(tiff.m_nSelectedImage);
        WriteGeo(out, tiff.m_GeoOrigin);
        WriteGeo(out, tiff.m_GeoExtent);
        WriteGeo(out, tiff.m_FrameOrigin);
        WriteGeo(out, tiff.m_FrameExtent);
        // The window's order on disk is left, right, bottom, top.
        out.WriteDouble(tiff.m_dWinLeft);
        out.WriteDouble(tiff.m_dWinRight);
        out.WriteDouble(tiff.m_dWinBottom);
        out.WriteDouble(tiff.m_dWinTop);
        out.WriteInt32(tiff.m_nImageCount);
        out.WriteInt32(static_cast<std::int32_t>(tiff.m_PathBytes.size()));
        out.WriteBytes(tiff.m_PathBytes);
        WritePoints(out, contents.m_ControlPoints);
    }
    return file;
}

QByteArray EncodeWorkspace(const CQuilletDoc& doc, const ViewState* view)
{
    return EncodeWorkspace(CaptureWorkspace(doc, view));
}

std::optional<WorkspaceContents> ParseWorkspace(const QByteArray& file, QString* error)
{
    const auto refuse = [error](const QString& text) -> std::optional<WorkspaceContents> {
        if (error)
            *error = text;
        return std::nullopt;
    };
    BinaryReader in(file);
    std::uint32_t tag = 0;
    if (!in.Read(tag) || tag != kWorkspaceTag)
        return refuse(NotAWorkspaceText());

    WorkspaceContents contents;
    if (!in.Read(contents.m_nGeoCoded) || !in.Read(contents.m_nMapType) || !in.Read(contents.m_nImageWidth) ||
        !in.Read(contents.m_nImageHeight))
        return refuse(DamagedText());
    for (double& c : contents.m_dGeoCoef)
        if (!in.Read(c))
            return refuse(DamagedText());

    if (IsWorkspacePictureKind(contents.m_nMapType)) {
        std::int32_t length = 0;
        QByteArray picture;
        if (!in.Read(length) || length < 0 || !in.ReadBytes(length, picture))
            return refuse(DamagedText());
        contents.m_PictureBytes = std::move(picture);
        if (!ReadPoints(in, contents.m_ControlPoints))
            return refuse(DamagedText());
    } else if (IsWorkspaceTiffKind(contents.m_nMapType)) {
        WorkspaceTiffPart tiff;
        std::int32_t pathLength = 0;
        const bool ok = in.Read(tiff.m_nGeoTiffFrame) && in.Read(tiff.m_nSelectedImage) &&
                        ReadGeo(in, tiff.m_GeoOrigin) && ReadGeo(in, tiff.m_GeoExtent) &&
                        ReadGeo(in, tiff.m_FrameOrigin) && ReadGeo(in, tiff.m_FrameExtent) &&
                        in.Read(tiff.m_dWinLeft) && in.Read(tiff.m_dWinRight) && in.Read(tiff.m_dWinBottom) &&
                        in.Read(tiff.m_dWinTop) && in.Read(tiff.m_nImageCount) && tiff.m_nImageCount >= 0 &&
                        in.Read(pathLength) && pathLength >= 0 && in.ReadBytes(pathLength, tiff.m_PathBytes);
        if (!ok)
            return refuse(DamagedText());
        contents.m_Tiff = std::move(tiff);
        if (!ReadPoints(in, contents.m_ControlPoints))
            return refuse(DamagedText());
    }
    // The layout has no total length; a count that is too small shows only as bytes left over.
    if (in.Remaining() != 0)
        return refuse(DamagedText());
    return contents;
}

void InstallWorkspace(CQuilletDoc& doc, ViewState* view, const WorkspaceContents& contents)
{
    // The previous map goes entirely: its images, points and file bytes.
    doc.m_Images.clear();
    doc.m_ControlPoints.clear();
    doc.m_MapFileData.clear();
    doc.m_bMapLoaded = 0;
    doc.m_bGeoCoded = contents.m_nGeoCoded != 0 ? 1 : 0;
    doc.m_nMapType = contents.m_nMapType;
    doc.m_nImageWidth = contents.m_nImageWidth;
    doc.m_nImageHeight = contents.m_nImageHeight;
    doc.m_dGeoCoef = contents.m_dGeoCoef;
    // An index into the images just dropped means nothing for the new ones.
    doc.m_nCurrentImage = 0;

    if (IsWorkspacePictureKind(contents.m_nMapType)) {
        const QByteArray picture = contents.m_PictureBytes.value_or(QByteArray());
        doc.m_MapFileData = picture;
        doc.m_nMapFileSize = static_cast<int>(picture.size());
        doc.m_Picture.Free();
        doc.m_Picture.LoadFromMemory(picture);
        // The size the map was worked on wins over what the picture service measures, so the
        // points and the model keep fitting the picture.
        doc.m_Picture.m_nWidth = contents.m_nImageWidth;
        doc.m_Picture.m_nHeight = contents.m_nImageHeight;
        doc.m_ControlPoints = contents.m_ControlPoints;
        doc.SetPictureFrame();
    } else if (IsWorkspaceTiffKind(contents.m_nMapType)) {
        const WorkspaceTiffPart tiff = contents.m_Tiff.value_or(WorkspaceTiffPart{});
        if (view) {
            view->m_bGeoTiffFrame = tiff.m_nGeoTiffFrame != 0;
            view->m_nSelectedImage = tiff.m_nSelectedImage;
            view->m_dWinLeft = tiff.m_dWinLeft;
            view->m_dWinRight = tiff.m_dWinRight;
            view->m_dWinBottom = tiff.m_dWinBottom;
            view->m_dWinTop = tiff.m_dWinTop;
            view->RefreshWindowSize();
        }
        doc.m_GeoOrigin = tiff.m_GeoOrigin;
        doc.m_GeoExtent = tiff.m_GeoExtent;
        doc.m_FrameOrigin = tiff.m_FrameOrigin;
        doc.m_FrameExtent = tiff.m_FrameExtent;
        doc.m_strMapPath = tiff.MapPath();
        DecodeTiffImages(doc, tiff.m_nImageCount);
        doc.m_ControlPoints = contents.m_ControlPoints;
    }
    // The coefficients and points are taken as stored: no fit is run.
    doc.m_bMapLoaded = 1;
    doc.m_bInitialized = 1;
    doc.UpdateAllViews(nullptr);
}

bool ReadWorkspaceFile(CQuilletDoc& doc, ViewState* view, const QString& path, QString* error)
{
    QByteArray bytes;
    QString text;
    if (!ReadWholeFile(path, bytes, &text)) {
        if (error)
            *error = text;
        return false;
    }
    const std::optional<WorkspaceContents> contents = ParseWorkspace(bytes, &text);
    if (!contents) {
        if (error)
            *error = QStringLiteral("%1\n%2").arg(path, text);
        return false;
    }
    InstallWorkspace(doc, view, *contents);
    doc.m_strWorkspacePath = path;
    doc.SetTitle(path);
    return true;
}
