#pragma once

#include "settings/cIniFile.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <bitset>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <limits>
#include <vector>

// The layout of section "pairs": row i is stored under "pattern<i>", "command<i>" and "focus<i>".
namespace pair_file {

inline const QString kSection = QStringLiteral("pairs");
inline const std::array<QString, 3> kWords = {QStringLiteral("pattern"), QStringLiteral("command"),
                                              QStringLiteral("focus")};
enum Word { Pattern, Command, Focus };

// Row indexes are 16-bit: rows 0 to 32766 at most.
constexpr int kLastPossibleRow = std::numeric_limits<std::int16_t>::max() - 1;

// One allocation: made three times per row while a long table loads and saves.
inline QString keyOf(Word word, int row)
{
    char digits[12];
    const char* end = std::to_chars(std::begin(digits), std::end(digits), row).ptr;
    QString key;
    key.reserve(kWords[word].size() + (end - digits));
    key.append(kWords[word]).append(QLatin1String(digits, end - digits));
    return key;
}

// The row that a key of that word names ("pattern7" and "Pattern7" are row 7, "pattern07" is
// none), or -1.
int rowOf(const QString& key, Word word);

// The word and row of a key of any of the three words ("Command7": Command, 7); row -1 when the
// key names no row.
struct RowKey {
    Word word;
    int row;
};
RowKey rowKeyOf(const QString& key);

// The rows as loaded: file index and the three texts of each.
struct LoadedRows {
    QList<int> indexes;
    std::array<QStringList, 3> columns;
    // The keys they were read from.
    std::size_t keys = 0;
};

// What section "pairs" held when it was loaded or saved: a fingerprint of its text, and each
// piece of it that the table leaves out, as "key=value" or the line itself.
struct OnDisk {
    std::size_t fingerprint = 0;
    QStringList leftOut;
};

// Values are read through a buffer of 255 bytes; one of fewer than 85 characters has at most
// 3 x 84 = 252 bytes and cannot have been cut.
constexpr qsizetype kShortestCutValue = 85;

// Rows `first` onwards of section "pairs" as reading their keys gives them, by word (a column
// may end early: its last rows lack that word), and which words each row has. A row whose
// pattern is empty is no row of the table.
struct RowValues {
    int first = 0;
    std::array<std::vector<QString>, 3> values;
    std::vector<std::bitset<3>> words;
};

// What a look at section "pairs" found besides its rows: how many keys a read finds, whether any
// value read may have been cut, and the section's content.
struct SectionFacts {
    int keysRead = 0;
    bool anyCut = false;
    cIniFile::SectionContent content;
};

// Reads the current section of `ini`, which should be open in a batch, in one pass, and gives
// its rows, up to the highest pattern, in order to `give`: in pieces of `pieceRows` or more as
// soon as they are settled (their three keys read: nothing later in the section changes them),
// and what is left at the end.
SectionFacts readRows(const cIniFile& ini, const std::function<void(RowValues rows)>& give,
                      std::size_t pieceRows = std::numeric_limits<std::size_t>::max());

// Looks at the current section of `ini` (within the batch the rows were loaded in), whose
// content is given. With `everyKeyLoaded`, every key that a read finds went into `rows` with a
// value too short to have been cut, so only lines that no read returns can hold more: the keys
// are not walked again. Reading whole values moves `ini`'s Key.
OnDisk onDisk(cIniFile& ini, const cIniFile::SectionContent& content, const LoadedRows& rows,
              bool everyKeyLoaded);

} // namespace pair_file
