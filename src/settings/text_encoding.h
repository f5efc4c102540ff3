#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace profile {

// How an INI file's bytes hold its text. Inside the store all text is UTF-8. A file is read as
// UTF-16LE after its byte-order mark, as UTF-8 when its bytes are valid UTF-8 (after an optional
// byte-order mark), and otherwise as Windows-1252, the ANSI code page of the files' origin. Each
// of the three gives the file's bytes back unchanged when its text is encoded again.
struct FileEncoding {
    enum class Charset { Utf8, Utf16Le, Windows1252 };
    std::string byteOrderMark;
    Charset charset = Charset::Utf8;
};

// The text of a file in UTF-8, and in `encoding` how to write it back.
std::string decodeFile(std::string_view bytes, FileEncoding& encoding);
// Whether decodeFile gives the bytes back unchanged, with the default encoding: UTF-8 without a
// byte-order mark.
bool isPlainUtf8(std::string_view bytes);

// The bytes of `text` in `encoding`. Text that Windows-1252 cannot hold, or that would read
// back as something else, is written in UTF-8 instead, so that nothing is lost.
std::string encodeFile(std::string_view text, const FileEncoding& encoding);

// A caller's 8-bit text in UTF-8: taken as it is when it is valid UTF-8, and as Windows-1252
// otherwise (converted only then).
class CallerText {
public:
    explicit CallerText(const char* bytes);
    CallerText(const CallerText&) = delete;
    CallerText& operator=(const CallerText&) = delete;
    std::string_view text() const { return text_; }

private:
    std::string converted_;
    std::string_view text_;
};

bool isUtf8(std::string_view bytes);

// How many bytes at the start of `bytes` are ASCII; read eight at a time, as settings texts
// mostly are ASCII.
std::size_t asciiPrefix(std::string_view bytes);

// The length of `text` without a UTF-8 sequence that a cut left incomplete at its end.
std::size_t wholeCharacters(std::string_view text);

} // namespace profile
