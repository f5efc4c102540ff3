#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// What kormil-pocketsphinx was asked to do.
struct BridgeOptions {
    QString settingsPath;
    QString inputFile; // a recording instead of the audio source
    QString source;    // the audio source's name; empty for the default source
    QString host = QStringLiteral("localhost");
    quint16 port = 2011;
    double sensitivity = 0.5;
    bool verbose = false;
};

extern const QString kBridgeUsage;

// Parses SETTINGS [--infile WAV] [--source NAME] [--host H] [--port P] [--sensitivity S]
// [--verbose]; on a mistake, returns nothing and sets `error` (empty for --help).
std::optional<BridgeOptions> parseBridgeOptions(const QStringList& arguments, QString& error);
