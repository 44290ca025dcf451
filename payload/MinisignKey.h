#pragma once
// A minisign public key (the two-line .pub file minisign -G writes): the
// Ed25519 key and its 8-byte key id, shown as minisign shows it (16 hex digits).
#include <QByteArray>
#include <QString>

struct MinisignKey {
    QByteArray id; // 8 bytes, as stored in the key and in every signature it made
    QByteArray publicKey; // 32 bytes, Ed25519
    QString source; // the file it was read from, for messages

    // Reads a .pub file's text (an optional "untrusted comment:" line, then the
    // base64 key line). False with error set when it is not a minisign key.
    static bool parse(const QByteArray &text, MinisignKey &key, QString &error);
    // Reads the key file at path (at most PackageLimits::kMaxKeyFileBytes).
    static bool read(const QString &path, MinisignKey &key, QString &error);

    // The key id as minisign prints it ("RWQ..." files show e.g. 3F1C0A5E9B2D4C77).
    static QString idText(const QByteArray &id);
    QString idText() const
    {
        return idText(id);
    }
};
