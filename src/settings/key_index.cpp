#include "key_index.h"

#include <cstdint>
#include <cstring>

namespace profile {

namespace {

unsigned char folded(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a')
                                  : static_cast<unsigned char>(c);
}

// Eight bytes at a time, each word with `setBits` set. The index takes the low bits: each
// product's high half is folded into them.
std::size_t wordHash(std::string_view text, std::uint64_t setBits)
{
    constexpr std::uint64_t kMultiplier = 0x9e3779b97f4a7c15u;
    std::uint64_t hash = text.size();
    const auto mix = [&hash, setBits](std::uint64_t word) {
        hash = (hash ^ (word | setBits)) * kMultiplier;
        hash ^= hash >> 32;
    };
    std::size_t at = 0;
    for (std::uint64_t word; at + sizeof word <= text.size(); at += sizeof word) {
        std::memcpy(&word, text.data() + at, sizeof word);
        mix(word);
    }
    if (at < text.size()) {
        std::uint64_t word = 0;
        std::memcpy(&word, text.data() + at, text.size() - at);
        mix(word);
    }
    return static_cast<std::size_t>(hash);
}

} // namespace

std::size_t foldedHash(std::string_view name)
{
    // Each byte with bit 5 set: that puts an upper-case ASCII letter on its lower-case one (and
    // a few other characters on others, which then only share a hash).
    return wordHash(name, 0x2020202020202020u);
}

std::size_t textHash(std::string_view text)
{
    return wordHash(text, 0);
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
