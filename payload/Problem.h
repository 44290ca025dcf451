#pragma once
// Why something can't be used: its kind, for code and tests to tell problems
// apart, and the message shown to the user. No problem is kind None with an
// empty message; a Problem is true when there is one.
#include <QString>
#include <utility>

struct Problem {
    enum Kind {
        None,
        NoUpdate, // nothing opened, no folder given
        NotFound, // the folder, fw1.bin or the package is not there, or is not what it should be
        Unreadable, // not a regular file, or it could not be read
        TooLarge, // a package or its manifest over its limit
        Firmware, // fw1.bin: none in a package, no firmware past 0x1000, more than the flash
        Settings, // settings.json: missing, unusable, or an entry the protocol can't carry
        Images, // an image that can't be sent, none to send, one outside the folder, too many bytes
        Damaged, // a package that is no tar, or whose manifest and files do not agree
        Unsigned, // no signature where one is required (the policy, trusted keys)
        Signature, // a signature that does not verify, or no trusted key made it
        Keys, // a key named with --key that is no key
        WrongMode, // the package is not made for the job
    };

    Kind kind = None;
    QString message;

    Problem() = default;
    Problem(Kind k, QString text)
        : kind(k)
        , message(std::move(text))
    {
    }

    explicit operator bool() const
    {
        return kind != None;
    }
    // The same kind with the message changed (a name before it, a remedy after it).
    Problem reworded(QString text) const
    {
        return Problem(kind, std::move(text));
    }
};
