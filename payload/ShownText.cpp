#include "payload/ShownText.h"

QString ShownText::of(const QString &text, bool keepLineFeeds)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        const bool control = u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u == 0xFFFD
            || c.isSurrogate() || u == 0x2028 || u == 0x2029 || (u >= 0x202A && u <= 0x202E)
            || (u >= 0x2066 && u <= 0x2069);
        if (!control || (keepLineFeeds && u == '\n'))
            out += c;
        else if (u < 0x100)
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else
            out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
    }
    return out;
}
