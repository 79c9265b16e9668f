#include "app/CMainFrame.h"
#include "document/CQuilletDoc.h"

#include <gtest/gtest.h>

TEST(MainFrame, OpensAndClosesCleanly)
{
    CQuilletDoc doc;
    CMainFrame frame(doc);
    frame.show();
    EXPECT_TRUE(frame.isVisible());
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Varnel"));
    EXPECT_TRUE(frame.close());
    EXPECT_FALSE(frame.isVisible());
}
