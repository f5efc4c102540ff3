#include "helpers/spoken_audio.h"
#include "recogniser_bridge/bridge_options.h"
#include "recogniser_bridge/cRecogniser.h"
#include "recogniser_bridge/cSpeakablePatterns.h"
#include "recogniser_bridge/cWavReader.h"
#include "recogniser_bridge/speech_patterns.h"

#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <memory>

class tst_BridgeParts : public QObject {
    Q_OBJECT

private slots:
    void options_areParsed_data();
    void options_areParsed();
    void sensitivity_raisedAsksMore_data();
    void sensitivity_raisedAsksMore();
    void cover_forgivesABreathAtTheEndsOnly_data();
    void cover_forgivesABreathAtTheEndsOnly();
    void checkedUtterance_isSentOrSaysWhyNot_data();
    void checkedUtterance_isSentOrSaysWhyNot();
    void patterns_areSpeakableOrLeftOutWithReason_data();
    void patterns_areSpeakableOrLeftOutWithReason();
    void wavFormat_isTakenOrNamed_data();
    void wavFormat_isTakenOrNamed();
    void settingsFile_yieldsThePatternsKormilLoads_data();
    void settingsFile_yieldsThePatternsKormilLoads();
    void utterance_sendsOnlyAPatternSaidAlone_data();
    void utterance_sendsOnlyAPatternSaidAlone();

private:
    std::unique_ptr<cRecogniser> recogniser_; // loaded once: the model takes a while
};

void tst_BridgeParts::options_areParsed_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");  // empty: parsed
    QTest::addColumn<QString>("parsed"); // settings|input|source|host|port|sensitivity|verbose
    QTest::newRow("settings only") << QStringList{"k.ini"} << ""
                                   << "k.ini|||localhost|2011|0.5|0";
    QTest::newRow("everything") << QStringList{"--verbose", "k.ini", "--infile",      "a.wav",
                                               "--source",  "mic",   "--host",        "h",
                                               "--port",    "2012",  "--sensitivity", "0.8"}
                                << ""
                                << "k.ini|a.wav|mic|h|2012|0.8|1";
    QTest::newRow("no settings file") << QStringList{"--port", "2012"} << "which settings file?"
                                      << "";
    QTest::newRow("two settings files")
        << QStringList{"a.ini", "b.ini"} << "one settings file only: b.ini"
        << "";
    QTest::newRow("option without value")
        << QStringList{"k.ini", "--source"} << "--source needs a value"
        << "";
    QTest::newRow("port out of range")
        << QStringList{"k.ini", "--port", "65536"} << "not a TCP port: 65536"
        << "";
    QTest::newRow("sensitivity above 1")
        << QStringList{"k.ini", "--sensitivity", "1.5"} << "the sensitivity runs from 0 to 1: 1.5"
        << "";
    QTest::newRow("sensitivity not a number")
        << QStringList{"k.ini", "--sensitivity", "high"} << "the sensitivity runs from 0 to 1: high"
        << "";
    QTest::newRow("unknown option")
        << QStringList{"k.ini", "--lines", "x"} << "unknown option: --lines"
        << "";
}

void tst_BridgeParts::options_areParsed()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QFETCH(QString, parsed);
    QString message;
    const std::optional<BridgeOptions> options = parseBridgeOptions(arguments, message);
    QCOMPARE(message, error);
    QCOMPARE(options.has_value(), error.isEmpty());
    if (options)
        QCOMPARE(
            QStringList({options->settingsPath, options->inputFile, options->source, options->host,
                         QString::number(options->port), QString::number(options->sensitivity),
                         QString::number(options->verbose)})
                .join(u'|'),
            parsed);
}

void tst_BridgeParts::sensitivity_raisedAsksMore_data()
{
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("higher");
    QTest::newRow("from 0") << 0.0 << 0.25;
    QTest::newRow("at the default") << 0.5 << 0.75;
    QTest::newRow("to 1") << 0.75 << 1.0;
}

// A user told that false triggers call for a higher sensitivity must get a stricter bridge.
void tst_BridgeParts::sensitivity_raisedAsksMore()
{
    QFETCH(double, lower);
    QFETCH(double, higher);
    QVERIFY(cRecogniser::weakestWordAllowed(higher) > cRecogniser::weakestWordAllowed(lower));
    QVERIFY(cRecogniser::minimumCover(higher) > cRecogniser::minimumCover(lower));
}

void tst_BridgeParts::cover_forgivesABreathAtTheEndsOnly_data()
{
    // Frames 100-139 and 150-189 hold the pattern's two words; the free phones' speech is given
    // as start-end pairs.
    QTest::addColumn<QList<int>>("phones");
    QTest::addColumn<double>("cover");
    QTest::newRow("the words alone") << QList<int>{100, 139, 150, 189} << 80.0 / 80;
    QTest::newRow("a breath after") << QList<int>{100, 139, 150, 197} << 88.0 / 88;
    QTest::newRow("a breath before and after") << QList<int>{92, 139, 150, 199} << 98.0 / 98;
    QTest::newRow("a word after") << QList<int>{100, 139, 150, 189, 195, 234} << 90.0 / 120;
    QTest::newRow("a word between") << QList<int>{100, 189} << 80.0 / 90;
    QTest::newRow("no speech") << QList<int>{} << 0.0;
}

// "read email" with a breath behind it must still be sent; "stop the music now" must not.
void tst_BridgeParts::cover_forgivesABreathAtTheEndsOnly()
{
    QFETCH(QList<int>, phones);
    QFETCH(double, cover);
    const std::vector<cSegment> pattern = {{0, 99, 0, false, 0},
                                           {100, 139, 0, true, 4},
                                           {140, 149, 0, false, 0},
                                           {150, 189, 0, true, 3},
                                           {190, 250, 0, false, 0}};
    std::vector<cSegment> free;
    for (qsizetype i = 0; i + 1 < phones.size(); i += 2)
        free.push_back({phones[i], phones[i + 1], 0, true, 1});
    free.push_back({251, 260, 0, false, 0});
    QCOMPARE(speechCovered(pattern, free), cover);
}

void tst_BridgeParts::checkedUtterance_isSentOrSaysWhyNot_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<double>("weakest");
    QTest::addColumn<double>("cover");
    QTest::addColumn<double>("framesPerPhone");
    QTest::addColumn<double>("sensitivity");
    QTest::addColumn<QString>("why"); // empty: sent
    QTest::newRow("clear") << "open mail" << 5.0 << 0.95 << 10.0 << 0.5 << "";
    QTest::newRow("no pattern") << "" << 0.0 << 0.0 << 0.0 << 0.5 << "no pattern fits";
    QTest::newRow("a word squeezed in")
        << "page up" << 5.0 << 1.0 << 3.0 << 0.0
        << "not sent: a word of it went by too fast to have been said (30 ms a sound, under 70)";
    QTest::newRow("more words hurried into a pattern")
        << "play music" << 1.0 << 0.89 << 6.0 << 0.5
        << "not sent: a word of it went by too fast to have been said (60 ms a sound, under 70)";
    QTest::newRow("a word far off") << "open mail" << -30.0 << 0.95 << 10.0 << 0.0
                                    << "not sent: a word of it sounds unlike the pattern";
    QTest::newRow("more said") << "open mail" << 5.0 << 0.6 << 10.0 << 0.0
                               << "not sent: more was said than the pattern";
    QTest::newRow("unclear, when the bridge need not be sure")
        << "open mail" << -12.0 << 0.9 << 10.0 << 0.0 << "";
    QTest::newRow("unclear, when it must be sure")
        << "open mail" << -12.0 << 0.9 << 10.0 << 1.0
        << "not sent: a word of it sounds unlike the pattern";
}

void tst_BridgeParts::checkedUtterance_isSentOrSaysWhyNot()
{
    QFETCH(QString, words);
    QFETCH(double, weakest);
    QFETCH(double, cover);
    QFETCH(double, framesPerPhone);
    QFETCH(double, sensitivity);
    QFETCH(QString, why);
    cUtteranceCheck::Result result;
    result.words = words;
    result.weakestWord = weakest;
    result.cover = cover;
    result.framesPerPhone = framesPerPhone;
    QCOMPARE(cRecogniser::whyNotSent(result, sensitivity), why);
}

void tst_BridgeParts::patterns_areSpeakableOrLeftOutWithReason_data()
{
    QTest::addColumn<QStringList>("patterns");
    QTest::addColumn<QStringList>("spoken"); // pattern=spoken/phones
    QTest::addColumn<QString>("summary");
    QTest::newRow("case and blanks")
        << QStringList{"Open  Mail ", "play music"}
        << QStringList{"Open  Mail =open mail/6", "play music=play music/6"}
        << "listening for 2 patterns";
    QTest::newRow("empty skipped, one pattern")
        << QStringList{"", "  ", "play"} << QStringList{"play=play/3"} << "listening for 1 pattern";
    QTest::newRow("apostrophe") << QStringList{"don't"} << QStringList{"don't=don't/3"}
                                << "listening for 1 pattern";
    QTest::newRow("digits and signs")
        << QStringList{"volume 5", "play!"} << QStringList{}
        << "listening for 0 patterns; left out \"volume 5\" (not speakable: only letters, "
           "apostrophes and blanks can be spoken); left out \"play!\" (not speakable: only "
           "letters, apostrophes and blanks can be spoken)";
    QTest::newRow("unknown words named once")
        << QStringList{"zorg the zorg", "play"} << QStringList{"play=play/3"}
        << "listening for 1 pattern; left out \"zorg the zorg\" (not in the dictionary: zorg)";
    QTest::newRow("same words twice: the first row wins")
        << QStringList{"play music", "Play Music"} << QStringList{"play music=play music/6"}
        << "listening for 1 pattern; left out \"Play Music\" (spoken as \"play music\" "
           "already)";
}

void tst_BridgeParts::patterns_areSpeakableOrLeftOutWithReason()
{
    QFETCH(QStringList, patterns);
    QFETCH(QStringList, spoken);
    QFETCH(QString, summary);
    const QStringList dictionary = {"open", "mail", "play", "music", "the", "don't"};
    const cSpeakablePatterns speakable(
        patterns, [&](const QString& word) { return dictionary.contains(word) ? 3 : 0; });
    QStringList phrases;
    for (const cSpeakablePatterns::Phrase& phrase : speakable.phrases())
        phrases << QStringLiteral("%1=%2/%3").arg(phrase.pattern, phrase.spoken).arg(phrase.phones);
    QCOMPARE(phrases, spoken);
    QCOMPARE(speakable.summary(), summary);
    for (const cSpeakablePatterns::Phrase& phrase : speakable.phrases())
        QCOMPARE(speakable.patternFor(phrase.spoken), phrase.pattern);
}

namespace {

QByteArray wav(quint16 encoding, quint16 channels, quint32 rate, quint16 bits,
               const QByteArray& data, bool oddChunkFirst = false)
{
    QByteArray fmt(16, '\0');
    qToLittleEndian(encoding, fmt.data());
    qToLittleEndian(channels, fmt.data() + 2);
    qToLittleEndian(rate, fmt.data() + 4);
    qToLittleEndian(rate * channels * bits / 8, fmt.data() + 8);
    qToLittleEndian<quint16>(channels * bits / 8, fmt.data() + 12);
    qToLittleEndian(bits, fmt.data() + 14);
    auto chunk = [](const char* id, const QByteArray& body) {
        QByteArray bytes(id, 4);
        bytes.append(4, '\0');
        qToLittleEndian(static_cast<quint32>(body.size()), bytes.data() + 4);
        return bytes + body + (body.size() % 2 ? QByteArray(1, '\0') : QByteArray());
    };
    QByteArray body = "WAVE";
    if (oddChunkFirst)
        body += chunk("LIST", "abc");
    body += chunk("fmt ", fmt) + chunk("data", data);
    QByteArray file = "RIFF" + QByteArray(4, '\0') + body;
    qToLittleEndian(static_cast<quint32>(body.size()), file.data() + 4);
    return file;
}

} // namespace

void tst_BridgeParts::wavFormat_isTakenOrNamed_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("format"); // empty: taken
    QTest::addColumn<QByteArray>("samples");
    const QByteArray data("\x01\x02\x03\x04", 4);
    QTest::newRow("16 kHz mono 16-bit") << wav(1, 1, 16000, 16, data) << "" << data;
    QTest::newRow("after an odd-sized chunk") << wav(1, 1, 16000, 16, data, true) << "" << data;
    QTest::newRow("stereo") << wav(1, 2, 16000, 16, data) << "16000 Hz, 2 channel(s), 16-bit"
                            << QByteArray();
    QTest::newRow("44.1 kHz") << wav(1, 1, 44100, 16, data) << "44100 Hz, 1 channel(s), 16-bit"
                              << QByteArray();
    QTest::newRow("8-bit") << wav(1, 1, 16000, 8, data) << "16000 Hz, 1 channel(s), 8-bit"
                           << QByteArray();
    QTest::newRow("floating point")
        << wav(3, 1, 16000, 16, data) << "16000 Hz, 1 channel(s), 16-bit, not plain PCM"
        << QByteArray();
    QTest::newRow("not a WAV file")
        << QByteArray("hello, this is text") << "not a WAV file" << QByteArray();
    QTest::newRow("cut before the samples")
        << wav(1, 1, 16000, 16, data).left(36) << "a WAV file without samples" << QByteArray();
}

void tst_BridgeParts::wavFormat_isTakenOrNamed()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, format);
    QFETCH(QByteArray, samples);
    QByteArray read;
    QCOMPARE(cWavReader::describe(file, &read), format);
    QCOMPARE(read, samples);
}

void tst_BridgeParts::settingsFile_yieldsThePatternsKormilLoads_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("patterns");
    QTest::newRow("as Kormil writes it")
        << QByteArray("[pairs]\npattern0=open mail\ncommand0=a\nfocus0=1\n"
                      "pattern1=play music\ncommand1=b\nfocus1=1\n")
        << QStringList{"open mail", "play music"};
    QTest::newRow("the store's quote, blank and case rules")
        << QByteArray("[other]\npattern0=not this\n[ PAIRS ]\n PATTERN0 = \"open mail\" \n"
                      "command0=a\nfocus0=1\npattern1='  spaced '\ncommand1=b\nfocus1=1\n")
        << QStringList{"open mail", "  spaced "};
    QTest::newRow("an empty pattern skipped")
        << QByteArray("[pairs]\npattern0=\ncommand0=a\nfocus0=1\npattern1=go\ncommand1=b\n"
                      "focus1=1\n")
        << QStringList{"go"};
    QTest::newRow("every row up to the highest pattern, gaps and all")
        << QByteArray("[pairs]\npattern0=one\npattern10=ten\npattern07=no row\n")
        << QStringList{"one", "ten"};
    QTest::newRow("no section") << QByteArray("[other]\nx=1\n") << QStringList{};
}

void tst_BridgeParts::settingsFile_yieldsThePatternsKormilLoads()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, patterns);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("kormil.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(ini);
    file.close();
    QCOMPARE(readSpeechPatterns(file.fileName()), patterns);
}

void tst_BridgeParts::utterance_sendsOnlyAPatternSaidAlone_data()
{
    QTest::addColumn<QString>("said");
    QTest::addColumn<QString>("sent"); // empty: nothing
    QTest::addColumn<int>("noiseFloor");
    QTest::addColumn<QString>("voice");
    const int room = spoken_audio::kNoiseAmplitude;
    const QString us = QStringLiteral("en-us");
    QTest::newRow("pattern") << "open mail"
                             << "Open Mail" << room << us;
    QTest::newRow("other pattern") << "play music"
                                   << "play music" << room << us;
    QTest::newRow("pattern among other words") << "open the mail box"
                                               << "" << room << us;
    QTest::newRow("first word of a pattern") << "play"
                                             << "" << room << us;
    QTest::newRow("near miss") << "lock the door"
                               << "" << room << us;
    QTest::newRow("everyday phrase") << "what time is it"
                                     << "" << room << us;
    QTest::newRow("pattern in digital silence") << "play music"
                                                << "play music" << 0 << us;
    QTest::newRow("near miss in digital silence") << "lock the door"
                                                  << "" << 0 << us;
    // Free phones fit an accent's vowels better than any word does; that must not cost the
    // patterns said in one.
    QTest::newRow("pattern in an accent")
        << "scroll down"
        << "scroll down" << room << QStringLiteral("en-gb-x-rp+m4");
}

void tst_BridgeParts::utterance_sendsOnlyAPatternSaidAlone()
{
    QFETCH(QString, said);
    QFETCH(QString, sent);
    QFETCH(int, noiseFloor);
    QFETCH(QString, voice);
    const std::vector<qint16> speech = spoken_audio::speak(said, voice);
    if (speech.empty())
        QSKIP("espeak-ng and sox make the recording");
    if (!recogniser_) {
        recogniser_ =
            std::make_unique<cRecogniser>(QStringLiteral("/usr/share/pocketsphinx/model/en-us"));
        recogniser_->listenFor(cSpeakablePatterns(
            {"Open Mail", "play music", "lock screen", "scroll down"},
            [this](const QString& word) { return recogniser_->phonesOf(word); }));
    }
    if (!recogniser_->error().isEmpty())
        QSKIP(qPrintable(recogniser_->error() + QStringLiteral(" (pocketsphinx-en-us)")));
    spoken_audio::Recording recording(noiseFloor);
    recording.pause(1.5);
    recording.say(speech);
    recording.pause(1.5);
    // In blocks as the audio source hands them over; the quiet after the phrase ends it.
    QList<cHeard> utterances;
    constexpr size_t kBlock = spoken_audio::kRate / 20;
    for (size_t at = 0; at < recording.samples.size(); at += kBlock)
        utterances += recogniser_->process(
            recording.samples.data() + at,
            static_cast<qsizetype>(std::min(kBlock, recording.samples.size() - at)));
    QStringList heard;
    for (const cHeard& utterance : utterances)
        if (!utterance.pattern.isEmpty())
            heard << utterance.pattern;
    QCOMPARE(heard, sent.isEmpty() ? QStringList() : QStringList{sent});
}

QTEST_GUILESS_MAIN(tst_BridgeParts)
#include "tst_bridge_parts.moc"
