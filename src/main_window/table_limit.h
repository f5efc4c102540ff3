#pragma once

#include "pair_file.h"

#include <QString>

// The settings file keeps rows 0 to kLastPossibleRow: a table of that many takes no more.
constexpr int kMaxPairs = pair_file::kLastPossibleRow + 1;

// What Add says to a full table, under the title "Kormil - Add Pair".
inline QString tableFullText()
{
    return QStringLiteral("The table holds %1 pairs, as many as the settings file can keep, so "
                          "no pair can be added. Delete a pair to make room for a new one.")
        .arg(kMaxPairs);
}
