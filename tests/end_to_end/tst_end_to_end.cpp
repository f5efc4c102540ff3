#include "TestFiles.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr quint16 kDefaultPort = 2011;

} // namespace

// The built program, as a user runs it: its settings file beside it, a recogniser on loopback.
class tst_EndToEnd : public QObject {
    Q_OBJECT

private slots:
    void voiceString_runsThePairedCommand_andClosingSavesTheTable();
};

void tst_EndToEnd::voiceString_runsThePairedCommand_andClosingSavesTheTable()
{
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::Any, kDefaultPort))
            QSKIP("TCP port 2011, which the program listens on at start, is in use here");
    }
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("kormil"));
    QVERIFY(QFile::copy(QStringLiteral(KORMIL_EXECUTABLE), program));
    const QString created = dir.filePath(QStringLiteral("created"));
    const QString settings = dir.filePath(QStringLiteral("kormil.ini"));
    {
        QFile ini(settings);
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[pairs]\npattern0=create the file\ncommand0=touch '" + created.toLocal8Bit() +
                  "'\nfocus0=1\npattern2=second\ncommand2=true\nfocus2=0\n");
    }

    QProcess kormil;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    kormil.setProcessEnvironment(environment);
    kormil.start(program, {});
    QVERIFY(kormil.waitForStarted());

    QTcpSocket recogniser;
    QVERIFY(QTest::qWaitFor(
        [&] {
            recogniser.abort();
            recogniser.connectToHost(QHostAddress::LocalHost, kDefaultPort);
            return recogniser.waitForConnected(200);
        },
        15000));
    recogniser.write("create the file");
    QVERIFY(recogniser.waitForBytesWritten(5000));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(created), 15000);

    kormil.terminate(); // SIGTERM: closes the window as its close button does
    QVERIFY(kormil.waitForFinished(15000));
    QCOMPARE(kormil.exitStatus(), QProcess::NormalExit);
    QCOMPARE(kormil.exitCode(), 0);

    const QByteArray log = kormil.readAllStandardError();
    QVERIFY2(log.contains(" Kormil started listening on "), log.constData());
    QVERIFY2(log.contains(" Received voice string: create the file\n"), log.constData());
    QVERIFY2(log.contains(" Executing: touch '" + created.toLocal8Bit() + "'\n"), log.constData());
    QCOMPARE(fileBytes(settings), "[pairs]\npattern0=create the file\ncommand0=touch '" +
                                      created.toLocal8Bit() +
                                      "'\nfocus0=1\npattern1=second\ncommand1=true\nfocus1=0\n");
}

QTEST_GUILESS_MAIN(tst_EndToEnd)
#include "tst_end_to_end.moc"
