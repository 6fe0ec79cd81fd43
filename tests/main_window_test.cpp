// The main window driven as a user would, on the headless toolkit.
#include "windows/main_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "app/app_frame.h"
#include "app/state.h"
#include "app/toolkit/headless/driver.h"
#include "tests/support/file_system_seam.h"
#include "tests/support/program.h"
#include "tests/support/temp_folder.h"

namespace quillory {
namespace {

using namespace toolkit::headless;
using testing::catalogueBytes;
using testing::readBytes;
using testing::TempFolder;
using testing::writeBytes;
const auto& window = MainWindow::layout;

const std::vector<testing::Project> three = {{"甲项目", "第一个项目的简介", "D:\\甲"},
                                             {"乙项目", "第二个", "D:\\乙"},
                                             {"丙项目", "第三个", "D:\\丙"}};

using MainWindowTest = testing::ProgramTest;

TEST_F(MainWindowTest, AFirstStartCreatesTheCatalogueAndListsNothing) {
    EXPECT_EQ(start([&] {
                  EXPECT_TRUE(std::filesystem::exists(folder.catalogue()));
                  EXPECT_TRUE(items(window, "列表框1").empty());
                  EXPECT_EQ(toolkit::text(window, "简介"), "");
                  EXPECT_EQ(toolkit::text(window, "路径"), "");
                  EXPECT_EQ(toolkit::text(window, "项目数值"), "0");
                  EXPECT_EQ(focus(window), "列表框1");
              }),
              0);
    EXPECT_TRUE(messageBoxes().empty());
}

TEST_F(MainWindowTest, ListsTheProjectsInIndexOrderWithTheirCount) {
    writeBytes(folder.catalogue(), catalogueBytes(three));
    start([&] {
        EXPECT_EQ(items(window, "列表框1"), (std::vector<Text>{"甲项目", "乙项目", "丙项目"}));
        for (int row = 0; row < 3; ++row)
            EXPECT_EQ(toolkit::itemValue(window, "列表框1", row), row + 1);
        EXPECT_EQ(toolkit::itemValue(window, "列表框1", 3), -1);
        EXPECT_EQ(toolkit::selection(window, "列表框1"), -1);
        EXPECT_EQ(toolkit::text(window, "项目数值"), "3");
        EXPECT_EQ(selectedIndex, 0);
    });
}

TEST_F(MainWindowTest, SelectingAProjectShowsItsDescriptionAndPath) {
    std::string bytes = catalogueBytes(three);
    bytes.erase(bytes.find("2=D:\\乙\r\n"), std::string("2=D:\\乙\r\n").size());
    writeBytes(folder.catalogue(), bytes);
    start([&] {
        select(window, "列表框1", 2);
        EXPECT_EQ(selectedIndex, 3);
        EXPECT_EQ(toolkit::text(window, "简介"), "第三个");
        EXPECT_EQ(toolkit::text(window, "路径"), "D:\\丙");
        select(window, "列表框1", 1);
        EXPECT_EQ(selectedIndex, 2);
        EXPECT_EQ(toolkit::text(window, "简介"), "第二个");
        EXPECT_EQ(toolkit::text(window, "路径"), "错误");  // its path key is missing
        press(window, Key::up);
        EXPECT_EQ(selectedIndex, 1);
        EXPECT_EQ(toolkit::text(window, "简介"), "第一个项目的简介");
    });
}

TEST_F(MainWindowTest, RefreshingRefillsTheListAndKeepsSelectionAndCount) {
    writeBytes(folder.catalogue(), catalogueBytes(three));
    start([&] {
        select(window, "列表框1", 1);
        type(window, "简介", "用户输入的文字");
        // Another program adds a project and renames the first.
        auto changed = three;
        changed[0].name = "新甲";
        changed.push_back({"丁项目", "第四个", "D:\\丁"});
        writeBytes(folder.catalogue(), catalogueBytes(changed));
        EXPECT_EQ(items(window, "列表框1").size(), 3u);  // nothing shows before a refill
        click(window, "更新列表");
        EXPECT_EQ(items(window, "列表框1"),
                  (std::vector<Text>{"新甲", "乙项目", "丙项目", "丁项目"}));
        EXPECT_EQ(toolkit::selection(window, "列表框1"), -1);
        EXPECT_EQ(toolkit::text(window, "简介"), "");
        EXPECT_EQ(toolkit::text(window, "路径"), "");
        EXPECT_EQ(selectedIndex, 2);
        EXPECT_EQ(endIndex, 5);
        EXPECT_EQ(toolkit::text(window, "项目数值"), "3");
    });
    EXPECT_EQ(readBytes(folder.catalogue()).find("用户输入"), std::string::npos);
}

TEST_F(MainWindowTest, ExitCloseBoxAndEscapeEndTheProgramAndReleaseTheTexts) {
    writeBytes(folder.catalogue(), catalogueBytes(three));
    const std::function<void()> ends[] = {
        [] { click(window, "按钮3"); },
        [] { closeBox(window); },
        [] {
            press(window, Key::tab);  // the focus is in the description box
            EXPECT_EQ(focus(window), "简介");
            press(window, Key::escape);
        },
    };
    for (const auto& end : ends) {
        reset();
        newName = "留下的文字";
        start([&] {
            select(window, "列表框1", 0);
            end();
            EXPECT_FALSE(toolkit::isOpen(window));
        });
        EXPECT_EQ(scanText, "没了");
        AppFrame::exitCleanup();
        for (const Text* t :
             {&scanText, &shiftName, &shiftBrief, &shiftPath, &newName, &newBrief, &newPath}) {
            EXPECT_TRUE(t->empty());
            EXPECT_EQ(t->capacity(), Text().capacity());
        }
    }
}

TEST_F(MainWindowTest, TabVisitsTheControlsInOrderAndEnterPressesNoButton) {
    writeBytes(folder.catalogue(), catalogueBytes(three));
    const std::vector<std::string_view> order = {
        "列表框1", "简介", "路径", "添加项目", "删除项目", "按钮3", "更新列表", "修改项目", "关于"};
    start([&] {
        for (size_t i = 1; i <= order.size(); ++i) {
            press(window, Key::tab);
            EXPECT_EQ(focus(window), order[i % order.size()]);
        }
        for (size_t i = order.size(); i-- > 0;) {
            press(window, Key::shiftTab);
            EXPECT_EQ(focus(window), order[i]);
        }
        while (focus(window) != "按钮3") press(window, Key::tab);
        press(window, Key::enter);
        EXPECT_TRUE(toolkit::isOpen(window));
        while (focus(window) != "简介") press(window, Key::tab);
        press(window, Key::enter);
        EXPECT_EQ(toolkit::text(window, "简介"), "\r\n");
    });
}

TEST_F(MainWindowTest, ACatalogueThatCannotBeReadIsReportedAndLeftAlone) {
    writeBytes(folder.catalogue(), catalogueBytes(three));
    const std::string before = readBytes(folder.catalogue());
    testing::SeamControl seam;
    seam.failNext(files::seam::Call::read, EACCES, true);
    start([&] {
        ASSERT_EQ(messageBoxes().size(), 1u);
        const auto& box = messageBoxes()[0];
        EXPECT_EQ(box.caption, "错误");
        EXPECT_NE(box.text.find("无法读取项目文件"), std::string::npos);
        EXPECT_NE(box.text.find("没有访问权限"), std::string::npos);
        EXPECT_NE(box.text.find(folder.path().filename().string()), std::string::npos);
        EXPECT_TRUE(items(window, "列表框1").empty());
        EXPECT_EQ(toolkit::text(window, "项目数值"), "0");
    });
    EXPECT_EQ(readBytes(folder.catalogue()), before);
}

TEST_F(MainWindowTest, AFolderThatCannotBeWrittenIsReportedOnce) {
    testing::SeamControl seam;
    seam.failNext(files::seam::Call::rename, EROFS);
    start([&] {
        ASSERT_EQ(messageBoxes().size(), 1u);
        EXPECT_NE(messageBoxes()[0].text.find("磁盘或文件夹是只读的"), std::string::npos);
        EXPECT_TRUE(items(window, "列表框1").empty());
        EXPECT_EQ(toolkit::text(window, "项目数值"), "0");
    });
    EXPECT_FALSE(std::filesystem::exists(folder.catalogue()));
}

TEST_F(MainWindowTest, AMainWindowThatCannotBeCreatedEndsTheProgramWithMinusOne) {
    refuseWindows(true);
#ifdef _WIN32
    const int minusOne = -1;
#else
    const int minusOne = 255;  // what POSIX makes of exit(-1)
#endif
    EXPECT_EXIT(AppFrame::run(), ::testing::ExitedWithCode(minusOne),
                ::testing::HasSubstr(std::string("[错误] 无法创建主窗口")));
    EXPECT_FALSE(std::filesystem::exists(folder.catalogue()));
}

}  // namespace
}  // namespace quillory
