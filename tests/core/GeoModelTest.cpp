// The geo-coding model's inverse, its form for a cut-out, its geotransform and the world file
// made from it, against values worked out by hand.

#include "formats/WorldFile.h"
#include "geo/GeoModel.h"

#include <QList>

#include <gtest/gtest.h>

TEST(GeoModel, InverseRangeShiftGeoTransformAndWorldFile)
{
    const struct {
        const char* name;
        GeoModel model;
        std::array<double, 6> geoTransform; ///< worked out by hand
    } cases[] = {
        // North up: 100 px per degree of longitude from 10 E, 200 px per degree of latitude from
        // 50 N at the top row.
        {"north up", GeoModel::FromAffine(0, 100, -1000, -200, 0, 10000), {10, 0.01, 0, 50, 0, -0.005}},
        // Rotated: column = 100 lat + 100 lon, row = -100 lat + 100 lon (determinant 20000):
        // lat = (col - row) / 200, lon = (col + row) / 200.
        {"rotated", GeoModel::FromAffine(100, 100, 0, -100, 100, 0), {0, 0.005, 0.005, 0, 0.005, -0.005}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<std::array<double, 6>> gt = c.model.GeoTransform();
        ASSERT_TRUE(gt);
        for (int i = 0; i < 6; ++i)
            EXPECT_NEAR((*gt)[i], c.geoTransform[i], 1e-12) << "GT" << i;
        // The inverse agrees with the geotransform and undoes the model.
        for (const QPointF pixel : {QPointF(0, 0), QPointF(37.5, 12.25), QPointF(-5, 400)}) {
            const std::optional<GeoPosition> at = c.model.Inverse(pixel.x(), pixel.y());
            ASSERT_TRUE(at);
            EXPECT_NEAR(at->m_dLongitude, (*gt)[0] + (*gt)[1] * pixel.x() + (*gt)[2] * pixel.y(), 1e-12);
            EXPECT_NEAR(at->m_dLatitude, (*gt)[3] + (*gt)[4] * pixel.x() + (*gt)[5] * pixel.y(), 1e-12);
            const QPointF back = c.model.Forward(at->m_dLatitude, at->m_dLongitude);
            EXPECT_NEAR(back.x(), pixel.x(), 1e-9);
            EXPECT_NEAR(back.y(), pixel.y(), 1e-9);
        }
        // A cut-out whose top-left corner is pixel (30, 40) of the whole picture: its pixel 0, 0
        // is the same place on the globe.
        const GeoModel cut = c.model.ShiftedForRange(30, 40);
        const GeoPosition whole = *c.model.Inverse(30, 40);
        const GeoPosition part = *cut.Inverse(0, 0);
        EXPECT_NEAR(part.m_dLatitude, whole.m_dLatitude, 1e-12);
        EXPECT_NEAR(part.m_dLongitude, whole.m_dLongitude, 1e-12);
        // The world file: A, D, B, E, then the centre of the top-left pixel; and back.
        const QList<QByteArray> lines = WorldFileText(*gt).trimmed().split('\n');
        ASSERT_EQ(lines.size(), 6);
        EXPECT_DOUBLE_EQ(lines[0].toDouble(), (*gt)[1]);
        EXPECT_DOUBLE_EQ(lines[1].toDouble(), (*gt)[4]);
        EXPECT_DOUBLE_EQ(lines[2].toDouble(), (*gt)[2]);
        EXPECT_DOUBLE_EQ(lines[3].toDouble(), (*gt)[5]);
        EXPECT_DOUBLE_EQ(lines[4].toDouble(), (*gt)[0] + (*gt)[1] / 2 + (*gt)[2] / 2);
        EXPECT_DOUBLE_EQ(lines[5].toDouble(), (*gt)[3] + (*gt)[4] / 2 + (*gt)[5] / 2);
        const std::optional<std::array<double, 6>> read = ParseWorldFile(WorldFileText(*gt));
        ASSERT_TRUE(read);
        for (int i = 0; i < 6; ++i)
            EXPECT_NEAR((*read)[i], (*gt)[i], 1e-15) << "GT" << i;
    }
    // A model that folds the globe onto a line has no inverse.
    EXPECT_FALSE(GeoModel::FromAffine(1, 2, 0, 2, 4, 0).GeoTransform());
    EXPECT_FALSE(GeoModel::FromAffine(1, 2, 0, 2, 4, 0).Inverse(1, 1));
}
