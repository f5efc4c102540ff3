#pragma once

#include <QString>
#include <QStringList>

// For a voice string that matched no pattern: the log line that names the first pattern it
// would have matched but for blanks or line ends at either end, or upper and lower case; ""
// when there is none. Matching itself stays exact; this only tells the user why it failed.
QString nearMissHint(const QStringList& patterns, const QString& voiceString);
