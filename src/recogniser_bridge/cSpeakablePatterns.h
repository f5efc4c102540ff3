#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// The speech patterns a recogniser can listen for, each with the words it is spoken as, and
// those it cannot, each with the reason.
class cSpeakablePatterns {
public:
    struct Phrase {
        QString pattern; // as the settings file holds it, and as it is sent
        QString spoken;  // lower case, single blanks
        int phones = 0;  // length in the dictionary's phones
    };
    struct LeftOut {
        QString pattern;
        QString reason;
    };

    // The number of phones of a word, or 0 when the dictionary lacks it.
    using PhoneCount = std::function<int(const QString& word)>;

    // Empty patterns are skipped; a spoken form already taken by an earlier pattern is left out,
    // since Kormil would run the earlier pair for it too.
    cSpeakablePatterns(const QStringList& patterns, const PhoneCount& phonesOf);

    const QList<Phrase>& phrases() const { return phrases_; }
    const QList<LeftOut>& leftOut() const { return leftOut_; }
    // The pattern spoken as these words, or an empty text.
    QString patternFor(const QString& spoken) const;
    // One line: how many patterns are listened for, and each left out with its reason.
    QString summary() const;

private:
    QList<Phrase> phrases_;
    QList<LeftOut> leftOut_;
};
