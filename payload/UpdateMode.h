#pragma once
// What a job does on every unit (the main window's buttons and the command
// line's --mode choose it), and the one table of the modes' names: the
// command line's --mode words, an update package manifest's "modes" and the
// records' "mode" are the same words.
#include <QString>

enum class UpdateMode {
    FirmwareAndImages, // firmware fw1.bin, then the display images
    ImagesOnly, // the display images only
    DeleteImages, // erase the unit's display images
};

namespace UpdateModes {

// Every mode, in the order the names are listed to the user.
inline constexpr UpdateMode kAll[]
    = { UpdateMode::FirmwareAndImages, UpdateMode::ImagesOnly, UpdateMode::DeleteImages };

// The mode's name: "firmware-and-images", "images", "erase-images".
QString name(UpdateMode mode);
// The mode a name stands for; false (mode untouched) when it names none.
bool fromName(const QString &name, UpdateMode &mode);
// The job writes fw1.bin.
inline bool writesFirmware(UpdateMode mode) { return mode == UpdateMode::FirmwareAndImages; }

} // namespace UpdateModes
