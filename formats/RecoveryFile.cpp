#include "formats/RecoveryFile.h"

#include "formats/WorkspaceFile.h"
#include "platform/BinaryIO.h"

#include <cmath>

namespace {

constexpr std::uint32_t kRecoveryTag = 0x56435256u; ///< "VRCV" stored little-endian
constexpr std::int32_t kVersion = 1;
constexpr qsizetype kPointBytes = 32;

} // namespace

QByteArray EncodeRecovery(const RecoveryContents& contents)
{
    QByteArray file;
    BinaryWriter out(file);
    out.WriteUInt32(kRecoveryTag);
    out.WriteInt32(kVersion);
    out.Write<std::int64_t>(contents.m_SavedAt.toMSecsSinceEpoch());
    out.WriteInt32(static_cast<std::int32_t>(contents.m_Source));
    out.WriteInt32(contents.m_nMapType);
    const QByteArray path = contents.m_strPath.toUtf8();
    out.WriteInt32(static_cast<std::int32_t>(path.size()));
    out.WriteBytes(path);
    out.WriteInt32(contents.m_nGeoCoded);
    for (double c : contents.m_dGeoCoef)
        out.WriteDouble(c);
    for (double w : {contents.m_dWinLeft, contents.m_dWinRight, contents.m_dWinBottom, contents.m_dWinTop})
        out.WriteDouble(w);
    out.WriteInt32(contents.m_nInputOption);
    out.WriteDouble(contents.m_dUnitFactor);
    out.WriteInt32(static_cast<std::int32_t>(contents.m_ControlPoints.size()));
    for (const CDataGeo& point : contents.m_ControlPoints)
        for (double v : {point.m_dLatitude, point.m_dLongitude, point.m_dImageX, point.m_dImageY})
            out.WriteDouble(v);
    return file;
}

std::optional<RecoveryContents> ParseRecovery(const QByteArray& file)
{
    BinaryReader in(file);
    std::uint32_t tag = 0;
    std::int32_t version = 0, source = 0, pathBytes = 0, count = 0;
    std::int64_t savedAt = 0;
    RecoveryContents contents;
    if (!in.Read(tag) || tag != kRecoveryTag || !in.Read(version) || version != kVersion || !in.Read(savedAt) ||
        !in.Read(source) || source < 0 || source > 2 || !in.Read(contents.m_nMapType) || !in.Read(pathBytes))
        return std::nullopt;
    QByteArray path;
    if (!in.ReadBytes(pathBytes, path) || !in.Read(contents.m_nGeoCoded))
        return std::nullopt;
    for (double& c : contents.m_dGeoCoef)
        if (!in.Read(c))
            return std::nullopt;
    if (!in.Read(contents.m_dWinLeft) || !in.Read(contents.m_dWinRight) || !in.Read(contents.m_dWinBottom) ||
        !in.Read(contents.m_dWinTop) || !in.Read(contents.m_nInputOption) || !in.Read(contents.m_dUnitFactor) ||
        !in.Read(count) || count < 0 || !in.Has(static_cast<qsizetype>(count) * kPointBytes))
        return std::nullopt;
    // The window goes back into the view as it was: only one zooming and scrolling can leave.
    if (!IsPlausibleViewWindow(contents.m_dWinLeft, contents.m_dWinRight, contents.m_dWinBottom, contents.m_dWinTop))
        return std::nullopt;
    contents.m_ControlPoints.resize(static_cast<std::size_t>(count));
    for (CDataGeo& point : contents.m_ControlPoints)
        if (!in.Read(point.m_dLatitude) || !in.Read(point.m_dLongitude) || !in.Read(point.m_dImageX) ||
            !in.Read(point.m_dImageY) || !std::isfinite(point.m_dLatitude) || !std::isfinite(point.m_dLongitude) ||
            !std::isfinite(point.m_dImageX) || !std::isfinite(point.m_dImageY))
            return std::nullopt;
    if (in.Remaining() != 0)
        return std::nullopt;
    contents.m_SavedAt = QDateTime::fromMSecsSinceEpoch(savedAt, Qt::UTC);
    contents.m_Source = static_cast<RecoveryContents::Source>(source);
    contents.m_strPath = QString::fromUtf8(path);
    return contents;
}
