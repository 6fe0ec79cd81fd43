// The named fonts the windows use, by character height.
#pragma once

#include "app/toolkit.h"

namespace quillory::fonts {

inline constexpr toolkit::Font kai19 = {"楷体_GB2312", 19};
inline constexpr toolkit::Font kai21 = {"楷体_GB2312", 21};
inline constexpr toolkit::Font hei21 = {"黑体", 21};

}  // namespace quillory::fonts
