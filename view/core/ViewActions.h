#pragma once
// What the map view's mouse logic hands on to the layer that talks to the user and edits the
// document: the view decides where a click lands and which point it picks; the edit itself, its
// dialogs and its messages belong to the commands.

#include <QPointF>

class ViewActions {
public:
    virtual ~ViewActions() = default;

    /// Clicks the view refuses because they fall outside its client area.
    enum class Refusal {
        ZoomPointOutOfView,    ///< a zoom click
        MeasureStartOutOfView, ///< the first point of a measurement
    };
    virtual void Refuse(Refusal refusal) = 0;

    /// Set points clicked at frame position at: ask for the point's coordinates and, when they
    /// are given, add it and refit. The view shows the new point's marker meanwhile. True when
    /// the point was added.
    virtual bool AddPoint(QPointF at) = 0;
    /// A point dragged with Move Points was released at frame position at.
    virtual void MovePoint(int index, QPointF at) = 0;
    /// Delete Point clicked on a point: confirm, then delete and refit. True when it was deleted.
    virtual bool DeletePoint(int index) = 0;
    /// A point double-clicked: edit its coordinates and refit.
    virtual void EditPoint(int index) = 0;
};
