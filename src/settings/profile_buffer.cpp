#include "profile_buffer.h"

#include <algorithm>
#include <cstring>

namespace profile {

namespace {

// Windows drops trailing spaces from a default (never its first character, nor tabs) and then
// one pair of quotes around it, as around a value.
std::string_view cleanedDefault(std::string_view text, bool* quoted)
{
    std::size_t end = text.size();
    while (end > 1 && text[end - 1] == ' ')
        --end;
    return IniDocument::unquoted(text.substr(0, end), quoted);
}

std::int32_t copyEntry(std::string_view text, bool quoted, char* buffer, std::uint32_t bufferSize)
{
    const std::size_t count = readLength(text.size(), quoted, bufferSize);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<std::int32_t>(count);
}

// Names each followed by a NUL, the list ended by one more. Names are copied while more than
// two bytes are left, the last one cut so that its NUL takes the last byte but one; a list that
// ends there gets a second NUL in the last byte and counts bufferSize - 2.
std::int32_t copyList(const std::vector<std::string_view>& names, char* buffer,
                      std::uint32_t bufferSize)
{
    std::uint32_t left = bufferSize;
    char* out = buffer;
    for (const std::string_view name : names) {
        if (left <= 2)
            break;
        const std::size_t count = std::min<std::size_t>(name.size(), left - 2);
        std::memcpy(out, name.data(), count);
        out[count] = '\0';
        out += count + 1;
        left -= static_cast<std::uint32_t>(count + 1);
    }
    if (left <= 1) {
        buffer[bufferSize - 1] = '\0';
        return static_cast<std::int32_t>(std::max<std::uint32_t>(bufferSize, 2) - 2);
    }
    *out = '\0';
    return static_cast<std::int32_t>(bufferSize - left);
}

} // namespace

std::size_t readLength(std::size_t size, bool quoted, std::uint32_t bufferSize)
{
    // Windows copies a quoted text with its closing quote and then drops the last byte
    // copied, so a buffer that just misses the closing quote loses a byte of the text too.
    // A buffer of one byte holds the NUL alone.
    if (quoted && bufferSize >= size + 1) {
        const std::size_t copied = std::min<std::size_t>(size + 1, bufferSize - 1);
        return copied == 0 ? 0 : copied - 1;
    }
    return std::min<std::size_t>(size, bufferSize - 1);
}

std::int32_t answerRead(const IniDocument& document, const char* section, const char* key,
                        const char* defaultText, char* buffer, std::uint32_t bufferSize)
{
    if (!buffer || bufferSize == 0)
        return 0;
    if (!section)
        return copyList(document.sectionNames(), buffer, bufferSize);
    const CallerText sectionName(section);
    const CallerText given(defaultText ? defaultText : "");
    bool fallbackQuoted = false;
    const std::string_view fallback = cleanedDefault(given.text(), &fallbackQuoted);
    if (!key) {
        const std::int32_t count =
            copyList(document.keyNames(sectionName.text()), buffer, bufferSize);
        // A list that starts with an empty name reads as no list at all.
        if (buffer[0] != '\0')
            return count;
        return copyEntry(fallback, fallbackQuoted, buffer, bufferSize);
    }
    const CallerText keyName(key);
    bool quoted = false;
    if (const auto value = document.value(sectionName.text(), keyName.text(), &quoted))
        return copyEntry(*value, quoted, buffer, bufferSize);
    return copyEntry(fallback, fallbackQuoted, buffer, bufferSize);
}

} // namespace profile
