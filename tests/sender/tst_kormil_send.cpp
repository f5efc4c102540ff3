#include "sender/cVoiceSender.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

class tst_KormilSend : public QObject {
    Q_OBJECT

private slots:
    void words_areSentAsOneVoiceString_data();
    void words_areSentAsOneVoiceString();
    void badUse_isReported_data();
    void badUse_isReported();
    void refusedConnection_isReported();
    void lines_areSentOneReadEach();
};

void tst_KormilSend::words_areSentAsOneVoiceString_data()
{
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("one word") << QStringList{"go"} << QByteArray("go");
    QTest::newRow("words joined by single blanks")
        << QStringList{"open", "the", "mail"} << QByteArray("open the mail");
    QTest::newRow("blanks inside a word kept") << QStringList{" a ", "b"} << QByteArray(" a  b");
    QTest::newRow("not ASCII") << QStringList{"grüße"}
                               << QByteArray("gr\xC3\xBC\xC3\x9F"
                                             "e");
}

void tst_KormilSend::words_areSentAsOneVoiceString()
{
    QFETCH(QStringList, words);
    QFETCH(QByteArray, sent);

    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QProcess sender;
    sender.start(
        QStringLiteral(KORMIL_SEND_EXECUTABLE),
        QStringList{"--host", "127.0.0.1", "--port", QString::number(server.serverPort())} + words);
    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket* peer = server.nextPendingConnection();
    QByteArray received;
    QTRY_VERIFY((received += peer->readAll(), peer->state() != QAbstractSocket::ConnectedState));
    received += peer->readAll();
    QCOMPARE(received, sent);
    QTRY_COMPARE(sender.state(), QProcess::NotRunning);
    QCOMPARE(sender.exitCode(), 0);
}

void tst_KormilSend::badUse_isReported_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("nothing to send") << QStringList{};
    QTest::newRow("text and --lines") << QStringList{"--lines", "go"};
    QTest::newRow("port not a number") << QStringList{"--port", "x", "go"};
    QTest::newRow("port out of range") << QStringList{"--port", "70000", "go"};
}

void tst_KormilSend::badUse_isReported()
{
    QFETCH(QStringList, arguments);
    QByteArray input;
    QString messages;
    QTextStream in(&input), errors(&messages);
    QCOMPARE(runVoiceSender(arguments, in, errors), 2);
    QVERIFY(messages.contains(QStringLiteral("usage: kormil-send")));
}

void tst_KormilSend::refusedConnection_isReported()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const QString port = QString::number(probe.serverPort());
    probe.close();
    QByteArray input;
    QString messages;
    QTextStream in(&input), errors(&messages);
    QCOMPARE(runVoiceSender({"--host", "127.0.0.1", "--port", port, "go"}, in, errors), 1);
    QCOMPARE(messages, QStringLiteral("kormil-send: Kormil at 127.0.0.1:") + port +
                           QStringLiteral(" refuses connections: it is not running, or another "
                                          "recogniser is connected\n"));
}

void tst_KormilSend::lines_areSentOneReadEach()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QProcess sender;
    sender.start(
        QStringLiteral(KORMIL_SEND_EXECUTABLE),
        {"--port", QString::number(server.serverPort()), "--host", "127.0.0.1", "--lines"});
    QVERIFY(sender.waitForStarted());
    sender.write("open mail\r\n\nplay music\nlast without end");
    sender.closeWriteChannel();

    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket* peer = server.nextPendingConnection();
    QList<QByteArray> reads;
    connect(peer, &QTcpSocket::readyRead, this, [&] { reads << peer->readAll(); });
    QTRY_COMPARE_WITH_TIMEOUT(
        reads, (QList<QByteArray>{"open mail", "play music", "last without end"}), 10000);
    QTRY_COMPARE(sender.state(), QProcess::NotRunning);
    QCOMPARE(sender.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_KormilSend)
#include "tst_kormil_send.moc"
