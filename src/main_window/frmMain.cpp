#include "frmMain.h"

#include "accessible_texts.h"
#include "cClock.h"
#include "cMessageBox.h"
#include "cPairTable.h"
#include "cPairsReadAhead.h"
#include "kormil_icon.h"
#include "launcher/cShell.h"
#include "listener/cPatternIndex.h"
#include "listener/cWinsock.h"
#include "pair_editor/frmAddEdit.h"
#include "twips.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

frmMainSeams frmMainSeams::real(std::shared_ptr<cShell> shell)
{
    const QFileInfo executable(QCoreApplication::applicationFilePath());
    return {std::make_shared<cMessageBox>(), std::make_shared<cClock>(), std::move(shell),
            executable.absolutePath() + u'/' + executable.fileName() + QStringLiteral(".ini")};
}

frmMain::frmMain(frmMainSeams seams, QWidget* parent)
    : QWidget(parent), seams_(std::move(seams)),
      pairsAhead_(seams_.settingsPath.isEmpty()
                      ? nullptr
                      : std::make_unique<cPairsReadAhead>(seams_.settingsPath))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Kormil"));
    setWindowIcon(kormilIcon());
    buildLayout();
    connectHandlers();
    watchPairTable();
    watchCommandEnds();
}

frmMain::~frmMain()
{
    // Destroying the lists resets their models; this half-destroyed window must not hear it.
    for (QListWidget* list : {lstPattern, lstCommand, lstFocus}) {
        list->model()->disconnect(this);
        list->disconnect(this);
    }
    // The launcher may outlive this window and go on reaping.
    seams_.shell->setEndReport({});
    seams_.shell->setStyleReport({});
}

void frmMain::buildLayout()
{
    useDesignFont(this);
    const int dpi = logicalDpiX();
    setFixedSize(twipsToPixels(12285, dpi), twipsToPixels(5880, dpi));

    lblTCP = placeControl<QLabel>(this, "lblTCP", {0, 120, 735, 255}, QStringLiteral("TCP Port:"));
    txtPort =
        placeControl<QLineEdit>(this, "txtPort", {840, 120, 615, 285}, QStringLiteral("2011"));
    cmdListen = placeControl<QPushButton>(this, "cmdListen", {1560, 120, 1335, 255},
                                          QStringLiteral("Listen"));
    cmdNew = placeControl<QPushButton>(this, "cmdNew", {3960, 120, 2175, 255},
                                       QStringLiteral("New string/command pair"));
    cmdEdit = placeControl<QPushButton>(this, "cmdEdit", {6600, 120, 1335, 255},
                                        QStringLiteral("Edit Selection"));
    cmdDel = placeControl<QPushButton>(this, "cmdDel", {8400, 120, 1335, 255},
                                       QStringLiteral("Delete Selection"));
    cmdRun =
        placeControl<QPushButton>(this, "cmdRun", {10200, 120, 1335, 255}, QStringLiteral("Run"));
    lblSpeech = placeControl<QLabel>(this, "lblSpeech", {0, 480, 1215, 255},
                                     QStringLiteral("Speech Pattern:"));
    lblShell = placeControl<QLabel>(this, "lblShell", {3960, 480, 1215, 255},
                                    QStringLiteral("Shell Command:"));
    lstPattern = placeControl<QListWidget>(this, "lstPattern", {0, 720, 3855, 3375});
    lstCommand = placeControl<QListWidget>(this, "lstCommand", {3960, 720, 8295, 3375});
    // Lies beyond the right edge at the design size, yet is reachable with the tab key.
    lstFocus = placeControl<QListWidget>(this, "lstFocus", {12480, 840, 975, 3180});
    lblLog =
        placeControl<QLabel>(this, "lblLog", {0, 4200, 975, 255}, QStringLiteral("Output Log:"));
    cmdClear = placeControl<QPushButton>(this, "cmdClear", {11280, 4200, 975, 255},
                                         QStringLiteral("Clear Log"));
    lstLog = placeControl<QListWidget>(this, "lstLog", {0, 4440, 12255, 1425});

    patternIndex_ = new cPatternIndex(lstPattern);
    pairTable_ = new cPairTable({lstPattern, lstCommand, lstFocus}, this);
    wckTCP = new cWinsock(this);
    wckTCP->setObjectName(QStringLiteral("wckTCP"));
    tmrWinsock = new QTimer(this);
    tmrWinsock->setObjectName(QStringLiteral("tmrWinsock"));
    tmrWinsock->setInterval(1000);
    screenUpdate_ = new QTimer(this);
    screenUpdate_->setSingleShot(true);

    // Rows of one height let the views add a line without measuring every line again.
    for (QListWidget* list : {lstPattern, lstCommand, lstFocus, lstLog})
        list->setUniformItemSizes(true);
    for (QPushButton* button : {cmdListen, cmdNew, cmdEdit, cmdDel, cmdRun, cmdClear})
        button->setAutoDefault(false);

    QWidget* const tabOrder[] = {lstPattern, lstCommand, cmdDel,  cmdEdit,  cmdNew, lstLog,
                                 cmdClear,   cmdListen,  txtPort, lstFocus, cmdRun};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    describeMainWindow(*this);
}

void frmMain::connectHandlers()
{
    connect(lstPattern, &QListWidget::itemSelectionChanged, this, &frmMain::lstPattern_Click);
    connect(lstCommand, &QListWidget::itemSelectionChanged, this, &frmMain::lstCommand_Click);
    connect(lstFocus, &QListWidget::itemSelectionChanged, this, &frmMain::lstFocus_Click);
    connect(cmdDel, &QPushButton::clicked, this, &frmMain::cmdDel_Click);
    connect(cmdEdit, &QPushButton::clicked, this, &frmMain::cmdEdit_Click);
    connect(cmdNew, &QPushButton::clicked, this, &frmMain::cmdNew_Click);
    connect(cmdClear, &QPushButton::clicked, this, &frmMain::cmdClear_Click);
    connect(cmdListen, &QPushButton::clicked, this, &frmMain::cmdListen_Click);
    connect(cmdRun, &QPushButton::clicked, this, &frmMain::cmdRun_Click);
    // Keys in addition to the buttons, for those who work without a mouse.
    connect(pairTable_, &cPairTable::editRequested, this, &frmMain::cmdEdit_Click);
    connect(pairTable_, &cPairTable::deleteRequested, this, &frmMain::cmdDel_Click);
    connect(new QShortcut(QKeySequence::New, this), &QShortcut::activated, this,
            &frmMain::cmdNew_Click);
    connect(tmrWinsock, &QTimer::timeout, this, &frmMain::tmrWinsock_Timer);
    connect(screenUpdate_, &QTimer::timeout, this, &frmMain::updateScreen);
    connect(wckTCP, &cWinsock::ConnectionRequest, this, &frmMain::wckTCP_ConnectionRequest);
    connect(wckTCP, &cWinsock::DataArrival, this, &frmMain::wckTCP_DataArrival);
}

void frmMain::closeUnattended()
{
    unattended_ = true;
    close();
}

void frmMain::saveBeforeAbruptExit()
{
    if (tableSaved_)
        return;
    unattended_ = true;
    Form_Unload();
}

void frmMain::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    // Closing the main window ends the program, the pair editor included.
    if (frmAddEdit_)
        frmAddEdit_->close();
    event->accept();
}
