#include "LoopbackPeer.h"
#include "TestFiles.h"
#include "TestWindow.h"
#include "listener/cWinsock.h"

#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

// Leaves the process no free descriptor while it lives, as a system that ran out would.
class NoFreeDescriptors {
public:
    NoFreeDescriptors()
    {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        int highest = 0;
        const auto open = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files);
        for (const QString& name : open)
            highest = std::max(highest, name.toInt());
        rlimit lowered = saved_;
        lowered.rlim_cur = static_cast<rlim_t>(highest) + 1;
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd = ::dup(STDIN_FILENO); fd >= 0; fd = ::dup(STDIN_FILENO))
            taken_.push_back(fd);
    }
    ~NoFreeDescriptors()
    {
        for (const int fd : taken_)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &saved_);
    }

private:
    rlimit saved_{};
    std::vector<int> taken_;
};

QString lastLine(const frmMain& window)
{
    return window.lstLog->item(window.lstLog->count() - 1)->text();
}

QStringList linesAfter(const frmMain& window, int count)
{
    return TestWindow::rows(window.lstLog).mid(count);
}

QString startedLine(const frmMain& window, int port)
{
    return QStringLiteral("31/01/2005@09:05:07 Kormil started listening on ") +
           window.wckTCP->LocalIP() + QStringLiteral(" TCP ") + QString::number(port);
}

} // namespace

class tst_Listener : public QObject {
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom)); }
    void startUp_listensOnThePortBox();
    void allowList_refusesOtherPeers_data();
    void allowList_refusesOtherPeers();
    void listen_convertsThePortText_data();
    void listen_convertsThePortText();
    void listen_refusesABadPort_data();
    void listen_refusesABadPort();
    void stop_whileConnected_cutsThePeerAndRefusesOthers();
    void secondPeer_isRefusedWhileOneIsServed();
    void peerLeaves_watchdogListensAgainOnTheOldPort();
    void quickReconnect_isRefusedUntilTheNextTick();
    void silentPeer_isLeftAlone();
    void portTakenMeanwhile_isLoggedOnceAndRetried();
    void failedAccept_isASocketErrorThatTheWatchdogMends();
    void thousandShortConnections_eachServedAfterTheNextTick();
    void localIP_isDottedIPv4();
};

void tst_Listener::startUp_listensOnThePortBox()
{
    TestWindow test(QString{});
    const quint16 port = freePort();
    test.window.txtPort->setText(QString::number(port));
    test.window.Form_Load();
    QCOMPARE(test.window.cmdListen->text(), QStringLiteral("Stop"));
    QVERIFY(test.window.tmrWinsock->isActive());
    QCOMPARE(test.window.tmrWinsock->interval(), 1000);
    QCOMPARE(TestWindow::rows(test.window.lstLog),
             (QStringList{"31/01/2005@09:05:07 Kormil started", startedLine(test.window, port)}));
    LoopbackPeer peer;
    QVERIFY(peer.connectTo(port));
}

void tst_Listener::allowList_refusesOtherPeers_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("from");
    QTest::addColumn<bool>("admitted");
    QTest::addColumn<QStringList>("ignored");

    QTest::newRow("no allow key") << QByteArray("[listener]\nother=1\n") << "127.0.0.2" << true
                                  << QStringList{};
    QTest::newRow("one address, another peer")
        << QByteArray("[listener]\nallow=127.0.0.1\n") << "127.0.0.2" << false << QStringList{};
    QTest::newRow("one address, that peer")
        << QByteArray("[listener]\nallow=127.0.0.1\n") << "127.0.0.1" << true << QStringList{};
    QTest::newRow("ranges of both kinds")
        << QByteArray("[Listener]\nAllow=::1, 10.0.0.0/8 ,127.0.0.0/30\n") << "127.0.0.2" << true
        << QStringList{};
    QTest::newRow("IPv6 only") << QByteArray("[listener]\nallow=::1\n") << "127.0.0.1" << false
                               << QStringList{};
    QTest::newRow("a bad entry beside a good one")
        << QByteArray("[listener]\nallow=lan, 127.0.0.1, 127.0.0.0/33\n") << "127.0.0.2" << false
        << QStringList{"lan", "127.0.0.0/33"};
    QTest::newRow("nothing but bad entries admits nobody")
        << QByteArray("[listener]\nallow=*\n") << "127.0.0.1" << false << QStringList{"*"};
    QTest::newRow("a list cut by the file drops its last entry")
        << QByteArray("[listener]\nallow=") + QByteArray("10.0.0.1,").repeated(27) +
               QByteArray("127.0.0.0/24\n")
        << "127.0.0.2" << false << QStringList{"127.0.0.0/2"};
}

void tst_Listener::allowList_refusesOtherPeers()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, from);
    QFETCH(bool, admitted);
    QFETCH(QStringList, ignored);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kormil.ini"));
    putFile(path, "[pairs]\npattern0=go\ncommand0=true\nfocus0=1\n" + settings);
    TestWindow test(path);
    test.window.Form_Load();
    QStringList expected;
    for (const QString& entry : std::as_const(ignored))
        expected << QStringLiteral("31/01/2005@09:05:07 Ignored \"%1\" in [listener] allow= of "
                                   "%2: not an address or an address range")
                        .arg(entry, path);
    QCOMPARE(TestWindow::rows(test.window.lstLog).mid(1, ignored.size()), expected);

    LoopbackPeer peer;
    QVERIFY(peer.socket.bind(QHostAddress(from)));
    QVERIFY(peer.connectTo(static_cast<quint16>(test.window.wckTCP->LocalPort())));
    peer.send("go");
    const QString refused = QStringLiteral("31/01/2005@09:05:07 Refused connection from %1:%2 "
                                           "(not in allow)")
                                .arg(from)
                                .arg(peer.socket.localPort());
    if (admitted) {
        QTRY_COMPARE(test.shell->started.size(), 1);
        return;
    }
    QTRY_COMPARE(lastLine(test.window), refused);
    QTRY_COMPARE(peer.socket.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(test.window.wckTCP->State(), std::int16_t(cWinsock::sckClosing));
    test.window.tmrWinsock_Timer();
    QCOMPARE(test.window.wckTCP->State(), std::int16_t(cWinsock::sckListening));
    QVERIFY(test.shell->started.isEmpty());
}

void tst_Listener::listen_convertsThePortText_data()
{
    QTest::addColumn<QString>("format"); // %1 is a free port, %2 the port below it
    QTest::addColumn<bool>("usesPortBelow");
    QTest::newRow("plain") << "%1" << false;
    QTest::newRow("blanks around") << "  %1\t" << false;
    QTest::newRow("fraction rounds down") << "%1.4" << false;
    QTest::newRow("fraction rounds up") << "%2.6" << false;
    QTest::newRow("half goes to even") << "%2.5" << true;
}

void tst_Listener::listen_convertsThePortText()
{
    QFETCH(QString, format);
    QFETCH(bool, usesPortBelow);

    quint16 port = freePort();
    // A half goes to the even neighbour, so "%2.5" reaches only an even port; the system
    // tends to hand out odd ones.
    for (quint16 candidate = port & ~1u; usesPortBelow && port % 2 != 0; candidate -= 2) {
        QTcpServer probe;
        if (probe.listen(QHostAddress::Any, candidate))
            port = candidate;
    }
    TestWindow test(QString{});
    test.window.txtPort->setText(QString(format)
                                     .replace(QStringLiteral("%1"), QString::number(port))
                                     .replace(QStringLiteral("%2"), QString::number(port - 1)));
    test.window.cmdListen_Click();
    QCOMPARE(test.window.cmdListen->text(), QStringLiteral("Stop"));
    QCOMPARE(test.window.wckTCP->LocalPort(), int(port));
    QCOMPARE(lastLine(test.window), startedLine(test.window, port));
}

void tst_Listener::listen_refusesABadPort_data()
{
    QTest::addColumn<QString>("portText");
    QTest::newRow("empty") << "";
    QTest::newRow("letters") << "abc";
    QTest::newRow("beyond 32 bits") << "4294967296";
    QTest::newRow("beyond the port range") << "70000";
    QTest::newRow("negative") << "-1";
    QTest::newRow("in use") << "in use";
}

void tst_Listener::listen_refusesABadPort()
{
    QFETCH(QString, portText);
    QTcpServer occupier;
    if (portText == QLatin1String("in use")) {
        QVERIFY(occupier.listen(QHostAddress::Any, 0));
        portText = QString::number(occupier.serverPort());
    }
    TestWindow test(QString{});
    test.window.show();
    test.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&test.window));
    test.window.lstPattern->setFocus();
    test.window.txtPort->setText(portText);
    QTest::mouseClick(test.window.cmdListen, Qt::LeftButton);

    QCOMPARE(test.messages->shown.size(), 1);
    QCOMPARE(test.messages->shown[0].text,
             QStringLiteral("Please specify a TCP port that is valid and not in use"));
    QCOMPARE(test.messages->shown[0].title, QStringLiteral("Kormil"));
    QCOMPARE(test.messages->shown[0].buttons, cMessageBox::Buttons::Ok);
    QCOMPARE(test.window.cmdListen->text(), QStringLiteral("Listen"));
    QCOMPARE(test.window.lstLog->count(), 0);
    QCOMPARE(test.window.wckTCP->State(), std::int16_t(cWinsock::sckClosed));
    QVERIFY(!test.window.tmrWinsock->isActive());
    QCOMPARE(QApplication::focusWidget(), test.window.txtPort);
}

void tst_Listener::stop_whileConnected_cutsThePeerAndRefusesOthers()
{
    TestWindow test(QString{});
    test.window.cmdListen_Click();
    const auto port = static_cast<quint16>(test.window.wckTCP->LocalPort());
    LoopbackPeer peer;
    QVERIFY(peer.connectTo(port));
    QTRY_VERIFY(lastLine(test.window)
                    .endsWith(QStringLiteral("Connection from 127.0.0.1:%1 established")
                                  .arg(peer.socket.localPort())));

    QSignalSpy cut(&peer.socket, &QTcpSocket::disconnected);
    QTest::mouseClick(test.window.cmdListen, Qt::LeftButton);
    QVERIFY(cut.wait(5000));
    QVERIFY(lastLine(test.window).endsWith(QStringLiteral(" Kormil stopped listening")));
    QCOMPARE(test.window.cmdListen->text(), QStringLiteral("Listen"));
    QVERIFY(!test.window.tmrWinsock->isActive());
    LoopbackPeer later;
    QVERIFY(later.isRefusedBy(port));
}

void tst_Listener::secondPeer_isRefusedWhileOneIsServed()
{
    TestWindow test(QString{});
    test.window.cmdListen_Click();
    const auto port = static_cast<quint16>(test.window.wckTCP->LocalPort());
    LoopbackPeer first;
    QVERIFY(first.connectTo(port));
    QVERIFY(test.servesPeer());
    const int lines = test.window.lstLog->count();
    LoopbackPeer second;
    QVERIFY(second.isRefusedBy(port));
    QCoreApplication::processEvents();
    QCOMPARE(test.window.lstLog->count(), lines);
}

void tst_Listener::peerLeaves_watchdogListensAgainOnTheOldPort()
{
    TestWindow test(QString{});
    test.window.cmdListen_Click();
    const int port = test.window.wckTCP->LocalPort();
    test.window.txtPort->setText(QString::number(freePort()));
    {
        LoopbackPeer peer;
        QVERIFY(peer.connectTo(static_cast<quint16>(port)));
        QVERIFY(test.servesPeer());
        peer.socket.disconnectFromHost();
    }
    QTRY_COMPARE(test.window.wckTCP->State(), std::int16_t(cWinsock::sckClosing));
    const int lines = test.window.lstLog->count();
    test.window.tmrWinsock_Timer();
    QCOMPARE(linesAfter(test.window, lines),
             (QStringList{"31/01/2005@09:05:07 Restarting (client connetion lost)",
                          startedLine(test.window, port)}));
    QCOMPARE(test.window.cmdListen->text(), QStringLiteral("Stop"));
    LoopbackPeer again;
    QVERIFY(again.connectTo(static_cast<quint16>(port)));
}

void tst_Listener::quickReconnect_isRefusedUntilTheNextTick()
{
    TestWindow test(QString{});
    test.window.cmdListen_Click();
    const auto port = static_cast<quint16>(test.window.wckTCP->LocalPort());
    LoopbackPeer peer;
    QVERIFY(peer.connectTo(port));
    QVERIFY(test.servesPeer());
    peer.socket.disconnectFromHost();
    LoopbackPeer quick;
    QVERIFY(quick.isRefusedBy(port));
    QTRY_COMPARE(test.window.wckTCP->State(), std::int16_t(cWinsock::sckClosing));
    test.window.tmrWinsock_Timer();
    LoopbackPeer next;
    QVERIFY(next.connectTo(port));
}

void tst_Listener::silentPeer_isLeftAlone()
{
    TestWindow test(QString{});
    test.window.cmdListen_Click();
    LoopbackPeer peer;
    QVERIFY(peer.connectTo(static_cast<quint16>(test.window.wckTCP->LocalPort())));
    QVERIFY(test.servesPeer());
    const int lines = test.window.lstLog->count();
    for (int tick = 0; tick < 3; ++tick)
        test.window.tmrWinsock_Timer();
    QCOMPARE(test.window.lstLog->count(), lines);
    QCOMPARE(test.window.wckTCP->State(), std::int16_t(cWinsock::sckConnected));
}

void tst_Listener::portTakenMeanwhile_isLoggedOnceAndRetried()
{
    TestWindow test(QString{});
    test.window.cmdListen_Click();
    const int port = test.window.wckTCP->LocalPort();
    LoopbackPeer peer;
    QVERIFY(peer.connectTo(static_cast<quint16>(port)));
    QVERIFY(test.servesPeer());
    peer.socket.disconnectFromHost();
    QTRY_COMPARE(test.window.wckTCP->State(), std::int16_t(cWinsock::sckClosing));

    auto thief = std::make_unique<QTcpServer>();
    QVERIFY(thief->listen(QHostAddress::Any, static_cast<quint16>(port)));
    const int lines = test.window.lstLog->count();
    test.window.tmrWinsock_Timer();
    test.window.tmrWinsock_Timer();
    const QStringList logged = linesAfter(test.window, lines);
    QCOMPARE(logged.size(), 2);
    QVERIFY(logged[1].contains(QStringLiteral("Could not listen again on TCP %1").arg(port)));

    thief.reset();
    test.window.tmrWinsock_Timer();
    QCOMPARE(lastLine(test.window), startedLine(test.window, port));
    QCOMPARE(test.window.wckTCP->State(), std::int16_t(cWinsock::sckListening));
}

void tst_Listener::failedAccept_isASocketErrorThatTheWatchdogMends()
{
    TestWindow test(QString{});
    test.window.cmdListen_Click();
    const auto port = static_cast<quint16>(test.window.wckTCP->LocalPort());
    LoopbackPeer waiting; // connected in the system's backlog, not accepted yet
    QVERIFY(waiting.connectTo(port));
    {
        NoFreeDescriptors exhausted;
        QTRY_COMPARE(test.window.wckTCP->State(), std::int16_t(cWinsock::sckError));
    }
    const int lines = test.window.lstLog->count();
    test.window.tmrWinsock_Timer();
    QCOMPARE(linesAfter(test.window, lines),
             (QStringList{"31/01/2005@09:05:07 Restarting (socket state is error)",
                          startedLine(test.window, port)}));
    LoopbackPeer next;
    QVERIFY(next.connectTo(port));
    QVERIFY(test.servesPeer());
}

void tst_Listener::thousandShortConnections_eachServedAfterTheNextTick()
{
    TestWindow test(QString{});
    test.addPair(QStringLiteral("cycle"), QStringLiteral("true"), QStringLiteral("1"));
    test.window.cmdListen_Click();
    test.window.tmrWinsock->stop(); // the test ticks it
    const auto port = static_cast<quint16>(test.window.wckTCP->LocalPort());
    const auto descriptors = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
    const auto before = descriptors();
    constexpr int kCycles = 1000;
    for (int cycle = 1; cycle <= kCycles; ++cycle) {
        LoopbackPeer peer;
        QVERIFY(peer.connectTo(port));
        peer.send("cycle");
        peer.socket.disconnectFromHost();
        // Strings that come within a frame of each other reach the log on screen together.
        QVERIFY2(runEventsUntil([&] {
                     return test.shell->started.size() == cycle &&
                            test.window.wckTCP->State() == cWinsock::sckClosing &&
                            lastLine(test.window).endsWith(QStringLiteral(" Executing: true"));
                 }),
                 qPrintable(QStringLiteral("cycle %1 was not served").arg(cycle)));
        const int lines = test.window.lstLog->count();
        test.window.tmrWinsock_Timer();
        QCOMPARE(test.window.wckTCP->State(), std::int16_t(cWinsock::sckListening));
        QCOMPARE(linesAfter(test.window, lines).size(), 2);
    }
    QCOMPARE(lastLine(test.window), startedLine(test.window, port));
    QVERIFY(runEventsUntil([&] { return descriptors() == before; }));
}

void tst_Listener::localIP_isDottedIPv4()
{
    cWinsock socket;
    QHostAddress address;
    QVERIFY(address.setAddress(socket.LocalIP()));
    QCOMPARE(address.protocol(), QAbstractSocket::IPv4Protocol);
}

QTEST_MAIN(tst_Listener)
#include "tst_listener.moc"
