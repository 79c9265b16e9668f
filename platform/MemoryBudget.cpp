#include "platform/MemoryBudget.h"

#include <QFile>
#include <QImage>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <new>
#include <sys/resource.h>
#include <unistd.h>

namespace {

std::atomic<std::int64_t> g_ceiling{0};

/// The first number in a small text file (a /proc or /sys entry, such as statm's seven); nothing
/// when there is none ("max" in a cgroup v2 limit means no limit).
std::optional<std::int64_t> ReadNumber(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const std::int64_t value = file.read(64).simplified().split(' ').value(0).toLongLong(&ok);
    return ok && value >= 0 ? std::optional<std::int64_t>(value) : std::nullopt;
}

/// MemAvailable: what the kernel can give without swapping.
std::optional<std::int64_t> SystemAvailable()
{
    QFile file(QStringLiteral("/proc/meminfo"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (!line.startsWith("MemAvailable:"))
            continue;
        bool ok = false;
        const std::int64_t kilobytes = line.mid(13).trimmed().split(' ').value(0).toLongLong(&ok);
        if (ok && kilobytes >= 0)
            return kilobytes * 1024;
    }
    return std::nullopt;
}

/// What RLIMIT_AS leaves of the address space this process has already taken.
std::optional<std::int64_t> AddressSpaceLeft()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::nullopt;
    const std::optional<std::int64_t> pages = ReadNumber(QStringLiteral("/proc/self/statm"));
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const std::int64_t used = pages && pageSize > 0 ? *pages * pageSize : 0;
    const auto cap = static_cast<std::int64_t>(std::min<rlim_t>(limit.rlim_cur, INT64_MAX));
    return std::max<std::int64_t>(0, cap - used);
}

/// What the memory control groups of this process leave, the tightest level from its own group
/// up to the root (cgroup v2 memory.max / memory.current, or v1 limit_in_bytes / usage_in_bytes).
std::optional<std::int64_t> ControlGroupLeft()
{
    QFile file(QStringLiteral("/proc/self/cgroup"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    std::optional<std::int64_t> left;
    const auto consider = [&left](const QString& folder, const char* limitName, const char* usageName) {
        const std::optional<std::int64_t> limit = ReadNumber(folder + QLatin1String(limitName));
        if (!limit || *limit >= (std::int64_t(1) << 60)) // unlimited
            return;
        const std::int64_t usage = ReadNumber(folder + QLatin1String(usageName)).value_or(0);
        const std::int64_t here = std::max<std::int64_t>(0, *limit - usage);
        left = left ? std::min(*left, here) : here;
    };
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() < 3)
            continue;
        const bool v2 = fields[0] == "0" && fields[1].isEmpty();
        const bool v1 = fields[1].split(',').contains("memory");
        if (!v1 && !v2)
            continue;
        const QString root = v2 ? QStringLiteral("/sys/fs/cgroup") : QStringLiteral("/sys/fs/cgroup/memory");
        QString group = QString::fromUtf8(fields.mid(2).join(':'));
        // Inside a container the group's own path may not be mounted: its root then is it.
        for (;;) {
            const QString folder = root + (group == QLatin1String("/") ? QString() : group) + QLatin1Char('/');
            if (v2)
                consider(folder, "memory.max", "memory.current");
            else
                consider(folder, "memory.limit_in_bytes", "memory.usage_in_bytes");
            if (group.isEmpty() || group == QLatin1String("/"))
                break;
            group.truncate(std::max<qsizetype>(1, group.lastIndexOf(QLatin1Char('/'))));
        }
    }
    return left;
}

/// Sizes of the memory message: GB with one decimal, below that whole MB, below that whole KB;
/// a need is rounded up and what is available down, so that the two never read the same.
QString SizeText(std::int64_t bytes, bool roundUp)
{
    const auto in = [bytes, roundUp](std::int64_t unit) {
        return roundUp ? bytes / unit + (bytes % unit != 0 ? 1 : 0) : bytes / unit;
    };
    if (bytes >= 1'000'000'000) {
        const std::int64_t tenths = in(100'000'000);
        return QStringLiteral("%1.%2 GB").arg(tenths / 10).arg(tenths % 10);
    }
    if (bytes >= 1'000'000)
        return QStringLiteral("%1 MB").arg(in(1'000'000));
    return QStringLiteral("%1 KB").arg(in(1'000));
}

} // namespace

QString ByteSizeText(std::int64_t bytes)
{
    if (bytes < 1'000'000)
        return bytes == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(bytes);
    return SizeText(bytes, false);
}

std::int64_t AvailableMemoryBytes()
{
    std::int64_t available = INT64_MAX;
    for (const std::optional<std::int64_t> bound : {SystemAvailable(), AddressSpaceLeft(), ControlGroupLeft()})
        if (bound)
            available = std::min(available, *bound);
    const std::int64_t ceiling = g_ceiling.load();
    if (ceiling > 0)
        available = std::min(available, ceiling);
    return available;
}

void SetMemoryCeiling(std::int64_t bytes)
{
    g_ceiling.store(bytes);
}

QString MemoryShortfallText(std::int64_t neededBytes, std::int64_t availableBytes)
{
    return QStringLiteral("This map needs %1 of memory; about %2 are available.")
        .arg(SizeText(neededBytes, true), SizeText(std::max<std::int64_t>(0, availableBytes), false));
}

QString OutOfMemoryText()
{
    const std::int64_t available = AvailableMemoryBytes();
    if (available == INT64_MAX)
        return QStringLiteral("Not enough memory to finish this.");
    return QStringLiteral("Not enough memory to finish this; about %1 are available.").arg(SizeText(available, false));
}

void RequirePixels(const QImage& image)
{
    if (image.isNull())
        throw std::bad_alloc();
}

std::optional<QString> CheckMemory(std::int64_t neededBytes)
{
    if (neededBytes < 0)
        return MemoryShortfallText(INT64_MAX, AvailableMemoryBytes());
    const std::int64_t available = AvailableMemoryBytes();
    if (neededBytes <= available)
        return std::nullopt;
    return MemoryShortfallText(neededBytes, available);
}

std::optional<std::int64_t> CheckedProduct(std::int64_t a, std::int64_t b, std::int64_t c)
{
    if (a < 0 || b < 0 || c < 0)
        return std::nullopt;
    std::int64_t ab = 0, abc = 0;
    if (__builtin_mul_overflow(a, b, &ab) || __builtin_mul_overflow(ab, c, &abc))
        return std::nullopt;
    return abc;
}
