#include "Commands.h"

#include <QLatin1String>

namespace {

// The options that choose how a map is geo-coded, and what they take.
#define CHOICE_OPTIONS "[--transform T] [--fit-crs CRS]"
#define CHOICE_DETAILS                                                                                             \
    "  T: how pixels and ground are related: affine (the default), helmert, projective, poly2, poly3 or tps\n"      \
    "  CRS: the coordinate system the transformation is fitted in: geographic (the default), utm (the\n"             \
    "  zone of the points' centre), auto (the projection the map is drawn in, searched among the families\n"      \
    "  maps are drawn in), an EPSG code, a PROJ string or WKT; points stay in WGS 84 degrees\n"
// The same for a command that opens saved work.
#define SAVED_CHOICE_DETAILS CHOICE_DETAILS "  Without them a map is geo-coded as its workspace keeps it.\n"

const CliCommand kCommands[] = {
    {"export",
     "FILE --format geotiff|world|points|csv -o OUT [--range left,right,top,bottom] " CHOICE_OPTIONS,
     "write the geo-coding as GIS tools read it", SAVED_CHOICE_DETAILS},
    {"fit", "--width W --height H [--coef c0,...,c15] [--geocoded 0|1] " CHOICE_OPTIONS " POINTS.csv",
     "fit the geo-coding model to control points",
     "  POINTS.csv: header latitude,longitude,x,y; latitude and longitude in decimal degrees,\n"
     "  x and y in frame units (fraction of the width from the left, of the height from the bottom)\n" CHOICE_DETAILS},
    {"geocode", "PICTURE --points FILE -o WORKSPACE " CHOICE_OPTIONS,
     "make a workspace of a map and its control points (a .points or CSV file)", CHOICE_DETAILS},
    {"geotiff", "FILE", "import a TIFF map and report its images and georeferences"},
    {"import-points", "FILE --width W --height H", "read control points from a .points or CSV file"},
    {"info", "FILE", "report what a workspace (.pws) or projection file (.gpf, .dpf, .cpf) holds"},
    {"locate", "FILE --pixel COLUMN,ROW " CHOICE_OPTIONS,
     "latitude and longitude of a picture pixel, as the status bar reads it out", SAVED_CHOICE_DETAILS},
    {"output", "WORKSPACE --format gpf|dpf|cpf [--range left,right,top,bottom] " CHOICE_OPTIONS " -o OUT",
     "write the projection file Output A Geo-Map writes", SAVED_CHOICE_DETAILS},
    {"overlay",
     "FILE [--reference REF] [--graticule DEG] [--color RRGGBB] " CHOICE_OPTIONS " -o OUT.png",
     "draw reference lines and a graticule over a geo-coded map",
     "  --reference: a vector file OGR reads (GeoJSON, GeoPackage, Shapefile, KML) whose lines,\n"
     "  polygon outlines and points are drawn, or a georeferenced raster whose outline is drawn;\n"
     "  --graticule: meridians and parallels every DEG degrees (0 for an automatic interval);\n"
     "  --color: the lines' colour, by default FF0000; lines are 1 pixel wide and not anti-aliased,\n"
     "  so every drawn pixel has exactly that colour; OUT is a PNG of the map at its own size\n" SAVED_CHOICE_DETAILS},
    {"pack", "--format gpf|dpf|cpf --coef c0,...,c15 PICTURE -o OUT", "write a projection file of a picture"},
    {"picture", "FILE", "load a picture file as the picture service does"},
    {"recovery", "FILE", "report what a recovery file left by an interrupted run holds"},
    {"rectify",
     "FILE -o OUT [--crs CRS] [--resampling near|bilinear|cubic|lanczos] [--resolution XRES,YRES] "
     "[--extent XMIN,YMIN,XMAX,YMAX] [--mask FILE] " CHOICE_OPTIONS,
     "write a geo-coded map as a north-up GeoTIFF",
     "  --crs: the GeoTIFF's coordinate system (a CRS as below), by default the one the map is fitted\n"
     "  in (EPSG:4326 for geographic); --resolution and --extent are in its units, by default the\n"
     "  map's own resolution and all of it; --mask: a polygon in the map's pixels (GeoJSON or WKT)\n"
     "  outside which nothing is written\n" SAVED_CHOICE_DETAILS},
    {"unpack", "FILE [--as dpf|cpf] [-o PAYLOAD]", "read a projection file as Open does"},
};

const CliOption kOptions[] = {
    {"--help", "show this help, or a command's with varnel-cli COMMAND --help"},
    {"--version", "show the version"},
    {"--progress", "write the progress of long work on standard error, in whole percentages"},
};

} // namespace

std::span<const CliOption> CliOptions()
{
    return kOptions;
}

std::span<const CliCommand> CliCommands()
{
    return kCommands;
}

const CliCommand* FindCliCommand(std::string_view name)
{
    for (const CliCommand& command : kCommands)
        if (name == command.m_Name)
            return &command;
    return nullptr;
}

QString CliUsage(const char* name)
{
    const CliCommand* command = FindCliCommand(name);
    return command != nullptr
        ? QStringLiteral("usage: varnel-cli %1 %2").arg(QLatin1String(command->m_Name), QLatin1String(command->m_Synopsis))
        : QStringLiteral("usage: varnel-cli COMMAND ARGS...");
}
