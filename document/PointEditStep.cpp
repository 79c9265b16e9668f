#include "document/PointEditStep.h"

PointEditStep::PointEditStep(CQuilletDoc& doc, const QString& text, PointsAndModel before, PointsAndModel after)
    : QUndoCommand(text), m_Doc(doc), m_Before(std::move(before)), m_After(std::move(after))
{
}

void PointEditStep::undo()
{
    m_Doc.RestorePoints(m_Before);
}

void PointEditStep::redo()
{
    if (m_bPushed)
        m_Doc.RestorePoints(m_After);
    m_bPushed = true;
}
