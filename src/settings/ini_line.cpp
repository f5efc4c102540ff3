#include "ini_line.h"

#include <algorithm>

namespace profile {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool isQuote(char c)
{
    return c == '"' || c == '\'';
}

std::string lowered(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return result;
}

bool isQuoted(std::string_view value)
{
    return value.size() >= 2 && isQuote(value.front()) && value.back() == value.front();
}

std::string_view unquoted(std::string_view value)
{
    return isQuoted(value) ? value.substr(1, value.size() - 2) : value;
}

std::string encoded(std::string_view value)
{
    if (!value.empty() && (isBlank(value.front()) || isBlank(value.back()) || isQuoted(value)))
        return '"' + std::string(value) + '"';
    return std::string(value);
}

bool holdsLineBreak(std::string_view text)
{
    // Two scans for one character each: find_first_of looks up every character of the text.
    return text.find('\n') != text.npos || text.find('\r') != text.npos;
}

ParsedLine parseLine(std::string_view raw)
{
    // Windows reads a line as a C string: a NUL ends it.
    const std::string_view text = trim(raw.substr(0, raw.find('\0')));
    if (text.empty())
        return {};
    if (text.front() == '[') {
        // Without a closing bracket the line is no header but a key without a value.
        const std::size_t close = text.rfind(']');
        if (close != text.npos)
            return {LineKind::Header, trim(text.substr(1, close - 1)), {}};
    }
    const std::size_t equals = text.find('=');
    // A line without '=' is a key without a value: found by its name, but never listed.
    if (equals == text.npos)
        return {LineKind::Key, text, {}};
    const std::string_view value = trim(text.substr(equals + 1));
    return {LineKind::Key, trim(text.substr(0, equals)), unquoted(value), true, isQuoted(value)};
}

std::size_t lineEnd(std::string_view text, std::size_t from, std::size_t& nextLf,
                    std::string_view& eol)
{
    // Two searches for one character each are far faster than one loop over every character;
    // the CR is looked for only up to the LF.
    if (nextLf != text.npos && nextLf < from)
        nextLf = text.find('\n', from);
    std::size_t end = std::min(nextLf, text.size());
    end = std::min(text.substr(0, end).find('\r', from), end);
    if (end == text.size())
        eol = "";
    else if (text[end] == '\n')
        eol = "\n";
    else
        eol = end + 1 < text.size() && text[end + 1] == '\n' ? "\r\n" : "\r";
    return end;
}

} // namespace profile
