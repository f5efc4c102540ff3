#pragma once

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

// The "<short date>@<time>" that begins a log line, in the default locale's short formats, the
// time with seconds. Formatting by a locale's pattern costs more than the rest of a voice
// command's way to its program, so the texts are made again only when the date, the second or
// the default locale has changed.
class cLogStamp {
public:
    QString text(const QDate& date, const QTime& time);

private:
    bool made_ = false;
    QLocale locale_;
    QDate date_;
    int second_ = -1;
    QString dateText_;
    QString timeText_;
};
