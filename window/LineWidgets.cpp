#include "window/LineWidgets.h"

#include "ui_DialogBootload.h"
#include "window/UnitTable.h"

LineWidgets::LineWidgets(Ui_DialogBootload &form, UnitTable &unitTable)
    : ui(form)
    , table(unitTable)
{
    frameTimer.setSingleShot(true);
    connect(&frameTimer, &QTimer::timeout, this, &LineWidgets::show);
}

void LineWidgets::lineSent()
{
    txIndicatorIndex = (txIndicatorIndex + 1) % 4;
    changed(ChangedTx);
}

void LineWidgets::lineReceived()
{
    rxIndicatorIndex = (rxIndicatorIndex + 1) % 4;
    changed(ChangedRx);
}

void LineWidgets::firmwareProgress(int value)
{
    firmware = value;
    changed(ChangedLoad);
}

void LineWidgets::imageProgress(int value)
{
    images = value;
    changed(ChangedVerify);
}

void LineWidgets::rowsMarked()
{
    changed(ChangedRows);
}

void LineWidgets::changed(int which)
{
    pending |= which;
    if (frameTimer.isActive())
        return; // shown when the frame ends
    if (!lastFrame.isValid() || lastFrame.elapsed() >= kFrameMs) {
        show();
        return;
    }
    frameTimer.start(static_cast<int>(kFrameMs - lastFrame.elapsed()));
}

void LineWidgets::show()
{
    lastFrame.start();
    if (pending & ChangedTx)
        ui.labelTX->setText(QStringLiteral("TX: ") + QLatin1Char(indicatorChars[txIndicatorIndex]));
    if (pending & ChangedRx)
        ui.labelRX->setText(QStringLiteral("RX: ") + QLatin1Char(indicatorChars[rxIndicatorIndex]));
    if (pending & ChangedLoad)
        ui.progressBarLoad->setValue(firmware);
    if (pending & ChangedVerify)
        ui.progressBarVerify->setValue(images);
    if (pending & ChangedRows)
        table.show();
    pending = 0;
}
