#include "document/CQuilletDoc.h"

#include <gtest/gtest.h>

TEST(Smoke, DocumentConstructs)
{
    CQuilletDoc doc;
    EXPECT_EQ(doc.m_bShowPoints, 1);
}
