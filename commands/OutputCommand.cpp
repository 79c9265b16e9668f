#include "commands/OutputCommand.h"

#include "commands/CommandMessages.h"
#include "commands/ExportCommands.h"
#include "commands/FileNaming.h"
#include "document/CQuilletDoc.h"
#include "formats/ProjectionFile.h"
#include "formats/Rectify.h"
#include "imaging/BitmapExport.h"
#include "imaging/Blit.h"
#include "platform/DisplayText.h"
#include "platform/FileFilter.h"
#include "platform/FileIO.h"
#include "platform/MemoryBudget.h"
#include "platform/TemporarySideFile.h"
#include "platform/UiServices.h"
#include "platform/WinTypes.h"
#include "view/core/ViewState.h"

#include <QFileInfo>
#include <QPainter>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

namespace {

const QString kInvalidFile = InvalidFileCaption();
const QString kInvalidRange = QStringLiteral("Invalid Range");

/// The message of a file that cannot be written, with the system's reason when there is one.
UiMessage FileNotOpened(int errorNumber = 0)
{
    return {WithSystemReason(CannotOpenFileText(), errorNumber), kInvalidFile,
            MB_OKCANCEL | MB_ICONERROR};
}

/// A write that failed with errorNumber: stopped by the user, or a file that could not be written.
CommandResult WriteFailed(int errorNumber)
{
    return errorNumber == ECANCELED ? CommandResult::Cancelled() : CommandResult::Refused(FileNotOpened(errorNumber));
}

UiMessage NoPicture()
{
    return {NoPictureToWriteText(), kInvalidFile, MB_OK | MB_ICONERROR};
}

/// What the command writes: the picture's size, the coefficients and the picture file.
struct OutputPicture {
    int m_nWidth = 0;
    int m_nHeight = 0;
    GeoCoefficients m_dCoef{};
    QByteArray m_CpfPayload; ///< the picture file a CPF carries
    QByteArray m_BmpPayload; ///< the BMP file a GPF or DPF carries
};

/// The memory the output takes at its peak: the whole map's picture file and its compressed
/// copy, and for a range the drawn cut-out, its captured rows and their file, each 4 bytes a pixel.
std::int64_t OutputMemory(const CQuilletDoc& doc, const std::optional<OutputRange>& range, int w, int h)
{
    const std::int64_t whole = std::int64_t(std::max(doc.ImageWidth(), 0)) * std::max(doc.ImageHeight(), 0) * 6;
    return whole + (range ? std::int64_t(w) * h * 12 : 0);
}

/// The document holds a picture the command can write.
bool HasPicture(const CQuilletDoc& doc)
{
    if (doc.IsPictureMap())
        return doc.Picture().m_pPicture != nullptr;
    if (doc.IsTiffMap()) {
        const DIBSection* image = doc.CurrentImageSection();
        return image && image->m_nBitCount == 24;
    }
    return false;
}

/// A TIFF map: the current image becomes the picture to write, as a BMP made through the
/// temporary file, and a GeoTIFF frame gives the coefficients (for the document to keep once the
/// file is written). Done, refused for a failed write, or cancelled.
CommandResult PrepareTiffMap(const CQuilletDoc& doc, TemporarySideFile& temp, CPicture& picture, OutputPicture& out,
                             std::optional<GeoModel>& frameModel, const Progress& progress)
{
    const QByteArray encoded = EncodeDibSectionBmp(*doc.CurrentImageSection());
    if (encoded.isEmpty())
        return CommandResult::Refused(FileNotOpened(EFBIG));
    if (!progress.Report(1, 3))
        return CommandResult::Cancelled();
    if (const int error = temp.Write(encoded))
        return WriteFailed(error);
    if (!progress.Report(2, 3))
        return CommandResult::Cancelled();
    // The file holds what was just written: the encoded bytes are the BMP.
    const QByteArray& bmp = encoded;
    out.m_CpfPayload = doc.MapFileData();
    picture.LoadFromMemory(bmp);
    if (picture.m_pPicture)
        out.m_CpfPayload = bmp;
    out.m_BmpPayload = bmp;

    if (doc.HasGeoTiffFrame()) {
        // The frame is a plain latitude/longitude grid over the image: north up, east right.
        frameModel =
            GeoModel::FromFrame(doc.Model(), doc.GeoOrigin(), doc.GeoExtent(), doc.ImageWidth(), doc.ImageHeight());
        out.m_dCoef = frameModel->Coefficients();
    }
    return CommandResult::Done();
}

/// The range cut-out: the part of the picture drawn at its pixel size, captured as a BMP and
/// passed once through the picture service; the offsets move to address the cut-out. Done, or
/// refused for a failed write or for drawing memory that cannot be had.
CommandResult CutOutRange(const CQuilletDoc& doc, const CPicture& source, const OutputRange& range, int w, int h,
                          TemporarySideFile& temp, OutputPicture& out)
{
    // A write that fails for want of memory is told as the drawing memory is.
    const auto failed = [](int error) {
        return CommandResult::Refused(error == ENOMEM ? OutOfMemoryMessage() : FileNotOpened(error));
    };
    QImage memory = CreateCompatibleMemoryContext(nullptr, w, h);
    if (memory.isNull())
        return CommandResult::Refused(OutOfMemoryMessage());
    {
        QPainter painter(&memory);
        // The picture service counts vertical fractions from the bottom edge.
        source.DrawPart(&painter, QRect(0, 0, w, h), range.m_dLeft, range.m_dRight, 1.0 - range.m_dBottom,
                        1.0 - range.m_dTop);
    }
    QByteArray packed;
    WritePackedBitmapFile(packed, CaptureBitmap(memory, nullptr, BI_RGB));
    memory = QImage();
    if (packed.isEmpty())
        return CommandResult::Refused(OutOfMemoryMessage());
    if (const int error = temp.Write(packed))
        return failed(error);
    // The file holds what was just written: the packed bytes are the BMP.
    QByteArray bmp = std::move(packed);
    CPicture cutOut;
    cutOut.LoadFromMemory(bmp);
    if (cutOut.m_pPicture) {
        // What the picture service saves of it is what the file carries.
        bmp = cutOut.m_pPicture->SaveAsBmp();
        if (const int error = temp.Write(bmp))
            return failed(error);
    }
    out.m_nWidth = w;
    out.m_nHeight = h;
    out.m_BmpPayload = bmp;
    out.m_CpfPayload = bmp;
    out.m_dCoef = GeoModel(out.m_dCoef)
                      .ShiftedForRange((doc.ImageWidth() - 1) * range.m_dLeft, (doc.ImageHeight() - 1) * range.m_dTop)
                      .Coefficients();
    return CommandResult::Done();
}

/// Codes the picture into a projection file of flavour (a CPF carries the picture file, a GPF or
/// DPF its BMP) and writes it whole; the picture is let go once coded, before the file is written.
CommandResult CodeAndWrite(OutputPicture picture, OutputFlavour flavour, const QString& path, const Progress& progress)
{
    QByteArray file;
    if (flavour == OutputFlavour::Cpf) {
        WriteCpfProjection(file, picture.m_nWidth, picture.m_nHeight, picture.m_dCoef, picture.m_CpfPayload);
    } else {
        if (picture.m_BmpPayload.isEmpty())
            return CommandResult::Refused(NoPicture());
        WriteDpfHeader(file, flavour == OutputFlavour::Gpf ? kGpfTag : kDpfTag, picture.m_dCoef);
        WriteDpfPayload(file, picture.m_BmpPayload, progress.Part(0.4, 0.8));
    }
    picture = OutputPicture();
    if (progress.Cancelled())
        return CommandResult::Cancelled();
    int error = 0;
    if (!WriteWholeFile(path, file, nullptr, &error, progress.Part(0.8, 1.0)))
        return WriteFailed(error);
    return CommandResult::Done();
}

/// The part of a rectified picture that holds the range of the map: the north-up box around the
/// range's outline, whole pixels, within the picture. Nothing when the outline cannot be placed.
std::optional<QRect> RectifiedRange(const CQuilletDoc& doc, const GeoCoding& coding, const RectifiedPicture& rectified,
                                    const OutputRange& range)
{
    constexpr int kStepsPerSide = 32;
    const double left = doc.ImageWidth() * range.m_dLeft, right = doc.ImageWidth() * range.m_dRight;
    const double top = doc.ImageHeight() * range.m_dTop, bottom = doc.ImageHeight() * range.m_dBottom;
    double minColumn = HUGE_VAL, maxColumn = -HUGE_VAL, minRow = HUGE_VAL, maxRow = -HUGE_VAL;
    for (int k = 0; k <= kStepsPerSide; ++k) {
        const double t = double(k) / kStepsPerSide;
        for (const QPointF pixel : {QPointF(left + t * (right - left), top), QPointF(left + t * (right - left), bottom),
                                    QPointF(left, top + t * (bottom - top)), QPointF(right, top + t * (bottom - top))}) {
            const std::optional<GeoPosition> at = coding.PixelToGeo(pixel.x(), pixel.y());
            if (!at)
                return std::nullopt;
            const double column = (at->m_dLongitude - rectified.m_dWest) / rectified.m_dDegreesPerColumn;
            const double row = (rectified.m_dNorth - at->m_dLatitude) / rectified.m_dDegreesPerRow;
            minColumn = std::min(minColumn, column);
            maxColumn = std::max(maxColumn, column);
            minRow = std::min(minRow, row);
            maxRow = std::max(maxRow, row);
        }
    }
    const QRect box(QPoint(static_cast<int>(std::floor(minColumn)), static_cast<int>(std::floor(minRow))),
                    QPoint(static_cast<int>(std::ceil(maxColumn)) - 1, static_cast<int>(std::ceil(maxRow)) - 1));
    const QRect within = box.intersected(QRect(0, 0, rectified.m_Picture.m_nWidth, rectified.m_Picture.m_nHeight));
    return within.isEmpty() ? std::nullopt : std::optional<QRect>(within);
}

/// The pixels of part of a 24-bit section, as a section of their own.
DIBSection CutSection(const DIBSection& whole, const QRect& part)
{
    DIBSection cut;
    cut.Create(24, part.width(), part.height());
    if (!cut.m_pBits)
        throw std::bad_alloc();
    for (int y = 0; y < part.height(); ++y) {
        // Stored rows run bottom-up in both.
        const std::uint8_t* from = whole.StoredRow(whole.m_nHeight - 1 - (part.top() + y)) + 3 * part.left();
        std::memcpy(cut.StoredRow(part.height() - 1 - y), from, 3 * std::size_t(part.width()));
    }
    return cut;
}

/// The projection file of a map geo-coded with a chosen model: an affine relation to latitude and
/// longitude cannot describe the picture as it is, so the picture written is the map rectified to
/// a latitude and longitude grid (a range, the box around it), which the coefficients describe
/// exactly.
CommandResult WriteRectifiedOutput(const CQuilletDoc& doc, const GeoCoding& coding,
                                   const std::optional<OutputRange>& range, OutputFlavour flavour, const QString& path,
                                   const Progress& progress)
{
    DIBSection drawn;
    const DIBSection* section = MapSection(doc, drawn);
    if (!section)
        return CommandResult::Refused(NoPicture());
    RectifiedPicture rectified = RectifyToLatLong(*section, coding, RectifyResampling::Bilinear, progress.Part(0.0, 0.4));
    drawn.Release();
    if (rectified.m_bCancelled)
        return CommandResult::Cancelled();
    if (!rectified.m_strRefusal.isEmpty())
        return CommandResult::Refused({rectified.m_strRefusal, kInvalidFile, MB_OK | MB_ICONERROR});
    GeoModel model = GeoModel::FromAffine(0.0, 1.0 / rectified.m_dDegreesPerColumn,
                                          -rectified.m_dWest / rectified.m_dDegreesPerColumn,
                                          -1.0 / rectified.m_dDegreesPerRow, 0.0,
                                          rectified.m_dNorth / rectified.m_dDegreesPerRow);
    if (range) {
        const std::optional<QRect> part = RectifiedRange(doc, coding, rectified, *range);
        if (!part)
            return CommandResult::Refused({QStringLiteral("The selected range lies where the map has no position. "
                                                          "Drag a range over the map."),
                                           kInvalidRange, MB_OK | MB_ICONINFORMATION});
        rectified.m_Picture = CutSection(rectified.m_Picture, *part);
        model = model.ShiftedForRange(part->left(), part->top());
    }
    OutputPicture picture;
    picture.m_nWidth = rectified.m_Picture.m_nWidth;
    picture.m_nHeight = rectified.m_Picture.m_nHeight;
    picture.m_dCoef = model.Coefficients();
    picture.m_BmpPayload = EncodeDibSectionBmp(rectified.m_Picture);
    if (picture.m_BmpPayload.isEmpty())
        return CommandResult::Refused(OutOfMemoryMessage());
    rectified.m_Picture.Release();
    picture.m_CpfPayload = picture.m_BmpPayload; // shared, not copied
    return CodeAndWrite(std::move(picture), flavour, path, progress);
}

} // namespace

std::optional<UiMessage> RangeSize(const CQuilletDoc& doc, const OutputRange& range, int& w, int& h)
{
    if (!range.m_bDragged)
        return UiMessage{QStringLiteral("No range has been selected. Drag the range to output over the map, "
                                        "or switch the range tool off to output the whole map."),
                         kInvalidRange, MB_OK | MB_ICONINFORMATION};
    const auto fraction = [](double value) { return value >= 0.0 && value <= 1.0; };
    const double width = std::fabs((range.m_dRight - range.m_dLeft) * (1.0 - doc.ImageWidth()));
    const double height = std::fabs((range.m_dBottom - range.m_dTop) * (1.0 - doc.ImageHeight()));
    if (!(fraction(range.m_dLeft) && fraction(range.m_dRight) && fraction(range.m_dTop) && fraction(range.m_dBottom) &&
          width >= 1.0 && height >= 1.0 && width <= INT32_MAX && height <= INT32_MAX))
        return UiMessage{QStringLiteral("The selected range is less than one pixel wide or high. "
                                        "Drag a larger range over the map."),
                         kInvalidRange, MB_OK | MB_ICONINFORMATION};
    w = static_cast<int>(width);
    h = static_cast<int>(height);
    return std::nullopt;
}

std::optional<OutputRange> OutputRangeOf(const ViewState* view)
{
    if (!view)
        return std::nullopt;
    return view->SelectedOutputRange();
}

void OnOutputGeoMap(CQuilletDoc& doc, const ViewState* view)
{
    if (!doc.IsMapLoaded())
        return;
    const OutputFlavour last = doc.OutputFormat().value_or(OutputFlavour::Gpf);
    const FileDialogResult chosen = ChooseFileToWrite(
        doc, QStringLiteral("Save Projection File"), OutputFilter(), ProposedName(doc, OutputExtension(last)),
        [](const FileDialogResult& answer) {
            const std::optional<OutputFlavour> flavour = OutputFlavourForEntry(answer.m_nFilterIndex);
            return flavour ? ReplaceExtensionAtFirstDot(answer.m_strPath, OutputExtension(*flavour)) : QString();
        });
    if (!chosen.Accepted())
        return;
    doc.SetOutputFormat(OutputFlavourForEntry(chosen.m_nFilterIndex));
    OutputProjectionFile(doc, view, chosen.m_strPath);
}

bool OutputProjectionFile(CQuilletDoc& doc, const ViewState* view, const QString& path)
{
    if (!doc.IsMapLoaded() || !doc.OutputFormat())
        return false;
    const std::optional<OutputRange> range = OutputRangeOf(view);
    const OutputFlavour flavour = *doc.OutputFormat();
    CommandResult result;
    std::optional<GeoModel> frameModel;
    Ui().RunLongWork(WritingTitle(path), [&](Progress progress) {
        result = WriteProjectionFile(doc, range, flavour, path, progress, frameModel);
    });
    if (result.m_bCancelled)
        return false;
    if (result.m_bDone && frameModel)
        doc.AdoptModel(*frameModel);
    ShowMessages(result.m_Messages);
    if (result.m_bDone) {
        Ui().ShowStatus(WroteText(path));
        Ui().NoteRecentFile(path);
    }
    return result.m_bDone;
}

CommandResult WriteProjectionOutput(CQuilletDoc& doc, const std::optional<OutputRange>& range, OutputFlavour flavour,
                                    const QString& path, const Progress& progress)
{
    std::optional<GeoModel> frameModel;
    CommandResult result = WriteProjectionFile(doc, range, flavour, path, progress, frameModel);
    if (result.m_bDone && frameModel)
        doc.AdoptModel(*frameModel);
    return result;
}

namespace {

/// WriteProjectionFile without its guard against running out of memory.
CommandResult WriteOutput(const CQuilletDoc& doc, const std::optional<OutputRange>& range, OutputFlavour flavour,
                          const QString& path, const Progress& progress, std::optional<GeoModel>& frameModel)
{
    // Every refusal comes before anything is written, so that a refused output leaves no file.
    if (!doc.IsGeoCoded())
        return CommandResult::Refused(NeedMorePointsMessage());
    int w = doc.ImageWidth();
    int h = doc.ImageHeight();
    if (range)
        if (std::optional<UiMessage> refusal = RangeSize(doc, *range, w, h))
            return CommandResult::Refused(std::move(*refusal));
    if (!HasPicture(doc))
        return CommandResult::Refused(NoPicture());
    if (doc.ChosenModel()) {
        // A model of its own: the output may run while the window reads out through the document's.
        const std::shared_ptr<const GeoCoding> coding = doc.MapGeoCoding();
        if (!coding)
            return CommandResult::Refused(NeedMorePointsMessage());
        return WriteRectifiedOutput(doc, *coding, range, flavour, path, progress);
    }
    if (const std::optional<QString> shortfall = CheckMemory(OutputMemory(doc, range, w, h)))
        return CommandResult::Refused(OutOfMemoryMessage(*shortfall));

    TemporarySideFile temp;
    OutputPicture picture;
    picture.m_nWidth = w;
    picture.m_nHeight = h;
    picture.m_dCoef = doc.GeoCoef();
    // The temporary BMP is needed where a picture is made: a TIFF image or a range cut-out.
    if (doc.IsTiffMap() || range)
        if (const int error = temp.Reserve(ProjectionTempBmpPath(path)))
            return CommandResult::Refused(FileNotOpened(error));
    const CPicture* source = &doc.Picture();
    CPicture tiffPicture;
    // Where the time goes: making the picture to write, coding it, writing the file.
    const Progress making = progress.Part(0.0, 0.4);
    if (doc.IsTiffMap()) {
        if (CommandResult made = PrepareTiffMap(doc, temp, tiffPicture, picture, frameModel, making); !made.m_bDone)
            return made;
        source = &tiffPicture;
    } else if (!range) {
        // A CPF carries the picture file as it was opened; a GPF or DPF the picture service's BMP
        // of it, which is also what it would save into the temporary file.
        picture.m_CpfPayload = doc.MapFileData();
        if (flavour != OutputFlavour::Cpf)
            picture.m_BmpPayload = doc.Picture().m_pPicture->SaveAsBmp();
    }
    if (range)
        if (CommandResult cut = CutOutRange(doc, *source, *range, w, h, temp, picture); !cut.m_bDone)
            return cut;
    if (!making.Report(1, 1))
        return CommandResult::Cancelled();

    return CodeAndWrite(std::move(picture), flavour, path, progress);
}

} // namespace

CommandResult WriteProjectionFile(const CQuilletDoc& doc, const std::optional<OutputRange>& range,
                                  OutputFlavour flavour, const QString& path, const Progress& progress,
                                  std::optional<GeoModel>& frameModel)
{
    if (!doc.IsMapLoaded())
        return {};
    try {
        return WriteOutput(doc, range, flavour, path, progress, frameModel);
    } catch (const std::bad_alloc&) {
        // The document changes only after the file is written, so it is as it was.
        frameModel.reset();
        return CommandResult::Refused(OutOfMemoryMessage());
    }
}
