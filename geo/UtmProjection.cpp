#include "geo/UtmProjection.h"

#include <proj.h>

#include <cmath>
#include <cstdio>
#include <utility>

namespace {

/// Each argument is formatted into a buffer of this many characters, terminating zero included.
constexpr std::size_t kArgumentSize = 24;

/// Degrees per radian, as the read-out has always used it.
constexpr double kDegreesPerRadian = 57.2957795129;

/// PROJ reports errors through the context's logger even when the caller checks every result;
/// the view handles a rejected zone or ellipsoid itself, so nothing is to be printed.
void DiscardProjMessage(void*, int, const char*) {}

std::string FormatArgument(const char* format, const char* text)
{
    char buffer[kArgumentSize];
    std::snprintf(buffer, sizeof buffer, format, text);
    return buffer;
}

std::string FormatArgument(const char* format, int value)
{
    char buffer[kArgumentSize];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

} // namespace

UtmProjection::UtmProjection(UtmProjection&& other) noexcept
    : m_pContext(std::exchange(other.m_pContext, nullptr)),
      m_pProjection(std::exchange(other.m_pProjection, nullptr)),
      m_Arguments(std::move(other.m_Arguments))
{
    other.m_Arguments.clear();
}

UtmProjection& UtmProjection::operator=(UtmProjection&& other) noexcept
{
    if (this != &other) {
        FreeUtmProjection(*this);
        m_pContext = std::exchange(other.m_pContext, nullptr);
        m_pProjection = std::exchange(other.m_pProjection, nullptr);
        m_Arguments = std::move(other.m_Arguments);
        other.m_Arguments.clear();
    }
    return *this;
}

UtmProjection::~UtmProjection()
{
    FreeUtmProjection(*this);
}

const char* EllipsoidForDatum(int datum)
{
    switch (datum) {
    case 0:
    case 6:
        return "WGS84";
    case 1:
        return "clrk66";
    case 5:
        return "WGS72";
    default:
        return "";
    }
}

bool InitUtmProjection(UtmProjection& handle, const char* ellipsoidName, int zone, bool south)
{
    FreeUtmProjection(handle);

    handle.m_Arguments.push_back(FormatArgument("%s", "proj=utm"));
    handle.m_Arguments.push_back(FormatArgument("zone=%d", zone));
    handle.m_Arguments.push_back(FormatArgument("ellps=%s", ellipsoidName ? ellipsoidName : "WGS84"));
    handle.m_Arguments.push_back(FormatArgument("%s", "units=m"));
    if (south)
        handle.m_Arguments.push_back(FormatArgument("%s", "south"));

    // A context of our own, so that silencing PROJ does not touch anybody else's messages.
    PJ_CONTEXT* context = proj_context_create();
    if (!context)
        return false;
    proj_log_level(context, PJ_LOG_NONE);
    proj_log_func(context, nullptr, DiscardProjMessage);

    std::vector<char*> argv;
    argv.reserve(handle.m_Arguments.size());
    for (std::string& argument : handle.m_Arguments)
        argv.push_back(argument.data());
    // PROJ 9 rejects by itself every list the view can produce that it cannot use: an unknown
    // or empty ellipsoid name and a zone outside 1..60 all give null here.
    PJ* projection = proj_create_argv(context, static_cast<int>(argv.size()), argv.data());
    if (!projection) {
        proj_context_destroy(context);
        return false;
    }
    handle.m_pContext = context;
    handle.m_pProjection = projection;
    return true;
}

bool UtmToGeographic(const UtmProjection& handle, double easting, double northing, double& latitude,
                     double& longitude)
{
    if (!handle.m_pProjection)
        return false;
    const PJ_COORD result = proj_trans(handle.m_pProjection, PJ_INV, proj_coord(easting, northing, 0.0, 0.0));
    if (!std::isfinite(result.lp.lam) || !std::isfinite(result.lp.phi))
        return false;
    // A projection made from a classic argument list answers the inverse in radians; should a
    // PROJ release ever answer in degrees, take them as they are.
    const double factor = proj_degree_output(handle.m_pProjection, PJ_INV) ? 1.0 : kDegreesPerRadian;
    longitude = result.lp.lam * factor;
    latitude = result.lp.phi * factor;
    return true;
}

void FreeUtmProjection(UtmProjection& handle)
{
    if (handle.m_pProjection)
        proj_destroy(handle.m_pProjection);
    if (handle.m_pContext)
        proj_context_destroy(handle.m_pContext);
    handle.m_pProjection = nullptr;
    handle.m_pContext = nullptr;
    handle.m_Arguments.clear();
}
