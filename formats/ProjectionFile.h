#pragma once
// Projection files: one geo-coded map picture with the sixteen coefficients that tie latitude and
// longitude to its pixels. GPF and DPF carry a BMP compressed with the Huffman coder; CPF carries
// a picture file of any kind uncompressed, with its width and height.

#include "formats/CHuffmanTree.h"
#include "formats/FileKinds.h"
#include "geo/GeoModel.h"
#include "platform/Progress.h"
#include "platform/UiMessage.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>


constexpr std::uint32_t kGpfTag = 0x47504620u; ///< " FPG" stored little-endian
constexpr std::uint32_t kDpfTag = 0x44504620u; ///< " FPD"
constexpr std::uint32_t kCpfTag = 0x43504620u; ///< " FPC"
constexpr std::uint32_t kDpfHeaderLength = 145;
constexpr qsizetype kDpfPayloadOffset = kDpfHeaderLength + 4 + 4 + 1024;
constexpr qsizetype kCpfPayloadOffset = 4 + 4 + 4 + 128 + 4;

/// Appends the 145-byte GPF/DPF header (length, tag, fixed values, variant 0, coefficients).
void WriteDpfHeader(QByteArray& file, std::uint32_t tag, const GeoCoefficients& coefficients);
/// Appends what follows the header: compressed length, payload length, the 256 byte counts and
/// the payload compressed with a tree built from those counts.
void WriteDpfPayload(QByteArray& file, const QByteArray& payload, const Progress& progress = {});
/// A GPF or DPF as the output command writes it: the header, then the temporary BMP file at
/// tempBmpPath compressed. When that file cannot be read the projection file keeps only its
/// header. Returns false in that case.
bool WriteDpfProjection(QByteArray& file, std::uint32_t tag, const GeoCoefficients& coefficients,
                        const QString& tempBmpPath);
/// A whole CPF: tag, width and height, coefficients, payload length and payload.
void WriteCpfProjection(QByteArray& file, std::int32_t width, std::int32_t height,
                        const GeoCoefficients& coefficients, const QByteArray& payload);

/// Where a streamed projection file or payload goes: each piece in order.
using ByteSink = std::function<void(const char* data, qsizetype size)>;

/// How a long payload is streamed: the piece coded at a time, and who hears of the input that is
/// done with, so that a map of any size is coded in a few pieces' memory.
struct StreamPieces {
    /// Payload bytes coded at a time (rounded to a whole number of the encoder's slices); 0 for
    /// 4 MB a thread of the shared pool, at most 12 MB.
    qsizetype m_nPieceBytes = 0;
    /// Told after each piece how many bytes from the start of the input are no longer needed
    /// (MappedFile::Release gives them back).
    std::function<void(qsizetype)> m_Done;
    /// How the coder shares out the work (never changes the bytes).
    CHuffmanTree::Parallelism m_Parallelism;
};

/// WriteDpfPayload for a payload too large to be coded in one go: the same bytes, made and
/// handed to sink a piece at a time. The payload is read twice, counted and then coded.
void StreamDpfPayload(const std::uint8_t* payload, std::uint32_t length, const ByteSink& sink,
                      const StreamPieces& pieces = {});
/// WriteCpfProjection, handed to sink a piece at a time.
void StreamCpfProjection(std::int32_t width, std::int32_t height, const GeoCoefficients& coefficients,
                         const std::uint8_t* payload, std::uint32_t length, const ByteSink& sink,
                         const StreamPieces& pieces = {});

/// What a projection file holds, read and checked before anything of the document changes.
struct ProjectionContents {
    std::uint32_t m_nTag = 0;
    std::optional<int> m_nVariant;          ///< GPF/DPF only
    std::int32_t m_nWidth = 0;              ///< GPF/DPF: from the BMP payload; CPF: the size fields
    std::int32_t m_nHeight = 0;
    GeoCoefficients m_dGeoCoef{};
    QByteArray m_Payload;                   ///< the picture file (decompressed for GPF/DPF)
    std::optional<std::uint32_t> m_nCompressedBytes; ///< GPF/DPF only
};

/// Reads and checks a GPF or DPF held in memory (only the variant byte decides: a GPF reads like a
/// DPF). Refuses an unsupported variant, any file that is cut short or whose counts or
/// compressed data do not add up, a payload whose picture has a negative size, and one larger
/// than the memory available; also what no map can have: a picture of no size, coefficients
/// that are not numbers or that place the map nowhere on the earth (GeoModel::CanDescribeMap).
/// On refusal returns nothing and fills error. Cancelled through progress, returns nothing and
/// leaves error alone.
std::optional<ProjectionContents> ParseDpfProjection(const QByteArray& file, UiMessage& error,
                                                     const Progress& progress = {});
/// ParseDpfProjection for a payload too large to hold: the same checks and refusals, but the
/// payload goes to sink piece by piece as it is decoded, all of it before the refusals that
/// depend on it; m_Payload stays empty. Nothing is refused for the memory available.
std::optional<ProjectionContents> StreamDpfProjection(const QByteArray& file, UiMessage& error, const ByteSink& sink,
                                                      const StreamPieces& pieces = {}, const Progress& progress = {});
/// Reads and checks a CPF held in memory: a negative width or height is damage, and what no map
/// can have is refused as for a GPF or DPF, an empty payload too (a DPF read as a CPF is caught
/// here), and so is a width or height that its picture, as the picture's header gives its size,
/// cannot have been worked on at (StoredSizeMismatch). The payload's pixels are not decoded.
/// With copyPayload false, m_Payload refers to the file's own bytes instead of a copy (file must
/// outlive it), and nothing is refused for the memory available.
std::optional<ProjectionContents> ParseCpfProjection(const QByteArray& file, UiMessage& error, bool copyPayload = true);

/// The complaint about a projection file whose model cannot be inverted (it cannot read out
/// positions), captioned as Open has always captioned it for the kind; nothing for a sound model.
std::optional<UiMessage> ProjectionGeoRefusal(const ProjectionContents& contents, ProjectionKind kind);

/// The temporary BMP written next to a projection file while it is made: the projection file's
/// name in upper case with its extension replaced by "00010001002.BMP", in the same folder
/// (town.gpf gives TOWN00010001002.BMP).
QString ProjectionTempBmpPath(const QString& projectionPath);
