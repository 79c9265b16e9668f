#pragma once
// Painting overlay lines and points over a picture in picture pixels.

#include "geo/Overlay.h"

#include <QColor>
#include <QImage>
#include <QString>

#include <array>
#include <vector>

class CQuilletDoc;
class QPainter;
class ViewState;

/// Half the width of the cross a reference point is drawn as, in device pixels.
constexpr int kOverlayPointArm = 3;

/// Paints the drawing's lines and points (as small crosses) with the painter's transformation
/// from picture pixels, 1 device pixel wide and in exactly colour: not anti-aliased, so a
/// script finds the lines by their colour and a user sees them crisp at every zoom.
void PaintOverlay(QPainter& painter, const OverlayDrawing& drawing, const QColor& colour);

/// A layer of lines over the map in the view: its drawing in picture pixels and its colour, and
/// for a graticule the label of each run of m_Drawing.m_Lines (a meridian's at the top and bottom
/// edges of the visible map, a parallel's at the left and right).
struct MapOverlayLayer {
    OverlayDrawing m_Drawing;
    QColor m_Colour;
    struct RunLabel {
        QString m_strText;
        bool m_bMeridian = true;
    };
    std::vector<RunLabel> m_Labels; ///< empty, or one per run
};

/// The graticule of a geo-coded map as a view layer, every interval degrees (0 for automatic).
MapOverlayLayer GraticuleLayer(const GeoCoding& coding, int width, int height, double interval, const QColor& colour);

/// Paints the layers over the view of a client of cw x ch pixels as PaintView placed the map.
void PaintMapOverlays(QPainter& painter, const CQuilletDoc& doc, const ViewState& view, int cw, int ch,
                      const std::vector<MapOverlayLayer>& layers);

/// A map drawn onto a north-up grid of another system: the image, transparent where the map does
/// not reach, and its geotransform (origin x, pixel width, 0, origin y, 0, -pixel height).
struct MapOnGrid {
    QImage m_Image;
    std::array<double, 6> m_GeoTransform {};
};

/// The picture of a map geo-coded by coding (which counts mapWidth x mapHeight pixels; the
/// picture may be another size) resampled onto square cells over extent (xmin, ymin, xmax, ymax
/// in system's units), side cells along its longer side. The map pixel of every eighth grid node
/// goes through PROJ and the geo-coding; those between are interpolated, as GDAL's approximate
/// transformer does.
MapOnGrid ResampleMapOnGrid(const QImage& picture, int mapWidth, int mapHeight, const GeoCoding& coding,
                            const FitCrsConversion& system, const std::array<double, 4>& extent, int side);
