#pragma once
// The coordinate system a map's transformation is fitted in. Control points are always typed in
// WGS 84 latitude and longitude; an affine relation to latitude and longitude holds only for
// small areas and plate carree maps, while one in the map's own projection holds exactly.

#include "geo/Geodesy.h"

#include <QString>

#include <optional>
#include <vector>

class FitCrs {
public:
    enum class Kind {
        Geographic, ///< WGS 84 longitude and latitude in degrees, no projection
        Utm,        ///< the WGS 84 UTM zone of the points' centre, chosen when the points are known
        Defined,    ///< a system PROJ knows: an EPSG code, a PROJ string or WKT
        Auto,       ///< the projection the points' map is drawn in, found by searching the families
    };

    /// WGS 84 longitude and latitude: the default.
    FitCrs() = default;
    /// The system a command line or a settings file names: "geographic", "utm", "auto" (letter case
    /// aside) or any text PROJ makes a two-dimensional coordinate system of. Nothing, with a
    /// sentence quoting the text (at most 80 characters of it) in refusal, for another text.
    static std::optional<FitCrs> Parse(const QString& text, QString* refusal = nullptr);
    /// The definition of the UTM zone (north or south) that holds the position: "EPSG:32632".
    static FitCrs UtmZoneOf(const GeoPosition& centre);

    Kind GetKind() const { return m_eKind; }
    /// The text Parse reads back: "geographic", "utm", "auto" or the definition as given.
    QString Text() const;
    /// The system for these points: UTM becomes the zone of the middle of their extent (taken
    /// across the date line when it is narrower that way); the others stay as they are. Auto
    /// stays too: its search can refuse, so GeoCoding::Analyse runs it (SearchProjection).
    FitCrs Resolved(const std::vector<GeoPosition>& points) const;
    /// The definition PROJ is given: "EPSG:4326" for geographic, empty for an unresolved UTM or Auto, a
    /// PROJ string marked as a coordinate system ("+type=crs").
    QString Definition() const;

    bool operator==(const FitCrs&) const = default;

private:
    FitCrs(Kind kind, QString definition) : m_eKind(kind), m_strDefinition(std::move(definition)) {}

    Kind m_eKind = Kind::Geographic;
    QString m_strDefinition; ///< Defined: the text as given
};
