#include "formats/WorkspaceFile.h"

#include "formats/FileKinds.h"
#include "platform/BinaryIO.h"

#include <algorithm>
#include <cmath>

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

/// Reads N and the N point records; N must be at least 0, its records all present and every
/// value a finite number.
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
        if (!std::isfinite(point.m_dLatitude) || !std::isfinite(point.m_dLongitude) || !std::isfinite(point.m_dImageX) ||
            !std::isfinite(point.m_dImageY))
            return false;
    }
    return true;
}

bool Finite(const CDataGeo& geo)
{
    return std::isfinite(geo.m_dLatitude) && std::isfinite(geo.m_dLongitude);
}

bool PlausibleWindow(const WorkspaceTiffPart& tiff)
{
    return IsPlausibleViewWindow(tiff.m_dWinLeft, tiff.m_dWinRight, tiff.m_dWinBottom, tiff.m_dWinTop);
}

} // namespace

bool IsPlausibleViewWindow(double left, double right, double bottom, double top)
{
    constexpr double kFarOutside = 1000.0;
    for (const double edge : {left, right, bottom, top})
        if (!std::isfinite(edge) || std::fabs(edge) > kFarOutside)
            return false;
    return right > left && top > bottom;
}

QString WorkspaceTiffPart::MapPath() const
{
    const qsizetype end = m_PathBytes.indexOf('\0');
    return QString::fromUtf8(end >= 0 ? m_PathBytes.left(end) : m_PathBytes);
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

    if (IsPictureMapType(contents.Kind())) {
        const QByteArray picture = contents.m_PictureBytes.value_or(QByteArray());
        out.WriteInt32(static_cast<std::int32_t>(picture.size()));
        out.WriteBytes(picture);
        WritePoints(out, contents.m_ControlPoints);
    } else if (IsTiffMapType(contents.Kind())) {
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

Parsed<WorkspaceContents> ParseWorkspace(const QByteArray& file)
{
    const auto refuse = [](const QString& text) { return Parsed<WorkspaceContents>::Refused(text); };
    BinaryReader in(file);
    std::uint32_t tag = 0;
    if (!in.Read(tag) || tag != kWorkspaceTag)
        return refuse(NotAWorkspaceText());

    WorkspaceContents contents;
    if (!in.Read(contents.m_nGeoCoded) || !in.Read(contents.m_nMapType) || !in.Read(contents.m_nImageWidth) ||
        !in.Read(contents.m_nImageHeight) || contents.m_nImageWidth < 0 || contents.m_nImageHeight < 0)
        return refuse(DamagedText());
    for (double& c : contents.m_dGeoCoef)
        if (!in.Read(c))
            return refuse(DamagedText());

    if (IsPictureMapType(contents.Kind())) {
        std::int32_t length = 0;
        QByteArray picture;
        if (!in.Read(length) || length < 0 || !in.ReadBytes(length, picture))
            return refuse(DamagedText());
        contents.m_PictureBytes = std::move(picture);
        if (!ReadPoints(in, contents.m_ControlPoints))
            return refuse(DamagedText());
    } else if (IsTiffMapType(contents.Kind())) {
        WorkspaceTiffPart tiff;
        std::int32_t pathLength = 0;
        const bool ok = in.Read(tiff.m_nGeoTiffFrame) && in.Read(tiff.m_nSelectedImage) &&
                        ReadGeo(in, tiff.m_GeoOrigin) && ReadGeo(in, tiff.m_GeoExtent) &&
                        ReadGeo(in, tiff.m_FrameOrigin) && ReadGeo(in, tiff.m_FrameExtent) &&
                        in.Read(tiff.m_dWinLeft) && in.Read(tiff.m_dWinRight) && in.Read(tiff.m_dWinBottom) &&
                        in.Read(tiff.m_dWinTop) && in.Read(tiff.m_nImageCount) && tiff.m_nImageCount >= 0 &&
                        in.Read(pathLength) && pathLength >= 0 && in.ReadBytes(pathLength, tiff.m_PathBytes) &&
                        Finite(tiff.m_GeoOrigin) && Finite(tiff.m_GeoExtent) && Finite(tiff.m_FrameOrigin) &&
                        Finite(tiff.m_FrameExtent) && PlausibleWindow(tiff);
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
