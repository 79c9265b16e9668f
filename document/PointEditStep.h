#pragma once

#include "document/CQuilletDoc.h"

#include <QUndoCommand>

/// One completed point edit on the document's undo stack: the points and the geo-coding before
/// and after it. Undo and redo put either back exactly as it was, without a new fit.
class PointEditStep : public QUndoCommand {
public:
    PointEditStep(CQuilletDoc& doc, const QString& text, PointsAndModel before, PointsAndModel after);

    void undo() override;
    /// The first redo is the push: the edit has been made already.
    void redo() override;

private:
    CQuilletDoc& m_Doc;
    PointsAndModel m_Before;
    PointsAndModel m_After;
    bool m_bPushed = false;
};
