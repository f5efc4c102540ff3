#include "command_line.h"

namespace cmdline {

namespace {

bool isSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}
bool isEscapableInDoubleQuotes(char c)
{
    return c == '$' || c == '`' || c == '"' || c == '\\' || c == '\n';
}

} // namespace

std::optional<std::vector<std::string>> split(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (isSeparator(c)) {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else if (c == '\'') {
            const std::size_t close = line.find('\'', i + 1);
            if (close == std::string::npos)
                return std::nullopt;
            word.append(line, i + 1, close - i - 1);
            i = close;
            inWord = true;
        } else if (c == '"') {
            for (++i;; ++i) {
                if (i >= line.size())
                    return std::nullopt;
                if (line[i] == '"')
                    break;
                if (line[i] == '\\' && i + 1 < line.size() &&
                    isEscapableInDoubleQuotes(line[i + 1])) {
                    ++i;
                    if (line[i] != '\n')
                        word += line[i];
                } else {
                    word += line[i];
                }
            }
            inWord = true;
        } else if (c == '\\') {
            if (i + 1 >= line.size())
                return std::nullopt;
            ++i;
            if (line[i] != '\n') {
                word += line[i];
                inWord = true;
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

} // namespace cmdline
