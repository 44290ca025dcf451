#pragma once
// The job a dialog runs, chosen by the main window's buttons.

enum UpdateMode : int {
    FirmwareAndImages = 0, // firmware fw1.bin, then the display images
    ImagesOnly = 1, // the display images only
    DeleteImages = 2, // erase the unit's display images
};
