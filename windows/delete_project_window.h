// The warning that names the project to delete, and the prompt after it.
#pragma once

#include "app/toolkit.h"

namespace quillory {

namespace DeleteWarningWindow {
extern const toolkit::Window layout;
void onCreated();
void onConfirmClicked();
void onBackClicked();
}  // namespace DeleteWarningWindow

namespace DeletedPromptWindow {
extern const toolkit::Window layout;
void onConfirmClicked();
}  // namespace DeletedPromptWindow

}  // namespace quillory
