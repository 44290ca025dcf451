#pragma once
// The states of one unit's job, kept in its UnitJob and driven by the
// Sequencer. Front ends never read them: they ask the runner (UnitRunner).

enum class JobState {
    StartVersionQuery, // first state of a new port: arms the version query
    VersionQuery, // "$MVER" / "$BOOTLOADM" at 19200 baud
    SwitchToBootloaderSpeed, // reopen the port at 921600 baud
    WaitForBootloader, // wait for "$Bootloader" and the capture
    OpenFiles, // open the job's files, pick the work for the mode
    ProgramFirmware, // fw1.bin, sector by sector
    SendImages, // the display images, one by one
    EraseImages, // erase the unit's display images
    Finish, // "$X" sent; the port closes four steps later
    ConfirmVersion, // after "$X": the unit's version asked again at 19200 baud
};

// How far the bootloader has been taken: not yet, captured ("$G" answered),
// and the firmware written.
enum class CapturePhase { Uncaptured, Captured, FirmwareWritten };

// Where the current firmware sector stands: "$E" is due, its "$D" lines, "$P".
enum class SectorStep { Start, Data, Program };

// Where the current image stands, in SendImages.
enum class ImageStep {
    Header, // "$I" is due
    Chunks, // "$F" lines are due
    Restart, // all chunks sent; without the last "$FACK" the image starts again
};

// Where the erase stands, in EraseImages.
enum class EraseStep {
    Send, // "$A,1" is due
    Wait, // waiting for "$AACK"
};

// The line whose answer is awaited, sent again at its learned time-out.
enum class AwaitedLine {
    None,
    Data, // a firmware data line, "$D"
    Chunk, // an image chunk, "$F"
};
