#include "windows/about_window.h"

namespace quillory::AboutWindow {
namespace {

using namespace toolkit;

constexpr std::string_view about =
    "    这是一款管理电脑中项目的管理器，项目可以是任何类型的文件，此软件可以对电脑中众多的项目进行"
    "加入简介、路径，通过此软件可以方便地管理这些信息，快速了解定位项目。对此软件有什么好的建议和"
    "意见可以联系作者——Tesvorin（QQ：00000000）谢谢使用！";

// clang-format off
constexpr Control controls[] = {
    // name    kind          left top width height  text   style
    {"关于",   Kind::label,  8,   8,  296,  80,     about, wordWrap},
};
// clang-format on

}  // namespace

const Window layout = {"关于", 323, 120, closeBoxOnly, nullptr, controls};

}  // namespace quillory::AboutWindow
