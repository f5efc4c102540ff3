#pragma once

#include <QLockFile>
#include <QString>

class cMessageBox;
class cShutdownSignals;

// One running copy of the program per settings file: a lock file beside it, "FILE.lock", held
// while this object lives. A lock left by a copy that died is taken over; copies with files of
// their own run side by side.
class cSettingsLock {
public:
    explicit cSettingsLock(const QString& settingsPath);
    cSettingsLock(const cSettingsLock&) = delete;
    cSettingsLock& operator=(const cSettingsLock&) = delete;

    // Takes the lock. When another running copy holds it, says so in a box titled "Kormil" and
    // on standard error, and returns false: this copy is to end without touching the file. A
    // shutdown signal ends the box. A lock that cannot be made at all (a folder the program may
    // not write) does not keep the program from running: see problem().
    bool take(cMessageBox& messageBox, cShutdownSignals& shutdown);
    // For the log: why no lock is held although no other copy holds it; empty when it is.
    const QString& problem() const { return problem_; }

private:
    QString settingsPath_;
    QLockFile lock_;
    QString problem_;
};
