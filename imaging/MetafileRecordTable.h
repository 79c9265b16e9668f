#pragma once
// A metafile player's records as a table: each record type has one row naming the small handler
// that plays it, so a record is added or changed in one place.

#include "imaging/MetafileRecordReader.h"

#include <algorithm>
#include <initializer_list>
#include <vector>

/// The record handlers of a metafile player (Player), found by record type (Code).
template <typename Player, typename Code>
class MetafileRecordTable {
public:
    /// Plays one record, the reader standing at its first parameter. False when the record does
    /// not fit: that ends the playing.
    using Handler = bool (*)(Player& player, Code type, MetafileRecordReader& r);
    struct Row {
        Code type;
        Handler handler;
    };
    using Rows = std::vector<Row>;

    /// The rows of all groups; each type appears once.
    explicit MetafileRecordTable(std::initializer_list<Rows> groups)
    {
        for (const Rows& group : groups)
            m_Rows.insert(m_Rows.end(), group.begin(), group.end());
        std::sort(m_Rows.begin(), m_Rows.end(), [](const Row& a, const Row& b) { return a.type < b.type; });
    }

    /// Plays the record through its row's handler. A type without a row changes nothing drawn
    /// here and is passed over (true).
    bool Play(Player& player, Code type, MetafileRecordReader& r) const
    {
        const auto row =
            std::lower_bound(m_Rows.begin(), m_Rows.end(), type, [](const Row& a, Code t) { return a.type < t; });
        return row != m_Rows.end() && row->type == type ? row->handler(player, type, r) : true;
    }

private:
    Rows m_Rows;
};
