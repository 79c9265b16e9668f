#pragma once
// Output A Geo-Map: the current map and its geo-coding written as one projection file (GPF, DPF
// or CPF), either whole or the range dragged with the output-range tool.

#include "commands/CommandResult.h"
#include "formats/FileKinds.h"
#include "geo/GeoModel.h"
#include "platform/Progress.h"
#include "view/core/ViewState.h"

#include <QString>

#include <optional>

class CQuilletDoc;

/// The range to write when the view's range tool is on; nothing (the whole map) otherwise.
std::optional<OutputRange> OutputRangeOf(const ViewState* view);

/// The size in pixels of the cut-out of range: the range measured in steps of W - 1 and H - 1
/// pixels, truncated. Refuses a range that was never dragged or is under one pixel.
std::optional<UiMessage> RangeSize(const CQuilletDoc& doc, const OutputRange& range, int& w, int& h);

/// The command: with a map loaded asks for the file, remembers the chosen flavour, gives the
/// name the flavour's extension (cut at the first '.' of the file name) and writes the file with
/// OutputProjectionFile. Does nothing without a map or on Cancel.
void OnOutputGeoMap(CQuilletDoc& doc, const ViewState* view);

/// Writes the projection file of the document's last chosen flavour to path for the view's range
/// (see WriteProjectionOutput) and shows what went wrong. True when the file was written.
bool OutputProjectionFile(CQuilletDoc& doc, const ViewState* view, const QString& path);

/// Writes the projection file of flavour to path: the whole map, or only range as a BMP of the
/// cut-out with the column and row offsets of the written coefficients moved to address it.
/// For a TIFF map the current image is written, as a BMP; with a GeoTIFF frame the coefficients
/// are derived from the frame, and the document keeps them once the file is written.
///
/// Refused with a message and nothing written (an existing file of that name stays as it was):
/// a map that is not geo-coded, a range that was never dragged, lies outside the map or is under
/// one pixel, a map with no picture to write, an output that needs more memory than is available
/// (checked up front; running out later is caught too, and the document stays as it was), and a
/// file that cannot be written (the message adds the system's reason). The file is replaced only
/// once it is complete. The temporary BMP made beside it never replaces a file of the user's, is
/// deleted in every case, and one left behind by a killed run is taken over.
///
/// Reports to progress as it goes; cancelled through it, writes nothing (the temporary BMP is
/// gone too) and changes nothing.
CommandResult WriteProjectionOutput(CQuilletDoc& doc, const std::optional<OutputRange>& range, OutputFlavour flavour,
                                    const QString& path, const Progress& progress = {});

/// The writing of WriteProjectionOutput without touching the document, so that it may run while
/// the window goes on painting: the coefficients a GeoTIFF frame gives, which the document is to
/// keep once the file is written, go to frameModel.
CommandResult WriteProjectionFile(const CQuilletDoc& doc, const std::optional<OutputRange>& range,
                                  OutputFlavour flavour, const QString& path, const Progress& progress,
                                  std::optional<GeoModel>& frameModel);
