#include "ini_line.h"

#include <algorithm>
#include <cstring>

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

bool needsQuotes(std::string_view value)
{
    return !value.empty() && (isBlank(value.front()) || isBlank(value.back()) || isQuoted(value));
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

std::string_view lineEndText(LineEnd end)
{
    switch (end) {
    case LineEnd::Lf:
        return "\n";
    case LineEnd::CrLf:
        return "\r\n";
    case LineEnd::Cr:
        return "\r";
    default:
        return "";
    }
}

std::size_t lineEnd(std::string_view text, std::size_t from, std::size_t& nextLf, LineEnd& eol)
{
    // Two searches for one character each are far faster than one loop over every character;
    // the CR is looked for only up to the LF.
    if (nextLf != text.npos && nextLf < from)
        nextLf = text.find('\n', from);
    std::size_t end = std::min(nextLf, text.size());
    end = std::min(text.substr(0, end).find('\r', from), end);
    if (end == text.size())
        eol = LineEnd::None;
    else if (text[end] == '\n')
        eol = LineEnd::Lf;
    else
        eol = end + 1 < text.size() && text[end + 1] == '\n' ? LineEnd::CrLf : LineEnd::Cr;
    return end;
}

TextLine TextLine::made(std::initializer_list<std::string_view> pieces, LineEnd end)
{
    TextLine line(std::string_view(), end);
    line.setText(pieces);
    return line;
}

void TextLine::setText(std::initializer_list<std::string_view> pieces)
{
    // One allocation for the whole line: a long table is saved as many new lines.
    std::size_t size = 0;
    for (const std::string_view piece : pieces)
        size += piece.size();
    std::unique_ptr<char[]> text(new char[size]);
    char* out = text.get();
    for (const std::string_view piece : pieces) {
        std::memcpy(out, piece.data(), piece.size());
        out += piece.size();
    }
    own_ = std::move(text);
    data_ = own_.get();
    size_ = size;
}

} // namespace profile
