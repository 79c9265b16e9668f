#pragma once
// Printing the view: the last painted picture of the client area, scaled to the page with a
// margin of 10 units and a thin frame around it.

#include <QRect>
#include <QSize>

class ViewState;
class QPainter;

/// Where the captured picture of bw x bh pixels goes on a page of pw x ph units: scaled by the
/// smaller of the two page-to-picture ratios, 10 units from the top, centred across when the
/// page is relatively wider, and 20 units smaller than the page along the limiting axis.
QRect ComputePrintRectangle(QSize page, QSize bitmap);

/// Prints the view's picture of the last paint on a page of the given size: the picture
/// stretched into ComputePrintRectangle and the frame drawn around it with the painter's pen.
/// Nothing is printed while no map has been painted. Returns the rectangle used (empty if none).
QRect PrintView(QPainter& painter, const ViewState& view, QSize page);
