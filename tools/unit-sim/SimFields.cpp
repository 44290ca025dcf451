#include "SimFields.h"

#include "link/TextRoutines.h"

namespace {

bool isUpperHex(const QByteArray &text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

} // namespace

bool SimFields::need(int n)
{
    if (fields.size() >= n)
        return true;
    problems[QStringLiteral("fieldCount")]++;
    return false;
}

quint32 SimFields::number(int i, int minDigits)
{
    const QByteArray &field = fields.at(i);
    const bool form = isUpperHex(field) && field.size() >= minDigits
        && (field.size() == minDigits || field.at(0) != '0');
    if (!form)
        problems[QStringLiteral("numberForm")]++;
    return HexToInt(field.constData());
}

QByteArray SimFields::bytes(int first)
{
    QByteArray out;
    out.reserve(fields.size() - first);
    for (int i = first; i < fields.size(); ++i) {
        const QByteArray &f = fields.at(i);
        if (f.size() != 2 || !isUpperHex(f))
            problems[QStringLiteral("numberForm")]++;
        out.append(static_cast<char>(HexToInt(f.constData()) & 0xFF));
    }
    return out;
}
