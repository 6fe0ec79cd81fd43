#include "tests/support/program.h"

#include "app/app_frame.h"
#include "windows/main_window.h"

namespace quillory::testing {

int ProgramTest::start(std::function<void()> script) {
    const auto& main = MainWindow::layout;
    toolkit::headless::whenShown(main, [script, &main] {
        script();
        if (toolkit::isOpen(main)) toolkit::headless::click(main, "按钮3");
    });
    return AppFrame::run();
}

}  // namespace quillory::testing
