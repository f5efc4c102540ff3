#include "bridge_options.h"

const QString kBridgeUsage = QStringLiteral(
    "usage: kormil-pocketsphinx SETTINGS [--infile WAV] [--source NAME] [--host H] [--port P]\n"
    "                           [--sensitivity S] [--verbose]\n"
    "Listens to the default audio source (or NAME, as `pactl list short sources` shows it) for\n"
    "the speech patterns in Kormil's settings file SETTINGS, and sends each one heard to Kormil\n"
    "(default localhost, port 2011) as a voice string. --infile reads a WAV recording instead.\n"
    "--sensitivity S: how sure the bridge must be that it heard a pattern before it sends it,\n"
    "from 0 to 1 (default 0.5). Raise it when commands start that nobody meant; lower it when\n"
    "patterns you say are not sent. --verbose prints every utterance heard, how well it\n"
    "matched the pattern against what this sensitivity asks, and whether it was sent.\n");

std::optional<BridgeOptions> parseBridgeOptions(const QStringList& arguments, QString& error)
{
    BridgeOptions options;
    error.clear();
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            return std::nullopt;
        if (argument == QLatin1String("--verbose")) {
            options.verbose = true;
            continue;
        }
        if (!argument.startsWith(QLatin1String("--"))) {
            if (!options.settingsPath.isEmpty()) {
                error = QStringLiteral("one settings file only: ") + argument;
                return std::nullopt;
            }
            options.settingsPath = argument;
            continue;
        }
        if (i + 1 >= arguments.size()) {
            error = argument + QStringLiteral(" needs a value");
            return std::nullopt;
        }
        const QString value = arguments[++i];
        bool isNumber = false;
        if (argument == QLatin1String("--infile")) {
            options.inputFile = value;
        } else if (argument == QLatin1String("--source")) {
            options.source = value;
        } else if (argument == QLatin1String("--host")) {
            options.host = value;
        } else if (argument == QLatin1String("--port")) {
            const uint port = value.toUInt(&isNumber);
            if (!isNumber || port == 0 || port > 65535) {
                error = QStringLiteral("not a TCP port: ") + value;
                return std::nullopt;
            }
            options.port = static_cast<quint16>(port);
        } else if (argument == QLatin1String("--sensitivity")) {
            options.sensitivity = value.toDouble(&isNumber);
            if (!isNumber || options.sensitivity < 0 || options.sensitivity > 1) {
                error = QStringLiteral("the sensitivity runs from 0 to 1: ") + value;
                return std::nullopt;
            }
        } else {
            error = QStringLiteral("unknown option: ") + argument;
            return std::nullopt;
        }
    }
    if (options.settingsPath.isEmpty()) {
        error = QStringLiteral("which settings file?");
        return std::nullopt;
    }
    return options;
}
