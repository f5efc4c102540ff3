#include "cMessageBox.h"
#include "frmMain.h"

#include <QListWidget>
#include <algorithm>
#include <cstring>
#include <limits>

namespace {

const QString kPairsSection = QStringLiteral("pairs");
const QString kPatternWord = QStringLiteral("pattern");
const QString kCommandWord = QStringLiteral("command");
const QString kFocusWord = QStringLiteral("focus");

// Row indexes are 16-bit: rows 0 to 32766 at most.
constexpr int kLastPossibleRow = std::numeric_limits<std::int16_t>::max() - 1;

QString keyOf(const QString& word, int row)
{
    return word + QString::number(row);
}

// The highest row index that has a pattern key, so that skipping empty patterns never runs
// past the end of the section.
int highestPatternRow(const QStringList& keys)
{
    int highest = -1;
    for (const QString& key : keys) {
        if (!key.startsWith(kPatternWord, Qt::CaseInsensitive))
            continue;
        const QStringView digits = QStringView(key).mid(kPatternWord.size());
        // Only the canonical form: "pattern7" is row 7, "pattern07" is no row.
        if (digits.isEmpty() || digits.size() > 5 || (digits.size() > 1 && digits[0] == u'0'))
            continue;
        if (std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); }))
            highest = std::max(highest, digits.toInt());
    }
    return std::min(highest, kLastPossibleRow);
}

} // namespace

void frmMain::Form_Load()
{
    Log(QStringLiteral("Kormil started"));
    iniFile_.setPath(seams_.settingsPath);
    iniFile_.setSection(kPairsSection);
    // One look at the disk for the whole load, however many keys are read.
    profile::Batch snapshot = iniFile_.StartBatch();
    if (const int error = iniFile_.ReadError())
        Log(QStringLiteral("Could not read the speech/command pairs from %1 (%2). The table "
                           "starts empty and the file is left as it is.")
                .arg(iniFile_.Path().value_or(QString()),
                     QString::fromLocal8Bit(std::strerror(error))));

    // The whole key list, not one cut to a fixed buffer: a long table loads in full.
    const QStringList keys = iniFile_.AllKeys();
    const int count = static_cast<int>(keys.size());
    const int lastRow = std::min((count + 1) / 3 - 1, kLastPossibleRow); // count / 3, rounded
    const int highestPattern = highestPatternRow(keys);

    // Rows are gathered first and appended in one step each: far faster for long tables.
    QStringList patterns, commands, styles;
    for (intLoop = 0; intLoop <= lastRow; ++intLoop) {
        iniFile_.setKey(keyOf(kPatternWord, intLoop));
        QString pattern = iniFile_.Value();
        while (pattern.isEmpty()) {
            if (intLoop >= highestPattern)
                break;
            ++intLoop;
            iniFile_.setKey(keyOf(kPatternWord, intLoop));
            pattern = iniFile_.Value();
        }
        if (pattern.isEmpty())
            break;
        patterns.append(pattern);
        iniFile_.setKey(keyOf(kCommandWord, intLoop));
        commands.append(iniFile_.Value());
        iniFile_.setKey(keyOf(kFocusWord, intLoop));
        styles.append(iniFile_.Value());
    }
    lstPattern->addItems(patterns);
    lstCommand->addItems(commands);
    lstFocus->addItems(styles);
    snapshot.commit();

    loadAllowList();
    cmdListen_Click();
}

void frmMain::Form_Unload()
{
    tableSaved_ = true;
    iniFile_.setSection(kPairsSection);
    profile::Batch save = iniFile_.StartBatch();
    iniFile_.DeleteSection();
    bool everyWriteTaken = iniFile_.Success();
    const int rows = lstPattern->count();
    for (int row = 0; row < rows; ++row) {
        const std::pair<const QString&, QListWidget*> columns[] = {
            {kPatternWord, lstPattern}, {kCommandWord, lstCommand}, {kFocusWord, lstFocus}};
        for (const auto& [word, list] : columns) {
            iniFile_.setKey(keyOf(word, row));
            iniFile_.setValue(list->item(row)->text());
            everyWriteTaken = everyWriteTaken && iniFile_.Success();
        }
    }
    if (save.commit() && everyWriteTaken)
        return;
    const QString failure =
        QStringLiteral("The speech/command pairs could not be saved to %1. The file keeps "
                       "the pairs it held before.")
            .arg(iniFile_.Path().value_or(QString()));
    if (unattended_)
        Log(failure);
    else
        seams_.messageBox->Show(this, failure, QStringLiteral("Kormil"), cMessageBox::Buttons::Ok);
}
