#pragma once
// The UTM inverse projection of a GeoTIFF image: the handle the view owns, its set-up from a
// zone and an ellipsoid name, and the conversion of easting and northing to latitude and longitude.

#include <string>
#include <vector>

struct pj_ctx;
struct PJconsts;

/// Owns one PROJ projection together with the private PROJ context it was made on; empty
/// (null) until InitUtmProjection succeeds. PROJ's own messages are switched off on that
/// context, so a rejected zone or ellipsoid never prints anything. Movable, not copyable.
class UtmProjection {
public:
    UtmProjection() = default;
    UtmProjection(const UtmProjection&) = delete;
    UtmProjection& operator=(const UtmProjection&) = delete;
    UtmProjection(UtmProjection&& other) noexcept;
    UtmProjection& operator=(UtmProjection&& other) noexcept;
    ~UtmProjection();

    /// True when no projection is set up.
    bool IsNull() const { return m_pProjection == nullptr; }
    explicit operator bool() const { return !IsNull(); }

    /// The arguments handed to PROJ by the last InitUtmProjection, in order, whether PROJ
    /// accepted them or not; empty after FreeUtmProjection.
    const std::vector<std::string>& Arguments() const { return m_Arguments; }

private:
    friend bool InitUtmProjection(UtmProjection&, const char*, int, bool);
    friend bool UtmToGeographic(const UtmProjection&, double, double, double&, double&);
    friend void FreeUtmProjection(UtmProjection&);

    pj_ctx* m_pContext = nullptr;       ///< PJ_CONTEXT: lives exactly as long as m_pProjection
    PJconsts* m_pProjection = nullptr;  ///< PJ
    std::vector<std::string> m_Arguments;
};

/// The ellipsoid name that datum code datum selects: 0 and 6 "WGS84", 1 "clrk66", 5 "WGS72",
/// every other code "" (no ellipsoid: the set-up then passes "ellps=" with nothing after it and
/// fails). Never null; an empty name is not the same as passing null to InitUtmProjection.
const char* EllipsoidForDatum(int datum);

/// Frees any projection in handle, then sets up the UTM projection of zone (1..60) on the
/// named ellipsoid from the arguments "proj=utm", "zone=<zone>", "ellps=<ellipsoidName>" (or
/// "ellps=WGS84" when ellipsoidName is null), "units=m", and "south" for a southern-hemisphere
/// zone (false northing 10 000 km). Returns true when PROJ accepted them; otherwise the handle
/// stays null (an unknown or empty ellipsoid name, a zone outside 1..60).
bool InitUtmProjection(UtmProjection& handle, const char* ellipsoidName, int zone, bool south = false);

/// Converts easting and northing (metres) with the inverse projection into latitude and
/// longitude (degrees, north and east positive, longitude within -180..180). Returns false,
/// leaving latitude and longitude unchanged, when the handle is null or the point cannot be
/// converted.
bool UtmToGeographic(const UtmProjection& handle, double easting, double northing, double& latitude,
                     double& longitude);

/// Frees the projection and its context; the handle is null afterwards. Harmless on a null handle.
void FreeUtmProjection(UtmProjection& handle);
