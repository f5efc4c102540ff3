#include "EndProcess.h"
#include "TestWindow.h"
#include "main_window/list_selection.h"
#include "pair_editor/frmAddEdit.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <xcb/xcb.h>

namespace {

// Gives a window the X input focus, as a window manager does when the user clicks into it, and
// tells whether the window has it now.
bool giveXFocus(xcb_window_t window)
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    xcb_discard_reply(connection,
                      xcb_set_input_focus_checked(connection, XCB_INPUT_FOCUS_POINTER_ROOT, window,
                                                  XCB_CURRENT_TIME)
                          .sequence);
    xcb_get_input_focus_reply_t* focus =
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
    const bool given = focus && focus->focus == window;
    free(focus);
    xcb_disconnect(connection);
    return given;
}

struct Editing : TestWindow {
    Editing() : TestWindow(QString{})
    {
        addPair(QStringLiteral("open mail"), QStringLiteral("thunderbird"), QStringLiteral("3"));
        addPair(QStringLiteral("play music"), QStringLiteral("rhythmbox"), QStringLiteral("1"));
        window.show();
        window.activateWindow();
    }

    // Presses a main-window button that opens the editor and waits for it to be active.
    frmAddEdit* open(QPushButton* button)
    {
        // A click on the main window's button makes the main window active first.
        window.activateWindow();
        if (!QTest::qWaitForWindowActive(&window))
            return nullptr;
        QTest::mouseClick(button, Qt::LeftButton);
        frmAddEdit* editor = window.pairEditor();
        if (editor && !QTest::qWaitForWindowActive(editor))
            return nullptr;
        return editor;
    }

    void backToMainAndReturn(frmAddEdit* editor)
    {
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        editor->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(editor));
    }

    QStringList checkedOptions(frmAddEdit* editor) const
    {
        QStringList names;
        for (QRadioButton* option : editor->findChildren<QRadioButton*>()) {
            if (option->isChecked())
                names << option->objectName();
        }
        return names;
    }
};

} // namespace

class tst_PairEditor : public QObject {
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom)); }
    void addMode_startsEmptyWithNormalFocus();
    void add_appendsThePairAndLogs();
    void editMode_loadsTheStyleOption_data();
    void editMode_loadsTheStyleOption();
    void edit_replacesTheRowInPlace();
    void option_choiceIsStored_data();
    void option_choiceIsStored();
    void save_refusesWhatCannotBeKept_data();
    void save_refusesWhatCannotBeKept();
    void cancelAndFrameClose_changeNothing();
    void reactivation_startsAfresh();
    void focusBackFromAnotherProgram_keepsWhatWasTyped_data();
    void focusBackFromAnotherProgram_keepsWhatWasTyped();
    void edit_afterThePairWasDeleted_changesNothing();
    void edit_afterAVoiceMovedTheSelection_updatesTheEditedPair();
    void duplicatePattern_isAppended();
    void keys_saveAndCancel_data();
    void keys_saveAndCancel();
    void add_scrollsTheNewRowIntoView();
    void add_toAFullTable_isRefused_data();
    void add_toAFullTable_isRefused();
};

void tst_PairEditor::addMode_startsEmptyWithNormalFocus()
{
    Editing test;
    setSelectedRow(test.window.lstPattern, 1);
    frmAddEdit* editor = test.open(test.window.cmdNew);
    QVERIFY(editor);
    QCOMPARE(editor->windowTitle(), QStringLiteral("Add Pair"));
    QCOMPARE(editor->cmdSave->text(), QStringLiteral("Add"));
    QVERIFY(editor->txtString->text().isEmpty() && editor->txtShell->text().isEmpty());
    QCOMPARE(test.checkedOptions(editor), QStringList{"optNormFoc"});
    QCOMPARE(editor->intFocus, 1);
}

void tst_PairEditor::add_appendsThePairAndLogs()
{
    Editing test;
    setSelectedRow(test.window.lstPattern, 0);
    frmAddEdit* editor = test.open(test.window.cmdNew);
    QVERIFY(editor);
    QTest::keyClicks(editor->txtString, QStringLiteral("lock screen"));
    QTest::keyClicks(editor->txtShell, QStringLiteral("loginctl lock-session"));
    QTest::mouseClick(editor->cmdSave, Qt::LeftButton);

    QCOMPARE(TestWindow::rows(test.window.lstPattern).last(), QStringLiteral("lock screen"));
    QCOMPARE(TestWindow::rows(test.window.lstCommand).last(),
             QStringLiteral("loginctl lock-session"));
    QCOMPARE(TestWindow::rows(test.window.lstFocus).last(), QStringLiteral("1"));
    QCOMPARE(selectedRow(test.window.lstPattern), 0);
    QCOMPARE(test.window.lstLog->item(test.window.lstLog->count() - 1)->text(),
             QStringLiteral("31/01/2005@09:05:07 Added voice command [lock screen] to execute: "
                            "loginctl lock-session"));
    QVERIFY(!editor->isVisible());
}

void tst_PairEditor::editMode_loadsTheStyleOption_data()
{
    QTest::addColumn<QString>("style");
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("intFocus");
    QTest::newRow("0") << "0"
                       << "optHide" << 0;
    QTest::newRow("1") << "1"
                       << "optNormFoc" << 1;
    QTest::newRow("2") << "2"
                       << "optMinFoc" << 2;
    QTest::newRow("3") << "3"
                       << "optMaxFoc" << 3;
    QTest::newRow("4") << "4"
                       << "optNormNoFoc" << 4;
    QTest::newRow("6") << "6"
                       << "optMinNoFoc" << 6;
    QTest::newRow("5") << "5"
                       << "" << 0;
    QTest::newRow("01") << "01"
                        << "" << 0;
    QTest::newRow("blank 1") << " 1"
                             << "" << 0;
    QTest::newRow("empty") << ""
                           << "" << 0;
}

void tst_PairEditor::editMode_loadsTheStyleOption()
{
    QFETCH(QString, style);
    QFETCH(QString, option);
    QFETCH(int, intFocus);

    Editing test;
    test.window.lstFocus->item(1)->setText(style);
    setSelectedRow(test.window.lstCommand, 1);
    frmAddEdit* editor = test.open(test.window.cmdEdit);
    QVERIFY(editor);
    QCOMPARE(editor->windowTitle(), QStringLiteral("Edit Pair"));
    QCOMPARE(editor->cmdSave->text(), QStringLiteral("Save"));
    QCOMPARE(editor->txtString->text(), QStringLiteral("play music"));
    QCOMPARE(editor->txtShell->text(), QStringLiteral("rhythmbox"));
    QCOMPARE(test.checkedOptions(editor), option.isEmpty() ? QStringList{} : QStringList{option});
    QCOMPARE(editor->intFocus, intFocus);

    QTest::mouseClick(editor->cmdSave, Qt::LeftButton);
    QCOMPARE(test.window.lstFocus->item(1)->text(), QString::number(intFocus));
}

void tst_PairEditor::edit_replacesTheRowInPlace()
{
    Editing test;
    setSelectedRow(test.window.lstPattern, 0);
    frmAddEdit* editor = test.open(test.window.cmdEdit);
    QVERIFY(editor);
    editor->txtString->setText(QStringLiteral("read mail"));
    editor->txtShell->setText(QStringLiteral("mutt"));
    QTest::mouseClick(editor->cmdSave, Qt::LeftButton);

    QCOMPARE(TestWindow::rows(test.window.lstPattern), (QStringList{"read mail", "play music"}));
    QCOMPARE(TestWindow::rows(test.window.lstCommand), (QStringList{"mutt", "rhythmbox"}));
    QCOMPARE(TestWindow::rows(test.window.lstFocus), (QStringList{"3", "1"}));
    QVERIFY(test.window.lstLog->item(test.window.lstLog->count() - 1)
                ->text()
                .endsWith(QStringLiteral(
                    " Updated entry, voice command [read mail] will execute: mutt")));
}

void tst_PairEditor::option_choiceIsStored_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("stored");
    QTest::newRow("optHide") << "optHide"
                             << "0";
    QTest::newRow("optMinFoc") << "optMinFoc"
                               << "2";
    QTest::newRow("optMaxFoc") << "optMaxFoc"
                               << "3";
    QTest::newRow("optNormNoFoc") << "optNormNoFoc"
                                  << "4";
    QTest::newRow("optMinNoFoc") << "optMinNoFoc"
                                 << "6";
}

void tst_PairEditor::option_choiceIsStored()
{
    QFETCH(QString, option);
    QFETCH(QString, stored);
    Editing test;
    frmAddEdit* editor = test.open(test.window.cmdNew);
    QVERIFY(editor);
    editor->txtString->setText(QStringLiteral("x"));
    editor->txtShell->setText(QStringLiteral("y"));
    auto* button = editor->findChild<QRadioButton*>(option);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, button->height() / 2));
    QCOMPARE(test.checkedOptions(editor), QStringList{option});
    QTest::mouseClick(editor->cmdSave, Qt::LeftButton);
    QCOMPARE(TestWindow::rows(test.window.lstFocus).last(), stored);
}

void tst_PairEditor::save_refusesWhatCannotBeKept_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("message"); // empty: accepted
    QTest::addColumn<QString>("focused");

    const QString tooLong =
        QStringLiteral("The text is too long to be kept: at most 254 bytes are "
                       "stored (a letter outside plain ASCII takes two or more).");
    QTest::newRow("both empty") << ""
                                << ""
                                << "Enter a voice command"
                                << "txtString";
    QTest::newRow("command empty") << "p"
                                   << ""
                                   << "Enter a command to execute"
                                   << "txtShell";
    QTest::newRow("blanks are accepted") << " "
                                         << " "
                                         << ""
                                         << "";
    QTest::newRow("254 bytes accepted") << QString(254, u'a') << "c"
                                        << ""
                                        << "";
    QTest::newRow("255 bytes refused") << QString(255, u'a') << "c" << tooLong << "txtString";
    QTest::newRow("127 two-byte letters refused")
        << "p" << QString(128, u'ü') << tooLong << "txtShell";
    QTest::newRow("line break refused") << "a\nb"
                                        << "c"
                                        << "The text must be a single line."
                                        << "txtString";
}

void tst_PairEditor::save_refusesWhatCannotBeKept()
{
    QFETCH(QString, pattern);
    QFETCH(QString, command);
    QFETCH(QString, message);
    QFETCH(QString, focused);

    Editing test;
    frmAddEdit* editor = test.open(test.window.cmdNew);
    QVERIFY(editor);
    editor->txtString->setText(pattern);
    editor->txtShell->setText(command);
    const int logLines = test.window.lstLog->count();
    QTest::mouseClick(editor->cmdSave, Qt::LeftButton);

    if (message.isEmpty()) {
        QVERIFY(test.messages->shown.isEmpty());
        QCOMPARE(test.window.lstPattern->count(), 3);
        return;
    }
    QCOMPARE(test.messages->shown.size(), 1);
    QCOMPARE(test.messages->shown[0].text, message);
    QCOMPARE(test.messages->shown[0].title, QStringLiteral("Kormil - Add Pair"));
    QCOMPARE(test.messages->shown[0].buttons, cMessageBox::Buttons::Ok);
    QCOMPARE(QApplication::focusWidget()->objectName(), focused);
    QVERIFY(editor->isVisible());
    QCOMPARE(editor->txtString->text(), pattern);
    QCOMPARE(test.window.lstPattern->count(), 2);
    QCOMPARE(test.window.lstLog->count(), logLines);
}

void tst_PairEditor::cancelAndFrameClose_changeNothing()
{
    Editing test;
    setSelectedRow(test.window.lstPattern, 0);
    for (bool byFrame : {false, true}) {
        frmAddEdit* editor = test.open(test.window.cmdEdit);
        QVERIFY(editor);
        editor->txtString->setText(QStringLiteral("changed"));
        const int logLines = test.window.lstLog->count();
        if (byFrame)
            editor->close();
        else
            QTest::mouseClick(editor->cmdCancel, Qt::LeftButton);
        QVERIFY(!editor->isVisible());
        QCOMPARE(TestWindow::rows(test.window.lstPattern),
                 (QStringList{"open mail", "play music"}));
        QCOMPARE(test.window.lstLog->count(), logLines);
        QVERIFY(test.window.bolEdit);
    }
}

void tst_PairEditor::reactivation_startsAfresh()
{
    Editing test;
    frmAddEdit* editor = test.open(test.window.cmdNew);
    QVERIFY(editor);
    editor->txtString->setText(QStringLiteral("typed"));
    editor->optMaxFoc->setChecked(true);
    test.backToMainAndReturn(editor);
    QVERIFY(editor->txtString->text().isEmpty());
    QCOMPARE(test.checkedOptions(editor), QStringList{"optNormFoc"});

    setSelectedRow(test.window.lstPattern, 0);
    editor = test.open(test.window.cmdEdit);
    QCOMPARE(editor->txtString->text(), QStringLiteral("open mail"));
    setSelectedRow(test.window.lstPattern, 1);
    test.backToMainAndReturn(editor);
    QCOMPARE(editor->txtString->text(), QStringLiteral("play music"));
    QCOMPARE(test.checkedOptions(editor), QStringList{"optNormFoc"});
}

void tst_PairEditor::focusBackFromAnotherProgram_keepsWhatWasTyped_data()
{
    QTest::addColumn<bool>("edit");
    QTest::addColumn<QString>("afresh"); // the pattern box after a visit to the main window
    QTest::newRow("add") << false << QString();
    QTest::newRow("edit") << true << QStringLiteral("open mail");
}

void tst_PairEditor::focusBackFromAnotherProgram_keepsWhatWasTyped()
{
    QFETCH(bool, edit);
    QFETCH(QString, afresh);
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server with another program on it (tst_pair_editor_xvfb)");
    QProcess other;
    other.start(QStringLiteral(X_CLIENT_EXECUTABLE), {QStringLiteral("terminal")});
    QVERIFY(other.waitForReadyRead(10000));
    const auto otherWindow = static_cast<xcb_window_t>(other.readLine().trimmed().toULong());

    Editing test;
    setSelectedRow(test.window.lstPattern, 0);
    frmAddEdit* editor = test.open(edit ? test.window.cmdEdit : test.window.cmdNew);
    QVERIFY(editor);
    editor->txtString->selectAll();
    QTest::keyClicks(editor->txtString, QStringLiteral("write mail"));
    editor->txtShell->selectAll();
    QTest::keyClicks(editor->txtShell, QStringLiteral("thunderbird -compose"));
    QTest::mouseClick(editor->optMinNoFoc, Qt::LeftButton);

    QTRY_VERIFY(giveXFocus(otherWindow));
    QTRY_VERIFY(!QGuiApplication::focusWindow());
    const auto clickInto = [](QWidget* window) {
        return giveXFocus(static_cast<xcb_window_t>(window->winId())) &&
               QTest::qWaitForWindowActive(window);
    };
    QVERIFY(clickInto(editor));
    QCOMPARE(editor->txtString->text(), QStringLiteral("write mail"));
    QCOMPARE(editor->txtShell->text(), QStringLiteral("thunderbird -compose"));
    QCOMPARE(test.checkedOptions(editor), QStringList{"optMinNoFoc"});

    QVERIFY(clickInto(&test.window));
    QVERIFY(clickInto(editor));
    QCOMPARE(editor->txtString->text(), afresh);
    endProcess(other);
}

void tst_PairEditor::edit_afterThePairWasDeleted_changesNothing()
{
    Editing test;
    setSelectedRow(test.window.lstPattern, 1);
    frmAddEdit* editor = test.open(test.window.cmdEdit);
    QVERIFY(editor);
    test.window.cmdDel_Click(); // answered Yes by the fake; the editor stays active meanwhile
    editor->txtShell->setText(QStringLiteral("changed"));
    editor->cmdSave_Click();
    QCOMPARE(test.messages->shown.size(), 2);
    QCOMPARE(test.messages->shown[1].title, QStringLiteral("Kormil - Add Pair"));
    QCOMPARE(TestWindow::rows(test.window.lstPattern), QStringList{"open mail"});
    QCOMPARE(TestWindow::rows(test.window.lstCommand), QStringList{"thunderbird"});
    QVERIFY(editor->isVisible());
}

void tst_PairEditor::edit_afterAVoiceMovedTheSelection_updatesTheEditedPair()
{
    Editing test;
    setSelectedRow(test.window.lstPattern, 0);
    frmAddEdit* editor = test.open(test.window.cmdEdit);
    QVERIFY(editor);
    setSelectedRow(test.window.lstPattern, 1); // as a matched voice string does
    editor->txtShell->setText(QStringLiteral("evolution"));
    editor->cmdSave_Click();
    QCOMPARE(TestWindow::rows(test.window.lstCommand), (QStringList{"evolution", "rhythmbox"}));
    QCOMPARE(TestWindow::rows(test.window.lstPattern), (QStringList{"open mail", "play music"}));
}

void tst_PairEditor::duplicatePattern_isAppended()
{
    Editing test;
    frmAddEdit* editor = test.open(test.window.cmdNew);
    QVERIFY(editor);
    editor->txtString->setText(QStringLiteral("open mail"));
    editor->txtShell->setText(QStringLiteral("other"));
    editor->cmdSave_Click();
    QCOMPARE(TestWindow::rows(test.window.lstPattern),
             (QStringList{"open mail", "play music", "open mail"}));
}

void tst_PairEditor::keys_saveAndCancel_data()
{
    QTest::addColumn<bool>("edit");
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QStringList>("messages");

    const QStringList unchanged{"thunderbird", "rhythmbox"};
    QTest::newRow("add, Return in the pattern box")
        << false << "txtString" << int(Qt::Key_Return) << "xterm"
        << QStringList{"thunderbird", "rhythmbox", "xterm"} << QStringList{};
    QTest::newRow("add, Enter in the command box")
        << false << "txtShell" << int(Qt::Key_Enter) << "xterm"
        << QStringList{"thunderbird", "rhythmbox", "xterm"} << QStringList{};
    QTest::newRow("edit, Return in the command box")
        << true << "txtShell" << int(Qt::Key_Return) << "xterm"
        << QStringList{"thunderbird", "xterm"} << QStringList{};
    QTest::newRow("add, Return with no command is refused")
        << false << "txtString" << int(Qt::Key_Return) << "" << unchanged
        << QStringList{"Enter a command to execute"};
    QTest::newRow("add, Escape") << false << "txtShell" << int(Qt::Key_Escape) << "xterm"
                                 << unchanged << QStringList{};
    QTest::newRow("edit, Escape") << true << "txtString" << int(Qt::Key_Escape) << "xterm"
                                  << unchanged << QStringList{};
}

void tst_PairEditor::keys_saveAndCancel()
{
    QFETCH(bool, edit);
    QFETCH(QString, box);
    QFETCH(int, key);
    QFETCH(QString, command);
    QFETCH(QStringList, commands);
    QFETCH(QStringList, messages);

    Editing test;
    setSelectedRow(test.window.lstPattern, 1);
    frmAddEdit* editor = test.open(edit ? test.window.cmdEdit : test.window.cmdNew);
    QVERIFY(editor);
    editor->txtString->setText(QStringLiteral("say it"));
    editor->txtShell->setText(command);
    QTest::keyClick(editor->findChild<QLineEdit*>(box), Qt::Key(key));

    QCOMPARE(TestWindow::rows(test.window.lstCommand), commands);
    QStringList shown;
    for (const auto& message : std::as_const(test.messages->shown))
        shown << message.text;
    QCOMPARE(shown, messages);
    QCOMPARE(editor->isVisible(), !messages.isEmpty());
}

void tst_PairEditor::add_scrollsTheNewRowIntoView()
{
    Editing test;
    for (int i = 0; i < 100; ++i)
        test.addPair(QStringLiteral("say %1").arg(i), QStringLiteral("cmd %1").arg(i), "1");
    setSelectedRow(test.window.lstPattern, 0);
    frmAddEdit* editor = test.open(test.window.cmdNew);
    QVERIFY(editor);
    editor->txtString->setText(QStringLiteral("newest"));
    editor->txtShell->setText(QStringLiteral("xterm"));
    editor->cmdSave_Click();

    for (QListWidget* list : {test.window.lstPattern, test.window.lstCommand}) {
        const QRect lastRow = list->visualItemRect(list->item(list->count() - 1));
        QVERIFY2(list->viewport()->rect().contains(lastRow), qPrintable(list->objectName()));
    }
    QCOMPARE(selectedRow(test.window.lstPattern), 0);
}

void tst_PairEditor::add_toAFullTable_isRefused_data()
{
    QTest::addColumn<bool>("fullBeforeNew");
    QTest::newRow("New on a full table") << true;
    // The dialog is not modal: the table may fill up while it is open.
    QTest::newRow("Add after the table filled up") << false;
}

void tst_PairEditor::add_toAFullTable_isRefused()
{
    QFETCH(bool, fullBeforeNew);
    Editing test;
    const auto fillTo = [&test](int rows) {
        QStringList texts;
        for (int i = test.window.lstPattern->count(); i < rows; ++i)
            texts << QStringLiteral("p%1").arg(i);
        for (QListWidget* list :
             {test.window.lstPattern, test.window.lstCommand, test.window.lstFocus})
            list->addItems(texts);
    };
    fillTo(fullBeforeNew ? 32767 : 32766);
    frmAddEdit* editor = nullptr;
    if (fullBeforeNew) {
        QTest::mouseClick(test.window.cmdNew, Qt::LeftButton);
        QVERIFY(!test.window.pairEditor());
    } else {
        editor = test.open(test.window.cmdNew);
        QVERIFY(editor);
        QTest::keyClicks(editor->txtString, QStringLiteral("one too many"));
        QTest::keyClicks(editor->txtShell, QStringLiteral("true"));
        fillTo(32767);
        QTest::mouseClick(editor->cmdSave, Qt::LeftButton);
        QVERIFY(editor->isVisible());
    }
    QCOMPARE(test.window.lstPattern->count(), 32767);
    QCOMPARE(test.window.lstFocus->count(), 32767);
    QCOMPARE(test.messages->shown.size(), 1);
    QCOMPARE(test.messages->shown[0].title, QStringLiteral("Kormil - Add Pair"));
    QVERIFY(test.messages->shown[0].text.contains(QStringLiteral("32767 pairs")));
}

QTEST_MAIN(tst_PairEditor)
#include "tst_pair_editor.moc"
