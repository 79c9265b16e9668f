#include "FitTestPoints.h"

#include "document/CQuilletDoc.h"

#include "RecordingView.h"
#include "TestDocs.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

/// A document with a picture map, watched by a view.
class FitComputeProjection : public testing::Test {
protected:
    void SetUp() override
    {
        LoadPictureMap(m_Doc, m_Grid.Width(), m_Grid.Height());
        GeoCoefficients marked{};
        for (std::size_t i = 0; i < marked.size(); ++i)
            marked[i] = 0.5 + static_cast<double>(i);
        SetPointsAndModel(m_Doc, {}, false, marked);
        m_Doc.AddView(&m_View);
    }
    void TearDown() override { m_Doc.RemoveView(&m_View); }

    /// The expected model slots of the grid's map: 0 px/deg, 3600 px/deg, offset; -3600, 0, offset.
    void ExpectGridModel(const std::array<double, 16>& coef) const
    {
        const AffineMap map = m_Grid.GridMap();
        EXPECT_NEAR(coef[0], 0.0, 1e-6);
        EXPECT_NEAR(coef[1], 3600.0, 1e-6);
        EXPECT_NEAR(coef[3], map.m_dColumnOffset, 1e-4);
        EXPECT_NEAR(coef[4], -3600.0, 1e-6);
        EXPECT_NEAR(coef[5], 0.0, 1e-6);
        EXPECT_NEAR(coef[7], map.m_dRowOffset, 1e-4);
        for (std::size_t i : {2u, 6u, 8u, 15u})
            EXPECT_EQ(coef[i], 0.5 + static_cast<double>(i)) << "slot " << i;
    }

    void ExpectOneRepaintPerRun(int runs) const
    {
        ASSERT_EQ(m_View.Updates(), runs);
        for (int i = 0; i < runs; ++i) {
            EXPECT_EQ(m_View.m_Senders[static_cast<std::size_t>(i)], nullptr);
            EXPECT_EQ(m_View.m_Hints[static_cast<std::size_t>(i)], DocChange::kPoints | DocChange::kGeoCoding);
        }
    }

    PerturbedGrid m_Grid; // 1 x 2 degrees: threshold 36"
    CQuilletDoc m_Doc;
    RecordingView m_View;
};

TEST_F(FitComputeProjection, AcceptedFitStoresModelAndSaysTheAccuracy)
{
    const GeoFitResult fit = m_Doc.SetControlPoints(m_Grid.Points(0.0, 40.0));

    EXPECT_TRUE(m_Doc.IsGeoCoded());
    ExpectGridModel(m_Doc.GeoCoef());
    ASSERT_TRUE(fit.m_Message);
    EXPECT_EQ(fit.m_Message->m_strText, QStringLiteral("The map is successfully geo coded. The accuracy is 40.00 second."));
    EXPECT_EQ(fit.m_Message->m_strCaption, QStringLiteral("Projection Accuracy"));
    EXPECT_EQ(fit.m_Message->Buttons(), MB_OK);
    EXPECT_EQ(fit.m_Message->Icon(), MB_ICONINFORMATION);
    ASSERT_TRUE(m_Doc.LastFit());
    EXPECT_EQ(m_Doc.LastFit()->m_Outcome, GeoFitOutcome::Accepted);
    ExpectOneRepaintPerRun(1);
}

TEST_F(FitComputeProjection, RejectionAfterAcceptanceKeepsModelAndReports)
{
    m_Doc.SetControlPoints(m_Grid.Points(0.0, 0.0));
    ASSERT_TRUE(m_Doc.IsGeoCoded());
    const std::array<double, 16> accepted = m_Doc.GeoCoef();

    // The centre point moved 46 pixels: beyond 1.25 x 36".
    const GeoFitResult fit = m_Doc.SetControlPoints(m_Grid.Points(46.0, 0.0));

    EXPECT_FALSE(m_Doc.IsGeoCoded());
    EXPECT_EQ(m_Doc.GeoCoef(), accepted);
    ASSERT_TRUE(fit.m_Message);
    EXPECT_EQ(fit.m_Message->m_strText,
              QStringLiteral("The following points cause \n the failure of projection:\n\n Index\tError in second \n"
                             " 5\t46.000 \n\n Threshold: 36.000 second"));
    EXPECT_EQ(fit.m_Message->m_strCaption, QStringLiteral("Varnel"));
    EXPECT_EQ(fit.m_Message->Buttons(), MB_OK);
    EXPECT_EQ(fit.m_Message->Icon(), 0u);
    ExpectOneRepaintPerRun(2);
}

TEST_F(FitComputeProjection, SilentRunsStillRepaint)
{
    struct Case {
        const char* m_pName;
        std::vector<CDataGeo> m_Points;
        BOOL m_bExpectedGeoCoded;
    };
    std::vector<CDataGeo> oneLatitude = m_Grid.Points(0.0, 0.0);
    for (CDataGeo& point : oneLatitude)
        point.m_dLatitude = 40.5 * 3600.0;
    const std::vector<CDataGeo> nine = m_Grid.Points(0.0, 0.0);
    const std::vector<Case> cases = {
        {"FivePointsWithdrawGeoCoding", std::vector<CDataGeo>(nine.begin(), nine.begin() + 5), 0},
        {"OneLatitudeKeepsGeoCoding", oneLatitude, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pName);
        SetPointsAndModel(m_Doc, {}, true, m_Doc.GeoCoef());
        m_View.m_Hints.clear();
        m_View.m_Senders.clear();
        const std::array<double, 16> before = m_Doc.GeoCoef();
        const GeoFitResult fit = m_Doc.SetControlPoints(c.m_Points);
        EXPECT_EQ(m_Doc.IsGeoCoded(), c.m_bExpectedGeoCoded != 0);
        EXPECT_EQ(m_Doc.GeoCoef(), before);
        EXPECT_FALSE(fit.m_Message);
        ExpectOneRepaintPerRun(1);
    }
}

} // namespace
