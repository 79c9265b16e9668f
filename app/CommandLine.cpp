#include "app/CommandLine.h"

#include "platform/Version.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace {

/// Options the application object takes out of the command line, with whether they take a value;
/// they are accepted here and kept out of the help.
struct QtOption {
    const char* m_Name;
    bool m_bValue;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true}, {"platformpluginpath", true}, {"platformtheme", true}, {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true}, {"qwindowtitle", true}, {"geometry", true},
    {"title", true}, {"display", true}, {"name", true}, {"visual", true}, {"style", true},
    {"stylesheet", true}, {"session", true}, {"qmljsdebugger", true}, {"reverse", false},
    {"widgetcount", false}, {"nograb", false}, {"dograb", false}, {"sync", false},
};

} // namespace

GuiCommandLine ParseGuiCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    // Qt's options are single-dash words (-platform offscreen); ours are -h, -v and their long forms.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral("Varnel geo-codes scanned maps: control points tie the picture to latitude and "
                                                    "longitude, and the geo-coded map is written as a projection file."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Show the version and exit."));
    parser.addOption(help);
    parser.addOption(version);
    for (const QtOption& qt : kQtOptions) {
        QCommandLineOption option(QString::fromLatin1(qt.m_Name));
        if (qt.m_bValue)
            option.setValueName(QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("A map picture, TIFF, workspace (.pws) or projection file (.gpf, .dpf, .cpf) to open."),
                                 QStringLiteral("[file]"));

    GuiCommandLine line;
    if (!parser.parse(arguments)) {
        line.m_Action = GuiCommandLine::Action::Error;
        line.m_strText = QStringLiteral("varnel: %1\nTry 'varnel --help' for more information.\n").arg(parser.errorText());
        return line;
    }
    if (parser.isSet(help)) {
        line.m_Action = GuiCommandLine::Action::Help;
        // The parser names the program only when an application object exists; this runs before one.
        line.m_strText = parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("varnel"));
        return line;
    }
    if (parser.isSet(version)) {
        line.m_Action = GuiCommandLine::Action::Version;
        line.m_strText = QStringLiteral("varnel %1\n").arg(VarnelVersion());
        return line;
    }
    // The first file named opens (the desktop's launchers pass one); the others are named as
    // left unopened, so that nobody waits for them.
    const QStringList files = parser.positionalArguments();
    if (!files.isEmpty())
        line.m_strFile = QFileInfo(files.constFirst()).absoluteFilePath();
    if (files.size() > 1)
        line.m_strText =
            QStringLiteral("varnel: opens one file at a time; ignoring %1\n").arg(files.mid(1).join(QStringLiteral(", ")));
    return line;
}
