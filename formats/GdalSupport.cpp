#include "formats/GdalSupport.h"

#include <cpl_error.h>
#include <gdal.h>

#include <mutex>

void RegisterGdal()
{
    static std::once_flag once;
    std::call_once(once, [] { GDALAllRegister(); });
}

QuietGdal::QuietGdal()
{
    CPLPushErrorHandler(CPLQuietErrorHandler);
    CPLErrorReset();
}

QuietGdal::~QuietGdal()
{
    CPLPopErrorHandler();
}
