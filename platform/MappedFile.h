#pragma once
// A whole file held in memory for reading, without first copying a large file into fresh memory.

#include <QByteArray>
#include <QString>

#include <cstddef>

/// The bytes of a whole file. A large regular file is mapped into memory, so that its bytes are
/// the system's own cached copy: no fresh buffer is filled page by page. Anything else is read
/// as ReadWholeFile reads it. The bytes stay valid while the object lives.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    /// How the bytes will be read: all of them, and some again (the pages are entered at once),
    /// or once from front to back, in pieces that Release gives back as they are done with.
    enum class Access { Whole, FrontToBack };

    /// Maps or reads the file at path, replacing what the object held. On failure returns false
    /// and, when errorText is given, sets it as ReadWholeFile does.
    bool Open(const QString& path, QString* errorText = nullptr, Access access = Access::Whole);

    /// Gives the pages of a mapped file's first bytes bytes back to the system, so that reading
    /// a large file from front to back holds only the part being read. They stay readable (the
    /// system reads them in again); a call for fewer bytes than the one before starts a new
    /// pass from the front. Does nothing for a file that was read, not mapped.
    void Release(qsizetype bytes);

    /// The file's bytes, read-only. A mapped file's array does not own them: it must not outlive
    /// this object, and copies of it are deep.
    const QByteArray& Bytes() const { return m_Bytes; }

private:
    void Close();

    QByteArray m_Bytes;
    void* m_pMapped = nullptr;
    std::size_t m_nMapped = 0;
    std::size_t m_nReleased = 0; ///< bytes at the front already given back
};
