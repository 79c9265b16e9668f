#pragma once
// The coordinate systems of the map view and the mappings between them.
//
// Client pixels: x to the right, y downward, cw x ch of them. Frame units: those of the map
// frame, x to the right, y upward (the unit square of a picture map, or degrees for a GeoTIFF
// frame). The displayed frame: the map widened, centred, to the client's proportions. Window
// units: fractions of the displayed frame; the view window (left, bottom, right, top) is the part
// of the displayed frame shown in the client area, (0, 0, 1, 1) being the whole frame.

#include <QPointF>

class CQuilletDoc;
class ViewState;

/// The part of the frame the client area shows, in frame units: left X0, bottom Y0, width WW,
/// height HH.
struct VisibleFrame {
    double X0 = 0.0;
    double Y0 = 0.0;
    double WW = 1.0;
    double HH = 1.0;
};

/// The map rectangle in client pixels, each edge truncated toward zero; it may reach beyond the
/// client area on any side.
struct PictureRect {
    int xL = 0;
    int xR = 0;
    int yB = 0;
    int yT = 0;
};

/// A client coordinate computed in doubles, truncated toward zero as an int. Frames, windows and
/// points come from files: a value beyond +-2^30 pixels is held there (with room left for the
/// small offsets drawing adds) and NaN counts as 0, so that no conversion leaves the int range.
int ToClientInt(double value);

/// The visible frame from the view's displayed frame and window.
VisibleFrame ComputeVisibleFrame(const CQuilletDoc& doc, const ViewState& view);

/// Frame units to client pixels (not truncated).
QPointF FrameToClient(const VisibleFrame& frame, int cw, int ch, double fx, double fy);
/// Client pixels to frame units.
QPointF ClientToFrame(const VisibleFrame& frame, int cw, int ch, double x, double y);

/// Where the map lies in the client area.
PictureRect ComputePictureRect(const CQuilletDoc& doc, const VisibleFrame& frame, int cw, int ch);

/// Recomputes the view's displayed frame for a client of cw x ch pixels: the map rectangle
/// widened along one axis, centred, to the client's proportions. Leaves the frame alone while
/// the map has no size.
void UpdateFrame(const CQuilletDoc& doc, ViewState& view, int cw, int ch);
