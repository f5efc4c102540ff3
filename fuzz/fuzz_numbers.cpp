// Converts arbitrary text to a rounded integer; a result must lie in range, and a plain integer
// must come out as the standard library reads it.
#include "runtime/number_text.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    constexpr std::int64_t low = -2147483648LL, high = 2147483647LL;
    const auto number = numtext::toRoundedInteger(text, low, high);
    if (number && (*number < low || *number > high))
        std::abort();

    const std::size_t first = text.find_first_not_of(" \t");
    const std::size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos)
        return number ? (std::abort(), 0) : 0;
    const std::string core = text.substr(first, last - first + 1);
    const bool plainInteger =
        core.size() <= 12 &&
        core.find_first_not_of("0123456789", core[0] == '-' || core[0] == '+') ==
            std::string::npos &&
        core.size() > (core[0] == '-' || core[0] == '+');
    if (plainInteger) {
        const long long expected = std::stoll(core);
        const bool inRange = expected >= low && expected <= high;
        if (inRange != number.has_value() || (inRange && *number != expected))
            std::abort();
    }
    return 0;
}
