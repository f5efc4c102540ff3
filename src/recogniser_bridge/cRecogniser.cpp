#include "cRecogniser.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <err.h>
#include <pocketsphinx.h>
#include <string>

namespace {

constexpr int kNoiseFloor = 60; // about -55 dBFS
// Audio kept from before the live recogniser notices speech: its onset comes a little earlier,
// and the second pass needs some quiet on either side.
constexpr qsizetype kBeforeSpeech = cRecogniser::kSampleRate * 8 / 10;
// No pattern takes this long to say; checking such talk would only cost time.
constexpr qsizetype kLongestUtterance = cRecogniser::kSampleRate * 8;

QByteArray native(const QString& text)
{
    return text.toLocal8Bit();
}

// The recogniser's warnings and errors (a missing model file, say) reach the user; its chatter
// does not, nor the error its grammar search gives for speech that fits no pattern, which is
// what the second pass is for. A message comes in parts (its level and place, then its text):
// they are gathered into a line before the line is judged.
void warningOrError(void*, err_lvl_t level, const char* format, ...)
{
    static std::string line;
    static bool shown = false;
    if (level != ERR_INFOCONT) {
        if (shown && !line.empty())
            std::fprintf(stderr, "pocketsphinx: %s\n", line.c_str());
        line.clear();
        shown = level >= ERR_WARN;
    }
    if (!shown)
        return;
    char part[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(part, sizeof part, format, arguments);
    va_end(arguments);
    line += part;
    if (line.empty() || line.back() != '\n')
        return;
    if (line.find("Final result does not match the grammar") == std::string::npos)
        std::fprintf(stderr, "pocketsphinx: %s", line.c_str());
    line.clear();
}

} // namespace

void cRecogniser::showOnlyWarningsAndErrors()
{
    // Without a log stream the configuration dump stays unprinted.
    err_set_logfp(nullptr);
    err_set_callback(warningOrError, nullptr);
}

// Both chosen on espeak-ng voices and phrases that the benchmark's figures do not use
// (kormil_bench_recogniser --tune). The default sits where a weaker word let through would bring
// in more everyday speech than patterns: a command started by mistake costs a voice user more
// than a pattern said again. Whether more was said leans on the phone loop, which splits speech
// unevenly, so the cover barely moves with the sensitivity; the weakest word carries it.
double cRecogniser::weakestWordAllowed(double sensitivity)
{
    return -14.0 + 24.0 * std::clamp(sensitivity, 0.0, 1.0);
}

double cRecogniser::minimumCover(double sensitivity)
{
    return 0.88 + 0.04 * std::clamp(sensitivity, 0.0, 1.0);
}

QString cRecogniser::whyNotSent(const cUtteranceCheck::Result& result, double sensitivity)
{
    // Three frames a phone is the least the model's states allow: a word squeezed near that is
    // one the grammar had to fit in, as "up" when only "page" of "page up" was said. On the tuning
    // voices no pattern that would otherwise be sent took under 77 ms a phone, while phrases of
    // three and four words forced onto two-word patterns took 60.
    constexpr double kFewestFramesPerPhone = 7;
    if (result.words.isEmpty())
        return QStringLiteral("no pattern fits");
    if (result.framesPerPhone < kFewestFramesPerPhone)
        return QStringLiteral("not sent: a word of it went by too fast to have been said (%1 ms "
                              "a sound, under %2)")
            .arg(result.framesPerPhone * 10, 0, 'f', 0)
            .arg(kFewestFramesPerPhone * 10, 0, 'f', 0);
    if (result.weakestWord < weakestWordAllowed(sensitivity))
        return QStringLiteral("not sent: a word of it sounds unlike the pattern");
    if (result.cover < minimumCover(sensitivity))
        return QStringLiteral("not sent: more was said than the pattern");
    return QString();
}

cRecogniser::cRecogniser(const QString& modelDir, double sensitivity) : sensitivity_(sensitivity)
{
    const QByteArray hmm = native(modelDir + QStringLiteral("/en-us"));
    const QByteArray dict = native(modelDir + QStringLiteral("/cmudict-en-us.dict"));
    config_ = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-dict",
                          dict.constData(), "-samprate", "16000", nullptr);
    if (config_)
        decoder_ = ps_init(config_);
    if (decoder_)
        check_ = std::make_unique<cUtteranceCheck>(modelDir);
    // Live, only the voice activity detection matters: a single short keyphrase keeps the
    // search it needs next to nothing.
    if (!decoder_ || !check_->ok() || ps_set_keyphrase(decoder_, "utterances", "a") != 0 ||
        ps_set_search(decoder_, "utterances") != 0) {
        error_ = QStringLiteral("cannot load the speech model from %1").arg(modelDir);
        return;
    }
    startUtterance();
}

cRecogniser::~cRecogniser()
{
    check_.reset();
    if (decoder_)
        ps_free(decoder_);
    if (config_)
        cmd_ln_free_r(config_);
}

int cRecogniser::phonesOf(const QString& word) const
{
    if (!decoder_)
        return 0;
    return phoneCount(decoder_, native(word).constData());
}

void cRecogniser::listenFor(const cSpeakablePatterns& patterns)
{
    if (!error_.isEmpty())
        return;
    patterns_ = std::make_unique<cSpeakablePatterns>(patterns);
    if (!check_->listenFor(*patterns_))
        error_ = QStringLiteral("the recogniser refused the patterns");
}

void cRecogniser::startUtterance()
{
    ps_start_utt(decoder_);
    inUtterance_ = true;
    speechSeen_ = false;
}

// Digital silence (a monitor source while nothing plays, a muted or gated microphone, the padding
// of a recording) throws the front end's noise and level estimates far off, and words next to it
// go unheard. Every block is laid over the quiet room the thresholds were chosen in, so a source
// quieter than that room sounds like it; a louder one hardly changes.
const qint16* cRecogniser::overNoiseFloor(const qint16* samples, qsizetype count)
{
    fed_.resize(static_cast<size_t>(count));
    for (qsizetype i = 0; i < count; ++i)
        fed_[i] = static_cast<qint16>(
            std::clamp(samples[i] + noise_.bounded(-kNoiseFloor, kNoiseFloor + 1), -32768, 32767));
    return fed_.data();
}

QList<cHeard> cRecogniser::process(const qint16* samples, qsizetype count)
{
    QList<cHeard> heard;
    samplesFed_ += count;
    if (!inUtterance_)
        return heard;

    samples = overNoiseFloor(samples, count);
    ps_process_raw(decoder_, samples, static_cast<size_t>(count), FALSE, FALSE);
    utterance_.insert(utterance_.end(), samples, samples + count);
    const bool inSpeech = ps_get_in_speech(decoder_);
    if (!inSpeech && !speechSeen_ && static_cast<qsizetype>(utterance_.size()) > kBeforeSpeech)
        utterance_.erase(utterance_.begin(), utterance_.end() - kBeforeSpeech);
    if (inSpeech) {
        speechSeen_ = true;
    } else if (speechSeen_) {
        heard.append(closeUtterance());
        startUtterance();
    }
    return heard;
}

QList<cHeard> cRecogniser::finish()
{
    QList<cHeard> heard;
    if (inUtterance_ && speechSeen_)
        heard.append(closeUtterance());
    return heard;
}

cHeard cRecogniser::closeUtterance()
{
    ps_end_utt(decoder_);
    inUtterance_ = false;
    speechSeen_ = false;
    cHeard heard;
    heard.endSample = samplesFed_;
    const qsizetype length = static_cast<qsizetype>(utterance_.size());
    if (!patterns_ || length > kLongestUtterance) {
        utterance_.clear();
        heard.verdict = patterns_ ? QStringLiteral("not sent: %1 s is longer than any pattern")
                                        .arg(static_cast<double>(length) / kSampleRate, 0, 'f', 1)
                                  : QStringLiteral("no patterns to listen for");
        return heard;
    }
    const cUtteranceCheck::Result result = check_->check(utterance_.data(), length);
    utterance_.clear();
    heard.words = result.words;
    heard.weakest = result.weakestWord;
    heard.cover = result.cover;
    heard.framesPerPhone = result.framesPerPhone;
    heard.weakestNeeded = weakestWordAllowed(sensitivity_);
    heard.coverNeeded = minimumCover(sensitivity_);
    heard.verdict = whyNotSent(result, sensitivity_);
    if (heard.verdict.isEmpty()) {
        heard.pattern = patterns_->patternFor(result.words);
        heard.verdict = QStringLiteral("sent");
    }
    return heard;
}
