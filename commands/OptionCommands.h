#pragma once
// The commands that change how the map is shown or read: Show points, Select unit, Input
// Options and Select images.

class CQuilletDoc;

/// Show points: with a map loaded toggles whether the control points are drawn.
void OnShowPoints(CQuilletDoc& doc);
/// Select unit: asks for feet or metres for distances.
void OnSelectUnit(CQuilletDoc& doc);
/// Input Options: asks whether coordinates are typed in decimal degrees or in degrees, minutes
/// and seconds.
void OnInputOptions(CQuilletDoc& doc);
/// Select images: with two or more TIFF images asks which one to show; the map's size, frame
/// and model stay those of image 0, the chosen image being stretched into the same place.
void OnSelectImages(CQuilletDoc& doc);
