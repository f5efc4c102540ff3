#include "ini_document.h"

#include <algorithm>

namespace profile {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
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

std::string_view unquoted(std::string_view value)
{
    if (value.size() >= 2 && isQuote(value.front()) && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// Quotes a value whose outer blanks or quotes would otherwise be lost on reading.
std::string encoded(std::string_view value)
{
    if (!value.empty() &&
        (isBlank(value.front()) || isBlank(value.back()) || unquoted(value).size() != value.size()))
        return '"' + std::string(value) + '"';
    return std::string(value);
}

bool holdsLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != text.npos;
}

enum class LineKind { Other, Header, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;
    std::string_view value;
};

ParsedLine parseLine(std::string_view raw)
{
    const std::string_view text = trim(raw);
    if (text.empty() || text.front() == ';')
        return {};
    if (text.front() == '[') {
        std::string_view rest = text.substr(1);
        const std::size_t close = rest.rfind(']');
        if (close != rest.npos)
            rest = rest.substr(0, close);
        return {LineKind::Header, trim(rest), {}};
    }
    const std::size_t equals = text.find('=');
    if (equals == text.npos)
        return {LineKind::Key, text, {}};
    return {LineKind::Key, trim(text.substr(0, equals)), unquoted(trim(text.substr(equals + 1)))};
}

} // namespace

void IniDocument::Section::reindex()
{
    keys.clear();
    keyIndex.clear();
    for (std::size_t i = hasHeader ? 1 : 0; i < lines.size(); ++i) {
        const ParsedLine parsed = parseLine(lines[i].text);
        if (parsed.kind != LineKind::Key)
            continue;
        const bool first = keyIndex.emplace(lowered(parsed.name), keys.size()).second;
        keys.push_back({std::string(parsed.name), std::string(parsed.value), i, first});
    }
}

const IniDocument::Key* IniDocument::Section::find(std::string_view key) const
{
    const auto it = keyIndex.find(lowered(key));
    return it == keyIndex.end() ? nullptr : &keys[it->second];
}

IniDocument IniDocument::parse(std::string_view bytes)
{
    IniDocument document;
    if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        document.byteOrderMark_ = true;
        bytes.remove_prefix(kByteOrderMark.size());
    }
    while (!bytes.empty()) {
        const std::size_t newline = bytes.find('\n');
        std::string_view text = bytes.substr(0, newline);
        std::string eol;
        if (newline != bytes.npos) {
            eol = "\n";
            if (!text.empty() && text.back() == '\r') {
                text.remove_suffix(1);
                eol = "\r\n";
            }
            bytes.remove_prefix(newline + 1);
        } else {
            bytes = {};
        }
        const ParsedLine parsed = parseLine(text);
        if (parsed.kind == LineKind::Header) {
            document.sections_.emplace_back();
            document.sections_.back().name = std::string(parsed.name);
            document.sections_.back().hasHeader = true;
        }
        document.sections_.back().lines.push_back({std::string(text), std::move(eol)});
    }
    for (Section& section : document.sections_)
        section.reindex();
    document.reindexSections();
    return document;
}

std::string IniDocument::serialize() const
{
    std::string bytes;
    if (byteOrderMark_)
        bytes += kByteOrderMark;
    for (const Section& section : sections_) {
        for (const Line& line : section.lines) {
            bytes += line.text;
            bytes += line.eol;
        }
    }
    return bytes;
}

void IniDocument::reindexSections()
{
    sectionIndex_.clear();
    for (std::size_t i = 1; i < sections_.size(); ++i)
        sectionIndex_.emplace(lowered(sections_[i].name), i);
}

IniDocument::Section* IniDocument::findSection(std::string_view name)
{
    const auto it = sectionIndex_.find(lowered(name));
    return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

const IniDocument::Section* IniDocument::findSection(std::string_view name) const
{
    const auto it = sectionIndex_.find(lowered(name));
    return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

const std::string* IniDocument::value(std::string_view section, std::string_view key) const
{
    const Section* found = findSection(section);
    if (!found)
        return nullptr;
    const Key* entry = found->find(key);
    return entry ? &entry->value : nullptr;
}

std::vector<std::string> IniDocument::keyNames(std::string_view section) const
{
    std::vector<std::string> names;
    const Section* found = findSection(section);
    if (!found)
        return names;
    for (const Key& key : found->keys) {
        if (key.firstOfItsName)
            names.push_back(key.name);
    }
    return names;
}

std::vector<std::string> IniDocument::sectionNames() const
{
    std::vector<std::string> names;
    for (std::size_t i = 1; i < sections_.size(); ++i) {
        if (sectionIndex_.at(lowered(sections_[i].name)) == i)
            names.push_back(sections_[i].name);
    }
    return names;
}

bool IniDocument::isWritableSection(std::string_view name)
{
    return !holdsLineBreak(name) && trim(name) == name;
}

bool IniDocument::isWritableKey(std::string_view name)
{
    if (holdsLineBreak(name) || trim(name) != name || name.find('=') != name.npos)
        return false;
    return name.empty() || (name.front() != '[' && name.front() != ';');
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
    const std::string keyLine = std::string(key) + '=' + encoded(value);
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
    if (const Key* existing = target->find(key)) {
        if (existing->value == value)
            return false;
        target->lines[existing->line].text = keyLine;
        target->reindex();
        return true;
    }
    // A new key goes after the section's last key, ahead of trailing comments and blank lines.
    const std::size_t position = target->keys.empty() ? 1 : target->keys.back().line + 1;
    Line& before = target->lines[position - 1];
    if (before.eol.empty())
        before.eol = newLineEnding();
    const std::string eol = before.eol;
    target->lines.insert(target->lines.begin() + static_cast<std::ptrdiff_t>(position),
                         {keyLine, eol});
    target->keyIndex.emplace(lowered(key), target->keys.size());
    target->keys.push_back({std::string(key), std::string(value), position, true});
    return true;
}

bool IniDocument::removeKey(std::string_view section, std::string_view key)
{
    Section* target = findSection(section);
    if (!target || !target->find(key))
        return false;
    const std::string name = lowered(key);
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
    const std::string name = lowered(section);
    const auto before = sections_.size();
    sections_.erase(std::remove_if(sections_.begin() + 1, sections_.end(),
                                   [&](const Section& s) { return lowered(s.name) == name; }),
                    sections_.end());
    if (sections_.size() == before)
        return false;
    reindexSections();
    return true;
}

} // namespace profile
