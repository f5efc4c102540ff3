#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

// A recogniser stand-in on loopback.
struct LoopbackPeer {
    QTcpSocket socket;

    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(5000);
    }

    // True when the system refused the connection, as it does while nobody listens.
    bool isRefusedBy(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        QSignalSpy errors(&socket, &QTcpSocket::errorOccurred);
        if (socket.waitForConnected(5000))
            return false;
        return socket.error() == QAbstractSocket::ConnectionRefusedError;
    }

    void send(const QByteArray& bytes)
    {
        socket.write(bytes);
        socket.waitForBytesWritten(5000);
    }
};

// A port that nobody listens on right now.
inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

// Runs the event loop until the condition holds, checking as soon as anything has happened:
// QTest's waits sleep between checks, which a thousand rounds cannot afford.
template <typename Condition> bool runEventsUntil(Condition condition, int milliseconds = 5000)
{
    const QDeadlineTimer deadline(milliseconds);
    QTimer wakeUp;
    wakeUp.start(10);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}
