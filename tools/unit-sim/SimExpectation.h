#pragma once
// What a unit should hold at the end of a job: the firmware file and the display
// images, compared with the simulated unit's flash and images in its report.
#include <QByteArray>
#include <QList>
#include <QString>

struct SimExpectedImage {
    int name = 0;
    int version = 0;
    QByteArray bytes;
};

struct SimExpectation {
    bool hasFirmware = false;
    QByteArray firmware; // fw1.bin: the byte for unit address A at position A
    bool hasImages = false;
    QList<SimExpectedImage> images;
    QString version; // settings.json's "Version": what the payload's firmware reports

    // Reads fw1.bin and the images that settings.json names from a payload
    // folder laid out as beside the tool. Whatever is missing is left out;
    // problem (when given) says what.
    static SimExpectation fromPayloadDir(const QString &dir, QString *problem = nullptr);
};
