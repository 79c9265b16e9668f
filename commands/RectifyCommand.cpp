#include "commands/RectifyCommand.h"

#include "commands/CommandMessages.h"
#include "commands/FileNaming.h"
#include "document/CQuilletDoc.h"
#include "geo/GeoFit.h"
#include "imaging/BitmapExport.h"
#include "platform/FileFilter.h"
#include "platform/FileIO.h"
#include "platform/MemoryBudget.h"
#include "platform/UiServices.h"

#include <QFileInfo>
#include <QPainter>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

const QString kCaption = QStringLiteral("Export Rectified");

UiMessage Refusal(const QString& text)
{
    return {text, kCaption, MB_OK | MB_ICONSTOP};
}

/// count finite numbers separated by commas (or blanks), or nothing.
std::optional<std::vector<double>> Numbers(const QString& text, int count)
{
    const QStringList fields = text.split(QRegularExpression(QStringLiteral("[,;\\s]+")), Qt::SkipEmptyParts);
    if (fields.size() != count)
        return std::nullopt;
    std::vector<double> numbers;
    for (const QString& field : fields) {
        bool ok = false;
        const double value = field.toDouble(&ok);
        if (!ok || !std::isfinite(value))
            return std::nullopt;
        numbers.push_back(value);
    }
    return numbers;
}

/// The map's pixels as a 24-bit section: a TIFF map's current image as it is, a picture drawn at
/// its size on white paper. Null, with why in refusal, when there are none or memory is short.
std::unique_ptr<DIBSection> PictureSection(const CQuilletDoc& doc, const DIBSection*& section, UiMessage& refusal)
{
    section = nullptr;
    const DIBSection* image = doc.IsTiffMap() ? doc.CurrentImageSection() : nullptr;
    if (image && image->m_nBitCount == 24 && image->m_pBits) {
        section = image;
        return nullptr;
    }
    const int width = doc.ImageWidth(), height = doc.ImageHeight();
    if ((!image && !doc.Picture().m_pPicture) || width <= 0 || height <= 0) {
        refusal = Refusal(NoPictureToWriteText());
        return nullptr;
    }
    // The drawn picture at 32 bits and the section at 24.
    if (const std::optional<QString> shortfall = CheckMemory(std::int64_t(width) * height * 7)) {
        refusal = OutOfMemoryMessage(*shortfall);
        return nullptr;
    }
    QImage rgb;
    if (image) {
        rgb = RgbImageOf(*image).convertToFormat(QImage::Format_RGB32);
    } else {
        rgb = QImage(width, height, QImage::Format_RGB32);
        rgb.fill(Qt::white); // transparent parts of a picture show as white paper
        QPainter painter(&rgb);
        doc.Picture().Draw(&painter, rgb.rect());
    }
    auto made = std::make_unique<DIBSection>();
    made->Create(24, rgb.width(), rgb.height());
    if (rgb.isNull() || !made->m_pBits) {
        refusal = OutOfMemoryMessage();
        return nullptr;
    }
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* from = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        std::uint8_t* to = made->StoredRow(rgb.height() - 1 - y); // rows are stored bottom-up
        for (int x = 0; x < rgb.width(); ++x) {
            *to++ = static_cast<std::uint8_t>(qBlue(from[x]));
            *to++ = static_cast<std::uint8_t>(qGreen(from[x]));
            *to++ = static_cast<std::uint8_t>(qRed(from[x]));
        }
    }
    section = made.get();
    return made;
}

/// The map's geo-coding for work on another thread: a model fitted to the points is fitted once
/// more, as the document's serves the window's read-out on this thread meanwhile.
std::shared_ptr<const GeoCoding> GeoCodingForWork(const CQuilletDoc& doc)
{
    std::shared_ptr<const GeoCoding> coding = doc.MapGeoCoding();
    if (!coding || !doc.ChosenModel() || coding.get() != doc.ChosenModel())
        return coding;
    GeoCodingAnalysis own = GeoCoding::Analyse(doc.Choice().m_eTransform, doc.Choice().m_FitCrs,
                                               GeoControlPoints(doc.ControlPoints(), doc.ImageWidth(), doc.ImageHeight()),
                                               false);
    return own.m_GeoCoding ? std::make_shared<const GeoCoding>(std::move(*own.m_GeoCoding)) : nullptr;
}

} // namespace

QString DefaultRectifiedCrs(const CQuilletDoc& doc)
{
    const std::shared_ptr<const GeoCoding> coding = doc.MapGeoCoding();
    if (!coding)
        return {};
    return coding->Crs().GetKind() == FitCrs::Kind::Geographic ? QStringLiteral("EPSG:4326") : coding->Crs().Text();
}

std::optional<RectifyOptions> RectifyOptionsOf(const RectifyEntry& entry, UiMessage& refusal)
{
    RectifyOptions options;
    options.m_strCrs = entry.m_strCrs.trimmed();
    options.m_eResampling = static_cast<RectifyResampling>(std::clamp(entry.m_nResampling, 0, 3));
    if (!entry.m_strResolution.trimmed().isEmpty()) {
        std::optional<std::vector<double>> size = Numbers(entry.m_strResolution, 2);
        if (!size)
            if ((size = Numbers(entry.m_strResolution, 1)))
                size->push_back(size->front());
        if (!size || !((*size)[0] > 0) || !((*size)[1] > 0)) {
            refusal = Refusal(QStringLiteral("The resolution must be one or two positive numbers in the units of the "
                                             "coordinate system: XRES,YRES."));
            return std::nullopt;
        }
        options.m_Resolution = std::array<double, 2>{(*size)[0], (*size)[1]};
    }
    if (!entry.m_strExtent.trimmed().isEmpty()) {
        const std::optional<std::vector<double>> box = Numbers(entry.m_strExtent, 4);
        if (!box || !((*box)[0] < (*box)[2]) || !((*box)[1] < (*box)[3])) {
            refusal = Refusal(QStringLiteral("The extent must be four numbers in the units of the coordinate system, "
                                             "each minimum below its maximum: XMIN,YMIN,XMAX,YMAX."));
            return std::nullopt;
        }
        options.m_Extent = std::array<double, 4>{(*box)[0], (*box)[1], (*box)[2], (*box)[3]};
    }
    if (!entry.m_strMaskPath.trimmed().isEmpty()) {
        QByteArray bytes;
        QString error;
        if (!ReadWholeFile(entry.m_strMaskPath.trimmed(), bytes, &error)) {
            refusal = Refusal(error);
            return std::nullopt;
        }
        options.m_strMask = QString::fromUtf8(bytes);
    }
    return options;
}

CommandResult ExportRectified(const CQuilletDoc& doc, const RectifyOptions& options, const QString& path,
                              RectifiedGrid* grid, const Progress& progress)
{
    const std::shared_ptr<const GeoCoding> coding = GeoCodingForWork(doc);
    if (!doc.IsMapLoaded() || !coding)
        return CommandResult::Refused(NeedMorePointsMessage());
    UiMessage refusal;
    const DIBSection* section = nullptr;
    const std::unique_ptr<DIBSection> made = PictureSection(doc, section, refusal);
    if (!section)
        return CommandResult::Refused(refusal);
    const RectifyResult result = RectifyMap(*section, *coding, options, path, progress);
    if (result.m_bCancelled || progress.Cancelled())
        return CommandResult::Cancelled();
    if (!result.m_Grid)
        return CommandResult::Refused(Refusal(result.m_strRefusal));
    if (grid)
        *grid = *result.m_Grid;
    return CommandResult::Done();
}

void OnExportRectified(CQuilletDoc& doc)
{
    if (!doc.IsGeoCoded())
        return;
    RectifyEntry entry;
    entry.m_strCrs = DefaultRectifiedCrs(doc);
    std::optional<RectifyOptions> options;
    while (Ui().RunRectifyDialog(entry) == IDOK) {
        UiMessage refusal;
        if ((options = RectifyOptionsOf(entry, refusal)))
            break;
        ShowMessage(refusal);
    }
    if (!options)
        return;
    const FileDialogResult chosen = ChooseFileToWrite(
        doc, kCaption, QStringLiteral("GeoTIFF (*.tif)|*.tif||"), ProposedName(doc, QStringLiteral(".tif")),
        [](const FileDialogResult& answer) { return ReplaceExtensionAtFirstDot(answer.m_strPath, QStringLiteral(".tif")); });
    if (!chosen.Accepted())
        return;
    const QString path = chosen.m_strPath;
    CommandResult result;
    Ui().RunLongWork(QStringLiteral("Rectifying %1").arg(DisplayText(QFileInfo(path).fileName())),
                     [&](Progress progress) { result = ExportRectified(doc, *options, path, nullptr, progress); });
    ShowMessages(result.m_Messages);
    if (result.m_bDone)
        Ui().ShowStatus(WroteText(path));
}
