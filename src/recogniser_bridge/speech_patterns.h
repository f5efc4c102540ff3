#pragma once

#include <QString>
#include <QStringList>

// The speech patterns of a settings file, as Kormil loads them: through the store, from section
// "pairs", in row order, empty ones skipped, no more rows than the section's keys make.
QStringList readSpeechPatterns(const QString& settingsPath);
