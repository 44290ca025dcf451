#pragma once
// What a job does on every unit; the main window's buttons and the command
// line's modes choose it.

enum UpdateMode : int {
    FirmwareAndImages = 0, // firmware fw1.bin, then the display images
    ImagesOnly = 1, // the display images only
    DeleteImages = 2, // erase the unit's display images
};
