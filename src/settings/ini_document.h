#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace profile {

// The parsed text of one INI file. Every line is kept as it was read, so that changing one
// key rewrites only that key's line and leaves comments, blank lines and order untouched.
//
// Reading follows the usual private-profile rules: "[name]" starts a section (the name runs
// to the last ']'), "key=value" splits at the first '=', blanks around names and values are
// ignored, one matching pair of quotes around a value is dropped, ';' starts a comment line,
// names compare without regard to ASCII case, and the first of duplicate names wins.
class IniDocument {
public:
    IniDocument() : sections_(1) {}
    static IniDocument parse(std::string_view bytes);
    std::string serialize() const;

    // Null when the section or the key is missing.
    const std::string* value(std::string_view section, std::string_view key) const;
    // Each distinct key of the first section of that name, in file order.
    std::vector<std::string> keyNames(std::string_view section) const;
    // Each distinct section name, in file order.
    std::vector<std::string> sectionNames() const;

    // Whether a name or value can be written so that it reads back unchanged.
    static bool isWritableSection(std::string_view name);
    static bool isWritableKey(std::string_view name);
    static bool isWritableValue(std::string_view value);

    // Each returns whether the text of the document changed.
    bool setValue(std::string_view section, std::string_view key, std::string_view value);
    bool removeKey(std::string_view section, std::string_view key);
    bool removeSection(std::string_view section);

private:
    struct Line {
        std::string text;
        std::string eol;
    };
    struct Key {
        std::string name;
        std::string value;
        std::size_t line;
        bool firstOfItsName;
    };
    struct Section {
        std::string name;
        bool hasHeader = false;
        std::vector<Line> lines;
        std::vector<Key> keys;
        std::unordered_map<std::string, std::size_t> keyIndex;

        void reindex();
        const Key* find(std::string_view key) const;
    };

    void reindexSections();
    Section* findSection(std::string_view name);
    const Section* findSection(std::string_view name) const;
    std::string newLineEnding() const;

    bool byteOrderMark_ = false;
    std::vector<Section> sections_; // sections_[0] holds the lines before the first header
    std::unordered_map<std::string, std::size_t> sectionIndex_;
};

} // namespace profile
