#include "key_index.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace profile {

namespace {

unsigned char folded(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a')
                                  : static_cast<unsigned char>(c);
}

} // namespace

std::size_t foldedHash(std::string_view name)
{
    // Eight bytes at a time, each with bit 5 set: that puts an upper-case ASCII letter on its
    // lower-case one (and a few other characters on others, which then only share a hash). The
    // index takes the low bits: the product's high half is folded into them.
    constexpr std::uint64_t kCaseBits = 0x2020202020202020u;
    constexpr std::uint64_t kMultiplier = 0x9e3779b97f4a7c15u;
    std::uint64_t hash = name.size();
    for (std::size_t at = 0; at < name.size(); at += sizeof hash) {
        std::uint64_t word = 0;
        std::memcpy(&word, name.data() + at, std::min(sizeof word, name.size() - at));
        hash = (hash ^ (word | kCaseBits)) * kMultiplier;
        hash ^= hash >> 32;
    }
    return static_cast<std::size_t>(hash);
}

bool foldedEqual(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (folded(a[i]) != folded(b[i]))
            return false;
    }
    return true;
}

} // namespace profile
