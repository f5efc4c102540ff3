#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cmdline {

// Splits a command line into words by the POSIX shell's quoting rules, without any expansion:
// blanks separate words; '...' keeps everything literally; "..." keeps everything but a
// backslash before $ ` " \ or a line end; outside quotes a backslash keeps the next character
// (and a backslash before a line end joins the lines). Empty when a quote is left open or the
// line ends in a lone backslash.
std::optional<std::vector<std::string>> split(const std::string& line);

} // namespace cmdline
