#pragma once
// Painting the map view: the visible part of the map, the control-point markers with their
// numbers, the output range and the status icon; and the moving feedback of the mouse tools.

#include <QRect>

class CQuilletDoc;
class QPainter;
class ViewState;

/// Where the map was drawn: the destination rectangle in client pixels and the parts of the map
/// it shows, L and R from the map's left edge, B and T from its bottom edge.
struct MapPlacement {
    QRect m_Destination;
    double L = 0.0;
    double R = 1.0;
    double B = 0.0;
    double T = 1.0;
};

/// Paints the view of a client of cw x ch pixels (the background must already be erased).
/// Recomputes the displayed frame. Without a map nothing is drawn and nothing is returned. When
/// the picture cannot be drawn, the map's picture says why (CPicture::LastError).
bool PaintView(QPainter& painter, const CQuilletDoc& doc, ViewState& view, int cw, int ch,
               MapPlacement* placement = nullptr);

/// The clipped destination rectangle and source fractions for the picture rectangle of the
/// current view window.
MapPlacement ComputeMapPlacement(const CQuilletDoc& doc, const ViewState& view, int cw, int ch);

/// Draws the feedback of a drag in progress over the painted view: the range rectangle, the
/// measuring line and the marker of a point being moved.
void PaintFeedback(QPainter& painter, const ViewState& view);

/// Draws the four segments of a dashed rectangle spanned by two corners.
void PaintRangeRectangle(QPainter& painter, QPoint a, QPoint b);
