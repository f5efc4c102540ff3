#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTcpSocket>
#include <QTextStream>
#include <memory>

// What kormil-send does: sends voice strings to a running Kormil, as a recogniser would.
//
// Kormil never answers, and the system completes a connection on its behalf before Kormil has
// taken it: a second sender may write into a connection that Kormil resets unread. So the
// sender closes its side after writing and waits for Kormil's close: an orderly close means
// Kormil read every byte (a socket closed with unread bytes is reset instead).
class cVoiceSender {
public:
    enum class Outcome { Read, Refused, NotRead, Failed };

    cVoiceSender(QString host, quint16 port);

    // Sends the text as one voice string, without any line end, on a connection of its own.
    // A refused connection or one reset unread is tried again for up to two seconds.
    bool sendOne(const QString& text);
    // Sends each line of the stream, without its line end, as one voice string on one
    // connection, pausing between them so that two never arrive in one read. Empty lines are
    // skipped. Nothing is sent twice, so a connection reset midway is not tried again.
    bool sendLines(QTextStream& lines, int pauseMs);

    // Why the last send failed.
    QString error;

private:
    Outcome connectOnce();
    Outcome write(const QByteArray& bytes);
    // Closes our side and waits for Kormil to close its own.
    Outcome awaitRead();
    // Sets `error` for a refused or unread send; notRead, with %1 host and %2 port, replaces
    // the refusal text for one reset midway.
    bool report(Outcome outcome, const QString& notRead);

    QString host_;
    quint16 port_;
    std::unique_ptr<QTcpSocket> socket_;
};

// The command line: [--host H] [--port P] (--lines | TEXT...). Returns the exit status:
// 0 read by Kormil, 1 no connection or not read, 2 usage.
int runVoiceSender(const QStringList& arguments, QTextStream& input, QTextStream& errors);
