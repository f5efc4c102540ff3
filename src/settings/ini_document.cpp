#include "ini_document.h"

#include <algorithm>

namespace profile {

void IniDocument::Section::reindex()
{
    keys.clear();
    // Sized once: growing the index line by line rehashes it again and again.
    keys.reserve(lines.size());
    keyIndex.clear(lines.size());
    afterLastListed = 0;
    for (std::size_t i = hasHeader ? 1 : 0; i < lines.size(); ++i) {
        const ParsedLine parsed = parseLine(lines[i].text());
        if (parsed.kind == LineKind::Key)
            addKey(i, parsed.name, parsed.value, parsed.hasValue, parsed.quoted);
    }
}

void IniDocument::Section::addKey(std::size_t line, std::string_view name, std::string_view value,
                                  bool hasValue, bool quoted)
{
    const char* const text = lines[line].text().data();
    // Comments are keys to a lookup by their exact name, but a key list leaves them out.
    const bool listed = hasValue && (name.empty() || name.front() != ';');
    keys.push_back({line, static_cast<std::size_t>(name.data() - text), name.size(),
                    hasValue ? static_cast<std::size_t>(value.data() - text) : 0, value.size(),
                    hasValue, quoted, false, listed});
    const auto nameAt = [this](std::size_t key) { return nameOf(keys[key]); };
    keys.back().first = keyIndex.insert(name, keys.size() - 1, nameAt).second;
    if (listed)
        afterLastListed = line + 1;
}

std::string_view IniDocument::Section::nameOf(const Key& key) const
{
    return lines[key.line].text().substr(key.nameAt, key.nameSize);
}

std::string_view IniDocument::Section::valueOf(const Key& key) const
{
    return lines[key.line].text().substr(key.valueAt, key.valueSize);
}

const IniDocument::Key* IniDocument::Section::find(std::string_view key) const
{
    const std::size_t found =
        keyIndex.find(trim(key), [this](std::size_t at) { return nameOf(keys[at]); });
    return found == KeyIndex::npos ? nullptr : &keys[found];
}

IniDocument IniDocument::parse(std::string_view bytes)
{
    return parse(std::make_shared<const std::string>(bytes));
}

IniDocument IniDocument::parse(std::shared_ptr<const std::string> bytes)
{
    IniDocument document;
    // Most files are UTF-8 without a byte-order mark, which decoding would only copy.
    if (isPlainUtf8(*bytes))
        document.parsed_ = std::move(bytes);
    else
        document.parsed_ =
            std::make_shared<const std::string>(decodeFile(*bytes, document.encoding_));
    const std::string_view text = *document.parsed_;
    std::size_t nextLf = text.find('\n');
    for (std::size_t at = 0; at < text.size();) {
        LineEnd eol;
        const std::size_t end = lineEnd(text, at, nextLf, eol);
        const std::string_view line = text.substr(at, end - at);
        // Only a line that starts with '[' can be a header; the keys are parsed by reindex().
        const std::size_t first = line.find_first_not_of(" \t\v\f");
        const bool maybeHeader = first != line.npos && line[first] == '[';
        const ParsedLine parsed = maybeHeader ? parseLine(line) : ParsedLine();
        if (parsed.kind == LineKind::Header) {
            document.sections_.emplace_back();
            document.sections_.back().name = std::string(parsed.name);
            document.sections_.back().hasHeader = true;
        }
        document.sections_.back().lines.emplace_back(line, eol);
        at = end + lineEndText(eol).size();
    }
    for (Section& section : document.sections_)
        section.reindex();
    document.reindexSections();
    return document;
}

std::string IniDocument::serialize() const
{
    std::string text;
    text.reserve(parsed_ ? parsed_->size() : 0);
    for (const Section& section : sections_) {
        for (const TextLine& line : section.lines) {
            text += line.text();
            text += lineEndText(line.end());
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

std::optional<std::string_view> IniDocument::value(std::string_view section, std::string_view key,
                                                   bool* quoted) const
{
    const Section* found = findSection(section);
    const Key* entry = found ? found->find(key) : nullptr;
    if (!entry || !entry->hasValue)
        return std::nullopt;
    if (quoted)
        *quoted = entry->quoted;
    return found->valueOf(*entry);
}

std::vector<std::string_view> IniDocument::keyNames(std::string_view section) const
{
    std::vector<std::string_view> names;
    forEachKeyName(section, [&names](std::string_view name) { names.push_back(name); });
    return names;
}

void IniDocument::forEachKeyName(std::string_view section,
                                 const std::function<void(std::string_view)>& visit) const
{
    // Unlike a value lookup, a key list takes the section's name with its blanks.
    const auto it = sectionIndex_.find(lowered(section));
    if (it == sectionIndex_.end())
        return;
    const Section& found = sections_[it->second];
    for (const Key& key : found.keys) {
        if (key.listed)
            visit(found.nameOf(key));
    }
}

void IniDocument::forEachFirstKey(std::string_view section,
                                  const std::function<void(const Entry&)>& visit) const
{
    const Section* found = findSection(section);
    if (!found)
        return;
    for (const Key& key : found->keys) {
        if (!key.first)
            continue;
        Entry entry{found->nameOf(key), std::nullopt, key.quoted};
        if (key.hasValue)
            entry.value = found->valueOf(key);
        visit(entry);
    }
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
                read[key.line] = key.first && key.listed;
        }
        for (std::size_t i = 0; i < current.lines.size(); ++i) {
            const TextLine& line = current.lines[i];
            result.fingerprint = (result.fingerprint ^ textHash(line.text())) * kPrime;
            const std::string_view eol = lineEndText(line.end());
            for (const char c : eol)
                result.fingerprint = (result.fingerprint ^ static_cast<unsigned char>(c)) * kPrime;
            result.fingerprint = (result.fingerprint ^ eol.size()) * kPrime;
            if (!read[i] && !trim(line.text()).empty())
                result.unread.emplace_back(line.text());
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

LineEnd IniDocument::newLineEnding() const
{
    for (const Section& section : sections_) {
        for (const TextLine& line : section.lines) {
            if (line.end() != LineEnd::None)
                return line.end();
        }
    }
    return LineEnd::Lf;
}

bool IniDocument::setValue(std::string_view section, std::string_view key, std::string_view value)
{
    section = trim(section);
    key = trim(key);
    const bool quoted = needsQuotes(value);
    const std::string_view quote = quoted ? "\"" : "";
    const std::initializer_list<std::string_view> keyLine = {key, "=", quote, value, quote};
    const std::size_t valueAt = key.size() + 1 + quote.size();
    Section* target = findSection(section);
    if (!target) {
        const LineEnd eol = newLineEnding();
        Section& last = sections_.back();
        if (!last.lines.empty()) {
            if (last.lines.back().end() == LineEnd::None)
                last.lines.back().setEnd(eol);
            if (!trim(last.lines.back().text()).empty())
                last.lines.push_back(TextLine::made({}, eol));
        }
        Section added;
        added.name = std::string(section);
        added.hasHeader = true;
        added.lines.push_back(TextLine::made({"[", section, "]"}, eol));
        added.lines.push_back(TextLine::made(keyLine, eol));
        added.reindex();
        sections_.push_back(std::move(added));
        sectionIndex_.emplace(lowered(section), sections_.size() - 1);
        return true;
    }
    const Key* found = target->find(key);
    if (found) {
        Key& existing = target->keys[static_cast<std::size_t>(found - target->keys.data())];
        if (existing.hasValue && target->valueOf(existing) == value)
            return false;
        target->lines[existing.line].setText(keyLine);
        existing = {existing.line,
                    0,
                    key.size(),
                    valueAt,
                    value.size(),
                    true,
                    quoted,
                    true,
                    key.empty() || key.front() != ';'};
        if (existing.listed)
            target->afterLastListed = std::max(target->afterLastListed, existing.line + 1);
        return true;
    }
    // A new key goes after the section's last key, ahead of trailing comments and blank lines.
    std::size_t position = target->afterLastListed;
    if (position == 0)
        position = target->hasHeader ? 1 : 0;
    LineEnd eol = newLineEnding();
    if (position > 0) {
        TextLine& before = target->lines[position - 1];
        if (before.end() == LineEnd::None)
            before.setEnd(eol);
        eol = before.end();
    }
    target->lines.insert(target->lines.begin() + static_cast<std::ptrdiff_t>(position),
                         TextLine::made(keyLine, eol));
    if (!target->keys.empty() && target->keys.back().line >= position) {
        target->reindex();
        return true;
    }
    const std::string_view text = target->lines[position].text();
    target->addKey(position, text.substr(0, key.size()), text.substr(valueAt, value.size()), true,
                   quoted);
    return true;
}

bool IniDocument::removeKey(std::string_view section, std::string_view key)
{
    Section* target = findSection(section);
    if (!target || !target->find(key))
        return false;
    const std::string_view name = trim(key);
    std::vector<TextLine> kept;
    for (std::size_t i = 0; i < target->lines.size(); ++i) {
        const ParsedLine parsed = parseLine(target->lines[i].text());
        const bool isHeader = target->hasHeader && i == 0;
        if (isHeader || parsed.kind != LineKind::Key || !foldedEqual(parsed.name, name))
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
