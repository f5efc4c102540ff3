#include "speech_patterns.h"

#include "settings/cIniFile.h"

QStringList readSpeechPatterns(const QString& settingsPath)
{
    cIniFile iniFile;
    iniFile.setPath(settingsPath);
    iniFile.setSection(QStringLiteral("pairs"));
    profile::Batch snapshot = iniFile.StartBatch();
    const qsizetype keys = iniFile.AllKeys().size();
    const qsizetype rows = (keys + 1) / 3; // three keys a row, rounded as Kormil rounds
    QStringList patterns;
    for (qsizetype row = 0; row <= keys && patterns.size() < rows; ++row) {
        iniFile.setKey(QStringLiteral("pattern%1").arg(row));
        const QString pattern = iniFile.Value();
        if (!pattern.isEmpty())
            patterns.append(pattern);
    }
    return patterns;
}
