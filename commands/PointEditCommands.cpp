#include "commands/PointEditCommands.h"

#include "commands/CommandResult.h"
#include "document/CQuilletDoc.h"
#include "geo/PointEntry.h"
#include "platform/UiServices.h"

namespace {

const QString kInvalidPoint = QStringLiteral("Invalid Point");

/// "Move Point 3" for the point at index 2: points are numbered on the map from 1.
QString StepName(const char* edit, int index)
{
    return QStringLiteral("%1 %2").arg(QLatin1String(edit)).arg(index + 1);
}

bool IsPoint(const CQuilletDoc& doc, int index)
{
    return index >= 0 && index < static_cast<int>(doc.ControlPoints().size());
}

} // namespace

void PointEditCommands::Refuse(Refusal refusal)
{
    const QString text = refusal == Refusal::ZoomPointOutOfView ? QStringLiteral("The Point Is Out of View!")
                                                                : QStringLiteral("The 1st Point Is Out of View!");
    Ui().MessageBox(text, kInvalidPoint, MB_OK | MB_ICONSTOP);
}

std::optional<ArcSeconds> PointEditCommands::AskCoordinates(const std::optional<ArcSeconds>& current)
{
    EntryError error;
    std::optional<ArcSeconds> typed;
    if (m_Doc.InputOption() == 0) {
        CoordinateEntry entry = current ? FormatDecimal(*current) : CoordinateEntry{};
        while (Ui().RunDataInputDialog(entry) == IDOK) {
            if ((typed = ComposeDecimal(entry, &error)))
                break;
            // Nothing is stored until every field is a number; the dialog comes back as typed,
            // ready for the field to correct.
            entry.m_nFocusField = error.m_nField;
            Ui().MessageBox(EntryErrorText(error), QStringLiteral("Invalid Coordinates"), MB_OK | MB_ICONEXCLAMATION);
        }
    } else {
        DegMinSecEntry entry = current ? FormatDegMinSec(*current) : DegMinSecEntry{};
        while (Ui().RunDegMinSecDialog(entry) == IDOK) {
            if ((typed = ComposeDegMinSec(entry, &error)))
                break;
            entry.m_nFocusField = error.m_nField;
            Ui().MessageBox(EntryErrorText(error), QStringLiteral("Invalid Coordinates"), MB_OK | MB_ICONEXCLAMATION);
        }
    }
    return typed;
}

void PointEditCommands::Commit(const QString& step, std::vector<CDataGeo> points)
{
    const GeoFitResult fit = m_Doc.EditPoints(step, std::move(points));
    if (fit.m_Message)
        ShowMessage(*fit.m_Message);
}

bool PointEditCommands::AddPoint(QPointF at)
{
    const std::optional<ArcSeconds> typed = AskCoordinates(std::nullopt);
    if (!typed)
        return false;
    std::vector<CDataGeo> points = m_Doc.ControlPoints();
    points.push_back({typed->m_dLatitude, typed->m_dLongitude, at.x(), at.y()});
    const QString step = StepName("Add Point", static_cast<int>(points.size()) - 1);
    Commit(step, std::move(points));
    return true;
}

void PointEditCommands::MovePoint(int index, QPointF at)
{
    if (!IsPoint(m_Doc, index))
        return;
    std::vector<CDataGeo> points = m_Doc.ControlPoints();
    points[static_cast<size_t>(index)].m_dImageX = at.x();
    points[static_cast<size_t>(index)].m_dImageY = at.y();
    Commit(StepName("Move Point", index), std::move(points));
}

bool PointEditCommands::DeletePoint(int index)
{
    if (!IsPoint(m_Doc, index) ||
        Ui().MessageBox(QStringLiteral("Delete this point?"), QStringLiteral("Point Deletion"),
                        MB_YESNO | MB_ICONINFORMATION) != IDYES)
        return false;
    std::vector<CDataGeo> points = m_Doc.ControlPoints();
    points.erase(points.begin() + index);
    Commit(StepName("Delete Point", index), std::move(points));
    return true;
}

void PointEditCommands::EditPoint(int index)
{
    if (!IsPoint(m_Doc, index))
        return;
    const CDataGeo& point = m_Doc.ControlPoints()[static_cast<size_t>(index)];
    const std::optional<ArcSeconds> typed = AskCoordinates(ArcSeconds{point.m_dLatitude, point.m_dLongitude});
    if (!typed)
        return;
    std::vector<CDataGeo> points = m_Doc.ControlPoints();
    points[static_cast<size_t>(index)].m_dLatitude = typed->m_dLatitude;
    points[static_cast<size_t>(index)].m_dLongitude = typed->m_dLongitude;
    Commit(StepName("Edit Point", index), std::move(points));
}
