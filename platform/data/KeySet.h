#pragma once

#include <QtGlobal>

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace platform {

// A set of row keys: a bit each while they are dense, as the keys of one file
// are, and a hash set for keys far out (another program may write a row with
// any key).
class KeySet
{
public:
    // Bits for keys up to `largest`, as far as `count` keys make that dense.
    KeySet(qint64 largest, size_t count)
    {
        const qint64 limit = qint64(count) * 64 + (qint64(1) << 20);
        m_bits.assign(size_t(std::clamp<qint64>(largest, -1, limit) / 64 + 1), 0);
    }
    explicit KeySet(const std::vector<qint64>& keys)
        : KeySet(keys.empty() ? -1 : *std::max_element(keys.begin(), keys.end()), keys.size())
    {
        for (qint64 key : keys)
            insert(key);
    }

    // Whether `key` was not in the set yet.
    bool insert(qint64 key)
    {
        if (key < 0 || size_t(key / 64) >= m_bits.size())
            return m_others.insert(key).second;
        quint64& word = m_bits[size_t(key / 64)];
        const quint64 bit = quint64(1) << (key % 64);
        const bool was = word & bit;
        word |= bit;
        return !was;
    }
    bool contains(qint64 key) const
    {
        if (key < 0 || size_t(key / 64) >= m_bits.size())
            return m_others.count(key) != 0;
        return (m_bits[size_t(key / 64)] >> (key % 64)) & 1;
    }

private:
    std::vector<quint64> m_bits;
    std::unordered_set<qint64> m_others;
};

} // namespace platform
