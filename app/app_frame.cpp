#include "app/app_frame.h"

#include <cstdlib>
#include <new>
#include <system_error>

#include "app/state.h"
#include "app/toolkit.h"
#include "store/project_store.h"
#include "windows/main_window.h"

namespace quillory::AppFrame {

int run() {
    if (!toolkit::load(MainWindow::layout)) fail("无法创建主窗口。");
    if (toolkit::isOpen(MainWindow::layout)) toolkit::runMainLoop();
    return 0;
}

void exitCleanup() {
    for (Text* text :
         {&scanText, &shiftName, &shiftBrief, &shiftPath, &newName, &newBrief, &newPath})
        Text().swap(*text);
}

void fail(std::string_view message) {
    toolkit::messageBox(message, texts::error, toolkit::Icon::error);
    std::_Exit(-1);
}

int main() {
    try {
        takeRunDirectory();
        std::error_code ec;
        std::filesystem::current_path(runDirectory, ec);
        ProjectStore::removeLeftovers();
        int code = run();
        exitCleanup();
        return code;
    } catch (const std::bad_alloc&) {
        fail("内存不足。");
    }
}

}  // namespace quillory::AppFrame
