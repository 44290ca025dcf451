#pragma once
// settings.json beside the executable: the update's version text and the
// display images to send, in order.
#include <QByteArray>
#include <QList>
#include <QString>

struct SettingsImage {
    QString fileName; // "FileName", relative to the executable's folder
    int imageName = 0; // "ImageName", 0 when missing or not a whole number
    int imageVersion = 0; // "ImageVersion", likewise
};

struct Settings {
    QString version; // "Version"; "D.02n" when empty or missing
    QList<SettingsImage> images; // one per element of "Images", in order
    QString problem; // for the job log: why nothing could be read; empty when fine

    // Reads the settings from a file's bytes; never fails.
    static Settings parse(const QByteArray &bytes);
    // Reads the file at path; a missing or unreadable file reads as empty.
    static Settings read(const QString &path);
};
