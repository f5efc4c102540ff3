#include "cPairsReadAhead.h"
#include "frmMain.h"

#include <QListWidget>
#include <QScopedValueRollback>
#include <QTimer>
#include <algorithm>
#include <array>
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

struct frmMain::RowsReadAhead {
    LoadedRows rows;
    cPairsReadAhead::Read read;
};

void frmMain::Form_Load()
{
    Log(QStringLiteral("Kormil started"));
    iniFile_.setPath(seams_.settingsPath);
    watchPairFile();
    // The rows read ahead fill the lists while the rest are read; the load tells whether they stay.
    std::optional<RowsReadAhead> ahead;
    if (pairsAhead_) {
        const QScopedValueRollback<bool> loading(loadingPairs_, true);
        ahead.emplace();
        while (std::optional<RowValues> rows = pairsAhead_->nextRows())
            appendRows(std::move(*rows), ahead->rows);
        ahead->read = pairsAhead_->handOver();
        pairsAhead_.reset();
    }
    {
        // One read of a long settings file for the pairs, its checks and the allow list.
        profile::Batch once = iniFile_.StartBatch();
        loadPairs(ahead ? &*ahead : nullptr);
        logUnwritableSettings();
        loadAllowList();
    }
    cmdListen_Click();
}

int frmMain::loadPairs(RowsReadAhead* ahead)
{
    const QScopedValueRollback<bool> loading(loadingPairs_, true);
    iniFile_.setSection(kSection);
    // One look at the disk for the whole load, however many keys are read.
    profile::Batch snapshot = iniFile_.StartBatch();
    if (const int error = iniFile_.ReadError())
        Log(QStringLiteral("Could not read the speech/command pairs from %1 (%2). The table "
                           "starts empty and the file is left as it is.")
                .arg(iniFile_.Path().value_or(QString()), reasonText(error)));

    LoadedRows rows;
    SectionFacts facts;
    if (ahead && snapshot.holds(ahead->read.bytes)) {
        rows = std::move(ahead->rows);
        facts = std::move(ahead->read.facts);
    } else {
        // The file changed after it was read ahead: the rows read go.
        if (ahead) {
            for (QListWidget* list : {lstPattern, lstCommand, lstFocus})
                list->clear();
        }
        facts = readRows(iniFile_, [&](RowValues read) { appendRows(std::move(read), rows); });
    }
    pairsOnDisk_ = onDisk(iniFile_, facts.content, rows,
                          !facts.anyCut && rows.keys == std::size_t(facts.keysRead));
    snapshot.commit();
    tableChanged_ = false;
    return static_cast<int>(rows.indexes.size());
}

void frmMain::appendRows(RowValues read, LoadedRows& rows)
{
    // Every index up to the highest pattern, so that gaps and incomplete rows lose nothing.
    LoadedRows added;
    const int patterns = read.first + static_cast<int>(read.values[Pattern].size());
    for (QStringList& column : added.columns)
        column.reserve(patterns - read.first);
    for (intLoop = static_cast<std::int16_t>(read.first); intLoop < patterns; ++intLoop) {
        const auto at = static_cast<std::size_t>(intLoop - read.first);
        if (read.values[Pattern][at].isEmpty())
            continue;
        added.indexes.append(intLoop);
        added.keys += read.words[at].count();
        for (const Word word : {Pattern, Command, Focus})
            added.columns[word].append(
                at < read.values[word].size() ? std::move(read.values[word][at]) : QString());
    }
    // Rows are gathered first and appended in one step each: far faster for long tables. The
    // patterns come last, so that each list's rows are described as they arrive.
    lstCommand->addItems(added.columns[Command]);
    lstFocus->addItems(added.columns[Focus]);
    lstPattern->addItems(added.columns[Pattern]);
    rows.indexes.append(added.indexes);
    for (const Word word : {Pattern, Command, Focus})
        rows.columns[word].append(std::move(added.columns[word]));
    rows.keys += added.keys;
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
