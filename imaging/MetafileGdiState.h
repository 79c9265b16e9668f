#pragma once
// The drawing state a metafile changes record by record, in GDI's terms: the graphic objects
// (pens, brushes, fonts, regions) and the attributes of the device context (colours, modes,
// the mapping from logical to device units, the clip region, the current position).

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRegion>
#include <QSizeF>
#include <QString>
#include <QTransform>

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

class QBrush;
class QPen;

// GDI values the records use.
namespace Gdi {
constexpr int PS_SOLID = 0, PS_DASH = 1, PS_DOT = 2, PS_DASHDOT = 3, PS_DASHDOTDOT = 4, PS_NULL = 5,
              PS_INSIDEFRAME = 6, PS_USERSTYLE = 7, PS_ALTERNATE = 8;
constexpr std::uint32_t PS_STYLE_MASK = 0xF, PS_ENDCAP_MASK = 0xF00, PS_ENDCAP_SQUARE = 0x100,
                        PS_ENDCAP_FLAT = 0x200, PS_JOIN_MASK = 0xF000, PS_JOIN_BEVEL = 0x1000,
                        PS_JOIN_MITER = 0x2000, PS_GEOMETRIC = 0x10000;
constexpr int BS_SOLID = 0, BS_NULL = 1, BS_HATCHED = 2, BS_PATTERN = 3, BS_DIBPATTERN = 5, BS_DIBPATTERNPT = 6;
constexpr int TRANSPARENT = 1, OPAQUE = 2;
constexpr int ALTERNATE = 1, WINDING = 2;
constexpr int MM_TEXT = 1, MM_LOMETRIC = 2, MM_HIMETRIC = 3, MM_LOENGLISH = 4, MM_HIENGLISH = 5, MM_TWIPS = 6,
              MM_ISOTROPIC = 7, MM_ANISOTROPIC = 8;
constexpr std::uint32_t TA_UPDATECP = 1, TA_RIGHT = 2, TA_CENTER = 6, TA_BOTTOM = 8, TA_BASELINE = 24;
constexpr std::uint32_t ETO_OPAQUE = 2, ETO_CLIPPED = 4;
constexpr int R2_BLACK = 1, R2_NOT = 6, R2_XORPEN = 7, R2_MASKPEN = 9, R2_NOP = 11, R2_COPYPEN = 13,
              R2_MERGEPEN = 15, R2_WHITE = 16;
constexpr int AD_COUNTERCLOCKWISE = 1, AD_CLOCKWISE = 2;
constexpr int RGN_AND = 1, RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4, RGN_COPY = 5;
} // namespace Gdi

/// A GDI colour reference (0x00BBGGRR) as a colour.
QColor ColorFromRef(std::uint32_t colorRef);

/// A logical pen. A width of 0, or a cosmetic pen, is one device pixel wide whatever the mapping.
struct MetafilePen {
    std::uint32_t style = Gdi::PS_SOLID; ///< style, end cap, join and type bits
    double width = 0;                    ///< logical units
    QColor colour = Qt::black;
    bool cosmetic = true;
    std::vector<double> dashes; ///< PS_USERSTYLE lengths
};

/// A logical brush: solid, hatched, pattern or none.
struct MetafileBrush {
    int style = Gdi::BS_SOLID;
    QColor colour = Qt::white;
    int hatch = 0;
    QImage pattern; ///< BS_PATTERN / BS_DIBPATTERN
};

/// A logical font (LOGFONT) as the metafile describes it.
struct MetafileFont {
    double height = 0; ///< logical units; negative: character height, positive: cell height
    double width = 0;  ///< average character width; 0: the font's own
    int escapement = 0; ///< tenths of a degree, counter-clockwise
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    int charSet = 0;
    QString face;
};

/// A region (16-bit metafiles' CREATEREGION) in logical units.
struct MetafileRegion {
    QRegion region;
};

/// A palette: kept only so that selecting it is not an error.
struct MetafilePalette {};

/// One entry of a metafile's object table.
using MetafileObject = std::variant<std::monostate, MetafilePen, MetafileBrush, MetafileFont, MetafileRegion, MetafilePalette>;

/// The stock object GDI gives for an index (WHITE_BRUSH .. DC_PEN); empty for unknown indexes.
MetafileObject StockObject(std::uint32_t index);

/// The attributes of a device context that SAVEDC saves and RESTOREDC restores.
struct MetafileDcState {
    MetafilePen pen;
    MetafileBrush brush;
    MetafileFont font;
    QColor textColour = Qt::black;
    QColor bkColour = Qt::white;
    int bkMode = Gdi::OPAQUE;
    int polyFillMode = Gdi::ALTERNATE;
    std::uint32_t textAlign = 0;
    int rop2 = Gdi::R2_COPYPEN;
    int arcDirection = Gdi::AD_COUNTERCLOCKWISE;
    int mapMode = Gdi::MM_TEXT;
    QPointF windowOrg{0, 0};
    QSizeF windowExt{1, 1};
    QPointF viewportOrg{0, 0};
    QSizeF viewportExt{1, 1};
    QTransform world;   ///< world transform (enhanced metafiles)
    QPointF position;   ///< current position, logical units
    std::optional<QRegion> clip; ///< device units; none: nothing clipped
};

/// The page transform (logical to device units) for the map mode, window and viewport.
/// devicePerMillimetre is the device's resolution, used by the metric and English map modes.
QTransform PageTransform(const MetafileDcState& dc, QSizeF devicePerMillimetre);

/// The Qt pen for a logical pen, for a logical-to-target transform with the given scale
/// (target pixels per logical unit). A geometric pen thinner than a target pixel is drawn one
/// pixel wide, as GDI draws it.
QPen ToQPen(const MetafilePen& pen, double scale);

/// The Qt brush for a logical brush (no brush for BS_NULL).
QBrush ToQBrush(const MetafileBrush& brush);
