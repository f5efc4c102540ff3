#include "helpers/spoken_audio.h"
#include "recogniser_bridge/cRecogniser.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

// Speaks patterns and everyday phrases with espeak-ng voices over a noise floor, feeds the
// recording to the bridge's recogniser as a live source would, and counts what it would send.
// The thresholds were chosen with --tune, on voices and phrases of their own: none of them is in
// the figures printed without it.
namespace {

constexpr int kRate = spoken_audio::kRate;
constexpr int kBlock = kRate / 20; // what the audio source hands over at a time

struct Table {
    QString name;
    QStringList patterns;
    QStringList everyday; // everyday phrases and near misses
};

struct Corpus {
    QStringList voices;
    std::vector<Table> tables;
};

// The ten-pattern table tells patterns apart from each other and from talk; the three-pattern
// one, where the grammar has few patterns to force speech onto, from phrases that share a word.
const Corpus kMeasured = {
    {"en-us", "en-us+f2", "en-gb", "en-gb-scotland+f4", "en-029+m3"},
    {{"ten patterns",
      {"open mail", "play music", "lock screen", "close window", "volume up", "next song",
       "show desktop", "mute sound", "read email", "go back"},
      {"open the mail box", "play", "lock the door", "what time is it", "good morning",
       "turn the music down", "close the door please", "open the window", "where is my phone",
       "the cat is hungry", "take a break", "show me the way", "sound check", "read it again"}},
     {"three patterns",
      {"open mail", "play music", "lock screen"},
      {"lock the door", "open the mail box", "play", "what time is it", "close the window",
       "turn the music down", "good morning", "open the door", "play it again"}}}};

const Corpus kTuning = {
    {"en-us+m1", "en-gb-x-rp+f3", "en-us-nyc+m5", "en-gb-x-gbclan+f1", "en-gb-x-gbcwmd+m7",
     "en-us+m3", "en-us+f4", "en-gb-x-gbclan+m2", "en-gb-x-rp+m4", "en-us-nyc+f1"},
    {{"ten patterns",
      {"stop music", "open browser", "scroll down", "new tab", "save file", "zoom in", "page up",
       "call home", "start timer", "close tab"},
      {"stop the music now",
       "open a new tab",
       "scroll",
       "zoom",
       "save the file please",
       "call my mother",
       "page",
       "is it raining",
       "hello there",
       "thank you very much",
       "i am hungry",
       "the timer is done",
       "new york",
       "close the tab",
       "turn it up",
       "where are the keys",
       "nice weather today",
       "let me think",
       "start",
       "call me later",
       "stop it",
       "open the door",
       "scroll up",
       "new message",
       "save me a seat",
       "zoom out",
       "page two",
       "call the office",
       "start again",
       "close it",
       "how are you",
       "good night",
       "see you tomorrow",
       "what is the weather",
       "turn off the light"}},
     {"three patterns",
      {"save file", "call home", "zoom in"},
      {"save the whole file", "call the phone", "zoom", "come home", "sail the boat", "call it in",
       "close the file", "is it raining", "save a seat", "go home now", "turn it on"}}}};

struct Spoken {
    QString phrase;
    bool pattern;
    qint64 start = 0, speechEnd = 0, next = 0;
};

struct Recording {
    QString voice;
    spoken_audio::Recording audio;
    std::vector<Spoken> script;
};

// The phrases in a shuffled order, each followed by 2.5 s of the noise floor alone.
Recording record(const Table& table, const QString& voice, int wordsPerMinute)
{
    Recording recording{voice, {}, {}};
    for (const QString& phrase : table.patterns)
        recording.script.push_back({phrase, true});
    for (const QString& phrase : table.everyday)
        recording.script.push_back({phrase, false});
    QRandomGenerator order(20);
    std::shuffle(recording.script.begin(), recording.script.end(), order);
    recording.audio.pause(5);
    for (Spoken& spoken : recording.script) {
        const std::vector<qint16> speech =
            spoken_audio::speak(spoken.phrase, voice, wordsPerMinute);
        spoken.start = recording.audio.say(speech);
        spoken.speechEnd = spoken.start + static_cast<qint64>(spoken_audio::speechEnd(speech));
        recording.audio.pause(2.5);
        spoken.next = static_cast<qint64>(recording.audio.samples.size());
    }
    return recording;
}

struct Tally {
    int patternsSent = 0, patterns = 0, wrong = 0, everydaySent = 0, everyday = 0;
    std::vector<double> latencyMs;

    void add(const Tally& other)
    {
        patternsSent += other.patternsSent;
        patterns += other.patterns;
        wrong += other.wrong;
        everydaySent += other.everydaySent;
        everyday += other.everyday;
        latencyMs.insert(latencyMs.end(), other.latencyMs.begin(), other.latencyMs.end());
    }
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5)];
}

void print(const QString& voice, const Tally& t, double sensitivity)
{
    std::printf("%-20s %5d/%-4d %5d/%-4d %6d %8.0f %8.0f  %.2f\n", qPrintable(voice),
                t.patternsSent, t.patterns, t.everydaySent, t.everyday, t.wrong,
                percentile(t.latencyMs, 0.5), percentile(t.latencyMs, 1.0), sensitivity);
}

// Feeds the recording block by block and counts what was sent for what was said.
Tally listen(const Recording& recording, cRecogniser& recogniser, bool verbose)
{
    const std::vector<Spoken>& script = recording.script;
    Tally tally;
    for (const Spoken& spoken : script)
        (spoken.pattern ? tally.patterns : tally.everyday)++;
    std::vector<bool> sent(script.size(), false);
    QElapsedTimer clock;
    for (size_t at = 0; at < recording.audio.samples.size(); at += kBlock) {
        clock.start();
        const qsizetype count = std::min<qsizetype>(kBlock, recording.audio.samples.size() - at);
        const QList<cHeard> heard = recogniser.process(recording.audio.samples.data() + at, count);
        const double computeMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        for (const cHeard& utterance : heard) {
            const auto spoken = std::find_if(script.begin(), script.end(), [&](const Spoken& s) {
                return utterance.endSample > s.start && utterance.endSample <= s.next;
            });
            if (verbose)
                std::printf("  %s | %s | %d | %s | %.2f | %.3f | %.2f | %s\n",
                            qPrintable(recording.voice),
                            spoken == script.end() ? "(noise)" : qPrintable(spoken->phrase),
                            spoken != script.end() && spoken->pattern, qPrintable(utterance.words),
                            utterance.weakest, utterance.cover, utterance.framesPerPhone,
                            qPrintable(utterance.verdict));
            if (utterance.pattern.isEmpty())
                continue;
            if (spoken == script.end()) {
                ++tally.wrong;
                continue;
            }
            const size_t index = static_cast<size_t>(spoken - script.begin());
            if (!spoken->pattern)
                tally.everydaySent += sent[index] ? 0 : 1;
            else if (utterance.pattern != spoken->phrase)
                ++tally.wrong;
            else if (!sent[index])
                ++tally.patternsSent,
                    // Audio arrives in real time, so the utterance closed when its last block
                    // arrived; the decoding of that block comes on top.
                    tally.latencyMs.push_back(
                        static_cast<double>(utterance.endSample - spoken->speechEnd) * 1000.0 /
                            kRate +
                        computeMs);
            sent[index] = true;
        }
    }
    return tally;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QString model =
        qEnvironmentVariable("KORMIL_POCKETSPHINX_MODEL", "/usr/share/pocketsphinx/model/en-us");
    const bool verbose = app.arguments().contains(QStringLiteral("--verbose"));
    // Faster speech blurs words into each other: --rate=175, espeak-ng's own pace, shows how much.
    int wordsPerMinute = 150;
    QList<double> sensitivities;
    for (const QString& argument : app.arguments().mid(1))
        if (argument.startsWith(QStringLiteral("--rate=")))
            wordsPerMinute = argument.mid(7).toInt();
        else if (!argument.startsWith(u'-'))
            sensitivities << argument.toDouble();
    if (sensitivities.isEmpty())
        sensitivities << cRecogniser::kDefaultSensitivity;
    if (wordsPerMinute < 80 || wordsPerMinute > 450) {
        std::fprintf(stderr, "--rate takes 80 to 450 words a minute, as espeak-ng does\n");
        return 2;
    }

    const bool tuning = app.arguments().contains(QStringLiteral("--tune"));
    const Corpus& corpus = tuning ? kTuning : kMeasured;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    cRecogniser::showOnlyWarningsAndErrors();
    if (tuning)
        std::printf("(the voices and phrases for choosing the thresholds)\n");
    std::printf("(spoken at %d words a minute)\n", wordsPerMinute);
    for (const Table& table : corpus.tables) {
        std::vector<Recording> recordings;
        for (const QString& voice : corpus.voices)
            recordings.push_back(record(table, voice, wordsPerMinute));
        std::printf("-- %s\n%-20s %10s %10s %6s %8s %8s  %s\n", qPrintable(table.name), "voice",
                    "patterns", "everyday", "wrong", "p50 ms", "max ms", "sensitivity");
        for (const double sensitivity : sensitivities) {
            Tally all;
            for (const Recording& recording : recordings) {
                cRecogniser recogniser(model, sensitivity);
                if (!recogniser.error().isEmpty()) {
                    std::fprintf(stderr, "%s\n", qPrintable(recogniser.error()));
                    return 1;
                }
                recogniser.listenFor(cSpeakablePatterns(table.patterns, [&](const QString& word) {
                    return recogniser.phonesOf(word);
                }));
                const Tally tally = listen(recording, recogniser, verbose);
                print(recording.voice, tally, sensitivity);
                all.add(tally);
            }
            print(QStringLiteral("all voices"), all, sensitivity);
        }
    }
    return 0;
}
