#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <vector>

// Recordings of speech for the recogniser: espeak-ng phrases at 16 kHz, mono, 16-bit, laid over
// a low noise floor (pure digital silence makes the recogniser's level adaptation drift).
namespace spoken_audio {

constexpr int kRate = 16000;
constexpr int kNoiseAmplitude = 60; // about -55 dBFS, a quiet room

// The phrase as espeak-ng says it with the voice, at a speaking rate in words a minute; empty
// when espeak-ng or sox is missing.
inline std::vector<qint16> speak(const QString& phrase, const QString& voice,
                                 int wordsPerMinute = 150)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("phrase.wav"));
    QProcess::execute(QStringLiteral("espeak-ng"),
                      {"-v", voice, "-s", QString::number(wordsPerMinute), "-w", wav, phrase});
    QProcess sox;
    sox.start(QStringLiteral("sox"), {wav, "-t", "raw", "-r", "16000", "-c", "1", "-b", "16", "-e",
                                      "signed-integer", "-L", "-"});
    sox.waitForFinished(-1);
    const QByteArray bytes = sox.readAllStandardOutput();
    std::vector<qint16> samples(static_cast<size_t>(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

// Where speech ends in a phrase: espeak-ng pads it with silence.
inline size_t speechEnd(const std::vector<qint16>& speech)
{
    size_t last = speech.size();
    while (last > 0 && std::abs(speech[last - 1]) < 300)
        --last;
    return last;
}

// A recording of the noise floor alone, to which speech is added.
class Recording {
public:
    Recording() = default;
    // 0: digital silence between and under the words, as a muted or gated source gives.
    explicit Recording(int noiseAmplitude) : noiseAmplitude_(noiseAmplitude) {}

    // Appends seconds of the noise floor.
    void pause(double seconds)
    {
        for (int i = 0; i < static_cast<int>(seconds * kRate); ++i)
            samples.push_back(noise());
    }
    // Appends the speech over the noise floor; returns where it starts.
    qint64 say(const std::vector<qint16>& speech)
    {
        const qint64 start = static_cast<qint64>(samples.size());
        for (const qint16 sample : speech)
            samples.push_back(static_cast<qint16>(std::clamp(sample + noise(), -32768, 32767)));
        return start;
    }
    // Writes the recording as a WAV file.
    bool write(const QString& path) const
    {
        const auto bytes = static_cast<quint32>(samples.size() * 2);
        QByteArray header(44, '\0');
        char* at = header.data();
        auto put = [&at](const char* text) { std::memcpy(at, text, 4), at += 4; };
        auto put32 = [&at](quint32 value) { qToLittleEndian(value, at), at += 4; };
        auto put16 = [&at](quint16 value) { qToLittleEndian(value, at), at += 2; };
        put("RIFF"), put32(36 + bytes), put("WAVE"), put("fmt "), put32(16);
        put16(1), put16(1), put32(kRate), put32(kRate * 2), put16(2), put16(16);
        put("data"), put32(bytes);
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(header) == header.size() &&
               file.write(reinterpret_cast<const char*>(samples.data()), bytes) == bytes;
    }

    std::vector<qint16> samples;

private:
    qint16 noise()
    {
        return noiseAmplitude_ == 0
                   ? qint16(0)
                   : static_cast<qint16>(random_.bounded(-noiseAmplitude_, noiseAmplitude_));
    }

    int noiseAmplitude_ = kNoiseAmplitude;
    QRandomGenerator random_{20};
};

} // namespace spoken_audio
