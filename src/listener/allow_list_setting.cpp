#include "main_window/frmMain.h"

namespace {

// What the settings file reads back of one value; a longer list is cut there, never inside a
// character, so a cut one is at most three bytes shorter.
constexpr qsizetype kMaxStoredBytes = 254;
constexpr qsizetype kLongestCharacter = 4;

} // namespace

void frmMain::loadAllowList()
{
    cIniFile settings;
    settings.setPath(seams_.settingsPath);
    settings.setSection(QStringLiteral("listener"));
    if (!settings.AllKeys().contains(QStringLiteral("allow"), Qt::CaseInsensitive))
        return;
    settings.setKey(QStringLiteral("allow"));
    QString text = settings.Value();
    QStringList rejected;
    // A cut entry could name a wider range than was written ("10.1.2.0/2" of "/24").
    if (text.toLocal8Bit().size() > kMaxStoredBytes - kLongestCharacter) {
        const qsizetype lastComma = text.lastIndexOf(u',');
        rejected << text.mid(lastComma + 1).trimmed();
        text.truncate(std::max<qsizetype>(lastComma, 0));
    }
    allowList_ = cAllowList::parse(text, rejected);
    for (const QString& entry : std::as_const(rejected))
        Log(QStringLiteral("Ignored \"%1\" in [listener] allow= of %2: not an address or an "
                           "address range")
                .arg(entry, seams_.settingsPath));
}
