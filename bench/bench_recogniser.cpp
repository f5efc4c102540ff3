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
// Voices and phrases marked "held out" took no part in choosing the thresholds.
namespace {

constexpr int kRate = spoken_audio::kRate;
constexpr int kBlock = kRate / 20; // what the audio source hands over at a time

const QStringList kTunedPatterns = {"open mail",    "play music", "lock screen",
                                    "close window", "volume up",  "next song"};
const QStringList kHeldOutPatterns = {"show desktop", "mute sound", "read email", "go back"};
const QStringList kTunedEveryday = {"open the mail box",     "play",
                                    "lock the door",         "what time is it",
                                    "good morning",          "turn the music down",
                                    "close the door please", "open the window"};
const QStringList kHeldOutEveryday = {"where is my phone", "the cat is hungry", "take a break",
                                      "show me the way",   "sound check",       "read it again"};

struct Voice {
    const char* name;
    bool heldOut;
};
const Voice kVoices[] = {{"en-us", false},
                         {"en-us+f2", false},
                         {"en-gb", true},
                         {"en-gb-scotland+f4", true},
                         {"en-029+m3", true}};

struct Spoken {
    QString phrase;
    bool pattern;
    bool heldOut;
    qint64 start = 0, speechEnd = 0, next = 0;
};

struct Recording {
    const Voice* voice;
    spoken_audio::Recording audio;
    std::vector<Spoken> script;
};

// The phrases in a shuffled order, each followed by 2.5 s of the noise floor alone.
Recording record(const Voice& voice)
{
    Recording recording{&voice, {}, {}};
    auto add = [&](const QStringList& phrases, bool pattern, bool heldOut) {
        for (const QString& phrase : phrases)
            recording.script.push_back({phrase, pattern, heldOut});
    };
    add(kTunedPatterns, true, false);
    add(kTunedEveryday, false, false);
    add(kHeldOutPatterns, true, true);
    add(kHeldOutEveryday, false, true);
    QRandomGenerator order(20);
    std::shuffle(recording.script.begin(), recording.script.end(), order);
    recording.audio.pause(5);
    for (Spoken& spoken : recording.script) {
        const std::vector<qint16> speech =
            spoken_audio::speak(spoken.phrase, QString::fromLatin1(voice.name));
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

void print(const char* voice, const char* phrases, const Tally& t, double sensitivity)
{
    std::printf("%-20s %-9s %5d/%-4d %5d/%-4d %6d %8.0f %8.0f  %.2f\n", voice, phrases,
                t.patternsSent, t.patterns, t.everydaySent, t.everyday, t.wrong,
                percentile(t.latencyMs, 0.5), percentile(t.latencyMs, 1.0), sensitivity);
}

// Feeds the recording block by block; returns the tallies of tuned and held-out phrases.
std::array<Tally, 2> listen(const Recording& recording, cRecogniser& recogniser, bool verbose)
{
    const std::vector<Spoken>& script = recording.script;
    std::array<Tally, 2> tally;
    for (const Spoken& spoken : script)
        (spoken.pattern ? tally[spoken.heldOut].patterns : tally[spoken.heldOut].everyday)++;
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
                std::printf("  %-24s heard \"%s\" %d: %s\n",
                            spoken == script.end() ? "(noise)" : qPrintable(spoken->phrase),
                            qPrintable(utterance.words), utterance.score,
                            qPrintable(utterance.verdict));
            if (utterance.pattern.isEmpty() || spoken == script.end())
                continue;
            const size_t index = static_cast<size_t>(spoken - script.begin());
            Tally& t = tally[spoken->heldOut];
            if (!spoken->pattern)
                ++t.everydaySent;
            else if (utterance.pattern != spoken->phrase)
                ++t.wrong;
            else if (!sent[index])
                ++t.patternsSent,
                    // Audio arrives in real time, so the utterance closed when its last block
                    // arrived; the decoding of that block comes on top.
                    t.latencyMs.push_back(
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
    QList<double> sensitivities;
    for (const QString& argument : app.arguments().mid(1))
        if (!argument.startsWith(u'-'))
            sensitivities << argument.toDouble();
    if (sensitivities.isEmpty())
        sensitivities << cRecogniser::kDefaultSensitivity;

    std::vector<Recording> recordings;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    cRecogniser::showOnlyWarningsAndErrors();
    for (const Voice& voice : kVoices)
        recordings.push_back(record(voice));

    std::printf("%-20s %-9s %10s %10s %6s %8s %8s  %s\n", "voice", "phrases", "patterns",
                "everyday", "wrong", "p50 ms", "max ms", "sensitivity");
    for (const double sensitivity : sensitivities) {
        std::array<Tally, 2> all;
        for (const Recording& recording : recordings) {
            cRecogniser recogniser(model, sensitivity);
            if (!recogniser.error().isEmpty()) {
                std::fprintf(stderr, "%s\n", qPrintable(recogniser.error()));
                return 1;
            }
            recogniser.listenFor(
                cSpeakablePatterns(kTunedPatterns + kHeldOutPatterns,
                                   [&](const QString& word) { return recogniser.phonesOf(word); }));
            const std::array<Tally, 2> tally = listen(recording, recogniser, verbose);
            for (int heldOut = 0; heldOut < 2; ++heldOut) {
                print(recording.voice->name, heldOut ? "held out" : "tuned", tally[heldOut],
                      sensitivity);
                all[recording.voice->heldOut || heldOut].add(tally[heldOut]);
            }
        }
        print("all voices", "tuned", all[0], sensitivity);
        print("all voices", "held out", all[1], sensitivity);
    }
    return 0;
}
