#include "windows/main_window.h"

#include <cstdio>

#include "app/state.h"
#include "app/texts.h"
#include "store/project_store.h"
#include "windows/about_window.h"
#include "windows/add_project_window.h"
#include "windows/delete_project_window.h"
#include "windows/modify_project_window.h"
#include "windows/notices.h"

namespace quillory::MainWindow {
namespace {

using namespace toolkit;

// clang-format off
constexpr Control controls[] = {
    // name        kind           left top  width height  text        style
    {"列表框1",    Kind::listBox, 16,  48,  248,  144,    "",         plain, {}, {}, onListItemSelected},
    {"简介",       Kind::editBox, 16,  232, 248,  136,    "",         multiLine},
    {"路径",       Kind::editBox, 16,  408, 400,  40,     ""},
    {"添加项目",   Kind::button,  296, 76,  104,  24,     "添加项目", plain, {}, {}, onAddClicked},
    {"删除项目",   Kind::button,  296, 180, 104,  24,     "删除项目", plain, {}, {}, onDeleteClicked},
    {"按钮3",      Kind::button,  296, 320, 104,  40,     "退出",     plain, {}, {}, onExitClicked},
    {"更新列表",   Kind::button,  296, 24,  104,  24,     "更新列表", plain, {}, {}, refreshList},
    {"修改项目",   Kind::button,  296, 128, 104,  24,     "修改项目", plain, {}, {}, onModifyClicked},
    {"关于",       Kind::button,  296, 232, 104,  24,     "关于",     plain, {}, {}, onAboutClicked},
    {"标签3",      Kind::label,   24,  16,  56,   24,     "列表：",   verticallyCentred},
    {"标签1",      Kind::label,   24,  200, 128,  24,     "简介：",   verticallyCentred},
    {"标签2",      Kind::label,   24,  384, 128,  24,     "路径：",   verticallyCentred},
    {"项目数",     Kind::label,   288, 280, 48,   24,     "项目数：", verticallyCentred},
    {"项目数值",   Kind::label,   352, 280, 56,   24,     "项目数值", verticallyCentred},
};
// clang-format on

// The list refilled from the file and both boxes emptied.
StoreResult<> refill() {
    clearList(layout, "列表框1");
    auto walked = ProjectStore::scan(
        [](const Text& name, std::int32_t index) { addItem(layout, "列表框1", name, index); });
    setText(layout, "简介", "");
    setText(layout, "路径", "");
    return walked;
}

}  // namespace

const Window layout = {"Quillory————By Tesvorin", 435,       482,
                       minimiseBox | maximiseBox, onCreated, controls};

void onCreated() {
    auto initialised = ProjectStore::ensureInitialised();
    auto walked = refill();
    // One failure is shown once: a file that cannot be read fails both.
    if (!initialised) {
        notices::showFailure(initialised.error());
    } else if (!walked) {
        notices::showFailure(walked.error());
    }
    showCount();
}

void refreshList() {
    if (auto walked = refill(); !walked) notices::showFailure(walked.error());
}

void showCount() {
    char count[32];
    std::snprintf(count, sizeof count, "%.13g", double(endIndex) - 1);
    setText(layout, "项目数值", count);
}

void onListItemSelected() {
    int row = selection(layout, "列表框1");
    if (row < 0) return;
    selectedIndex = itemValue(layout, "列表框1", row);
    auto brief = ProjectStore::readField(texts::briefSection, selectedIndex, texts::error);
    auto path = ProjectStore::readField(texts::pathSection, selectedIndex, texts::error);
    setText(layout, "简介", brief ? brief.value() : Text(texts::error));
    setText(layout, "路径", path ? path.value() : Text(texts::error));
    if (!brief) {
        notices::showFailure(brief.error());
    } else if (!path) {
        notices::showFailure(path.error());
    }
}

void onAddClicked() {
    loadModal(AddProjectWindow::layout);
}

void onModifyClicked() {
    loadModal(ModifyProjectWindow::layout);
}

void onDeleteClicked() {
    loadModal(DeleteWarningWindow::layout);
}

void onAboutClicked() {
    loadModal(AboutWindow::layout);
}

void onExitClicked() {
    destroy(layout);
}

}  // namespace quillory::MainWindow
