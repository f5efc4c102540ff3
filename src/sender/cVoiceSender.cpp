#include "cVoiceSender.h"

#include <QThread>

namespace {

constexpr int kTimeoutMs = 5000;
// Long enough for Kormil to read one voice string before the next arrives.
constexpr int kPauseBetweenLinesMs = 300;

const QString kUsage = QStringLiteral(
    "usage: kormil-send [--host HOST] [--port PORT] TEXT...\n"
    "       kormil-send [--host HOST] [--port PORT] --lines\n"
    "Sends TEXT (the words joined by single blanks) to Kormil as one voice string, or, with\n"
    "--lines, each line of standard input as one voice string. Default: localhost, port 2011.\n");

} // namespace

bool cVoiceSender::connectTo(const QString& host, quint16 port)
{
    socket_.connectToHost(host, port);
    if (socket_.waitForConnected(kTimeoutMs))
        return true;
    error = QStringLiteral("cannot connect to %1 port %2: %3")
                .arg(host)
                .arg(port)
                .arg(socket_.errorString());
    return false;
}

bool cVoiceSender::send(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    socket_.write(bytes);
    while (socket_.bytesToWrite() > 0) {
        if (!socket_.waitForBytesWritten(kTimeoutMs)) {
            error = QStringLiteral("cannot send: %1").arg(socket_.errorString());
            return false;
        }
    }
    return true;
}

bool cVoiceSender::sendLines(QTextStream& lines, int pauseMs)
{
    bool first = true;
    QString line;
    while (lines.readLineInto(&line)) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        if (!first)
            QThread::msleep(static_cast<unsigned long>(pauseMs));
        first = false;
        if (!send(line))
            return false;
    }
    return true;
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
    cVoiceSender sender;
    const bool sent =
        sender.connectTo(host, port) &&
        (lines ? sender.sendLines(input, kPauseBetweenLinesMs) : sender.send(words.join(u' ')));
    if (!sent) {
        errors << "kormil-send: " << sender.error << "\n";
        return 1;
    }
    return 0;
}
