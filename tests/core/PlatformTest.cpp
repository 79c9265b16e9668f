#include "platform/BinaryIO.h"
#include "platform/FileFilter.h"
#include "platform/FileIO.h"
#include "platform/MemoryBudget.h"
#include "platform/MappedFile.h"
#include "platform/WorkerPool.h"
#include "ScriptedUiServices.h"
#include "platform/WinTypes.h"

#include "TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

/// Runs work with the effective ids of an ordinary user when the tests run as root (root may
/// write any file; the check must be the one the system makes for the user).
void AsOrdinaryUser(const std::function<void()>& work)
{
    const bool root = ::geteuid() == 0;
    if (root) {
        EXPECT_EQ(::setegid(65534), 0);
        EXPECT_EQ(::seteuid(65534), 0);
    }
    work();
    if (root) {
        EXPECT_EQ(::seteuid(0), 0);
        EXPECT_EQ(::setegid(0), 0);
    }
}

} // namespace

TEST(Platform, MulDivRoundsToNearestWithHalvesAwayFromZero)
{
    const struct {
        std::int32_t a, b, c, result;
    } cases[] = {
        {127, 2540, 96, 3360},  {3360, 96, 2540, 127}, {64, 2540, 96, 1693}, {1693, 96, 2540, 64},
        {5, 1, 2, 3},           {-5, 1, 2, -3},        {7, 1, 2, 4},         {1, 1, 3, 0},
        {2, 1, 3, 1},           {-2, 1, 3, -1},        {5, -1, 2, -3},       {10, 10, 0, -1},
        {100000, 100000, 100000, 100000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.result) << c.a << "*" << c.b << "/" << c.c;
}

TEST(Platform, FilterListsSplitIntoNumberedEntries)
{
    const QString filter = QStringLiteral(
        "Picture Files (bmp.dib.emf.gif.ico.jpg.wmf.tif.tiff)|*.bmp;*.dib;*.emf;*.gif;*.ico;*.jpg;*.wmf;*.tif;*.tiff|"
        "BMP (*.bmp)|*.bmp|DIB (*.dib)|*.dib|EMF (*.emf)|*.emf|GIF (*.gif)|*.gif|ICO (*.ico)|*.ico|JPG (*.jpg)|*.jpg|"
        "WMF (*.wmf)|*.wmf|TIF (*.tif)|*.tif|TIFF (*.tiff)|*.tiff|All Files (*.*)|*.*||");
    const auto entries = ParseFileFilter(filter);
    ASSERT_EQ(entries.size(), 11u);
    EXPECT_EQ(entries[0].m_strDescription, QStringLiteral("Picture Files (bmp.dib.emf.gif.ico.jpg.wmf.tif.tiff)"));
    EXPECT_EQ(entries[0].m_Patterns.size(), 9);
    EXPECT_EQ(entries[9].m_Patterns, QStringList{QStringLiteral("*.tiff")});
    EXPECT_EQ(entries[10].m_strDescription, QStringLiteral("All Files (*.*)"));

    // A list that ends with a single bar still has its entries.
    const auto output = ParseFileFilter(QStringLiteral("GPF (*.gpf)|*.gpf|DPF (*.dpf)|*.dpf|CPF (*.cpf)|*.cpf|"));
    ASSERT_EQ(output.size(), 3u);
    EXPECT_EQ(output[2].m_Patterns, QStringList{QStringLiteral("*.cpf")});
}

TEST(Platform, FileNamesAreCutAtTheirFirstDot)
{
    const struct {
        const char* chosen;
        const char* written;
    } cases[] = {
        {"/home/ann/area.old.pws", "/home/ann/area.pws"},
        {"/home/ann/area", "/home/ann/area.pws"},
        {"/home/ann/maps.old/town", "/home/ann/maps.old/town.pws"},
        {"/home/ann/maps.old/town.x.y", "/home/ann/maps.old/town.pws"},
        {"C:\\maps.v2\\a.tif", "C:\\maps.v2\\a.pws"},
        {"plain.pws", "plain.pws"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReplaceExtensionAtFirstDot(QString::fromLatin1(c.chosen), QStringLiteral(".pws")),
                  QString::fromLatin1(c.written));
}

TEST(Platform, BinaryValuesAreLittleEndianAndReadsNeverRunPastTheEnd)
{
    QByteArray bytes;
    BinaryWriter out(bytes);
    out.WriteUInt32(0x50575320u);
    out.WriteInt32(-2);
    out.WriteUInt16(1);
    out.WriteUInt8(7);
    out.WriteDouble(1.0);
    ASSERT_EQ(bytes.size(), 4 + 4 + 2 + 1 + 8);
    EXPECT_EQ(bytes.left(4), QByteArray(" SWP"));
    EXPECT_EQ(bytes.mid(4, 4), QByteArray("\xFE\xFF\xFF\xFF", 4));
    EXPECT_EQ(bytes.mid(11, 8), QByteArray("\x00\x00\x00\x00\x00\x00\xF0\x3F", 8));

    BinaryReader in(bytes);
    std::uint32_t tag = 0;
    std::int32_t value = 0;
    std::uint16_t one = 0;
    std::uint8_t seven = 0;
    double d = 0;
    EXPECT_TRUE(in.Read(tag) && in.Read(value) && in.Read(one) && in.Read(seven) && in.Read(d));
    EXPECT_EQ(tag, 0x50575320u);
    EXPECT_EQ(value, -2);
    EXPECT_EQ(one, 1);
    EXPECT_EQ(seven, 7);
    EXPECT_EQ(d, 1.0);
    EXPECT_TRUE(in.Ok());
    EXPECT_EQ(in.Remaining(), 0);

    std::uint32_t beyond = 123;
    EXPECT_FALSE(in.Read(beyond));
    EXPECT_EQ(beyond, 123u);
    EXPECT_FALSE(in.Ok());

    BinaryReader counts(bytes);
    QByteArray block;
    EXPECT_FALSE(counts.ReadBytes(bytes.size() + 1, block));
    EXPECT_FALSE(counts.ReadBytes(-1, block));
    EXPECT_TRUE(BinaryReader(bytes).ReadBytes(bytes.size(), block));
    EXPECT_EQ(block, bytes);
}

TEST(Platform, WholeFilesAreReadAndReplacedSafely)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.bin"));
    QByteArray read;
    QString error;
    EXPECT_FALSE(ReadWholeFile(path, read, &error));
    EXPECT_EQ(error, path + QStringLiteral(" was not found."));

    const QByteArray first(70000, 'a');
    ASSERT_TRUE(WriteWholeFile(path, first, &error));
    ASSERT_TRUE(ReadWholeFile(path, read, &error));
    EXPECT_EQ(read, first);
    ASSERT_TRUE(WriteWholeFile(path, QByteArray("short"), &error));
    ASSERT_TRUE(ReadWholeFile(path, read, &error));
    EXPECT_EQ(read, QByteArray("short"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("data.bin")});
    // Written in pieces, the file replaces the old one only when completed.
    for (const bool complete : {false, true}) {
        SafeFileWriter writer(path);
        EXPECT_TRUE(writer.Write("piece one, ", 11) && writer.Write(first.constData(), first.size()));
        EXPECT_EQ(ReadFileBytes(path), QByteArray("short"));
        if (complete) {
            EXPECT_TRUE(writer.Commit());
        }
    }
    EXPECT_EQ(ReadFileBytes(path), "piece one, " + first);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("data.bin")});

    const QString nowhere = dir.filePath(QStringLiteral("missing/data.bin"));
    EXPECT_FALSE(WriteWholeFile(nowhere, first, &error));
    EXPECT_TRUE(error.contains(nowhere));

    EXPECT_FALSE(ReadWholeFile(dir.path(), read, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("folder")));
}

TEST(Platform, WritesGoThroughLinksRefuseWhatTheUserMayNotWriteAndLeaveNoTemporaryFile)
{
    struct Case {
        const char* m_pName;
        /// Prepares the folder; returns the path written to.
        std::function<QString(const QString& folder)> m_Prepare;
        int m_nError;         ///< 0: written
        const char* m_pFile;  ///< the file that must hold the new bytes (when written) or keep "old"
        mode_t m_nMode;       ///< the permissions that file must have (0: not checked)
        bool m_bOrdinaryUser; ///< written with the ids of an ordinary user
        mode_t m_nType = S_IFREG; ///< what that file must still be afterwards
    };
    const auto make = [](const QString& path, mode_t mode) {
        WriteFileBytes(path, "old");
        ::chmod(QFile::encodeName(path).constData(), mode);
    };
    const auto link = [](const QString& target, const QString& path) { EXPECT_TRUE(QFile::link(target, path)); };
    const auto fifo = [](const QString& path) { ::mkfifo(QFile::encodeName(path).constData(), 0644); return path; };
    const auto node = [](const QString& path, mode_t type, dev_t device) { // root only; elsewhere the row is left out
        return ::mknod(QFile::encodeName(path).constData(), type | 0666, device) == 0 ? path : QString(); };
    int reader = -1; // the reading end of the FIFO a program reads
    const Case cases[] = {
        {"a new file", [](const QString& f) { return f + "/new.bin"; }, 0, "new.bin", 0, false},
        {"a file keeps its permissions", [&](const QString& f) { make(f + "/kept.bin", 0640); return f + "/kept.bin"; },
         0, "kept.bin", 0640, false},
        {"a symbolic link writes the file it names",
         [&](const QString& f) { make(f + "/real.bin", 0644); link("real.bin", f + "/link.bin"); return f + "/link.bin"; },
         0, "real.bin", 0644, false},
        {"a chain of links", [&](const QString& f) {
             make(f + "/end.bin", 0644);
             link("end.bin", f + "/middle.bin");
             link(f + "/middle.bin", f + "/start.bin");
             return f + "/start.bin";
         }, 0, "end.bin", 0644, false},
        {"a link to a file not there yet", [&](const QString& f) { link("later.bin", f + "/early.bin"); return f + "/early.bin"; },
         0, "later.bin", 0, false},
        {"a read-only file", [&](const QString& f) { make(f + "/locked.bin", 0444); return f + "/locked.bin"; },
         EACCES, "locked.bin", 0444, true},
        {"a link to a read-only file",
         [&](const QString& f) { make(f + "/locked2.bin", 0444); link("locked2.bin", f + "/via.bin"); return f + "/via.bin"; },
         EACCES, "locked2.bin", 0444, true},
        {"a folder", [](const QString& f) { QDir(f).mkdir("folder.bin"); return f + "/folder.bin"; }, EISDIR, nullptr, 0, false},
        {"a missing folder", [](const QString& f) { return f + "/missing/data.bin"; }, ENOENT, nullptr, 0, false},
        {"a loop of links", [&](const QString& f) { link("loop2.bin", f + "/loop1.bin"); link("loop1.bin", f + "/loop2.bin"); return f + "/loop1.bin"; },
         ELOOP, nullptr, 0, false},
        {"a FIFO no program reads", [&](const QString& f) { return fifo(f + "/idle"); }, EPIPE, "idle", 0, false, S_IFIFO},
        {"a FIFO a program reads, through a link", [&](const QString& f) {
             reader = ::open(QFile::encodeName(fifo(f + "/pipe")).constData(), O_RDONLY | O_NONBLOCK);
             ::fcntl(reader, F_SETPIPE_SZ, 1 << 20); // room for all the bytes with no thread to read them
             link("pipe", f + "/to-pipe");
             return f + "/to-pipe"; }, 0, "pipe", 0, false, S_IFIFO},
        {"a character device", [&](const QString& f) { return node(f + "/null", S_IFCHR, makedev(1, 3)); }, 0, "null", 0, false, S_IFCHR},
        {"a block device", [&](const QString& f) { return node(f + "/disk", S_IFBLK, makedev(0, 0)); }, ENODEV, "disk", 0, false, S_IFBLK},
    };
    const QByteArray bytes(70000, 'n');
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pName);
        QTemporaryDir dir;
        ::chmod(QFile::encodeName(dir.path()).constData(), 0777); // the ordinary user may add files
        const QString path = c.m_Prepare(dir.path());
        if (path.isEmpty())
            continue;
        const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
        const bool wasLink = QFileInfo(path).isSymLink();
        QString text;
        int error = -1;
        bool written = false;
        const auto write = [&] { written = WriteWholeFile(path, bytes, &text, &error); };
        if (c.m_bOrdinaryUser)
            AsOrdinaryUser(write);
        else
            write();
        EXPECT_EQ(written, c.m_nError == 0);
        if (c.m_nError) {
            EXPECT_EQ(error, c.m_nError);
            EXPECT_EQ(text, FileErrorText(path, c.m_nError));
        }
        if (reader >= 0) { // the program reading the FIFO got every byte
            QByteArray received(bytes.size() + 1, '\0');
            EXPECT_EQ(received.left(::read(reader, received.data(), received.size())), bytes);
            ::close(std::exchange(reader, -1));
        }
        if (c.m_pFile) {
            const QString file = dir.filePath(QString::fromLatin1(c.m_pFile));
            struct stat info {};
            ASSERT_EQ(::lstat(QFile::encodeName(file).constData(), &info), 0);
            EXPECT_EQ(info.st_mode & S_IFMT, c.m_nType);
            if (c.m_nType == S_IFREG) {
                EXPECT_EQ(ReadFileBytes(file), c.m_nError ? QByteArray("old") : bytes);
            }
            if (c.m_nMode) {
                EXPECT_EQ(info.st_mode & 07777, c.m_nMode);
            }
        }
        // Links stay links, and nothing else appears beside them: no temporary file is left.
        QStringList after = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
        if (c.m_nError == 0 && !before.contains(QString::fromLatin1(c.m_pFile)))
            after.removeOne(QString::fromLatin1(c.m_pFile));
        EXPECT_EQ(after, before);
        EXPECT_EQ(QFileInfo(path).isSymLink(), wasLink);
    }
}

TEST(Platform, NewFilesTakeTheProcessCreationMaskAlsoFromWorkerThreads)
{
    const struct {
        mode_t mask, mode;
    } cases[] = {{022, 0644}, {077, 0600}, {027, 0640}};
    QTemporaryDir dir;
    const mode_t saved = ::umask(022);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask);
        ::umask(c.mask);
        const QString path = dir.filePath(QStringLiteral("new%1.bin").arg(c.mask));
        bool written = false;
        std::thread worker([&] { written = WriteWholeFile(path, QByteArray(10, 'x')); });
        worker.join();
        ASSERT_TRUE(written);
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.mode);
        EXPECT_EQ(::umask(c.mask), c.mask); // the write left the mask as it was
    }
    ::umask(saved);
}

TEST(Platform, TheMemoryMessageGivesNeedAndAvailableInReadableUnits)
{
    const struct {
        std::int64_t needed, available;
        const char* text;
    } cases[] = {
        {4'800'000'000, 2'100'000'000, "This map needs 4.8 GB of memory; about 2.1 GB are available."},
        {242'331'648, 100'999'999, "This map needs 243 MB of memory; about 100 MB are available."},
        {72'204, 70'000, "This map needs 73 KB of memory; about 70 KB are available."},
        {1'000'000'001, 999'999, "This map needs 1.1 GB of memory; about 999 KB are available."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MemoryShortfallText(c.needed, c.available), QString::fromLatin1(c.text));

    // The ceiling caps what the machine offers; what fits passes, what does not is refused.
    SetMemoryCeiling(50'000'000);
    EXPECT_LE(AvailableMemoryBytes(), 50'000'000);
    EXPECT_FALSE(CheckMemory(1'000));
    EXPECT_EQ(CheckMemory(60'000'000).value_or(QString()), QStringLiteral("This map needs 60 MB of memory; about 50 MB are available."));
    EXPECT_TRUE(CheckMemory(-1)); // an overflowed product never fits
    SetMemoryCeiling(0);
}

TEST(Platform, MappedFilesHoldWhatReadingGives)
{
    QTemporaryDir dir;
    // A large file is mapped, a small one and an empty one are read; all must look the same.
    QByteArray large(3 * 1024 * 1024 + 5, '\0');
    for (qsizetype i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>((i * 131) >> 7);
    const QByteArray contents[] = {large, QByteArray(100, 'q'), QByteArray()};
    for (const QByteArray& content : contents) {
        SCOPED_TRACE(content.size());
        const QString path = dir.filePath(QStringLiteral("file%1.bin").arg(content.size()));
        ASSERT_TRUE(WriteWholeFile(path, content));
        MappedFile mapped;
        ASSERT_TRUE(mapped.Open(path));
        EXPECT_EQ(mapped.Bytes(), content);
        // Read front to back, pages given back are read in again.
        MappedFile streamed;
        ASSERT_TRUE(streamed.Open(path, nullptr, MappedFile::Access::FrontToBack));
        EXPECT_EQ(streamed.Bytes(), content);
        for (const qsizetype done : {content.size() / 2, content.size(), qsizetype(10)}) {
            streamed.Release(done);
            EXPECT_EQ(streamed.Bytes(), content) << done;
        }
    }
    // Failures are worded as reading words them.
    for (const QString& path : {dir.filePath(QStringLiteral("missing.bin")), dir.path()}) {
        SCOPED_TRACE(qPrintable(path));
        QByteArray read;
        QString readError, mapError;
        EXPECT_FALSE(ReadWholeFile(path, read, &readError));
        MappedFile mapped;
        EXPECT_FALSE(mapped.Open(path, &mapError));
        EXPECT_EQ(mapError, readError);
    }
}

TEST(Platform, WorkerPoolRunsEveryTaskOnceAlsoWhenTasksRunJobs)
{
    WorkerPool pool(3);
    std::array<std::atomic<int>, 10 * 4> runs {};
    pool.Run(10, [&](int outer) { pool.Run(4, [&](int inner) { ++runs[static_cast<std::size_t>(outer * 4 + inner)]; }); });
    for (const std::atomic<int>& count : runs)
        EXPECT_EQ(count.load(), 1);
}

TEST(Platform, FileErrorTextsNameTheFileEscapedAndCutWithItsEndsKept)
{
    const auto x = [](int count) { return QString(count, QLatin1Char('x')); };
    const std::pair<QString, QString> cases[] = {
        {"/a\x1b[2J\r\n\u202E\t\U0001F5FA.tif", "/a\\x1b[2J\\x0d\\x0a\\x202e\\x09\U0001F5FA.tif"},
        {"/" + x(4000) + "/end.tif", "/" + x(99) + "\u2026" + x(91) + "/end.tif"},
        {"/" + x(97) + "\x1b" + x(200), "/" + x(97) + "\u2026" + x(99)}, // an escape is never cut in two
    };
    for (const auto& [path, shown] : cases)
        EXPECT_EQ(FileErrorText(path, EACCES), "Access to " + shown + " was denied.");
    EXPECT_TRUE(FileErrorText(QStringLiteral("/a"), EIO).startsWith(QStringLiteral("An error occurred while accessing /a")));
}

TEST(Platform, ScriptedServicesRecordAndAnswerInOrder)
{
    ScriptedUiServices ui;
    ScopedUiServices installed(ui);
    EXPECT_EQ(&Ui(), &ui);

    ui.AnswerMessage(IDNO);
    EXPECT_EQ(Ui().MessageBox(QStringLiteral("Do you want to use another map?"), QStringLiteral("New Map"),
                              MB_YESNO | MB_ICONINFORMATION),
              IDNO);
    EXPECT_EQ(Ui().MessageBox(QStringLiteral("x"), QStringLiteral("c"), MB_YESNO), IDYES); // first button
    EXPECT_EQ(Ui().MessageBox(QStringLiteral("x"), QStringLiteral("c"), MB_OKCANCEL | MB_ICONERROR), IDOK);
    ASSERT_EQ(ui.m_Messages.size(), 3u);
    EXPECT_EQ(ui.m_Messages[0].m_strCaption, QStringLiteral("New Map"));
    EXPECT_EQ(ui.m_Messages[0].Buttons(), MB_YESNO);
    EXPECT_EQ(ui.m_Messages[0].Icon(), MB_ICONINFORMATION);
    EXPECT_EQ(ui.m_Messages[2].Icon(), MB_ICONERROR);

    ui.AnswerFile(QStringLiteral("/maps/a.tif"), 9);
    const FileDialogResult chosen = Ui().OpenFileDialog(QStringLiteral("Open a picture file"), QStringLiteral("A|*.a||"));
    EXPECT_EQ(chosen.m_strPath, QStringLiteral("/maps/a.tif"));
    EXPECT_EQ(chosen.m_nFilterIndex, 9);
    EXPECT_FALSE(Ui().SaveFileDialog(QStringLiteral("Save"), QStringLiteral("B|*.b||")).Accepted());
    ASSERT_EQ(ui.m_FileDialogs.size(), 2u);
    EXPECT_FALSE(ui.m_FileDialogs[0].m_bSave);
    EXPECT_TRUE(ui.m_FileDialogs[1].m_bSave);
    EXPECT_EQ(ui.m_FileDialogs[0].m_strTitle, QStringLiteral("Open a picture file"));

    CoordinateEntry entry{QStringLiteral("1.5"), QStringLiteral("2.5")};
    ui.AnswerCoordinates(QStringLiteral("45.25"), QStringLiteral("-7"));
    EXPECT_EQ(Ui().RunDataInputDialog(entry), IDOK);
    EXPECT_EQ(entry.m_strLatitude, QStringLiteral("45.25"));
    EXPECT_EQ(ui.m_Dialogs.back().m_Coordinates.m_strLatitude, QStringLiteral("1.5")); // as opened
    EXPECT_EQ(Ui().RunDataInputDialog(entry), IDCANCEL); // nothing queued
    EXPECT_EQ(entry.m_strLongitude, QStringLiteral("-7"));

    ImageChoice images{2, 12};
    ui.AnswerChoice(11);
    EXPECT_EQ(Ui().RunSelectImageDialog(images), IDOK);
    EXPECT_EQ(images.m_nSelection, 11);
    EXPECT_EQ(ui.m_Dialogs.back().m_Choice.m_nImageCount, 12);

    {
        CWaitCursor wait;
        EXPECT_EQ(ui.m_nWaitCursorDepth, 1);
    }
    EXPECT_EQ(ui.m_nWaitCursorDepth, 0);
}
