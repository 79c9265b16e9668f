// Fuzz target for the control-point import: QGIS .points files (with a CRS line that PROJ reads,
// or none) and the CSV of varnel-cli fit. The picture's size comes from the input's length (the
// bytes stay a plain points file), so that points fall inside and outside pictures of many
// shapes. A file that reads gives points with finite coordinates, and points written back as CSV
// read back to themselves.

#include "FuzzHarness.h"

#include "formats/ControlPointFile.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const int width = 1 + 37 * static_cast<int>(size % 97);
    const int height = 1 + 29 * static_cast<int>(size % 89);
    const QByteArray bytes = FuzzBytes(data, size);
    const Parsed<std::vector<CDataGeo>> points = ParseControlPoints(bytes, width, height);
    if (!points) {
        if (points.Why().isEmpty())
            std::abort(); // a refusal always says why
        return 0;
    }
    std::vector<ExchangedPoint> exchanged;
    for (const CDataGeo& point : *points) {
        if (!std::isfinite(point.m_dLatitude) || !std::isfinite(point.m_dLongitude) || !std::isfinite(point.m_dImageX) ||
            !std::isfinite(point.m_dImageY))
            std::abort();
        // Back to degrees and pixels as the export writes them.
        exchanged.push_back({point.LatitudeDegrees(), point.LongitudeDegrees(), point.PixelColumn(width),
                             point.PixelRow(height), 0.0, 0.0});
    }
    const Parsed<std::vector<CDataGeo>> again = ParseControlPoints(EncodePointsCsv(exchanged, width, height), width, height);
    if (!again || again->size() != points->size())
        std::abort();
    return 0;
}
