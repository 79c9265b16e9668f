#pragma once

#include "imaging/MetafileGdiState.h"

#include <cstdint>
#include <set>
#include <vector>

/// The object table of a metafile: the pens, brushes, fonts, regions and palettes its records
/// create, by index. Enhanced metafiles name the index in the creating record; 16-bit
/// metafiles put each new object in the lowest free entry. The table holds at most
/// kMaxObjects entries, whatever a header claims.
class MetafileObjectTable {
public:
    static constexpr std::uint32_t kMaxObjects = 65536;

    /// Stores object at index (replacing what was there). False when index is beyond the limit.
    bool Store(std::uint32_t index, MetafileObject object);
    /// Stores object in the lowest free entry. False when the table is full.
    bool StoreInFreeEntry(MetafileObject object);
    /// The object at index; null when the entry is empty or beyond the table.
    const MetafileObject* Find(std::uint32_t index) const;
    /// Empties the entry (which becomes free again).
    void Delete(std::uint32_t index);

private:
    std::vector<MetafileObject> m_Objects;
    std::set<std::uint32_t> m_Freed; ///< emptied entries below m_Objects.size()
};
