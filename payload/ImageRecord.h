#pragma once
// One display image ready to send to the unit: its bytes in file order, its
// size and the number and version the settings give it.
#include <QByteArray>
#include <QString>

struct ImageRecord {
    QByteArray pixels; // the bytes of the file's array, in file order
    int width = 0; // from the descriptor's ".header.w" (0 when absent)
    int height = 0; // from the descriptor's ".header.h" (0 when absent)
    int imageName = 0; // the image's number on the unit
    int imageVersion = 0; // the image's version
    // Why this image must not be sent (missing file, no bytes, a size that is
    // not width x height x 2, a format the unit can't show); empty when it is fine.
    QString problem;
    // The file is damaged (a value in its array is no byte): the command line
    // refuses the run rather than leave the image out.
    bool damaged = false;
    QString fileName; // the file it was read from, for the job log
    // SHA-256 (hex) of the file's bytes as they were read, the ones parsed;
    // empty when the file could not be read. What the records name.
    QByteArray sha256;
};
