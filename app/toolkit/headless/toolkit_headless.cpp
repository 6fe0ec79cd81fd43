// The toolkit in memory, for tests: windows and controls are plain records,
// the user is the driver, and message loops run the driver's scripts.
#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>

#include "app/toolkit.h"
#include "app/toolkit/headless/driver.h"

namespace quillory::toolkit {
namespace {

struct ControlState {
    const Control* layout;
    Text text;
    std::vector<std::pair<Text, std::int32_t>> items;
    int selected = -1;
    std::vector<char32_t> unsavable;  // typed characters GBK cannot hold, in order
};

struct WindowState {
    const Window* layout;
    std::vector<ControlState> controls;
    bool enabled = true;
    bool shown = false;
    bool destroying = false;
    int focus = -1;  // index into controls
    // Windows this one's modal load disabled, with their enabled state before.
    std::vector<std::pair<const Window*, bool>> disabled;
};

std::vector<std::unique_ptr<WindowState>> windows;  // bottom to top
std::map<const Window*, std::deque<std::function<void()>>> scripts;
std::vector<headless::MessageBoxShown> boxes;
bool refusing = false;
bool mainLoopStarted = false;

std::string name(const Window& w) {
    return std::string(w.caption);
}

WindowState* find(const Window& w) {
    for (auto& s : windows)
        if (s->layout == &w && !s->destroying) return s.get();
    return nullptr;
}

WindowState& open(const Window& w) {
    if (auto* s = find(w)) return *s;
    throw headless::NotPossible("window not open: " + name(w));
}

ControlState& control(const Window& w, std::string_view c) {
    for (auto& s : open(w).controls)
        if (s.layout->name == c) return s;
    throw headless::NotPossible("no control " + std::string(c) + " in " + name(w));
}

bool isTabStop(const ControlState& c) {
    return c.layout->kind != Kind::label;
}

// Destroys the windows asked for: what a message loop does next.
void pump() {
    for (;;) {
        auto it = std::find_if(windows.begin(), windows.end(),
                               [](const auto& s) { return s->destroying; });
        if (it == windows.end()) return;
        for (auto [other, wasEnabled] : (*it)->disabled) {
            if (auto* s = find(*other)) s->enabled = wasEnabled;
        }
        windows.erase(it);
    }
}

// Runs the user's script for the window, once per appearance.
bool runScript(const Window& w) {
    auto it = scripts.find(&w);
    if (it == scripts.end() || it->second.empty()) return false;
    auto act = std::move(it->second.front());
    it->second.pop_front();
    act();
    pump();
    return true;
}

WindowState& build(const Window& w) {
    auto s = std::make_unique<WindowState>();
    s->layout = &w;
    for (const auto& c : w.controls) s->controls.push_back({&c, Text(c.text), {}, -1, {}});
    for (size_t i = 0; i < s->controls.size(); ++i) {
        if (isTabStop(s->controls[i])) {
            s->focus = int(i);
            break;
        }
    }
    windows.push_back(std::move(s));
    return *windows.back();
}

WindowState& usable(const Window& w) {
    auto& s = open(w);
    if (!s.enabled || !s.shown) throw headless::NotPossible("window disabled: " + name(w));
    return s;
}

void moveFocus(WindowState& s, int step) {
    const int n = int(s.controls.size());
    for (int i = 1; i <= n; ++i) {
        int next = ((s.focus + step * i) % n + n) % n;
        if (isTabStop(s.controls[size_t(next)])) {
            s.focus = next;
            return;
        }
    }
}

void runHandler(const ControlState& c) {
    if (c.layout->handler) c.layout->handler();
    pump();
}

}  // namespace

bool load(const Window& window) {
    if (find(window)) return true;
    if (refusing) return false;
    auto& s = build(window);
    if (window.onCreated) window.onCreated();
    s.shown = true;
    return true;
}

void loadModal(const Window& window) {
    if (find(window)) return;
    std::vector<std::pair<const Window*, bool>> disabled;
    for (auto& other : windows) {
        disabled.emplace_back(other->layout, other->enabled);
        other->enabled = false;
    }
    auto& s = build(window);
    s.disabled = std::move(disabled);
    if (window.onCreated) window.onCreated();
    s.shown = true;
    // The nested loop: runs until this window has gone.
    while (find(window)) {
        if (!runScript(window)) throw headless::Stalled("nobody answers " + name(window));
    }
}

void destroy(const Window& window) {
    if (auto* s = find(window)) s->destroying = true;
}

bool isOpen(const Window& window) {
    return find(window) != nullptr;
}

Text text(const Window& window, std::string_view c) {
    return control(window, c).text;
}

char32_t unsavableCharacter(const Window& window, std::string_view c) {
    auto& s = control(window, c);
    return s.unsavable.empty() ? 0 : s.unsavable.front();
}

void setText(const Window& window, std::string_view c, std::string_view text) {
    auto& s = control(window, c);
    s.text = Text(text);
    s.unsavable.clear();
}

void clearList(const Window& window, std::string_view c) {
    auto& s = control(window, c);
    s.items.clear();
    s.selected = -1;
}

int addItem(const Window& window, std::string_view c, std::string_view text, std::int32_t value) {
    auto& s = control(window, c);
    s.items.emplace_back(Text(text), value);
    return int(s.items.size()) - 1;
}

std::int32_t itemValue(const Window& window, std::string_view c, int index) {
    auto& s = control(window, c);
    if (index < 0 || size_t(index) >= s.items.size()) return -1;
    return s.items[size_t(index)].second;
}

int selection(const Window& window, std::string_view c) {
    return control(window, c).selected;
}

namespace {
void showBox(std::string_view text, std::string_view caption, Icon icon, char32_t character) {
    std::string_view owner;
    for (auto& s : windows)
        if (!s->destroying && s->shown) owner = s->layout->caption;
    boxes.push_back({Text(text), Text(caption), icon, owner, character});
    std::fprintf(stderr, "[%.*s] %.*s\n", int(caption.size()), caption.data(), int(text.size()),
                 text.data());
}
}  // namespace

void messageBox(std::string_view text, std::string_view caption, Icon icon) {
    showBox(text, caption, icon, 0);
}

void messageBox(std::string_view before, char32_t character, std::string_view after,
                std::string_view caption, Icon icon) {
    showBox(Text(before) + '?' + Text(after), caption, icon, character);
}

void runMainLoop() {
    mainLoopStarted = true;
    while (!windows.empty()) {
        const Window& top = *windows.back()->layout;
        if (!runScript(top)) throw headless::Stalled("nobody answers " + name(top));
    }
}

namespace headless {

void whenShown(const Window& window, std::function<void()> act) {
    scripts[&window].push_back(std::move(act));
}

void click(const Window& window, std::string_view c) {
    usable(window);
    auto& s = control(window, c);
    if (s.layout->kind != Kind::button) throw NotPossible("not a button: " + std::string(c));
    runHandler(s);
}

void select(const Window& window, std::string_view c, int row) {
    usable(window);
    auto& s = control(window, c);
    if (s.layout->kind != Kind::listBox || row < 0 || size_t(row) >= s.items.size())
        throw NotPossible("no row " + std::to_string(row) + " in " + std::string(c));
    if (s.selected == row) return;  // no change, no event
    s.selected = row;
    runHandler(s);
}

void type(const Window& window, std::string_view c, std::string_view text) {
    usable(window);
    auto& s = control(window, c);
    if (s.layout->kind != Kind::editBox) throw NotPossible("not an edit box: " + std::string(c));
    s.text += text;
}

void erase(const Window& window, std::string_view c) {
    type(window, c, "");
    auto& s = control(window, c);
    s.text.clear();
    s.unsavable.clear();
}

void type(const Window& window, std::string_view c, char32_t unsavable) {
    type(window, c, "?");
    control(window, c).unsavable.push_back(unsavable);
}

void press(const Window& window, Key key) {
    auto& w = usable(window);
    ControlState* focused = w.focus >= 0 ? &w.controls[size_t(w.focus)] : nullptr;
    switch (key) {
        case Key::tab:
            moveFocus(w, 1);
            break;
        case Key::shiftTab:
            moveFocus(w, -1);
            break;
        case Key::escape:
            closeBox(window);
            break;
        case Key::enter:
            // A line break in a multi-line box; nothing anywhere else.
            if (focused && focused->layout->kind == Kind::editBox &&
                (focused->layout->style & multiLine))
                focused->text += "\r\n";
            break;
        case Key::space:
            if (focused && focused->layout->kind == Kind::button) {
                runHandler(*focused);
            } else if (focused && focused->layout->kind == Kind::editBox) {
                focused->text += ' ';
            }
            break;
        case Key::down:
        case Key::up:
            if (focused && focused->layout->kind == Kind::listBox && !focused->items.empty()) {
                int last = int(focused->items.size()) - 1;
                int row = focused->selected < 0 ? 0
                          : key == Key::down    ? std::min(focused->selected + 1, last)
                                                : std::max(focused->selected - 1, 0);
                if (row != focused->selected) {
                    focused->selected = row;
                    runHandler(*focused);
                }
            }
            break;
    }
}

void closeBox(const Window& window) {
    usable(window).destroying = true;
    pump();
}

bool isEnabled(const Window& window) {
    return open(window).enabled;
}

std::string_view focus(const Window& window) {
    auto& s = open(window);
    return s.focus < 0 ? std::string_view() : s.controls[size_t(s.focus)].layout->name;
}

std::vector<Text> items(const Window& window, std::string_view c) {
    std::vector<Text> out;
    for (const auto& [t, v] : control(window, c).items) out.push_back(t);
    return out;
}

Placement placement(const Window& window) {
    open(window);
    return {(screenWidth - window.width) / 2, (screenHeight - window.height) / 2,
            clientWidth(window), clientHeight(window)};
}

const std::vector<MessageBoxShown>& messageBoxes() {
    return boxes;
}

void refuseWindows(bool refuse) {
    refusing = refuse;
}

void reset() {
    refusing = false;
    windows.clear();
    scripts.clear();
    boxes.clear();
    mainLoopStarted = false;
}

}  // namespace headless
}  // namespace quillory::toolkit
