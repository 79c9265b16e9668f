// The one table of file kinds: the dialogs' filters made from it, and files known by their
// content.

#include "formats/FileKinds.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

TEST(FileKinds, FiltersAreTheOnesTheDialogsHaveAlwaysShown)
{
    EXPECT_EQ(NewMapFilter(), QStringLiteral(
        "Picture Files (bmp.dib.emf.gif.ico.jpg.wmf.tif.tiff)|*.bmp;*.dib;*.emf;*.gif;*.ico;*.jpg;*.wmf;*.tif;*.tiff|"
        "BMP (*.bmp)|*.bmp|DIB (*.dib)|*.dib|EMF (*.emf)|*.emf|GIF (*.gif)|*.gif|ICO (*.ico)|*.ico|JPG (*.jpg)|*.jpg|"
        "WMF (*.wmf)|*.wmf|TIF (*.tif)|*.tif|TIFF (*.tiff)|*.tiff|All Files (*.*)|*.*||"));
    EXPECT_EQ(OpenFilter(),
              QStringLiteral("Projection Work Space (pws)|*.pws|CPF (*.cpf)|*.cpf|DPF (*.dpf)|*.dpf|GPF (*.gpf)|*.gpf|"
                             "All Files (*.*)|*.*||"));
    EXPECT_EQ(WorkspaceSaveFilter(),
              QStringLiteral("Projection Work Space (pws)|*.pws|pws (*.pws)|*.pws|All Files (*.*)|*.*||"));
    EXPECT_EQ(OutputFilter(), QStringLiteral("GPF (*.gpf)|*.gpf|DPF (*.dpf)|*.dpf|CPF (*.cpf)|*.cpf|"));
    // The New dialog's entries are the map kinds.
    for (int entry = 2; entry <= 10; ++entry)
        EXPECT_EQ(MapTypeForNewEntry(entry, QStringLiteral("x.any")), static_cast<MapKind>(entry));
    EXPECT_EQ(OpenKindForEntry(1), FileKind::Workspace);
    EXPECT_EQ(OpenKindForEntry(2), FileKind::Cpf);
    EXPECT_EQ(OpenKindForEntry(3), FileKind::Dpf);
    EXPECT_EQ(OpenKindForEntry(4), FileKind::Gpf);
    EXPECT_FALSE(OpenKindForEntry(5));
}

TEST(FileKinds, ContentDecidesBeforeTheExtension)
{
    const struct {
        QByteArray head;
        std::optional<FileKind> kind;
    } cases[] = {
        {QByteArray("\x20\x53\x57\x50", 4) + QByteArray(20, '\0'), FileKind::Workspace},
        {QByteArray("\x91\x00\x00\x00\x20\x46\x50\x47", 8), FileKind::Gpf},
        {QByteArray("\x91\x00\x00\x00\x20\x46\x50\x44", 8), FileKind::Dpf},
        {QByteArray("\x20\x46\x50\x43", 4) + QByteArray(20, '\0'), FileKind::Cpf},
        {QByteArray("II*\0", 4) + QByteArray(8, '\0'), FileKind::Tif},
        {QByteArray("MM\0*", 4) + QByteArray(8, '\0'), FileKind::Tif},
        {ReadFileBytes(TestDataPath(QStringLiteral("pictures/jpg/hopper.jpg"))).left(512), FileKind::Jpg},
        {ReadFileBytes(TestDataPath(QStringLiteral("pictures/gif/hopper.gif"))).left(512), FileKind::Gif},
        {QByteArray("plain text"), std::nullopt},
        {QByteArray(), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileKindFromContent(c.head), c.kind) << c.head.left(8).toHex().toStdString();
}
