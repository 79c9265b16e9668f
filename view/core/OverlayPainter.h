#pragma once
// Painting overlay lines and points over a picture in picture pixels.

#include "geo/Overlay.h"

#include <QColor>

class QPainter;

/// Half the width of the cross a reference point is drawn as, in device pixels.
constexpr int kOverlayPointArm = 3;

/// Paints the drawing's lines and points (as small crosses) with the painter's transformation
/// from picture pixels, 1 device pixel wide and in exactly colour: not anti-aliased, so a
/// script finds the lines by their colour and a user sees them crisp at every zoom.
void PaintOverlay(QPainter& painter, const OverlayDrawing& drawing, const QColor& colour);
