#include "app/CommandTable.h"

#include "document/CQuilletDoc.h"
#include "resources/Resource.h"
#include "view/core/ViewState.h"

namespace {

/// A check mark that shows whether a tool of the view is on.
template <Tool T>
std::optional<bool> ToolCheck(const CQuilletDoc&, const ViewState& view)
{
    return view.ActiveTool() == T;
}

std::optional<bool> ResidualsCheck(const CQuilletDoc&, const ViewState& view)
{
    return view.ShowsResiduals();
}

std::optional<bool> DeletePointCheck(const CQuilletDoc& doc, const ViewState& view)
{
    // With no points the check mark keeps whatever it showed.
    if (doc.ControlPoints().empty())
        return std::nullopt;
    return view.ActiveTool() == Tool::DeletePoint;
}

std::optional<bool> ShowPointsCheck(const CQuilletDoc& doc, const ViewState&)
{
    return doc.ShowPoints();
}

constexpr Availability kMap = Availability::MapLoaded;
constexpr Availability kGeo = Availability::GeoCoded;

} // namespace

const std::vector<CommandText>& CommandTexts()
{
    static const std::vector<CommandText> texts = {
        {ID_FILE_NEW, "&New\tCtrl+N", "Input a map\nNew"},
        {ID_FILE_OPEN, "&Open...\tCtrl+O", "Open an existing workspace\nOpen"},
        {ID_FILE_SAVE, "&Save\tCtrl+S", "Save the active workspace\nSave"},
        {ID_FILE_SAVE_AS, "Save &As...", "Save the active workspace with a new name\nSave As"},
        {ID_OUTPUT_GEO_MAP, "Output A Geo-Map...", "Output a geo-coded map"},
        {ID_SAVE_VIEW_AS_BITMAP, "Save As Bitmap...", "Save the current view as a bitmap", kMap},
        {ID_EXPORT_GEOREFERENCED, "&Export Georeferenced...",
         "Write the geo-coded map or its control points in a form GIS tools read\nExport Georeferenced", kGeo},
        {ID_IMPORT_CONTROL_POINTS, "&Import Control Points...",
         "Add control points from a QGIS .points or CSV file\nImport Control Points", kMap},
        {ID_FILE_PRINT, "&Print...\tCtrl+P", "Print the active document\nPrint"},
        {ID_FILE_PRINT_PREVIEW, "Print Pre&view", "Display full pages\nPrint Preview"},
        {ID_FILE_PRINT_SETUP, "P&rint Setup...", "Change the printer and printing options\nPrint Setup"},
        {ID_APP_EXIT, "E&xit", "Quit the application\nExit"},
        {ID_EDIT_UNDO, "&Undo\tCtrl+Z", "Undo the last action\nUndo"},
        {ID_EDIT_REDO, "&Redo\tCtrl+Y", "Redo the previously undone action\nRedo"},
        {ID_VIEW_TOOLBAR, "&Toolbar", "Show or hide the toolbar\nToggle ToolBar"},
        {ID_VIEW_STATUS_BAR, "&Status Bar", "Show or hide the status bar\nToggle StatusBar"},
        {ID_SHOW_RESIDUALS, "Show &Residuals", "Draw each control point's residual on the map\nShow Residuals", kMap,
         ResidualsCheck},
        {ID_APP_ABOUT, "&About Varnel...", "Display program information, version number and copyright\nAbout"},
        {ID_ZOOM_IN, "Zoom &In\tCtrl+5", "Zoom in the figure", kMap, ToolCheck<Tool::ZoomIn>},
        {ID_ZOOM_OUT, "Zoom &Out\tCtrl+6", "Zoom out the figure", kMap, ToolCheck<Tool::ZoomOut>},
        {ID_FIT_IN_WINDOW, "&Fit in Window\tCtrl+0", "Fit in the window", kMap},
        {ID_SET_POINTS, "&Set Points\tCtrl+1", "Set points", kMap, ToolCheck<Tool::SetPoints>},
        {ID_SHOW_POINTS, "Show &Points", "Show points", kMap, ShowPointsCheck},
        {ID_MOVE_POINTS, "&Move Points\tCtrl+2", "Move Points", kMap, ToolCheck<Tool::MovePoint>},
        {ID_DELETE_POINT, "&Delete Point\tCtrl+3", "Delete Point", kMap, DeletePointCheck},
        {ID_UNHANDLED_32782, nullptr, "Input Options"},
        {ID_INPUT_OPTIONS, "Input O&ptions...", "Input Options", kMap},
        {ID_SELECT_RANGE, "Select &Range\tCtrl+7", "Select the range for the output map", kGeo, ToolCheck<Tool::SelectRange>},
        {ID_MEASURE, "Measure &Distance\tCtrl+4", "Measure the distance", kGeo, ToolCheck<Tool::Measure>},
        {ID_SELECT_IMAGES, "Select Ima&ges...", "Select images", Availability::SeveralImages},
        {ID_SELECT_UNIT, "Select &Unit...", "Select unit"},
        {ID_ORIGINAL_SIZE, nullptr, "Show image with its original size"},
        {ID_EDIT_CUT, nullptr, "Cut the selection and put it on the Clipboard\nCut"},
        {ID_EDIT_COPY, nullptr, "Copy the selection and put it on the Clipboard\nCopy"},
        {ID_EDIT_PASTE, nullptr, "Insert Clipboard contents\nPaste"},
    };
    return texts;
}

const CommandText* FindCommandText(int id)
{
    for (const CommandText& text : CommandTexts())
        if (text.m_nId == id)
            return &text;
    return nullptr;
}

bool IsAvailable(Availability availability, const CQuilletDoc& doc)
{
    switch (availability) {
    case Availability::MapLoaded:
        return doc.IsMapLoaded();
    case Availability::GeoCoded:
        return doc.IsGeoCoded();
    case Availability::SeveralImages:
        return doc.Images().size() > 1;
    case Availability::Always:
        break;
    }
    return true;
}

const std::vector<int>& ToolbarLayout()
{
    static const std::vector<int> layout = {
        ID_FILE_NEW,        ID_FILE_OPEN,    ID_FILE_SAVE,     0,
        ID_FILE_PRINT,      0,
        ID_INPUT_OPTIONS,   ID_SET_POINTS,   ID_SHOW_POINTS,   ID_MOVE_POINTS, ID_DELETE_POINT, ID_MEASURE, 0,
        ID_ZOOM_IN,         ID_ZOOM_OUT,     ID_FIT_IN_WINDOW, ID_SELECT_RANGE, 0,
        ID_SELECT_UNIT,     ID_SELECT_IMAGES, 0,
        ID_APP_ABOUT,       ID_UNHANDLED_32782, ID_EDIT_CUT,   ID_EDIT_COPY,   ID_EDIT_PASTE,   0,
        ID_ORIGINAL_SIZE,
    };
    return layout;
}
