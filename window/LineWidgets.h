#pragma once
// The update dialog's widgets that change with every line: the send and
// receive indicators (labelTX, labelRX), the firmware and image progress bars
// and the unit table's marked rows. On a stop-and-wait link every reply has an
// event-loop pass of its own, and updating and painting them in each pass
// cost more than the rest of the line's work and held back the next line. The
// values change with every line; the widgets show them at most once every
// kFrameMs (the first change of a frame at once, the rest when it ends).
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class Ui_DialogBootload;
class UnitTable;

class LineWidgets : public QObject
{
public:
    static constexpr int kFrameMs = 50;

    LineWidgets(Ui_DialogBootload &ui, UnitTable &table);

    void lineSent(); // the send indicator moves one frame on
    void lineReceived(); // the receive indicator likewise
    void firmwareProgress(int value); // progressBarLoad
    void imageProgress(int value); // progressBarVerify
    void rowsMarked(); // the unit table has rows to write

private:
    enum Changed {
        ChangedTx = 1,
        ChangedRx = 2,
        ChangedLoad = 4,
        ChangedVerify = 8,
        ChangedRows = 16,
    };
    void changed(int which);
    void show();

    Ui_DialogBootload &ui;
    UnitTable &table;
    int txIndicatorIndex = 0; // frame of the send indicator
    int rxIndicatorIndex = 0; // frame of the receive indicator
    const char indicatorChars[4] = { '-', '|', '/', '-' };
    int firmware = 0;
    int images = 0;
    QTimer frameTimer; // ends a held frame
    QElapsedTimer lastFrame; // when the widgets were last updated
    int pending = 0; // Changed bits not shown yet
};
