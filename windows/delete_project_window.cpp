#include "windows/delete_project_window.h"

#include "app/state.h"
#include "app/texts.h"
#include "store/project_store.h"
#include "windows/fonts.h"
#include "windows/main_window.h"
#include "windows/notices.h"

namespace quillory {

using namespace toolkit;
using namespace fonts;

namespace DeleteWarningWindow {
namespace {

constexpr Colour red = {true, 0xFF, 0x00, 0x00};

// clang-format off
constexpr Control controls[] = {
    // name              kind          left top  width height  text                style
    {"按钮1",            Kind::button, 32,  136, 128,  32,     "确定",             plain, {}, {}, onConfirmClicked},
    {"按钮2",            Kind::button, 208, 136, 128,  32,     "返回",             plain, {}, {}, onBackClicked},
    {"标签1",            Kind::label,  8,   16,  168,  32,     "确定删除此项目？", wordWrap, hei21, red},
    {"要删除的项目名",   Kind::label,  64,  56,  256,  56,     "要删除的项目名",   wordWrap | noPrefix, kai21},
};
// clang-format on

}  // namespace

const Window layout = {"警告！！！", 380, 199, closeBoxOnly, onCreated, controls};

void onCreated() {
    auto name = ProjectStore::readField(texts::nameSection, selectedIndex, texts::selectToDelete);
    setText(layout, "要删除的项目名", name ? name.value() : Text(texts::selectToDelete));
    if (!name) notices::showFailure(name.error());
}

void onConfirmClicked() {
    auto removed = ProjectStore::removeProject();
    if (removed) {
        loadModal(DeletedPromptWindow::layout);
    } else {
        notices::showFailure(removed.error());
        // A file that could not be changed leaves the warning open to try
        // again; a selection that names no project leaves nothing to try.
        if (removed.error().kind != Failure::Kind::noProject) return;
    }
    destroy(layout);
}

void onBackClicked() {
    destroy(layout);
}

}  // namespace DeleteWarningWindow

namespace DeletedPromptWindow {
namespace {

// clang-format off
constexpr Control controls[] = {
    // name     kind          left top width height  text        style
    {"按钮1",   Kind::button, 65,  56, 88,   32,     "确定",     plain,    {},    {}, onConfirmClicked},
    {"标签1",   Kind::label,  61,  16, 96,   32,     "删除成功", wordWrap, kai21},
};
// clang-format on

}  // namespace

const Window layout = {"提示：", 225, 121, closeBoxOnly, nullptr, controls};

void onConfirmClicked() {
    MainWindow::refreshList();
    MainWindow::showCount();
    destroy(layout);
}

}  // namespace DeletedPromptWindow

}  // namespace quillory
