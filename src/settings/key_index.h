#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

namespace profile {

// Names compared as the store compares them: without regard to ASCII case.
std::size_t foldedHash(std::string_view name);
bool foldedEqual(std::string_view a, std::string_view b);
// A hash of the exact text, far cheaper per byte than std::hash.
std::size_t textHash(std::string_view text);

// Finds the position of a name among a section's keys. It holds positions only and asks
// `nameAt(position)` for their names, so a section of many keys costs no allocation per key:
// open addressing with linear probing, at most half full.
class KeyIndex {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // Empties the index, with room for `names` names without growing.
    void clear(std::size_t names)
    {
        std::size_t size = 16;
        while (size < 2 * names)
            size *= 2;
        slots_.assign(size, 0);
        count_ = 0;
    }

    // The position held for a name equal to `name`, or npos.
    template <typename NameAt> std::size_t find(std::string_view name, NameAt nameAt) const
    {
        if (slots_.empty())
            return npos;
        const std::size_t held = slots_[slotFor(name, nameAt)];
        return held == 0 ? npos : held - 1;
    }

    // Holds `position` for `name` unless an equal name is held already: the position held for
    // the name, and whether it is the new one.
    template <typename NameAt>
    std::pair<std::size_t, bool> insert(std::string_view name, std::size_t position, NameAt nameAt)
    {
        if (2 * (count_ + 1) > slots_.size())
            grow(nameAt);
        std::size_t& slot = slots_[slotFor(name, nameAt)];
        if (slot != 0)
            return {slot - 1, false};
        slot = position + 1;
        ++count_;
        return {position, true};
    }

private:
    // The slot that holds a name equal to `name`, or the empty slot where it would go.
    template <typename NameAt> std::size_t slotFor(std::string_view name, NameAt nameAt) const
    {
        const std::size_t mask = slots_.size() - 1;
        std::size_t slot = foldedHash(name) & mask;
        while (slots_[slot] != 0 && !foldedEqual(nameAt(slots_[slot] - 1), name))
            slot = (slot + 1) & mask;
        return slot;
    }

    template <typename NameAt> void grow(NameAt nameAt)
    {
        std::vector<std::size_t> old(std::max<std::size_t>(16, 2 * slots_.size()), 0);
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (const std::size_t held : old) {
            if (held == 0)
                continue;
            std::size_t slot = foldedHash(nameAt(held - 1)) & mask;
            while (slots_[slot] != 0)
                slot = (slot + 1) & mask;
            slots_[slot] = held;
        }
    }

    std::vector<std::size_t> slots_; // a position + 1; 0 for an empty slot
    std::size_t count_ = 0;
};

} // namespace profile
