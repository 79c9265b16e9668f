#pragma once
// The commands that change how the map is shown or read: Show points, Select unit, Input
// Options, Select images and the map's Transformation.

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
/// Transformation: asks which transformation the map is geo-coded with and in which coordinate
/// system it is fitted, then refits the points under that choice as one undoable step and says
/// what the fit says, as after a point edit. A coordinate system PROJ does not know is refused
/// with a message quoting it, and the dialog comes back with the text as typed. The dialog's
/// Find Projection goes on as OnFindProjection.
void OnTransformation(CQuilletDoc& doc);
/// Find Projection: searches the projection families for the one the map's points are drawn in,
/// off the window's thread, and lists the best few with their ground errors for the user to pick
/// from; the pick becomes the coordinate system the map is fitted in, with an affine
/// transformation, as one undoable step. When the points cannot tell the projection the search's
/// sentence is shown and nothing changes.
void OnFindProjection(CQuilletDoc& doc);
