// Fuzz target for the projection file readers: every input is read as a GPF/DPF and as a CPF,
// as Open reads them, and a file that reads is installed in a document as Open installs it
// (its picture decoded by the picture service) and drawn small.

#include "FuzzHarness.h"

#include "document/CQuilletDoc.h"
#include "formats/ProjectionFile.h"

#include <QImage>
#include <QPainter>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = FuzzBytes(data, size);
    for (const ProjectionKind kind : {ProjectionKind::Dpf, ProjectionKind::Cpf}) {
        UiMessage refusal;
        const std::optional<ProjectionContents> contents =
            kind == ProjectionKind::Cpf ? ParseCpfProjection(bytes, refusal) : ParseDpfProjection(bytes, refusal);
        if (!contents)
            continue;
        // A CPF reads back to the bytes it came from, up to its payload's end.
        if (kind == ProjectionKind::Cpf) {
            QByteArray again;
            WriteCpfProjection(again, contents->m_nWidth, contents->m_nHeight, contents->m_dGeoCoef, contents->m_Payload);
            if (!bytes.mid(4).startsWith(again.mid(4))) // the tag is not checked on reading
                std::abort();
        }
        CQuilletDoc doc;
        (void)doc.InstallProjection(QStringLiteral("fuzz.dpf"), *contents, kind);
        QImage image(64, 48, QImage::Format_RGB32);
        QPainter painter(&image);
        doc.Picture().Draw(&painter, QRect(0, 0, 64, 48));
    }
    FuzzProcessEvents();
    return 0;
}
