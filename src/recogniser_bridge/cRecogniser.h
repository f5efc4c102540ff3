#pragma once

#include "cSpeakablePatterns.h"
#include "cUtteranceCheck.h"

#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <memory>
#include <vector>

struct cmd_ln_s;
struct ps_decoder_s;

// What the recogniser made of one utterance.
struct cHeard {
    QString words;             // the pattern's words it sounds most like, or empty
    QString pattern;           // the pattern to send, or empty when nothing is sent
    double weakest = 0;        // how well the pattern's weakest word matched (see cUtteranceCheck)
    double cover = 0;          // how much of the speech the pattern's words covered
    double framesPerPhone = 0; // the fewest frames per phone any of its words took
    double weakestNeeded = 0;  // what the sensitivity asks of the weakest word
    double coverNeeded = 0;    // and of the cover
    QString verdict;           // why it is sent or not
    qint64 endSample = 0;      // where in the audio stream the utterance was closed
};

// Listens to 16 kHz mono audio with pocketsphinx in two passes: live, only for where an utterance
// starts and ends; once it has ended, its whole audio against the patterns and against free
// phones (cUtteranceCheck). An utterance is sent when it sounds like a pattern throughout, so
// that speech that is no pattern, or holds one among other words, sends nothing.
class cRecogniser {
public:
    static constexpr int kSampleRate = 16000;
    static constexpr double kDefaultSensitivity = 0.5;

    // Loads the acoustic model and dictionary from modelDir; error() tells why it failed.
    // Sensitivity is how sure the recogniser must be before it sends: from 0 (a pattern said
    // unclearly is still sent, and more speech by mistake) to 1 (only a pattern said clearly).
    explicit cRecogniser(const QString& modelDir, double sensitivity = kDefaultSensitivity);
    ~cRecogniser();
    cRecogniser(const cRecogniser&) = delete;
    cRecogniser& operator=(const cRecogniser&) = delete;

    // Lets the recogniser library print its warnings and errors on stderr, and nothing else.
    // The library has one log for the whole process: the program's composition root calls this
    // once, before any recogniser exists.
    static void showOnlyWarningsAndErrors();

    QString error() const { return error_; }
    // The number of phones of a word in the dictionary, 0 when it is not there.
    int phonesOf(const QString& word) const;
    // Listens for these patterns from the next utterance to end on; audio keeps flowing.
    void listenFor(const cSpeakablePatterns& patterns);
    // Feeds audio; returns each utterance closed within it.
    QList<cHeard> process(const qint16* samples, qsizetype count);
    // Closes an utterance still open, as at the end of a recording.
    QList<cHeard> finish();

    // How weak a pattern's weakest word may sound, against free phones, at a sensitivity.
    static double weakestWordAllowed(double sensitivity);
    // How much of an utterance's speech the pattern's words must cover at a sensitivity: the
    // rest may be breath or noise, but not more words.
    static double minimumCover(double sensitivity);
    // Why an utterance so checked is not sent at a sensitivity, or an empty text when it is.
    static QString whyNotSent(const cUtteranceCheck::Result& result, double sensitivity);

private:
    void startUtterance();
    cHeard closeUtterance();
    const qint16* overNoiseFloor(const qint16* samples, qsizetype count);

    cmd_ln_s* config_ = nullptr;
    ps_decoder_s* decoder_ = nullptr;
    std::unique_ptr<cUtteranceCheck> check_;
    QString error_;
    double sensitivity_;
    std::unique_ptr<cSpeakablePatterns> patterns_;
    bool inUtterance_ = false;
    bool speechSeen_ = false;
    qint64 samplesFed_ = 0;
    std::vector<qint16> utterance_; // its audio, with some of the quiet before it
    std::vector<qint16> fed_;       // the block as it is fed, reused
    QRandomGenerator noise_{20};
};
