#include "app/CommandTable.h"

#include "app/CMainFrame.h"
#include "app/CQuilletApp.h"
#include "commands/BitmapCommand.h"
#include "commands/ExportCommands.h"
#include "commands/FileCommands.h"
#include "commands/OptionCommands.h"
#include "commands/OutputCommand.h"
#include "commands/RectifyCommand.h"
#include "document/CQuilletDoc.h"
#include "resources/Resource.h"
#include "app/ReferencePane.h"
#include "view/core/ViewState.h"
#include "view/widgets/CQuilletView.h"

#include <QStatusBar>
#include <QToolBar>

namespace {

ViewState& State(CMainFrame& frame)
{
    return frame.GetActiveView()->State();
}

const ViewState& State(const CMainFrame& frame)
{
    return frame.GetActiveView()->State();
}

/// Runs a tool command of the view; each also sets the cursor of the tool it leaves on.
template <void (ViewState::*Command)(const CQuilletDoc&)>
void RunTool(CMainFrame& frame)
{
    (State(frame).*Command)(frame.Document());
    frame.GetActiveView()->UpdateCursor();
}

template <void (ViewState::*Command)(const CQuilletDoc&, ViewHost&)>
void HostTool(CMainFrame& frame)
{
    (State(frame).*Command)(frame.Document(), *frame.GetActiveView());
    frame.GetActiveView()->UpdateCursor();
}

void SelectRange(CMainFrame& frame)
{
    State(frame).OnSelectRange(*frame.GetActiveView());
    frame.GetActiveView()->UpdateCursor();
}

/// A check mark that shows whether a tool of the view is on.
template <Tool T>
std::optional<bool> ToolCheck(const CMainFrame& frame)
{
    return State(frame).ActiveTool() == T;
}

std::optional<bool> ResidualsCheck(const CMainFrame& frame)
{
    return State(frame).ShowsResiduals();
}

std::optional<bool> DeletePointCheck(const CMainFrame& frame)
{
    // With no points the check mark keeps whatever it showed.
    if (frame.Document().ControlPoints().empty())
        return std::nullopt;
    return State(frame).ActiveTool() == Tool::DeletePoint;
}

std::optional<bool> ShowPointsCheck(const CMainFrame& frame)
{
    return frame.Document().ShowPoints();
}

std::optional<bool> ToolbarCheck(const CMainFrame& frame)
{
    return frame.ToolBar() && !frame.ToolBar()->isHidden();
}

std::optional<bool> StatusBarCheck(const CMainFrame& frame)
{
    return !frame.statusBar()->isHidden();
}

QString UndoText(const CMainFrame& frame)
{
    return QStringLiteral("&Undo %1").arg(frame.Document().UndoStack().undoText()).trimmed();
}

QString RedoText(const CMainFrame& frame)
{
    return QStringLiteral("&Redo %1").arg(frame.Document().UndoStack().redoText()).trimmed();
}

/// A check of the reference pane's: graticule, lines on the map, map on the reference.
template <bool (ReferencePane::*Shows)() const>
std::optional<bool> PaneCheck(const CMainFrame& frame)
{
    return (frame.References()->*Shows)();
}

template <bool (ReferencePane::*Shows)() const, void (ReferencePane::*Set)(bool)>
void TogglePane(CMainFrame& frame)
{
    ReferencePane& pane = *frame.References();
    (pane.*Set)(!(pane.*Shows)());
}

void ToggleResiduals(CMainFrame& frame)
{
    State(frame).ToggleResiduals();
    frame.GetActiveView()->Invalidate();
}

constexpr Availability kMap = Availability::MapLoaded;
constexpr Availability kGeo = Availability::GeoCoded;
constexpr Availability kAlways = Availability::Always;

} // namespace

const std::vector<CommandRow>& CommandTable()
{
    static const std::vector<CommandRow> rows = {
        {ID_FILE_NEW, "&New\tCtrl+N", "Input a map\nNew", true,
         [](CMainFrame& f) { OnFileNew(f.Document(), &State(f)); }},
        {ID_FILE_OPEN, "&Open...\tCtrl+O", "Open an existing workspace\nOpen", true,
         [](CMainFrame& f) { OnFileOpen(f.Document(), &State(f)); }},
        {ID_FILE_SAVE, "&Save\tCtrl+S", "Save the active workspace\nSave", true,
         [](CMainFrame& f) { OnFileSave(f.Document(), &State(f)); }},
        {ID_FILE_SAVE_AS, "Save &As...", "Save the active workspace with a new name\nSave As", false,
         [](CMainFrame& f) { OnFileSaveAs(f.Document(), &State(f)); }},
        {ID_OUTPUT_GEO_MAP, "Output A Geo-Map...", "Output a geo-coded map", false,
         [](CMainFrame& f) { OnOutputGeoMap(f.Document(), &State(f)); }},
        {ID_SAVE_VIEW_AS_BITMAP, "Save As Bitmap...", "Save the current view as a bitmap", false,
         [](CMainFrame& f) { OnSaveViewAsBitmap(f.Document(), State(f)); }, nullptr, kMap},
        {ID_EXPORT_GEOREFERENCED, "&Export Georeferenced...",
         "Write the geo-coded map or its control points in a form GIS tools read\nExport Georeferenced", false,
         [](CMainFrame& f) { OnExportGeoreferenced(f.Document(), &State(f)); }, nullptr, kGeo},
        {ID_EXPORT_RECTIFIED, "Export Rec&tified...",
         "Write the geo-coded map resampled north up into a GeoTIFF in a coordinate system of your choice\nExport Rectified",
         false, [](CMainFrame& f) { OnExportRectified(f.Document()); }, nullptr, kGeo},
        {ID_IMPORT_CONTROL_POINTS, "&Import Control Points...",
         "Add control points from a QGIS .points or CSV file\nImport Control Points", false,
         [](CMainFrame& f) { OnImportControlPoints(f.Document()); }, nullptr, kMap},
        {ID_FILE_PRINT, "&Print...\tCtrl+P", "Print the active document\nPrint", true,
         nullptr, [](CQuilletApp& a) { a.OnFilePrint(); }},
        {ID_FILE_PRINT_PREVIEW, "Print Pre&view", "Display full pages\nPrint Preview", false,
         nullptr, [](CQuilletApp& a) { a.OnFilePrintPreview(); }},
        {ID_FILE_PRINT_SETUP, "P&rint Setup...", "Change the printer and printing options\nPrint Setup", false,
         nullptr, [](CQuilletApp& a) { a.OnFilePrintSetup(); }},
        {ID_APP_EXIT, "E&xit", "Quit the application\nExit", false, [](CMainFrame& f) { f.close(); }},
        {ID_EDIT_UNDO, "&Undo\tCtrl+Z", "Undo the last action\nUndo", false,
         [](CMainFrame& f) { f.Document().UndoStack().undo(); }, nullptr, Availability::CanUndo, nullptr, UndoText},
        // Redo answers both the Windows and the KDE/GNOME habit.
        {ID_EDIT_REDO, "&Redo\tCtrl+Y; Ctrl+Shift+Z", "Redo the previously undone action\nRedo", false,
         [](CMainFrame& f) { f.Document().UndoStack().redo(); }, nullptr, Availability::CanRedo, nullptr, RedoText},
        {ID_VIEW_TOOLBAR, "&Toolbar", "Show or hide the toolbar\nToggle ToolBar", false,
         [](CMainFrame& f) {
             if (f.ToolBar())
                 f.ToolBar()->setVisible(!f.ToolBar()->isVisible());
         }, nullptr, kAlways, ToolbarCheck},
        {ID_VIEW_STATUS_BAR, "&Status Bar", "Show or hide the status bar\nToggle StatusBar", false,
         [](CMainFrame& f) { f.statusBar()->setVisible(f.statusBar()->isHidden()); }, nullptr, kAlways, StatusBarCheck},
        {ID_SHOW_RESIDUALS, "Show &Residuals", "Draw each control point's residual on the map\nShow Residuals", false,
         ToggleResiduals, nullptr, kMap, ResidualsCheck},
        {ID_VIEW_REFERENCE_MAP, "Reference &Map...",
         "Open a georeferenced raster or a vector file beside the map, to pick coordinates from and to compare "
         "with\nReference Map",
         false, [](CMainFrame& f) { f.References()->OnAddReference(); }, nullptr, kMap},
        {ID_VIEW_GRATICULE, "&Graticule", "Draw meridians and parallels over the geo-coded map\nGraticule", false,
         TogglePane<&ReferencePane::ShowsGraticule, &ReferencePane::SetShowGraticule>, nullptr, kGeo,
         PaneCheck<&ReferencePane::ShowsGraticule>},
        {ID_VIEW_LINES_ON_MAP, "Reference &Lines on Map",
         "Draw the reference map's lines and points over the geo-coded map\nReference Lines on Map", false,
         TogglePane<&ReferencePane::ShowsLinesOnMap, &ReferencePane::SetShowLinesOnMap>, nullptr, kGeo,
         PaneCheck<&ReferencePane::ShowsLinesOnMap>},
        {ID_VIEW_MAP_ON_REFERENCE, "Map &on Reference",
         "Draw the geo-coded map over the reference map, as transparent as the pane's slider says\nMap on Reference",
         false, TogglePane<&ReferencePane::ShowsMapOnReference, &ReferencePane::SetShowMapOnReference>, nullptr, kGeo,
         PaneCheck<&ReferencePane::ShowsMapOnReference>},
        {ID_APP_ABOUT, "&About Varnel...", "Display program information, version number and copyright\nAbout", true,
         nullptr, [](CQuilletApp& a) { a.OnAppAbout(); }},
        {ID_ZOOM_IN, "Zoom &In\tCtrl+5", "Zoom in the figure", true,
         RunTool<&ViewState::OnZoomIn>, nullptr, kMap, ToolCheck<Tool::ZoomIn>},
        {ID_ZOOM_OUT, "Zoom &Out\tCtrl+6", "Zoom out the figure", true,
         RunTool<&ViewState::OnZoomOut>, nullptr, kMap, ToolCheck<Tool::ZoomOut>},
        {ID_FIT_IN_WINDOW, "&Fit in Window\tCtrl+0", "Fit in the window", true,
         HostTool<&ViewState::OnFitInWindow>, nullptr, kMap},
        {ID_SET_POINTS, "&Set Points\tCtrl+1", "Set points", true,
         RunTool<&ViewState::OnSetPoints>, nullptr, kMap, ToolCheck<Tool::SetPoints>},
        {ID_SHOW_POINTS, "Show &Points", "Show points", true,
         [](CMainFrame& f) { OnShowPoints(f.Document()); }, nullptr, kMap, ShowPointsCheck},
        {ID_MOVE_POINTS, "&Move Points\tCtrl+2", "Move Points", true,
         HostTool<&ViewState::OnMovePoints>, nullptr, kMap, ToolCheck<Tool::MovePoint>},
        {ID_DELETE_POINT, "&Delete Point\tCtrl+3", "Delete Point", true,
         RunTool<&ViewState::OnDeletePoint>, nullptr, kMap, DeletePointCheck},
        {ID_UNHANDLED_32782, nullptr, "Input Options", true},
        {ID_INPUT_OPTIONS, "Input O&ptions...", "Input Options", true,
         [](CMainFrame& f) { OnInputOptions(f.Document()); }, nullptr, kMap},
        {ID_TRANSFORMATION, "&Transformation...",
         "Choose the transformation the map is geo-coded with and the coordinate system it is fitted in\nTransformation",
         false, [](CMainFrame& f) { OnTransformation(f.Document()); }, nullptr, kMap},
        {ID_SELECT_RANGE, "Select &Range\tCtrl+7", "Select the range for the output map", true,
         SelectRange, nullptr, kGeo, ToolCheck<Tool::SelectRange>},
        {ID_MEASURE, "Measure &Distance\tCtrl+4", "Measure the distance", true,
         RunTool<&ViewState::OnMeasure>, nullptr, kGeo, ToolCheck<Tool::Measure>},
        {ID_SELECT_IMAGES, "Select Ima&ges...", "Select images", true,
         [](CMainFrame& f) { OnSelectImages(f.Document()); }, nullptr, Availability::SeveralImages},
        {ID_SELECT_UNIT, "Select &Unit...", "Select unit", true, [](CMainFrame& f) { OnSelectUnit(f.Document()); }},
        {ID_ORIGINAL_SIZE, nullptr, "Show image with its original size", true},
        {ID_EDIT_CUT, nullptr, "Cut the selection and put it on the Clipboard\nCut", true},
        {ID_EDIT_COPY, nullptr, "Copy the selection and put it on the Clipboard\nCopy", true},
        {ID_EDIT_PASTE, nullptr, "Insert Clipboard contents\nPaste", true},
    };
    return rows;
}

const CommandRow* FindCommand(int id)
{
    for (const CommandRow& row : CommandTable())
        if (row.m_nId == id)
            return &row;
    return nullptr;
}

bool IsAvailable(Availability availability, const CMainFrame& frame)
{
    const CQuilletDoc& doc = frame.Document();
    switch (availability) {
    case Availability::MapLoaded:
        return doc.IsMapLoaded();
    case Availability::GeoCoded:
        return doc.IsGeoCoded();
    case Availability::SeveralImages:
        return doc.Images().size() > 1;
    case Availability::CanUndo:
        return doc.UndoStack().canUndo();
    case Availability::CanRedo:
        return doc.UndoStack().canRedo();
    case Availability::Always:
        break;
    }
    return true;
}

const std::vector<MenuLayout>& MenuBarLayout()
{
    // Tools holds every tool of the toolbar, so that all of them are there with the toolbar
    // hidden. Ctrl and a digit picks a tool in the toolbar's order wherever the focus is, and
    // never while a coordinate is being typed; Ctrl+0 fits the map as picture viewers do.
    static const std::vector<MenuLayout> menus = {
        {"&File",
         {ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_SAVE, ID_FILE_SAVE_AS, ID_OUTPUT_GEO_MAP, ID_SAVE_VIEW_AS_BITMAP, kSeparator,
          ID_EXPORT_GEOREFERENCED, ID_EXPORT_RECTIFIED, ID_IMPORT_CONTROL_POINTS, kSeparator, ID_FILE_PRINT, ID_FILE_PRINT_PREVIEW,
          ID_FILE_PRINT_SETUP, kSeparator, kRecentFiles, ID_APP_EXIT}},
        {"&Edit", {ID_EDIT_UNDO, ID_EDIT_REDO}},
        {"&View",
         {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, kSeparator, kControlPointsPanel, ID_SHOW_POINTS, ID_SHOW_RESIDUALS,
          kSeparator, ID_VIEW_REFERENCE_MAP, kReferencePanel, ID_VIEW_GRATICULE, ID_VIEW_LINES_ON_MAP,
          ID_VIEW_MAP_ON_REFERENCE}},
        {"&Tools",
         {ID_SET_POINTS, ID_MOVE_POINTS, ID_DELETE_POINT, ID_MEASURE, kSeparator, ID_ZOOM_IN, ID_ZOOM_OUT,
          ID_FIT_IN_WINDOW, ID_SELECT_RANGE, kSeparator, ID_INPUT_OPTIONS, ID_TRANSFORMATION, ID_SELECT_UNIT, ID_SELECT_IMAGES}},
        {"&Help", {ID_APP_ABOUT}},
    };
    return menus;
}

const std::vector<int>& ToolbarLayout()
{
    static const std::vector<int> layout = {
        ID_FILE_NEW,        ID_FILE_OPEN,    ID_FILE_SAVE,     kSeparator,
        ID_FILE_PRINT,      kSeparator,
        ID_INPUT_OPTIONS,   ID_SET_POINTS,   ID_SHOW_POINTS,   ID_MOVE_POINTS, ID_DELETE_POINT, ID_MEASURE, kSeparator,
        ID_ZOOM_IN,         ID_ZOOM_OUT,     ID_FIT_IN_WINDOW, ID_SELECT_RANGE, kSeparator,
        ID_SELECT_UNIT,     ID_SELECT_IMAGES, kSeparator,
        ID_APP_ABOUT,       ID_UNHANDLED_32782, ID_EDIT_CUT,   ID_EDIT_COPY,   ID_EDIT_PASTE,   kSeparator,
        ID_ORIGINAL_SIZE,
    };
    return layout;
}
