#include "payload/MinisignSignature.h"

#include <QList>
#include <sodium.h>

namespace {

QByteArray decode(const QByteArray &line, int size)
{
    const auto d
        = QByteArray::fromBase64Encoding(line.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    return d && d.decoded.size() == size ? d.decoded : QByteArray();
}

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

bool ed25519(const QByteArray &signature, const QByteArray &message, const QByteArray &publicKey)
{
    return crypto_sign_verify_detached(
               reinterpret_cast<const unsigned char *>(signature.constData()),
               reinterpret_cast<const unsigned char *>(message.constData()),
               static_cast<unsigned long long>(message.size()),
               reinterpret_cast<const unsigned char *>(publicKey.constData()))
        == 0;
}

} // namespace

bool MinisignSignature::parse(const QByteArray &text, MinisignSignature &sig, QString &error)
{
    QList<QByteArray> lines = text.split('\n');
    for (QByteArray &l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    if (lines.size() < 4 || !lines[0].startsWith("untrusted comment:")
        || !lines[2].startsWith("trusted comment: ")) {
        error = QStringLiteral("is not a minisign signature (it needs an untrusted comment, the "
                               "signature, a trusted comment and the global signature)");
        return false;
    }
    const QByteArray raw = decode(lines[1], 74);
    const QByteArray global = decode(lines[3], 64);
    if (raw.isEmpty() || global.isEmpty()) {
        error = QStringLiteral("is not a minisign signature (a signature line is not valid base64 "
                               "of the right length)");
        return false;
    }
    const QByteArray algorithm = raw.left(2);
    if (algorithm != "Ed" && algorithm != "ED") {
        error = QStringLiteral("uses an unknown signature algorithm");
        return false;
    }
    sig.prehashed = algorithm == "ED";
    sig.keyId = raw.mid(2, 8);
    sig.signature = raw.mid(10, 64);
    sig.trustedComment = lines[2].mid(int(sizeof "trusted comment: ") - 1);
    sig.globalSignature = global;
    return true;
}

MinisignSignature::Result MinisignSignature::verify(
    const QByteArray &message, const MinisignKey &key) const
{
    if (key.id != keyId || key.publicKey.size() != crypto_sign_PUBLICKEYBYTES)
        return WrongKey;
    if (!sodiumReady())
        return BadSignature;
    QByteArray signedBytes = message;
    if (prehashed) {
        signedBytes = QByteArray(crypto_generichash_BYTES_MAX, '\0');
        crypto_generichash(reinterpret_cast<unsigned char *>(signedBytes.data()),
            static_cast<size_t>(signedBytes.size()),
            reinterpret_cast<const unsigned char *>(message.constData()),
            static_cast<unsigned long long>(message.size()), nullptr, 0);
    }
    const bool fileSigned = ed25519(signature, signedBytes, key.publicKey);
    const bool commentSigned = ed25519(globalSignature, signature + trustedComment, key.publicKey);
    // Neither verifies: the signature carries the key's id but another key
    // made it (or both the file and the comment were changed).
    if (!fileSigned && !commentSigned)
        return WrongKey;
    if (!commentSigned)
        return BadComment;
    return fileSigned ? Valid : BadSignature;
}

QString MinisignSignature::signedFileName() const
{
    const QList<QByteArray> fields = trustedComment.split('\t');
    for (const QByteArray &f : fields)
        if (f.startsWith("file:"))
            return QString::fromUtf8(f.mid(5));
    return QString();
}
