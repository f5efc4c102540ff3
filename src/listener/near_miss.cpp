#include "near_miss.h"

namespace {

QString loose(const QString& text)
{
    return text.trimmed().toCaseFolded();
}

bool isOnlyATrailingLineEnd(const QString& voiceString, const QString& pattern)
{
    QString chopped = voiceString;
    while (chopped.endsWith(u'\n') || chopped.endsWith(u'\r'))
        chopped.chop(1);
    return chopped.size() < voiceString.size() &&
           chopped.compare(pattern, Qt::CaseInsensitive) == 0;
}

QString difference(const QString& voiceString, const QString& pattern)
{
    QStringList parts;
    if (voiceString.trimmed() != pattern.trimmed())
        parts << QStringLiteral("upper and lower case");
    if (isOnlyATrailingLineEnd(voiceString, pattern))
        parts << QStringLiteral("a trailing line end");
    else if (voiceString.compare(pattern, Qt::CaseInsensitive) != 0)
        parts << QStringLiteral("blanks or line ends at its start or end");
    return parts.join(QStringLiteral(" and "));
}

} // namespace

QString nearMissHint(const QStringList& patterns, const QString& voiceString)
{
    const QString wanted = loose(voiceString);
    if (wanted.isEmpty())
        return {};
    for (const QString& pattern : patterns) {
        if (loose(pattern) == wanted)
            return QStringLiteral("Closest pattern: \"%1\" (differs only in %2)")
                .arg(pattern, difference(voiceString, pattern));
    }
    return {};
}
