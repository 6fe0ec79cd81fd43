#include "windows/notices.h"

#include "app/texts.h"

namespace quillory::notices {

using namespace toolkit;

void showFailure(const Failure& failure) {
    if (failure.kind == Failure::Kind::file) {
        messageBox(failure.message, texts::error, Icon::error);
    } else {
        messageBox(failure.message, "提示：", Icon::warning);
    }
}

bool refuseUnsavable(const Window& window, std::initializer_list<std::string_view> boxes) {
    for (auto box : boxes) {
        if (char32_t c = unsavableCharacter(window, box)) {
            messageBox("“", c, "”无法保存：项目文件只能保存GBK字符。", "提示：", Icon::warning);
            return true;
        }
    }
    return false;
}

}  // namespace quillory::notices
