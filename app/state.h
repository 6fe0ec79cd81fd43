// The program-wide state that the windows and the project store share.
#pragma once

#include <cstdint>
#include <filesystem>

#include "app/texts.h"

namespace quillory {

// Index at which the last walk met the end of the catalogue: projects + 1.
inline std::int32_t endIndex = 0;
// Index of the project last selected in the main window's list; 0 before any.
inline std::int32_t selectedIndex = 0;

inline Text scanText;   // the name read by the last step of a walk
inline Text shiftName;  // the values moved by the last step of a removal
inline Text shiftBrief;
inline Text shiftPath;
inline Text newName;  // the texts taken from the add window's boxes
inline Text newBrief;
inline Text newPath;

// The folder that holds the executable; the catalogue lives there.
inline std::filesystem::path runDirectory;

// Sets runDirectory from the running executable's path.
void takeRunDirectory();

}  // namespace quillory
