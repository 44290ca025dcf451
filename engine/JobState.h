#pragma once
// The states of one unit's job, kept in its PortTest and driven by the Sequencer.

enum JobState : int {
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

enum CapturePhase : int { Uncaptured = 0, Captured, FirmwareWritten };

enum SectorStep : int { SectorStart = 0, SectorData, SectorProgram };

// ImageStep values; EraseImages keeps its own two values in the same member.
enum ImageStep : int {
    ImageHeader = 0, // "$I" is due
    ImageChunks = 1, // "$F" lines are due
    ImageRestart = 2, // all chunks sent; without the last "$FACK" the image starts again
    EraseSend = 0, // "$A,1" is due
    EraseWait = 1, // waiting for "$AACK"
};
