#include "helpers/spoken_audio.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSaveFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

// kormil-pocketsphinx on a virtual microphone: a PulseAudio server of the test's own, whose only
// source is the monitor of a null sink into which one continuous recording is played, and a
// QTcpServer standing in for Kormil.
class tst_BridgeVoice : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void spokenPatterns_arriveOneByOne_everydaySpeechSendsNothing();
    void audioTrouble_isSaidClearly_data();
    void audioTrouble_isSaidClearly();

private:
    QProcessEnvironment audioEnvironment(const QString& runtimeDir) const;
    QProcess* startBridge(const QStringList& arguments, const QProcessEnvironment& environment);

    QTemporaryDir runtime_;
    bool pulseRunning_ = false;
    QString pulseFailure_;
    QTemporaryDir work_;
};

QProcessEnvironment tst_BridgeVoice::audioEnvironment(const QString& runtimeDir) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("PULSE_SERVER"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    environment.insert(QStringLiteral("HOME"), runtimeDir);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), runtimeDir);
    return environment;
}

QProcess* tst_BridgeVoice::startBridge(const QStringList& arguments,
                                       const QProcessEnvironment& environment)
{
    auto* bridge = new QProcess(this);
    bridge->setProcessEnvironment(environment);
    bridge->setProcessChannelMode(QProcess::SeparateChannels);
    bridge->start(QStringLiteral(BRIDGE_EXECUTABLE), arguments);
    return bridge;
}

void tst_BridgeVoice::initTestCase()
{
    QVERIFY(runtime_.isValid() && work_.isValid());
    if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty()) {
        pulseFailure_ = QStringLiteral("pulseaudio is not installed");
        return;
    }
    QProcess pulse;
    pulse.setProcessEnvironment(audioEnvironment(runtime_.path()));
    pulse.setProcessChannelMode(QProcess::MergedChannels);
    pulse.start(QStringLiteral("pulseaudio"),
                {"-n", "--daemonize=yes", "--exit-idle-time=-1", "--system=false",
                 "--disable-shm=yes", "-L", "module-native-protocol-unix", "-L",
                 "module-null-sink sink_name=microphone rate=16000 channels=1 format=s16le", "-L",
                 "module-always-sink"});
    pulse.waitForFinished(30000);
    pulseRunning_ = pulse.exitStatus() == QProcess::NormalExit && pulse.exitCode() == 0;
    if (!pulseRunning_)
        pulseFailure_ = QStringLiteral("PulseAudio cannot run here: ") +
                        QString::fromLocal8Bit(pulse.readAll()).trimmed();
}

void tst_BridgeVoice::cleanupTestCase()
{
    if (pulseRunning_) {
        QProcess pulse;
        pulse.setProcessEnvironment(audioEnvironment(runtime_.path()));
        pulse.start(QStringLiteral("pulseaudio"), {"--kill"});
        pulse.waitForFinished(10000);
    }
}

void tst_BridgeVoice::spokenPatterns_arriveOneByOne_everydaySpeechSendsNothing()
{
    if (!pulseRunning_)
        QSKIP(qPrintable(pulseFailure_));
    const QString settings = work_.filePath(QStringLiteral("kormil.ini"));
    auto writeSettings = [&](const QStringList& patterns) {
        // As Kormil saves: a new file renamed over the old one.
        QSaveFile file(settings);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[pairs]\n");
        for (qsizetype i = 0; i < patterns.size(); ++i)
            file.write(QStringLiteral("pattern%1=%2\ncommand%1=true\nfocus%1=1\n")
                           .arg(i)
                           .arg(patterns[i])
                           .toLocal8Bit());
        QVERIFY(file.commit());
    };
    writeSettings({"Open Mail", "play music"});

    struct Phrase {
        QString text;
        bool pattern;
        qint64 start = 0;
    };
    std::vector<Phrase> script = {{"open mail", true},
                                  {"what time is it", false},
                                  {"play music", true},
                                  {"lock the door", false},
                                  {"lock screen", true}};
    const QString voice = QStringLiteral("en-us");
    spoken_audio::Recording recording;
    recording.pause(5);
    for (Phrase& phrase : script) {
        const std::vector<qint16> speech = spoken_audio::speak(phrase.text, voice);
        QVERIFY2(!speech.empty(), "espeak-ng and sox make the recording");
        phrase.start = recording.say(speech) * 1000 / spoken_audio::kRate;
        recording.pause(4.5 - static_cast<double>(speech.size()) / spoken_audio::kRate);
    }
    const qint64 recordingEndMs =
        static_cast<qint64>(recording.samples.size()) * 1000 / spoken_audio::kRate;
    const QString wav = work_.filePath(QStringLiteral("spoken.wav"));
    QVERIFY(recording.write(wav));

    QTcpServer kormil;
    QVERIFY(kormil.listen(QHostAddress::LocalHost, 0));
    const QProcessEnvironment environment = audioEnvironment(runtime_.path());
    QProcess* bridge = startBridge({settings, "--host", "127.0.0.1", "--port",
                                    QString::number(kormil.serverPort()), "--verbose"},
                                   environment);
    QByteArray messages;
    connect(bridge, &QProcess::readyReadStandardError, this,
            [&] { messages += bridge->readAllStandardError(); });
    QTRY_VERIFY_WITH_TIMEOUT(messages.contains("listening to the audio source"), 30000);
    QVERIFY2(messages.contains("for 2 pattern(s)"), messages.constData());
    // Like Kormil: each voice string is one read, and a sender's close is answered with ours.
    QElapsedTimer clock;
    QList<QPair<QByteArray, qint64>> received;
    connect(&kormil, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket* peer = kormil.nextPendingConnection()) {
            connect(peer, &QTcpSocket::readyRead, this, [&, peer] {
                received.append({peer->readAll(), clock.elapsed()});
            });
            connect(peer, &QTcpSocket::readChannelFinished, peer, [peer] {
                peer->close();
                peer->deleteLater();
            });
        }
    });

    QProcess player;
    player.setProcessEnvironment(environment);
    player.start(QStringLiteral("paplay"), {"--device=microphone", wav});
    QVERIFY(player.waitForStarted());
    clock.start();

    // A pattern added while it listens is heard from then on.
    const qint64 addedAt = script[3].start + 500;
    QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() > addedAt, 30000);
    writeSettings({"Open Mail", "play music", "lock screen"});
    QTRY_VERIFY_WITH_TIMEOUT(messages.contains("listening for 3 patterns"), 10000);

    QTRY_VERIFY_WITH_TIMEOUT(player.state() == QProcess::NotRunning, 60000);
    // The last pattern, then half a second in which nothing more may follow; what was heard is
    // compared below.
    [[maybe_unused]] const bool allArrived = QTest::qWaitFor([&] { return received.size() >= 3; });
    QTest::qWait(500);
    bridge->terminate();
    QVERIFY(bridge->waitForFinished(10000));
    QCOMPARE(bridge->exitCode(), 0);

    QStringList heard;
    for (const auto& [text, atMs] : received)
        heard << QString::fromLocal8Bit(text);
    QVERIFY2(heard == (QStringList{"Open Mail", "play music", "lock screen"}),
             qPrintable(heard.join(u'|') + u'\n' + QString::fromLocal8Bit(messages)));
    // Each before the next phrase starts: nothing is held back until the recogniser ends.
    QVERIFY2(received[0].second < script[1].start, messages.constData());
    QVERIFY2(received[1].second < script[3].start, messages.constData());
    QVERIFY2(received[2].second < recordingEndMs, messages.constData());
}

void tst_BridgeVoice::audioTrouble_isSaidClearly_data()
{
    QTest::addColumn<bool>("withServer");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("no audio server")
        << false << QStringList{}
        << QStringLiteral("kormil-pocketsphinx: cannot reach the audio server: ");
    QTest::newRow("no such source")
        << true << QStringList{"--source", "nosuch"}
        << QStringLiteral("kormil-pocketsphinx: no audio source named nosuch: ");
}

void tst_BridgeVoice::audioTrouble_isSaidClearly()
{
    QFETCH(bool, withServer);
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    if (withServer && !pulseRunning_)
        QSKIP(qPrintable(pulseFailure_));
    QTemporaryDir noServer;
    QProcess* bridge =
        startBridge(QStringList{work_.filePath(QStringLiteral("kormil.ini"))} + arguments,
                    audioEnvironment(withServer ? runtime_.path() : noServer.path()));
    QVERIFY(bridge->waitForFinished(30000));
    const QString messages = QString::fromLocal8Bit(bridge->readAllStandardError());
    QVERIFY2(messages.contains(message), qPrintable(messages));
    QCOMPARE(bridge->exitCode(), 1);
}

QTEST_GUILESS_MAIN(tst_BridgeVoice)
#include "tst_bridge_voice.moc"
