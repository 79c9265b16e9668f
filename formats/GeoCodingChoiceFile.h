#pragma once
// The geo-coding side file: how a workspace's map is geo-coded when that is not the default
// affine relation to latitude and longitude. The workspace's layout is fixed and its sixteen
// coefficients keep the closest affine relation, so the choice lives beside it, in
// "NAME.pws.geocoding": UTF-8 text, one "key=value" per line, lines starting with '#' and blank
// lines ignored.
//
//     # Varnel geo-coding of map.pws
//     transform=poly2
//     fit_crs=EPSG:5070
//
// transform is affine, helmert, projective, poly2, poly3 or tps; fit_crs is geographic, utm or any
// coordinate system PROJ knows (an EPSG code, a PROJ string, WKT on one line). A missing key
// keeps its default (affine, geographic); an unknown key is refused, so that a newer Varnel's
// choice is never half-read. A workspace with the default choice has no side file.

#include "geo/GeoCodingChoice.h"
#include "platform/Parsed.h"

#include <QByteArray>
#include <QString>

/// The side file of the workspace at workspacePath.
QString GeoCodingChoicePath(const QString& workspacePath);
/// The side file's text for the choice (workspaceName names the workspace in its comment).
QByteArray GeoCodingChoiceText(const GeoCodingChoice& choice, const QString& workspaceName);
/// The choice the text holds, or why it holds none.
Parsed<GeoCodingChoice> ParseGeoCodingChoice(const QByteArray& text);
/// The choice kept beside the workspace: the default when there is no side file; refused with a
/// reason when the side file cannot be read or holds no valid choice.
Parsed<GeoCodingChoice> ReadGeoCodingChoice(const QString& workspacePath);
/// Keeps the choice beside the workspace: writes the side file, or for the default choice removes
/// a side file left from an earlier choice. False, with why in errorText, when that fails.
bool WriteGeoCodingChoice(const QString& workspacePath, const GeoCodingChoice& choice, QString* errorText = nullptr);
