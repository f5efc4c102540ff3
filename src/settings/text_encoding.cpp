#include "text_encoding.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace profile {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";

// Windows-1252 from 0x80 to 0x9F; the five bytes it leaves undefined stand for the C1 control
// of the same number, so that every byte reads and writes back unchanged.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::size_t sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// Reads one strict UTF-8 sequence at `at`; false when there is none.
bool readUtf8(std::string_view text, std::size_t& at, char32_t& point)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = sequenceLength(lead);
    if (length == 0 || at + length > text.size())
        return false;
    point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80)
            return false;
        point = (point << 6) | (next & 0x3F);
    }
    const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
    if (overlong || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF)
        return false;
    at += length;
    return true;
}

void appendUtf8(std::string& out, char32_t point)
{
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

std::string fromWindows1252(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 4);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        appendUtf8(text, byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : byte);
    }
    return text;
}

// The Windows-1252 byte of a code point, or -1 when the code page has none.
int windows1252Byte(char32_t point)
{
    if (point < 0x80 || (point >= 0xA0 && point <= 0xFF))
        return static_cast<int>(point);
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == point)
            return static_cast<int>(0x80 + i);
    }
    return -1;
}

// False when the text holds a character that Windows-1252 lacks.
bool toWindows1252(std::string_view text, std::string& bytes)
{
    bytes.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t point = 0xFFFD;
        if (!readUtf8(text, at, point))
            ++at;
        const int byte = windows1252Byte(point);
        if (byte < 0)
            return false;
        bytes += static_cast<char>(byte);
    }
    return true;
}

// False when the bytes are no whole UTF-16LE text (an odd length or a lone surrogate).
bool fromUtf16Le(std::string_view bytes, std::string& text)
{
    if (bytes.size() % 2 != 0)
        return false;
    text.reserve(bytes.size() / 2);
    const auto unitAt = [&](std::size_t i) {
        return static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                     static_cast<unsigned char>(bytes[i + 1]) << 8);
    };
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const char16_t unit = unitAt(i);
        if (unit >= 0xDC00 && unit <= 0xDFFF)
            return false;
        if (unit < 0xD800 || unit > 0xDBFF) {
            appendUtf8(text, unit);
            continue;
        }
        if (i + 2 >= bytes.size())
            return false;
        const char16_t low = unitAt(i + 2);
        if (low < 0xDC00 || low > 0xDFFF)
            return false;
        appendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
    }
    return true;
}

std::string toUtf16Le(std::string_view text)
{
    std::string bytes;
    bytes.reserve(text.size() * 2);
    const auto put = [&](char32_t unit) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    };
    for (std::size_t at = 0; at < text.size();) {
        char32_t point = 0xFFFD;
        if (!readUtf8(text, at, point))
            ++at;
        if (point < 0x10000) {
            put(point);
        } else {
            put(0xD800 + ((point - 0x10000) >> 10));
            put(0xDC00 + ((point - 0x10000) & 0x3FF));
        }
    }
    return bytes;
}

} // namespace

std::size_t asciiPrefix(std::string_view bytes)
{
    constexpr std::uint64_t kHighBits = 0x8080808080808080u;
    std::size_t at = 0;
    for (std::uint64_t word; at + sizeof word <= bytes.size(); at += sizeof word) {
        std::memcpy(&word, bytes.data() + at, sizeof word);
        if (word & kHighBits)
            break;
    }
    while (at < bytes.size() && static_cast<unsigned char>(bytes[at]) < 0x80)
        ++at;
    return at;
}

bool isUtf8(std::string_view bytes)
{
    std::size_t at = asciiPrefix(bytes);
    char32_t point;
    while (at < bytes.size()) {
        if (!readUtf8(bytes, at, point))
            return false;
    }
    return true;
}

std::string decodeFile(std::string_view bytes, FileEncoding& encoding)
{
    encoding = FileEncoding{};
    if (bytes.substr(0, kUtf16LeMark.size()) == kUtf16LeMark) {
        std::string text;
        if (fromUtf16Le(bytes.substr(kUtf16LeMark.size()), text)) {
            encoding.byteOrderMark = kUtf16LeMark;
            encoding.charset = FileEncoding::Charset::Utf16Le;
            return text;
        }
    } else if (bytes.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
        encoding.byteOrderMark = kUtf8Mark;
        bytes.remove_prefix(kUtf8Mark.size());
    }
    if (isUtf8(bytes))
        return std::string(bytes);
    encoding.charset = FileEncoding::Charset::Windows1252;
    return fromWindows1252(bytes);
}

bool isPlainUtf8(std::string_view bytes)
{
    return bytes.substr(0, kUtf16LeMark.size()) != kUtf16LeMark &&
           bytes.substr(0, kUtf8Mark.size()) != kUtf8Mark && isUtf8(bytes);
}

std::string encodeFile(std::string_view text, const FileEncoding& encoding)
{
    std::string bytes = encoding.byteOrderMark;
    switch (encoding.charset) {
    case FileEncoding::Charset::Utf16Le:
        return bytes + toUtf16Le(text);
    case FileEncoding::Charset::Windows1252: {
        // Bytes that would be taken for another encoding on the next read (valid UTF-8 with
        // high bytes, or what follows "\xFF\xFE" as UTF-16LE) are written as UTF-8 instead.
        FileEncoding again;
        if (toWindows1252(text, bytes) && decodeFile(bytes, again) == text)
            return bytes;
        bytes = encoding.byteOrderMark;
        break;
    }
    case FileEncoding::Charset::Utf8:
        break;
    }
    return bytes.append(text);
}

CallerText::CallerText(const char* bytes) : text_(bytes)
{
    if (!isUtf8(text_)) {
        converted_ = fromWindows1252(text_);
        text_ = converted_;
    }
}

std::size_t wholeCharacters(std::string_view text)
{
    for (std::size_t back = 1; back <= 4 && back <= text.size(); ++back) {
        const auto byte = static_cast<unsigned char>(text[text.size() - back]);
        if ((byte & 0xC0) == 0x80)
            continue;
        const std::size_t length = sequenceLength(byte);
        return length > back ? text.size() - back : text.size();
    }
    return text.size();
}

} // namespace profile
