// The window toolkit as the windows see it: constant layout tables, and free
// functions that exactly one backend per executable implements (GTK, Win32,
// or the headless one the tests drive).
//
// Texts cross this boundary as GBK; each backend converts at its own edge.
// Positions are client coordinates; every backend gives a window the client
// area "outer size minus 6 × 25", so each layout fits as designed.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "app/texts.h"

namespace quillory::toolkit {

using Handler = void (*)();

enum class Kind { label, button, editBox, listBox };

// Style flags of a control.
enum Style : unsigned {
    plain = 0,
    multiLine = 1u << 0,          // edit box: wraps, scrolls down as it grows, Enter adds a line
    wordWrap = 1u << 1,           // label: wraps, lines drawn from the top
    verticallyCentred = 1u << 2,  // label: one line, centred from top to bottom
    noPrefix = 1u << 3,           // label: shows "&" as it is, never as a mnemonic
};

struct Font {
    std::string_view face;  // empty: the system's default GUI font
    int height = 0;         // character height in pixels
    int weight = 400;
};

struct Colour {
    bool set = false;
    std::uint8_t red = 0, green = 0, blue = 0;
};

struct Control {
    std::string_view name;
    Kind kind;
    int left, top, width, height;
    std::string_view text;
    unsigned style = plain;
    Font font = {};
    Colour colour = {};
    Handler handler = nullptr;  // clicked (button) or item selected by the user (list box)
};

enum TitleBoxes : unsigned {
    closeBoxOnly = 0,
    minimiseBox = 1u << 0,
    maximiseBox = 1u << 1,
};

struct Window {
    std::string_view caption;
    int width, height;  // outer size, frame and title bar included
    unsigned titleBoxes;
    Handler onCreated;
    std::span<const Control> controls;  // in tab order
};

// The client area every backend gives a window of the layout's outer size.
constexpr int clientWidth(const Window& w) {
    return w.width - 6;
}
constexpr int clientHeight(const Window& w) {
    return w.height - 25;
}

// Builds the window, runs its created handler, then shows it centred on the
// primary screen. False when the window could not be created.
bool load(const Window& window);

// Loads the window above every open one, which stay disabled until it has
// been destroyed; returns then. A window already open is only brought to the
// front, and the call returns at once.
void loadModal(const Window& window);

// The window goes when control next reaches a message loop.
void destroy(const Window& window);

bool isOpen(const Window& window);

// A character that GBK cannot hold reads as '?'; check unsavableCharacter
// before storing a control's text.
Text text(const Window& window, std::string_view control);
// The first character in the control's text that GBK cannot hold; 0 if none.
char32_t unsavableCharacter(const Window& window, std::string_view control);
void setText(const Window& window, std::string_view control, std::string_view text);

void clearList(const Window& window, std::string_view control);
// Adds an item at the end; its index, or -1.
int addItem(const Window& window, std::string_view control, std::string_view text,
            std::int32_t value);
// The value of the item at index; -1 when there is no such item.
std::int32_t itemValue(const Window& window, std::string_view control, int index);
// The selected item's index; -1 when none is selected.
int selection(const Window& window, std::string_view control);

enum class Icon { information, warning, error };

// A modal message box owned by the topmost window of the program, or by none.
void messageBox(std::string_view text, std::string_view caption, Icon icon);
// The same, for a text that names a character GBK cannot hold: before, the
// character, after.
void messageBox(std::string_view before, char32_t character, std::string_view after,
                std::string_view caption, Icon icon);

// Runs until the last window of the program has gone.
void runMainLoop();

}  // namespace quillory::toolkit
