#include "cBridge.h"

#include "cPulseSource.h"
#include "cWavReader.h"
#include "speech_patterns.h"

#include <QFileInfo>

namespace {

// Changes to the file come in bursts (write, rename); one read after they settle.
constexpr int kSettleMs = 200;

} // namespace

cBridge::cBridge(const BridgeOptions& options, const QString& modelDir, QTextStream& messages,
                 QObject* parent)
    : QObject(parent), options_(options), messages_(messages),
      recogniser_(modelDir, options.sensitivity), sender_(options.host, options.port)
{
    settingsSettle_.setSingleShot(true);
    settingsSettle_.setInterval(kSettleMs);
    connect(&settingsSettle_, &QTimer::timeout, this, &cBridge::readSettings);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, &settingsSettle_,
            qOverload<>(&QTimer::start));
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, &settingsSettle_,
            qOverload<>(&QTimer::start));
}

cBridge::~cBridge() = default;

void cBridge::say(const QString& line)
{
    messages_ << "kormil-pocketsphinx: " << line << Qt::endl;
}

bool cBridge::start()
{
    if (!recogniser_.error().isEmpty()) {
        say(recogniser_.error());
        return false;
    }
    QString input;
    if (options_.inputFile.isEmpty()) {
        source_ = std::make_unique<cPulseSource>(options_.source);
        if (!source_->ok()) {
            say(source_->error());
            return false;
        }
        const cPulseSource::Description& source = source_->description();
        input = QStringLiteral("the audio source %1 (%2)").arg(source.name, source.description);
    } else {
        input = options_.inputFile;
    }

    watcher_.addPath(QFileInfo(options_.settingsPath).absolutePath());
    readSettings();
    say(QStringLiteral("listening to %1 for %2 pattern(s)").arg(input).arg(listenedFor_));
    if (source_ && source_->description().monitor)
        say(QStringLiteral("%1 hears what this computer plays, not a microphone; choose a "
                           "microphone with --source (pactl list short sources)")
                .arg(source_->description().name));

    if (!source_) {
        QTimer::singleShot(0, this, &cBridge::playRecording);
        return true;
    }
    connect(source_.get(), &cPulseSource::audio, this, &cBridge::hear);
    connect(source_.get(), &cPulseSource::failed, this, [this](const QString& reason) {
        say(reason);
        emit finished(1);
    });
    source_->start();
    return true;
}

void cBridge::playRecording()
{
    const cWavReader recording(options_.inputFile);
    if (!recording.error().isEmpty()) {
        say(recording.error());
        emit finished(1);
        return;
    }
    const QByteArray& samples = recording.samples();
    constexpr qsizetype kBlockBytes = 1600;
    for (qsizetype at = 0; at < samples.size(); at += kBlockBytes)
        hear(samples.mid(at, kBlockBytes));
    report(recogniser_.finish());
    emit finished(unsent_ == 0 ? 0 : 1);
}

void cBridge::stop()
{
    if (source_)
        source_->stop();
    report(recogniser_.finish());
}

void cBridge::readSettings()
{
    const QString& path = options_.settingsPath;
    if (!QFileInfo::exists(path)) {
        if (!waitingForFile_)
            say(settingsSeen_
                    ? QStringLiteral("%1 is gone; still listening for the patterns it held")
                          .arg(path)
                    : QStringLiteral("%1 does not exist yet; waiting for it (Kormil writes it "
                                     "when it first saves its pairs)")
                          .arg(path));
        waitingForFile_ = true;
        return;
    }
    waitingForFile_ = false;
    // A file replaced by a rename is a new file: watch it afresh.
    watcher_.addPath(path);
    const QStringList patterns = readSpeechPatterns(path);
    if (settingsSeen_ && patterns == patterns_)
        return;
    settingsSeen_ = true;
    patterns_ = patterns;
    const cSpeakablePatterns speakable(
        patterns, [this](const QString& word) { return recogniser_.phonesOf(word); });
    recogniser_.listenFor(speakable);
    listenedFor_ = speakable.phrases().size();
    say(QStringLiteral("%1: %2").arg(path, speakable.summary()));
}

void cBridge::hear(const QByteArray& samples)
{
    report(recogniser_.process(reinterpret_cast<const qint16*>(samples.constData()),
                               samples.size() / 2));
}

void cBridge::report(const QList<cHeard>& heard)
{
    for (const cHeard& utterance : heard) {
        if (!utterance.pattern.isEmpty())
            send(utterance.pattern);
        if (options_.verbose)
            say(QStringLiteral("heard \"%1\" (weakest word %2, --sensitivity %3 asks %4 or "
                               "more; cover %5, asks %6 or more): %7")
                    .arg(utterance.words)
                    .arg(utterance.weakest, 0, 'f', 1)
                    .arg(options_.sensitivity)
                    .arg(utterance.weakestNeeded, 0, 'f', 1)
                    .arg(utterance.cover, 0, 'f', 2)
                    .arg(utterance.coverNeeded, 0, 'f', 2)
                    .arg(utterance.verdict));
    }
}

void cBridge::send(const QString& pattern)
{
    // A connection of its own for each: a Kormil restarted meanwhile is found again.
    if (sender_.sendOne(pattern)) {
        if (kormilDown_)
            say(QStringLiteral("Kormil at %1:%2 reads voice strings again")
                    .arg(options_.host)
                    .arg(options_.port));
        kormilDown_ = false;
        return;
    }
    ++unsent_;
    if (!kormilDown_)
        say(QStringLiteral("not sent: \"%1\": %2; listening on, and sending again once Kormil "
                           "is back")
                .arg(pattern, sender_.error));
    else if (options_.verbose)
        say(QStringLiteral("not sent: \"%1\"").arg(pattern));
    kormilDown_ = true;
}
