#include "ProjReference.h"

#include <proj.h>

#include <gtest/gtest.h>

LatLon ReferenceInverse(const std::string& projectedCrs, const std::string& geographicCrs, double easting,
                        double northing)
{
    LatLon result;
    PJ_CONTEXT* context = proj_context_create();
    PJ* transformation = proj_create_crs_to_crs(context, projectedCrs.c_str(), geographicCrs.c_str(), nullptr);
    PJ* lonLat = transformation ? proj_normalize_for_visualization(context, transformation) : nullptr;
    EXPECT_NE(lonLat, nullptr) << projectedCrs << " -> " << geographicCrs;
    if (lonLat) {
        const PJ_COORD c = proj_trans(lonLat, PJ_FWD, proj_coord(easting, northing, 0.0, 0.0));
        result.m_dLongitude = c.xy.x;
        result.m_dLatitude = c.xy.y;
    }
    proj_destroy(lonLat);
    proj_destroy(transformation);
    proj_context_destroy(context);
    return result;
}
