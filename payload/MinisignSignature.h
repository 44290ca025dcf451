#pragma once
// A minisign signature (the .minisig file minisign -S writes) and its check
// with libsodium: Ed25519 over the file itself ("Ed", minisign's legacy form)
// or over the file's BLAKE2b-512 hash ("ED", its default), then the global
// signature that binds the trusted comment to it.
#include "payload/MinisignKey.h"

#include <QByteArray>
#include <QString>

struct MinisignSignature {
    bool prehashed = false; // "ED": the message is BLAKE2b-512 of the file
    QByteArray keyId; // 8 bytes: the key that made it
    QByteArray signature; // 64 bytes
    QByteArray trustedComment; // the text after "trusted comment: "
    QByteArray globalSignature; // 64 bytes, over signature + trustedComment

    enum Result {
        Valid,
        WrongKey, // made by another key than the one given, whatever id it carries
        BadComment, // the trusted comment was changed (global signature fails)
        BadSignature, // the file is not the one signed
    };

    // Reads a .minisig file's four lines. False with error set when it is not
    // a minisign signature.
    static bool parse(const QByteArray &text, MinisignSignature &sig, QString &error);

    // Checks that key signed message.
    Result verify(const QByteArray &message, const MinisignKey &key) const;

    // The "file:" field of the trusted comment minisign writes (the signed
    // file's name when it was signed); empty when the comment has none.
    QString signedFileName() const;
};
