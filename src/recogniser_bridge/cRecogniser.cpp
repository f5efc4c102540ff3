#include "cRecogniser.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <err.h>
#include <pocketsphinx.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The front end keeps this much audio before and after the speech it detects (frames of 10 ms).
constexpr int kPreSpeechFrames = 20;
constexpr int kPostSpeechFrames = 50;
constexpr int kComfortNoise = 30; // about -60 dBFS
// Speech after the spotted pattern beyond this is more words, not its last sound fading.
constexpr double kMostSaidAfterSeconds = 0.3;

QByteArray native(const QString& text)
{
    return text.toLocal8Bit();
}

// The recogniser's warnings and errors (a missing model file, say) reach the user; its chatter
// does not.
void warningOrError(void*, err_lvl_t level, const char* format, ...)
{
    static bool continuing = false;
    if (level == ERR_INFOCONT ? !continuing : level < ERR_WARN) {
        continuing = false;
        return;
    }
    if (level != ERR_INFOCONT)
        std::fputs("pocketsphinx: ", stderr);
    continuing = true;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
}

} // namespace

void cRecogniser::showOnlyWarningsAndErrors()
{
    // Without a log stream the configuration dump stays unprinted.
    err_set_logfp(nullptr);
    err_set_callback(warningOrError, nullptr);
}

double cRecogniser::exponentPerPhone(double sensitivity)
{
    // Tuned on espeak-ng voices over a noise floor; see the benchmark.
    return 4.0 + 12.0 * std::clamp(sensitivity, 0.0, 1.0);
}

double cRecogniser::minimumCover(double sensitivity)
{
    return 0.75 - 0.3 * std::clamp(sensitivity, 0.0, 1.0);
}

cRecogniser::cRecogniser(const QString& modelDir, double sensitivity) : sensitivity_(sensitivity)
{
    const QByteArray hmm = native(modelDir + QStringLiteral("/en-us"));
    const QByteArray dict = native(modelDir + QStringLiteral("/cmudict-en-us.dict"));
    config_ = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-dict",
                          dict.constData(), "-samprate", "16000", nullptr);
    if (config_) {
        // Wider than the default beams: with them a spoken pattern is pruned before it is
        // spotted more often than a false one.
        cmd_ln_set_float_r(config_, "-beam", 1e-60);
        cmd_ln_set_float_r(config_, "-pbeam", 1e-60);
    }
    if (config_)
        decoder_ = ps_init(config_);
    if (!decoder_)
        error_ = QStringLiteral("cannot load the speech model from %1").arg(modelDir);
}

cRecogniser::~cRecogniser()
{
    if (decoder_)
        ps_free(decoder_);
    if (config_)
        cmd_ln_free_r(config_);
}

int cRecogniser::phonesOf(const QString& word) const
{
    if (!decoder_)
        return 0;
    const QByteArray bytes = native(word);
    char* phones = ps_lookup_word(decoder_, bytes.constData());
    if (!phones)
        return 0;
    const int count = static_cast<int>(QByteArray(phones).simplified().count(' ')) + 1;
    ckd_free(phones);
    return count;
}

void cRecogniser::listenFor(const cSpeakablePatterns& patterns)
{
    pending_ = std::make_unique<cSpeakablePatterns>(patterns);
    if (!speechSeen_)
        switchSearch();
}

void cRecogniser::switchSearch()
{
    if (!pending_ || !decoder_)
        return;
    if (inUtterance_) {
        ps_end_utt(decoder_);
        inUtterance_ = false;
    }
    current_ = std::move(pending_);
    if (current_->phrases().isEmpty())
        return;
    QByteArray keyphrases;
    for (const cSpeakablePatterns::Phrase& phrase : current_->phrases())
        keyphrases += native(phrase.spoken) + " /1e-" +
                      QByteArray::number(exponentPerPhone(sensitivity_) * phrase.phones, 'f', 1) +
                      "/\n";
    // A file that exists only in memory: nothing is ever left behind.
    const int fd = memfd_create("kormil-keyphrases", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, keyphrases.constData(), keyphrases.size()) != keyphrases.size()) {
        if (fd >= 0)
            ::close(fd);
        error_ = QStringLiteral("cannot hand the patterns to the recogniser");
        return;
    }
    const QByteArray path = "/proc/self/fd/" + QByteArray::number(fd);
    const QByteArray name = "patterns" + QByteArray::number(++searchNumber_);
    const QByteArray previous = "patterns" + QByteArray::number(searchNumber_ - 1);
    const bool loaded = ps_set_kws(decoder_, name.constData(), path.constData()) == 0 &&
                        ps_set_search(decoder_, name.constData()) == 0;
    ::close(fd);
    if (!loaded) {
        error_ = QStringLiteral("the recogniser refused the patterns");
        return;
    }
    ps_unset_search(decoder_, previous.constData());
    startUtterance();
}

void cRecogniser::startUtterance()
{
    ps_start_utt(decoder_);
    spottedLength_ = 0;
    inUtterance_ = true;
    speechSeen_ = false;
}

QList<cHeard> cRecogniser::process(const qint16* samples, qsizetype count)
{
    QList<cHeard> heard;
    samplesFed_ += count;
    if (!inUtterance_)
        return heard;

    // Digital silence (a monitor source while nothing plays, a muted microphone) throws the
    // front end's noise and level estimates far off, and the next words go unheard: it is
    // heard as the quiet room it stands for.
    if (std::all_of(samples, samples + count, [](qint16 s) { return std::abs(s) <= 2; })) {
        comfortNoise_.resize(count);
        for (qint16& sample : comfortNoise_)
            sample = static_cast<qint16>(noise_.bounded(-kComfortNoise, kComfortNoise + 1));
        samples = comfortNoise_.constData();
    }
    ps_process_raw(decoder_, samples, static_cast<size_t>(count), FALSE, FALSE);
    // A pattern is spotted as soon as it has been said: what is said after it shows here.
    const char* spotted = ps_get_hyp(decoder_, nullptr);
    const qsizetype spottedLength = spotted ? static_cast<qsizetype>(std::strlen(spotted)) : 0;
    if (spottedLength != spottedLength_) {
        spottedLength_ = spottedLength;
        lastSpotted_ = samplesFed_;
    }
    const bool inSpeech = ps_get_in_speech(decoder_);
    if (inSpeech) {
        speechSeen_ = true;
    } else if (speechSeen_) {
        if (std::optional<cHeard> utterance = closeUtterance())
            heard.append(*utterance);
        if (pending_)
            switchSearch();
        else
            startUtterance();
    }
    return heard;
}

QList<cHeard> cRecogniser::finish()
{
    QList<cHeard> heard;
    if (inUtterance_ && speechSeen_) {
        if (std::optional<cHeard> utterance = closeUtterance())
            heard.append(*utterance);
    }
    return heard;
}

std::optional<cHeard> cRecogniser::closeUtterance()
{
    ps_end_utt(decoder_);
    inUtterance_ = false;
    speechSeen_ = false;
    cHeard heard;
    heard.endSample = samplesFed_;
    const int speechFrames = ps_get_n_frames(decoder_) - kPreSpeechFrames - kPostSpeechFrames;
    int best = -1, bestStart = 0, bestEnd = 0;
    QString bestWords;
    for (ps_seg_t* seg = ps_seg_iter(decoder_); seg; seg = ps_seg_next(seg)) {
        int start = 0, end = 0;
        ps_seg_frames(seg, &start, &end);
        // The widest spotted phrase stands for the utterance.
        if (end - start > bestEnd - bestStart) {
            bestStart = start;
            bestEnd = end;
            bestWords = QString::fromLocal8Bit(ps_seg_word(seg)).trimmed();
            best = ps_seg_prob(seg, nullptr, nullptr, nullptr);
        }
    }
    if (bestWords.isEmpty()) {
        heard.verdict = QStringLiteral("no pattern heard");
        return heard;
    }
    heard.words = bestWords;
    heard.score = best;
    const double saidAfter =
        static_cast<double>(samplesFed_ - lastSpotted_) / kSampleRate - kPostSpeechFrames / 100.0;
    if (saidAfter > kMostSaidAfterSeconds) {
        heard.verdict = QStringLiteral("not sent: %1 s more was said after the pattern")
                            .arg(saidAfter, 0, 'f', 2);
        return heard;
    }
    if (bestEnd - bestStart < minimumCover(sensitivity_) * speechFrames) {
        heard.verdict = QStringLiteral("not sent: more was said than the pattern (%1 of %2 s)")
                            .arg((bestEnd - bestStart) / 100.0)
                            .arg(speechFrames / 100.0);
        return heard;
    }
    heard.pattern = current_->patternFor(bestWords);
    heard.verdict = QStringLiteral("sent");
    return heard;
}
