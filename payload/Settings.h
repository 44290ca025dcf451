#pragma once
// settings.json beside the executable: the update's version text and the
// display images to send, in order.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

struct SettingsImage {
    QString fileName; // "FileName", relative to the executable's folder
    int imageName = 0; // "ImageName", 0 when missing or not a whole number
    int imageVersion = 0; // "ImageVersion", likewise
};

struct Settings {
    // "Version"; "D.02n" when empty or missing; one that is no text (3) as
    // written, with an entry problem.
    QString version;
    QList<SettingsImage> images; // one per element of "Images", in order
    QString problem; // for the job log: why nothing could be read; empty when fine
    // Entries the protocol can't carry or that point outside the payload folder,
    // one text each naming the entry: an "ImageName" or "ImageVersion" that is
    // present but no whole number from 0 to 255, a "FileName" that is missing,
    // blank, absolute, climbs out with ".." or names a folder ("."), an
    // "ImageName" an earlier entry has, a "Version" that is no text, more than
    // ReadLimits::kImageEntries entries. The command line refuses to start on
    // any; the window shows each in its job log.
    QStringList entryProblems;

    // Reads the settings from a file's bytes; never fails.
    static Settings parse(const QByteArray &bytes);
    // Reads the file at path (a regular file of at most
    // ReadLimits::kSettingsBytes); a missing or unreadable file reads as empty.
    static Settings read(const QString &path);
};
