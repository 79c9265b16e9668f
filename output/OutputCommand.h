#pragma once
// Output A Geo-Map: the current map and its geo-coding written as one projection file (GPF, DPF
// or CPF), either whole or the range dragged with the output-range tool.

#include <QString>

class CQuilletDoc;

/// The file-dialog filter of the command; the entry chosen (1 GPF, 2 DPF, 3 CPF) is the flavour.
inline constexpr const char* kOutputFilter = "GPF (*.gpf)|*.gpf|DPF (*.dpf)|*.dpf|CPF (*.cpf)|*.cpf|";

/// The command: with a map loaded asks for the file, stores the chosen flavour in
/// m_nOutputFormat, gives the name the flavour's extension (cut at the first '.' of the file
/// name) and writes the file with OutputProjectionFile. Does nothing without a map or on Cancel.
void OnOutputGeoMap(CQuilletDoc& doc);

/// Writes the projection file of flavour doc.m_nOutputFormat (1 GPF, 2 DPF, 3 CPF) to path.
///
/// The view is doc.m_pActiveView (none: the whole map, no GeoTIFF frame). With its range tool on
/// only the dragged range is written, as a BMP of the cut-out, with the column and row offsets of
/// the written coefficients moved to address it; the document keeps its own coefficients and
/// picture. For a TIFF map the current image becomes the document's picture (a BMP), and with
/// a GeoTIFF frame the coefficients are derived from the frame and kept in the document too.
///
/// Refused with a message and nothing written (an existing file of that name stays as it was):
/// a map that is not geo-coded, a range tool without a dragged range or with a range under one
/// pixel, a map with no picture to write, and a file that cannot be written. The file is
/// replaced only once it is complete. The temporary BMP made beside it never replaces an existing
/// file and is deleted in every case. True when the projection file was written.
bool OutputProjectionFile(CQuilletDoc& doc, const QString& path);
