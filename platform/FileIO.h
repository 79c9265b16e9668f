#pragma once
// Whole-file reading and safe whole-file writing, with the user-facing text of a failure.

#include "platform/Progress.h"

#include <QByteArray>
#include <QString>

#include <functional>

#include <sys/stat.h>

/// The text shown to the user when a file cannot be opened, read or written: it names the
/// file (as DisplayText shows it) and the cause, and is at most 255 characters long.
QString FileErrorText(const QString& path, int errorNumber);

/// Opens a regular file for reading and returns its descriptor, with its status in info; a
/// folder, a FIFO or a device is refused without waiting on it. On failure returns -1 with the
/// errno behind it in error (EISDIR for a folder, ENODEV for anything else not a regular file).
int OpenRegularFile(const QString& path, struct stat& info, int& error);

/// Reads the whole of a regular file (a folder, a FIFO or a device is refused without waiting on
/// it). On failure returns false and, when errorText is given, sets it.
bool ReadWholeFile(const QString& path, QByteArray& bytes, QString* errorText = nullptr);

/// Reads at most maxBytes from the start of a regular file (a folder, a FIFO or a device is
/// refused without waiting on it). On failure returns false and, when errorText is given, sets it.
bool ReadFileHead(const QString& path, qsizetype maxBytes, QByteArray& bytes, QString* errorText = nullptr);

/// The descriptor of this process that path names (/dev/stdout, /dev/stderr, /dev/fd/N,
/// /proc/self/fd/N), or -1 when it names none or that descriptor is not open.
int OwnDescriptorOf(const QString& path);
/// Whether WriteWholeFile writes into path as into a stream (a descriptor of this process, a
/// character device or a FIFO) instead of replacing a file: such a target cannot be read back.
bool WritesIntoStream(const QString& path);

/// Writes bytes to path through a temporary file in the same folder that is flushed to disk and
/// renamed over the target only when complete, so a failed write never destroys the file that
/// was there, and no temporary file stays behind (it has no name until it is complete, where
/// the file system allows). A symbolic link is written through: the file it names is replaced
/// and the link stays. An existing file the process may not write (by its effective ids, as
/// opening it for writing would decide) is refused, not replaced. The replacement keeps the
/// old file's permissions. A character device or a FIFO (through links too) is written into,
/// not replaced, and so is a descriptor of this process (OwnDescriptorOf: -o /dev/stdout also
/// when the shell sent it to a file), at its place: a FIFO no program reads from is refused at
/// once (EPIPE); any other target that
/// is not a regular file (a folder, a block device, a socket) is refused. On failure returns
/// false and sets errorText (the user's message, see FileErrorText) and errorNumber (the errno
/// behind it) when given.
/// Reports to progress as it writes; cancelled, it removes the temporary file and returns false
/// with an empty errorText (errorNumber ECANCELED), leaving the target as it was.
bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString* errorText = nullptr,
                    int* errorNumber = nullptr, const Progress& progress = {});

/// WriteWholeFile piece by piece, for a file too large to hold whole: the same targets, checks
/// and messages, the same temporary file put on disk and renamed over the target only by
/// Commit. A writer destroyed before a successful Commit leaves the target as it was and no
/// temporary file behind.
class SafeFileWriter {
public:
    /// Opens the target (or the temporary file beside it); a failure is kept for Error.
    explicit SafeFileWriter(const QString& path);
    ~SafeFileWriter();
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    /// Appends size bytes, reporting to progress as it goes. False once anything has failed;
    /// nothing more is written then.
    bool Write(const char* data, qsizetype size, const Progress& progress = {});
    /// Lets produce write the file through a descriptor it may seek in, open for reading and
    /// writing: the temporary file of a regular target, or for a stream a scratch file whose
    /// bytes are then written into it. produce returns 0, or the errno of its failure
    /// (ECANCELED when cancelled). False once anything has failed.
    bool WriteThrough(const std::function<int(int fd)>& produce, const Progress& progress = {});
    /// Completes the file: on disk and in place of the target. False on failure.
    bool Commit();
    /// The errno of the first failure (ECANCELED for a cancelled write), or 0.
    int Error() const { return m_nError; }
    /// The user's message for the failure (see FileErrorText); empty without one or when cancelled.
    QString ErrorText() const;

private:
    enum class Kind { Descriptor, Stream, File };

    QString m_strPath;
    Kind m_Kind = Kind::File;
    int m_nFd = -1;
    int m_nError = 0;
    off_t m_nWritten = 0;
    QByteArray m_Destination; ///< the file replaced: the target, its links followed
    QByteArray m_Named;       ///< the temporary file's name, once it has one
    struct stat m_Existing {};
    bool m_bExists = false;
    bool m_bCommitted = false;
};

/// WriteWholeFile of the bytes produce writes through SafeFileWriter::WriteThrough.
bool WriteFileThrough(const QString& path, const std::function<int(int fd)>& produce, QString* errorText = nullptr,
                      int* errorNumber = nullptr, const Progress& progress = {});

/// A new empty file in folder for work that does not fit in memory, open for reading and
/// writing, without a name (it vanishes when closed); -1 with errno on failure.
int OpenScratchFile(const QString& folder);

/// True when both paths name one existing file (the same device and inode, whatever links or
/// relative names lead to it), so that a derived file is never written over its own input.
bool IsSameFile(const QString& first, const QString& second);

/// A message with the system's reason for errorNumber appended in brackets ("The file can not be
/// opened. (No space left on device)"); the message alone for 0.
QString WithSystemReason(const QString& text, int errorNumber);
