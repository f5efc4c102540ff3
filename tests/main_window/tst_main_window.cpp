#include "TestWindow.h"
#include "main_window/list_selection.h"
#include "pair_editor/frmAddEdit.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>
#include <QWheelEvent>

namespace {

QPoint centreOfRow(QListWidget* list, int row)
{
    return list->visualItemRect(list->item(row)).center();
}

void fillFive(TestWindow& test)
{
    for (int i = 0; i < 5; ++i)
        test.addPair(QStringLiteral("say %1").arg(i), QStringLiteral("cmd %1").arg(i),
                     QString::number(i));
}

void fillMany(TestWindow& test, int rows, const QString& longCommand = QString())
{
    for (int i = 0; i < rows; ++i)
        test.addPair(QStringLiteral("say %1").arg(i),
                     i == 0 && !longCommand.isEmpty() ? longCommand
                                                      : QStringLiteral("cmd %1").arg(i),
                     QStringLiteral("1"));
}

int firstVisibleRow(const QListWidget* list)
{
    return list->indexAt(QPoint(2, 2)).row();
}

QList<int> selections(const frmMain& w)
{
    return {selectedRow(w.lstPattern), selectedRow(w.lstCommand), selectedRow(w.lstFocus)};
}

} // namespace

class tst_MainWindow : public QObject {
    Q_OBJECT

private slots:
    void layout_followsTheDesign_data();
    void layout_followsTheDesign();
    void tabOrder_followsTheDesign();
    void selection_isCommonToTheThreeLists_data();
    void selection_isCommonToTheThreeLists();
    void selection_byKeysInTheHiddenStyleList();
    void delete_asksAndRemovesTheSelectedPair_data();
    void delete_asksAndRemovesTheSelectedPair();
    void delete_removesTheNamedPairWhenTheSelectionMoves();
    void delete_removesNothingWhenTheNamedPairIsGone();
    void editAndNew_setTheModeAndOpenTheEditor();
    void pairLists_scrollTogether_data();
    void pairLists_scrollTogether();
    void clickBelowTheRows_keepsTheSelection_data();
    void clickBelowTheRows_keepsTheSelection();
    void keys_actOnTheSelectedPair_data();
    void keys_actOnTheSelectedPair();
    void cutRow_showsItsTextAsTooltip_data();
    void cutRow_showsItsTextAsTooltip();
    void windows_haveKormilsIcon();
};

void tst_MainWindow::layout_followsTheDesign_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("twips");

    QTest::newRow("lblTCP") << "lblTCP"
                            << "TCP Port:" << QRect(0, 120, 735, 255);
    QTest::newRow("txtPort") << "txtPort"
                             << "2011" << QRect(840, 120, 615, 285);
    QTest::newRow("cmdListen") << "cmdListen"
                               << "Listen" << QRect(1560, 120, 1335, 255);
    QTest::newRow("cmdNew") << "cmdNew"
                            << "New string/command pair" << QRect(3960, 120, 2175, 255);
    QTest::newRow("cmdEdit") << "cmdEdit"
                             << "Edit Selection" << QRect(6600, 120, 1335, 255);
    QTest::newRow("cmdDel") << "cmdDel"
                            << "Delete Selection" << QRect(8400, 120, 1335, 255);
    QTest::newRow("cmdRun") << "cmdRun"
                            << "Run" << QRect(10200, 120, 1335, 255);
    QTest::newRow("lblSpeech") << "lblSpeech"
                               << "Speech Pattern:" << QRect(0, 480, 1215, 255);
    QTest::newRow("lblShell") << "lblShell"
                              << "Shell Command:" << QRect(3960, 480, 1215, 255);
    QTest::newRow("lstPattern") << "lstPattern"
                                << "" << QRect(0, 720, 3855, 3375);
    QTest::newRow("lstCommand") << "lstCommand"
                                << "" << QRect(3960, 720, 8295, 3375);
    QTest::newRow("lstFocus") << "lstFocus"
                              << "" << QRect(12480, 840, 975, 3180);
    QTest::newRow("lblLog") << "lblLog"
                            << "Output Log:" << QRect(0, 4200, 975, 255);
    QTest::newRow("cmdClear") << "cmdClear"
                              << "Clear Log" << QRect(11280, 4200, 975, 255);
    QTest::newRow("lstLog") << "lstLog"
                            << "" << QRect(0, 4440, 12255, 1425);
}

void tst_MainWindow::layout_followsTheDesign()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QRect, twips);

    frmMain window(frmMainSeams::real(std::make_shared<cShell>())); // port box included
    QWidget* control = window.findChild<QWidget*>(name);
    QVERIFY(control);
    const int dpi = window.logicalDpiX();
    const auto px = [dpi](int t) { return (t * dpi + 720) / 1440; };
    QCOMPARE(control->geometry(),
             QRect(px(twips.x()), px(twips.y()), px(twips.width()), px(twips.height())));
    if (auto* label = qobject_cast<QLabel*>(control))
        QCOMPARE(label->text(), caption);
    if (auto* button = qobject_cast<QPushButton*>(control))
        QCOMPARE(button->text(), caption);
    if (auto* box = qobject_cast<QLineEdit*>(control))
        QCOMPARE(box->text(), caption);
    QCOMPARE(window.windowTitle(), QStringLiteral("Kormil"));
    QCOMPARE(window.size(), QSize(px(12285), px(5880)));
    QCOMPARE(window.minimumSize(), window.maximumSize());
}

void tst_MainWindow::tabOrder_followsTheDesign()
{
    TestWindow test(QString{});
    test.window.show();
    test.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&test.window));
    const QStringList expected = {"lstPattern", "lstCommand", "cmdDel",   "cmdEdit",
                                  "cmdNew",     "lstLog",     "cmdClear", "cmdListen",
                                  "txtPort",    "lstFocus",   "cmdRun",   "lstPattern"};
    test.window.lstPattern->setFocus();
    QStringList chain{QApplication::focusWidget()->objectName()};
    while (chain.size() < expected.size()) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        chain << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(chain, expected);
}

void tst_MainWindow::selection_isCommonToTheThreeLists_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<int>("row");
    QTest::newRow("command row 3") << "lstCommand" << 3;
    QTest::newRow("pattern row 0") << "lstPattern" << 0;
    QTest::newRow("pattern row 4") << "lstPattern" << 4;
}

void tst_MainWindow::selection_isCommonToTheThreeLists()
{
    QFETCH(QString, list);
    QFETCH(int, row);

    TestWindow test(QString{});
    fillFive(test);
    test.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&test.window));
    auto* clicked = test.window.findChild<QListWidget*>(list);
    QTest::mouseClick(clicked->viewport(), Qt::LeftButton, {}, centreOfRow(clicked, row));
    QCOMPARE(selections(test.window), (QList<int>{row, row, row}));

    // A change made by the program runs the same handlers.
    setSelectedRow(test.window.lstFocus, 1);
    QCOMPARE(selections(test.window), (QList<int>{1, 1, 1}));
    setSelectedRow(test.window.lstCommand, -1);
    QCOMPARE(selections(test.window), (QList<int>{-1, -1, -1}));
}

void tst_MainWindow::selection_byKeysInTheHiddenStyleList()
{
    TestWindow test(QString{});
    fillFive(test);
    test.window.show();
    test.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&test.window));
    test.window.txtPort->setFocus();
    QTest::keyClick(&test.window, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), test.window.lstFocus);
    QTest::keyClick(test.window.lstFocus, Qt::Key_Down);
    QTest::keyClick(test.window.lstFocus, Qt::Key_Down);
    const int row = selectedRow(test.window.lstFocus);
    QVERIFY(row >= 1);
    QCOMPARE(selections(test.window), (QList<int>{row, row, row}));
}

void tst_MainWindow::delete_asksAndRemovesTheSelectedPair_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("yes") << true;
    QTest::newRow("no") << false;
}

void tst_MainWindow::delete_asksAndRemovesTheSelectedPair()
{
    QFETCH(bool, yes);
    TestWindow test(QString{});
    fillFive(test);
    test.messages->answer = yes ? cMessageBox::Answer::Yes : cMessageBox::Answer::No;

    QTest::mouseClick(test.window.cmdDel, Qt::LeftButton);
    QVERIFY(test.messages->shown.isEmpty());

    setSelectedRow(test.window.lstPattern, 2);
    QTest::mouseClick(test.window.cmdDel, Qt::LeftButton);
    QCOMPARE(test.messages->shown.size(), 1);
    QCOMPARE(test.messages->shown[0].text,
             QStringLiteral("Are you sure you want to delete this entry?"));
    QCOMPARE(test.messages->shown[0].title, QStringLiteral("Kormil - say 2"));
    QCOMPARE(test.messages->shown[0].buttons, cMessageBox::Buttons::YesNo);

    const QStringList patterns = yes ? QStringList{"say 0", "say 1", "say 3", "say 4"}
                                     : QStringList{"say 0", "say 1", "say 2", "say 3", "say 4"};
    QCOMPARE(TestWindow::rows(test.window.lstPattern), patterns);
    QCOMPARE(TestWindow::rows(test.window.lstCommand).size(), patterns.size());
    QCOMPARE(TestWindow::rows(test.window.lstFocus).size(), patterns.size());
    if (yes) {
        QCOMPARE(TestWindow::rows(test.window.lstCommand).at(2), QStringLiteral("cmd 3"));
        QCOMPARE(selections(test.window), (QList<int>{-1, -1, -1}));
    } else {
        QCOMPARE(selections(test.window), (QList<int>{2, 2, 2}));
    }
}

void tst_MainWindow::delete_removesTheNamedPairWhenTheSelectionMoves()
{
    TestWindow test(QString{});
    fillFive(test);
    setSelectedRow(test.window.lstPattern, 1);
    test.messages->whileOpen = [&] { setSelectedRow(test.window.lstPattern, 3); };
    test.window.cmdDel_Click();
    QCOMPARE(TestWindow::rows(test.window.lstPattern),
             (QStringList{"say 0", "say 2", "say 3", "say 4"}));
}

void tst_MainWindow::delete_removesNothingWhenTheNamedPairIsGone()
{
    TestWindow test(QString{});
    fillFive(test);
    setSelectedRow(test.window.lstPattern, 4);
    test.messages->whileOpen = [&] {
        for (QListWidget* list :
             {test.window.lstPattern, test.window.lstCommand, test.window.lstFocus})
            delete list->takeItem(0);
    };
    test.window.cmdDel_Click();
    QCOMPARE(TestWindow::rows(test.window.lstPattern),
             (QStringList{"say 1", "say 2", "say 3", "say 4"}));
}

void tst_MainWindow::editAndNew_setTheModeAndOpenTheEditor()
{
    TestWindow test(QString{});
    fillFive(test);
    QTest::mouseClick(test.window.cmdEdit, Qt::LeftButton);
    QVERIFY(!test.window.bolEdit);
    QVERIFY(!test.window.pairEditor());

    setSelectedRow(test.window.lstPattern, 1);
    QTest::mouseClick(test.window.cmdEdit, Qt::LeftButton);
    QVERIFY(test.window.bolEdit);
    QVERIFY(test.window.pairEditor() && test.window.pairEditor()->isVisible());
    frmAddEdit* first = test.window.pairEditor();

    QTest::mouseClick(test.window.cmdNew, Qt::LeftButton);
    QVERIFY(!test.window.bolEdit);
    QCOMPARE(test.window.pairEditor(), first);
    QVERIFY(first->isVisible());
    QVERIFY(!first->isModal());
}

void tst_MainWindow::pairLists_scrollTogether_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("longCommand");
    QTest::newRow("pattern scroll bar") << "lstPattern"
                                        << "bar" << false;
    QTest::newRow("command wheel") << "lstCommand"
                                   << "wheel" << false;
    QTest::newRow("keys in the style list") << "lstFocus"
                                            << "keys" << false;
    QTest::newRow("command to its end, only it too wide") << "lstCommand"
                                                          << "end" << true;
    QTest::newRow("pattern to its end, command too wide") << "lstPattern"
                                                          << "end" << true;
}

void tst_MainWindow::pairLists_scrollTogether()
{
    QFETCH(QString, list);
    QFETCH(QString, how);
    QFETCH(bool, longCommand);

    TestWindow test(QString{});
    // A list that measures each row gets a horizontal scroll bar for a long one; rows of one
    // height are cut at the edge instead.
    test.window.lstCommand->setUniformItemSizes(!longCommand);
    fillMany(test, 200, longCommand ? QString(400, u'x') : QString());
    test.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&test.window));
    if (longCommand)
        QTRY_VERIFY(test.window.lstCommand->horizontalScrollBar()->maximum() > 0);
    auto* scrolled = test.window.findChild<QListWidget*>(list);
    QScrollBar* bar = scrolled->verticalScrollBar();
    if (how == QLatin1String("bar")) {
        bar->setValue(45);
    } else if (how == QLatin1String("wheel")) {
        const QPointF at = scrolled->viewport()->rect().center();
        QWheelEvent wheel(at, scrolled->viewport()->mapToGlobal(at), {}, QPoint(0, -120 * 5),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(scrolled->viewport(), &wheel);
    } else if (how == QLatin1String("keys")) {
        scrolled->setFocus();
        setSelectedRow(scrolled, 0);
        for (int i = 0; i < 60; ++i)
            QTest::keyClick(scrolled, Qt::Key_Down);
    } else {
        bar->setValue(bar->maximum());
    }
    QVERIFY(bar->value() > 0);
    QCOMPARE(test.window.lstPattern->verticalScrollBar()->value(), bar->value());
    QCOMPARE(test.window.lstCommand->verticalScrollBar()->value(), bar->value());
    QCOMPARE(firstVisibleRow(test.window.lstPattern), firstVisibleRow(test.window.lstCommand));
    if (how != QLatin1String("keys"))
        QCOMPARE(test.window.lstFocus->verticalScrollBar()->value(), bar->value());
    else // the style list shows a row fewer: the visible lists keep its selected row in view
        QVERIFY(test.window.lstPattern->viewport()->rect().contains(
            test.window.lstPattern->visualItemRect(test.window.lstPattern->item(60))));
}

void tst_MainWindow::clickBelowTheRows_keepsTheSelection_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<bool>("doubleClick");
    QTest::newRow("pattern, click") << "lstPattern" << false;
    QTest::newRow("command, double-click") << "lstCommand" << true;
}

void tst_MainWindow::clickBelowTheRows_keepsTheSelection()
{
    QFETCH(QString, list);
    QFETCH(bool, doubleClick);

    TestWindow test(QString{});
    fillFive(test);
    test.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&test.window));
    auto* clicked = test.window.findChild<QListWidget*>(list);
    QTest::mouseClick(clicked->viewport(), Qt::LeftButton, {}, centreOfRow(clicked, 2));
    const QPoint below(10, clicked->viewport()->height() - 5);
    QVERIFY(!clicked->indexAt(below).isValid());
    QTest::mouseClick(clicked->viewport(), Qt::LeftButton, {}, below);
    if (doubleClick)
        QTest::mouseDClick(clicked->viewport(), Qt::LeftButton, {}, below);
    QCOMPARE(selections(test.window), (QList<int>{2, 2, 2}));
    QVERIFY(!test.window.pairEditor());
    QTest::mouseClick(clicked->viewport(), Qt::LeftButton, {}, centreOfRow(clicked, 4));
    QCOMPARE(selections(test.window), (QList<int>{4, 4, 4}));
}

void tst_MainWindow::keys_actOnTheSelectedPair_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<int>("editor"); // -1 none, 0 add, 1 edit
    QTest::newRow("Delete in patterns") << "lstPattern"
                                        << "Delete" << true << -1;
    QTest::newRow("Return in commands") << "lstCommand"
                                        << "Return" << false << 1;
    QTest::newRow("keypad Enter in styles") << "lstFocus"
                                            << "Enter" << false << 1;
    QTest::newRow("double-click on a pattern") << "lstPattern"
                                               << "double-click" << false << 1;
    QTest::newRow("Ctrl+N") << "lstCommand"
                            << "Ctrl+N" << false << 0;
    QTest::newRow("Delete in the log") << "lstLog"
                                       << "Delete" << false << -1;
}

void tst_MainWindow::keys_actOnTheSelectedPair()
{
    QFETCH(QString, list);
    QFETCH(QString, input);
    QFETCH(bool, asked);
    QFETCH(int, editor);

    TestWindow test(QString{});
    fillFive(test);
    test.window.Log(QStringLiteral("a line"));
    test.window.show();
    test.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&test.window));
    setSelectedRow(test.window.lstPattern, 3);
    test.messages->answer = cMessageBox::Answer::No;
    auto* target = test.window.findChild<QListWidget*>(list);
    target->setFocus();
    if (input == QLatin1String("Delete"))
        QTest::keyClick(target, Qt::Key_Delete);
    else if (input == QLatin1String("Return"))
        QTest::keyClick(target, Qt::Key_Return);
    else if (input == QLatin1String("Enter"))
        QTest::keyClick(target, Qt::Key_Enter, Qt::KeypadModifier);
    else if (input == QLatin1String("Ctrl+N"))
        QTest::keyClick(target, Qt::Key_N, Qt::ControlModifier);
    else {
        // A double-click as the window system sends it: the first click, then the second.
        QTest::mouseClick(target->viewport(), Qt::LeftButton, {}, centreOfRow(target, 3));
        QTest::mouseDClick(target->viewport(), Qt::LeftButton, {}, centreOfRow(target, 3));
    }

    QCOMPARE(test.messages->shown.size(), asked ? 1 : 0);
    if (asked)
        QCOMPARE(test.messages->shown[0].title, QStringLiteral("Kormil - say 3"));
    QCOMPARE(test.window.pairEditor() != nullptr, editor >= 0);
    if (editor >= 0)
        QCOMPARE(test.window.bolEdit, editor == 1);
    QCOMPARE(selections(test.window), (QList<int>{3, 3, 3}));
}

void tst_MainWindow::cutRow_showsItsTextAsTooltip_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("shown");
    QTest::newRow("cut at the edge") << QStringLiteral("xterm -e ") + QString(300, u'y') << true;
    QTest::newRow("fits") << QStringLiteral("xterm") << false;
}

void tst_MainWindow::cutRow_showsItsTextAsTooltip()
{
    QFETCH(QString, command);
    QFETCH(bool, shown);

    TestWindow test(QString{});
    test.addPair(QStringLiteral("short"), QStringLiteral("xterm"), QStringLiteral("1"));
    test.addPair(QStringLiteral("other"), command, QStringLiteral("1"));
    test.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&test.window));
    QToolTip::hideText();
    QWidget* viewport = test.window.lstCommand->viewport();
    const QPoint at = centreOfRow(test.window.lstCommand, 1);
    QHelpEvent help(QEvent::ToolTip, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &help);
    QCOMPARE(QToolTip::isVisible(), shown);
    if (shown)
        QCOMPARE(QToolTip::text(), command);
}

void tst_MainWindow::windows_haveKormilsIcon()
{
    TestWindow test(QString{});
    test.window.cmdNew_Click();
    for (QWidget* window :
         {static_cast<QWidget*>(&test.window), static_cast<QWidget*>(test.window.pairEditor())})
        QVERIFY2(!window->windowIcon().pixmap(32).isNull(), qPrintable(window->objectName()));
}

QTEST_MAIN(tst_MainWindow)
#include "tst_main_window.moc"
