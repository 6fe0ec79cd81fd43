// Modifying projects, driven as a user would on the headless toolkit.
#include "windows/modify_project_window.h"

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
const auto& modify = ModifyProjectWindow::layout;
const auto& prompt = ModifiedPromptWindow::layout;

const std::vector<Project> three = {
    {"甲项目", "第一个", "D:\\甲"}, {"乙项目", "第二个", "D:\\乙"}, {"丙项目", "第三个", "D:\\丙"}};

using ModifyProjectWindowTest = testing::ProgramTest;

// The six boxes, stored column first.
std::vector<Text> boxes() {
    std::vector<Text> shown;
    for (auto box : {"编辑框1", "编辑框2", "编辑框3", "编辑框6", "编辑框5", "编辑框4"})
        shown.push_back(toolkit::text(modify, box));
    return shown;
}

void replace(std::string_view box, std::string_view text) {
    erase(modify, box);
    type(modify, box, text);
}

TEST_F(ModifyProjectWindowTest, ANewNameIsStoredAndTheLeftColumnIsNot) {
    writeBytes(folder.catalogue(), catalogueBytes(three));
    auto changed = three;
    changed[1].name = "乙项目（新）";
    whenShown(modify, [&] {
        EXPECT_EQ(boxes(),
                  (std::vector<Text>{"乙项目", "第二个", "D:\\乙", "乙项目", "第二个", "D:\\乙"}));
        EXPECT_EQ(focus(modify), "编辑框1");
        replace("编辑框6", changed[1].name);
        type(modify, "编辑框1", "左边的改动");
        type(modify, "编辑框3", "也不存");
        // Another program adds a project: the count must not follow it.
        auto more = three;
        more.push_back({"丁项目", "", ""});
        writeBytes(folder.catalogue(), catalogueBytes(more));
        changed.push_back(more[3]);
        whenShown(prompt, [] {
            EXPECT_EQ(toolkit::text(prompt, "标签1"), "修改成功");
            EXPECT_EQ(focus(prompt), "按钮1");
            EXPECT_FALSE(isEnabled(modify));
            click(prompt, "按钮1");
            EXPECT_TRUE(toolkit::isOpen(modify));  // it goes once the prompt has
        });
        click(modify, "按钮1");
        EXPECT_FALSE(toolkit::isOpen(modify));
    });
    start([&] {
        select(main, "列表框1", 1);
        click(main, "修改项目");
        EXPECT_EQ(items(main, "列表框1"),
                  (std::vector<Text>{"甲项目", "乙项目（新）", "丙项目", "丁项目"}));
        EXPECT_EQ(toolkit::text(main, "项目数值"), "3");
        EXPECT_EQ(selectedIndex, 2);
    });
    EXPECT_EQ(readBytes(folder.catalogue()), catalogueBytes(changed));
}

TEST_F(ModifyProjectWindowTest, StoresWhatTheRightColumnHoldsAsItIs) {
    struct Case {
        std::string_view what;
        std::function<void()> edit;
        Project stored;
    };
    const Case cases[] = {
        {"no change", [] {}, three[0]},
        {"an emptied name", [] { erase(modify, "编辑框6"); }, {"", "第一个", "D:\\甲"}},
        {"a line break typed into the description",
         [] {
             while (focus(modify) != "编辑框5") press(modify, Key::tab);
             press(modify, Key::enter);
             type(modify, "编辑框5", "续");
         },
         {"甲项目", "第一个 续", "D:\\甲"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        writeBytes(folder.catalogue(), catalogueBytes(three));
        whenShown(prompt, [] { click(prompt, "按钮1"); });
        whenShown(modify, [&] {
            c.edit();
            click(modify, "按钮1");
        });
        start([&] {
            select(main, "列表框1", 0);
            click(main, "修改项目");
            EXPECT_EQ(items(main, "列表框1")[0], c.stored.name);
            EXPECT_EQ(items(main, "列表框1").size(), 3u);
        });
        EXPECT_EQ(readBytes(folder.catalogue()), catalogueBytes({c.stored, three[1], three[2]}));
        EXPECT_TRUE(messageBoxes().empty());
    }
}

TEST_F(ModifyProjectWindowTest, AMissingPathShowsTheFallbackWhichAConfirmStores) {
    std::string bytes = catalogueBytes(three);
    bytes.erase(bytes.find("3=D:\\丙\r\n"), std::string("3=D:\\丙\r\n").size());
    writeBytes(folder.catalogue(), bytes);
    whenShown(prompt, [] { click(prompt, "按钮1"); });
    whenShown(modify, [] {
        EXPECT_EQ(toolkit::text(modify, "编辑框3"), "请选中要修改的项目");
        EXPECT_EQ(toolkit::text(modify, "编辑框4"), "请选中要修改的项目");
        click(modify, "按钮1");
    });
    start([&] {
        select(main, "列表框1", 2);
        click(main, "修改项目");
    });
    // The key comes back after the last line of its section.
    EXPECT_EQ(readBytes(folder.catalogue()), bytes + "3=请选中要修改的项目\r\n");
}

TEST_F(ModifyProjectWindowTest, CancelCloseBoxAndEscapeChangeNothing) {
    writeBytes(folder.catalogue(), catalogueBytes(three));
    const std::string before = readBytes(folder.catalogue());
    const std::function<void()> closes[] = {
        [] { click(modify, "按钮2"); },
        [] { closeBox(modify); },
        [] { press(modify, Key::escape); },
    };
    for (const auto& close : closes) {
        reset();
        whenShown(modify, [&] {
            replace("编辑框6", "不存");
            close();
        });
        start([&] {
            select(main, "列表框1", 0);
            click(main, "修改项目");
            EXPECT_FALSE(toolkit::isOpen(modify));
            EXPECT_EQ(items(main, "列表框1")[0], "甲项目");
            EXPECT_EQ(toolkit::selection(main, "列表框1"), 0);
        });
        EXPECT_EQ(readBytes(folder.catalogue()), before);
    }
}

TEST_F(ModifyProjectWindowTest, APromptClosedWithEscapeLeavesTheOldNameListed) {
    writeBytes(folder.catalogue(), catalogueBytes(three));
    whenShown(modify, [] {
        replace("编辑框6", "新名");
        whenShown(prompt, [] { press(prompt, Key::escape); });
        click(modify, "按钮1");
        EXPECT_FALSE(toolkit::isOpen(modify));
    });
    start([&] {
        select(main, "列表框1", 0);
        click(main, "修改项目");
        EXPECT_EQ(items(main, "列表框1")[0], "甲项目");
    });
    EXPECT_EQ(readBytes(folder.catalogue()),
              catalogueBytes({{"新名", "第一个", "D:\\甲"}, three[1], three[2]}));
}

TEST_F(ModifyProjectWindowTest, ASelectionThatNamesNoProjectIsRefusedAndTheWindowCloses) {
    writeBytes(folder.catalogue(), catalogueBytes(three));
    const std::string before = readBytes(folder.catalogue());
    whenShown(modify, [] {
        EXPECT_EQ(boxes(), std::vector<Text>(6, "请选中要修改的项目"));
        click(modify, "按钮1");
        EXPECT_FALSE(toolkit::isOpen(modify));
    });
    start([&] { click(main, "修改项目"); });
    ASSERT_EQ(messageBoxes().size(), 1u);
    EXPECT_EQ(messageBoxes()[0].text, "请选中要修改的项目");
    EXPECT_EQ(messageBoxes()[0].caption, "提示：");
    EXPECT_EQ(readBytes(folder.catalogue()), before);
}

TEST_F(ModifyProjectWindowTest, RefusedTextsAndFailedWritesKeepTheWindowOpen) {
    writeBytes(folder.catalogue(), catalogueBytes(three));
    const std::string before = readBytes(folder.catalogue());
    testing::SeamControl seam;
    struct Case {
        std::string_view what;
        std::function<void()> edit;
        std::string_view inMessage;
        char32_t character = 0;
    };
    const Case cases[] = {
        {"the end marker as a name", [] { replace("编辑框6", "没了"); }, "项目名不能为“没了”。"},
        {"a character GBK cannot hold", [] { type(modify, "编辑框4", U'\u0E01'); },
         "“?”无法保存：项目文件只能保存GBK字符。", U'\u0E01'},
        {"a disk failing",
         [&] {
             replace("编辑框6", "新名");
             seam.failNext(files::seam::Call::fsync, EIO);
         },
         "读写磁盘时出错"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        whenShown(modify, [&] {
            c.edit();
            const auto typed = boxes();
            click(modify, "按钮1");  // no prompt follows: none is scripted
            EXPECT_TRUE(toolkit::isOpen(modify));
            EXPECT_EQ(boxes(), typed);
            click(modify, "按钮2");
        });
        start([&] {
            select(main, "列表框1", 0);
            click(main, "修改项目");
        });
        ASSERT_EQ(messageBoxes().size(), 1u);
        EXPECT_NE(messageBoxes()[0].text.find(c.inMessage), std::string::npos);
        EXPECT_EQ(messageBoxes()[0].character, c.character);
        EXPECT_EQ(messageBoxes()[0].owner, modify.caption);
        EXPECT_EQ(readBytes(folder.catalogue()), before);
        EXPECT_EQ(folder.strayFiles(), "");
    }
}

TEST_F(ModifyProjectWindowTest, TabFollowsTheColumnsAndEnterPressesNoButton) {
    writeBytes(folder.catalogue(), catalogueBytes(three));
    const std::vector<std::string_view> order = {"编辑框1", "编辑框2", "编辑框3", "编辑框6",
                                                 "编辑框5", "编辑框4", "按钮1",   "按钮2"};
    whenShown(modify, [&] {
        for (size_t i = 1; i <= order.size(); ++i) {
            press(modify, Key::tab);
            EXPECT_EQ(focus(modify), order[i % order.size()]);
        }
        for (size_t i = order.size(); i-- > 0;) {
            press(modify, Key::shiftTab);
            EXPECT_EQ(focus(modify), order[i]);
        }
        while (focus(modify) != "按钮1") press(modify, Key::tab);
        press(modify, Key::enter);
        EXPECT_TRUE(toolkit::isOpen(modify));
        press(modify, Key::tab);
        press(modify, Key::space);  // "取消"
        EXPECT_FALSE(toolkit::isOpen(modify));
    });
    start([&] {
        select(main, "列表框1", 0);
        click(main, "修改项目");
    });
}

}  // namespace
}  // namespace quillory
