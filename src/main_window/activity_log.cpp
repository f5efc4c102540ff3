#include "accessible_texts.h"
#include "cClock.h"
#include "frmMain.h"
#include "terminal_text.h"

#include <QListWidget>
#include <QLocale>
#include <climits>
#include <poll.h>
#include <unistd.h>

namespace {

// The system's short time format, with seconds added where it has none.
QString timeWithSeconds(const QLocale& locale, const QTime& time)
{
    QString format = locale.timeFormat(QLocale::ShortFormat);
    if (!format.contains(u's')) {
        const qsizetype minutes = format.lastIndexOf(QStringLiteral("mm"));
        if (minutes >= 0) {
            const QChar separator = minutes > 0 ? format.at(minutes - 1) : QChar(u':');
            format.insert(minutes + 2, separator + QStringLiteral("ss"));
        }
    }
    return locale.toString(time, format);
}

// A terminal or a journal may read the log too; a pipe that nobody drains must never make the
// program stop listening, so a line that cannot be written at once is left out there. Voice
// strings are the peer's text: raw, they could forge lines or drive the terminal.
void echoToStandardError(const QString& line)
{
    QByteArray echo = terminalSafe(line).toLocal8Bit().left(PIPE_BUF - 1) + '\n';
    pollfd standardError{STDERR_FILENO, POLLOUT, 0};
    if (::poll(&standardError, 1, 0) == 1 && (standardError.revents & POLLOUT)) {
        [[maybe_unused]] const ssize_t written =
            ::write(STDERR_FILENO, echo.constData(), static_cast<std::size_t>(echo.size()));
    }
}

} // namespace

void frmMain::Log(const QString& strLog)
{
    const QLocale locale;
    const QString date = locale.toString(seams_.clock->currentDate(), QLocale::ShortFormat);
    const QString time = timeWithSeconds(locale, seams_.clock->currentTime());
    const QString line = date + u'@' + time + u' ' + strLog;

    if (lstLog->count() >= kMaxLogLines)
        delete lstLog->takeItem(0);
    lstLog->addItem(line);
    selectNewestLogLineSoon();
    noteLogged(*this, strLog);

    echoToStandardError(line);
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
    lstLog->clear();
    Log(QStringLiteral("Log cleared"));
}
