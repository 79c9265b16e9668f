// The file the desktop program opens from its command line, around Qt's own options.

#include "app/CommandLine.h"

#include <QDir>

#include <gtest/gtest.h>

TEST(GuiCommandLineTest, OpensTheFileNamedBesideQtsOwnOptions)
{
    const struct {
        QStringList m_Arguments;
        QString m_strFile; // relative to the working folder; empty for none
    } cases[] = {
        {{"varnel"}, ""},
        {{"varnel", "map.jpg"}, "map.jpg"},
        {{"varnel", "-platform", "offscreen", "map.jpg"}, "map.jpg"},
        {{"varnel", "-style", "fusion", "-reverse", "maps/work.pws"}, "maps/work.pws"},
        {{"varnel", "first.gpf", "second.gpf"}, "first.gpf"},
        {{"varnel", "--", "-odd name.tif"}, "-odd name.tif"},
    };
    for (const auto& c : cases) {
        const GuiCommandLine line = ParseGuiCommandLine(c.m_Arguments);
        EXPECT_EQ(line.m_Action, GuiCommandLine::Action::Run) << c.m_Arguments.join(' ').toStdString();
        const QString expected = c.m_strFile.isEmpty() ? QString() : QDir::current().absoluteFilePath(c.m_strFile);
        EXPECT_EQ(line.m_strFile, expected) << c.m_Arguments.join(' ').toStdString();
    }
    EXPECT_EQ(ParseGuiCommandLine({"varnel", "a.gpf", "b.pws", "c.tif"}).m_strText,
              QStringLiteral("varnel: opens one file at a time; ignoring b.pws, c.tif\n"));
}
