// Deleting projects, driven as a user would on the headless toolkit.
#include "windows/delete_project_window.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "app/state.h"
#include "tests/support/file_system_seam.h"
#include "tests/support/program.h"
#include "windows/main_window.h"

namespace quillory {
namespace {

using namespace toolkit::headless;
using testing::catalogueBytes;
using testing::Project;
using testing::readBytes;
using testing::writeBytes;
const auto& main = MainWindow::layout;
const auto& warning = DeleteWarningWindow::layout;
const auto& prompt = DeletedPromptWindow::layout;

const std::vector<Project> three = {
    {"甲项目", "第一个", "D:\\甲"}, {"乙项目", "第二个", "D:\\乙"}, {"丙项目", "第三个", "D:\\丙"}};

using DeleteProjectWindowTest = testing::ProgramTest;

// The file after one removal: the projects left, then the end marker under
// the new end and, as before, under the old one.
std::string afterRemoval(const std::vector<Project>& left) {
    std::string bytes;
    for (auto field : {&Project::name, &Project::brief, &Project::path}) {
        bytes += field == &Project::name    ? "[项目名]\r\n"
                 : field == &Project::brief ? "[项目简介]\r\n"
                                            : "[项目路径]\r\n";
        size_t k = 1;
        for (const auto& p : left) bytes += std::to_string(k++) + "=" + p.*field + "\r\n";
        bytes += std::to_string(k) + "=没了\r\n" + std::to_string(k + 1) + "=没了\r\n";
    }
    return bytes;
}

std::vector<Text> namesOf(const std::vector<Project>& projects) {
    std::vector<Text> names;
    for (const auto& p : projects) names.push_back(p.name);
    return names;
}

TEST_F(DeleteProjectWindowTest, DeletesTheFirstTheLastAndTheOnlyProject) {
    struct Case {
        std::vector<Project> before;
        int row;
    };
    const Case cases[] = {{three, 0}, {three, 2}, {{three[1]}, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before[size_t(c.row)].name + " of " + std::to_string(c.before.size()));
        reset();
        writeBytes(folder.catalogue(), catalogueBytes(c.before));
        auto after = c.before;
        after.erase(after.begin() + c.row);
        whenShown(warning, [&] {
            EXPECT_EQ(toolkit::text(warning, "要删除的项目名"), c.before[size_t(c.row)].name);
            EXPECT_EQ(focus(warning), "按钮1");
            whenShown(prompt, [&] {
                EXPECT_EQ(toolkit::text(prompt, "标签1"), "删除成功");
                EXPECT_EQ(focus(prompt), "按钮1");
                EXPECT_FALSE(isEnabled(warning));
                // The file has changed; the list shows it after "确定".
                EXPECT_EQ(items(main, "列表框1").size(), c.before.size());
                click(prompt, "按钮1");
                EXPECT_EQ(items(main, "列表框1"), namesOf(after));
                EXPECT_EQ(toolkit::text(main, "项目数值"), std::to_string(after.size()));
                EXPECT_TRUE(toolkit::isOpen(warning));  // it goes once the prompt has
            });
            click(warning, "按钮1");
            EXPECT_FALSE(toolkit::isOpen(warning));
        });
        start([&] {
            select(main, "列表框1", c.row);
            click(main, "删除项目");
            EXPECT_TRUE(isEnabled(main));
            EXPECT_EQ(toolkit::selection(main, "列表框1"), -1);
        });
        EXPECT_EQ(readBytes(folder.catalogue()), afterRemoval(after));
        EXPECT_EQ(selectedIndex, int(c.before.size()) + 1);
        EXPECT_TRUE(messageBoxes().empty());
    }
}

TEST_F(DeleteProjectWindowTest, BackCloseBoxAndEscapeChangeNothing) {
    writeBytes(folder.catalogue(), catalogueBytes(three));
    const std::string before = readBytes(folder.catalogue());
    const std::function<void()> closes[] = {
        [] { click(warning, "按钮2"); },
        [] { closeBox(warning); },
        [] { press(warning, Key::escape); },
    };
    for (const auto& close : closes) {
        reset();
        whenShown(warning, close);
        start([&] {
            select(main, "列表框1", 1);
            click(main, "删除项目");
            EXPECT_FALSE(toolkit::isOpen(warning));
            EXPECT_EQ(items(main, "列表框1"), namesOf(three));
            EXPECT_EQ(toolkit::selection(main, "列表框1"), 1);
            EXPECT_EQ(toolkit::text(main, "项目数值"), "3");
        });
        EXPECT_EQ(readBytes(folder.catalogue()), before);
        EXPECT_EQ(selectedIndex, 2);
    }
}

TEST_F(DeleteProjectWindowTest, APromptClosedWithEscapeLeavesTheListAndCountBehind) {
    writeBytes(folder.catalogue(), catalogueBytes(three));
    whenShown(warning, [] {
        whenShown(prompt, [] { press(prompt, Key::escape); });
        click(warning, "按钮1");
        EXPECT_FALSE(toolkit::isOpen(warning));
    });
    start([&] {
        select(main, "列表框1", 1);
        click(main, "删除项目");
        EXPECT_EQ(items(main, "列表框1"), namesOf(three));
        EXPECT_EQ(toolkit::text(main, "项目数值"), "3");
    });
    EXPECT_EQ(readBytes(folder.catalogue()), afterRemoval({three[0], three[2]}));
}

TEST_F(DeleteProjectWindowTest, ASelectionThatNamesNoProjectIsRefusedAndTheWarningCloses) {
    writeBytes(folder.catalogue(), catalogueBytes(three));
    whenShown(prompt, [] { click(prompt, "按钮1"); });
    // Before any selection, then again after the removal, with no new one.
    std::vector<Text> named;
    for (int i = 0; i < 3; ++i) {
        whenShown(warning, [&] {
            named.push_back(toolkit::text(warning, "要删除的项目名"));
            click(warning, "按钮1");
            EXPECT_FALSE(toolkit::isOpen(warning));
        });
    }
    start([&] {
        click(main, "删除项目");
        select(main, "列表框1", 2);
        click(main, "删除项目");
        click(main, "删除项目");
        EXPECT_EQ(items(main, "列表框1"), namesOf({three[0], three[1]}));
        EXPECT_EQ(toolkit::text(main, "项目数值"), "2");
    });
    EXPECT_EQ(named, (std::vector<Text>{"请选中要删除的项目", "丙项目", "没了"}));
    ASSERT_EQ(messageBoxes().size(), 2u);
    for (const auto& box : messageBoxes()) {
        EXPECT_EQ(box.text, "请选中要删除的项目");
        EXPECT_EQ(box.caption, "提示：");
        EXPECT_EQ(box.owner, warning.caption);
    }
    EXPECT_EQ(readBytes(folder.catalogue()), afterRemoval({three[0], three[1]}));
}

TEST_F(DeleteProjectWindowTest, AFailedRemovalIsReportedAndTheWarningStaysToTryAgain) {
    writeBytes(folder.catalogue(), catalogueBytes(three));
    const std::string before = readBytes(folder.catalogue());
    testing::SeamControl seam;
    whenShown(prompt, [] { click(prompt, "按钮1"); });
    whenShown(warning, [&] {
        seam.failNext(files::seam::Call::write, ENOSPC);
        click(warning, "按钮1");
        ASSERT_EQ(messageBoxes().size(), 1u);
        EXPECT_EQ(messageBoxes()[0].caption, "错误");
        EXPECT_NE(messageBoxes()[0].text.find("磁盘空间不足"), std::string::npos);
        EXPECT_TRUE(toolkit::isOpen(warning));
        EXPECT_EQ(readBytes(folder.catalogue()), before);
        EXPECT_EQ(folder.strayFiles(), "");
        click(warning, "按钮1");  // the disk has room again
    });
    start([&] {
        select(main, "列表框1", 0);
        click(main, "删除项目");
        EXPECT_EQ(items(main, "列表框1"), namesOf({three[1], three[2]}));
    });
    EXPECT_EQ(readBytes(folder.catalogue()), afterRemoval({three[1], three[2]}));
}

TEST_F(DeleteProjectWindowTest, ANameWithAnAmpersandShowsAsStored) {
    writeBytes(folder.catalogue(), catalogueBytes({{"A&B 项目", "", ""}}));
    whenShown(warning, [] {
        EXPECT_EQ(toolkit::text(warning, "要删除的项目名"), "A&B 项目");
        press(warning, Key::escape);
    });
    start([&] {
        select(main, "列表框1", 0);
        click(main, "删除项目");
    });
    // The backends show "&" in this label as it is, never as a mnemonic.
    for (const auto& c : warning.controls) {
        if (c.name == "要删除的项目名") {
            EXPECT_TRUE(c.style & toolkit::noPrefix);
        }
    }
}

TEST_F(DeleteProjectWindowTest, KeyboardMovesBetweenTheButtonsEnterPressesNeither) {
    writeBytes(folder.catalogue(), catalogueBytes(three));
    const std::string before = readBytes(folder.catalogue());
    whenShown(warning, [] {
        EXPECT_EQ(focus(warning), "按钮1");
        press(warning, Key::tab);
        EXPECT_EQ(focus(warning), "按钮2");
        press(warning, Key::tab);
        EXPECT_EQ(focus(warning), "按钮1");
        press(warning, Key::shiftTab);
        EXPECT_EQ(focus(warning), "按钮2");
        press(warning, Key::enter);
        press(warning, Key::shiftTab);
        press(warning, Key::enter);
        EXPECT_TRUE(toolkit::isOpen(warning));
        press(warning, Key::tab);
        press(warning, Key::space);  // "返回"
        EXPECT_FALSE(toolkit::isOpen(warning));
    });
    start([&] {
        select(main, "列表框1", 0);
        click(main, "删除项目");
    });
    EXPECT_EQ(readBytes(folder.catalogue()), before);
}

}  // namespace
}  // namespace quillory
