// The window that shows a project's stored texts beside editable copies and
// stores the copies, and its prompt.
#pragma once

#include "app/toolkit.h"

namespace quillory {

namespace ModifyProjectWindow {
extern const toolkit::Window layout;
void onCreated();
void onConfirmClicked();
void onCancelClicked();
}  // namespace ModifyProjectWindow

namespace ModifiedPromptWindow {
extern const toolkit::Window layout;
void onConfirmClicked();
}  // namespace ModifiedPromptWindow

}  // namespace quillory
