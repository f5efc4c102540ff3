#include "cLogStamp.h"

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

QString cLogStamp::text(const QDate& date, const QTime& time)
{
    const QLocale locale;
    const bool sameLocale = made_ && locale == locale_;
    if (!sameLocale || date != date_)
        dateText_ = locale.toString(date, QLocale::ShortFormat);
    const int second = time.msecsSinceStartOfDay() / 1000;
    if (!sameLocale || second != second_)
        timeText_ = timeWithSeconds(locale, time);
    made_ = true;
    locale_ = locale;
    date_ = date;
    second_ = second;
    return dateText_ + u'@' + timeText_;
}
