#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
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
// Whether a value must be written in quotes, since its outer blanks or quotes would otherwise
// be lost on reading.
bool needsQuotes(std::string_view value);
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

enum class LineEnd : unsigned char { None, Lf, CrLf, Cr };
std::string_view lineEndText(LineEnd end);

// As in Windows, LF, CR LF and a lone CR each end a line: the end of the line that starts at
// `from`, and in `eol` how it ends. `nextLf` is the first LF at or after `from`, or npos; kept
// between calls, so that a file whose lines end in a lone CR is not searched to its end for
// each line.
std::size_t lineEnd(std::string_view text, std::size_t from, std::size_t& nextLf, LineEnd& eol);

// One line of a file: a view into the text it was read from, which must outlive it, until it
// is given a text of its own. Small, since a long file has many.
class TextLine {
public:
    TextLine(std::string_view read, LineEnd end) : data_(read.data()), size_(read.size()), end_(end)
    {
    }
    // A line with a text of its own, the pieces put together.
    static TextLine made(std::initializer_list<std::string_view> pieces, LineEnd end);

    std::string_view text() const { return {data_, size_}; }
    void setText(std::initializer_list<std::string_view> pieces);
    LineEnd end() const { return end_; }
    void setEnd(LineEnd end) { end_ = end; }

private:
    const char* data_;
    std::size_t size_;
    std::unique_ptr<char[]> own_;
    LineEnd end_;
};

} // namespace profile
