#pragma once
// A message box to be shown: what the core decides to tell the user, handed up to the commands
// layer, which alone shows it (the command-line tool prints it instead).

#include "platform/WinTypes.h"

#include <QString>

#include <vector>

struct UiMessage {
    QString m_strText;
    QString m_strCaption;
    unsigned m_nType = MB_OK; ///< one MB_ button set and one MB_ICON flag

    unsigned Buttons() const { return m_nType & MB_TYPEMASK; }
    unsigned Icon() const { return m_nType & MB_ICONMASK; }
};

using UiMessages = std::vector<UiMessage>;
