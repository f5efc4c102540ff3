#pragma once

#include <QString>
#include <QStringList>

// The speech patterns of a settings file, as Kormil loads them: through the store, from section
// "pairs", every row up to the highest pattern key, in row order, empty ones skipped.
QStringList readSpeechPatterns(const QString& settingsPath);
