#pragma once
// The desktop program's command line: a file to open, or a request answered without a window.

#include <QString>
#include <QStringList>

struct GuiCommandLine {
    enum class Action {
        Run,     ///< start the window, opening m_strFile when it is not empty (m_strText, if any, on standard error)
        Help,    ///< print m_strText on standard output and end with status 0
        Version, ///< likewise
        Error,   ///< print m_strText on standard error and end with status 2
    };
    Action m_Action = Action::Run;
    QString m_strFile;
    QString m_strText;
};

/// Reads the command line as the user typed it (program name first), before the application
/// object exists, so that --help, --version and mistakes are answered without a display. Qt's
/// own options (-platform, -style, ...) are accepted and left for the application object.
GuiCommandLine ParseGuiCommandLine(const QStringList& arguments);
