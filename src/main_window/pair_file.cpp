#include "pair_file.h"

#include "settings/cIniFile.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace pair_file {

int rowOf(const QString& key, Word word)
{
    // Compared in ASCII, as the store compares key names; called for every key of long tables.
    const QString& name = kWords[word];
    const qsizetype digits = key.size() - name.size();
    if (digits < 1 || digits > 5)
        return -1;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = key[i].unicode();
        if ((c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c) != name[i].unicode())
            return -1;
    }
    if (digits > 1 && key[name.size()] == u'0')
        return -1;
    int row = 0;
    for (qsizetype i = name.size(); i < key.size(); ++i) {
        const char16_t c = key[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        row = row * 10 + (c - u'0');
    }
    return row;
}

RowKey rowKeyOf(const QString& key)
{
    // The words differ in their first letter: one comparison, not three, for every key.
    const char16_t first = key.isEmpty() ? u'\0' : key.front().unicode() | 0x20;
    const Word word = first == u'c' ? Command : first == u'f' ? Focus : Pattern;
    return {word, rowOf(key, word)};
}

SectionFacts readRows(const cIniFile& ini, const std::function<void(RowValues)>& give,
                      std::size_t pieceRows)
{
    SectionFacts facts;
    RowValues rows;
    // The rows before this one (counted from rows.first) have each of their three keys.
    std::size_t settled = 0;
    const auto giveFirst = [&](std::size_t count) {
        if (count == 0)
            return;
        RowValues piece;
        piece.first = rows.first;
        for (const Word word : {Pattern, Command, Focus}) {
            std::vector<QString>& column = rows.values[word];
            const auto end = column.begin() + std::min(count, column.size());
            piece.values[word].assign(std::make_move_iterator(column.begin()),
                                      std::make_move_iterator(end));
            column.erase(column.begin(), end);
        }
        const auto wordsEnd = rows.words.begin() + std::min(count, rows.words.size());
        piece.words.assign(rows.words.begin(), wordsEnd);
        rows.words.erase(rows.words.begin(), wordsEnd);
        rows.first += static_cast<int>(count);
        settled -= std::min(count, settled);
        give(std::move(piece));
    };
    ini.ForEachValue([&](const QString& key, QString value) {
        ++facts.keysRead;
        const auto [word, row] = rowKeyOf(key);
        if (row < 0 || row > kLastPossibleRow)
            return;
        facts.anyCut = facts.anyCut || value.size() >= kShortestCutValue;
        // A row given has had each of its keys, and no key comes twice: `row` is not before it.
        const auto at = static_cast<std::size_t>(row - rows.first);
        if (rows.words.size() <= at)
            rows.words.resize(at + 1);
        rows.words[at].set(word);
        std::vector<QString>& column = rows.values[word];
        if (column.size() <= at)
            column.resize(at + 1);
        column[at] = std::move(value);
        while (settled < rows.words.size() && rows.words[settled].all())
            ++settled;
        if (settled >= pieceRows)
            giveFirst(settled);
    });
    giveFirst(rows.values[Pattern].size());
    facts.content = ini.CurrentSectionContent();
    return facts;
}

OnDisk onDisk(cIniFile& ini, const cIniFile::SectionContent& content, const LoadedRows& rows,
              bool everyKeyLoaded)
{
    OnDisk result{content.fingerprint, content.unreadLines};
    // No unread line means no repeated key, no comment and no key without a value either: the
    // keys listed are the keys that were read.
    if (everyKeyLoaded && content.unreadLines.isEmpty())
        return result;
    std::vector<int> rowAt(rows.indexes.isEmpty() ? 0 : rows.indexes.back() + 1, -1);
    for (qsizetype row = 0; row < rows.indexes.size(); ++row)
        rowAt[static_cast<std::size_t>(rows.indexes[row])] = static_cast<int>(row);
    // The keys whose whole value must be looked at: few, unless values are long or left out.
    struct Unsure {
        QString key;
        bool isRowKey;
        const QString* text;
    };
    std::vector<Unsure> unsure;
    ini.ForEachKey([&](const QString& key) {
        const auto [word, index] = rowKeyOf(key);
        const bool isRowKey = index >= 0 && index <= kLastPossibleRow;
        const bool loaded = isRowKey && static_cast<std::size_t>(index) < rowAt.size() &&
                            rowAt[static_cast<std::size_t>(index)] >= 0;
        const QString* text =
            loaded ? &rows.columns[word][rowAt[static_cast<std::size_t>(index)]] : nullptr;
        if (!text || text->size() >= kShortestCutValue)
            unsure.push_back({key, isRowKey, text});
    });
    for (const Unsure& entry : unsure) {
        ini.setKey(entry.key);
        const QString whole = ini.WholeValue();
        // A loaded value that was not cut, or an empty one that nobody loaded, holds nothing
        // that the table lacks.
        if ((entry.text && whole == *entry.text) ||
            (entry.isRowKey && !entry.text && whole.isEmpty()))
            continue;
        result.leftOut.append(entry.key + u'=' + whole);
    }
    return result;
}

} // namespace pair_file
