#include "bridge_options.h"
#include "cBridge.h"
#include "main_window/cShutdownSignals.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream messages(stderr);
    QString error;
    const std::optional<BridgeOptions> options = parseBridgeOptions(app.arguments().mid(1), error);
    if (!options) {
        if (!error.isEmpty())
            messages << "kormil-pocketsphinx: " << error << "\n";
        messages << kBridgeUsage;
        return 2;
    }
    // The recogniser library logs through one callback for the whole process, whichever decoder
    // speaks: it is set here, once, before any recogniser exists, and stays until the end.
    cRecogniser::showOnlyWarningsAndErrors();
    const QString modelDir = qEnvironmentVariable(
        "KORMIL_POCKETSPHINX_MODEL", QStringLiteral("/usr/share/pocketsphinx/model/en-us"));
    cBridge bridge(*options, modelDir, messages);
    cShutdownSignals shutdown;
    QObject::connect(&shutdown, &cShutdownSignals::requested, &app, [&] {
        bridge.stop();
        app.exit(0);
    });
    QObject::connect(&bridge, &cBridge::finished, &app, &QCoreApplication::exit);
    if (!bridge.start())
        return 1;
    return app.exec();
}
