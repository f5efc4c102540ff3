#include "accessible_texts.h"
#include "cClock.h"
#include "frmMain.h"
#include "list_selection.h"
#include "standard_streams.h"
#include "terminal_text.h"

#include <QAbstractItemModel>
#include <QListWidget>
#include <QScopedValueRollback>
#include <QTimer>
#include <cerrno>
#include <climits>
#include <poll.h>
#include <unistd.h>

namespace {

// A terminal or a journal may read the log too; a pipe that nobody drains must never make the
// program stop listening, so a line that cannot be written at once is left out there. Voice
// strings are the peer's text: raw, they could forge lines or drive the terminal.
void echoToStandardError(const QString& line)
{
    QByteArray echo = terminalSafe(line).toLocal8Bit().left(PIPE_BUF - 1) + '\n';
    pollfd standardError{STDERR_FILENO, POLLOUT, 0};
    if (::poll(&standardError, 1, 0) != 1)
        return;
    bool readerGone = standardError.revents & (POLLERR | POLLNVAL);
    if (!readerGone && (standardError.revents & POLLOUT)) {
        readerGone =
            ::write(STDERR_FILENO, echo.constData(), static_cast<std::size_t>(echo.size())) < 0 &&
            errno != EAGAIN && errno != EINTR;
    }
    // A pager that quit or a terminal that closed: the table and the listener matter more.
    if (readerGone)
        stopWritingToStandardError();
}

} // namespace

void frmMain::Log(const QString& strLog)
{
    const cClock::Reading now = seams_.clock->now();
    const QString line = logStamp_.text(now.date, now.time) + u' ' + strLog;
    echoToStandardError(line);
    pendingLogLines_.append(line);
    pendingLogMessages_.append(strLog);
    if (!screenHeld_)
        updateScreen();
}

void frmMain::updateScreen()
{
    screenUpdate_->stop();
    screenPacing_.shown(cScreenPacing::Clock::now());
    if (pendingPairRow_) {
        const int row = *pendingPairRow_;
        pendingPairRow_.reset();
        setSelectedRow(lstPattern, row);
        setSelectedRow(lstCommand, row);
        setSelectedRow(lstFocus, row);
    }
    if (pendingLogLines_.isEmpty())
        return;
    if (pendingLogLines_.size() > kMaxLogLines)
        pendingLogLines_.remove(0, pendingLogLines_.size() - kMaxLogLines);
    const int excess = lstLog->count() + static_cast<int>(pendingLogLines_.size()) - kMaxLogLines;
    if (excess > 0)
        lstLog->model()->removeRows(0, excess);
    lstLog->addItems(pendingLogLines_);
    pendingLogLines_.clear();
    selectNewestLogLineSoon();
    for (const QString& message : std::as_const(pendingLogMessages_))
        noteLogged(*this, message);
    pendingLogMessages_.clear();
}

void frmMain::holdScreenDuring(const std::function<void()>& work)
{
    {
        const QScopedValueRollback<bool> holdScreen(screenHeld_, true);
        work();
    }
    screenUpdate_->start(screenPacing_.afterDispatch(cScreenPacing::Clock::now()));
}

// Selecting a line of a shown list lays out all its lines again, which takes a millisecond once
// the log is long. Doing it once per turn of the event loop, after that turn's work, keeps it
// from delaying the command a voice string starts.
void frmMain::selectNewestLogLineSoon()
{
    if (logSelectionPending_)
        return;
    logSelectionPending_ = true;
    QMetaObject::invokeMethod(
        lstLog,
        [this] {
            logSelectionPending_ = false;
            lstLog->setCurrentRow(lstLog->count() - 1);
        },
        Qt::QueuedConnection);
}

void frmMain::cmdClear_Click()
{
    pendingLogLines_.clear();
    pendingLogMessages_.clear();
    lstLog->clear();
    Log(QStringLiteral("Log cleared"));
}
