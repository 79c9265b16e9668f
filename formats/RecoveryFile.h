#pragma once
// The recovery file: what a running Varnel writes a moment after each edit so that a crash
// loses no control points. It holds the points, the geo-coding, the view window, the input
// options and the path of the map file, workspace or projection file the work belongs to; never
// the picture itself (maps reach hundreds of megabytes). Little-endian values one by one:
//   tag "VRCV", version (int32 1), saved at (int64 ms since 1970, UTC), source (int32: 0 map
//   file, 1 workspace, 2 projection file), map kind (int32), path (int32 byte count, UTF-8),
//   geo-coded (int32), 16 coefficients (double), window left, right, bottom, top (double),
//   input option (int32), metres per distance unit (double), N (int32), N x 4 doubles.

#include "formats/FileKinds.h"
#include "geo/CDataGeo.h"
#include "geo/GeoModel.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

/// What a recovery file keeps.
struct RecoveryContents {
    enum class Source { MapFile = 0, Workspace = 1, ProjectionFile = 2 };

    QDateTime m_SavedAt;
    Source m_Source = Source::MapFile;
    std::int32_t m_nMapType = 0;  ///< the map kind a map file is loaded as
    QString m_strPath;            ///< the map file, workspace or projection file
    std::int32_t m_nGeoCoded = 0;
    GeoCoefficients m_dGeoCoef{};
    double m_dWinLeft = 0.0;
    double m_dWinRight = 1.0;
    double m_dWinBottom = 0.0;
    double m_dWinTop = 1.0;
    std::int32_t m_nInputOption = 0;
    double m_dUnitFactor = 0.3048;
    std::vector<CDataGeo> m_ControlPoints;

    /// The stored map kind, whatever value it holds.
    MapKind Kind() const { return static_cast<MapKind>(m_nMapType); }
};

QByteArray EncodeRecovery(const RecoveryContents& contents);
/// Reads and checks a whole recovery file; nothing for a file that is not one, is cut short, has
/// bytes after its last value, or holds a view window no zooming could leave or a point that is
/// not finite.
std::optional<RecoveryContents> ParseRecovery(const QByteArray& file);
