#pragma once
// Between WGS 84 latitude and longitude, in which control points are typed and positions are read
// out, and the coordinates of the system a transformation is fitted in.

#include "geo/FitCrs.h"

#include <QPointF>

#include <memory>
#include <optional>

struct FitCrsConversionState;

/// PROJ's conversion between WGS 84 and a resolved fit coordinate system, on a PROJ context of
/// its own whose messages stay quiet: one object serves one thread at a time. For Geographic
/// the coordinates are longitude and latitude themselves, without PROJ.
class FitCrsConversion {
public:
    /// Sets up the conversion; nothing, with the refusal Parse gives, when PROJ cannot convert
    /// between WGS 84 and the system (or it is an unresolved UTM).
    static std::optional<FitCrsConversion> Create(const FitCrs& crs, QString* refusal = nullptr);

    FitCrsConversion(FitCrsConversion&&) noexcept;
    FitCrsConversion& operator=(FitCrsConversion&&) noexcept;
    ~FitCrsConversion();

    /// The coordinates (x easting or longitude, y northing or latitude) of a WGS 84 position;
    /// nothing where the system has none (beyond a projection's domain).
    std::optional<QPointF> ToFit(const GeoPosition& position) const;
    /// The WGS 84 position of coordinates of the system; nothing where there is none.
    std::optional<GeoPosition> ToWgs84(const QPointF& xy) const;

private:
    FitCrsConversion();
    std::unique_ptr<FitCrsConversionState> m_pState; ///< null for Geographic
};
