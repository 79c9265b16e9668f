#pragma once
// A temporary file beside a file the user writes, under a name the user can see (such as
// TOWN00010001002.BMP beside town.gpf). Its name is taken only while no file of the user's has
// it; the file is marked as Varnel's own and locked while it is in use, so that one left behind
// by a run that was killed is known again and taken over, never mistaken for a file of the
// user's and never the reason for another name.

#include <QByteArray>
#include <QString>

class TemporarySideFile {
public:
    TemporarySideFile() = default;
    /// Removes the file (if it is still the one this object made) and closes it.
    ~TemporarySideFile();
    TemporarySideFile(const TemporarySideFile&) = delete;
    TemporarySideFile& operator=(const TemporarySideFile&) = delete;

    /// Takes the first usable name of first, stem-1.EXT, stem-2.EXT, ... (stem and extension
    /// split at first's last '.'): a name no file has, or one held by a temporary file of a run
    /// that ended without removing it. A file of the user's is left alone. Returns 0, or the
    /// errno of why no name could be taken (the folder takes no new file).
    int Reserve(const QString& first);

    /// Replaces the content with bytes. Returns 0 or the errno of the failure.
    int Write(const QByteArray& bytes);

    const QString& Path() const { return m_strPath; }

    /// The extended attribute that marks a file as a temporary file of Varnel's.
    static constexpr const char* kMarker = "user.varnel.temporary";

private:
    QString m_strPath;
    int m_nFd = -1;
};
