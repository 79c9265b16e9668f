#pragma once
// The workspace file (.pws): the user's work kept for a later run. A flat run of little-endian
// values without padding: the tag, the geo-coded flag, the kind of map, the picture size and the
// sixteen coefficients (148 bytes), then for a picture map the picture file's own bytes and the
// control points, for a TIFF map the view's display state, the map frame, the TIFF file's path
// (its images are decoded again on opening) and the control points. Any other kind of map ends
// after the first 148 bytes.

#include "formats/FileKinds.h"
#include "geo/CDataGeo.h"
#include "platform/Parsed.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

constexpr std::uint32_t kWorkspaceTag = 0x50575320u; ///< " SWP" stored little-endian
constexpr qsizetype kWorkspaceCommonLength = 148;    ///< where the part of the map kind begins
constexpr qsizetype kWorkspacePointLength = 32;      ///< one control point: four doubles

/// What a TIFF map's workspace keeps besides the points: the view's display state, the map
/// frame and the path of the TIFF file. The frame members carry latitude and longitude only.
struct WorkspaceTiffPart {
    std::uint8_t m_nGeoTiffFrame = 0;  ///< the view's m_bGeoTiffFrame as stored
    std::int32_t m_nSelectedImage = 0; ///< the view's m_nSelectedImage
    CDataGeo m_GeoOrigin;
    CDataGeo m_GeoExtent;
    CDataGeo m_FrameOrigin;
    CDataGeo m_FrameExtent;
    double m_dWinLeft = 0.0;           ///< the view window, in the file's order left, right,
    double m_dWinRight = 1.0;          ///< bottom, top
    double m_dWinBottom = 0.0;
    double m_dWinTop = 1.0;
    std::int32_t m_nImageCount = 0;    ///< M: how many images the map had
    QByteArray m_PathBytes;            ///< the P stored path bytes, terminating zero included

    /// The TIFF file's path: the stored bytes up to the first zero byte, read as UTF-8.
    QString MapPath() const;
};

/// A whole workspace file as plain values, read and checked before anything of the document
/// changes, or taken from the document to be written.
struct WorkspaceContents {
    std::int32_t m_nGeoCoded = 0;
    std::int32_t m_nMapType = 0;
    std::int32_t m_nImageWidth = 0;
    std::int32_t m_nImageHeight = 0;
    std::array<double, 16> m_dGeoCoef{};
    std::optional<QByteArray> m_PictureBytes; ///< picture maps (kinds 1 to 8): the picture file's bytes
    std::optional<WorkspaceTiffPart> m_Tiff;  ///< TIFF maps (kinds 9 and 10)
    std::vector<CDataGeo> m_ControlPoints;    ///< stored for picture and TIFF maps only

    /// The stored map kind, whatever value it holds.
    MapKind Kind() const { return static_cast<MapKind>(m_nMapType); }
};

/// A view window zooming and scrolling can leave: finite edges not far outside the frame, of
/// positive width and height. A stored window that is not comes from damage, and the view's
/// arithmetic (client pixels, scroll positions) must not be fed with it.
bool IsPlausibleViewWindow(double left, double right, double bottom, double top);

/// The file's bytes for contents, value by value. The map path is written as UTF-8, so P counts
/// bytes, not characters.
QByteArray EncodeWorkspace(const WorkspaceContents& contents);

/// Reads and checks a whole workspace file held in memory. Refuses a file without the tag, one
/// cut short anywhere, one whose counts (picture bytes L, images M, path bytes P, points N) are
/// negative or larger than the data that follows, one with bytes after its last value (a
/// workspace is always written exactly, so they can only come from a wrong count), and one whose
/// values no Varnel writes: a negative picture size, a point, frame or window edge that is not a
/// finite number, a view window that is empty, turned over or far outside the frame, saying why.
Parsed<WorkspaceContents> ParseWorkspace(const QByteArray& file);
