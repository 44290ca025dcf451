// Windows hands the program its arguments in UTF-16: every name arrives whole.
#include "payload/RawNames.h"

#include <QCoreApplication>

QStringList RawNames::arguments()
{
    return QCoreApplication::arguments();
}

QString RawNames::shown(const QString &text)
{
    return text;
}

QString RawNames::escaped(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes);
}
