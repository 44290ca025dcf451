#pragma once
// What a front end shows of one unit: the stage its job is in, its own
// progress, and once the job has ended, whether the unit was updated and if
// not, why. The engine keeps it in UnitJob and reports every change.
#include <QString>
#include <QStringList>

struct UnitStatus {
    enum Stage {
        Querying, // the version query at 19200 baud
        WaitingForBootloader,
        Firmware, // writing fw1.bin: sector of sectorCount
        Images, // sending image of imageCount
        Erasing, // erasing the unit's images
        Finishing, // "$X" sent, the port closes shortly (and the version is confirmed)
        Updated, // the job ended with everything asked done
        NotUpdated, // the job ended with something not done: reason
        ConnectionLost, // the adapter went away
    };

    Stage stage = Querying;
    int sector = 0; // 1-based, while in Firmware
    int sectorCount = 0;
    int image = 0; // 1-based, while in Images
    int imageCount = 0;
    int percent = 0; // of the unit's whole job
    QString version; // the unit's "$MVERR" text; empty until it came
    QStringList notUpdated; // what the job could not do
    QString reason; // why the job ended without updating the unit
    // Whether the updated unit was seen running the update: it answered the
    // version query after "$X" (with the version the update names, if any).
    enum Confirmation { NotAsked, Confirmed, NotConfirmed };
    Confirmation confirmation = NotAsked;
    QString confirmedVersion; // its "$MVERR" text after "$X"; empty when it did not answer

    bool notConfirmed() const { return stage == Updated && confirmation == NotConfirmed; }

    // The job is over: updated, not updated or its connection lost.
    bool ended() const { return stage == Updated || stage == NotUpdated || stage == ConnectionLost; }
    // The version the unit runs as far as is known: after the update the one
    // it answered with, "D.03a, confirmed" or "D.03b, not confirmed", or
    // "not confirmed (was D.02m)" when it did not answer; before, its
    // "$MVERR" text.
    QString versionText() const;
    // The stage in words: "firmware, sector 12 of 223", "not updated: ...".
    QString text() const;

    bool operator==(const UnitStatus &o) const
    {
        return stage == o.stage && sector == o.sector && image == o.image
            && percent == o.percent && version == o.version && reason == o.reason
            && confirmation == o.confirmation && confirmedVersion == o.confirmedVersion;
    }
    bool operator!=(const UnitStatus &o) const { return !(*this == o); }
};
