#include "platform/FileIO.h"

#include "platform/LargeMemory.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype kMaxErrorText = 255;

QString Truncated(QString text)
{
    if (text.size() > kMaxErrorText)
        text.truncate(kMaxErrorText);
    return text;
}

bool WriteAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

QString FileErrorText(const QString& path, int errorNumber)
{
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
    default:
        return Truncated(QStringLiteral("An error occurred while accessing %1: %2.")
                             .arg(path, QString::fromLocal8Bit(std::strerror(errorNumber))));
    }
}

bool ReadWholeFile(const QString& path, QByteArray& bytes, QString* errorText)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errorText)
            *errorText = FileErrorText(path, errno);
        return false;
    }
    struct stat info {};
    int error = 0;
    if (::fstat(fd, &info) != 0)
        error = errno;
    else if (S_ISDIR(info.st_mode))
        error = EISDIR;
    else if (static_cast<unsigned long long>(info.st_size) > static_cast<unsigned long long>(INT32_MAX))
        error = EFBIG;
    if (!error) {
        // A large file's buffer is committed in one go, not faulted in page by page as it is read.
        QByteArray content(static_cast<qsizetype>(info.st_size), Qt::Uninitialized);
        CommitMemory(content.data(), static_cast<std::size_t>(content.size()));
        qsizetype done = 0;
        while (done < content.size()) {
            const ssize_t n = ::read(fd, content.data() + done, static_cast<size_t>(content.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                error = errno;
                break;
            }
            if (n == 0)
                break; // the file shrank while we read it: keep what is there
            done += n;
        }
        content.truncate(done);
        if (!error)
            bytes = std::move(content);
    }
    ::close(fd);
    if (error && errorText)
        *errorText = FileErrorText(path, error);
    return error == 0;
}

bool ReadFileHead(const QString& path, qsizetype maxBytes, QByteArray& bytes, QString* errorText)
{
    const QByteArray native = QFile::encodeName(path);
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errorText)
            *errorText = FileErrorText(path, errno);
        return false;
    }
    struct stat info {};
    int error = 0;
    if (::fstat(fd, &info) != 0)
        error = errno;
    else if (S_ISDIR(info.st_mode))
        error = EISDIR;
    else if (!S_ISREG(info.st_mode))
        error = ENODEV;
    QByteArray head(maxBytes, Qt::Uninitialized);
    qsizetype done = 0;
    while (!error && done < head.size()) {
        const ssize_t n = ::read(fd, head.data() + done, static_cast<size_t>(head.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        if (n <= 0)
            break;
        done += n;
    }
    ::close(fd);
    if (error) {
        if (errorText)
            *errorText = FileErrorText(path, error);
        return false;
    }
    head.truncate(done);
    bytes = std::move(head);
    return true;
}

bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString* errorText)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray pattern = target + ".varnel-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        // Report the cause in terms of the file the user asked for.
        if (errorText)
            *errorText = FileErrorText(path, errno);
        return false;
    }
    int error = 0;
    if (!WriteAll(fd, bytes.constData(), bytes.size()))
        error = errno;
    // Keep the permissions an ordinary new file gets, not mkstemp's private 0600.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat existing {};
    const mode_t mode = ::stat(target.constData(), &existing) == 0 ? (existing.st_mode & 07777) : (0666 & ~mask);
    if (!error && ::fchmod(fd, mode) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::rename(pattern.constData(), target.constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(pattern.constData());
        if (errorText)
            *errorText = FileErrorText(path, error);
        return false;
    }
    return true;
}
