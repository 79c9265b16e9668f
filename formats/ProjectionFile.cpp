#include "formats/ProjectionFile.h"

#include "formats/CHuffmanTree.h"
#include "formats/FormatMessages.h"
#include "imaging/PictureClaims.h"
#include "imaging/PictureService.h"
#include "platform/BinaryIO.h"
#include "platform/FileIO.h"
#include "platform/MemoryBudget.h"
#include "platform/LargeMemory.h"

#include <QFileInfo>

#include <cmath>

namespace {

const QString kInvalidFile = InvalidFileCaption();
const QString kInvalidProjection = InvalidProjectionCaption();

/// The smallest picture file the readers can take a size from: a BMP's headers up to its height.
constexpr qsizetype kMinimumBmpPayload = 26;

UiMessage Damaged()
{
    return {QStringLiteral("The projection file is cut short or damaged. It cannot be read."), kInvalidFile,
            MB_OK | MB_ICONERROR};
}

/// The refusal of what no map can have: no size, no picture, or coefficients that are not
/// numbers or place the map nowhere near the earth. What a file read as the other flavour (a DPF
/// opened as a CPF) gives.
std::optional<UiMessage> Impossible(const ProjectionContents& contents, const QString& flavour)
{
    const QString why = QStringLiteral(" The file is damaged, or it is not a %1 file.").arg(flavour);
    QString text;
    if (!GeoModel(contents.m_dGeoCoef).CanDescribeMap(contents.m_nWidth, contents.m_nHeight))
        text = QStringLiteral("The geo-information in the projection file is impossible: its coefficients are not "
                              "numbers, or they place the map nowhere on the earth.");
    else if (contents.m_nWidth <= 0 || contents.m_nHeight <= 0)
        text = QStringLiteral("The projection file gives its map %1 x %2 pixels, a size no map has.")
                   .arg(contents.m_nWidth)
                   .arg(contents.m_nHeight);
    else if (contents.m_Payload.isEmpty())
        text = QStringLiteral("The projection file holds no picture.");
    else
        return std::nullopt;
    return UiMessage{text + why, kInvalidFile, MB_OK | MB_ICONERROR};
}

void WriteCoefficients(BinaryWriter& out, const GeoCoefficients& coefficients)
{
    for (double c : coefficients)
        out.WriteDouble(c);
}

bool ReadCoefficients(BinaryReader& in, GeoCoefficients& coefficients)
{
    for (double& c : coefficients)
        if (!in.Read(c))
            return false;
    return true;
}

} // namespace

void WriteDpfHeader(QByteArray& file, std::uint32_t tag, const GeoCoefficients& coefficients)
{
    BinaryWriter out(file);
    out.WriteUInt32(kDpfHeaderLength);
    out.WriteUInt32(tag);
    out.WriteUInt16(1);
    out.WriteUInt16(0);
    out.WriteUInt8(0); // variant
    WriteCoefficients(out, coefficients);
    out.WriteUInt32(0);
}

void WriteDpfPayload(QByteArray& file, const QByteArray& payload, const Progress& progress)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(payload.constData());
    const auto length = static_cast<std::uint32_t>(payload.size());
    std::uint32_t counts[CHuffmanTree::kLeafCount];
    CHuffmanTree::SliceCounts slices; // the slices the threads encode, counted as they are
    CHuffmanTree::CountBytes(bytes, length, counts, 0, &slices);
    CHuffmanTree tree;
    tree.BuildTree(counts);
    // The counts and the code lengths give the compressed size before a bit is written; a code
    // over the payload's own counts never needs more bytes than the payload.
    const std::uint64_t bits = tree.EncodedBits(counts);
    const auto compressed = static_cast<std::uint32_t>((bits + 7) / 8);

    BinaryWriter out(file);
    out.WriteUInt32(compressed);
    out.WriteUInt32(length);
    for (std::uint32_t count : tree.Counts())
        out.WriteUInt32(count);
    // Encode straight into the file's buffer, committed in one go and not cleared first: the
    // encoder writes every byte but the unused top bits of the last one.
    const qsizetype dataAt = file.size();
    file.reserve(dataAt + qsizetype(compressed));
    file.resize(dataAt + qsizetype(compressed));
    auto* data = reinterpret_cast<std::uint8_t*>(file.data()) + dataAt;
    CommitMemory(data, compressed);
    if (compressed != 0) {
        // The bits above the last code in the final byte are not significant; keep them 0 so
        // that the same map always gives the same file.
        data[compressed - 1] = 0;
    }
    tree.Encode(bytes, length, data, &slices);
    progress.Report(1, 1);
}

bool WriteDpfProjection(QByteArray& file, std::uint32_t tag, const GeoCoefficients& coefficients,
                        const QString& tempBmpPath)
{
    WriteDpfHeader(file, tag, coefficients);
    QByteArray payload;
    if (!ReadWholeFile(tempBmpPath, payload))
        return false;
    WriteDpfPayload(file, payload);
    return true;
}

void WriteCpfProjection(QByteArray& file, std::int32_t width, std::int32_t height,
                        const GeoCoefficients& coefficients, const QByteArray& payload)
{
    BinaryWriter out(file);
    out.WriteUInt32(kCpfTag);
    out.WriteInt32(width);
    out.WriteInt32(height);
    WriteCoefficients(out, coefficients);
    out.WriteUInt32(static_cast<std::uint32_t>(payload.size()));
    out.WriteBytes(payload);
}

std::optional<ProjectionContents> ParseDpfProjection(const QByteArray& file, UiMessage& error, const Progress& progress)
{
    BinaryReader in(file);
    ProjectionContents contents;
    std::uint32_t headerLength = 0;
    std::uint16_t fixed1 = 0, fixed2 = 0;
    std::uint8_t variant = 0;
    std::uint32_t fixed3 = 0;
    if (!in.Read(headerLength) || !in.Read(contents.m_nTag) || !in.Read(fixed1) || !in.Read(fixed2) ||
        !in.Read(variant)) {
        error = Damaged();
        return std::nullopt;
    }
    if (variant != 0 && variant != 1) {
        error = {QStringLiteral("Unsupported DPF Filetype. May be for a different product."), kInvalidFile,
                 MB_OK | MB_ICONERROR};
        return std::nullopt;
    }
    contents.m_nVariant = variant;
    std::uint32_t compressed = 0, length = 0;
    std::uint32_t counts[CHuffmanTree::kLeafCount] = {};
    bool ok = ReadCoefficients(in, contents.m_dGeoCoef) && in.Read(fixed3) && in.Read(compressed) && in.Read(length);
    for (std::uint32_t& count : counts)
        ok = ok && in.Read(count);
    // Every code is at least one bit long, so the compressed bytes bound the payload; a count
    // beyond that is damage, and refusing it early avoids allocating for a payload that is not there.
    if (!ok || compressed > in.Remaining() || std::uint64_t(length) > std::uint64_t(compressed) * 8 ||
        length < kMinimumBmpPayload) {
        error = Damaged();
        return std::nullopt;
    }
    // The payload may be up to eight times the file: its memory is checked before it is made.
    if (const std::optional<QString> shortfall = CheckMemory(length)) {
        error = {*shortfall, kInvalidFile, MB_OK | MB_ICONERROR};
        return std::nullopt;
    }
    contents.m_nCompressedBytes = compressed;

    CHuffmanTree tree;
    tree.BuildTree(counts);
    contents.m_Payload = QByteArray(static_cast<qsizetype>(length), Qt::Uninitialized);
    CommitMemory(contents.m_Payload.data(), length);
    bool exhausted = false;
    const auto* source = reinterpret_cast<const std::uint8_t*>(file.constData()) + in.Position();
    const std::uint32_t decoded = tree.Decode(source, compressed, length,
                                              reinterpret_cast<std::uint8_t*>(contents.m_Payload.data()), &exhausted);
    if (exhausted || decoded != length) {
        error = Damaged();
        return std::nullopt;
    }
    if (!progress.Report(1, 1))
        return std::nullopt; // cancelled: nothing to say
    BinaryReader bmp(contents.m_Payload);
    bmp.Seek(18);
    bmp.Read(contents.m_nWidth);
    bmp.Read(contents.m_nHeight);
    // The size drives the view's and the output's arithmetic: a negative one is damage.
    if (contents.m_nWidth < 0 || contents.m_nHeight < 0) {
        error = Damaged();
        return std::nullopt;
    }
    if (std::optional<UiMessage> refusal = Impossible(contents, QStringLiteral("GPF or DPF"))) {
        error = *refusal;
        return std::nullopt;
    }
    return contents;
}

std::optional<ProjectionContents> ParseCpfProjection(const QByteArray& file, UiMessage& error)
{
    BinaryReader in(file);
    ProjectionContents contents;
    std::uint32_t length = 0;
    if (!in.Read(contents.m_nTag) || !in.Read(contents.m_nWidth) || !in.Read(contents.m_nHeight) ||
        contents.m_nWidth < 0 || contents.m_nHeight < 0 || !ReadCoefficients(in, contents.m_dGeoCoef) ||
        !in.Read(length) || !in.Has(static_cast<qsizetype>(length))) {
        error = Damaged();
        return std::nullopt;
    }
    // The payload is copied out of the file: its memory is checked before it is made.
    if (const std::optional<QString> shortfall = CheckMemory(length)) {
        error = {*shortfall, kInvalidFile, MB_OK | MB_ICONERROR};
        return std::nullopt;
    }
    in.ReadBytes(static_cast<qsizetype>(length), contents.m_Payload);
    if (std::optional<UiMessage> refusal = Impossible(contents, QStringLiteral("CPF"))) {
        error = *refusal;
        return std::nullopt;
    }
    // The size fields alone say how large the map is: they must fit the picture the file holds.
    if (const std::optional<QSize> own = PictureFileSize(contents.m_Payload))
        if (const std::optional<QString> mismatch = StoredSizeMismatch(*own, contents.m_nWidth, contents.m_nHeight)) {
            error = {*mismatch, kInvalidFile, MB_OK | MB_ICONERROR};
            return std::nullopt;
        }
    return contents;
}

std::optional<UiMessage> ProjectionGeoRefusal(const ProjectionContents& contents, ProjectionKind kind)
{
    if (GeoModel(contents.m_dGeoCoef).IsInvertible())
        return std::nullopt;
    return UiMessage{
        QStringLiteral("The geo-information in the projection file is not right. Please do the projection again."),
        kind == ProjectionKind::Dpf ? kInvalidFile : kInvalidProjection, MB_OK | MB_ICONERROR};
}

QString ProjectionTempBmpPath(const QString& projectionPath)
{
    const QFileInfo info(projectionPath);
    QString name = info.fileName().toUpper();
    for (const char* extension : {".GPF", ".DPF", ".CPF"})
        if (name.endsWith(QLatin1String(extension)))
            name.chop(4);
    const QString folder = projectionPath.left(projectionPath.size() - info.fileName().size());
    return folder + name + QStringLiteral("00010001002.BMP");
}
