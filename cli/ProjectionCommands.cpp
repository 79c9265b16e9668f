// varnel-cli pack and unpack: projection files from a picture and back.

#include "CliSupport.h"
#include "Commands.h"
#include "Json.h"

#include "formats/FileKinds.h"
#include "formats/ProjectionFile.h"
#include "imaging/CPicture.h"
#include "platform/DisplayText.h"
#include "platform/FileIO.h"
#include "platform/MappedFile.h"
#include "platform/MemoryBudget.h"

#include <cstdio>

namespace {

const char* FlavourName(std::uint32_t tag, ProjectionKind kind)
{
    if (kind == ProjectionKind::Cpf)
        return tag == kCpfTag ? "CPF" : "unknown";
    return tag == kGpfTag ? "GPF" : tag == kDpfTag ? "DPF" : "unknown";
}

} // namespace

// varnel-cli pack --format gpf|dpf|cpf --coef c0,...,c15 PICTURE -o OUT
// Writes the projection file the output command writes for a whole plain picture.
int RunPackCommand(const QStringList& args)
{
    const CliArguments cli(args, {QStringLiteral("--format"), QStringLiteral("--coef"), QStringLiteral("-o")});
    if (!cli.Ok())
        return CliUsageFail("pack", cli.m_strError);
    const std::optional<OutputFlavour> flavour = OutputFlavourFromName(cli.Value(QStringLiteral("--format")));
    if (cli.m_Positional.size() != 1 || !cli.Has(QStringLiteral("-o")) || !cli.Has(QStringLiteral("--coef")) || !flavour)
        return CliUsageFail("pack", CliUsage("pack"));
    if (const std::optional<QString> refusal = BinaryOutputRefusal(cli.Value(QStringLiteral("-o")), QStringLiteral("projection file")))
        return CliUsageFail("pack", *refusal);
    QString error;
    const std::optional<GeoCoefficients> coefficients = ParseCoefficientList(cli.Value(QStringLiteral("--coef")), error);
    if (!coefficients)
        return CliUsageFail("pack", error);

    CPicture picture;
    QByteArray pictureFile;
    const QString path = cli.m_Positional.constFirst();
    if (const std::optional<QString> refusal = OutputOverwritesInput({cli.Value(QStringLiteral("-o"))}, {path}))
        return CliFail("pack", *refusal);
    if (!picture.LoadFromFile(path, &pictureFile)) {
        if (picture.LastError())
            PrintMessages({*picture.LastError()}, MessageStyle::TextOnly);
        return CliFail("pack", QStringLiteral("%1 is not a picture Varnel can read").arg(DisplayText(path)));
    }
    // The payload is the picture's file (CPF) or the picture as the picture service saves it, a
    // BMP file, which coded takes at most its own size again (GPF, DPF). The projection file is
    // made whole before it is written.
    const bool cpf = *flavour == OutputFlavour::Cpf;
    const QByteArray payload = cpf ? pictureFile : picture.m_pPicture->SaveAsBmp();
    const qsizetype header = cpf ? kCpfPayloadOffset : kDpfPayloadOffset;
    if (const std::optional<QString> shortfall = CheckMemory(header + payload.size()))
        return CliFail("pack", *shortfall);
    QByteArray file;
    if (cpf) {
        WriteCpfProjection(file, picture.m_nWidth, picture.m_nHeight, *coefficients, payload);
    } else {
        WriteDpfHeader(file, *flavour == OutputFlavour::Gpf ? kGpfTag : kDpfTag, *coefficients);
        WriteDpfPayload(file, payload, CliProgress(0.0, 0.8));
    }
    if (!WriteWholeFile(cli.Value(QStringLiteral("-o")), file, &error, nullptr, CliProgress(0.8, 1.0)))
        return CliFail("pack", error);
    JsonWriter json;
    json.BeginObject()
        .Key("width").Value(picture.m_nWidth)
        .Key("height").Value(picture.m_nHeight)
        .Key("file_bytes").Value(static_cast<long long>(file.size()))
        .EndObject();
    std::printf("%s\n", json.Text().c_str());
    return 0;
}

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
    // Read as Open reads it: mapped, not copied into fresh memory.
    MappedFile file;
    QString error;
    if (!file.Open(path, &error))
        return CliFail(command, error);
    UiMessage refusal;
    const QByteArray& bytes = file.Bytes();
    const std::optional<ProjectionContents> contents =
        kind == ProjectionKind::Cpf ? ParseCpfProjection(bytes, refusal) : ParseDpfProjection(bytes, refusal, CliProgress(0.0, 0.9));
    if (!contents)
        return CliFail(command, refusal.m_strText);

    // The geo check's complaint, if any; the file itself was read.
    const std::optional<UiMessage> complaint = ProjectionGeoRefusal(*contents, kind);
    if (complaint)
        PrintMessages({*complaint}, MessageStyle::TextOnly);
    if (!payloadPath.isEmpty() && !WriteWholeFile(payloadPath, contents->m_Payload, &error, nullptr, CliProgress(0.9, 1.0)))
        return CliFail(command, error);

    JsonWriter json;
    json.BeginObject().Key("flavour").Value(FlavourName(contents->m_nTag, kind)).Key("variant");
    if (contents->m_nVariant)
        json.Value(*contents->m_nVariant);
    else
        json.Null();
    json.Key("width").Value(contents->m_nWidth).Key("height").Value(contents->m_nHeight).Key("coefficients");
    WriteCoefficients(json, contents->m_dGeoCoef);
    json.Key("geocoded").Value(!complaint);
    json.Key("payload_bytes").Value(static_cast<long long>(contents->m_Payload.size())).Key("compressed_bytes");
    if (contents->m_nCompressedBytes)
        json.Value(static_cast<long long>(*contents->m_nCompressedBytes));
    else
        json.Null();
    json.EndObject();
    std::printf("%s\n", json.Text().c_str());
    return 0;
}
