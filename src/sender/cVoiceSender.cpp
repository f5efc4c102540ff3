#include "cVoiceSender.h"

#include <QDeadlineTimer>
#include <QThread>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

namespace {

constexpr int kTimeoutMs = 5000;
// Kormil listens again on its watchdog's next tick, once a second, after a recogniser has gone.
constexpr int kRetryForMs = 2000;
constexpr int kRetryPauseMs = 100;
// Long enough for Kormil to read one voice string before the next arrives.
constexpr int kPauseBetweenLinesMs = 300;

const QString kUsage = QStringLiteral(
    "usage: kormil-send [--host HOST] [--port PORT] TEXT...\n"
    "       kormil-send [--host HOST] [--port PORT] --lines\n"
    "Sends TEXT (the words joined by single blanks) to Kormil as one voice string, or, with\n"
    "--lines, each line of standard input as one voice string. Default: localhost, port 2011.\n");

} // namespace

cVoiceSender::cVoiceSender(QString host, quint16 port) : host_(std::move(host)), port_(port) {}

cVoiceSender::Outcome cVoiceSender::connectOnce()
{
    socket_ = std::make_unique<QTcpSocket>();
    socket_->connectToHost(host_, port_);
    if (socket_->waitForConnected(kTimeoutMs))
        return Outcome::Read;
    if (socket_->error() == QAbstractSocket::ConnectionRefusedError)
        return Outcome::Refused;
    error = QStringLiteral("cannot connect to %1 port %2: %3")
                .arg(host_)
                .arg(port_)
                .arg(socket_->errorString());
    return Outcome::Failed;
}

cVoiceSender::Outcome cVoiceSender::write(const QByteArray& bytes)
{
    socket_->write(bytes);
    while (socket_->bytesToWrite() > 0) {
        if (!socket_->waitForBytesWritten(kTimeoutMs))
            return socket_->state() == QAbstractSocket::ConnectedState ? Outcome::Failed
                                                                       : Outcome::NotRead;
    }
    return Outcome::Read;
}

cVoiceSender::Outcome cVoiceSender::awaitRead()
{
    const int fd = static_cast<int>(socket_->socketDescriptor());
    if (fd < 0 || ::shutdown(fd, SHUT_WR) != 0)
        return Outcome::NotRead;
    const QDeadlineTimer deadline(kTimeoutMs);
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(deadline.remainingTime()));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0) {
            error = QStringLiteral("Kormil at %1:%2 did not close the connection after the voice "
                                   "string; it may not have been read")
                        .arg(host_)
                        .arg(port_);
            return Outcome::Failed;
        }
        char byte;
        const ssize_t got = ::recv(fd, &byte, 1, 0);
        if (got == 0)
            return Outcome::Read;
        if (got < 0 && errno != EINTR && errno != EAGAIN)
            return Outcome::NotRead;
    }
}

bool cVoiceSender::report(Outcome outcome, const QString& notRead)
{
    if (outcome == Outcome::Refused || outcome == Outcome::NotRead)
        error = (outcome == Outcome::Refused || notRead.isEmpty()
                     ? QStringLiteral("Kormil at %1:%2 refuses connections: it is not running, or "
                                      "another recogniser is connected")
                     : notRead)
                    .arg(host_)
                    .arg(port_);
    return outcome == Outcome::Read;
}

bool cVoiceSender::sendOne(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    const QDeadlineTimer retryUntil(kRetryForMs);
    for (;;) {
        Outcome outcome = connectOnce();
        if (outcome == Outcome::Read)
            outcome = write(bytes);
        if (outcome == Outcome::Read)
            outcome = awaitRead();
        // Refused or reset unread: Kormil serves another recogniser, or has not yet listened
        // again after the last one. Nothing was read, so sending again runs nothing twice.
        if ((outcome != Outcome::Refused && outcome != Outcome::NotRead) || retryUntil.hasExpired())
            return report(outcome, {});
        QThread::msleep(kRetryPauseMs);
    }
}

bool cVoiceSender::sendLines(QTextStream& lines, int pauseMs)
{
    const QDeadlineTimer retryUntil(kRetryForMs);
    Outcome outcome = connectOnce();
    while (outcome == Outcome::Refused && !retryUntil.hasExpired()) {
        QThread::msleep(kRetryPauseMs);
        outcome = connectOnce();
    }
    bool first = true;
    QString line;
    while (outcome == Outcome::Read && lines.readLineInto(&line)) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        if (!first)
            QThread::msleep(static_cast<unsigned long>(pauseMs));
        first = false;
        outcome = write(line.toLocal8Bit());
    }
    if (outcome == Outcome::Read)
        outcome = awaitRead();
    return report(outcome, QStringLiteral("Kormil at %1:%2 closed the connection before it had "
                                          "read every line"));
}

int runVoiceSender(const QStringList& arguments, QTextStream& input, QTextStream& errors)
{
    QString host = QStringLiteral("localhost");
    quint16 port = 2011;
    bool lines = false;
    QStringList words;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if ((argument == QLatin1String("--host") || argument == QLatin1String("--port")) &&
            i + 1 < arguments.size()) {
            const QString value = arguments[++i];
            if (argument == QLatin1String("--host")) {
                host = value;
                continue;
            }
            bool isNumber = false;
            const uint number = value.toUInt(&isNumber);
            if (!isNumber || number == 0 || number > 65535) {
                errors << "kormil-send: not a TCP port: " << value << "\n" << kUsage;
                return 2;
            }
            port = static_cast<quint16>(number);
        } else if (argument == QLatin1String("--lines")) {
            lines = true;
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            errors << kUsage;
            return 2;
        } else {
            words << argument;
        }
    }
    if (lines == !words.isEmpty()) {
        errors << kUsage;
        return 2;
    }
    cVoiceSender sender(host, port);
    const bool sent =
        lines ? sender.sendLines(input, kPauseBetweenLinesMs) : sender.sendOne(words.join(u' '));
    if (!sent) {
        errors << "kormil-send: " << sender.error << "\n";
        return 1;
    }
    return 0;
}
