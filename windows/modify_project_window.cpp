#include "windows/modify_project_window.h"

#include "app/state.h"
#include "app/texts.h"
#include "store/project_store.h"
#include "windows/fonts.h"
#include "windows/main_window.h"
#include "windows/notices.h"

namespace quillory {

using namespace toolkit;
using namespace fonts;

namespace ModifyProjectWindow {
namespace {

// clang-format off
constexpr Control controls[] = {
    // name              kind           left top  width height  text              style
    {"编辑框1",          Kind::editBox, 24,  68,  224,  32,     "",               multiLine},
    {"编辑框2",          Kind::editBox, 24,  144, 224,  168,    "",               multiLine},
    {"编辑框3",          Kind::editBox, 24,  360, 224,  64,     "",               multiLine},
    {"编辑框6",          Kind::editBox, 304, 68,  224,  32,     "",               multiLine},
    {"编辑框5",          Kind::editBox, 304, 144, 224,  168,    "",               multiLine},
    {"编辑框4",          Kind::editBox, 304, 360, 224,  64,     "",               multiLine},
    {"按钮1",            Kind::button,  544, 64,  80,   24,     "确定",           plain, {}, {}, onConfirmClicked},
    {"按钮2",            Kind::button,  544, 128, 80,   24,     "取消",           plain, {}, {}, onCancelClicked},
    {"修改前信息",       Kind::label,   24,  8,   72,   16,     "修改前信息",     wordWrap},
    {"修改后信息",       Kind::label,   304, 8,   72,   16,     "修改后信息",     wordWrap},
    {"修改前项目名",     Kind::label,   24,  38,  72,   16,     "修改前项目名",   wordWrap},
    {"修改后项目名",     Kind::label,   304, 38,  72,   16,     "修改后项目名",   wordWrap},
    {"修改前项目简介",   Kind::label,   24,  114, 88,   16,     "修改前项目简介", wordWrap},
    {"修改后项目简介",   Kind::label,   304, 114, 96,   16,     "修改后项目简介", wordWrap},
    {"修改前路径",       Kind::label,   24,  326, 72,   16,     "修改前路径",     wordWrap},
    {"修改后路径",       Kind::label,   304, 326, 72,   16,     "修改后路径",     wordWrap},
};
// clang-format on

}  // namespace

const Window layout = {"修改项目", 642, 458, closeBoxOnly, onCreated, controls};

void onCreated() {
    const std::string_view sections[] = {texts::nameSection, texts::briefSection,
                                         texts::pathSection};
    const std::string_view stored[] = {"编辑框1", "编辑框2", "编辑框3"};
    for (int i = 0; i < 3; ++i) {
        auto value = ProjectStore::readField(sections[i], selectedIndex, texts::selectToModify);
        setText(layout, stored[i], value ? value.value() : Text(texts::selectToModify));
        if (!value) {
            notices::showFailure(value.error());
            break;
        }
    }
    setText(layout, "编辑框4", text(layout, "编辑框3"));
    setText(layout, "编辑框5", text(layout, "编辑框2"));
    setText(layout, "编辑框6", text(layout, "编辑框1"));
}

void onConfirmClicked() {
    if (notices::refuseUnsavable(layout, {"编辑框6", "编辑框5", "编辑框4"})) return;
    auto updated = ProjectStore::updateProject(selectedIndex, text(layout, "编辑框6"),
                                               text(layout, "编辑框5"), text(layout, "编辑框4"));
    if (updated) {
        loadModal(ModifiedPromptWindow::layout);
    } else {
        notices::showFailure(updated.error());
        // Only a selection that names no project closes the window; after any
        // other failure the typed texts stay, to be corrected or tried again.
        if (updated.error().kind != Failure::Kind::noProject) return;
    }
    destroy(layout);
}

void onCancelClicked() {
    destroy(layout);
}

}  // namespace ModifyProjectWindow

namespace ModifiedPromptWindow {
namespace {

// clang-format off
constexpr Control controls[] = {
    // name     kind          left top width height  text        style
    {"按钮1",   Kind::button, 55,  72, 104,  32,     "确定",     plain,    {},    {}, onConfirmClicked},
    {"标签1",   Kind::label,  59,  16, 96,   32,     "修改成功", wordWrap, kai21},
};
// clang-format on

}  // namespace

const Window layout = {"提示：", 220, 147, closeBoxOnly, nullptr, controls};

void onConfirmClicked() {
    MainWindow::refreshList();
    destroy(layout);
}

}  // namespace ModifiedPromptWindow

}  // namespace quillory
