// varnel-cli unpack: what a projection file holds, and its picture. The launcher runs it itself,
// so it needs nothing beyond the projection file's reader.

#include "CliBasics.h"
#include "Commands.h"
#include "Json.h"

#include "formats/FileKinds.h"
#include "formats/ProjectionFile.h"
#include "platform/DisplayText.h"
#include "platform/FileIO.h"
#include "platform/MappedFile.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

const char* FlavourName(std::uint32_t tag, ProjectionKind kind)
{
    if (kind == ProjectionKind::Cpf)
        return tag == kCpfTag ? "CPF" : "unknown";
    return tag == kGpfTag ? "GPF" : tag == kDpfTag ? "DPF" : "unknown";
}

} // namespace

// varnel-cli unpack FILE [--as dpf|cpf] [-o PAYLOAD]
// Reads a projection file as Open does and reports what it holds.
int RunUnpackCommand(const QStringList& args)
{
    const CliArguments cli(args, {QStringLiteral("--as"), QStringLiteral("-o")});
    if (!cli.Ok())
        return CliUsageFail("unpack", cli.m_strError);
    if (cli.m_Positional.size() != 1)
        return CliUsageFail("unpack", CliUsage("unpack"));
    if (const std::optional<QString> refusal = BinaryOutputRefusal(cli.Value(QStringLiteral("-o")), QStringLiteral("picture")))
        return CliUsageFail("unpack", *refusal);
    const QString path = cli.m_Positional.constFirst();
    const QString as = cli.Value(QStringLiteral("--as")).toLower();
    std::optional<ProjectionKind> kind;
    if (as == QStringLiteral("dpf"))
        kind = ProjectionKind::Dpf;
    else if (as == QStringLiteral("cpf"))
        kind = ProjectionKind::Cpf;
    else if (!as.isEmpty())
        return CliUsageFail("unpack", CliUsage("unpack"));
    else if (const std::optional<FileKind> named = FileKindFromExtension(path))
        kind = ProjectionKindOf(*named);
    if (!kind)
        return CliFail("unpack", QStringLiteral("%1: give --as dpf or --as cpf for a file not named .gpf, .dpf or .cpf")
                                     .arg(DisplayText(path)));
    return UnpackProjectionFile("unpack", path, *kind, cli.Value(QStringLiteral("-o")));
}

int UnpackProjectionFile(const char* command, const QString& path, ProjectionKind kind, const QString& payloadPath)
{
    // The picture written out never replaces the file it is read from.
    if (const std::optional<QString> refusal = OutputOverwritesInput({payloadPath}, {path}))
        return CliFail(command, *refusal);
    // Mapped, not copied into fresh memory, and read from front to back: the pages already
    // decoded or written out are given back as it goes.
    MappedFile file;
    QString error;
    if (!file.Open(path, &error, MappedFile::Access::FrontToBack))
        return CliFail(command, error);
    const QByteArray& bytes = file.Bytes();
    StreamPieces pieces;
    pieces.m_Done = [&file](qsizetype done) { file.Release(done); };
    // A GPF or DPF payload is decoded and written a piece at a time into a temporary file that
    // replaces the target only when the whole payload is there and the file passed every check.
    // What goes into a stream (a pipe, standard output) cannot be taken back: the payload is
    // decoded once to check it and again to write it.
    const bool intoStream = !payloadPath.isEmpty() && WritesIntoStream(payloadPath);
    std::optional<SafeFileWriter> writer;
    if (kind != ProjectionKind::Cpf && !payloadPath.isEmpty() && !intoStream)
        writer.emplace(payloadPath);
    qsizetype payloadBytes = 0;
    const ByteSink sink = [&writer, &payloadBytes](const char* data, qsizetype size) {
        payloadBytes += size;
        if (writer)
            writer->Write(data, size);
    };
    UiMessage refusal;
    const std::optional<ProjectionContents> contents = kind == ProjectionKind::Cpf
        ? ParseCpfProjection(bytes, refusal, false)
        : StreamDpfProjection(bytes, refusal, sink, pieces, CliProgress(0.0, 0.9));
    if (!contents)
        return CliFail(command, refusal.m_strText);

    // The geo check's complaint, if any; the file itself was read.
    const std::optional<UiMessage> complaint = ProjectionGeoRefusal(*contents, kind);
    if (complaint)
        PrintMessages({*complaint}, MessageStyle::TextOnly);
    if (kind == ProjectionKind::Cpf)
        payloadBytes = contents->m_Payload.size();
    if (!payloadPath.isEmpty() && !writer)
        writer.emplace(payloadPath);
    if (kind == ProjectionKind::Cpf && writer) {
        const Progress progress = CliProgress(0.9, 1.0);
        const qsizetype start = contents->m_Payload.constData() - bytes.constData();
        constexpr qsizetype kPiece = qsizetype(4) << 20;
        for (qsizetype done = 0; done < payloadBytes;) {
            const qsizetype count = std::min(kPiece, payloadBytes - done);
            writer->Write(contents->m_Payload.constData() + done, count);
            done += count;
            file.Release(start + done);
            progress.Report(double(done), double(payloadBytes));
        }
    } else if (intoStream) {
        StreamDpfProjection(bytes, refusal, [&writer](const char* data, qsizetype size) { writer->Write(data, size); },
                            pieces);
    }
    if (writer && !writer->Commit())
        return CliFail(command, writer->ErrorText());
    if (writer)
        CliProgress(0.9, 1.0).Report(1, 1);

    JsonWriter json;
    json.BeginObject().Key("flavour").Value(FlavourName(contents->m_nTag, kind)).Key("variant");
    if (contents->m_nVariant)
        json.Value(*contents->m_nVariant);
    else
        json.Null();
    json.Key("width").Value(contents->m_nWidth).Key("height").Value(contents->m_nHeight).Key("coefficients");
    WriteCoefficients(json, contents->m_dGeoCoef);
    json.Key("geocoded").Value(!complaint);
    json.Key("payload_bytes").Value(static_cast<long long>(payloadBytes)).Key("compressed_bytes");
    if (contents->m_nCompressedBytes)
        json.Value(static_cast<long long>(*contents->m_nCompressedBytes));
    else
        json.Null();
    json.EndObject();
    std::printf("%s\n", json.Text().c_str());
    return 0;
}
