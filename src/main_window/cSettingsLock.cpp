#include "cSettingsLock.h"

#include "cMessageBox.h"
#include "cShutdownSignals.h"

#include <QCoreApplication>
#include <cstdio>

cSettingsLock::cSettingsLock(const QString& settingsPath)
    : settingsPath_(settingsPath), lock_(settingsPath + QStringLiteral(".lock"))
{
    // A copy may run for months: only a dead owner makes a lock stale, never its age.
    lock_.setStaleLockTime(0);
}

bool cSettingsLock::take(cMessageBox& messageBox, cShutdownSignals& shutdown)
{
    if (lock_.tryLock(0))
        return true;
    if (lock_.error() != QLockFile::LockFailedError) {
        problem_ = QStringLiteral("The lock file %1.lock cannot be made (%2): another copy of "
                                  "Kormil started with %1 would not be stopped.")
                       .arg(settingsPath_, lock_.error() == QLockFile::PermissionError
                                               ? QStringLiteral("its folder is not writable")
                                               : QStringLiteral("an unknown error"));
        return true;
    }
    qint64 owner = 0;
    QString host;
    QString application;
    lock_.getLockInfo(&owner, &host, &application);
    const QString text = QStringLiteral("Kormil is already running with the settings file %1 "
                                        "(process %2). Use the window of that copy; this one ends "
                                        "and leaves the file alone.")
                             .arg(settingsPath_)
                             .arg(owner);
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    const QMetaObject::Connection ending = QObject::connect(&shutdown, &cShutdownSignals::requested,
                                                            [] { QCoreApplication::exit(1); });
    messageBox.Show(nullptr, text, QStringLiteral("Kormil"), cMessageBox::Buttons::Ok);
    QObject::disconnect(ending);
    return false;
}
