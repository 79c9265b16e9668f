// Fuzz target for the TIFF import through our own code over libtiff and libgeotiff: the input is
// written to a file (libtiff reads paths), listed, imported whole as the New command imports a
// map, its georeference read, and the images installed in a document, which frames a GeoTIFF
// through its projection.

#include "FuzzHarness.h"

#include "document/CQuilletDoc.h"
#include "formats/FileKinds.h"
#include "formats/TiffImport.h"
#include "formats/TiffMessageScope.h"
#include "platform/MemoryBudget.h"

namespace {

constexpr std::int64_t kTiffMemoryCeiling = std::int64_t(96) << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Pages of a few megapixels still decode; larger ones meet the memory check, so that the
    // run spends its time on damaged data rather than on decoding whole scans.
    SetMemoryCeiling(kTiffMemoryCeiling);
    const QString path = FuzzInputFile(data, size);
    TiffMessageScope messages;
    std::vector<TIFFSubImage> list;
    ScanTiffImages(list, path);
    GeoTiffInfo info;
    ReadGeoTiffInfo(path, info);
    TiffImport import = ImportTiffImages(path);
    if (!import.m_Images.empty()) {
        CQuilletDoc doc;
        doc.InstallTiffMap(path, MapKind::Tif, import.TakeImages(), import.MapGeoreference());
    }
    return 0;
}
