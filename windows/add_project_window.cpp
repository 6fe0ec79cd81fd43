#include "windows/add_project_window.h"

#include "app/state.h"
#include "store/project_store.h"
#include "windows/fonts.h"
#include "windows/main_window.h"
#include "windows/notices.h"

namespace quillory {

using namespace toolkit;
using namespace fonts;

namespace AddProjectWindow {
namespace {

// clang-format off
constexpr Control controls[] = {
    // name          kind           left top  width height  text          style
    {"新项目名",     Kind::editBox, 112, 24,  272,  32,     "",           multiLine},
    {"新项目简介",   Kind::editBox, 112, 72,  272,  144,    "",           multiLine},
    {"新项目路径",   Kind::editBox, 112, 224, 272,  32,     "",           multiLine},
    {"按钮1",        Kind::button,  40,  288, 120,  40,     "添  加",     plain, kai19, {}, onAddClicked},
    {"按钮2",        Kind::button,  248, 288, 120,  40,     "取  消",     plain, kai19, {}, onCancelClicked},
    {"标签1",        Kind::label,   24,  24,  80,   32,     "项目名称：", verticallyCentred},
    {"标签2",        Kind::label,   24,  68,  64,   32,     "项目简介：", verticallyCentred},
    {"标签3",        Kind::label,   24,  224, 64,   32,     "项目路径：", verticallyCentred},
};
// clang-format on

}  // namespace

const Window layout = {"添加项目", 418, 361, closeBoxOnly, nullptr, controls};

void onAddClicked() {
    if (notices::refuseUnsavable(layout, {"新项目名", "新项目简介", "新项目路径"})) return;
    newName = text(layout, "新项目名");
    newBrief = text(layout, "新项目简介");
    newPath = text(layout, "新项目路径");
    // A refused or failed add keeps the window and its texts as they are.
    if (auto added = ProjectStore::appendProject(newName, newBrief, newPath); !added) {
        notices::showFailure(added.error());
        return;
    }
    loadModal(AddedPromptWindow::layout);
}

void onCancelClicked() {
    destroy(layout);
}

}  // namespace AddProjectWindow

namespace AddedPromptWindow {
namespace {

// clang-format off
constexpr Control controls[] = {
    // name     kind           left top width height  text        style
    {"按钮1",   Kind::button,  64,  72, 88,   24,     "确定",     plain,    {},    {}, onConfirmClicked},
    {"标签1",   Kind::label,   64,  24, 96,   32,     "添加成功", wordWrap, kai21},
};
// clang-format on

}  // namespace

const Window layout = {"提示：", 239, 132, closeBoxOnly, nullptr, controls};

void onConfirmClicked() {
    MainWindow::refreshList();
    MainWindow::showCount();
    destroy(layout);
}

}  // namespace AddedPromptWindow

}  // namespace quillory
