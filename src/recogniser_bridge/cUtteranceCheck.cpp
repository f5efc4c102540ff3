#include "cUtteranceCheck.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <fsg_model.h>
#include <jsgf.h>
#include <pocketsphinx.h>
#include <vector>

namespace {

constexpr const char* kPatternSearch = "patterns";
constexpr const char* kPhoneSearch = "phones";

// The dictionary's phones, each made a word of its own so that a grammar can loop over them with
// the same acoustic units as the patterns' words; and silence and noise, so that the loop need
// not take a breath or the room for speech. The words' names cannot clash with a pattern's,
// which holds letters, apostrophes and blanks only.
constexpr const char* kPhones[] = {"AA", "AE", "AH", "AO", "AW", "AY", "B",  "CH", "D",  "DH",
                                   "EH", "ER", "EY", "F",  "G",  "HH", "IH", "IY", "JH", "K",
                                   "L",  "M",  "N",  "NG", "OW", "OY", "P",  "R",  "S",  "SH",
                                   "T",  "TH", "UH", "UW", "V",  "W",  "Y",  "Z",  "ZH"};
constexpr const char* kQuiet[][2] = {{"quiet_silence", "SIL"}, {"quiet_noise", "+NSN+"}};

// As ps_set_jsgf_string does, but without leaking the parsed grammar, as it does.
bool setGrammar(ps_decoder_s* decoder, const char* name, const QByteArray& text)
{
    jsgf_t* grammar = jsgf_parse_string(text.constData(), nullptr);
    if (!grammar)
        return false;
    bool set = false;
    if (jsgf_rule_t* rule = jsgf_get_public_rule(grammar)) {
        fsg_model_t* states =
            jsgf_build_fsg(grammar, rule, ps_get_logmath(decoder),
                           static_cast<float>(cmd_ln_float_r(ps_get_config(decoder), "-lw")));
        // The search keeps its own reference to the states.
        set = states && ps_set_fsg(decoder, name, states) == 0;
        fsg_model_free(states);
    }
    jsgf_grammar_free(grammar);
    return set;
}

std::vector<cSegment> decode(ps_decoder_s* decoder, const char* search, const qint16* samples,
                             qsizetype count, QString* words)
{
    std::vector<cSegment> segments;
    if (ps_set_search(decoder, search) != 0 || ps_start_utt(decoder) != 0)
        return segments;
    // The whole utterance at once: its own cepstral mean, the same for both searches.
    ps_process_raw(decoder, samples, static_cast<size_t>(count), FALSE, TRUE);
    ps_end_utt(decoder);
    const char* hypothesis = ps_get_hyp(decoder, nullptr);
    if (!hypothesis || !*hypothesis)
        return segments;
    if (words)
        *words = QString::fromLocal8Bit(hypothesis);
    for (ps_seg_t* seg = ps_seg_iter(decoder); seg; seg = ps_seg_next(seg)) {
        cSegment segment{};
        ps_seg_frames(seg, &segment.start, &segment.end);
        ps_seg_prob(seg, &segment.acoustic, nullptr, nullptr);
        const char* word = ps_seg_word(seg);
        // Silence, fillers and the grammar's empty transitions, "<sil>", "[NOISE]", "(NULL)".
        segment.speech = word[0] != '<' && word[0] != '[' && word[0] != '(' &&
                         std::strncmp(word, "quiet_", 6) != 0;
        segment.phones = segment.speech ? std::max(1, phoneCount(decoder, word)) : 0;
        if (segment.end >= segment.start)
            segments.push_back(segment);
    }
    return segments;
}

int overlap(const cSegment& segment, int start, int end)
{
    return std::max(0, std::min(segment.end, end) - std::max(segment.start, start) + 1);
}

} // namespace

double speechCovered(const std::vector<cSegment>& pattern, const std::vector<cSegment>& phones)
{
    // Chosen on the tuning voices (kormil_bench_recogniser --tune), where the ends that patterns
    // left uncovered took up to 170 ms, and a word said after a pattern ("now", "please") 430 ms
    // and more.
    constexpr int kForgivenAtEachEnd = 10;
    int words = 0, first = INT_MAX, last = INT_MIN;
    for (const cSegment& word : pattern) {
        if (!word.speech)
            continue;
        words += word.end - word.start + 1;
        first = std::min(first, word.start);
        last = std::max(last, word.end);
    }
    if (words == 0)
        return 0;
    int speech = 0, before = 0, after = 0;
    for (const cSegment& phone : phones) {
        if (!phone.speech)
            continue;
        speech += phone.end - phone.start + 1;
        before += overlap(phone, INT_MIN, first - 1);
        after += overlap(phone, last + 1, INT_MAX);
    }
    if (speech == 0)
        return 0;
    return static_cast<double>(words + std::min(before, kForgivenAtEachEnd) +
                               std::min(after, kForgivenAtEachEnd)) /
           speech;
}

int phoneCount(ps_decoder_s* decoder, const char* word)
{
    char* phones = ps_lookup_word(decoder, word);
    if (!phones)
        return 0;
    const int count = static_cast<int>(QByteArray(phones).simplified().count(' ')) + 1;
    ckd_free(phones);
    return count;
}

cUtteranceCheck::cUtteranceCheck(const QString& modelDir)
{
    const QByteArray hmm = (modelDir + QStringLiteral("/en-us")).toLocal8Bit();
    const QByteArray dict = (modelDir + QStringLiteral("/cmudict-en-us.dict")).toLocal8Bit();
    // The live recogniser has found where the utterance starts and ends; here every frame counts.
    // The loop's phones are words, so the word insertion penalty is what each phone costs it. A
    // dearer word with a cheaper phone leaves the loop fewer, longer phones, a fairer rival for a
    // dictionary word said in an accent, while a pattern's words pay the price once each. Chosen
    // on the tuning voices (kormil_bench_recogniser --tune): at an equal share of everyday
    // phrases sent (5 %), 90 of 100 patterns against 84 at the defaults; either alone bought less.
    config_ = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-dict",
                          dict.constData(), "-samprate", "16000", "-remove_silence", "no", "-wip",
                          "0.1", "-pip", "2.0", nullptr);
    if (!config_)
        return;
    decoder_ = ps_init(config_);
    if (!decoder_)
        return;
    QByteArray loop = "#JSGF V1.0;\ngrammar phones;\npublic <phones> = (";
    for (const char* phone : kPhones) {
        const QByteArray word = "phone_" + QByteArray(phone).toLower();
        ps_add_word(decoder_, word.constData(), phone, FALSE);
        loop += (phone == kPhones[0] ? "" : " | ") + word;
    }
    for (const auto& [word, phone] : kQuiet) {
        ps_add_word(decoder_, word, phone, FALSE);
        loop += QByteArray(" | ") + word;
    }
    loop += ")+;\n";
    if (!setGrammar(decoder_, kPhoneSearch, loop)) {
        ps_free(decoder_);
        decoder_ = nullptr;
        return;
    }
}

cUtteranceCheck::~cUtteranceCheck()
{
    if (decoder_)
        ps_free(decoder_);
    if (config_)
        cmd_ln_free_r(config_);
}

bool cUtteranceCheck::listenFor(const cSpeakablePatterns& patterns)
{
    hasPatterns_ = false;
    if (!decoder_ || patterns.phrases().isEmpty())
        return decoder_ != nullptr;
    QByteArray grammar = "#JSGF V1.0;\ngrammar patterns;\npublic <pattern> = ";
    for (const cSpeakablePatterns::Phrase& phrase : patterns.phrases())
        grammar +=
            (&phrase == &patterns.phrases().front() ? "" : " | ") + phrase.spoken.toLocal8Bit();
    grammar += ";\n";
    hasPatterns_ = setGrammar(decoder_, kPatternSearch, grammar);
    return hasPatterns_;
}

cUtteranceCheck::Result cUtteranceCheck::check(const qint16* samples, qsizetype count)
{
    Result result;
    if (!hasPatterns_)
        return result;
    const std::vector<cSegment> pattern =
        decode(decoder_, kPatternSearch, samples, count, &result.words);
    const std::vector<cSegment> phones = decode(decoder_, kPhoneSearch, samples, count, nullptr);
    if (pattern.empty() || phones.empty()) {
        result.words.clear();
        return result;
    }
    result.weakestWord = 1e9;
    result.framesPerPhone = 1e9;
    for (const cSegment& word : pattern) {
        if (!word.speech)
            continue;
        const int length = word.end - word.start + 1;
        // The phones' score over the word's frames, a phone that straddles its edge in part.
        double free = 0;
        for (const cSegment& phone : phones)
            free += static_cast<double>(phone.acoustic) * overlap(phone, word.start, word.end) /
                    (phone.end - phone.start + 1);
        result.weakestWord = std::min(result.weakestWord, (word.acoustic - free) / length);
        result.framesPerPhone =
            std::min(result.framesPerPhone, static_cast<double>(length) / word.phones);
    }
    result.cover = speechCovered(pattern, phones);
    return result;
}
