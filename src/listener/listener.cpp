#include "cWinsock.h"
#include "main_window/cMessageBox.h"
#include "main_window/frmMain.h"
#include "runtime/cRaisedError.h"
#include "runtime/number_text.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <limits>

namespace {

const QString kListenCaption = QStringLiteral("Listen");

std::int32_t portNumber(const QString& text)
{
    const auto number = numtext::toRoundedInteger(text.toLocal8Bit().toStdString(),
                                                  std::numeric_limits<std::int32_t>::min(),
                                                  std::numeric_limits<std::int32_t>::max());
    if (!number)
        throw cRaisedError(13, QStringLiteral("Type mismatch"));
    return static_cast<std::int32_t>(*number);
}

} // namespace

void frmMain::logStartedListening()
{
    Log(QStringLiteral("Kormil started listening on ") + wckTCP->LocalIP() +
        QStringLiteral(" TCP ") + QString::number(wckTCP->LocalPort()));
}

void frmMain::cmdListen_Click()
{
    try {
        if (cmdListen->text() == kListenCaption) {
            wckTCP->setLocalPort(portNumber(txtPort->text()));
            wckTCP->Listen();
            cmdListen->setText(QStringLiteral("Stop"));
            logStartedListening();
            tmrWinsock->start();
        } else {
            wckTCP->Close();
            cmdListen->setText(kListenCaption);
            Log(QStringLiteral("Kormil stopped listening"));
            tmrWinsock->stop();
        }
        listenAgainPending_ = false;
    } catch (const cRaisedError&) {
        cmdListen->setText(kListenCaption);
        seams_.messageBox->Show(
            this, QStringLiteral("Please specify a TCP port that is valid and not in use"),
            QStringLiteral("Kormil"), cMessageBox::Buttons::Ok);
        // Before the window is shown, at start-up, it cannot take the focus.
        if (isVisible())
            txtPort->setFocus();
    }
}

void frmMain::tmrWinsock_Timer()
{
    if (listenAgainPending_) {
        listenAgain();
        return;
    }
    if (wckTCP->State() == cWinsock::sckClosing) {
        Log(QStringLiteral("Restarting (client connetion lost)"));
        listenAgain();
    }
    if (wckTCP->State() == cWinsock::sckError) {
        Log(QStringLiteral("Restarting (socket state is error)"));
        listenAgain();
    }
}

void frmMain::listenAgain()
{
    try {
        wckTCP->Close();
        wckTCP->Listen();
        listenAgainPending_ = false;
        logStartedListening();
    } catch (const cRaisedError& error) {
        if (!listenAgainPending_) {
            Log(QStringLiteral("Could not listen again on TCP %1 (%2); trying again every second")
                    .arg(wckTCP->LocalPort())
                    .arg(error.text));
        }
        listenAgainPending_ = true;
    }
}

void frmMain::wckTCP_ConnectionRequest(std::int32_t requestID)
{
    // A peer that connects is about to send: the string it sends comes before the screen.
    holdScreenDuring([this, requestID] { acceptPeer(requestID); });
}

void frmMain::acceptPeer(std::int32_t requestID)
{
    try {
        wckTCP->Close();
        wckTCP->Accept(requestID);
        if (!allowList_.admits(wckTCP->RemoteHostIP())) {
            Log(QStringLiteral("Refused connection from %1:%2 (not in allow)")
                    .arg(wckTCP->RemoteHostIP())
                    .arg(wckTCP->RemotePort()));
            // The watchdog listens again, as after any peer that has gone.
            wckTCP->Disconnect();
            return;
        }
        Log(QStringLiteral("Connection from ") + wckTCP->RemoteHostIP() + u':' +
            QString::number(wckTCP->RemotePort()) + QStringLiteral(" established"));
    } catch (const cRaisedError& error) {
        Log(QStringLiteral("Could not accept a connection (%1)").arg(error.text));
        listenAgain();
    }
}
