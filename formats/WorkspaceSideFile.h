#pragma once
// The workspace's side file: what of the work the workspace's fixed layout cannot hold. Its
// sixteen coefficients keep the closest affine relation to latitude and longitude, so how the map
// is geo-coded when that is not the default lives beside it, in "NAME.pws.geocoding", with the
// reference maps shown beside the map. UTF-8 text, one "key=value" per line, lines starting with
// '#' and blank lines ignored.
//
//     # Varnel geo-coding of map.pws
//     transform=poly2
//     fit_crs=EPSG:5070
//     reference=reference/county.tif
//     reference=/data/roads.gpkg
//
// transform is affine, helmert, projective, poly2, poly3 or tps; fit_crs is geographic, utm or any
// coordinate system PROJ knows (an EPSG code, a PROJ string, WKT on one line). reference repeats,
// one line per reference map in the pane's order (its raster first, then its vector layers): a
// path relative to the workspace's folder when the reference lies in or below it, so that a
// folder moved whole keeps its references, else absolute. A missing key keeps its default
// (affine, geographic, no reference maps); an unknown key is refused, so that a newer Varnel's
// work is never half-read. A workspace with the default choice and no reference maps has no side
// file.

#include "geo/GeoCodingChoice.h"
#include "platform/Parsed.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

/// What the side file keeps of a workspace.
struct WorkspaceSideFile {
    GeoCodingChoice m_Choice;
    /// The reference maps, as absolute paths (a file that has gone is kept all the same).
    QStringList m_References;

    /// Nothing to keep: the workspace needs no side file.
    bool IsDefault() const { return m_Choice.IsDefault() && m_References.isEmpty(); }
};

/// The side file of the workspace at workspacePath.
QString WorkspaceSideFilePath(const QString& workspacePath);
/// The side file's text for the workspace at workspacePath (named in its comment; references in
/// or below its folder written relative to it).
QByteArray WorkspaceSideFileText(const WorkspaceSideFile& side, const QString& workspacePath);
/// What the text of the side file of the workspace at workspacePath holds (references made
/// absolute again), or why it holds nothing Varnel can take.
Parsed<WorkspaceSideFile> ParseWorkspaceSideFile(const QByteArray& text, const QString& workspacePath);
/// What is kept beside the workspace: the default when there is no side file; refused with a
/// reason when the side file cannot be read or holds nothing valid.
Parsed<WorkspaceSideFile> ReadWorkspaceSideFile(const QString& workspacePath);
/// Keeps side beside the workspace: writes the side file or, when there is nothing to keep,
/// removes one left from earlier work. False, with why in errorText, when that fails.
bool WriteWorkspaceSideFile(const QString& workspacePath, const WorkspaceSideFile& side, QString* errorText = nullptr);
