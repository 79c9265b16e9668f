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

    /// Maps or reads the file at path, replacing what the object held. On failure returns false
    /// and, when errorText is given, sets it as ReadWholeFile does.
    bool Open(const QString& path, QString* errorText = nullptr);

    /// The file's bytes, read-only. A mapped file's array does not own them: it must not outlive
    /// this object, and copies of it are deep.
    const QByteArray& Bytes() const { return m_Bytes; }

private:
    void Close();

    QByteArray m_Bytes;
    void* m_pMapped = nullptr;
    std::size_t m_nMapped = 0;
};
