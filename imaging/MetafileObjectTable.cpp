#include "imaging/MetafileObjectTable.h"

bool MetafileObjectTable::Store(std::uint32_t index, MetafileObject object)
{
    if (index >= kMaxObjects)
        return false;
    if (index >= m_Objects.size()) {
        for (std::uint32_t i = std::uint32_t(m_Objects.size()); i < index; ++i)
            m_Freed.insert(i);
        m_Objects.resize(size_t(index) + 1);
    }
    m_Freed.erase(index);
    m_Objects[index] = std::move(object);
    return true;
}

bool MetafileObjectTable::StoreInFreeEntry(MetafileObject object)
{
    const std::uint32_t index = m_Freed.empty() ? std::uint32_t(m_Objects.size()) : *m_Freed.begin();
    return Store(index, std::move(object));
}

const MetafileObject* MetafileObjectTable::Find(std::uint32_t index) const
{
    if (index >= m_Objects.size() || std::holds_alternative<std::monostate>(m_Objects[index]))
        return nullptr;
    return &m_Objects[index];
}

void MetafileObjectTable::Delete(std::uint32_t index)
{
    if (index >= m_Objects.size())
        return;
    m_Objects[index] = std::monostate{};
    m_Freed.insert(index);
}
