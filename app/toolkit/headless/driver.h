// The headless backend's user: tests act through these calls exactly as a
// user would at the screen, and read what the windows show.
//
// A test scripts what the user does whenever a window appears; the main loop
// and every modal load run those scripts. A window left open with no script
// for it is a program waiting for input the test never gives: the loop
// throws Stalled.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/toolkit.h"

namespace quillory::toolkit::headless {

struct Stalled : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An action the user cannot take: a control that does not exist, a window
// that is disabled or not open.
struct NotPossible : std::logic_error {
    using std::logic_error::logic_error;
};

// Queues what the user does the next time the window appears.
void whenShown(const Window& window, std::function<void()> act);

enum class Key { tab, shiftTab, enter, space, escape, down, up };

void click(const Window& window, std::string_view control);
void select(const Window& window, std::string_view control, int row);
void type(const Window& window, std::string_view control, std::string_view text);
// Selects all of the box's text and deletes it.
void erase(const Window& window, std::string_view control);
// Types one character that GBK cannot hold; the box shows it as '?'.
void type(const Window& window, std::string_view control, char32_t unsavable);
void press(const Window& window, Key key);
void closeBox(const Window& window);

// What the screen shows.
bool isEnabled(const Window& window);
std::string_view focus(const Window& window);
std::vector<Text> items(const Window& window, std::string_view control);
struct Placement {
    int left, top, clientWidth, clientHeight;
};
Placement placement(const Window& window);
inline constexpr int screenWidth = 1280, screenHeight = 1024;

struct MessageBoxShown {
    Text text, caption;
    Icon icon;
    std::string_view owner;  // caption of the owning window; empty for none
    char32_t character = 0;  // a character GBK cannot hold, shown as '?' in text
};
// Message boxes shown so far; each is closed at once with its OK button.
// Each is also written to standard error, where a test of a process that
// ends right after its box can still read it.
const std::vector<MessageBoxShown>& messageBoxes();

// Makes every further load fail, as when the system cannot create a window.
void refuseWindows(bool refuse);

// Forgets every window, script and message box: a fresh start.
void reset();

}  // namespace quillory::toolkit::headless
