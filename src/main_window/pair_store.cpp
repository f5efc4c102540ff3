#include "frmMain.h"

#include <QListWidget>
#include <QScopedValueRollback>
#include <QTimer>
#include <algorithm>
#include <array>
#include <bitset>
#include <cerrno>
#include <cstring>
#include <vector>

using namespace pair_file;

namespace {

QString reasonText(int error)
{
    switch (error) {
    case EILSEQ:
        return QStringLiteral("a pair holds a line break, which the file cannot keep");
    case EINVAL:
        return QStringLiteral("it is not a regular file");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

QString inPlaceReason(profile::SaveOutcome::InPlace why)
{
    switch (why) {
    case profile::SaveOutcome::InPlace::HardLinks:
        return QStringLiteral("it has other names (hard links)");
    case profile::SaveOutcome::InPlace::FolderNotWritable:
        return QStringLiteral("its folder is not writable");
    default:
        return QStringLiteral("its owner or group could not be given to a new file");
    }
}

// The first few pieces, each cut short, for one log line.
QString listed(const QStringList& pieces)
{
    constexpr int kShown = 3;
    constexpr int kLongest = 60;
    QStringList shown;
    for (const QString& piece : pieces.mid(0, kShown))
        shown << u'"' + (piece.size() > kLongest ? piece.left(kLongest) + u'…' : piece) + u'"';
    QString text = shown.join(QStringLiteral(", "));
    if (pieces.size() > kShown)
        text += QStringLiteral(" and %1 more").arg(pieces.size() - kShown);
    return text;
}

} // namespace

void frmMain::Form_Load()
{
    Log(QStringLiteral("Kormil started"));
    iniFile_.setPath(seams_.settingsPath);
    watchPairFile();
    {
        // One read of a long settings file for the pairs, its checks and the allow list.
        profile::Batch once = iniFile_.StartBatch();
        loadPairs();
        logUnwritableSettings();
        loadAllowList();
    }
    cmdListen_Click();
}

int frmMain::loadPairs()
{
    const QScopedValueRollback<bool> loading(loadingPairs_, true);
    iniFile_.setSection(kSection);
    // One look at the disk for the whole load, however many keys are read.
    profile::Batch snapshot = iniFile_.StartBatch();
    if (const int error = iniFile_.ReadError())
        Log(QStringLiteral("Could not read the speech/command pairs from %1 (%2). The table "
                           "starts empty and the file is left as it is.")
                .arg(iniFile_.Path().value_or(QString()), reasonText(error)));

    // The values of all rows in one pass over the section, as reading each key would give them,
    // and which words each row has, to tell whether every key read goes into the table.
    std::array<std::vector<QString>, 3> read;
    std::vector<std::bitset<3>> words;
    int keysRead = 0;
    bool anyCut = false;
    iniFile_.ForEachValue([&](const QString& key, QString value) {
        ++keysRead;
        const auto [word, row] = rowKeyOf(key);
        if (row < 0 || row > kLastPossibleRow)
            return;
        const auto at = static_cast<std::size_t>(row);
        anyCut = anyCut || value.size() >= kShortestCutValue;
        if (words.size() <= at)
            words.resize(at + 1);
        words[at].set(word);
        std::vector<QString>& column = read[word];
        if (column.size() <= at)
            column.resize(at + 1);
        column[at] = std::move(value);
    });
    // Every index up to the highest pattern, so that gaps and incomplete rows lose nothing.
    LoadedRows rows;
    const int patterns = static_cast<int>(read[Pattern].size());
    for (QStringList& column : rows.columns)
        column.reserve(patterns);
    std::size_t keysLoaded = 0;
    for (intLoop = 0; intLoop < patterns; ++intLoop) {
        const auto at = static_cast<std::size_t>(intLoop);
        if (read[Pattern][at].isEmpty())
            continue;
        rows.indexes.append(intLoop);
        keysLoaded += words[at].count();
        for (const Word word : {Pattern, Command, Focus})
            rows.columns[word].append(at < read[word].size() ? std::move(read[word][at])
                                                             : QString());
    }
    // Rows are gathered first and appended in one step each: far faster for long tables. The
    // patterns come last, so that each list's rows are described as they arrive.
    lstCommand->addItems(rows.columns[Command]);
    lstFocus->addItems(rows.columns[Focus]);
    lstPattern->addItems(rows.columns[Pattern]);
    pairsOnDisk_ = onDisk(iniFile_, rows, !anyCut && keysLoaded == std::size_t(keysRead));
    snapshot.commit();
    tableChanged_ = false;
    return static_cast<int>(rows.indexes.size());
}

void frmMain::Form_Unload()
{
    // What the file got meanwhile and the watch has not brought in yet.
    pairFile_Changed();
    tableSaved_ = true;
    tmrAutosave->stop();
    savePairs();
}

bool frmMain::savePairs()
{
    iniFile_.setSection(kSection);
    profile::Batch save = iniFile_.StartBatch();
    // What the table lacks would be gone after the save: the file as it was is kept first.
    QString backupReason;
    if (iniFile_.CurrentSectionContent().fingerprint != pairsOnDisk_.fingerprint)
        backupReason = QStringLiteral("changed on disk after the pairs were loaded");
    else if (!pairsOnDisk_.leftOut.isEmpty())
        backupReason =
            QStringLiteral("holds what the table does not: ") + listed(pairsOnDisk_.leftOut);
    if (!backupReason.isEmpty())
        save.keepBackup();
    iniFile_.DeleteSection();
    const int rows = lstPattern->count();
    for (int row = 0; row < rows; ++row) {
        const std::pair<Word, QListWidget*> columns[] = {
            {Pattern, lstPattern}, {Command, lstCommand}, {Focus, lstFocus}};
        for (const auto& [word, list] : columns) {
            iniFile_.setKey(keyOf(word, row));
            iniFile_.setValue(list->item(row)->text());
        }
    }
    const std::size_t written = iniFile_.CurrentSectionContent().fingerprint;
    const bool saved = save.commit();
    if (saved) {
        pairsOnDisk_ = {written, {}};
        tableChanged_ = false;
    }
    reportSave(save.outcome(), backupReason);
    return saved;
}

void frmMain::reportSave(const profile::SaveOutcome& outcome, const QString& backupReason)
{
    using File = profile::SaveOutcome::File;
    const QString path = iniFile_.Path().value_or(QString());
    const QString backup = QString::fromLocal8Bit(outcome.backup.c_str());
    if (!outcome.backup.empty() && !outcome.backupFailed)
        Log(QStringLiteral("The settings file as it was is kept in %1, because its section "
                           "[pairs] %2.")
                .arg(backup, backupReason));
    const bool written = outcome.file == File::Replaced || outcome.file == File::WrittenInPlace;
    // Said once for each reason, not at every save of a table that is saved at each change.
    if (written && outcome.inPlace != profile::SaveOutcome::InPlace::No &&
        outcome.inPlace != inPlaceSaid_)
        Log(QStringLiteral("The speech/command pairs were saved by rewriting %1 in place, because "
                           "%2; a crash during such a save can damage the file.")
                .arg(path, inPlaceReason(outcome.inPlace)));
    if (written)
        inPlaceSaid_ = outcome.inPlace;
    if (outcome.error == 0)
        return;

    const QString reason = reasonText(outcome.error);
    QString failure;
    if (written)
        failure = QStringLiteral("The speech/command pairs were written to %1, but the system "
                                 "reported an error while making sure they reached the disk (%2).")
                      .arg(path, reason);
    else if (outcome.file == File::Damaged)
        failure = QStringLiteral("The speech/command pairs could not be saved to %1 (%2), and its "
                                 "earlier content could not be put back: the file may be damaged.")
                      .arg(path, reason);
    else if (outcome.backupFailed)
        failure = QStringLiteral("The speech/command pairs could not be saved to %1: the file as "
                                 "it was could not be kept in %2 first (%3). The file keeps the "
                                 "pairs it held before.")
                      .arg(path, backup, reason);
    else
        failure = QStringLiteral("The speech/command pairs could not be saved to %1 (%2). The "
                                 "file keeps the pairs it held before.")
                      .arg(path, reason);
    tellSaveFailed(failure);
}
