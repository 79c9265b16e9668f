#include "commands/PointEditCommands.h"

#include "commands/CommandMessages.h"
#include "commands/CommandResult.h"
#include "document/CQuilletDoc.h"
#include "geo/FitCrsConversion.h"
#include "geo/MapCrs.h"
#include "geo/PointEntry.h"
#include "platform/DisplayText.h"
#include "platform/UiServices.h"

#include <cmath>

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

/// The projected system the map's transformation is fitted in, for typing a point's easting and
/// northing: a UTM choice becomes the zone its model or its points give. Nothing for a system of
/// latitude and longitude, or for UTM before there are points to choose the zone by.
std::optional<FitCrs> ProjectedFitCrs(const CQuilletDoc& doc)
{
    FitCrs crs = doc.Choice().m_FitCrs;
    if (crs.GetKind() == FitCrs::Kind::Geographic)
        return std::nullopt;
    if (crs.GetKind() == FitCrs::Kind::Utm) {
        std::vector<GeoPosition> positions;
        for (const CDataGeo& point : doc.ControlPoints())
            positions.push_back({point.LatitudeDegrees(), point.LongitudeDegrees()});
        if (doc.ChosenModel())
            crs = doc.ChosenModel()->Crs();
        else if (positions.empty())
            return std::nullopt;
        else
            crs = crs.Resolved(positions);
    }
    if (IsGeographicCrs(crs.Definition()).value_or(true))
        return std::nullopt;
    return crs;
}

/// Northing and easting typed in the fit's system, as latitude and longitude. Nothing, with the
/// message to show and the field to correct, for a field that is no number or a place the system
/// does not reach.
std::optional<ArcSeconds> ComposeProjected(const CoordinateEntry& entry, const FitCrsConversion& conversion,
                                           const QString& crsName, QString& message, int& field)
{
    const std::optional<double> northing = ReadCoordinateField(entry.m_strLatitude);
    const std::optional<double> easting = ReadCoordinateField(entry.m_strLongitude);
    if (!northing || !easting) {
        field = northing ? 1 : 0;
        EntryError error{field ? QStringLiteral("easting") : QStringLiteral("northing"),
                         field ? entry.m_strLongitude : entry.m_strLatitude, EntryError::Problem::NotANumber, field};
        message = EntryErrorText(error);
        return std::nullopt;
    }
    const std::optional<GeoPosition> position = conversion.ToWgs84(QPointF(*easting, *northing));
    if (!position || std::fabs(position->m_dLatitude) > 90.0) {
        field = 1;
        message = QStringLiteral("Easting %1 and northing %2 are no place in %3. Please type a place the system reaches.")
                      .arg(entry.m_strLongitude.trimmed(), entry.m_strLatitude.trimmed(), crsName);
        return std::nullopt;
    }
    return ArcSeconds{position->m_dLatitude * CDataGeo::kArcSecondsPerDegree,
                      std::remainder(position->m_dLongitude, 360.0) * CDataGeo::kArcSecondsPerDegree};
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
    // A coordinate whose fields come back as they were shown keeps its stored value exactly,
    // whatever the text makes of it: confirming a dialog unchanged changes nothing.
    const auto keepUnchanged = [&current](std::optional<ArcSeconds>& read, bool latitudeAsShown, bool longitudeAsShown) {
        if (read && current && latitudeAsShown)
            read->m_dLatitude = current->m_dLatitude;
        if (read && current && longitudeAsShown)
            read->m_dLongitude = current->m_dLongitude;
    };
    if (m_Doc.InputOption() == InputNotation::DecimalDegrees) {
        CoordinateEntry shown = current ? FormatDecimal(*current) : CoordinateEntry{};
        // A map fitted in a projected system takes easting and northing in it too, as read off
        // the map's own grid; they are kept as the latitude and longitude they stand for.
        const std::optional<FitCrs> projected = ProjectedFitCrs(m_Doc);
        const std::optional<FitCrsConversion> conversion =
            projected ? FitCrsConversion::Create(*projected) : std::nullopt;
        const QString crsName = projected ? DisplayText(projected->Text(), 40) : QString();
        if (conversion)
            shown.m_strProjectedCrs = crsName;
        CoordinateEntry entry = shown;
        while (Ui().RunDataInputDialog(entry) == IDOK) {
            if (entry.m_bProjected && conversion) {
                QString message;
                if ((typed = ComposeProjected(entry, *conversion, crsName, message, entry.m_nFocusField)))
                    break;
                Ui().MessageBox(message, InvalidCoordinatesCaption(), MB_OK | MB_ICONEXCLAMATION);
                continue;
            }
            if ((typed = ComposeDecimal(entry, &error))) {
                keepUnchanged(typed, entry.m_strLatitude == shown.m_strLatitude,
                              entry.m_strLongitude == shown.m_strLongitude);
                break;
            }
            // Nothing is stored until every field is a number; the dialog comes back as typed,
            // ready for the field to correct.
            entry.m_nFocusField = error.m_nField;
            Ui().MessageBox(EntryErrorText(error), InvalidCoordinatesCaption(), MB_OK | MB_ICONEXCLAMATION);
        }
    } else {
        const DegMinSecEntry shown = current ? FormatDegMinSec(*current) : DegMinSecEntry{};
        DegMinSecEntry entry = shown;
        while (Ui().RunDegMinSecDialog(entry) == IDOK) {
            if ((typed = ComposeDegMinSec(entry, &error))) {
                keepUnchanged(typed,
                              entry.m_strLatDeg == shown.m_strLatDeg && entry.m_strLatMin == shown.m_strLatMin &&
                                  entry.m_strLatSec == shown.m_strLatSec,
                              entry.m_strLonDeg == shown.m_strLonDeg && entry.m_strLonMin == shown.m_strLonMin &&
                                  entry.m_strLonSec == shown.m_strLonSec);
                break;
            }
            entry.m_nFocusField = error.m_nField;
            Ui().MessageBox(EntryErrorText(error), InvalidCoordinatesCaption(), MB_OK | MB_ICONEXCLAMATION);
        }
    }
    return typed;
}

void PointEditCommands::Commit(const QString& step, std::vector<CDataGeo> points)
{
    const GeoFitResult fit = m_Doc.EditPoints(step, std::move(points));
    if (fit.m_Message)
        ShowMessage(*fit.m_Message);
    // A transformation that needs more points says so without a box on every click.
    if (!fit.m_strRefusal.isEmpty())
        Ui().ShowStatus(fit.m_strRefusal);
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
    // Confirmed without a change: no edit, no fit, no step to undo.
    if (!typed || (typed->m_dLatitude == point.m_dLatitude && typed->m_dLongitude == point.m_dLongitude))
        return;
    std::vector<CDataGeo> points = m_Doc.ControlPoints();
    points[static_cast<size_t>(index)].m_dLatitude = typed->m_dLatitude;
    points[static_cast<size_t>(index)].m_dLongitude = typed->m_dLongitude;
    Commit(StepName("Edit Point", index), std::move(points));
}
