#include "number_text.h"

namespace numtext {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}
bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// More digits than this cannot be in range for any bound that fits in 64 bits.
constexpr std::size_t kMaxSignificantDigits = 18;

} // namespace

std::optional<std::int64_t> toRoundedInteger(std::string_view text, std::int64_t minimum,
                                             std::int64_t maximum)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);

    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::size_t split = 0;
    while (split < text.size() && isDigit(text[split]))
        ++split;
    std::string_view whole = text.substr(0, split);
    std::string_view fraction;
    if (split < text.size()) {
        if (text[split] != '.')
            return std::nullopt;
        fraction = text.substr(split + 1);
        for (char c : fraction) {
            if (!isDigit(c))
                return std::nullopt;
        }
    }
    if (whole.empty() && fraction.empty())
        return std::nullopt;

    while (!whole.empty() && whole.front() == '0')
        whole.remove_prefix(1);
    if (whole.size() > kMaxSignificantDigits)
        return std::nullopt;
    std::int64_t magnitude = 0;
    for (char c : whole)
        magnitude = magnitude * 10 + (c - '0');

    if (!fraction.empty()) {
        const bool restIsZero = fraction.find_first_not_of('0', 1) == std::string_view::npos;
        const char first = fraction.front();
        const bool roundUp = first > '5' || (first == '5' && (!restIsZero || magnitude % 2 == 1));
        if (roundUp)
            ++magnitude;
    }
    const std::int64_t result = negative ? -magnitude : magnitude;
    if (result < minimum || result > maximum)
        return std::nullopt;
    return result;
}

} // namespace numtext
