#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTcpSocket>
#include <QTextStream>

// What kormil-send does: sends voice strings to a running Kormil, as a recogniser would.
class cVoiceSender {
public:
    // Connects to the host and port; false, with `error` set, when that fails.
    bool connectTo(const QString& host, quint16 port);
    // Sends the text as one voice string, without any line end.
    bool send(const QString& text);
    // Sends each line of the stream, without its line end, as one voice string, pausing between
    // them so that two never arrive in one read. Empty lines are skipped.
    bool sendLines(QTextStream& lines, int pauseMs);

    QString error;

private:
    QTcpSocket socket_;
};

// The command line: [--host H] [--port P] (--lines | TEXT...). Returns the exit status:
// 0 sent, 1 no connection or a failed send, 2 usage.
int runVoiceSender(const QStringList& arguments, QTextStream& input, QTextStream& errors);
