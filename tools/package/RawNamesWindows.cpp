// Windows keeps names in UTF-16: every name Qt lists is one it can read.
#include "RawNames.h"

QStringList RawNames::notUtf8(const QString &)
{
    return QStringList();
}
