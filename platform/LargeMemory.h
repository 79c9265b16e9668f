#pragma once
// Making large buffers ready before they are filled.

#include <cstddef>

/// Commits the memory of a large buffer in one go, in huge pages where the system offers them,
/// before it is filled: filling a fresh buffer otherwise takes one page fault per 4 KB page,
/// and in a virtual machine those faults can cost more than the work that fills the buffer.
/// Fresh memory stays zero, and memory that holds data keeps it. Buffers under 8 MB, and
/// systems without the calls, are left alone. Only whole pages inside the buffer are touched.
void CommitMemory(void* data, std::size_t bytes);
