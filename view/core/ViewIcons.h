#pragma once
// The view's icons and tool cursors, 32 x 32, drawn in code: 130 zoom in, 131 zoom out,
// 132 set points, 134 the control-point marker, 135 delete point, 137 map not geo-coded,
// 138 map geo-coded.

#include <QColor>
#include <QImage>

constexpr int IDI_ZOOM_IN = 130;
constexpr int IDI_ZOOM_OUT = 131;
constexpr int IDI_SET_POINTS = 132;
constexpr int IDI_POINT_MARKER = 134;
constexpr int IDI_DELETE_POINT = 135;
constexpr int IDI_NOT_GEOCODED = 137;
constexpr int IDI_GEOCODED = 138;

/// The 32 x 32 icon with the given id (a blank one for unknown ids).
const QImage& ViewIcon(int id);
/// The colour of the control-point marker, which other drawings of a point share.
QColor MarkerColour();
