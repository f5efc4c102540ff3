#include "key_index.h"

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
    // 64-bit FNV-1a. The index takes the low bits, which alone depend on the low bits of each
    // step: the high half is folded into them.
    std::size_t hash = static_cast<std::size_t>(14695981039346656037u);
    for (const char c : name)
        hash = (hash ^ folded(c)) * static_cast<std::size_t>(1099511628211u);
    return hash ^ (hash >> 32);
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
