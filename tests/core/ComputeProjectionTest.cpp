#include "FitTestPoints.h"

#include "document/CQuilletDoc.h"
#include "platform/CView.h"
#include "platform/ScriptedUiServices.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

/// A view that only counts what the document tells it.
class CountingView : public CView {
public:
    void OnUpdate(CView* sender, long hint) override
    {
        m_Senders.push_back(sender);
        m_Hints.push_back(hint);
    }
    int Updates() const { return static_cast<int>(m_Hints.size()); }

    std::vector<CView*> m_Senders;
    std::vector<long> m_Hints;
};

/// A document with a picture map and the observing view and scripted services in place.
class FitComputeProjection : public testing::Test {
protected:
    void SetUp() override
    {
        m_Doc.m_bMapLoaded = 1;
        m_Doc.m_nMapType = 2;
        m_Doc.m_nImageWidth = m_Grid.Width();
        m_Doc.m_nImageHeight = m_Grid.Height();
        for (std::size_t i = 0; i < m_Doc.m_dGeoCoef.size(); ++i)
            m_Doc.m_dGeoCoef[i] = 0.5 + static_cast<double>(i);
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
            EXPECT_EQ(m_View.m_Hints[static_cast<std::size_t>(i)], CQuilletDoc::kHintRepaint);
        }
    }

    PerturbedGrid m_Grid; // 1 x 2 degrees: threshold 36"
    CQuilletDoc m_Doc;
    CountingView m_View;
    ScriptedUiServices m_Ui;
    ScopedUiServices m_Installed{m_Ui};
};

TEST_F(FitComputeProjection, AcceptedFitStoresModelAndShowsAccuracyOnce)
{
    m_Doc.m_ControlPoints = m_Grid.Points(0.0, 40.0);
    m_Doc.ComputeProjection();

    EXPECT_EQ(m_Doc.m_bGeoCoded, 1);
    ExpectGridModel(m_Doc.m_dGeoCoef);
    ASSERT_EQ(m_Ui.m_Messages.size(), 1u);
    EXPECT_EQ(m_Ui.m_Messages[0].m_strText,
              QStringLiteral("The map is successfully geo coded. The accuracy is 40.00 second"));
    EXPECT_EQ(m_Ui.m_Messages[0].m_strCaption, QStringLiteral("Projection Accuracy"));
    EXPECT_EQ(m_Ui.m_Messages[0].Buttons(), MB_OK);
    EXPECT_EQ(m_Ui.m_Messages[0].Icon(), MB_ICONINFORMATION);
    ExpectOneRepaintPerRun(1);
}

TEST_F(FitComputeProjection, RejectionAfterAcceptanceKeepsModelAndShowsReport)
{
    m_Doc.m_ControlPoints = m_Grid.Points(0.0, 0.0);
    m_Doc.ComputeProjection();
    ASSERT_EQ(m_Doc.m_bGeoCoded, 1);
    const std::array<double, 16> accepted = m_Doc.m_dGeoCoef;

    // The centre point moved 46 pixels: beyond 1.25 x 36".
    m_Doc.m_ControlPoints = m_Grid.Points(46.0, 0.0);
    m_Doc.ComputeProjection();

    EXPECT_EQ(m_Doc.m_bGeoCoded, 0);
    EXPECT_EQ(m_Doc.m_dGeoCoef, accepted);
    ASSERT_EQ(m_Ui.m_Messages.size(), 2u);
    EXPECT_EQ(m_Ui.m_Messages[1].m_strText,
              QStringLiteral("The following points cause \n the failure of projection:\n\n Index\tError in second \n"
                             " 5\t46.000 \n\n Threshold: 36.000 second"));
    EXPECT_EQ(m_Ui.m_Messages[1].m_strCaption, QStringLiteral("Varnel"));
    EXPECT_EQ(m_Ui.m_Messages[1].Buttons(), MB_OK);
    EXPECT_EQ(m_Ui.m_Messages[1].Icon(), 0u);
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
    int runs = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pName);
        m_Doc.m_bGeoCoded = 1;
        const std::array<double, 16> before = m_Doc.m_dGeoCoef;
        m_Doc.m_ControlPoints = c.m_Points;
        m_Doc.ComputeProjection();
        ++runs;
        EXPECT_EQ(m_Doc.m_bGeoCoded, c.m_bExpectedGeoCoded);
        EXPECT_EQ(m_Doc.m_dGeoCoef, before);
        EXPECT_TRUE(m_Ui.m_Messages.empty());
        ExpectOneRepaintPerRun(runs);
    }
}

} // namespace
