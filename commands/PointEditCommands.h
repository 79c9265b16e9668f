#pragma once
// The control-point edits the map view's mouse asks for: adding a point with its typed
// coordinates, moving, deleting and re-editing one. Each completed edit refits the model and
// shows what the fit says; a cancelled dialog changes nothing.

#include "geo/CDataGeo.h"
#include "view/core/ViewActions.h"

#include <QString>

#include <optional>
#include <vector>

class CQuilletDoc;
struct ArcSeconds;

class PointEditCommands : public ViewActions {
public:
    explicit PointEditCommands(CQuilletDoc& doc) : m_Doc(doc) {}

    void Refuse(Refusal refusal) override;
    bool AddPoint(QPointF at) override;
    void MovePoint(int index, QPointF at) override;
    bool DeletePoint(int index) override;
    void EditPoint(int index) override;

private:
    /// Asks for a point's coordinates with the dialog of the input option, starting from current
    /// when given, until the fields read as numbers or the dialog is cancelled.
    std::optional<ArcSeconds> AskCoordinates(const std::optional<ArcSeconds>& current);
    /// The edited point set becomes the document's as one undoable step; the fit's message is
    /// shown.
    void Commit(const QString& step, std::vector<CDataGeo> points);

    CQuilletDoc& m_Doc;
};
