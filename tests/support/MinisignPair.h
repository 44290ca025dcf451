#pragma once
// A minisign key pair made at test time by the minisign program (-G -W: no
// password), and minisign run for a test: the package tests' keys.
#include <QByteArray>
#include <QString>
#include <QStringList>

class MinisignPair
{
public:
    // Whether the minisign program is on the PATH.
    static bool available();
    // Runs minisign with args; true when it ended with exit code 0.
    static bool run(const QStringList &args);

    // Makes base.pub and base.key (base: a path without its ending).
    bool make(const QString &base);

    QString publicKey; // base.pub
    QString secretKey; // base.key
    QByteArray publicText; // the .pub file's text
    QString id; // the key id as the tool shows it: all 16 hex digits
};
