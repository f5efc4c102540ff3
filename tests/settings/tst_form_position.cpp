#include "FakeWindow.h"
#include "TestFiles.h"
#include "main_window/cWidgetWindow.h"
#include "settings/cIniFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

namespace {

} // namespace

class tst_FormPosition : public QObject {
    Q_OBJECT

private slots:
    void init();
    void save_data();
    void save();
    void load_data();
    void load();
    void load_onANarrowScreen_doesNotMoveButMaximises();
    void lackingMember_failsQuietly_data();
    void lackingMember_failsQuietly();
    void qtWindow_roundTrip();

private:
    cIniFile iniWithCaller() const
    {
        cIniFile ini;
        ini.setPath(path());
        ini.setSection(QStringLiteral("frmMain"));
        ini.setKey(QStringLiteral("caller's key"));
        ini.setDefault(QStringLiteral("caller's default"));
        return ini;
    }
    QString path() const { return dir_->filePath(QStringLiteral("k.ini")); }
    std::unique_ptr<QTemporaryDir> dir_;
};

void tst_FormPosition::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
}

void tst_FormPosition::save_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QByteArray>("after");

    const QByteArray before = "[frmMain]\nLeft=1\nTop=2\nWidth=3\nHeight=4\n";
    QTest::newRow("minimised writes nothing") << 1 << before;
    QTest::newRow("maximised writes only Maximised")
        << 2 << QByteArray("[frmMain]\nLeft=1\nTop=2\nWidth=3\nHeight=4\nMaximised=1\n");
    QTest::newRow("normal writes all, in order")
        << 0 << QByteArray("[frmMain]\nLeft=1200\nTop=900\nWidth=6000\nHeight=4000\nMaximised=0\n");
}

void tst_FormPosition::save()
{
    QFETCH(int, state);
    QFETCH(QByteArray, after);

    putFile(path(), "[frmMain]\nLeft=1\nTop=2\nWidth=3\nHeight=4\n");
    FakeWindow window;
    window.state = static_cast<std::int16_t>(state);
    cIniFile ini = iniWithCaller();
    ini.SaveFormPosition(window);
    QCOMPARE(fileBytes(path()), after);
    QCOMPARE(ini.Success(), state != 1); // a minimised window leaves the code at 0
    QCOMPARE(ini.Key(), cIniFile::OptionalText(QStringLiteral("caller's key")));
}

void tst_FormPosition::load_data()
{
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QRectF>("window"); // its own placement before the call
    QTest::addColumn<QRectF>("moved");  // empty: not moved
    QTest::addColumn<bool>("maximised");
    QTest::addColumn<bool>("success");

    const QRectF own(1200, 900, 6000, 4000);
    QTest::newRow("worked example") << QByteArray("Left=14000\nTop=9000\nWidth=3000\nHeight=3000\n")
                                    << own << QRectF(12300, 8460, 3000, 3000) << false << true;
    QTest::newRow("empty section keeps own, at least the minimum")
        << QByteArray() << QRectF(1200, 900, 2000, 4000) << QRectF(1200, 900, 3000, 4000) << false
        << true;
    QTest::newRow("negative left and zero top go 4 pixels in")
        << QByteArray("Left=-500\nTop=0\nWidth=6000\nHeight=4000\n") << own
        << QRectF(60, 60, 6000, 4000) << false << true;
    QTest::newRow("too narrow becomes the minimum")
        << QByteArray("Left=100\nTop=100\nWidth=1000\nHeight=3500\n") << own
        << QRectF(100, 100, 3000, 3500) << false << true;
    QTest::newRow("wider than the screen shrinks")
        << QByteArray("Left=5000\nTop=100\nWidth=20000\nHeight=3000\n") << own
        << QRectF(60, 100, 15240, 3000) << false << true;
    QTest::newRow("unreadable numbers keep own")
        << QByteArray("Left=abc\nTop=\nWidth=FAIL\n") << own << own << false << true;
    QTest::newRow("fraction rounds half to even") << QByteArray("Left=100.5\nTop=101.5\n") << own
                                                  << QRectF(100, 102, 6000, 4000) << false << true;
    QTest::newRow("Maximised 1") << QByteArray("Maximised=1\n") << own << own << true << true;
    QTest::newRow("Maximised 2") << QByteArray("Maximised=2\n") << own << own << true << true;
    QTest::newRow("Maximised -1") << QByteArray("Maximised=-1\n") << own << own << true << true;
    QTest::newRow("Maximised 0") << QByteArray("Maximised=0\n") << own << own << false << true;
    QTest::newRow("Maximised empty") << QByteArray("Maximised=\n") << own << own << false << true;
    QTest::newRow("Maximised abc") << QByteArray("Maximised=abc\n") << own << own << false << true;
    QTest::newRow("sum beyond 32 bits")
        << QByteArray("Left=2000000000\nWidth=2000000000\nMaximised=1\n") << own << QRectF()
        << false << false;
}

void tst_FormPosition::load()
{
    QFETCH(QByteArray, section);
    QFETCH(QRectF, window);
    QFETCH(QRectF, moved);
    QFETCH(bool, maximised);
    QFETCH(bool, success);

    putFile(path(), "[other]\nLeft=1\n[frmMain]\n" + section);
    FakeWindow frm;
    frm.left = window.x(), frm.top = window.y(), frm.width = window.width(),
    frm.height = window.height();
    cIniFile ini = iniWithCaller();
    ini.setKey(QStringLiteral("k"));
    ini.setValue(QStringLiteral("v")); // so that Success shows what the load did
    ini.setKey(QStringLiteral("caller's key"));
    ini.LoadFormPosition(frm);

    QCOMPARE(frm.moves, moved.isNull() ? QList<QRectF>{} : QList<QRectF>{moved});
    QCOMPARE(frm.state == cPlaceableWindow::vbMaximized, maximised);
    QCOMPARE(ini.Success(), success);
    QCOMPARE(ini.Key(), cIniFile::OptionalText(QStringLiteral("caller's key")));
    QCOMPARE(ini.Default(), cIniFile::OptionalText(QStringLiteral("caller's default")));
}

void tst_FormPosition::load_onANarrowScreen_doesNotMoveButMaximises()
{
    putFile(path(), "[frmMain]\nLeft=0\nTop=0\nWidth=3000\nHeight=3000\nMaximised=1\n");
    FakeWindow frm;
    frm.screen = {150 * 15, 768 * 15, 15, 15}; // 2250 twips: less than 3000 plus margins
    cIniFile ini = iniWithCaller();
    ini.LoadFormPosition(frm);
    QVERIFY(frm.moves.isEmpty());
    QCOMPARE(frm.state, std::int16_t(cPlaceableWindow::vbMaximized));
}

void tst_FormPosition::lackingMember_failsQuietly_data()
{
    QTest::addColumn<QString>("member");
    QTest::addColumn<bool>("saving");
    QTest::addColumn<bool>("moved");
    QTest::addColumn<QByteArray>("afterSave");

    QTest::newRow("load without Left") << "Left" << false << false << QByteArray();
    QTest::newRow("load without Width") << "Width" << false << false << QByteArray();
    QTest::newRow("load without Screen") << "Screen" << false << false << QByteArray();
    QTest::newRow("load without Move") << "Move" << false << false << QByteArray();
    QTest::newRow("load without WindowState, after the move")
        << "WindowState" << false << true << QByteArray();
    QTest::newRow("save without Height, after three keys")
        << "Height" << true << false
        << QByteArray("[frmMain]\nk=v\nMaximised=0\nLeft=1200\nTop=900\nWidth=6000\n");
    QTest::newRow("save without WindowState")
        << "WindowState" << true << false << QByteArray("[frmMain]\nk=v\n");
}

void tst_FormPosition::lackingMember_failsQuietly()
{
    QFETCH(QString, member);
    QFETCH(bool, saving);
    QFETCH(bool, moved);
    QFETCH(QByteArray, afterSave);

    if (!saving)
        putFile(path(), "[frmMain]\nLeft=100\nTop=100\nWidth=4000\nHeight=4000\nMaximised=1\n");
    FakeWindow frm;
    frm.lacking = member;
    cIniFile ini = iniWithCaller();
    ini.setKey(QStringLiteral("k"));
    ini.setValue(QStringLiteral("v")); // so that Success shows what the member did
    ini.setKey(QStringLiteral("caller's key"));
    QVERIFY(ini.Success());

    if (saving) {
        ini.SaveFormPosition(frm);
        QCOMPARE(fileBytes(path()), afterSave);
    } else {
        ini.LoadFormPosition(frm);
        QCOMPARE(frm.moves.size(), moved ? 1 : 0);
        QCOMPARE(frm.state, std::int16_t(cPlaceableWindow::vbNormal));
    }
    QVERIFY(!ini.Success());
    QCOMPARE(ini.Key(), cIniFile::OptionalText(QStringLiteral("caller's key")));
    QCOMPARE(ini.Default(), cIniFile::OptionalText(QStringLiteral("caller's default")));
}

void tst_FormPosition::qtWindow_roundTrip()
{
    QWidget widget;
    widget.setGeometry(120, 90, 400, 300);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    cWidgetWindow window(widget);
    const QRect saved = widget.frameGeometry();
    cIniFile ini = iniWithCaller();
    ini.SaveFormPosition(window);
    QVERIFY(ini.Success());

    widget.setGeometry(300, 200, 250, 250);
    ini.LoadFormPosition(window, 1500, 1500);
    QVERIFY(ini.Success());
    QCOMPARE(widget.frameGeometry(), saved);
}

QTEST_MAIN(tst_FormPosition)
#include "tst_form_position.moc"
