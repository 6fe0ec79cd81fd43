// The window that adds projects one after the other, and its prompt.
#pragma once

#include "app/toolkit.h"

namespace quillory {

namespace AddProjectWindow {
extern const toolkit::Window layout;
void onAddClicked();
void onCancelClicked();
}  // namespace AddProjectWindow

namespace AddedPromptWindow {
extern const toolkit::Window layout;
void onConfirmClicked();
}  // namespace AddedPromptWindow

}  // namespace quillory
