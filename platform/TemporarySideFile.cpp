#include "platform/TemporarySideFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

/// fd is a regular file marked as Varnel's temporary file that no running Varnel holds.
bool IsAbandonedTemporary(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    char value[8];
    if (::fgetxattr(fd, TemporarySideFile::kMarker, value, sizeof value) < 0)
        return false;
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

} // namespace

TemporarySideFile::~TemporarySideFile()
{
    if (m_nFd < 0)
        return;
    // Only the file this object holds: a name taken over meanwhile is not removed.
    struct stat held {}, named {};
    const QByteArray native = QFile::encodeName(m_strPath);
    if (::fstat(m_nFd, &held) == 0 && ::lstat(native.constData(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino)
        ::unlink(native.constData());
    ::close(m_nFd);
}

int TemporarySideFile::Reserve(const QString& first)
{
    const qsizetype dot = first.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? first.left(dot) : first;
    const QString extension = dot > 0 ? first.mid(dot) : QString();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QString candidate = attempt == 0 ? first : stem + QLatin1Char('-') + QString::number(attempt) + extension;
        const QByteArray native = QFile::encodeName(candidate);
        int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // Marked and locked at once; a file system without extended attributes only loses the
            // ability to take over what a killed run leaves.
            (void)::fsetxattr(fd, kMarker, "1", 1, 0);
            (void)::flock(fd, LOCK_EX | LOCK_NB);
        } else if (errno == EEXIST) {
            fd = ::open(native.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0 && (!IsAbandonedTemporary(fd) || ::ftruncate(fd, 0) != 0)) {
                ::close(fd);
                fd = -1;
            }
            if (fd < 0)
                continue; // the user's file, or one a running Varnel uses
        } else {
            return errno;
        }
        m_strPath = candidate;
        m_nFd = fd;
        return 0;
    }
    return EEXIST;
}

int TemporarySideFile::Write(const QByteArray& bytes)
{
    if (m_nFd < 0)
        return EBADF;
    if (::ftruncate(m_nFd, 0) != 0)
        return errno;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(m_nFd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done), done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += n;
    }
    return 0;
}
