#pragma once
// Every command of the desktop program in one table: its id, menu text and shortcut, status-bar
// prompt and tooltip, whether it has a toolbar picture, what runs it, and when it is enabled,
// checked and how its menu text reads. The menus and the toolbar are laid out from the tables
// below; the main frame only follows them.

#include <QString>

#include <optional>
#include <vector>

class CMainFrame;
class CQuilletApp;

/// When a command with a handler is enabled.
enum class Availability {
    Always,
    MapLoaded,     ///< while a map is loaded
    GeoCoded,      ///< while the map is geo-coded
    SeveralImages, ///< while the map has two or more TIFF images
    CanUndo,       ///< while the document has an edit to undo
    CanRedo,       ///< while the document has an undone edit to redo
};

/// A command's check mark: on or off, or nothing to leave it as it is.
using CheckState = std::optional<bool> (*)(const CMainFrame& frame);
/// A menu text that says what the command will do ("&Undo Move Point 3").
using MenuText = QString (*)(const CMainFrame& frame);
/// What runs a command: the main frame's own commands and those of the document and its view
/// need only the frame; printing and About belong to the application.
using FrameHandler = void (*)(CMainFrame& frame);
using AppHandler = void (*)(CQuilletApp& app);

struct CommandRow {
    int m_nId;
    const char* m_strMenu;   ///< menu text with its mnemonic, then a tab and its shortcuts ("; " between two); null when no menu entry
    const char* m_strPrompt; ///< status-bar prompt, then "\n" and the tooltip where there is one
    bool m_bIcon = false;    ///< the command has a toolbar picture, shown in the menus too
    FrameHandler m_OnFrame = nullptr; ///< null with m_OnApp null: nothing handles it, it stays disabled
    AppHandler m_OnApp = nullptr;
    Availability m_Enable = Availability::Always;
    CheckState m_Check = nullptr; ///< null for commands without a check mark
    MenuText m_Text = nullptr;    ///< null for commands whose menu text never changes
};

/// Every command.
const std::vector<CommandRow>& CommandTable();
/// The row of command id (null when there is none).
const CommandRow* FindCommand(int id);
/// Whether a command of this availability is enabled in the frame's present state.
bool IsAvailable(Availability availability, const CMainFrame& frame);

/// Menu and toolbar entries that are not commands of the table.
constexpr int kSeparator = 0;
constexpr int kRecentFiles = -1;        ///< the recent-file list, then a separator
constexpr int kControlPointsPanel = -2; ///< shows or hides the control-point table
constexpr int kReferencePanel = -4;     ///< shows or hides the reference pane

struct MenuLayout {
    const char* m_strTitle;
    std::vector<int> m_Entries; ///< command ids and the markers above
};
/// The menu bar, menu by menu.
const std::vector<MenuLayout>& MenuBarLayout();
/// The toolbar's command ids in order; kSeparator stands for a separator.
const std::vector<int>& ToolbarLayout();
