#include "commands/OptionCommands.h"

#include "commands/CommandResult.h"
#include "document/CQuilletDoc.h"
#include "geo/GeoFit.h"
#include "geo/ProjectionSearch.h"
#include "platform/UiServices.h"

#include <algorithm>
#include <optional>

namespace {

constexpr double kMetresPerFoot = 0.3048;
constexpr int kUnitFeet = 0;
constexpr int kUnitMeter = 1;
constexpr int kCrsGeographic = 0;
constexpr int kCrsUtm = 1;
constexpr int kCrsTyped = 2;
constexpr int kTransformCount = static_cast<int>(TransformKind::Tps) + 1;

/// The dialog's fields for a choice.
TransformationEntry EntryOf(const GeoCodingChoice& choice)
{
    TransformationEntry entry;
    entry.m_nTransform = static_cast<int>(choice.m_eTransform);
    switch (choice.m_FitCrs.GetKind()) {
    case FitCrs::Kind::Geographic:
        entry.m_nCrsKind = kCrsGeographic;
        break;
    case FitCrs::Kind::Utm:
        entry.m_nCrsKind = kCrsUtm;
        break;
    case FitCrs::Kind::Defined:
        entry.m_nCrsKind = kCrsTyped;
        entry.m_strCrs = choice.m_FitCrs.Text();
        break;
    case FitCrs::Kind::Auto:
        // Typed as the settings file keeps it, so that OK keeps the search.
        entry.m_nCrsKind = kCrsTyped;
        entry.m_strCrs = choice.m_FitCrs.Text();
        break;
    }
    return entry;
}

/// The choice the dialog's fields make, or nothing with why in refusal.
std::optional<GeoCodingChoice> ChoiceOf(const TransformationEntry& entry, QString& refusal)
{
    GeoCodingChoice choice;
    choice.m_eTransform = static_cast<TransformKind>(std::clamp(entry.m_nTransform, 0, kTransformCount - 1));
    if (entry.m_nCrsKind == kCrsUtm) {
        choice.m_FitCrs = *FitCrs::Parse(QStringLiteral("utm"));
    } else if (entry.m_nCrsKind == kCrsTyped) {
        const std::optional<FitCrs> crs = FitCrs::Parse(entry.m_strCrs.trimmed(), &refusal);
        if (!crs)
            return std::nullopt;
        choice.m_FitCrs = *crs;
    }
    return choice;
}

/// Fits the map with the choice, as the dialog's OK does, and says how it went.
void ApplyChoice(CQuilletDoc& doc, const GeoCodingChoice& chosen)
{
    CWaitCursor wait;
    const GeoFitResult fit = doc.EditChoice(QStringLiteral("Transformation"), chosen);
    if (fit.m_Message)
        ShowMessage(*fit.m_Message);
    // Too few points for the transformation is a state to work on, not a mistake: the status bar
    // and the point table say it, and the next points complete the fit.
    if (!fit.m_strRefusal.isEmpty())
        Ui().ShowStatus(fit.m_strRefusal);
}

} // namespace

void OnShowPoints(CQuilletDoc& doc)
{
    if (doc.IsMapLoaded())
        doc.SetShowPoints(!doc.ShowPoints());
}

void OnSelectUnit(CQuilletDoc& doc)
{
    ComboChoice choice;
    choice.m_nSelection = doc.UnitFactor() > 0.5 ? kUnitMeter : kUnitFeet;
    if (Ui().RunSelectUnitDialog(choice) != IDOK)
        return;
    // Nothing is repainted: the next read-out uses the new factor.
    doc.SetUnitFactor(choice.m_nSelection == kUnitFeet ? kMetresPerFoot : 1.0);
}

void OnInputOptions(CQuilletDoc& doc)
{
    ComboChoice choice;
    choice.m_nSelection = static_cast<int>(doc.InputOption());
    if (Ui().RunInputOptionsDialog(choice) == IDOK)
        doc.SetInputOption(static_cast<InputNotation>(choice.m_nSelection));
}

void OnSelectImages(CQuilletDoc& doc)
{
    if (doc.Images().size() < 2)
        return;
    ImageChoice choice;
    choice.m_nSelection = doc.CurrentImage();
    choice.m_nImageCount = static_cast<int>(doc.Images().size());
    if (Ui().RunSelectImageDialog(choice) != IDOK || choice.m_nSelection == doc.CurrentImage())
        return;
    CWaitCursor wait;
    doc.SelectImage(choice.m_nSelection);
}

void OnTransformation(CQuilletDoc& doc)
{
    if (!doc.IsMapLoaded())
        return;
    TransformationEntry entry = EntryOf(doc.Choice());
    std::optional<GeoCodingChoice> chosen;
    while (Ui().RunTransformationDialog(entry) == IDOK) {
        if (entry.m_bFindProjection) {
            OnFindProjection(doc);
            return;
        }
        QString refusal;
        if ((chosen = ChoiceOf(entry, refusal)))
            break;
        Ui().MessageBox(refusal, QStringLiteral("Invalid Coordinate System"), MB_OK | MB_ICONEXCLAMATION);
    }
    if (chosen && *chosen != doc.Choice())
        ApplyChoice(doc, *chosen);
}

void OnFindProjection(CQuilletDoc& doc)
{
    if (!doc.IsMapLoaded())
        return;
    constexpr std::size_t kCandidates = 5;
    const std::vector<GeoControlPoint> points =
        GeoControlPoints(doc.ControlPoints(), doc.ImageWidth(), doc.ImageHeight());
    // The search runs on its own PROJ context and reads only this copy of the points, so the
    // window may repaint meanwhile.
    ProjectionSearchResult search;
    if (!Ui().RunLongWork(QStringLiteral("Finding the projection"),
                          [&](Progress) { search = SearchProjection(points, kCandidates); }))
        return;
    if (search.m_Candidates.empty()) {
        Ui().MessageBox(search.m_strRefusal, QStringLiteral("Find Projection"), MB_OK | MB_ICONINFORMATION);
        return;
    }
    ProjectionPick pick;
    for (const ProjectionCandidate& candidate : search.m_Candidates)
        pick.m_Rows.push_back({candidate.m_strCrs, candidate.m_dRmsMetres, candidate.m_dLooRmsMetres});
    pick.m_strNote = search.m_strNote;
    if (Ui().RunProjectionDialog(pick) != IDOK)
        return;
    const int row = std::clamp(pick.m_nSelection, 0, static_cast<int>(pick.m_Rows.size()) - 1);
    GeoCodingChoice chosen;
    chosen.m_eTransform = TransformKind::Affine; // in the map's own projection an affine relation holds
    QString refusal;
    const std::optional<FitCrs> crs = FitCrs::Parse(pick.m_Rows[static_cast<std::size_t>(row)].m_strCrs, &refusal);
    if (!crs) {
        Ui().MessageBox(refusal, QStringLiteral("Invalid Coordinate System"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    chosen.m_FitCrs = *crs;
    if (chosen != doc.Choice())
        ApplyChoice(doc, chosen);
}
