#pragma once
// The menu, toolbar and status-bar prompt texts of every command.

#include <QString>

#include <optional>
#include <vector>

class CQuilletDoc;
class ViewState;

/// When a command is enabled (while it has a handler).
enum class Availability {
    Always,
    MapLoaded,     ///< while a map is loaded
    GeoCoded,      ///< while the map is geo-coded
    SeveralImages, ///< while the map has two or more TIFF images
};

/// A command's check mark: on or off, or nothing to leave it as it is.
using CheckState = std::optional<bool> (*)(const CQuilletDoc& doc, const ViewState& view);

struct CommandText {
    int m_nId;
    const char* m_strMenu;   ///< menu text with its mnemonic and shortcut ("&New\tCtrl+N"); null when no menu entry
    const char* m_strPrompt; ///< status-bar prompt, then "\n" and the tooltip where there is one
    Availability m_Enable = Availability::Always;
    CheckState m_Check = nullptr; ///< null for commands without a check mark
};

/// Every command with its texts.
const std::vector<CommandText>& CommandTexts();
/// The row of command id (null when there is none).
const CommandText* FindCommandText(int id);
/// Whether a command of this availability is enabled for the document.
bool IsAvailable(Availability availability, const CQuilletDoc& doc);

/// The toolbar's command ids in order; 0 stands for a separator.
const std::vector<int>& ToolbarLayout();
