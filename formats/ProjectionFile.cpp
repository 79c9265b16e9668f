#include "formats/ProjectionFile.h"

#include "formats/CHuffmanTree.h"
#include "formats/FormatMessages.h"
#include "formats/HuffmanDecoder.h"
#include "imaging/PictureClaims.h"
#include "imaging/PictureService.h"
#include "platform/BinaryIO.h"
#include "platform/FileIO.h"
#include "platform/MemoryBudget.h"
#include "platform/LargeMemory.h"
#include "platform/WorkerPool.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

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
std::optional<UiMessage> Impossible(const ProjectionContents& contents, const QString& flavour, bool hasPayload)
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
    else if (!hasPayload)
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

/// The encoder's slices when a payload is streamed: small enough for a few per piece, large
/// enough that placing them costs nothing.
constexpr std::uint32_t kStreamSliceBytes = std::uint32_t(1) << 20;

/// 2 MB a thread: a piece is written while it is still in the caches, and the threads share it
/// with little left over at its end. At most 12 MB: the pieces waiting to be written and the one
/// being coded, with the decoder's blocks on 8 threads, then stay well under 100 MB.
qsizetype PieceBytes(const StreamPieces& pieces)
{
    if (pieces.m_nPieceBytes > 0)
        return pieces.m_nPieceBytes;
    return std::min<qsizetype>((qsizetype(2) << 20) * WorkerPool::Shared().Threads(), qsizetype(12) << 20);
}

/// Hands pieces to a sink on a thread of its own, in order, so that writing overlaps coding.
/// Up to kPiecesBehind pieces may wait for the sink: a piece that happens to take longer to write
/// than the next takes to code then holds nothing up, where with one the coding threads stood
/// idle for a few milliseconds a piece. A piece handed on must stay as it is until kPiecesBehind
/// more have been handed on, or Finish has returned; coders take turns with kBuffers buffers.
class SinkBehind {
public:
    static constexpr int kPiecesBehind = 2;
    static constexpr int kBuffers = kPiecesBehind + 1;

    explicit SinkBehind(const ByteSink& sink) : m_Sink(sink)
    {
        try {
            m_Thread = std::thread([this] { WriteInTurn(); });
        } catch (const std::system_error&) {
            // No thread to be had (a tight memory limit): Hand writes each piece itself.
        }
    }
    ~SinkBehind() { Stop(); }
    SinkBehind(const SinkBehind&) = delete;
    SinkBehind& operator=(const SinkBehind&) = delete;

    void Hand(const char* data, qsizetype size)
    {
        if (!m_Thread.joinable()) {
            m_Sink(data, size);
            return;
        }
        std::unique_lock lock(m_Mutex);
        m_Queue.push_back({data, size});
        ++m_nHanded;
        m_Changed.notify_all();
        m_Changed.wait(lock, [this] { return m_nWritten + kPiecesBehind >= m_nHanded; });
    }
    /// Waits until every piece handed on is through the sink; what the sink threw is thrown here.
    void Finish()
    {
        Stop();
        if (m_Failure)
            std::rethrow_exception(std::exchange(m_Failure, nullptr));
    }

private:
    struct Piece {
        const char* m_pData;
        qsizetype m_nSize;
    };

    void WriteInTurn()
    {
        std::unique_lock lock(m_Mutex);
        for (;;) {
            m_Changed.wait(lock, [this] { return m_bStopping || !m_Queue.empty(); });
            if (m_Queue.empty())
                return;
            const Piece piece = m_Queue.front();
            lock.unlock();
            try {
                if (!m_Failure)
                    m_Sink(piece.m_pData, piece.m_nSize);
            } catch (...) {
                m_Failure = std::current_exception(); // the pieces after it are passed over
            }
            lock.lock();
            m_Queue.pop_front();
            ++m_nWritten;
            m_Changed.notify_all();
        }
    }

    void Stop()
    {
        if (!m_Thread.joinable())
            return;
        {
            const std::lock_guard lock(m_Mutex);
            m_bStopping = true;
            m_Changed.notify_all();
        }
        m_Thread.join();
    }

    const ByteSink& m_Sink;
    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    std::deque<Piece> m_Queue; ///< handed on and not yet through the sink, the first being written
    std::uint64_t m_nHanded = 0;
    std::uint64_t m_nWritten = 0;
    bool m_bStopping = false;
    std::exception_ptr m_Failure; ///< written by the thread before it is joined, read after
    std::thread m_Thread;
};

/// What follows a GPF or DPF header: the lengths and byte counts, checked against the file; the
/// compressed bytes start at m_nDataAt.
struct DpfLayout {
    std::uint32_t m_nCompressed = 0;
    std::uint32_t m_nLength = 0;
    std::uint32_t m_nCounts[CHuffmanTree::kLeafCount] = {};
    qsizetype m_nDataAt = 0;
};

bool ReadDpfLayout(const QByteArray& file, ProjectionContents& contents, DpfLayout& layout, UiMessage& error)
{
    BinaryReader in(file);
    std::uint32_t headerLength = 0;
    std::uint16_t fixed1 = 0, fixed2 = 0;
    std::uint8_t variant = 0;
    std::uint32_t fixed3 = 0;
    if (!in.Read(headerLength) || !in.Read(contents.m_nTag) || !in.Read(fixed1) || !in.Read(fixed2) ||
        !in.Read(variant)) {
        error = Damaged();
        return false;
    }
    if (variant != 0 && variant != 1) {
        error = {QStringLiteral("Unsupported DPF Filetype. May be for a different product."), kInvalidFile,
                 MB_OK | MB_ICONERROR};
        return false;
    }
    contents.m_nVariant = variant;
    bool ok = ReadCoefficients(in, contents.m_dGeoCoef) && in.Read(fixed3) && in.Read(layout.m_nCompressed) &&
              in.Read(layout.m_nLength);
    for (std::uint32_t& count : layout.m_nCounts)
        ok = ok && in.Read(count);
    // Every code is at least one bit long, so the compressed bytes bound the payload; a count
    // beyond that is damage, and refusing it early avoids allocating for a payload that is not there.
    if (!ok || layout.m_nCompressed > in.Remaining() ||
        std::uint64_t(layout.m_nLength) > std::uint64_t(layout.m_nCompressed) * 8 || layout.m_nLength < kMinimumBmpPayload) {
        error = Damaged();
        return false;
    }
    layout.m_nDataAt = in.Position();
    return true;
}

/// The refusals that depend on the decoded payload, from its first kMinimumBmpPayload bytes.
bool CheckDpfPicture(ProjectionContents& contents, const QByteArray& head, UiMessage& error)
{
    BinaryReader bmp(head);
    bmp.Seek(18);
    bmp.Read(contents.m_nWidth);
    bmp.Read(contents.m_nHeight);
    // The size drives the view's and the output's arithmetic: a negative one is damage.
    if (contents.m_nWidth < 0 || contents.m_nHeight < 0) {
        error = Damaged();
        return false;
    }
    if (std::optional<UiMessage> refusal = Impossible(contents, QStringLiteral("GPF or DPF"), !head.isEmpty())) {
        error = *refusal;
        return false;
    }
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
    ProjectionContents contents;
    DpfLayout layout;
    if (!ReadDpfLayout(file, contents, layout, error))
        return std::nullopt;
    const std::uint32_t length = layout.m_nLength;
    // The payload may be up to eight times the file: its memory is checked before it is made.
    if (const std::optional<QString> shortfall = CheckMemory(length)) {
        error = {*shortfall, kInvalidFile, MB_OK | MB_ICONERROR};
        return std::nullopt;
    }
    contents.m_nCompressedBytes = layout.m_nCompressed;

    CHuffmanTree tree;
    tree.BuildTree(layout.m_nCounts);
    contents.m_Payload = QByteArray(static_cast<qsizetype>(length), Qt::Uninitialized);
    CommitMemory(contents.m_Payload.data(), length);
    bool exhausted = false;
    const auto* source = reinterpret_cast<const std::uint8_t*>(file.constData()) + layout.m_nDataAt;
    const std::uint32_t decoded = tree.Decode(source, layout.m_nCompressed, length,
                                              reinterpret_cast<std::uint8_t*>(contents.m_Payload.data()), &exhausted);
    if (exhausted || decoded != length) {
        error = Damaged();
        return std::nullopt;
    }
    if (!progress.Report(1, 1))
        return std::nullopt; // cancelled: nothing to say
    if (!CheckDpfPicture(contents, contents.m_Payload.left(kMinimumBmpPayload), error))
        return std::nullopt;
    return contents;
}

std::optional<ProjectionContents> StreamDpfProjection(const QByteArray& file, UiMessage& error, const ByteSink& sink,
                                                      const StreamPieces& pieces, const Progress& progress)
{
    ProjectionContents contents;
    DpfLayout layout;
    if (!ReadDpfLayout(file, contents, layout, error))
        return std::nullopt;
    const std::uint32_t length = layout.m_nLength;
    contents.m_nCompressedBytes = layout.m_nCompressed;

    // The parallel decoder takes a piece at a time, each going on from the bit where the one
    // before ended; a piece's values go out before the next is decoded into the same buffer.
    CHuffmanTree tree;
    tree.BuildTree(layout.m_nCounts);
    tree.SetParallelism(pieces.m_Parallelism);
    const HuffmanDecoder decoder(tree, reinterpret_cast<const std::uint8_t*>(file.constData()) + layout.m_nDataAt,
                                 layout.m_nCompressed);
    // The buffers take turns: pieces are written out while the next is decoded.
    const auto piece = static_cast<std::uint32_t>(std::min<qsizetype>(PieceBytes(pieces), length));
    std::unique_ptr<std::uint8_t[]> buffers[SinkBehind::kBuffers];
    for (std::unique_ptr<std::uint8_t[]>& buffer : buffers)
        buffer.reset(new std::uint8_t[piece]);
    SinkBehind behind(sink);
    QByteArray head;
    std::uint64_t bit = 0;
    for (std::uint32_t done = 0, turn = 0; done < length; turn = (turn + 1) % SinkBehind::kBuffers) {
        const std::uint32_t count = std::min(piece, length - done);
        std::uint8_t* buffer = buffers[turn].get();
        bool exhausted = false;
        if (decoder.Decode(count, buffer, &exhausted, bit, &bit) != count || exhausted) {
            error = Damaged();
            return std::nullopt;
        }
        const auto* values = reinterpret_cast<const char*>(buffer);
        if (head.size() < kMinimumBmpPayload)
            head.append(values, std::min<qsizetype>(count, kMinimumBmpPayload - head.size()));
        behind.Hand(values, count);
        done += count;
        if (pieces.m_Done)
            pieces.m_Done(layout.m_nDataAt + qsizetype(bit / 8));
        if (!progress.Report(done, length))
            return std::nullopt; // cancelled: nothing to say
    }
    behind.Finish();
    if (!CheckDpfPicture(contents, head, error))
        return std::nullopt;
    return contents;
}

void StreamDpfPayload(const std::uint8_t* payload, std::uint32_t length, const ByteSink& sink, const StreamPieces& pieces)
{
    // The payload is cut into slices of one size (the last takes the rest) and the slices into
    // pieces: first each piece's slices are counted, then, the tree built from the counts, each
    // piece's slices are encoded together into the bytes of the output they own.
    const auto sliceBytes = static_cast<std::uint32_t>(std::clamp<qsizetype>(PieceBytes(pieces), 8, kStreamSliceBytes));
    const std::size_t slicesPerPiece = std::max<std::size_t>(1, std::size_t(PieceBytes(pieces) / sliceBytes));
    const std::size_t slices = std::max<std::size_t>(1, length / sliceBytes);
    auto pieceEnd = [&](std::size_t first) { return std::min(slices, first + slicesPerPiece); };
    auto sliceBegin = [&](std::size_t slice) { return slice == slices ? length : std::uint32_t(slice * sliceBytes); };

    CHuffmanTree::SliceCounts counted;
    std::uint32_t counts[CHuffmanTree::kLeafCount] = {};
    for (std::size_t first = 0; first < slices; first = pieceEnd(first)) {
        CHuffmanTree::SliceCounts part;
        part.m_nSliceBytes = sliceBytes;
        std::uint32_t partCounts[CHuffmanTree::kLeafCount];
        const std::uint32_t begin = sliceBegin(first), end = sliceBegin(pieceEnd(first));
        CHuffmanTree::CountBytes(payload + begin, end - begin, partCounts, pieces.m_Parallelism.m_nThreads, &part);
        counted.m_Counts.insert(counted.m_Counts.end(), part.m_Counts.begin(), part.m_Counts.end());
        for (int v = 0; v < CHuffmanTree::kLeafCount; ++v)
            counts[v] += partCounts[v];
        if (pieces.m_Done)
            pieces.m_Done(end);
    }
    counted.m_nSliceBytes = sliceBytes;
    CHuffmanTree tree;
    tree.BuildTree(counts);
    tree.SetParallelism(pieces.m_Parallelism);
    const std::vector<std::uint64_t> firstBits = tree.SliceFirstBits(counted);

    QByteArray lengths;
    BinaryWriter out(lengths);
    out.WriteUInt32(static_cast<std::uint32_t>((firstBits.back() + 7) / 8));
    out.WriteUInt32(length);
    for (std::uint32_t count : tree.Counts())
        out.WriteUInt32(count);
    sink(lengths.constData(), lengths.size());

    // The buffers take turns: pieces are written out while the next is encoded.
    std::vector<std::uint8_t> buffers[SinkBehind::kBuffers];
    SinkBehind behind(sink);
    for (std::size_t first = 0, turn = 0; first < slices; first = pieceEnd(first), turn = (turn + 1) % SinkBehind::kBuffers) {
        const std::size_t last = pieceEnd(first);
        std::vector<std::uint8_t>& coded = buffers[turn];
        coded.resize(std::size_t((firstBits[last] + 7) / 8 - (firstBits[first] + 7) / 8));
        // The bits above the last code in the final byte are not significant; keep them 0 so
        // that the same map always gives the same file.
        if (last == slices && !coded.empty())
            coded.back() = 0;
        tree.EncodeSlices(payload, length, counted, firstBits, first, last, coded.data());
        behind.Hand(reinterpret_cast<const char*>(coded.data()), qsizetype(coded.size()));
        if (pieces.m_Done)
            pieces.m_Done(sliceBegin(last));
    }
}

void StreamCpfProjection(std::int32_t width, std::int32_t height, const GeoCoefficients& coefficients,
                         const std::uint8_t* payload, std::uint32_t length, const ByteSink& sink, const StreamPieces& pieces)
{
    QByteArray header;
    WriteCpfProjection(header, width, height, coefficients, QByteArray());
    header.chop(4); // the length of no payload
    BinaryWriter out(header);
    out.WriteUInt32(length);
    sink(header.constData(), header.size());
    const auto piece = static_cast<std::uint32_t>(std::max<qsizetype>(1, PieceBytes(pieces)));
    for (std::uint32_t done = 0; done < length;) {
        const std::uint32_t count = std::min(piece, length - done);
        sink(reinterpret_cast<const char*>(payload) + done, count);
        done += count;
        if (pieces.m_Done)
            pieces.m_Done(done);
    }
}

std::optional<ProjectionContents> ParseCpfProjection(const QByteArray& file, UiMessage& error, bool copyPayload)
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
    // A copied payload's memory is checked before it is made.
    if (!copyPayload) {
        contents.m_Payload = QByteArray::fromRawData(file.constData() + in.Position(), static_cast<qsizetype>(length));
    } else if (const std::optional<QString> shortfall = CheckMemory(length)) {
        error = {*shortfall, kInvalidFile, MB_OK | MB_ICONERROR};
        return std::nullopt;
    } else {
        in.ReadBytes(static_cast<qsizetype>(length), contents.m_Payload);
    }
    if (std::optional<UiMessage> refusal = Impossible(contents, QStringLiteral("CPF"), !contents.m_Payload.isEmpty())) {
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
