// Windows keeps names in UTF-16: every name Qt lists is one it can read.
#include "FolderNames.h"

QStringList FolderNames::notUtf8(const QString &)
{
    return QStringList();
}
