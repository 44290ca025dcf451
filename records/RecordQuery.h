#pragma once
// Which records to show ("zq-update history", the window's History view):
// filters on the serial number, slot, station, result, update version and a
// time span, newest first; and the ways to show them (a table, JSON, CSV).
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QVariantList>

struct RecordQuery {
    QString serial; // the adapter's USB serial number
    QString slot;
    QString station; // the PC's host name
    QString result; // "updated", "not updated", "connection lost", "interrupted"
    QString version; // the update's version
    QDateTime since; // invalid: no bound
    QDateTime until; // exclusive; invalid: no bound

    // The WHERE clause ("" or " WHERE ...") with its values, in order.
    QString where(QVariantList &values) const;
    // A time given on the command line: "2026-12-01", "2026-12-01T10:00" or
    // with seconds and a zone (UTC without one). A day alone is its start,
    // or (end) the start of the next day. Invalid when it can't be read.
    static QDateTime parseTime(const QString &text, bool end);
    // A time as the records hold it: UTC, milliseconds, "Z".
    static QString timeText(const QDateTime &time);

    // The records as a table with a header, one line each.
    static QString table(const QList<QJsonObject> &records);
    // As CSV: a header and a row per record (RFC 4180; a text that a
    // spreadsheet would take for a formula starts with a quote).
    static QByteArray csv(const QList<QJsonObject> &records);
    // As a JSON array of the records.
    static QByteArray json(const QList<QJsonObject> &records);
    // The CSV's columns: the records' JSON fields.
    static const QStringList &csvFields();
};
