#include "FitTestPoints.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <vector>

namespace {

/// The points file the command reads: degrees and frame units, one point a row.
QByteArray PointsCsv(const std::vector<CDataGeo>& points)
{
    QByteArray csv = "latitude,longitude,x,y\n";
    for (const CDataGeo& point : points) {
        csv += QByteArray::number(point.m_dLatitude / 3600.0, 'g', 17) + ',' +
               QByteArray::number(point.m_dLongitude / 3600.0, 'g', 17) + ',' +
               QByteArray::number(point.m_dImageX, 'g', 17) + ',' + QByteArray::number(point.m_dImageY, 'g', 17) + '\n';
    }
    return csv;
}

const QString kSentinelCoef = QStringLiteral("1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16");

class FitCommand : public testing::Test {
protected:
    QString WritePoints(const QByteArray& csv)
    {
        const QString path = m_Dir.filePath(QStringLiteral("points%1.csv").arg(m_nFiles++));
        WriteFileBytes(path, csv);
        return path;
    }
    QJsonObject RunAndParse(const QStringList& args)
    {
        const CliResult run = RunCli(args);
        EXPECT_EQ(run.m_nExitCode, 0) << run.m_StdErr.toStdString();
        QJsonParseError error;
        const QJsonDocument json = QJsonDocument::fromJson(run.m_StdOut, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << run.m_StdOut.toStdString();
        return json.object();
    }

    PerturbedGrid m_Grid; // 1 x 2 degrees: threshold 36"
    QTemporaryDir m_Dir;
    int m_nFiles = 0;
};

TEST_F(FitCommand, AcceptedFitReportsModelResidualsAndMessage)
{
    const QString path = WritePoints(PointsCsv(m_Grid.Points(30.0, 40.0)));
    const QJsonObject out = RunAndParse({QStringLiteral("fit"), QStringLiteral("--width"), QString::number(m_Grid.Width()),
                                         QStringLiteral("--height"), QString::number(m_Grid.Height()),
                                         QStringLiteral("--coef"), kSentinelCoef, path});
    EXPECT_EQ(out.value("outcome").toString(), QStringLiteral("accepted"));
    EXPECT_EQ(out.value("geocoded").toInt(-1), 1);

    const QJsonArray coef = out.value("coefficients").toArray();
    ASSERT_EQ(coef.size(), 16);
    const AffineMap map = m_Grid.GridMap();
    EXPECT_NEAR(coef[0].toDouble(), 0.0, 1e-6);
    EXPECT_NEAR(coef[1].toDouble(), 3600.0, 1e-6);
    EXPECT_NEAR(coef[3].toDouble(), map.m_dColumnOffset, 1e-4);
    EXPECT_NEAR(coef[4].toDouble(), -3600.0, 1e-6);
    EXPECT_NEAR(coef[5].toDouble(), 0.0, 1e-6);
    EXPECT_NEAR(coef[7].toDouble(), map.m_dRowOffset, 1e-4);
    for (int i : {2, 6, 8, 15})
        EXPECT_EQ(coef[i].toDouble(), i + 1.0) << "slot " << i;

    const QJsonArray residuals = out.value("residuals_arcsec").toArray();
    const double expected[9] = {0, 10, 0, 10, 40, 10, 0, 10, 0};
    ASSERT_EQ(residuals.size(), 9);
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(residuals[i].toDouble(), expected[i], 1e-6) << "point " << i + 1;
    EXPECT_NEAR(out.value("threshold_arcsec").toDouble(), 36.0, 1e-9);
    EXPECT_NEAR(out.value("accuracy_arcsec").toDouble(), 40.0, 1e-6);

    const QJsonObject message = out.value("message").toObject();
    EXPECT_EQ(message.value("text").toString(), QStringLiteral("The map is successfully geo coded. The accuracy is 40.00 second."));
    EXPECT_EQ(message.value("caption").toString(), QStringLiteral("Projection Accuracy"));
    EXPECT_EQ(message.value("icon").toString(), QStringLiteral("information"));
}

TEST_F(FitCommand, RejectedFitKeepsCoefficientsAndShowsReport)
{
    const QString path = WritePoints(PointsCsv(m_Grid.Points(0.0, 46.0)));
    const QJsonObject out = RunAndParse({QStringLiteral("fit"), QStringLiteral("--width"), QString::number(m_Grid.Width()),
                                         QStringLiteral("--height"), QString::number(m_Grid.Height()),
                                         QStringLiteral("--coef"), kSentinelCoef, QStringLiteral("--geocoded"),
                                         QStringLiteral("1"), path});
    EXPECT_EQ(out.value("outcome").toString(), QStringLiteral("rejected"));
    EXPECT_EQ(out.value("geocoded").toInt(-1), 0);
    const QJsonArray coef = out.value("coefficients").toArray();
    ASSERT_EQ(coef.size(), 16);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(coef[i].toDouble(), i + 1.0) << "slot " << i;
    const QJsonObject message = out.value("message").toObject();
    EXPECT_EQ(message.value("text").toString(),
              QStringLiteral("The following points cause \n the failure of projection:\n\n Index\tError in second \n"
                             " 5\t46.000 \n\n Threshold: 36.000 second"));
    EXPECT_EQ(message.value("caption").toString(), QStringLiteral("Varnel"));
    EXPECT_EQ(message.value("icon").toString(), QStringLiteral("none"));
}

TEST_F(FitCommand, SilentOutcomesHaveNoMessageAndNoFigures)
{
    struct Case {
        const char* m_pOutcome;
        std::vector<CDataGeo> m_Points;
        const char* m_pGeoCoded;
        int m_nExpectedGeoCoded;
    };
    const std::vector<CDataGeo> nine = m_Grid.Points(0.0, 0.0);
    std::vector<CDataGeo> oneLatitude = nine;
    for (CDataGeo& point : oneLatitude)
        point.m_dLatitude = 40.5 * 3600.0;
    const std::vector<Case> cases = {
        {"too_few_points", std::vector<CDataGeo>(nine.begin(), nine.begin() + 5), "1", 0},
        {"degenerate", oneLatitude, "1", 1},
        {"degenerate", oneLatitude, "0", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pOutcome);
        const QString path = WritePoints(PointsCsv(c.m_Points));
        const QJsonObject out = RunAndParse({QStringLiteral("fit"), QStringLiteral("--geocoded"),
                                             QString::fromUtf8(c.m_pGeoCoded), QStringLiteral("--width"),
                                             QStringLiteral("8000"), QStringLiteral("--height"), QStringLiteral("4000"),
                                             path});
        EXPECT_EQ(out.value("outcome").toString(), QString::fromUtf8(c.m_pOutcome));
        EXPECT_EQ(out.value("geocoded").toInt(-1), c.m_nExpectedGeoCoded);
        const QJsonArray coef = out.value("coefficients").toArray();
        ASSERT_EQ(coef.size(), 16);
        for (const QJsonValue& value : coef)
            EXPECT_EQ(value.toDouble(-1.0), 0.0);
        EXPECT_TRUE(out.value("residuals_arcsec").toArray().isEmpty());
        EXPECT_TRUE(out.value("threshold_arcsec").isNull());
        EXPECT_TRUE(out.value("accuracy_arcsec").isNull());
        EXPECT_TRUE(out.value("message").isNull());
        for (const char* field : {"residuals_px", "residuals_m", "loo_residuals_arcsec", "rmse_m"})
            EXPECT_TRUE(out.value(QLatin1String(field)).isNull()) << field;
    }
}

TEST_F(FitCommand, ResidualsOnThePictureOnTheGroundAndLeftOut)
{
    // The exact grid with its centre moved 30 pixels down: the fit keeps the grid's scale, so
    // the centre's residual is 30 x 8/9 pixels (its leverage is 1/9) = 26.67 arc-seconds, and
    // fitted to the other eight, exact, points it is off by the whole 30.
    std::vector<CDataGeo> points = m_Grid.Points(0.0, 0.0);
    points[4].m_dImageY -= 30.0 / m_Grid.Height();
    const QJsonObject out = RunAndParse({QStringLiteral("fit"), QStringLiteral("--width"), QString::number(m_Grid.Width()),
                                         QStringLiteral("--height"), QString::number(m_Grid.Height()),
                                         WritePoints(PointsCsv(points))});
    const QJsonArray pixels = out.value("residuals_px").toArray();
    const QJsonArray ground = out.value("residuals_m").toArray();
    const QJsonArray leftOut = out.value("loo_residuals_arcsec").toArray();
    ASSERT_EQ(pixels.size(), 9);
    ASSERT_EQ(ground.size(), 9);
    ASSERT_EQ(leftOut.size(), 9);
    EXPECT_NEAR(pixels[4].toArray()[0].toDouble(), 0.0, 1e-6);
    EXPECT_NEAR(pixels[4].toArray()[1].toDouble(), -30.0 * 8 / 9, 1e-6);
    // Least squares with an offset leaves residuals that sum to zero.
    double rowSum = 0.0;
    for (const QJsonValue& p : pixels)
        rowSum += p.toArray()[1].toDouble();
    EXPECT_NEAR(rowSum, 0.0, 1e-6);
    // 26.67 arc-seconds north from 40.5 N on the WGS 84 ellipsoid, as PROJ's geod measures it.
    EXPECT_NEAR(ground[4].toDouble(), 822.5495, 1e-3);
    EXPECT_NEAR(leftOut[4].toDouble(), 30.0, 1e-6);
    double sum = 0.0;
    for (const QJsonValue& g : ground)
        sum += g.toDouble() * g.toDouble();
    EXPECT_NEAR(out.value("rmse_m").toDouble(), std::sqrt(sum / 9), 1e-9);
    // The fit's own figures are unchanged: the same residual in arc-seconds.
    EXPECT_NEAR(out.value("residuals_arcsec").toArray()[4].toDouble(), 30.0 * 8 / 9, 1e-6);

    // The spline passes through every point; through the eight exact others it is the exact
    // grid, off the moved centre by the whole 30 again.
    const QJsonObject spline = RunAndParse({QStringLiteral("fit"), QStringLiteral("--transform=tps"), QStringLiteral("--width"),
                                            QString::number(m_Grid.Width()), QStringLiteral("--height"),
                                            QString::number(m_Grid.Height()), WritePoints(PointsCsv(points))});
    EXPECT_EQ(spline.value("transform").toString(), QStringLiteral("tps"));
    for (const QJsonValue& p : spline.value("residuals_px").toArray())
        EXPECT_NEAR(std::hypot(p.toArray()[0].toDouble(), p.toArray()[1].toDouble()), 0.0, 1e-6);
    EXPECT_NEAR(spline.value("loo_residuals_arcsec").toArray()[4].toDouble(), 30.0, 1e-6);
}

TEST_F(FitCommand, BadInputFailsWithMessage)
{
    const QByteArray good = PointsCsv(m_Grid.Points(0.0, 0.0));
    const QString goodPath = WritePoints(good);
    const QString w = QStringLiteral("--width"), h = QStringLiteral("--height");
    const QString fit = QStringLiteral("fit"), n = QStringLiteral("1000");
    struct Case {
        const char* m_pName;
        QStringList m_Args;
    };
    const std::vector<Case> cases = {
        {"WrongHeader", {fit, w, n, h, n, WritePoints("lat,lon,x,y\n40,10,0.1,0.2\n")}},
        {"EmptyFile", {fit, w, n, h, n, WritePoints("")}},
        {"NotANumber", {fit, w, n, h, n, WritePoints("latitude,longitude,x,y\n40,ten,0.1,0.2\n")}},
        {"ThreeFields", {fit, w, n, h, n, WritePoints("latitude,longitude,x,y\n40,10,0.1\n")}},
        {"FiveFields", {fit, w, n, h, n, WritePoints("latitude,longitude,x,y\n40,10,0.1,0.2,0.3\n")}},
        {"MissingFile", {fit, w, n, h, n, m_Dir.filePath(QStringLiteral("absent.csv"))}},
        {"NoWidth", {fit, h, n, goodPath}},
        {"WidthNotANumber", {fit, w, QStringLiteral("wide"), h, n, goodPath}},
        {"WidthZero", {fit, w, QStringLiteral("0"), h, n, goodPath}},
        {"NoPointsFile", {fit, w, n, h, n}},
        {"TwoPointsFiles", {fit, w, n, h, n, goodPath, goodPath}},
        {"FifteenCoefficients", {fit, w, n, h, n, QStringLiteral("--coef"), QStringLiteral("1,2,3,4,5,6,7,8,9,10,11,12,13,14,15"), goodPath}},
        {"CoefficientNotANumber", {fit, w, n, h, n, QStringLiteral("--coef"), QStringLiteral("1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,x"), goodPath}},
        {"GeoCodedTwo", {fit, w, n, h, n, QStringLiteral("--geocoded"), QStringLiteral("2"), goodPath}},
        {"UnknownOption", {fit, w, n, h, n, QStringLiteral("--scale"), QStringLiteral("2"), goodPath}},
        {"OptionWithoutValue", {fit, w, n, goodPath, h}},
        {"UnknownTransform", {fit, w, n, h, n, QStringLiteral("--transform"), QStringLiteral("poly4"), goodPath}},
        {"UnknownFitCrs", {fit, w, n, h, n, QStringLiteral("--fit-crs=EPSG:999999"), goodPath}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pName);
        const CliResult run = RunCli(c.m_Args);
        EXPECT_EQ(run.m_nExitCode, c.m_Args.size() == 6 && c.m_Args[2] == n ? 1 : 2); // 2: a wrong command line
        EXPECT_FALSE(run.m_StdErr.trimmed().isEmpty());
        EXPECT_TRUE(run.m_StdOut.isEmpty()) << run.m_StdOut.toStdString();
    }
    // The same file and arguments, well formed, succeed.
    EXPECT_EQ(RunCli({fit, w, n, h, n, goodPath}).m_nExitCode, 0);
}

TEST_F(FitCommand, BadFieldsAreQuotedShortAndPrintable)
{
    const QString w = QStringLiteral("--width"), h = QStringLiteral("--height");
    const QString fit = QStringLiteral("fit"), n = QStringLiteral("1000");
    const QString huge = WritePoints("latitude,longitude,x,y\n" + QByteArray(5'000'000, 'x') + ",10,0.1,0.2\n");
    static const char nulCsv[] = "latitude,longitude,x,y\n4\0\x01x,10,0.1,0.2\n";
    const QString nul = WritePoints(QByteArray(nulCsv, sizeof nulCsv - 1));
    const QString good = WritePoints(PointsCsv(m_Grid.Points(0.0, 0.0)));
    const struct {
        const char* m_pName;
        QStringList m_Args;
        QString m_strFirstLine; ///< the first line on standard error, whole
    } cases[] = {
        {"a field of five million characters", {fit, w, n, h, n, huge},
         QStringLiteral("varnel-cli fit: %1 line 2: '%2... (5000000 characters)' is not a number").arg(huge, QString(80, QLatin1Char('x')))},
        {"a NUL and a control character inside a field", {fit, w, n, h, n, nul},
         QStringLiteral("varnel-cli fit: %1 line 2: '4\\x00\\x01x' is not a number").arg(nul)},
        {"an escape sequence as the width", {fit, w, QStringLiteral("12\x1b[2J"), h, n, good},
         QStringLiteral("varnel-cli fit: --width must be a positive whole number of pixels, not '12\\x1b[2J'")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pName);
        const CliResult run = RunCli(c.m_Args);
        EXPECT_EQ(run.m_nExitCode, c.m_Args[2] == n ? 1 : 2); // the width's mistake is the command line's
        EXPECT_EQ(QString::fromUtf8(run.m_StdErr.left(run.m_StdErr.indexOf('\n'))), c.m_strFirstLine);
        EXPECT_LT(run.m_StdErr.size(), 1000);
    }
}

} // namespace
