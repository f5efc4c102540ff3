#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The lines of an INI file: how they end, what each holds, and how a value is written.
namespace profile {

// Windows counts VT and FF as blanks too.
bool isBlank(char c);
std::string_view trim(std::string_view text);
// ASCII letters in lower case, as names compare.
std::string lowered(std::string_view text);

bool isQuote(char c);
// Whether one matching pair of quotes stands around the value.
bool isQuoted(std::string_view value);
std::string_view unquoted(std::string_view value);
// Quotes a value whose outer blanks or quotes would otherwise be lost on reading.
std::string encoded(std::string_view value);
bool holdsLineBreak(std::string_view text);

enum class LineKind { Other, Header, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;
    std::string_view value;
    bool hasValue = false;
    bool quoted = false;
};

ParsedLine parseLine(std::string_view raw);

// As in Windows, LF, CR LF and a lone CR each end a line: the end of the line that starts at
// `from`, and in `eol` its line end, in static storage, which outlives every document.
// `nextLf` is the first LF at or after `from`, or npos; kept between calls, so that a file
// whose lines end in a lone CR is not searched to its end for each line.
std::size_t lineEnd(std::string_view text, std::size_t from, std::size_t& nextLf,
                    std::string_view& eol);

} // namespace profile
