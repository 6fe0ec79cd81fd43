// The message boxes the windows show when a change cannot be made.
#pragma once

#include <initializer_list>
#include <string_view>

#include "app/toolkit.h"
#include "store/project_store.h"

namespace quillory::notices {

// A file failure as an error ("错误"); a refused change as a notice ("提示：").
void showFailure(const Failure& failure);

// Names the first character in the boxes that the catalogue cannot hold;
// true when there is one, and then nothing may be stored.
bool refuseUnsavable(const toolkit::Window& window, std::initializer_list<std::string_view> boxes);

}  // namespace quillory::notices
