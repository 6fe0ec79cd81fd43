// The toolkit on GTK 3.
//
// Each control sits in a clip box of exactly its table size inside a
// GtkFixed, so no theme can make a control larger than designed. Modal loads
// run a nested GMainLoop; a destroy is an idle callback of high priority, so
// it happens as soon as the asking handler has returned to a loop.
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/toolkit.h"
#include "store/gbk_codec.h"

namespace quillory::toolkit {
namespace {

std::string utf8(std::string_view gbk) {
    return codec::gbkToUtf8(gbk);
}
Text gbk(const char* utf8Text) {
    return codec::utf8ToGbk(utf8Text ? utf8Text : "");
}

// Line breaks are CR LF in the program's texts and LF inside GTK.
std::string toDisplay(std::string_view gbkText) {
    std::string s = utf8(gbkText);
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
        out += s[i];
    }
    return out;
}

Text fromDisplay(const char* utf8Text) {
    std::string out;
    for (const char* p = utf8Text ? utf8Text : ""; *p; ++p) {
        if (*p == '\n' && (out.empty() || out.back() != '\r')) out += '\r';
        out += *p;
    }
    return gbk(out.c_str());
}

struct Instance;

struct ControlWidget {
    const Control* layout = nullptr;
    GtkWidget* widget = nullptr;  // the label, button, entry, text view or tree view
    GtkWidget* box = nullptr;     // what sits in the GtkFixed
    Instance* owner = nullptr;
    bool userInput = false;  // a list's selection may change only by the user's hand
    bool programmatic = false;
};

// A window that a modal load disabled. GTK takes the focus away from a
// window as it turns insensitive, so the control that had it is noted, to
// have it back when the window is enabled again.
struct Disabled {
    GtkWidget* window;
    bool wasSensitive;
    GtkWidget* focus;
};

struct Instance {
    const Window* layout = nullptr;
    GtkWidget* window = nullptr;
    std::vector<std::unique_ptr<ControlWidget>> controls;
    GMainLoop* modalLoop = nullptr;
    std::vector<Disabled> disabled;  // windows this one's load disabled
    bool destroying = false;
};

std::vector<std::unique_ptr<Instance>> instances;  // bottom to top
GMainLoop* mainLoop = nullptr;

Instance* find(const Window& w) {
    for (auto& i : instances)
        if (i->layout == &w && !i->destroying) return i.get();
    return nullptr;
}

ControlWidget* control(const Window& w, std::string_view name) {
    Instance* i = find(w);
    if (!i) return nullptr;
    for (auto& c : i->controls)
        if (c->layout->name == name) return c.get();
    return nullptr;
}

Instance* topmost() {
    for (auto it = instances.rbegin(); it != instances.rend(); ++it)
        if (!(*it)->destroying) return it->get();
    return nullptr;
}

// Fonts: the default GUI font is a 12 px CJK sans; named Windows fonts fall
// back to families that hold the same characters.
std::string fontFamily(std::string_view face) {
    if (face.empty())
        return "\"Microsoft YaHei\", \"WenQuanYi Zen Hei\", \"Noto Sans CJK SC\", sans-serif";
    if (face == "楷体_GB2312" || face == "楷体")
        return "\"KaiTi\", \"KaiTi_GB2312\", \"AR PL UKai CN\", \"AR PL UKai\", serif";
    if (face == "黑体") return "\"SimHei\", \"WenQuanYi Zen Hei\", sans-serif";
    return "\"" + utf8(face) + "\", \"WenQuanYi Zen Hei\", sans-serif";
}

GtkCssProvider* styleFor(const Window& w) {
    std::string css =
        "window, viewport, fixed { background-color: #f0f0f0; }"
        "* { min-width: 0; min-height: 0; font-size: 12px; font-family: " +
        fontFamily({}) +
        "; }"
        "button { padding: 0; border-radius: 0; }"
        "button label { padding: 0; }"
        "entry { padding: 0 2px; border-radius: 0; }"
        "textview, textview text, treeview, entry { background-color: #ffffff; color: #000000; }"
        "treeview:selected { background-color: #0078d7; color: #ffffff; }"
        "label { color: #000000; padding: 0; }"
        "scrolledwindow.sunken { border: 1px solid #7a7a7a; }";
    for (size_t n = 0; n < w.controls.size(); ++n) {
        const Control& c = w.controls[n];
        if (c.font.face.empty() && !c.colour.set) continue;
        css += "#c" + std::to_string(n) + ", #c" + std::to_string(n) + " * {";
        if (!c.font.face.empty()) {
            css += "font-family: " + fontFamily(c.font.face) +
                   "; font-size: " + std::to_string(c.font.height) +
                   "px; font-weight: " + std::to_string(c.font.weight) + ";";
        }
        if (c.colour.set) {
            char rgb[16];
            g_snprintf(rgb, sizeof rgb, "#%02x%02x%02x", c.colour.red, c.colour.green,
                       c.colour.blue);
            css += std::string("color: ") + rgb + ";";
        }
        css += "}";
    }
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
    return provider;
}

void applyStyle(GtkWidget* widget, GtkCssProvider* provider) {
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget),
                                   GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    if (GTK_IS_CONTAINER(widget)) {
        gtk_container_forall(
            GTK_CONTAINER(widget),
            [](GtkWidget* child, gpointer p) { applyStyle(child, GTK_CSS_PROVIDER(p)); }, provider);
    }
}

// A box of exactly the given size that clips what it holds.
GtkWidget* clipBox(GtkWidget* child, int width, int height) {
    GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_EXTERNAL,
                                   GTK_POLICY_EXTERNAL);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_NONE);
    gtk_scrolled_window_set_propagate_natural_width(GTK_SCROLLED_WINDOW(scroller), FALSE);
    gtk_scrolled_window_set_propagate_natural_height(GTK_SCROLLED_WINDOW(scroller), FALSE);
    gtk_container_add(GTK_CONTAINER(scroller), child);
    if (GtkWidget* viewport = gtk_bin_get_child(GTK_BIN(scroller)); GTK_IS_VIEWPORT(viewport))
        gtk_viewport_set_shadow_type(GTK_VIEWPORT(viewport), GTK_SHADOW_NONE);
    gtk_widget_set_size_request(scroller, width, height);
    gtk_widget_set_size_request(child, width, height);
    // A scrolled window takes the focus itself when its child cannot: a
    // window of labels alone would show a focused box that is no control.
    gtk_widget_set_can_focus(scroller, FALSE);
    return scroller;
}

void finishDestroy(Instance* inst);

// The user closed the window (close box, Alt+F4, Escape): it goes at once,
// unless a modal window above it has it disabled.
gboolean onDelete(GtkWidget* window, GdkEvent*, gpointer data) {
    auto* inst = static_cast<Instance*>(data);
    if (!inst->destroying && gtk_widget_get_sensitive(window)) {
        inst->destroying = true;
        finishDestroy(inst);
    }
    return TRUE;
}

bool isButton(GtkWidget* w) {
    return w && GTK_IS_BUTTON(w);
}

// Tab and Shift+Tab follow the table's tab order and wrap, whatever widget
// has the focus (a tree view or text view would otherwise keep some Tabs).
void moveFocus(Instance* inst, GtkWidget* focus, int step) {
    const int n = int(inst->controls.size());
    int at = -1;
    for (int i = 0; i < n; ++i) {
        GtkWidget* box = inst->controls[size_t(i)]->box;
        if (focus && (focus == box || gtk_widget_is_ancestor(focus, box))) at = i;
    }
    for (int k = 1; k <= n; ++k) {
        int next = (((at < 0 ? (step > 0 ? -1 : 0) : at) + step * k) % n + n) % n;
        const auto& c = inst->controls[size_t(next)];
        if (c->layout->kind != Kind::label) {
            gtk_widget_grab_focus(c->widget);
            return;
        }
    }
}

gboolean onWindowKey(GtkWidget* window, GdkEventKey* event, gpointer data) {
    auto* inst = static_cast<Instance*>(data);
    switch (event->keyval) {
        case GDK_KEY_Escape:
            return onDelete(window, nullptr, data);
        case GDK_KEY_Tab:
        case GDK_KEY_KP_Tab:
        case GDK_KEY_ISO_Left_Tab:
            moveFocus(
                inst, gtk_window_get_focus(GTK_WINDOW(window)),
                (event->state & GDK_SHIFT_MASK) || event->keyval == GDK_KEY_ISO_Left_Tab ? -1 : 1);
            return TRUE;
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
        case GDK_KEY_ISO_Enter:
            // Enter presses no button: there is no default button.
            return isButton(gtk_window_get_focus(GTK_WINDOW(window)));
        default:
            return FALSE;
    }
}

void onClicked(GtkButton*, gpointer data) {
    auto* c = static_cast<ControlWidget*>(data);
    if (c->layout->handler) c->layout->handler();
}

gboolean allowSelection(GtkTreeSelection*, GtkTreeModel*, GtkTreePath*, gboolean selected,
                        gpointer data) {
    auto* c = static_cast<ControlWidget*>(data);
    return selected || c->userInput || c->programmatic;
}

void onSelectionChanged(GtkTreeSelection* selection, gpointer data) {
    auto* c = static_cast<ControlWidget*>(data);
    if (c->programmatic || !c->layout->handler) return;
    if (gtk_tree_selection_count_selected_rows(selection) == 0) return;
    c->layout->handler();
}

gboolean listInputStarts(GtkWidget* view, GdkEvent* event, gpointer data) {
    auto* c = static_cast<ControlWidget*>(data);
    c->userInput = true;
    // With nothing selected, the first arrow key selects the first item.
    if (event->type == GDK_KEY_PRESS) {
        guint key = reinterpret_cast<GdkEventKey*>(event)->keyval;
        GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(view));
        GtkTreeModel* model = gtk_tree_view_get_model(GTK_TREE_VIEW(view));
        GtkTreeIter first;
        if ((key == GDK_KEY_Down || key == GDK_KEY_Up) &&
            gtk_tree_selection_count_selected_rows(sel) == 0 &&
            gtk_tree_model_get_iter_first(model, &first)) {
            GtkTreePath* path = gtk_tree_model_get_path(model, &first);
            gtk_tree_view_set_cursor(GTK_TREE_VIEW(view), path, nullptr, FALSE);
            gtk_tree_path_free(path);
            c->userInput = false;
            return TRUE;
        }
    }
    return FALSE;
}

// Runs after every event, also one the tree view's own handler stopped.
void listInputEnds(GtkWidget*, GdkEvent*, gpointer data) {
    static_cast<ControlWidget*>(data)->userInput = false;
}

// A sunken box of the control's size that scrolls its child vertically only.
GtkWidget* sunkenScroller(GtkWidget* child, GtkPolicyType vertical, const Control& layout) {
    GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER, vertical);
    gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(scroller), FALSE);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(scroller), child);
    gtk_widget_set_size_request(scroller, layout.width, layout.height);
    return scroller;
}

GtkWidget* makeList(ControlWidget& c) {
    GtkListStore* store = gtk_list_store_new(2, G_TYPE_STRING, G_TYPE_INT);
    GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    g_object_unref(store);
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(view), FALSE);
    gtk_tree_view_set_enable_search(GTK_TREE_VIEW(view), FALSE);
    GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
    g_object_set(renderer, "ypad", 0, nullptr);
    gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(view), -1, "", renderer, "text", 0,
                                                nullptr);
    GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(view));
    gtk_tree_selection_set_mode(sel, GTK_SELECTION_SINGLE);
    gtk_tree_selection_set_select_function(sel, allowSelection, &c, nullptr);
    g_signal_connect(sel, "changed", G_CALLBACK(onSelectionChanged), &c);
    g_signal_connect(view, "button-press-event", G_CALLBACK(listInputStarts), &c);
    g_signal_connect(view, "key-press-event", G_CALLBACK(listInputStarts), &c);
    g_signal_connect(view, "event-after", G_CALLBACK(listInputEnds), &c);
    c.widget = view;
    return sunkenScroller(view, GTK_POLICY_AUTOMATIC, *c.layout);
}

GtkWidget* makeTextView(ControlWidget& c) {
    GtkWidget* view = gtk_text_view_new();
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
    gtk_text_view_set_accepts_tab(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_left_margin(GTK_TEXT_VIEW(view), 2);
    gtk_text_view_set_right_margin(GTK_TEXT_VIEW(view), 2);
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)),
                             toDisplay(c.layout->text).c_str(), -1);
    c.widget = view;
    // Scrolls down as the text grows, with no scroll bar shown.
    return sunkenScroller(view, GTK_POLICY_EXTERNAL, *c.layout);
}

GtkWidget* makeControl(ControlWidget& c) {
    const Control& l = *c.layout;
    switch (l.kind) {
        case Kind::label: {
            GtkWidget* label = gtk_label_new(utf8(l.text).c_str());
            gtk_label_set_xalign(GTK_LABEL(label), 0);
            gtk_label_set_yalign(GTK_LABEL(label), (l.style & wordWrap) ? 0.0f : 0.5f);
            if (l.style & wordWrap) {
                gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
                gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
            }
            c.widget = label;
            return clipBox(label, l.width, l.height);
        }
        case Kind::button: {
            GtkWidget* button = gtk_button_new_with_label(utf8(l.text).c_str());
            g_signal_connect(button, "clicked", G_CALLBACK(onClicked), &c);
            c.widget = button;
            return clipBox(button, l.width, l.height);
        }
        case Kind::editBox: {
            if (l.style & multiLine) return makeTextView(c);
            GtkWidget* entry = gtk_entry_new();
            gtk_entry_set_width_chars(GTK_ENTRY(entry), 1);
            gtk_entry_set_text(GTK_ENTRY(entry), utf8(l.text).c_str());
            c.widget = entry;
            return clipBox(entry, l.width, l.height);
        }
        case Kind::listBox:
            return makeList(c);
    }
    return nullptr;
}

// Screen coordinates of the window's client area: the outer window centred
// on the primary screen, inside a classic 3 px frame with a 19 px caption.
void centre(GtkWidget* window, const Window& layout) {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (!monitor) monitor = gdk_display_get_monitor(display, 0);
    GdkRectangle screen{0, 0, 1024, 768};
    if (monitor) gdk_monitor_get_geometry(monitor, &screen);
    int left = screen.x + (screen.width - layout.width) / 2;
    int top = screen.y + (screen.height - layout.height) / 2;
    bool managed = true;
#ifdef GDK_WINDOWING_X11
    if (GDK_IS_X11_DISPLAY(display)) {
        const char* wm = gdk_x11_screen_get_window_manager_name(gdk_screen_get_default());
        managed = wm && g_strcmp0(wm, "unknown") != 0;
    }
#endif
    // Without a window manager nothing draws a frame: place the client area
    // where it would lie inside one.
    if (managed) {
        gtk_window_move(GTK_WINDOW(window), left, top);
    } else {
        gtk_window_move(GTK_WINDOW(window), left + 3, top + 22);
    }
}

Instance* build(const Window& layout, bool modal) {
    auto inst = std::make_unique<Instance>();
    inst->layout = &layout;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    if (!window) return nullptr;
    inst->window = window;
    gtk_window_set_title(GTK_WINDOW(window), utf8(layout.caption).c_str());
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    if (!(layout.titleBoxes & (minimiseBox | maximiseBox)))
        gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
    if (modal) {
        if (Instance* top = topmost())
            gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(top->window));
        gtk_window_set_modal(GTK_WINDOW(window), TRUE);
        gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window), TRUE);
    }
    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_size_request(fixed, clientWidth(layout), clientHeight(layout));
    gtk_container_add(GTK_CONTAINER(window), fixed);
    for (size_t n = 0; n < layout.controls.size(); ++n) {
        auto c = std::make_unique<ControlWidget>();
        c->layout = &layout.controls[n];
        c->owner = inst.get();
        GtkWidget* box = makeControl(*c);
        c->box = box;
        std::string id = "c" + std::to_string(n);
        gtk_widget_set_name(c->widget, id.c_str());
        atk_object_set_accessible_id(gtk_widget_get_accessible(c->widget),
                                     utf8(c->layout->name).c_str());
        gtk_fixed_put(GTK_FIXED(fixed), box, c->layout->left, c->layout->top);
        if (c->layout->kind == Kind::label) gtk_widget_set_can_focus(c->widget, FALSE);
        inst->controls.push_back(std::move(c));
    }
    GtkCssProvider* provider = styleFor(layout);
    applyStyle(window, provider);
    g_object_unref(provider);
    g_signal_connect(window, "delete-event", G_CALLBACK(onDelete), inst.get());
    g_signal_connect(window, "key-press-event", G_CALLBACK(onWindowKey), inst.get());
    gtk_widget_show_all(fixed);
    instances.push_back(std::move(inst));
    return instances.back().get();
}

void show(Instance* inst) {
    centre(inst->window, *inst->layout);
    // The first tab stop has the focus when the window first shows.
    for (auto& c : inst->controls) {
        if (c->layout->kind != Kind::label) {
            gtk_window_set_focus(GTK_WINDOW(inst->window), c->widget);
            break;
        }
    }
    gtk_widget_show(inst->window);
}

// Enables a disabled window that is still open, and gives the focus back to
// the control that had it. The noted focus is only compared with the live
// controls, never followed: it may name a widget that is gone.
void enable(const Disabled& d) {
    for (auto& other : instances) {
        if (other->window != d.window) continue;
        gtk_widget_set_sensitive(d.window, d.wasSensitive);
        if (!d.wasSensitive) return;
        for (auto& c : other->controls)
            if (c->widget == d.focus) gtk_window_set_focus(GTK_WINDOW(d.window), d.focus);
        return;
    }
}

void finishDestroy(Instance* inst) {
    for (const auto& d : inst->disabled) enable(d);
    GMainLoop* loop = inst->modalLoop;
    gtk_widget_destroy(inst->window);
    instances.erase(std::find_if(instances.begin(), instances.end(),
                                 [&](const auto& i) { return i.get() == inst; }));
    if (loop) g_main_loop_quit(loop);
    if (instances.empty() && mainLoop) g_main_loop_quit(mainLoop);
}

}  // namespace

bool load(const Window& window) {
    if (Instance* open = find(window)) {
        gtk_window_present(GTK_WINDOW(open->window));
        return true;
    }
    Instance* inst = build(window, false);
    if (!inst) return false;
    if (window.onCreated) window.onCreated();
    if (!inst->destroying) show(inst);
    return true;
}

void loadModal(const Window& window) {
    if (Instance* open = find(window)) {
        gtk_window_present(GTK_WINDOW(open->window));
        return;
    }
    std::vector<Disabled> disabled;
    for (auto& other : instances) {
        disabled.push_back({other->window, bool(gtk_widget_get_sensitive(other->window)),
                            gtk_window_get_focus(GTK_WINDOW(other->window))});
        gtk_widget_set_sensitive(other->window, FALSE);
    }
    Instance* inst = build(window, true);
    if (!inst) {
        for (const auto& d : disabled) enable(d);
        return;
    }
    inst->disabled = std::move(disabled);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    inst->modalLoop = loop;
    if (window.onCreated) window.onCreated();
    // The created handler may have destroyed the window already, and a
    // message box's loop may have carried that out.
    auto alive = [&] {
        return std::any_of(instances.begin(), instances.end(),
                           [&](const auto& i) { return i.get() == inst && !i->destroying; });
    };
    if (alive()) show(inst);
    if (std::any_of(instances.begin(), instances.end(),
                    [&](const auto& i) { return i.get() == inst; }))
        g_main_loop_run(loop);
    g_main_loop_unref(loop);
}

void destroy(const Window& window) {
    Instance* inst = find(window);
    if (!inst) return;
    inst->destroying = true;
    g_idle_add_full(
        G_PRIORITY_HIGH,
        [](gpointer data) -> gboolean {
            auto* target = static_cast<Instance*>(data);
            for (auto& i : instances)
                if (i.get() == target) {
                    finishDestroy(target);
                    break;
                }
            return G_SOURCE_REMOVE;
        },
        inst, nullptr);
}

bool isOpen(const Window& window) {
    return find(window) != nullptr;
}

namespace {
// What the control shows, in UTF-8 with GTK's LF line breaks.
std::string shown(ControlWidget* c) {
    if (!c) return {};
    if (GTK_IS_ENTRY(c->widget)) return gtk_entry_get_text(GTK_ENTRY(c->widget));
    if (GTK_IS_TEXT_VIEW(c->widget)) {
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(c->widget));
        GtkTextIter start, end;
        gtk_text_buffer_get_bounds(buffer, &start, &end);
        gchar* s = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
        std::string out(s);
        g_free(s);
        return out;
    }
    if (GTK_IS_LABEL(c->widget)) return gtk_label_get_text(GTK_LABEL(c->widget));
    if (GTK_IS_BUTTON(c->widget)) return gtk_button_get_label(GTK_BUTTON(c->widget));
    return {};
}
}  // namespace

Text text(const Window& window, std::string_view name) {
    return fromDisplay(shown(control(window, name)).c_str());
}

char32_t unsavableCharacter(const Window& window, std::string_view name) {
    return codec::firstOutsideGbk(shown(control(window, name)));
}

void setText(const Window& window, std::string_view name, std::string_view value) {
    ControlWidget* c = control(window, name);
    if (!c) return;
    if (GTK_IS_ENTRY(c->widget)) {
        gtk_entry_set_text(GTK_ENTRY(c->widget), toDisplay(value).c_str());
    } else if (GTK_IS_TEXT_VIEW(c->widget)) {
        gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(c->widget)),
                                 toDisplay(value).c_str(), -1);
    } else if (GTK_IS_LABEL(c->widget)) {
        gtk_label_set_text(GTK_LABEL(c->widget), utf8(value).c_str());
    } else if (GTK_IS_BUTTON(c->widget)) {
        gtk_button_set_label(GTK_BUTTON(c->widget), utf8(value).c_str());
    }
}

namespace {
GtkListStore* listStore(ControlWidget* c) {
    if (!c || !GTK_IS_TREE_VIEW(c->widget)) return nullptr;
    return GTK_LIST_STORE(gtk_tree_view_get_model(GTK_TREE_VIEW(c->widget)));
}
}  // namespace

void clearList(const Window& window, std::string_view name) {
    ControlWidget* c = control(window, name);
    GtkListStore* store = listStore(c);
    if (!store) return;
    c->programmatic = true;
    gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(GTK_TREE_VIEW(c->widget)));
    gtk_list_store_clear(store);
    c->programmatic = false;
}

int addItem(const Window& window, std::string_view name, std::string_view value,
            std::int32_t itemValue) {
    ControlWidget* c = control(window, name);
    GtkListStore* store = listStore(c);
    if (!store) return -1;
    c->programmatic = true;
    GtkTreeIter iter;
    gtk_list_store_insert_with_values(store, &iter, -1, 0, utf8(value).c_str(), 1, itemValue, -1);
    c->programmatic = false;
    return gtk_tree_model_iter_n_children(GTK_TREE_MODEL(store), nullptr) - 1;
}

std::int32_t itemValue(const Window& window, std::string_view name, int index) {
    GtkListStore* store = listStore(control(window, name));
    GtkTreeIter iter;
    if (!store || index < 0 ||
        !gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(store), &iter, nullptr, index))
        return -1;
    gint value = -1;
    gtk_tree_model_get(GTK_TREE_MODEL(store), &iter, 1, &value, -1);
    return value;
}

int selection(const Window& window, std::string_view name) {
    ControlWidget* c = control(window, name);
    if (!listStore(c)) return -1;
    GtkTreeModel* model;
    GtkTreeIter iter;
    GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(c->widget));
    if (!gtk_tree_selection_get_selected(sel, &model, &iter)) return -1;
    GtkTreePath* path = gtk_tree_model_get_path(model, &iter);
    int row = gtk_tree_path_get_indices(path)[0];
    gtk_tree_path_free(path);
    return row;
}

namespace {
void showBox(const std::string& utf8Text, std::string_view caption, Icon icon) {
    if (!gdk_display_get_default()) return;
    Instance* owner = topmost();
    GtkMessageType type = icon == Icon::error     ? GTK_MESSAGE_ERROR
                          : icon == Icon::warning ? GTK_MESSAGE_WARNING
                                                  : GTK_MESSAGE_INFO;
    GtkWidget* box =
        gtk_message_dialog_new(owner ? GTK_WINDOW(owner->window) : nullptr, GTK_DIALOG_MODAL, type,
                               GTK_BUTTONS_OK, "%s", utf8Text.c_str());
    gtk_window_set_title(GTK_WINDOW(box), utf8(caption).c_str());
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}
}  // namespace

void messageBox(std::string_view text, std::string_view caption, Icon icon) {
    showBox(toDisplay(text), caption, icon);
}

void messageBox(std::string_view before, char32_t character, std::string_view after,
                std::string_view caption, Icon icon) {
    char one[8] = {};
    g_unichar_to_utf8(gunichar(character), one);
    showBox(toDisplay(before) + one + toDisplay(after), caption, icon);
}

void runMainLoop() {
    if (instances.empty()) return;
    mainLoop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(mainLoop);
    g_main_loop_unref(mainLoop);
    mainLoop = nullptr;
}

}  // namespace quillory::toolkit
