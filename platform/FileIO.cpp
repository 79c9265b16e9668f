#include "platform/FileIO.h"

#include "platform/DisplayText.h"
#include "platform/LargeMemory.h"
#include "platform/MemoryBudget.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <new>
#include <unistd.h>
#include <vector>

namespace {

constexpr qsizetype kMaxErrorText = 255;

QString Truncated(QString text)
{
    if (text.size() > kMaxErrorText)
        text.truncate(kMaxErrorText);
    return text;
}

/// Writes size bytes in pieces small enough for a Cancel to be heard between them. A cancelled
/// write fails with ECANCELED.
/// at is where the file stands at the start, for the flush hint.
bool WriteAll(int fd, const char* data, qsizetype size, const Progress& progress = {}, off_t at = 0)
{
    constexpr qsizetype kPiece = qsizetype(4) << 20;
    const qsizetype total = size;
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(std::min(size, kPiece)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
#if defined(SYNC_FILE_RANGE_WRITE)
        // The disk starts on each piece while the next one is copied, so that the flush before
        // the rename waits only for the last pieces. A hint: where it fails, the flush does it all.
        (void)::sync_file_range(fd, at + (total - size), n, SYNC_FILE_RANGE_WRITE);
#endif
        data += n;
        size -= n;
        if (!progress.Report(double(total - size), double(total))) {
            errno = ECANCELED;
            return false;
        }
    }
    return true;
}

} // namespace

QString FileErrorText(const QString& file, int errorNumber)
{
    const QString path = DisplayText(file);
    switch (errorNumber) {
    case ENOENT:
        return Truncated(QStringLiteral("%1 was not found.").arg(path));
    case EACCES:
    case EPERM:
    case EROFS:
        return Truncated(QStringLiteral("Access to %1 was denied.").arg(path));
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return Truncated(QStringLiteral("%1 contains an incorrect path.").arg(path));
    case EISDIR:
        return Truncated(QStringLiteral("%1 is a folder, not a file.").arg(path));
    case EMFILE:
    case ENFILE:
        return Truncated(QStringLiteral("Could not open %1 because there are too many open files.").arg(path));
    case ENOSPC:
    case EDQUOT:
        return Truncated(QStringLiteral("The disk is full while accessing %1.").arg(path));
    case EFBIG:
    case EOVERFLOW:
        return Truncated(QStringLiteral("%1 is too large.").arg(path));
    case ENODEV:
    case ENXIO:
        return Truncated(QStringLiteral("%1 is not a regular file.").arg(path));
    case EPIPE:
        return Truncated(QStringLiteral("No program is reading from %1, so it cannot be written.").arg(path));
    case ENOMEM:
        return OutOfMemoryText();
    default:
        return Truncated(QStringLiteral("An error occurred while accessing %1: %2.")
                             .arg(path, QString::fromLocal8Bit(std::strerror(errorNumber))));
    }
}

int OpenRegularFile(const QString& path, struct stat& info, int& error)
{
    error = 0;
    // Opened without blocking, so that a FIFO does not wait for a writer, and checked before
    // a byte is read.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (::fstat(fd, &info) != 0)
        error = errno;
    else if (S_ISDIR(info.st_mode))
        error = EISDIR;
    else if (!S_ISREG(info.st_mode))
        error = ENODEV;
    else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        error = errno;
    if (error) {
        ::close(fd);
        return -1;
    }
    return fd;
}

namespace {

/// Reads into data until size bytes are read or the file ends (it may have shrunk since it was
/// measured); returns the bytes read, with error set where reading failed.
qsizetype ReadUpTo(int fd, char* data, qsizetype size, int& error)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, data + done, static_cast<size_t>(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

} // namespace

bool ReadWholeFile(const QString& path, QByteArray& bytes, QString* errorText)
{
    struct stat info {};
    int error = 0;
    const int fd = OpenRegularFile(path, info, error);
    if (fd >= 0) {
        QByteArray content;
        if (static_cast<unsigned long long>(info.st_size) > static_cast<unsigned long long>(INT32_MAX)) {
            error = EFBIG;
        } else {
            try {
                content = QByteArray(static_cast<qsizetype>(info.st_size), Qt::Uninitialized);
            } catch (const std::bad_alloc&) {
                error = ENOMEM;
            }
        }
        if (!error) {
            // A large file's buffer is committed in one go, not faulted in page by page as it is read.
            CommitMemory(content.data(), static_cast<std::size_t>(content.size()));
            content.truncate(ReadUpTo(fd, content.data(), content.size(), error));
            if (!error)
                bytes = std::move(content);
        }
        ::close(fd);
    }
    if (error && errorText)
        *errorText = FileErrorText(path, error);
    return error == 0;
}

bool ReadFileHead(const QString& path, qsizetype maxBytes, QByteArray& bytes, QString* errorText)
{
    struct stat info {};
    int error = 0;
    const int fd = OpenRegularFile(path, info, error);
    if (fd >= 0) {
        QByteArray head(maxBytes, Qt::Uninitialized);
        head.truncate(ReadUpTo(fd, head.data(), head.size(), error));
        if (!error)
            bytes = std::move(head);
        ::close(fd);
    }
    if (error && errorText)
        *errorText = FileErrorText(path, error);
    return error == 0;
}

QString WithSystemReason(const QString& text, int errorNumber)
{
    if (errorNumber == 0)
        return text;
    return QStringLiteral("%1 (%2)").arg(text, QString::fromLocal8Bit(std::strerror(errorNumber)));
}

namespace {

/// The file a write to target really goes to: a symbolic link (also a chain of them, also one
/// whose file does not exist yet) is followed, so that the link stays and the file it names is
/// replaced. Sets error for a loop of links.
QByteArray WriteDestination(const QByteArray& target, int& error)
{
    QByteArray path = target;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        QByteArray link(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.constData(), link.data(), static_cast<size_t>(link.size()));
        if (length <= 0 || length >= link.size()) {
            error = length < 0 ? errno : ENAMETOOLONG;
            return {};
        }
        link.truncate(length);
        if (!link.startsWith('/')) {
            const qsizetype slash = path.lastIndexOf('/');
            link = (slash >= 0 ? path.left(slash + 1) : QByteArray()) + link;
        }
        path = link;
    }
    error = ELOOP;
    return {};
}

/// The process's file-creation mask, read without setting it: writes run on worker threads too,
/// and setting the mask to read it would briefly change it for every thread creating files.
mode_t CurrentUmask()
{
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status))
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found)
            return static_cast<mode_t>(mask);
    }
    static std::mutex guard; // without /proc: at least the writes of this program do not race
    const std::lock_guard<std::mutex> lock(guard);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

/// The folder of path, for the temporary file beside it.
QByteArray FolderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

/// An unnamed file in folder (it vanishes by itself if the process is killed while writing), or,
/// where the file system has none, a named one whose name is put into namedPath.
int CreateTemporary(const QByteArray& destination, QByteArray& namedPath)
{
#if defined(O_TMPFILE)
    const int fd = ::open(FolderOf(destination).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
#endif
    namedPath = destination + ".varnel-XXXXXX";
    return ::mkstemp(namedPath.data());
}

/// Gives the unnamed temporary file fd a name beside destination (put into namedPath).
int LinkTemporary(int fd, const QByteArray& destination, QByteArray& namedPath)
{
    const QByteArray proc = "/proc/self/fd/" + QByteArray::number(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        namedPath = destination + ".varnel-" + QByteArray::number(::getpid()) + '-' + QByteArray::number(attempt);
        if (::linkat(AT_FDCWD, proc.constData(), AT_FDCWD, namedPath.constData(), AT_SYMLINK_FOLLOW) == 0)
            return 0;
        if (errno != EEXIST)
            break;
    }
    const int error = errno;
    namedPath.clear();
    return error;
}

/// Writes bytes into an open descriptor of a stream (a terminal, a pipe, a device, or whatever
/// the shell gave as standard output); returns 0 or the errno of the failure.
int WriteToDescriptor(int fd, const char* data, qsizetype size, const Progress& progress)
{
    // A reader that goes away would end the whole program with SIGPIPE: the write fails with
    // EPIPE instead, and the signal it raised is taken back.
    sigset_t pipe {}, previous {};
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &previous);
    int error = 0;
    if (!WriteAll(fd, data, size, progress))
        error = errno;
    if (error == EPIPE) {
        const timespec now {};
        (void)sigtimedwait(&pipe, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return error;
}

/// Opens the character device or FIFO at path for writing into it, as a program writes to a
/// terminal or a pipe; returns 0 or the errno of the failure. A FIFO no program reads from is
/// refused at once (EPIPE) instead of waiting for a reader.
int OpenStream(const QByteArray& path, bool fifo, int& fd)
{
    fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return fifo && errno == ENXIO ? EPIPE : errno;
    int error = 0;
    struct stat opened {};
    if (::fstat(fd, &opened) != 0)
        error = errno;
    else if (!S_ISCHR(opened.st_mode) && !S_ISFIFO(opened.st_mode))
        error = ENODEV; // replaced since it was looked at
    else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        error = errno;
    if (error) {
        ::close(fd);
        fd = -1;
    }
    return error;
}

} // namespace

int OwnDescriptorOf(const QString& path)
{
    static const QRegularExpression named(QStringLiteral("^/(?:dev/(std(?:in|out|err)|fd/(\\d{1,6}))|proc/self/fd/(\\d{1,6}))$"));
    const QRegularExpressionMatch match = named.match(path);
    if (!match.hasMatch())
        return -1;
    const QString stream = match.captured(1);
    const int fd = stream == QLatin1String("stdin")    ? 0
                   : stream == QLatin1String("stdout") ? 1
                   : stream == QLatin1String("stderr") ? 2
                                                       : (match.captured(2) + match.captured(3)).toInt();
    return ::fcntl(fd, F_GETFD) == -1 ? -1 : fd;
}

bool WritesIntoStream(const QString& path)
{
    struct stat target {};
    return OwnDescriptorOf(path) >= 0 ||
           (::stat(QFile::encodeName(path).constData(), &target) == 0 && (S_ISCHR(target.st_mode) || S_ISFIFO(target.st_mode)));
}

SafeFileWriter::SafeFileWriter(const QString& path) : m_strPath(path)
{
    // A descriptor the program was given (-o /dev/stdout, also when the shell sent it to a file)
    // is written at its place, as printing to it would: replacing the file behind it would lose
    // what comes after, and opening it again would write over what came before.
    if (const int own = OwnDescriptorOf(path); own >= 0) {
        m_nFd = own;
        m_Kind = Kind::Descriptor;
        return;
    }
    // A device or a FIFO (a pipe another program reads) is written into, never replaced by a
    // file of its name; anything else that is not a regular file is refused.
    struct stat target {};
    if (::stat(QFile::encodeName(path).constData(), &target) == 0 && !S_ISREG(target.st_mode)) {
        if (S_ISDIR(target.st_mode))
            m_nError = EISDIR;
        else if (!S_ISCHR(target.st_mode) && !S_ISFIFO(target.st_mode))
            m_nError = ENODEV;
        else
            m_nError = OpenStream(QFile::encodeName(path), S_ISFIFO(target.st_mode), m_nFd);
        m_Kind = Kind::Stream;
        return;
    }
    m_Destination = WriteDestination(QFile::encodeName(path), m_nError);
    if (m_nError)
        return;
    // A file the user may not write is refused, not replaced behind its back (the effective ids
    // decide, as they would for opening it for writing).
    m_bExists = ::stat(m_Destination.constData(), &m_Existing) == 0;
    if (m_bExists && ::faccessat(AT_FDCWD, m_Destination.constData(), W_OK, AT_EACCESS) != 0) {
        m_nError = errno;
        return;
    }
    m_nFd = CreateTemporary(m_Destination, m_Named);
    if (m_nFd < 0)
        m_nError = errno;
}

SafeFileWriter::~SafeFileWriter()
{
    if (m_Kind != Kind::Descriptor && m_nFd >= 0)
        ::close(m_nFd);
    if (!m_bCommitted && !m_Named.isEmpty())
        ::unlink(m_Named.constData());
}

bool SafeFileWriter::Write(const char* data, qsizetype size, const Progress& progress)
{
    if (m_nError || m_bCommitted)
        return false;
    if (m_Kind == Kind::File) {
        if (!WriteAll(m_nFd, data, size, progress, m_nWritten))
            m_nError = errno;
    } else {
        m_nError = WriteToDescriptor(m_nFd, data, size, progress);
    }
    m_nWritten += size;
    return m_nError == 0;
}

bool SafeFileWriter::WriteThrough(const std::function<int(int)>& produce, const Progress& progress)
{
    if (m_nError || m_bCommitted)
        return false;
    if (m_Kind == Kind::File) {
        m_nError = produce(m_nFd);
        return m_nError == 0;
    }
    // A stream cannot be sought in: its bytes are made aside first.
    const int scratch = OpenScratchFile(QDir::tempPath());
    if (scratch < 0) {
        m_nError = errno;
        return false;
    }
    int failure = produce(scratch);
    if (!failure && ::lseek(scratch, 0, SEEK_SET) < 0)
        failure = errno;
    std::vector<char> buffer(std::size_t(4) << 20);
    while (!failure) {
        const ssize_t got = ::read(scratch, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            failure = got < 0 ? errno : 0;
            break;
        }
        if (!Write(buffer.data(), got, progress))
            break;
    }
    ::close(scratch);
    if (failure && !m_nError)
        m_nError = failure;
    return m_nError == 0;
}

bool SafeFileWriter::Commit()
{
    if (m_nError || m_bCommitted)
        return false;
    m_bCommitted = true;
    if (m_Kind == Kind::Descriptor)
        return true;
    if (m_Kind == Kind::Stream) {
        if (::close(m_nFd) != 0)
            m_nError = errno;
        m_nFd = -1;
        return m_nError == 0;
    }
    int error = 0;
    // Keep the permissions and owner of the file being replaced, or those an ordinary new file
    // gets, not the private 0600 of a temporary file.
    const mode_t mode = m_bExists ? (m_Existing.st_mode & 07777) : (0666 & ~CurrentUmask());
    if (::fchmod(m_nFd, mode) != 0)
        error = errno;
    if (!error && m_bExists && (m_Existing.st_uid != ::geteuid() || m_Existing.st_gid != ::getegid()))
        (void)::fchown(m_nFd, m_Existing.st_uid, m_Existing.st_gid); // only where allowed; the content matters
    // On disk before it replaces the old file, so that a crash leaves one or the other whole.
    if (!error && ::fsync(m_nFd) != 0)
        error = errno;
    if (!error && m_Named.isEmpty())
        error = LinkTemporary(m_nFd, m_Destination, m_Named);
    if (::close(m_nFd) != 0 && !error)
        error = errno;
    m_nFd = -1;
    if (!error && ::rename(m_Named.constData(), m_Destination.constData()) != 0)
        error = errno;
    if (error) {
        m_nError = error;
        m_bCommitted = false; // the destructor removes the temporary file
        return false;
    }
    m_Named.clear();
    // The rename itself is made durable with the folder.
    const int folder = ::open(FolderOf(m_Destination).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
    return true;
}

QString SafeFileWriter::ErrorText() const
{
    // In terms of the file the user named; a cancelled write has nothing to say.
    return m_nError == 0 || m_nError == ECANCELED ? QString() : FileErrorText(m_strPath, m_nError);
}

bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString* errorText, int* errorNumber,
                    const Progress& progress)
{
    SafeFileWriter writer(path);
    if (writer.Write(bytes.constData(), bytes.size(), progress) && writer.Commit())
        return true;
    if (errorText)
        *errorText = writer.ErrorText();
    if (errorNumber)
        *errorNumber = writer.Error();
    return false;
}

bool WriteFileThrough(const QString& path, const std::function<int(int)>& produce, QString* errorText, int* errorNumber,
                      const Progress& progress)
{
    SafeFileWriter writer(path);
    if (writer.WriteThrough(produce, progress) && writer.Commit())
        return true;
    if (errorText)
        *errorText = writer.ErrorText();
    if (errorNumber)
        *errorNumber = writer.Error();
    return false;
}

int OpenScratchFile(const QString& folder)
{
    QByteArray named;
    const int fd = CreateTemporary(QFile::encodeName(folder) + "/scratch", named);
    if (fd >= 0 && !named.isEmpty())
        ::unlink(named.constData());
    return fd;
}

bool IsSameFile(const QString& first, const QString& second)
{
    struct stat a {};
    struct stat b {};
    return ::stat(QFile::encodeName(first).constData(), &a) == 0 && ::stat(QFile::encodeName(second).constData(), &b) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
