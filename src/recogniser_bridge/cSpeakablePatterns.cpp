#include "cSpeakablePatterns.h"

namespace {

bool isSpeakable(QChar c)
{
    return c.isLetter() || c == u'\'' || c == u' ';
}

} // namespace

cSpeakablePatterns::cSpeakablePatterns(const QStringList& patterns, const PhoneCount& phonesOf)
{
    for (const QString& pattern : patterns) {
        const QString spoken = pattern.toLower().simplified();
        if (spoken.isEmpty())
            continue;
        if (!std::all_of(spoken.begin(), spoken.end(), isSpeakable)) {
            leftOut_.append({pattern, QStringLiteral("not speakable: only letters, apostrophes "
                                                     "and blanks can be spoken")});
            continue;
        }
        QStringList unknown;
        int phones = 0;
        for (const QString& word : spoken.split(u' ')) {
            const int count = phonesOf(word);
            if (count == 0 && !unknown.contains(word))
                unknown.append(word);
            phones += count;
        }
        if (!unknown.isEmpty()) {
            leftOut_.append({pattern, QStringLiteral("not in the dictionary: ") +
                                          unknown.join(QStringLiteral(", "))});
            continue;
        }
        if (!patternFor(spoken).isEmpty()) {
            leftOut_.append({pattern, QStringLiteral("spoken as \"%1\" already").arg(spoken)});
            continue;
        }
        phrases_.append({pattern, spoken, phones});
    }
}

QString cSpeakablePatterns::patternFor(const QString& spoken) const
{
    for (const Phrase& phrase : phrases_) {
        if (phrase.spoken == spoken)
            return phrase.pattern;
    }
    return QString();
}

QString cSpeakablePatterns::summary() const
{
    QString line = phrases_.size() == 1
                       ? QStringLiteral("listening for 1 pattern")
                       : QStringLiteral("listening for %1 patterns").arg(phrases_.size());
    for (const LeftOut& left : leftOut_)
        line += QStringLiteral("; left out \"%1\" (%2)").arg(left.pattern, left.reason);
    return line;
}
