#pragma once

#include "cSpeakablePatterns.h"

#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <memory>
#include <optional>

struct cmd_ln_s;
struct ps_decoder_s;

// What the recogniser made of one utterance.
struct cHeard {
    QString words;        // the pattern's words it spotted, or empty
    QString pattern;      // the pattern to send, or empty when nothing is sent
    int score = 0;        // the spotted phrase's log score
    QString verdict;      // why it is sent or not
    qint64 endSample = 0; // where in the audio stream the utterance was closed
};

// Keyphrase spotting on 16 kHz mono audio with pocketsphinx: each pattern is a keyphrase whose
// threshold grows with its length in phones, and an utterance is sent only when one pattern
// covers all of its speech, so that speech that is no pattern, or holds one among other words,
// sends nothing.
class cRecogniser {
public:
    static constexpr int kSampleRate = 16000;
    static constexpr double kDefaultSensitivity = 0.5;

    // Loads the acoustic model and dictionary from modelDir; error() tells why it failed.
    // Sensitivity runs from 0 (only a clear pattern is heard) to 1 (more is heard, also by
    // mistake).
    explicit cRecogniser(const QString& modelDir, double sensitivity = kDefaultSensitivity);
    ~cRecogniser();
    cRecogniser(const cRecogniser&) = delete;
    cRecogniser& operator=(const cRecogniser&) = delete;

    // Lets the recogniser library print its warnings and errors on stderr, and nothing else;
    // for the whole process.
    static void showOnlyWarningsAndErrors();

    QString error() const { return error_; }
    // The number of phones of a word in the dictionary, 0 when it is not there.
    int phonesOf(const QString& word) const;
    // Listens for these patterns from the next moment without speech on; audio keeps flowing.
    void listenFor(const cSpeakablePatterns& patterns);
    // Feeds audio; returns each utterance closed within it.
    QList<cHeard> process(const qint16* samples, qsizetype count);
    // Closes an utterance still open, as at the end of a recording.
    QList<cHeard> finish();

    // The keyphrase threshold's exponent per phone at a sensitivity: the threshold is
    // 1e-(exponent * phones).
    static double exponentPerPhone(double sensitivity);
    // How much of an utterance's speech the spotted pattern must cover at a sensitivity: the
    // rest may be breath or noise, but not more words.
    static double minimumCover(double sensitivity);

private:
    void startUtterance();
    std::optional<cHeard> closeUtterance();
    void switchSearch();

    cmd_ln_s* config_ = nullptr;
    ps_decoder_s* decoder_ = nullptr;
    QString error_;
    double sensitivity_;
    std::unique_ptr<cSpeakablePatterns> current_;
    std::unique_ptr<cSpeakablePatterns> pending_;
    int searchNumber_ = 0;
    bool inUtterance_ = false;
    bool speechSeen_ = false;
    qint64 samplesFed_ = 0;
    qint64 lastSpotted_ = 0; // where the utterance's last pattern was spotted
    qsizetype spottedLength_ = 0;
    QList<qint16> comfortNoise_;
    QRandomGenerator noise_{20};
};
