#pragma once

// frmMain's members are defined by subject, in these files:
//   main_window/frmMain.cpp          construction, layout, wiring, closing
//   main_window/pair_store.cpp       Form_Load, Form_Unload
//   main_window/pair_sync.cpp        tmrAutosave_Timer, the table kept in step with its file
//   main_window/activity_log.cpp     Log, cmdClear_Click, the held screen updates
//   main_window/pair_commands.cpp    the list clicks, cmdDel_Click, cmdEdit_Click, cmdNew_Click
//   listener/listener.cpp            cmdListen_Click, tmrWinsock_Timer, wckTCP_ConnectionRequest
//   listener/dispatch.cpp            wckTCP_DataArrival, RunCommand, cmdRun_Click
//   listener/allow_list_setting.cpp  loadAllowList
//   listener/command_end.cpp         watchCommandEnds

#include "cLogStamp.h"
#include "cScreenPacing.h"
#include "listener/cAllowList.h"
#include "pair_file.h"
#include "settings/cIniFile.h"

#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;
class cClock;
class cMessageBox;
class cPairTable;
class cPairsReadAhead;
class cPatternIndex;
class cShell;
class cWinsock;
class frmAddEdit;

// What frmMain reaches outside itself; tests replace any of them.
struct frmMainSeams {
    std::shared_ptr<cMessageBox> messageBox;
    std::shared_ptr<cClock> clock;
    std::shared_ptr<cShell> shell;
    // The settings file; by default beside the executable, named after it, with ".ini".
    QString settingsPath;

    // The program's own: real message boxes and clock, the given launcher, the file beside the
    // executable.
    static frmMainSeams real(std::shared_ptr<cShell> shell);
};

// The main window: the pair table in three index-aligned lists (row i of lstPattern,
// lstCommand and lstFocus is pair i), the listener's controls, and the activity log.
class frmMain : public QWidget {
    Q_OBJECT

public:
    explicit frmMain(frmMainSeams seams, QWidget* parent = nullptr);
    ~frmMain() override;

    // Logs the start, loads section "pairs" of the settings file into the lists, and starts
    // listening as a press of Listen does.
    void Form_Load();
    // Replaces section "pairs" with the table as it stands, in one atomic update; tells the
    // user when that fails. Runs when the window closes.
    void Form_Unload();
    // Closes the window, and so saves the table, for a shutdown that nobody watches (a signal):
    // a failed save is then logged instead of waiting on a message box.
    void closeUnattended();
    // For an exit that closes no window: saves the table unattended, unless it was saved.
    void saveBeforeAbruptExit();
    // Saves the table once it has changed: a change starts tmrAutosave, whose tick saves, so
    // that a burst of changes costs one save. A failed save is logged and told in a box, once
    // until a save succeeds again.
    void tmrAutosave_Timer();
    static constexpr int kAutosaveMs = 500;
    // The settings file changed on disk. When its section "pairs" is not what the table was
    // loaded from or saved as: a table without changes of its own is reloaded; with changes of
    // its own, the user is asked whether the window's table or the file's pairs stay (while
    // nobody watches, the window's, and its save keeps the file's as a backup). A file that is
    // gone or cannot be read changes nothing.
    void pairFile_Changed();

    // Appends "<short date>@<time> <message>" to lstLog and selects it, once the event loop
    // turns. Past kMaxLogLines the oldest line goes. Each line is echoed to standard error at
    // once. Lines logged while a peer connects or a voice string is dispatched reach lstLog with
    // the selection of the matched pair once strings stop coming for a moment (cScreenPacing),
    // together with those of any string that came meanwhile.
    void Log(const QString& strLog);
    static constexpr int kMaxLogLines = 32767;

    void cmdClear_Click();

    // Listen: listens on the port in txtPort and turns the watchdog on. Stop: closes the socket,
    // cutting off a connected peer, and turns the watchdog off. A failure tells the user.
    void cmdListen_Click();
    // The watchdog: listens again, on the same port, once the peer has gone or the socket has
    // failed. A silent peer is left alone.
    void tmrWinsock_Timer();
    // Stops listening and becomes the connection to the peer.
    void wckTCP_ConnectionRequest(std::int32_t requestID);
    // The text that arrived is one voice string; the first pair whose pattern equals it is
    // selected and run.
    void wckTCP_DataArrival(std::int32_t bytesTotal);
    // Starts the selected pair's command with its window style.
    void RunCommand();
    void cmdRun_Click();

    // Keep the three pair lists on one selected row (-1: none).
    void lstPattern_Click();
    void lstCommand_Click();
    void lstFocus_Click();
    // Asks, then removes the selected pair from all three lists.
    void cmdDel_Click();
    // Open the pair editor, not modal, to edit the selected pair or to add one.
    void cmdEdit_Click();
    void cmdNew_Click();

    // The pair editor, once it has been opened; null before.
    frmAddEdit* pairEditor() const { return frmAddEdit_.get(); }

    // True: the pair editor edits the selected pair; false: it adds a new one.
    bool bolEdit = false;

    QLabel* lblTCP;
    QLineEdit* txtPort;
    QPushButton* cmdListen;
    QPushButton* cmdNew;
    QPushButton* cmdEdit;
    QPushButton* cmdDel;
    QPushButton* cmdRun;
    QLabel* lblSpeech;
    QLabel* lblShell;
    QListWidget* lstPattern;
    QListWidget* lstCommand;
    QListWidget* lstFocus;
    QLabel* lblLog;
    QPushButton* cmdClear;
    QListWidget* lstLog;
    cWinsock* wckTCP;
    QTimer* tmrWinsock;
    QTimer* tmrAutosave;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildLayout();
    void connectHandlers();
    void showPairEditor();
    void logStartedListening();
    void acceptPeer(std::int32_t requestID);
    // Reads [listener] allow= of the settings file, when it is there, and logs what it ignores.
    void loadAllowList();
    void logNearMiss(const QString& voiceString);
    // Logs each started command that ends with a failure or by a signal, as it ends, and each
    // window style that did not take.
    void watchCommandEnds();
    void selectNewestLogLineSoon();
    // Shows what a dispatch left for the screen: selects the matched pair and appends the
    // held log lines, in one go.
    void updateScreen();
    // Does the work with the screen held, then shows what it left when cScreenPacing says: the
    // started program runs first, and the strings that come meanwhile are shown with it.
    void holdScreenDuring(const std::function<void()>& work);
    void dispatchVoiceString();
    void runCommandLine(const QString& commandLine, const QString& windowStyle);
    // Closes and listens again on the socket's port; a failure is logged once, and the watchdog
    // tries again on every later tick until it listens.
    void listenAgain();
    // Tells what became of a save of the table: a backup (kept for `backupReason`) and a save
    // in place in the log, a failure in a message box (in the log when unattended).
    void reportSave(const profile::SaveOutcome& outcome, const QString& backupReason);
    // The rows of section "pairs" read ahead and appended to the lists, and what the reading
    // found.
    struct RowsReadAhead;
    // Loads section "pairs" into the lists, which are empty or hold the rows read ahead; these
    // stay when the file still holds the text they were read from. Returns the number of rows.
    int loadPairs(RowsReadAhead* ahead = nullptr);
    // Appends the rows read that have a pattern to the lists, and to `rows`.
    void appendRows(pair_file::RowValues read, pair_file::LoadedRows& rows);
    // Replaces section "pairs" with the table in one atomic update and reports the outcome;
    // false when the table did not reach the file.
    bool savePairs();
    void tellSaveFailed(const QString& failure);
    // Follows every change of the pair lists' texts with tmrAutosave.
    void watchPairTable();
    void pairTable_Changed();
    // Watches the settings file from now on.
    void watchPairFile();
    // The fingerprint of section "pairs" as the file holds it now; none when the file is gone
    // or cannot be read.
    std::optional<std::size_t> pairsOnDiskNow();
    // Loads the file's pairs in place of the table, and says so.
    void reloadPairs();
    // Says at start-up when the file, or its folder, will keep saves out.
    void logUnwritableSettings();

    frmMainSeams seams_;
    // Section "pairs", read from the settings file while the window is built, until Form_Load
    // takes it.
    std::unique_ptr<cPairsReadAhead> pairsAhead_;
    cIniFile iniFile_;
    std::unique_ptr<frmAddEdit> frmAddEdit_;
    std::int16_t intLoop = 0;
    bool listenAgainPending_ = false;
    bool unattended_ = false;
    bool logSelectionPending_ = false;
    cLogStamp logStamp_;
    // While set, the screen is left alone and what is to be shown waits for updateScreen.
    bool screenHeld_ = false;
    QStringList pendingLogLines_;
    QStringList pendingLogMessages_;
    std::optional<int> pendingPairRow_;
    QTimer* screenUpdate_;
    cScreenPacing screenPacing_;
    bool tableSaved_ = false;
    // The table holds changes that are not in the file yet.
    bool tableChanged_ = false;
    bool loadingPairs_ = false;
    bool autosaving_ = false;
    bool saveFailureShown_ = false;
    bool askingAboutFile_ = false;
    profile::SaveOutcome::InPlace inPlaceSaid_ = profile::SaveOutcome::InPlace::No;
    pair_file::OnDisk pairsOnDisk_;
    cPatternIndex* patternIndex_;
    cPairTable* pairTable_;
    cAllowList allowList_;
};
