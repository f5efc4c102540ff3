#include "TestWindow.h"
#include "main_window/cScreenPacing.h"

#include <QDateTime>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTest>
#include <ctime>
#include <unistd.h>

namespace {

// What the program writes to its standard error while `write` runs.
template <typename Write> QByteArray standardErrorOf(Write write)
{
    QTemporaryFile file;
    if (!file.open())
        return "cannot redirect";
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file.handle(), STDERR_FILENO);
    write();
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    file.seek(0);
    return file.readAll();
}

// The screen updates that cScreenPacing asks for while strings come `spacing` apart, the time
// each update came, and the longest any string waited to be shown.
struct PacedUpdates {
    std::vector<std::chrono::microseconds> at;
    std::chrono::microseconds longestHeld{0};
    int duringTheStrings = 0;
};

PacedUpdates pacedUpdates(int strings, std::chrono::microseconds spacing)
{
    using namespace std::chrono;
    cScreenPacing pacing;
    const cScreenPacing::Clock::time_point start{};
    PacedUpdates updates;
    std::optional<microseconds> due, firstHeld;
    const auto show = [&] {
        updates.at.push_back(*due);
        updates.longestHeld = std::max(updates.longestHeld, *due - *firstHeld);
        pacing.shown(start + *due);
        due.reset();
        firstHeld.reset();
    };
    for (int i = 0; i < strings; ++i) {
        const microseconds arrival = spacing * i;
        if (due && *due <= arrival) {
            show();
            ++updates.duringTheStrings;
        }
        if (!firstHeld)
            firstHeld = arrival;
        due = arrival + pacing.afterDispatch(start + arrival);
    }
    show();
    return updates;
}

// The time zone named in TZ for as long as this lives.
class ZoneSetting {
public:
    explicit ZoneSetting(const QByteArray& zone)
        : saved_(qgetenv("TZ")), had_(qEnvironmentVariableIsSet("TZ"))
    {
        qputenv("TZ", zone);
        ::tzset();
    }
    ~ZoneSetting()
    {
        if (had_)
            qputenv("TZ", saved_);
        else
            qunsetenv("TZ");
        ::tzset();
    }

private:
    QByteArray saved_;
    bool had_;
};

// The clock's reading lies between two of Qt's own readings of the local time.
bool readsAsQtDoes(const cClock& clock)
{
    const QDateTime before = QDateTime::currentDateTime();
    const cClock::Reading now = clock.now();
    const QDateTime after = QDateTime::currentDateTime();
    const QDateTime read(now.date, now.time);
    return before <= read && read <= after;
}

} // namespace

class tst_ActivityLog : public QObject {
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom)); }
    void line_isDateAtTimeSpaceMessage_data();
    void line_isDateAtTimeSpaceMessage();
    void line_followsTheLocalesFormats();
    void standardError_showsControlCharactersAsEscapes_data();
    void standardError_showsControlCharactersAsEscapes();
    void nextLine_followsClockAndLocale_data();
    void nextLine_followsClockAndLocale();
    void newestLine_isAlwaysSelected();
    void newestLine_isScrolledIntoViewOfAShownWindow();
    void clearLog_leavesOnlyItsOwnLine();
    void longLog_dropsTheOldestLines();
    void clock_readsTheLocalTimeOfTheZone_data();
    void clock_readsTheLocalTimeOfTheZone();
    void screenPacing_showsOncePerFrameAtMostAndNeverHoldsLong_data();
    void screenPacing_showsOncePerFrameAtMostAndNeverHoldsLong();
};

void tst_ActivityLog::line_isDateAtTimeSpaceMessage_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("line");
    QTest::newRow("start") << QStringLiteral("Kormil started")
                           << QStringLiteral("31/01/2005@09:05:07 Kormil started");
    QTest::newRow("empty") << QString() << QStringLiteral("31/01/2005@09:05:07 ");
    QTest::newRow("blanks kept") << QStringLiteral("  x  ")
                                 << QStringLiteral("31/01/2005@09:05:07   x  ");
    QTest::newRow("nothing escaped")
        << QStringLiteral("a\tb%1<i>\\") << QStringLiteral("31/01/2005@09:05:07 a\tb%1<i>\\");
}

void tst_ActivityLog::line_isDateAtTimeSpaceMessage()
{
    QFETCH(QString, message);
    QFETCH(QString, line);
    TestWindow test(QString{});
    test.window.Log(message);
    QCOMPARE(TestWindow::rows(test.window.lstLog), QStringList{line});
}

void tst_ActivityLog::line_followsTheLocalesFormats()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TestWindow test(QString{});
    test.clock->time = QTime(21, 4, 3);
    test.window.Log(QStringLiteral("x"));
    QCOMPARE(test.window.lstLog->item(0)->text(), QStringLiteral("31.01.05@21:04:03 x"));
}

void tst_ActivityLog::standardError_showsControlCharactersAsEscapes_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("echo");
    QTest::newRow("forged line") << QStringLiteral("a\n8 Dec 2026@19:00:00 Executing: rm -rf ~\r")
                                 << QByteArray("a\\n8 Dec 2026@19:00:00 Executing: rm -rf ~\\r");
    QTest::newRow("terminal title")
        << QStringLiteral("\x1b]0;owned\x07") << QByteArray("\\x1b]0;owned\\x07");
    QTest::newRow("tab, NUL, DEL") << QStringLiteral("\tx") + QChar(0) + QStringLiteral("y\x7f")
                                   << QByteArray("\\tx\\x00y\\x7f");
    QTest::newRow("C1 control sequence introducer")
        << QChar(0x9b) + QStringLiteral("2J") << QByteArray("\\x9b2J");
    QTest::newRow("right-to-left override and isolate")
        << QStringLiteral("txt.\u202eexe\u2067") << QByteArray("txt.\\u202eexe\\u2067");
    QTest::newRow("printable text kept") << QStringLiteral("\u00e9t\u00e9 \u4e2d \\n <b>%1")
                                         << QByteArray("\xc3\xa9t\xc3\xa9 \xe4\xb8\xad \\n <b>%1");
}

void tst_ActivityLog::standardError_showsControlCharactersAsEscapes()
{
    QFETCH(QString, message);
    QFETCH(QByteArray, echo);
    TestWindow test(QString{});
    const QByteArray written = standardErrorOf([&] { test.window.Log(message); });
    QCOMPARE(written, "31/01/2005@09:05:07 " + echo + '\n');
    QCOMPARE(TestWindow::rows(test.window.lstLog),
             QStringList{QStringLiteral("31/01/2005@09:05:07 ") + message});
}

void tst_ActivityLog::nextLine_followsClockAndLocale_data()
{
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("line");
    const QLocale british(QLocale::English, QLocale::UnitedKingdom);
    QTest::newRow("same second") << QDate(2005, 1, 31) << QTime(9, 5, 7, 999) << british
                                 << QStringLiteral("31/01/2005@09:05:07 x");
    QTest::newRow("next second") << QDate(2005, 1, 31) << QTime(9, 5, 8) << british
                                 << QStringLiteral("31/01/2005@09:05:08 x");
    QTest::newRow("same time, next day") << QDate(2005, 2, 1) << QTime(9, 5, 7) << british
                                         << QStringLiteral("01/02/2005@09:05:07 x");
    QTest::newRow("same moment, other locale")
        << QDate(2005, 1, 31) << QTime(9, 5, 7) << QLocale(QLocale::German, QLocale::Germany)
        << QStringLiteral("31.01.05@09:05:07 x");
}

void tst_ActivityLog::nextLine_followsClockAndLocale()
{
    QFETCH(QDate, date);
    QFETCH(QTime, time);
    QFETCH(QLocale, locale);
    QFETCH(QString, line);
    TestWindow test(QString{});
    test.window.Log(QStringLiteral("first"));
    test.clock->date = date;
    test.clock->time = time;
    QLocale::setDefault(locale);
    test.window.Log(QStringLiteral("x"));
    QCOMPARE(TestWindow::rows(test.window.lstLog).last(), line);
}

void tst_ActivityLog::newestLine_isAlwaysSelected()
{
    TestWindow test(QString{});
    test.window.Log(QStringLiteral("one"));
    test.window.Log(QStringLiteral("two"));
    QTRY_COMPARE(test.window.lstLog->currentRow(), 1);
    test.window.lstLog->setCurrentRow(0);
    test.window.Log(QStringLiteral("three"));
    QTRY_COMPARE(test.window.lstLog->currentRow(), 2);
    QVERIFY(test.window.lstLog->item(2)->isSelected());
    QCOMPARE(test.window.lstLog->selectedItems().size(), 1);
}

void tst_ActivityLog::newestLine_isScrolledIntoViewOfAShownWindow()
{
    TestWindow test(QString{});
    test.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&test.window));
    for (int i = 0; i < 500; ++i)
        test.window.Log(QString::number(i));
    QListWidget* const log = test.window.lstLog;
    QTRY_COMPARE(log->currentRow(), log->count() - 1);
    QTRY_VERIFY(log->viewport()->rect().contains(log->visualItemRect(log->item(log->count() - 1))));
}

void tst_ActivityLog::clearLog_leavesOnlyItsOwnLine()
{
    TestWindow test(QString{});
    test.window.Log(QStringLiteral("one"));
    test.window.Log(QStringLiteral("two"));
    QTest::mouseClick(test.window.cmdClear, Qt::LeftButton);
    QCOMPARE(TestWindow::rows(test.window.lstLog),
             QStringList{QStringLiteral("31/01/2005@09:05:07 Log cleared")});
    QTRY_COMPARE(test.window.lstLog->currentRow(), 0);
}

void tst_ActivityLog::longLog_dropsTheOldestLines()
{
    TestWindow test(QString{});
    const int extra = 5;
    for (int i = 0; i < frmMain::kMaxLogLines + extra; ++i)
        test.window.Log(QString::number(i));
    QCOMPARE(test.window.lstLog->count(), frmMain::kMaxLogLines);
    QVERIFY(test.window.lstLog->item(0)->text().endsWith(u' ' + QString::number(extra)));
    QTRY_COMPARE(test.window.lstLog->currentRow(), frmMain::kMaxLogLines - 1);
}

QTEST_MAIN(tst_ActivityLog)
#include "tst_activity_log.moc"

void tst_ActivityLog::clock_readsTheLocalTimeOfTheZone_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::newRow("UTC") << QByteArray("UTC");
    QTest::newRow("an hour east") << QByteArray("Europe/Berlin");
    QTest::newRow("half an hour off") << QByteArray("America/St_Johns");
    QTest::newRow("45 minutes off") << QByteArray("Asia/Kathmandu");
    QTest::newRow("a day ahead of the west") << QByteArray("Pacific/Kiritimati");
    QTest::newRow("eleven hours west") << QByteArray("Pacific/Pago_Pago");
}

void tst_ActivityLog::clock_readsTheLocalTimeOfTheZone()
{
    QFETCH(QByteArray, zone);
    const ZoneSetting setting(zone);
    const cClock clock;
    QVERIFY(readsAsQtDoes(clock));
}

void tst_ActivityLog::screenPacing_showsOncePerFrameAtMostAndNeverHoldsLong_data()
{
    QTest::addColumn<int>("strings");
    QTest::addColumn<int>("spacingUs");
    QTest::addColumn<int>("updates");
    QTest::addColumn<int>("duringTheStrings");
    QTest::addColumn<int>("longestHeldMs");
    QTest::newRow("one string") << 1 << 0 << 1 << 0 << 8;
    QTest::newRow("spoken commands, a second apart") << 5 << 1000000 << 5 << 4 << 8;
    QTest::newRow("idle between, 20 ms") << 10 << 20000 << 10 << 9 << 8;
    QTest::newRow("a burst, 0.3 ms apart") << 100 << 300 << 1 << 0 << 38;
    QTest::newRow("a burst ending in a frame") << 30 << 500 << 1 << 0 << 23;
    QTest::newRow("10 ms apart: every other string") << 20 << 10000 << 11 << 10 << 18;
    QTest::newRow("a flood of a second") << 2000 << 500 << 10 << 9 << 100;
}

void tst_ActivityLog::screenPacing_showsOncePerFrameAtMostAndNeverHoldsLong()
{
    QFETCH(int, strings);
    QFETCH(int, spacingUs);
    const PacedUpdates updates = pacedUpdates(strings, std::chrono::microseconds(spacingUs));
    QTEST(int(updates.at.size()), "updates");
    QTEST(updates.duringTheStrings, "duringTheStrings");
    QTEST(int(std::chrono::ceil<std::chrono::milliseconds>(updates.longestHeld).count()),
          "longestHeldMs");
    for (std::size_t i = 1; i < updates.at.size(); ++i)
        QVERIFY(updates.at[i] - updates.at[i - 1] >= cScreenPacing::kFrame);
}
