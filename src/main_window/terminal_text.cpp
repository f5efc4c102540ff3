#include "terminal_text.h"

namespace {

bool isControl(char16_t code)
{
    return code < 0x20 || (code >= 0x7f && code <= 0x9f);
}

bool isBidirectionalFormat(char16_t code)
{
    return (code >= 0x202a && code <= 0x202e) || (code >= 0x2066 && code <= 0x2069);
}

QString hex(char16_t code, int digits)
{
    return QStringLiteral("%1").arg(static_cast<unsigned>(code), digits, 16, QChar(u'0'));
}

} // namespace

QString terminalSafe(const QString& text)
{
    QString safe;
    safe.reserve(text.size());
    for (const QChar character : text) {
        const char16_t code = character.unicode();
        if (code == u'\n')
            safe += QStringLiteral("\\n");
        else if (code == u'\r')
            safe += QStringLiteral("\\r");
        else if (code == u'\t')
            safe += QStringLiteral("\\t");
        else if (isControl(code))
            safe += QStringLiteral("\\x") + hex(code, 2);
        else if (isBidirectionalFormat(code))
            safe += QStringLiteral("\\u") + hex(code, 4);
        else
            safe += character;
    }
    return safe;
}
