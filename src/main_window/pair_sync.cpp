#include "cFileWatch.h"
#include "cMessageBox.h"
#include "frmMain.h"

#include <QAbstractItemModel>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QScopedValueRollback>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// 0 when the program may write the file; the store leaves a file without any write permission
// bit alone, also for root.
int writeError(const QByteArray& path, const struct stat& status)
{
    if (::access(path.constData(), W_OK) != 0)
        return errno;
    return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) ? 0 : EACCES;
}

} // namespace

void frmMain::watchPairTable()
{
    tmrAutosave = new QTimer(this);
    tmrAutosave->setObjectName(QStringLiteral("tmrAutosave"));
    tmrAutosave->setSingleShot(true);
    tmrAutosave->setInterval(kAutosaveMs);
    connect(tmrAutosave, &QTimer::timeout, this, &frmMain::tmrAutosave_Timer);
    // Descriptions for assistive technology are item data too; only texts are the table.
    const auto dataChanged = [this](const QModelIndex&, const QModelIndex&,
                                    const QList<int>& roles) {
        if (roles.isEmpty() || roles.contains(Qt::DisplayRole) || roles.contains(Qt::EditRole))
            pairTable_Changed();
    };
    for (QListWidget* list : {lstPattern, lstCommand, lstFocus}) {
        const QAbstractItemModel* model = list->model();
        connect(model, &QAbstractItemModel::rowsInserted, this, &frmMain::pairTable_Changed);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &frmMain::pairTable_Changed);
        connect(model, &QAbstractItemModel::rowsMoved, this, &frmMain::pairTable_Changed);
        connect(model, &QAbstractItemModel::modelReset, this, &frmMain::pairTable_Changed);
        connect(model, &QAbstractItemModel::dataChanged, this, dataChanged);
    }
}

void frmMain::pairTable_Changed()
{
    if (loadingPairs_)
        return;
    tableChanged_ = true;
    // Not restarted by later changes: a long burst is still saved at this pace.
    if (!tableSaved_ && !tmrAutosave->isActive())
        tmrAutosave->start();
}

void frmMain::tmrAutosave_Timer()
{
    // While the user is asked which table stays, the answer decides what is saved.
    if (tableSaved_ || askingAboutFile_ || !tableChanged_ || !iniFile_.Path())
        return;
    // A change reaches the three lists within one handler; never save half of it.
    const int rows = lstPattern->count();
    if (lstCommand->count() != rows || lstFocus->count() != rows) {
        tmrAutosave->start();
        return;
    }
    // The file changed too, and the watch has not said so yet: that is the user's to decide.
    const std::optional<std::size_t> onDisk = pairsOnDiskNow();
    if (onDisk && *onDisk != pairsOnDisk_.fingerprint) {
        pairFile_Changed();
        return;
    }
    const QScopedValueRollback<bool> autosaving(autosaving_, true);
    if (savePairs())
        saveFailureShown_ = false;
}

void frmMain::tellSaveFailed(const QString& failure)
{
    Log(failure);
    // Saved at every change, a table may fail to save again and again: one box says it until a
    // save succeeds. The last save, at the end, always says it.
    if (unattended_ || (autosaving_ && saveFailureShown_))
        return;
    saveFailureShown_ = true;
    seams_.messageBox->Show(this, failure, QStringLiteral("Kormil"), cMessageBox::Buttons::Ok);
}

void frmMain::logUnwritableSettings()
{
    const QString path = seams_.settingsPath;
    // A file that cannot be read is never written, and the load has said so.
    if (path.isEmpty() || iniFile_.ReadError() != 0)
        return;
    const QByteArray file = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int folderError = ::access(folder.constData(), W_OK) == 0 ? 0 : errno;
    struct stat status {};
    if (::stat(file.constData(), &status) != 0) {
        if (folderError)
            Log(QStringLiteral("The settings file %1 cannot be made, because its folder cannot "
                               "be written (%2): the speech/command pairs cannot be saved until "
                               "it can.")
                    .arg(path, errorText(folderError)));
    } else if (const int fileError = writeError(file, status)) {
        Log(QStringLiteral("The settings file %1 cannot be written (%2): the speech/command "
                           "pairs cannot be saved until it can.")
                .arg(path, errorText(fileError)));
    } else if (folderError) {
        Log(QStringLiteral("The folder of the settings file %1 cannot be written (%2): the "
                           "speech/command pairs will be saved by rewriting the file in place, "
                           "and a crash during such a save can damage it.")
                .arg(path, errorText(folderError)));
    }
}

void frmMain::watchPairFile()
{
    if (seams_.settingsPath.isEmpty())
        return;
    connect(new cFileWatch(seams_.settingsPath, this), &cFileWatch::changed, this,
            &frmMain::pairFile_Changed);
}

std::optional<std::size_t> frmMain::pairsOnDiskNow()
{
    iniFile_.setSection(pair_file::kSection);
    profile::Batch look = iniFile_.StartBatch();
    if (iniFile_.ReadError() != 0 || !QFileInfo::exists(seams_.settingsPath))
        return std::nullopt;
    const std::size_t fingerprint = iniFile_.CurrentSectionContent().fingerprint;
    look.commit();
    return fingerprint;
}

void frmMain::pairFile_Changed()
{
    if (tableSaved_ || askingAboutFile_ || !iniFile_.Path())
        return;
    // A file that is gone or cannot be read is no word to empty the table.
    const std::optional<std::size_t> onDisk = pairsOnDiskNow();
    if (!onDisk)
        return;
    if (*onDisk == pairsOnDisk_.fingerprint) {
        // The file or its folder may have become writable: a failed save tries again.
        if (tableChanged_ && !tmrAutosave->isActive())
            tmrAutosave->start();
        return;
    }
    if (!tableChanged_) {
        reloadPairs();
        return;
    }
    // Closing unattended, the save keeps the window's table and the file's pairs as a backup.
    if (unattended_)
        return;

    const QString path = seams_.settingsPath;
    cMessageBox::Answer answer;
    {
        const QScopedValueRollback<bool> asking(askingAboutFile_, true);
        answer = seams_.messageBox->Show(
            this,
            QStringLiteral("The speech/command pairs in %1 were changed by another program, "
                           "while the table in this window has changes that are not saved "
                           "yet.\n\nKeep the table of this window?\n\nYes: it replaces the pairs "
                           "in the file, and the file as it is now is kept in %1.bak.\nNo: the "
                           "file's pairs are loaded, and the changes made in this window are "
                           "dropped.")
                .arg(path),
            QStringLiteral("Kormil"), cMessageBox::Buttons::YesNo);
    }
    // A shutdown while the question waited has saved the window's table, with a backup.
    if (tableSaved_)
        return;
    if (answer == cMessageBox::Answer::Yes) {
        tmrAutosave->stop();
        if (savePairs())
            saveFailureShown_ = false;
    } else {
        reloadPairs();
    }
}

void frmMain::reloadPairs()
{
    tmrAutosave->stop();
    pendingPairRow_.reset(); // a row of the table that goes
    {
        const QScopedValueRollback<bool> loading(loadingPairs_, true);
        for (QListWidget* list : {lstPattern, lstCommand, lstFocus})
            list->clear();
    }
    const int rows = loadPairs();
    Log(QStringLiteral("Reloaded %1 speech/command pairs from %2")
            .arg(rows)
            .arg(seams_.settingsPath));
}
