#pragma once
// How much memory a file may make Varnel allocate: readers check what a file asks for against
// what the machine can give before they allocate, so that a huge map is refused up front with a
// clear message instead of ending in an abort or a swap storm.

#include <QString>

#include <cstdint>
#include <optional>

class QImage;

/// The bytes this process can still allocate: the least of the memory the system has available
/// (MemAvailable in /proc/meminfo), what the address-space limit (RLIMIT_AS) leaves, what the
/// control group's memory limit leaves, and the ceiling set by SetMemoryCeiling. INT64_MAX when
/// none of these can be read.
std::int64_t AvailableMemoryBytes();

/// Caps what AvailableMemoryBytes reports at bytes (0 or less removes the cap), for a process
/// that must stay small whatever the machine has: a fuzzing run, or a test of the refusal.
void SetMemoryCeiling(std::int64_t bytes);

/// The refusal for work that needs neededBytes when availableBytes are left, e.g. "This map
/// needs 4.8 GB of memory; about 2.1 GB are available." (sizes in decimal GB with one decimal,
/// below 1 GB in whole MB, below 1 MB in whole KB; the need rounded up, what is available down).
QString MemoryShortfallText(std::int64_t neededBytes, std::int64_t availableBytes);

/// The refusal when memory ran out and what the work needed is not known: "Not enough memory to
/// finish this; about 120 MB are available."
QString OutOfMemoryText();

/// A size for the user: "16 bytes", "3 MB", "4.8 GB" (decimal units).
QString ByteSizeText(std::int64_t bytes);

/// The refusal when neededBytes are more than the process can still allocate; nothing when they
/// fit. A negative need (an overflowed product) never fits.
std::optional<QString> CheckMemory(std::int64_t neededBytes);

/// a * b * c for sizes taken from a file: nothing when a factor is negative or the product does
/// not fit in 63 bits.
std::optional<std::int64_t> CheckedProduct(std::int64_t a, std::int64_t b, std::int64_t c = 1);

/// Throws std::bad_alloc when image has no pixels. QImage tells that it could not allocate them
/// only by being null, and work that went on would write through rows that are not there: every
/// image made, copied, converted or scaled to a size that is not empty is checked here, and
/// the failure ends where the command ends, in the memory message.
void RequirePixels(const QImage& image);
