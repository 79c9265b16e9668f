#pragma once
// Command and resource identifiers shared by the menus, the toolbar and the command handlers.

// File menu and framework commands.
constexpr int ID_FILE_NEW = 57600;
constexpr int ID_FILE_OPEN = 57601;
constexpr int ID_FILE_SAVE = 57603;
constexpr int ID_FILE_SAVE_AS = 57604;
constexpr int ID_FILE_PRINT_SETUP = 57606;
constexpr int ID_FILE_PRINT = 57607;
constexpr int ID_FILE_PRINT_DIRECT = 57608;
constexpr int ID_FILE_PRINT_PREVIEW = 57609;
constexpr int ID_FILE_MRU_FILE1 = 57616;
constexpr int ID_EDIT_COPY = 57634;
constexpr int ID_EDIT_CUT = 57635;
constexpr int ID_EDIT_PASTE = 57637;
constexpr int ID_EDIT_UNDO = 57643;
constexpr int ID_EDIT_REDO = 57644;
constexpr int ID_APP_ABOUT = 57664;
constexpr int ID_APP_EXIT = 57665;
constexpr int ID_VIEW_TOOLBAR = 59392;
constexpr int ID_VIEW_STATUS_BAR = 59393;

// Varnel's own commands.
constexpr int ID_ZOOM_IN = 32771;
constexpr int ID_ZOOM_OUT = 32772;
constexpr int ID_FIT_IN_WINDOW = 32773;
constexpr int ID_SET_POINTS = 32774;
constexpr int ID_SHOW_POINTS = 32775;
constexpr int ID_MOVE_POINTS = 32776;
constexpr int ID_DELETE_POINT = 32779;
constexpr int ID_OUTPUT_GEO_MAP = 32780;
constexpr int ID_SAVE_VIEW_AS_BITMAP = 32781;
constexpr int ID_UNHANDLED_32782 = 32782;
constexpr int ID_INPUT_OPTIONS = 32783;
constexpr int ID_SELECT_RANGE = 32784;
constexpr int ID_MEASURE = 32785;
constexpr int ID_SELECT_IMAGES = 32786;
constexpr int ID_SELECT_UNIT = 32787;
constexpr int ID_ORIGINAL_SIZE = 32788;
// Commands of our own, numbered after the original ones.
constexpr int ID_SHOW_RESIDUALS = 32800;
constexpr int ID_VIEW_CONTROL_POINTS = 32801;
constexpr int ID_EXPORT_GEOREFERENCED = 32802;
constexpr int ID_IMPORT_CONTROL_POINTS = 32803;
constexpr int ID_TRANSFORMATION = 32804;
constexpr int ID_EXPORT_RECTIFIED = 32805;
constexpr int ID_VIEW_REFERENCE_MAP = 32806;
constexpr int ID_VIEW_GRATICULE = 32807;
constexpr int ID_VIEW_LINES_ON_MAP = 32808;
constexpr int ID_VIEW_MAP_ON_REFERENCE = 32809;
