#pragma once

#include <QByteArray>
#include <QString>
#include <QThread>
#include <atomic>

// Reads 16 kHz mono 16-bit audio from a PulseAudio source (PipeWire desktops serve the same
// protocol) on a thread of its own, so that decoding or a slow send never drops audio.
class cPulseSource : public QThread {
    Q_OBJECT

public:
    struct Description {
        QString name;         // the source's name, as --source takes it
        QString description;  // what the audio system calls it for people
        bool monitor = false; // it hears what an output plays, not a microphone
    };

    // Looks the source up (the default source for an empty name); on failure, error() holds the
    // audio system's reason.
    explicit cPulseSource(const QString& name, QObject* parent = nullptr);
    ~cPulseSource() override;

    bool ok() const { return error_.isEmpty(); }
    QString error() const { return error_; }
    const Description& description() const { return description_; }
    // Ends the reading thread after the block under way.
    void stop();

signals:
    void audio(const QByteArray& samples);
    // Reading failed, e.g. because the audio server went away.
    void failed(const QString& reason);

protected:
    void run() override;

private:
    void describe(const QString& name);

    Description description_;
    QString error_;
    struct pa_simple* stream_ = nullptr;
    std::atomic_bool stopping_{false};
};
