// The Linux program: GTK first, then the frame.
#include <gtk/gtk.h>

#include <cstdio>

#include "app/app_frame.h"

int main(int argc, char** argv) {
    if (!gtk_init_check(&argc, &argv)) {
        std::fputs(reinterpret_cast<const char*>(
                       u8"Quillory 需要图形界面，但没有可用的显示（DISPLAY 未设置或无法连接）。\n"
                       u8"请在桌面会话中启动它，或先运行 Xvfb 并设置 DISPLAY。\n"),
                   stderr);
        return -1;
    }
    return quillory::AppFrame::main();
}
