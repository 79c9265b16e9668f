#pragma once
// Save As Bitmap: the view as last painted, written as a BMP file.

class CQuilletDoc;
class ViewState;

/// Captures the view as last painted, asks for a name (cut at its first '.' and given ".bmp")
/// and writes the picture there, then loads it back and saves it again through the picture
/// service. Does nothing without a map or a painted view, or when the dialog is cancelled; a
/// file that cannot be written is reported.
void OnSaveViewAsBitmap(const CQuilletDoc& doc, const ViewState& view);
