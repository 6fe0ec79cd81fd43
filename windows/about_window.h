// The window with the fixed text about the program and its author.
#pragma once

#include "app/toolkit.h"

namespace quillory::AboutWindow {

extern const toolkit::Window layout;

}  // namespace quillory::AboutWindow
