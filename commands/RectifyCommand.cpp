#include "commands/RectifyCommand.h"

#include "commands/CommandMessages.h"
#include "commands/ExportCommands.h"
#include "commands/FileNaming.h"
#include "document/CQuilletDoc.h"
#include "geo/GeoFit.h"
#include "platform/FileFilter.h"
#include "platform/FileIO.h"
#include "platform/MemoryBudget.h"
#include "platform/UiServices.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <cmath>
#include <new>

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
    // A system PROJ does not know is said while the dialog can still correct it.
    QString unknown;
    if (!FitCrs::Parse(options.m_strCrs, &unknown)) {
        refusal = Refusal(unknown);
        return std::nullopt;
    }
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

CommandResult WriteRectifiedMap(const CQuilletDoc& doc, const RectifyOptions& options, const QString& path,
                              RectifiedGrid* grid, const Progress& progress)
{
    const std::shared_ptr<const GeoCoding> coding = doc.MapGeoCoding();
    if (!doc.IsMapLoaded() || !coding)
        return CommandResult::Refused(NeedMorePointsMessage());
    // The drawn picture at 24 bits beside the picture itself.
    if (const std::optional<QString> shortfall = CheckMemory(std::int64_t(doc.ImageWidth()) * doc.ImageHeight() * 3))
        return CommandResult::Refused(OutOfMemoryMessage(*shortfall));
    DIBSection drawn;
    const DIBSection* section = nullptr;
    try {
        section = MapSection(doc, drawn);
    } catch (const std::bad_alloc&) {
        return CommandResult::Refused(OutOfMemoryMessage());
    }
    if (!section)
        return CommandResult::Refused(Refusal(NoPictureToWriteText()));
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
                     [&](Progress progress) { result = WriteRectifiedMap(doc, *options, path, nullptr, progress); });
    ShowMessages(result.m_Messages);
    if (result.m_bDone)
        Ui().ShowStatus(WroteText(path));
}
