// varnel-cli pack: a projection file of a picture.

#include "CliSupport.h"
#include "Commands.h"
#include "Json.h"

#include "formats/FileKinds.h"
#include "formats/ProjectionFile.h"
#include "imaging/CPicture.h"
#include "platform/DisplayText.h"
#include "platform/FileIO.h"
#include "platform/MappedFile.h"

#include <cstdio>
#include <optional>

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
    MappedFile mapping;
    const QString path = cli.m_Positional.constFirst();
    if (const std::optional<QString> refusal = OutputOverwritesInput({cli.Value(QStringLiteral("-o"))}, {path}))
        return CliFail("pack", *refusal);
    if (!picture.LoadFromFile(path, &pictureFile, &mapping)) {
        if (picture.LastError())
            PrintMessages({*picture.LastError()}, MessageStyle::TextOnly);
        return CliFail("pack", QStringLiteral("%1 is not a picture Varnel can read").arg(DisplayText(path)));
    }
    // The payload is the picture's file (CPF) or the picture as the picture service saves it, a
    // BMP file: for a picture read from a BMP file that file itself. It is coded and written a
    // piece at a time, the mapped file's pages given back as they are done with, so that a map
    // of any size takes a few pieces' memory; the projection file replaces its target only
    // once it is whole.
    const bool cpf = *flavour == OutputFlavour::Cpf;
    const QByteArray payload = cpf ? pictureFile : picture.m_pPicture->SaveAsBmp();
    StreamPieces pieces;
    if (payload.constData() == pictureFile.constData())
        pieces.m_Done = [&mapping](qsizetype done) { mapping.Release(done); };
    SafeFileWriter writer(cli.Value(QStringLiteral("-o")));
    qsizetype fileBytes = 0;
    const ByteSink sink = [&writer, &fileBytes](const char* data, qsizetype size) {
        fileBytes += size;
        writer.Write(data, size);
    };
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(payload.constData());
    const auto length = static_cast<std::uint32_t>(payload.size());
    if (cpf) {
        StreamCpfProjection(picture.m_nWidth, picture.m_nHeight, *coefficients, bytes, length, sink, pieces);
    } else {
        QByteArray header;
        WriteDpfHeader(header, *flavour == OutputFlavour::Gpf ? kGpfTag : kDpfTag, *coefficients);
        sink(header.constData(), header.size());
        StreamDpfPayload(bytes, length, sink, pieces);
    }
    CliProgress(0.0, 0.8).Report(1, 1);
    if (!writer.Commit())
        return CliFail("pack", writer.ErrorText());
    CliProgress(0.8, 1.0).Report(1, 1);
    JsonWriter json;
    json.BeginObject()
        .Key("width").Value(picture.m_nWidth)
        .Key("height").Value(picture.m_nHeight)
        .Key("file_bytes").Value(static_cast<long long>(fileBytes))
        .EndObject();
    std::printf("%s\n", json.Text().c_str());
    return 0;
}
