// Adding projects, driven as a user would on the headless toolkit.
#include "windows/add_project_window.h"

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
const auto& add = AddProjectWindow::layout;
const auto& prompt = AddedPromptWindow::layout;

const std::vector<Project> two = {{"甲项目", "第一个", "D:\\甲"}, {"乙项目", "第二个", "D:\\乙"}};

using AddProjectWindowTest = testing::ProgramTest;

void fill(const Project& p) {
    type(add, "新项目名", p.name);
    type(add, "新项目简介", p.brief);
    type(add, "新项目路径", p.path);
}

TEST_F(AddProjectWindowTest, AnAddIntoAnEmptyCatalogueIsListedAndCounted) {
    const Project p = {"新项目", "新的简介", "C:\\新"};
    whenShown(add, [&] {
        EXPECT_EQ(focus(add), "新项目名");
        EXPECT_FALSE(isEnabled(main));
        fill(p);
        whenShown(prompt, [] {
            EXPECT_EQ(toolkit::text(prompt, "标签1"), "添加成功");
            EXPECT_EQ(focus(prompt), "按钮1");
            EXPECT_FALSE(isEnabled(add));
            EXPECT_FALSE(isEnabled(main));
            click(prompt, "按钮1");
        });
        click(add, "按钮1");
        // The prompt has gone; the add window stays with its texts.
        EXPECT_FALSE(toolkit::isOpen(prompt));
        EXPECT_TRUE(isEnabled(add));
        EXPECT_EQ(toolkit::text(add, "新项目名"), p.name);
        EXPECT_EQ(toolkit::text(add, "新项目路径"), p.path);
        EXPECT_EQ(items(main, "列表框1"), std::vector<Text>{p.name});
        EXPECT_EQ(toolkit::text(main, "项目数值"), "1");
        click(add, "按钮2");
    });
    start([&] {
        EXPECT_EQ(toolkit::text(main, "项目数值"), "0");
        click(main, "添加项目");
        EXPECT_FALSE(toolkit::isOpen(add));
        EXPECT_TRUE(isEnabled(main));
    });
    EXPECT_EQ(readBytes(folder.catalogue()), catalogueBytes({p}));
    EXPECT_EQ(newName, p.name);
    EXPECT_EQ(newBrief, p.brief);
    EXPECT_EQ(newPath, p.path);
    EXPECT_TRUE(messageBoxes().empty());
}

TEST_F(AddProjectWindowTest, AddsOneAfterAnotherWithTheWindowKeptOpen) {
    writeBytes(folder.catalogue(), catalogueBytes(two));
    const Project p = {"丙项目", "第三个", "D:\\丙"};
    whenShown(prompt, [] { click(prompt, "按钮1"); });
    whenShown(prompt, [] { click(prompt, "按钮1"); });
    whenShown(prompt, [] { click(prompt, "按钮1"); });
    whenShown(add, [&] {
        fill(p);
        click(add, "按钮1");
        click(add, "按钮1");  // the same texts again: a second, identical project
        EXPECT_EQ(toolkit::text(main, "项目数值"), "4");
        erase(add, "新项目名");
        erase(add, "新项目简介");
        erase(add, "新项目路径");
        click(add, "按钮1");  // all three boxes empty
        press(add, Key::escape);
    });
    start([&] {
        click(main, "添加项目");
        EXPECT_EQ(items(main, "列表框1"),
                  (std::vector<Text>{"甲项目", "乙项目", "丙项目", "丙项目", ""}));
        EXPECT_EQ(toolkit::text(main, "项目数值"), "5");
    });
    EXPECT_EQ(readBytes(folder.catalogue()), catalogueBytes({two[0], two[1], p, p, {"", "", ""}}));
}

TEST_F(AddProjectWindowTest, APromptClosedWithEscapeSkipsTheRefreshOnly) {
    writeBytes(folder.catalogue(), catalogueBytes(two));
    whenShown(add, [&] {
        fill({"丙项目", "第三个", "D:\\丙"});
        whenShown(prompt, [] { press(prompt, Key::escape); });
        click(add, "按钮1");
        EXPECT_TRUE(toolkit::isOpen(add));
        EXPECT_EQ(items(main, "列表框1").size(), 2u);
        closeBox(add);
    });
    start([&] {
        click(main, "添加项目");
        EXPECT_EQ(items(main, "列表框1").size(), 2u);
        click(main, "更新列表");
        EXPECT_EQ(items(main, "列表框1"), (std::vector<Text>{"甲项目", "乙项目", "丙项目"}));
        EXPECT_EQ(toolkit::text(main, "项目数值"), "2");
    });
    EXPECT_EQ(readBytes(folder.catalogue()),
              catalogueBytes({two[0], two[1], {"丙项目", "第三个", "D:\\丙"}}));
}

TEST_F(AddProjectWindowTest, CancelCloseBoxAndEscapeChangeNothing) {
    writeBytes(folder.catalogue(), catalogueBytes(two));
    const std::string before = readBytes(folder.catalogue());
    const std::function<void()> closes[] = {
        [] { click(add, "按钮2"); },
        [] { closeBox(add); },
        [] { press(add, Key::escape); },
    };
    for (const auto& close : closes) {
        reset();
        whenShown(add, [&] {
            fill({"不存", "不存", "不存"});
            close();
        });
        start([&] {
            click(main, "添加项目");
            EXPECT_FALSE(toolkit::isOpen(add));
            EXPECT_EQ(items(main, "列表框1").size(), 2u);
            EXPECT_EQ(toolkit::text(main, "项目数值"), "2");
        });
        EXPECT_EQ(readBytes(folder.catalogue()), before);
    }
}

TEST_F(AddProjectWindowTest, KeyboardTabsInOrderEnterBreaksLinesSpacePresses) {
    const std::vector<std::string_view> order = {"新项目名", "新项目简介", "新项目路径", "按钮1",
                                                 "按钮2"};
    whenShown(prompt, [] {
        press(prompt, Key::enter);  // no default button
        EXPECT_TRUE(toolkit::isOpen(prompt));
        press(prompt, Key::space);
    });
    whenShown(add, [&] {
        for (size_t i = 1; i <= order.size(); ++i) {
            press(add, Key::tab);
            EXPECT_EQ(focus(add), order[i % order.size()]);
        }
        press(add, Key::shiftTab);
        EXPECT_EQ(focus(add), "按钮2");
        press(add, Key::tab);
        type(add, "新项目名", "第一行");
        press(add, Key::enter);
        type(add, "新项目名", "第二行");
        EXPECT_EQ(toolkit::text(add, "新项目名"), "第一行\r\n第二行");
        while (focus(add) != "按钮1") press(add, Key::tab);
        press(add, Key::enter);  // presses nothing
        EXPECT_EQ(endIndex, 1);
        press(add, Key::space);  // presses "添  加"
        EXPECT_EQ(endIndex, 2);
        press(add, Key::tab);
        press(add, Key::space);  // presses "取  消"
        EXPECT_FALSE(toolkit::isOpen(add));
    });
    start([&] { click(main, "添加项目"); });
    // The line break is stored as one space: the file has no line for it.
    EXPECT_EQ(readBytes(folder.catalogue()), catalogueBytes({{"第一行 第二行", "", ""}}));
}

TEST_F(AddProjectWindowTest, RefusalsKeepTheTextsAndWriteNothing) {
    writeBytes(folder.catalogue(), catalogueBytes(two));
    const std::string before = readBytes(folder.catalogue());
    testing::SeamControl seam;
    struct Case {
        std::string_view what;
        std::function<void()> act;
        Text message;
        std::string_view caption;
        char32_t character = 0;
    };
    const Case cases[] = {
        {"the end marker as a name", [] { type(add, "新项目名", "没了"); }, "项目名不能为“没了”。",
         "提示："},
        {"a character GBK cannot hold",
         [] {
             type(add, "新项目简介", "表情");
             type(add, "新项目简介", U'\U0001F600');
         },
         "“?”无法保存：项目文件只能保存GBK字符。", "提示：", U'\U0001F600'},
        {"a folder that cannot be written",
         [&] {
             type(add, "新项目名", "只读");
             seam.failNext(files::seam::Call::rename, EROFS);
         },
         "", "错误"},
        {"a second program holding the lock",
         [&] {
             type(add, "新项目名", "忙");
             seam.failNext(files::seam::Call::lock, EBUSY);
         },
         "", "错误"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        whenShown(add, [&] {
            c.act();
            const Text typed = toolkit::text(add, "新项目名") + toolkit::text(add, "新项目简介");
            click(add, "按钮1");  // no prompt follows: none is scripted
            EXPECT_EQ(toolkit::text(add, "新项目名") + toolkit::text(add, "新项目简介"), typed);
            closeBox(add);
        });
        start([&] { click(main, "添加项目"); });
        ASSERT_EQ(messageBoxes().size(), 1u);
        const auto& box = messageBoxes()[0];
        EXPECT_EQ(box.caption, c.caption);
        EXPECT_EQ(box.owner, add.caption);
        if (!c.message.empty()) {
            EXPECT_EQ(box.text, c.message);
        } else {
            EXPECT_NE(box.text.find("无法保存项目文件"), std::string::npos);
        }
        EXPECT_EQ(box.character, c.character);
        EXPECT_EQ(readBytes(folder.catalogue()), before);
        EXPECT_EQ(folder.strayFiles(), "");
    }
}

}  // namespace
}  // namespace quillory
