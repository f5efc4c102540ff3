#include "speech_patterns.h"

#include "main_window/pair_file.h"
#include "settings/cIniFile.h"

#include <algorithm>

QStringList readSpeechPatterns(const QString& settingsPath)
{
    cIniFile iniFile;
    iniFile.setPath(settingsPath);
    iniFile.setSection(pair_file::kSection);
    profile::Batch snapshot = iniFile.StartBatch();
    int highest = -1;
    for (const QString& key : iniFile.AllKeys())
        highest = std::max(highest, pair_file::rowOf(key, pair_file::Pattern));
    highest = std::min(highest, pair_file::kLastPossibleRow);
    QStringList patterns;
    for (int row = 0; row <= highest; ++row) {
        iniFile.setKey(pair_file::keyOf(pair_file::Pattern, row));
        const QString pattern = iniFile.Value();
        if (!pattern.isEmpty())
            patterns.append(pattern);
    }
    return patterns;
}
