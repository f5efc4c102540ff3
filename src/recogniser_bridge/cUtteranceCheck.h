#pragma once

#include "cSpeakablePatterns.h"

#include <QString>
#include <vector>

struct cmd_ln_s;
struct ps_decoder_s;

// The phones of a word's pronunciation in the decoder's dictionary, "new(2)" for the second of
// "new"; 0 when it has none.
int phoneCount(ps_decoder_s* decoder, const char* word);

// A stretch of one search's best path through an utterance.
struct cSegment {
    int start, end; // 10 ms frames, inclusive
    int acoustic;   // the acoustic score of the stretch
    bool speech;    // a word, not silence, noise or an empty transition
    int phones;     // of the word, 0 for what is not speech
};

// The share of the free phones' speech (phones) that the pattern's words (pattern) cover. A
// breath, a release or a smack just before the first word or after the last, which the grammar
// leaves to silence and free phones take for speech, counts as covered; words said before or
// after the pattern take longer than that.
double speechCovered(const std::vector<cSegment>& pattern, const std::vector<cSegment>& phones);

// A second listen to one whole utterance: which pattern it sounds most like, and how well that
// pattern stands against any sequence of phones over the same audio. Speech that is no pattern
// is forced onto the nearest one by the grammar, but leaves stretches the pattern's words do not
// cover, or words that free phones match far better.
class cUtteranceCheck {
public:
    struct Result {
        QString words;             // the pattern the grammar hears, or empty when none fits at all
        double weakestWord = 0;    // per frame, the pattern's weakest word against free phones
        double cover = 0;          // the share of the phones' speech that the pattern's words cover
        double framesPerPhone = 0; // the fewest 10 ms frames per phone any of its words took
    };

    // Loads the acoustic model and dictionary from modelDir; ok() tells whether it could.
    explicit cUtteranceCheck(const QString& modelDir);
    ~cUtteranceCheck();
    cUtteranceCheck(const cUtteranceCheck&) = delete;
    cUtteranceCheck& operator=(const cUtteranceCheck&) = delete;

    bool ok() const { return decoder_ != nullptr; }
    // false when the recogniser refuses the patterns.
    bool listenFor(const cSpeakablePatterns& patterns);
    // Hears 16 kHz mono audio holding one utterance with some quiet before and after it.
    Result check(const qint16* samples, qsizetype count);

private:
    cmd_ln_s* config_ = nullptr;
    ps_decoder_s* decoder_ = nullptr;
    bool hasPatterns_ = false;
};
