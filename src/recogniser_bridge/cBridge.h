#pragma once

#include "bridge_options.h"
#include "cRecogniser.h"
#include "sender/cVoiceSender.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTextStream>
#include <QTimer>
#include <memory>

class cPulseSource;

// Audio in, voice strings out: feeds the audio source (or a recording) to the recogniser, sends
// each pattern heard to Kormil, follows the settings file, and says on `messages` what it does
// and what is wrong.
class cBridge : public QObject {
    Q_OBJECT

public:
    cBridge(const BridgeOptions& options, const QString& modelDir, QTextStream& messages,
            QObject* parent = nullptr);
    ~cBridge() override;

    // Starts listening; false, after saying why, when the model or the audio cannot be had.
    bool start();
    // Sends what the recogniser still holds and ends the audio.
    void stop();

signals:
    // The recording has been heard to its end (status 1 when a pattern heard could not be
    // sent), or the audio source failed (status 1).
    void finished(int status);

private:
    void say(const QString& line);
    void readSettings();
    void hear(const QByteArray& samples);
    void report(const QList<cHeard>& heard);
    void send(const QString& pattern);
    void playRecording();

    BridgeOptions options_;
    QTextStream& messages_;
    cRecogniser recogniser_;
    std::unique_ptr<cPulseSource> source_;
    cVoiceSender sender_;
    QFileSystemWatcher watcher_;
    QTimer settingsSettle_;
    QStringList patterns_; // as last read from the settings file
    qsizetype listenedFor_ = 0;
    bool settingsSeen_ = false;
    bool waitingForFile_ = false;
    bool kormilDown_ = false;
    int unsent_ = 0;
};
