// The Windows program: the common controls first, then the frame.
#include <windows.h>
// After windows.h, which it builds on.
#include <commctrl.h>

#include "app/app_frame.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    return quillory::AppFrame::main();
}
