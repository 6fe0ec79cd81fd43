// Start-up, the main loop and the end of the program.
#pragma once

#include <string_view>

namespace quillory::AppFrame {

// Loads the main window, runs the main loop until the last window has gone,
// and returns 0. Exits with -1 after an error box when the window cannot be
// created.
int run();

// Releases the program-wide texts; run once after run() has returned.
void exitCleanup();

// Shows an error box with no owner and ends the process with exit code -1.
[[noreturn]] void fail(std::string_view message);

// The whole program: takes the run directory, makes it current, tidies up
// after a crash, runs, cleans up. Returns the process exit code.
int main();

}  // namespace quillory::AppFrame
