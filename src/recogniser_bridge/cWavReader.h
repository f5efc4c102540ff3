#pragma once

#include <QByteArray>
#include <QString>

// The samples of a recording as the recogniser takes them: 16 kHz, mono, 16-bit. Another
// format is converted with sox when it is installed, and refused with the reason otherwise.
class cWavReader {
public:
    // Reads the whole file; error() is empty when samples() holds it.
    explicit cWavReader(const QString& path);

    QString error() const { return error_; }
    const QByteArray& samples() const { return samples_; }

    // The format of a WAV file's bytes, or an empty text when it is what the recogniser takes,
    // with its samples in `samples`.
    static QString describe(const QByteArray& file, QByteArray* samples);

private:
    QByteArray samples_;
    QString error_;
};
