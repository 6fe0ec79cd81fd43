// The about window, driven as a user would on the headless toolkit.
#include "windows/about_window.h"

#include <gtest/gtest.h>

#include "app/state.h"
#include "tests/support/program.h"
#include "windows/main_window.h"

namespace quillory {
namespace {

using namespace toolkit::headless;
using testing::catalogueBytes;
using testing::readBytes;
using testing::writeBytes;
const auto& main = MainWindow::layout;
const auto& about = AboutWindow::layout;

using AboutWindowTest = testing::ProgramTest;

TEST_F(AboutWindowTest, ShowsTheTextCentredAndTakesTheMainWindowsInputUntilClosed) {
    writeBytes(folder.catalogue(), catalogueBytes({{"甲", "简介", "D:\\甲"}}));
    const std::string before = readBytes(folder.catalogue());
    const Text expected =
        "    这是一款管理电脑中项目的管理器，项目可以是任何类型的文件，此软件可以对电脑中众多的"
        "项目进行加入简介、路径，通过此软件可以方便地管理这些信息，快速了解定位项目。对此软件有什"
        "么好的建议和意见可以联系作者——Tesvorin（QQ：00000000）谢谢使用！";
    const std::function<void()> closes[] = {
        [] { press(about, Key::escape); },
        [] { closeBox(about); },
    };
    for (const auto& close : closes) {
        whenShown(about, [&] {
            EXPECT_EQ(toolkit::text(about, "关于"), expected);
            EXPECT_EQ(focus(about), "");  // no tab stops
            const auto at = placement(about);
            EXPECT_EQ(at.left, (screenWidth - 323) / 2);
            EXPECT_EQ(at.top, (screenHeight - 120) / 2);
            EXPECT_EQ(at.clientWidth, 317);
            EXPECT_EQ(at.clientHeight, 95);
            EXPECT_FALSE(isEnabled(main));
            EXPECT_THROW(click(main, "按钮3"), NotPossible);
            press(about, Key::tab);
            EXPECT_TRUE(toolkit::isOpen(about));
            close();
        });
    }
    start([&] {
        select(main, "列表框1", 0);
        click(main, "关于");
        EXPECT_TRUE(isEnabled(main));
        click(main, "关于");  // the same again
        EXPECT_EQ(toolkit::text(main, "简介"), "简介");
        EXPECT_EQ(selectedIndex, 1);
    });
    EXPECT_EQ(readBytes(folder.catalogue()), before);
}

}  // namespace
}  // namespace quillory
