#include "pair_file.h"

#include "settings/cIniFile.h"

#include <algorithm>
#include <vector>

namespace pair_file {

namespace {

// Values are read through a buffer of 255 bytes; one of fewer than 85 characters has at most
// 3 x 84 = 252 bytes and cannot have been cut.
constexpr qsizetype kShortestCutValue = 85;

} // namespace

int rowOf(const QString& key, Word word)
{
    const QString& name = kWords[word];
    if (!key.startsWith(name, Qt::CaseInsensitive))
        return -1;
    const QStringView digits = QStringView(key).mid(name.size());
    if (digits.isEmpty() || digits.size() > 5 || (digits.size() > 1 && digits[0] == u'0'))
        return -1;
    if (!std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return -1;
    return digits.toInt();
}

OnDisk onDisk(cIniFile& ini, const QStringList& keys, const LoadedRows& rows)
{
    const cIniFile::SectionContent content = ini.CurrentSectionContent();
    OnDisk result{content.fingerprint, content.unreadLines};
    std::vector<int> rowAt(rows.indexes.isEmpty() ? 0 : rows.indexes.back() + 1, -1);
    for (qsizetype row = 0; row < rows.indexes.size(); ++row)
        rowAt[static_cast<std::size_t>(rows.indexes[row])] = static_cast<int>(row);
    for (const QString& key : keys) {
        int index = -1;
        Word word = Pattern;
        for (const Word candidate : {Pattern, Command, Focus}) {
            index = rowOf(key, candidate);
            if (index >= 0) {
                word = candidate;
                break;
            }
        }
        const bool isRowKey = index >= 0 && index <= kLastPossibleRow;
        const bool loaded = isRowKey && static_cast<std::size_t>(index) < rowAt.size() &&
                            rowAt[static_cast<std::size_t>(index)] >= 0;
        const QString* text =
            loaded ? &rows.columns[word][rowAt[static_cast<std::size_t>(index)]] : nullptr;
        if (text && text->size() < kShortestCutValue)
            continue;
        ini.setKey(key);
        const QString whole = ini.WholeValue();
        // A loaded value that was not cut, or an empty one that nobody loaded, holds nothing
        // that the table lacks.
        if ((text && whole == *text) || (isRowKey && !text && whole.isEmpty()))
            continue;
        result.leftOut.append(key + u'=' + whole);
    }
    return result;
}

} // namespace pair_file
