#include "cClock.h"
#include "frmMain.h"

#include <QListWidget>
#include <QLocale>
#include <cstdio>

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
    lstLog->setCurrentRow(lstLog->count() - 1);

    const QByteArray echo = line.toLocal8Bit() + '\n';
    std::fwrite(echo.constData(), 1, static_cast<std::size_t>(echo.size()), stderr);
}

void frmMain::cmdClear_Click()
{
    lstLog->clear();
    Log(QStringLiteral("Log cleared"));
}
