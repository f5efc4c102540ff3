#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace numtext {

// Converts text that holds one decimal number (an optional sign, digits, an optional fraction
// after a point; blanks around it allowed) to the nearest integer, a half going to the even
// neighbour (2.5 gives 2, 3.5 gives 4). Empty when the text is no such number or the result
// lies outside [minimum, maximum].
std::optional<std::int64_t> toRoundedInteger(std::string_view text, std::int64_t minimum,
                                             std::int64_t maximum);

} // namespace numtext
