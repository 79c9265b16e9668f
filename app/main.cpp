#include "app/CQuilletApp.h"
#include "app/CommandLine.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Help, the version and mistakes are answered before anything needs a display.
    const GuiCommandLine line = ParseGuiCommandLine(arguments);
    switch (line.m_Action) {
    case GuiCommandLine::Action::Help:
    case GuiCommandLine::Action::Version:
        std::fputs(qPrintable(line.m_strText), stdout);
        return 0;
    case GuiCommandLine::Action::Error:
        std::fputs(qPrintable(line.m_strText), stderr);
        return 2;
    case GuiCommandLine::Action::Run:
        std::fputs(qPrintable(line.m_strText), stderr);
        break;
    }

    QApplication application(argc, argv);
    CQuilletApp app;
    if (!app.InitInstance(line.m_strFile.isEmpty() ? QStringList() : QStringList{line.m_strFile}))
        return 1;
    // Told to end while starting: the event loop, not running yet, would not hear it.
    return app.EndSignal() ? 128 + app.EndSignal() : QApplication::exec();
}
