#pragma once

#include "ini_line.h"
#include "key_index.h"
#include "text_encoding.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace profile {

// The parsed text of one INI file, held in UTF-8 whatever the file's encoding. Every line is
// kept as it was read, so that changing one key rewrites only that key's line and leaves
// comments, blank lines and order untouched.
//
// Reading follows the private-profile rules: a line ends at LF, CR LF or a lone CR, and its text
// at a NUL; "[name]" starts a section (the name runs to the last ']'), "key=value" splits at the
// first '=', blanks (space, tab, VT, FF) around names and values are ignored, one matching pair
// of quotes around a value is dropped, names compare without regard to ASCII case, and the
// first of duplicate names is the one read and written. Lines before the first header form the
// section "". A line without '=' is a key without a value; a key whose name starts with ';' is
// a comment: neither is listed, but each is found by its exact name.
class IniDocument {
public:
    IniDocument() : sections_(1) {}
    static IniDocument parse(std::string_view bytes);
    // The same, keeping `bytes` as the text its lines view where they need no decoding.
    static IniDocument parse(std::shared_ptr<const std::string> bytes);
    std::string serialize() const;

    // None when the section or the key is missing or the key has no value; `quoted` tells
    // whether the value stood in quotes. Blanks around the names asked for are ignored. The
    // texts that the reading members return last until the document is changed or destroyed.
    std::optional<std::string_view> value(std::string_view section, std::string_view key,
                                          bool* quoted = nullptr) const;
    // The listed keys of the first section of that exact name, duplicates included, in file
    // order.
    std::vector<std::string_view> keyNames(std::string_view section) const;
    // Calls `visit` with each name keyNames() lists, in order, without a list.
    void forEachKeyName(std::string_view section,
                        const std::function<void(std::string_view name)>& visit) const;
    // Calls `visit` with the keys of the section that value() finds, the first of each name, in
    // file order (also comments and keys without a value, which value() reads as none), each
    // with what value() gives for it: one pass over the section for a caller that reads most
    // of it.
    struct Entry {
        std::string_view name;
        std::optional<std::string_view> value;
        bool quoted;
    };
    void forEachFirstKey(std::string_view section,
                         const std::function<void(const Entry& entry)>& visit) const;
    // The name of every section header but an empty one, duplicates included, in file order.
    std::vector<std::string_view> sectionNames() const;

    // A value as a file holds it, without one matching pair of outer quotes; `quoted` tells
    // whether there was one.
    static std::string_view unquoted(std::string_view value, bool* quoted);

    // Every section of one name taken together: `fingerprint` changes with any change to their
    // lines or line ends, headers included; `unread` holds the non-blank lines that no value()
    // call returns (comments, repeated keys, the headers and lines of repeated sections).
    struct SectionLines {
        std::size_t fingerprint = static_cast<std::size_t>(14695981039346656037u);
        std::vector<std::string> unread;
    };
    SectionLines sectionLines(std::string_view section) const;

    // Whether a name or value can be written so that it reads back unchanged.
    static bool isWritableSection(std::string_view name);
    static bool isWritableKey(std::string_view name);
    static bool isWritableValue(std::string_view value);

    // Each returns whether the text of the document changed. Blanks around the names given
    // are ignored; a removal removes every copy of the key in its section, or every section of
    // that name.
    bool setValue(std::string_view section, std::string_view key, std::string_view value);
    bool removeKey(std::string_view section, std::string_view key);
    bool removeSection(std::string_view section);

private:
    // Where a key's name and value stand in the text of its line.
    struct Key {
        std::size_t line;
        std::size_t nameAt;
        std::size_t nameSize;
        std::size_t valueAt;
        std::size_t valueSize;
        bool hasValue;
        bool quoted;
        bool first;  // the first of its name, the one a lookup finds
        bool listed; // a key list shows it: it has a value and is no comment
    };
    struct Section {
        std::string name;
        bool hasHeader = false;
        std::vector<TextLine> lines;
        std::vector<Key> keys;
        KeyIndex keyIndex;               // the first key of each name
        std::size_t afterLastListed = 0; // the line after the last listed key; 0: none

        void reindex();
        // Adds the key of `lines[line]`, whose name and value are views into its text.
        void addKey(std::size_t line, std::string_view name, std::string_view value, bool hasValue,
                    bool quoted);
        std::string_view nameOf(const Key& key) const;
        std::string_view valueOf(const Key& key) const;
        const Key* find(std::string_view key) const;
    };

    void reindexSections();
    Section* findSection(std::string_view name);
    const Section* findSection(std::string_view name) const;
    LineEnd newLineEnding() const;

    FileEncoding encoding_;
    std::shared_ptr<const std::string> parsed_; // the text that unchanged lines view
    std::vector<Section> sections_; // sections_[0] holds the lines before the first header
    std::unordered_map<std::string, std::size_t> sectionIndex_;
};

} // namespace profile
