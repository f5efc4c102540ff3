#include "ini_document.h"

#include <algorithm>

namespace profile {

namespace {

// Windows counts VT and FF as blanks too.
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

// Quotes a value whose outer blanks or quotes would otherwise be lost on reading.
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

enum class LineKind { Other, Header, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;
    std::string_view value;
    bool hasValue = false;
    bool quoted = false;
};

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

// As in Windows, LF, CR LF and a lone CR each end a line.
std::size_t lineEnd(std::string_view text, std::size_t from, std::size_t& eolLength)
{
    std::size_t end = from;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r')
        ++end;
    if (end == text.size())
        eolLength = 0;
    else
        eolLength = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1;
    return end;
}

} // namespace

void IniDocument::Section::reindex()
{
    keys.clear();
    keyIndex.clear();
    // Sized once: growing the index line by line rehashes it again and again.
    keys.reserve(lines.size());
    keyIndex.reserve(lines.size());
    afterLastListed = 0;
    for (std::size_t i = hasHeader ? 1 : 0; i < lines.size(); ++i) {
        const ParsedLine parsed = parseLine(lines[i].text);
        if (parsed.kind != LineKind::Key)
            continue;
        const bool first = keyIndex.emplace(lowered(parsed.name), keys.size()).second;
        keys.push_back({std::string(parsed.name), std::string(parsed.value), i, parsed.hasValue,
                        parsed.quoted, first});
        if (isListed(keys.back()))
            afterLastListed = i + 1;
    }
}

bool IniDocument::Section::isListed(const Key& key)
{
    // Comments are keys to a lookup by their exact name, but a key list leaves them out.
    return key.hasValue && (key.name.empty() || key.name.front() != ';');
}

const IniDocument::Key* IniDocument::Section::find(std::string_view key) const
{
    const auto it = keyIndex.find(lowered(trim(key)));
    return it == keyIndex.end() ? nullptr : &keys[it->second];
}

IniDocument IniDocument::parse(std::string_view bytes)
{
    IniDocument document;
    const std::string text = decodeFile(bytes, document.encoding_);
    for (std::size_t at = 0; at < text.size();) {
        std::size_t eolLength;
        const std::size_t end = lineEnd(text, at, eolLength);
        const std::string_view line(text.data() + at, end - at);
        // Only a line that starts with '[' can be a header; the keys are parsed by reindex().
        const std::size_t first = line.find_first_not_of(" \t\v\f");
        const bool maybeHeader = first != line.npos && line[first] == '[';
        const ParsedLine parsed = maybeHeader ? parseLine(line) : ParsedLine();
        if (parsed.kind == LineKind::Header) {
            document.sections_.emplace_back();
            document.sections_.back().name = std::string(parsed.name);
            document.sections_.back().hasHeader = true;
        }
        document.sections_.back().lines.push_back({std::string(line), text.substr(end, eolLength)});
        at = end + eolLength;
    }
    for (Section& section : document.sections_)
        section.reindex();
    document.reindexSections();
    return document;
}

std::string IniDocument::serialize() const
{
    std::string text;
    for (const Section& section : sections_) {
        for (const Line& line : section.lines) {
            text += line.text;
            text += line.eol;
        }
    }
    return encodeFile(text, encoding_);
}

void IniDocument::reindexSections()
{
    // The lines before the first header are the first section named "", ahead of any "[]".
    sectionIndex_.clear();
    for (std::size_t i = 0; i < sections_.size(); ++i)
        sectionIndex_.emplace(lowered(sections_[i].name), i);
}

IniDocument::Section* IniDocument::findSection(std::string_view name)
{
    const auto it = sectionIndex_.find(lowered(trim(name)));
    return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

const IniDocument::Section* IniDocument::findSection(std::string_view name) const
{
    const auto it = sectionIndex_.find(lowered(trim(name)));
    return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

const std::string* IniDocument::value(std::string_view section, std::string_view key,
                                      bool* quoted) const
{
    const Section* found = findSection(section);
    const Key* entry = found ? found->find(key) : nullptr;
    if (!entry || !entry->hasValue)
        return nullptr;
    if (quoted)
        *quoted = entry->quoted;
    return &entry->value;
}

std::vector<std::string_view> IniDocument::keyNames(std::string_view section) const
{
    std::vector<std::string_view> names;
    // Unlike a value lookup, a key list takes the section's name with its blanks.
    const auto it = sectionIndex_.find(lowered(section));
    if (it == sectionIndex_.end())
        return names;
    for (const Key& key : sections_[it->second].keys) {
        if (Section::isListed(key))
            names.push_back(key.name);
    }
    return names;
}

std::vector<IniDocument::Entry> IniDocument::firstKeys(std::string_view section) const
{
    std::vector<Entry> entries;
    const Section* found = findSection(section);
    if (!found)
        return entries;
    entries.reserve(found->keys.size());
    for (const Key& key : found->keys) {
        if (key.first)
            entries.push_back({key.name, key.hasValue ? &key.value : nullptr, key.quoted});
    }
    return entries;
}

std::vector<std::string_view> IniDocument::sectionNames() const
{
    std::vector<std::string_view> names;
    for (std::size_t i = 1; i < sections_.size(); ++i) {
        // An empty name would read as the list's end.
        if (!sections_[i].name.empty())
            names.push_back(sections_[i].name);
    }
    return names;
}

std::string_view IniDocument::unquoted(std::string_view value, bool* quoted)
{
    *quoted = isQuoted(value);
    return profile::unquoted(value);
}

IniDocument::SectionLines IniDocument::sectionLines(std::string_view section) const
{
    // 64-bit FNV-1a steps over each line's hash and line end: far cheaper than hashing the
    // section's text put together, and as sensitive to any change.
    constexpr std::size_t kPrime = 1099511628211u;
    SectionLines result;
    const Section* first = findSection(section);
    const std::string name = lowered(trim(section));
    for (std::size_t s = 1; s < sections_.size(); ++s) {
        const Section& current = sections_[s];
        if (lowered(current.name) != name)
            continue;
        std::vector<bool> read(current.lines.size(), false);
        if (&current == first) {
            read[0] = true;
            for (const Key& key : current.keys)
                read[key.line] = key.first && Section::isListed(key);
        }
        for (std::size_t i = 0; i < current.lines.size(); ++i) {
            const Line& line = current.lines[i];
            result.fingerprint =
                (result.fingerprint ^ std::hash<std::string>()(line.text)) * kPrime;
            for (const char c : line.eol)
                result.fingerprint = (result.fingerprint ^ static_cast<unsigned char>(c)) * kPrime;
            result.fingerprint = (result.fingerprint ^ line.eol.size()) * kPrime;
            if (!read[i] && !trim(line.text).empty())
                result.unread.push_back(line.text);
        }
    }
    return result;
}

bool IniDocument::isWritableSection(std::string_view name)
{
    return !holdsLineBreak(name);
}

bool IniDocument::isWritableKey(std::string_view name)
{
    const std::string_view trimmed = trim(name);
    if (holdsLineBreak(name) || trimmed.find('=') != trimmed.npos)
        return false;
    return trimmed.empty() || (trimmed.front() != '[' && trimmed.front() != ';');
}

bool IniDocument::isWritableValue(std::string_view value)
{
    return !holdsLineBreak(value);
}

std::string IniDocument::newLineEnding() const
{
    for (const Section& section : sections_) {
        for (const Line& line : section.lines) {
            if (!line.eol.empty())
                return line.eol;
        }
    }
    return "\n";
}

bool IniDocument::setValue(std::string_view section, std::string_view key, std::string_view value)
{
    section = trim(section);
    key = trim(key);
    const std::string written = encoded(value);
    const bool quoted = written.size() != value.size();
    const std::string keyLine = std::string(key) + '=' + written;
    Section* target = findSection(section);
    if (!target) {
        const std::string eol = newLineEnding();
        Section& last = sections_.back();
        if (!last.lines.empty()) {
            if (last.lines.back().eol.empty())
                last.lines.back().eol = eol;
            if (!trim(last.lines.back().text).empty())
                last.lines.push_back({std::string(), eol});
        }
        Section added;
        added.name = std::string(section);
        added.hasHeader = true;
        added.lines.push_back({'[' + std::string(section) + ']', eol});
        added.lines.push_back({keyLine, eol});
        added.reindex();
        sections_.push_back(std::move(added));
        sectionIndex_.emplace(lowered(section), sections_.size() - 1);
        return true;
    }
    // One hash lookup for both cases: a long table is saved as thousands of new keys.
    const auto [indexed, added] = target->keyIndex.try_emplace(lowered(key), target->keys.size());
    if (!added) {
        Key& existing = target->keys[indexed->second];
        if (existing.hasValue && existing.value == value)
            return false;
        target->lines[existing.line].text = keyLine;
        existing = {std::string(key), std::string(value), existing.line, true, quoted, true};
        target->afterLastListed = std::max(target->afterLastListed, existing.line + 1);
        return true;
    }
    // A new key goes after the section's last key, ahead of trailing comments and blank lines.
    std::size_t position = target->afterLastListed;
    if (position == 0)
        position = target->hasHeader ? 1 : 0;
    std::string eol = newLineEnding();
    if (position > 0) {
        Line& before = target->lines[position - 1];
        if (before.eol.empty())
            before.eol = eol;
        eol = before.eol;
    }
    target->lines.insert(target->lines.begin() + static_cast<std::ptrdiff_t>(position),
                         {keyLine, eol});
    if (!target->keys.empty() && target->keys.back().line >= position) {
        target->reindex();
        return true;
    }
    target->keys.push_back({std::string(key), std::string(value), position, true, quoted, true});
    target->afterLastListed = position + 1;
    return true;
}

bool IniDocument::removeKey(std::string_view section, std::string_view key)
{
    Section* target = findSection(section);
    if (!target || !target->find(key))
        return false;
    const std::string name = lowered(trim(key));
    std::vector<Line> kept;
    for (std::size_t i = 0; i < target->lines.size(); ++i) {
        const ParsedLine parsed = parseLine(target->lines[i].text);
        const bool isHeader = target->hasHeader && i == 0;
        if (isHeader || parsed.kind != LineKind::Key || lowered(parsed.name) != name)
            kept.push_back(std::move(target->lines[i]));
    }
    target->lines = std::move(kept);
    target->reindex();
    return true;
}

bool IniDocument::removeSection(std::string_view section)
{
    const std::string name = lowered(trim(section));
    bool changed = false;
    if (name.empty() && !sections_.front().lines.empty()) {
        sections_.front().lines.clear();
        sections_.front().reindex();
        changed = true;
    }
    const auto before = sections_.size();
    sections_.erase(std::remove_if(sections_.begin() + 1, sections_.end(),
                                   [&](const Section& s) { return lowered(s.name) == name; }),
                    sections_.end());
    if (sections_.size() == before)
        return changed;
    reindexSections();
    return true;
}

} // namespace profile
