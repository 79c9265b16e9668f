#include "platform/MappedFile.h"

#include "platform/FileIO.h"

#include <algorithm>
#include <cstdint>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// Below this a plain read costs less than setting up a mapping.
constexpr off_t kMapFrom = off_t(1) << 20;

} // namespace

MappedFile::~MappedFile()
{
    Close();
}

void MappedFile::Close()
{
    m_Bytes = QByteArray();
    if (m_pMapped != nullptr)
        ::munmap(m_pMapped, m_nMapped);
    m_pMapped = nullptr;
    m_nMapped = 0;
    m_nReleased = 0;
}

bool MappedFile::Open(const QString& path, QString* errorText, Access access)
{
    Close();
    struct stat info {};
    int error = 0;
    const int fd = OpenRegularFile(path, info, error);
    if (fd >= 0) {
        if (info.st_size >= kMapFrom &&
            static_cast<unsigned long long>(info.st_size) <= static_cast<unsigned long long>(INT32_MAX)) {
            const auto size = static_cast<std::size_t>(info.st_size);
            // Populated at once: the cached pages are entered in one call instead of one fault
            // per page as the reader walks through them. Read from front to back, they are
            // entered as the reader comes to them, and read ahead of it.
            const int populate = access == Access::Whole ? MAP_POPULATE : 0;
            void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | populate, fd, 0);
            if (mapped != MAP_FAILED && access == Access::FrontToBack)
                (void)::madvise(mapped, size, MADV_SEQUENTIAL);
            if (mapped != MAP_FAILED) {
                m_pMapped = mapped;
                m_nMapped = size;
                m_Bytes = QByteArray::fromRawData(static_cast<const char*>(mapped), static_cast<qsizetype>(size));
            }
        }
        ::close(fd);
        if (m_pMapped != nullptr)
            return true;
    }
    // Small files, devices, pipes, and every failure, with its message, go the ordinary way.
    return ReadWholeFile(path, m_Bytes, errorText);
}

void MappedFile::Release(qsizetype bytes)
{
    if (m_pMapped == nullptr || bytes <= 0)
        return;
    // Whole pages only: the page holding the next byte to read stays.
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t whole = std::min(static_cast<std::size_t>(bytes), m_nMapped) / page * page;
    if (whole < m_nReleased)
        m_nReleased = 0; // read from the start again
    if (whole > m_nReleased)
        (void)::madvise(static_cast<char*>(m_pMapped) + m_nReleased, whole - m_nReleased, MADV_DONTNEED);
    m_nReleased = std::max(m_nReleased, whole);
}
