#pragma once
// What one run of the geo-coding fit decided: the outcome, the document's flag and model after
// the run, the accuracy figures and the message box the user is to see.

#include "geo/GeoCoding.h"
#include "platform/UiMessage.h"

#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <vector>

/// How a run of the geo-coding fit ended.
enum class GeoFitOutcome {
    Accepted,     ///< the model fits within 1.25 thresholds; it is stored and the map is geo-coded
    Rejected,     ///< some residual is too large; the model is kept but flagged as not geo-coded
    TooFewPoints, ///< fewer than six control points; not geo-coded, nothing shown
    Degenerate,   ///< the points do not determine an invertible model; nothing changes, nothing shown
};

/// Everything a run of the fit produced. The flag and the sixteen coefficients are the values the
/// document holds after the run, whatever the outcome.
struct GeoFitResult {
    GeoFitOutcome m_Outcome = GeoFitOutcome::TooFewPoints;
    BOOL m_bGeoCoded = 0;                 ///< the document's geo-coded flag after the run
    std::array<double, 16> m_dGeoCoef{};  ///< the document's model after the run (per degree, pixels)
    /// The model this run fitted, whether it was accepted or rejected (its six working numbers;
    /// the other slots zero). Nothing when the run ended before a model (too few points,
    /// degenerate set).
    std::optional<std::array<double, 16>> m_FittedModel;
    /// Residual of each control point in arc-seconds, in entry order: the larger of the latitude and
    /// longitude differences between the entered coordinates and the back-projected pixel position.
    /// Empty when the run ended before residuals were computed (too few points, degenerate set).
    std::vector<double> m_dResiduals;
    std::optional<double> m_dThreshold;   ///< threshold in arc-seconds, when residuals were computed
    std::optional<double> m_dAccuracy;    ///< largest residual in arc-seconds, when residuals were computed
    /// The list of points above the threshold with the threshold line, as the rejection box shows
    /// it. It is assembled whenever residuals were computed, also when the fit is accepted.
    QString m_strReport;
    std::optional<UiMessage> m_Message; ///< the one message box to show, if any
    /// Why no model was fitted, for a transformation other than the default affine one: too few
    /// points for it (saying how many it needs), points on one line or on the same place. The
    /// window shows it in the point table's summary, a command line says it.
    QString m_strRefusal;
    /// The accepted model of a map geo-coded otherwise than affinely in latitude and longitude;
    /// its coefficients above are then the affine relation closest to it over the picture.
    std::shared_ptr<const GeoCoding> m_GeoCoding;
};
