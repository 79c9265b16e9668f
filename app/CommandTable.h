#pragma once
// The menu, toolbar and status-bar prompt texts of every command.

#include <QString>

#include <vector>

struct CommandText {
    int m_nId;
    const char* m_strMenu;   ///< menu text with its mnemonic and shortcut ("&New\tCtrl+N"); null when no menu entry
    const char* m_strPrompt; ///< status-bar prompt, then "\n" and the tooltip where there is one
};

/// Every command with its texts.
const std::vector<CommandText>& CommandTexts();
/// The toolbar's command ids in order; 0 stands for a separator.
const std::vector<int>& ToolbarLayout();
