// Texts shared by several units. Sources are UTF-8; the compiler stores every
// narrow literal as GBK, which is what the file and the toolkit port expect.
#pragma once

#include <string>
#include <string_view>

static_assert(sizeof("没") == 3, "narrow literals must be compiled as GBK (-fexec-charset=GBK)");

namespace quillory {

// A text is a GBK byte string; absent and empty are the same.
using Text = std::string;

namespace texts {
inline constexpr std::string_view nameSection = "项目名";
inline constexpr std::string_view briefSection = "项目简介";
inline constexpr std::string_view pathSection = "项目路径";
inline constexpr std::string_view endMarker = "没了";
inline constexpr std::string_view error = "错误";
inline constexpr std::string_view selectToDelete = "请选中要删除的项目";
inline constexpr std::string_view selectToModify = "请选中要修改的项目";
}  // namespace texts

}  // namespace quillory
