// The one choice of reader for a file, whichever way it arrives.

#include "commands/FileOpening.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

TEST(FileOpening, EachWayOfArrivingPicksTheReaderItsRulesName)
{
    const QByteArray workspace = QByteArray("\x20\x53\x57\x50", 4) + QByteArray(20, '\0');
    const QByteArray tiff = QByteArray("II*\0", 4) + QByteArray(8, '\0');
    const QByteArray text("plain text");
    using R = OpenReader;
    const ProjectionKind dpf = ProjectionKind::Dpf, cpf = ProjectionKind::Cpf;
    const struct { OpenedFrom from; int entry; const char* name; QByteArray content; FileOpening expected; } cases[] = {
        {OpenedFrom::NewDialog, 2, "a.txt", text, {R::PictureMap, dpf, MapKind::Bmp}},      // the entry is the kind
        {OpenedFrom::NewDialog, 1, "scan.tiff", text, {R::TiffMap, dpf, MapKind::Tiff}},    // "IFF"
        {OpenedFrom::NewDialog, 1, "photo.jpeg", text, {R::PictureMap, dpf, MapKind::AnyPicture}}, // "PEG" names none
        {OpenedFrom::NewDialog, 11, "work.bmp", workspace, {R::Workspace, dpf, MapKind::None}},
        {OpenedFrom::NewDialog, 11, "notes.txt", text, {R::Refused, dpf, MapKind::None}},
        {OpenedFrom::NewDialog, 12, "a.bmp", text, {R::Refused, dpf, MapKind::None}},
        {OpenedFrom::OpenDialog, 3, "x.cpf", text, {R::Projection, dpf, MapKind::None}},     // the entry, not the name
        {OpenedFrom::OpenDialog, 4, "x.gpf", text, {R::Projection, dpf, MapKind::None}},     // a GPF reads like a DPF
        {OpenedFrom::OpenDialog, 5, "map.dat", tiff, {R::TiffMap, dpf, MapKind::Tif}},
        {OpenedFrom::OpenDialog, 5, "notes.txt", text, {R::Foreign, dpf, MapKind::None}},
        {OpenedFrom::Name, 0, "x.cpf", workspace, {R::Projection, cpf, MapKind::None}},      // the extension first
        {OpenedFrom::Name, 0, "photo.jpeg", text, {R::PictureMap, dpf, MapKind::AnyPicture}},
        {OpenedFrom::Name, 0, "noextension", workspace, {R::Workspace, dpf, MapKind::None}},
        {OpenedFrom::Name, 0, "notes.txt", text, {R::Refused, dpf, MapKind::None}},
        {OpenedFrom::Content, 0, "map.jpg", tiff, {R::TiffMap, dpf, MapKind::Tif}},         // the content first
        {OpenedFrom::Content, 0, "work.pws", text, {R::Workspace, dpf, MapKind::None}},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        WriteFileBytes(path, c.content);
        const FileOpening opening = ChooseFileOpening(path, c.from, c.entry);
        EXPECT_EQ(opening, c.expected) << c.name << " from " << int(c.from) << " entry " << c.entry << ": reader "
                                       << int(opening.m_Reader) << " map type " << int(opening.m_MapKind);
    }
}
