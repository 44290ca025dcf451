#include "payload/MinisignKey.h"

#include "payload/InputFiles.h"
#include "payload/FileRead.h"
#include "payload/PackageLimits.h"

#include <QList>

bool MinisignKey::parse(const QByteArray &text, MinisignKey &key, QString &error)
{
    // The key line is the first line that is not a comment.
    QByteArray line;
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray &raw : lines) {
        const QByteArray l = raw.trimmed();
        if (l.isEmpty() || l.startsWith("untrusted comment:"))
            continue;
        line = l;
        break;
    }
    if (line.isEmpty()) {
        error = QStringLiteral("holds no key line");
        return false;
    }
    const auto decoded
        = QByteArray::fromBase64Encoding(line, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != 42) {
        error = QStringLiteral(
            "is not a minisign public key (the key line is not 42 bytes of base64)");
        return false;
    }
    const QByteArray &raw = decoded.decoded;
    if (raw.left(2) != "Ed") {
        error = QStringLiteral("is not a minisign Ed25519 public key");
        return false;
    }
    key.id = raw.mid(2, 8);
    key.publicKey = raw.mid(10, 32);
    return true;
}

bool MinisignKey::read(const QString &path, MinisignKey &key, QString &error)
{
    // Without blocking, a regular file only (a FIFO is named at once), bounded.
    QByteArray text;
    QString readError;
    if (!FileRead::read(path, PackageLimits::kMaxKeyFileBytes, text, readError)) {
        error = QStringLiteral("cannot be read (%1)").arg(readError);
        return false;
    }
    key.source = path;
    return parse(text, key, error);
}

QString MinisignKey::idText(const QByteArray &id)
{
    // minisign stores the id little-endian and prints it as a number.
    QByteArray reversed(id.size(), '\0');
    for (int i = 0; i < id.size(); ++i)
        reversed[i] = id[id.size() - 1 - i];
    return QString::fromLatin1(reversed.toHex().toUpper());
}
