#pragma once

#include "view/core/ViewState.h"

/// The tests' way into the map view's own state: the rubber-band corners, scroll positions and
/// display copy that no single user action sets to a chosen value.
struct ViewStateProbe {
    static QPoint& RangeStart(ViewState& view) { return view.m_ptRangeStart; }
    static QPoint& RangeEnd(ViewState& view) { return view.m_ptRangeEnd; }
    static bool& RangeDragging(ViewState& view) { return view.m_bRangeDragging; }
    /// The output range's fractions: left, right, top, bottom.
    static void SetRangeFractions(ViewState& view, double left, double right, double top, double bottom)
    {
        view.m_dRangeLeft = left;
        view.m_dRangeRight = right;
        view.m_dRangeTop = top;
        view.m_dRangeBottom = bottom;
    }
    static QPoint& MeasureStart(ViewState& view) { return view.m_ptMeasureStart; }
    static QPoint& MeasureEnd(ViewState& view) { return view.m_ptMeasureEnd; }
    static bool& Measuring(ViewState& view) { return view.m_bMeasuring; }
    static QPoint& MoveAt(ViewState& view) { return view.m_ptMoveAt; }
    static int& SelectedPoint(ViewState& view) { return view.m_nSelectedPoint; }
    static int& VScrollPos(ViewState& view) { return view.m_nVScrollPos; }
    static Tool& ActiveTool(ViewState& view) { return view.m_Tool; }
    static DIBSection& DisplayCopy(ViewState& view) { return view.m_DisplayDib; }
};
