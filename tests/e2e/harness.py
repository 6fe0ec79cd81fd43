"""The parts every end-to-end test of Quillory shares.

A virtual X screen (Xvfb) with its own accessibility bus, the real program
started on it from a fresh folder, keys and clicks sent with xdotool, and what
the windows show read through AT-SPI, the way a screen reader does. The
scripts that use it run inside their own D-Bus session:
dbus-run-session -- python3 SCRIPT EXE
"""

import collections
import ctypes
import ctypes.util
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

SCREEN = (1024, 768)
SECTIONS = ("项目名", "项目简介", "项目路径")


def catalogue_bytes(projects, end_markers=1):
    """The file as the program writes it: each section lists the projects'
    fields from key 1 on, then the end marker under the next end_markers keys."""
    out = ""
    for field, section in enumerate(SECTIONS):
        out += "[%s]\r\n" % section
        for k, p in enumerate(projects, 1):
            out += "%d=%s\r\n" % (k, p[field])
        for k in range(len(projects) + 1, len(projects) + 1 + end_markers):
            out += "%d=没了\r\n" % k
    return out.encode("gbk")


def wait_for(condition, what, timeout=15.0, seen=None):
    """Polls until condition() is true; fails the test with what after
    timeout, and with what seen() then returns, when given."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = condition()
        except AssertionError:
            raise
        except Exception:  # the tree may change under the reader
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            message = "timed out waiting for " + what
            if seen:
                try:
                    message += "; it shows %r" % (seen(),)
                except Exception as e:  # noqa: BLE001
                    message += "; it cannot be read: %s" % e
            raise AssertionError(message)
        time.sleep(0.05)


class Keymap:
    """Keys of their own for the characters that a text needs and the
    keyboard map lacks, such as Chinese ones.

    xdotool types such a character by binding it to a spare key for one
    press and unbinding it at once; a program that reads the key map only
    after that has happened loses or mistakes the character. A key bound
    here before typing stays bound while the program reads it. Spare keys
    are few, so the least recently used binding gives way to a new one."""

    NO_SYMBOL = 0

    def __init__(self, display):
        x = self.x = ctypes.CDLL(ctypes.util.find_library("X11"))
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDisplayKeycodes.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int),
                                       ctypes.POINTER(ctypes.c_int)]
        x.XGetKeyboardMapping.restype = ctypes.POINTER(ctypes.c_ulong)
        x.XGetKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_ubyte, ctypes.c_int,
                                          ctypes.POINTER(ctypes.c_int)]
        x.XChangeKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                             ctypes.POINTER(ctypes.c_ulong), ctypes.c_int]
        x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x.XFree.argtypes = [ctypes.c_void_p]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        # Under load the virtual screen now and then refuses a client for a
        # moment, even after it has served another.
        self.display = wait_for(lambda: x.XOpenDisplay(display.encode()),
                                "the display %s to open" % display)
        low, high = ctypes.c_int(), ctypes.c_int()
        x.XDisplayKeycodes(self.display, ctypes.byref(low), ctypes.byref(high))
        per = ctypes.c_int()
        count = high.value - low.value + 1
        table = x.XGetKeyboardMapping(self.display, low.value, count, ctypes.byref(per))
        self.spare = [low.value + k for k in range(count)
                      if all(table[k * per.value + j] == self.NO_SYMBOL for j in range(per.value))]
        x.XFree(table)
        self.bound = collections.OrderedDict()  # character: key, least recently used first

    @staticmethod
    def keysym(character):
        code = ord(character)
        return code if code < 0x100 else 0x1000000 + code

    def bind(self, text):
        """Binds every character of text beyond ASCII to a key of its own."""
        wanted = [c for c in dict.fromkeys(text) if ord(c) >= 0x80]
        if len(wanted) > len(self.spare):
            raise ValueError("%d characters to bind and %d spare keys"
                             % (len(wanted), len(self.spare)))
        for c in wanted:
            if c in self.bound:
                self.bound.move_to_end(c)
        unbound = [c for c in wanted if c not in self.bound]
        for c in unbound:
            if len(self.bound) < len(self.spare):
                key = self.spare[len(self.bound)]
            else:
                _, key = self.bound.popitem(last=False)
            self.bound[c] = key
            # The character unshifted and shifted, so that no modifier is needed.
            symbols = (ctypes.c_ulong * 2)(self.keysym(c), self.keysym(c))
            self.x.XChangeKeyboardMapping(self.display, key, 2, symbols, 1)
        if unbound:
            self.x.XSync(self.display, 0)

    def close(self):
        self.x.XCloseDisplay(self.display)


class Screen:
    """Xvfb and the accessibility bus, shared by every test of a run: the
    accessibility library keeps its first connection to the bus."""

    def __init__(self):
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "%dx%dx24" % SCREEN, "-nolisten", "tcp"],
            pass_fds=[write], stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read, 16)
            if not chunk:
                raise RuntimeError("Xvfb did not start")
            number += chunk
        os.close(read)
        self.env = dict(os.environ, DISPLAY=":" + number.decode().strip(), NO_AT_BRIDGE="0",
                        GTK_THEME="Adwaita", LANG="C.UTF-8")
        self.bus = None
        try:
            # The display number comes a moment before every client is served.
            wait_for(lambda: subprocess.run(["xdotool", "getdisplaygeometry"], env=self.env,
                                            capture_output=True).returncode == 0,
                     "the virtual screen to take clients")
            self.bus = subprocess.Popen(
                ["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], env=self.env,
                stderr=subprocess.DEVNULL)
            self.keymap = Keymap(self.env["DISPLAY"])
        except BaseException:
            # Nothing may outlive a failed start: a screen left running keeps
            # the test's session, and so the test, from ending.
            self.stop()
            raise

    def stop(self):
        for p in (self.bus, self.xvfb):
            if p:
                p.terminate()
                p.wait()

    def close(self):
        self.keymap.close()
        self.stop()


def has_state(node, state):
    return node.get_state_set().contains(state)


class Mouse:
    """The user's mouse on the screen of self.env, through xdotool."""

    def xdotool(self, *args, check=True):
        return subprocess.run(["xdotool", *args], env=self.env, check=check, capture_output=True,
                              text=True).stdout

    def pointer(self):
        location = self.xdotool("getmouselocation", "--shell")
        values = dict(line.split("=") for line in location.split())
        return int(values["X"]), int(values["Y"])

    def click_at(self, x, y):
        # Not mousemove --sync: it waits for a motion, and there is none when
        # the pointer is already there (as after the same click in the test
        # before).
        self.xdotool("mousemove", str(x), str(y))
        wait_for(lambda: self.pointer() == (x, y), "the pointer at %d,%d" % (x, y),
                 seen=self.pointer)
        self.xdotool("click", "1")


class Window:
    """One top-level window of the program: its accessible and its X window."""

    def __init__(self, program, accessible, xid):
        self.program = program
        self.accessible = accessible
        self.xid = xid
        self.caption = accessible.get_name()

    # What the window shows.
    def find(self, matches):
        """The first accessible of the window, depth first, that matches."""
        def search(node):
            if matches(node):
                return node
            for i in range(node.get_child_count()):
                found = search(node.get_child_at_index(i))
                if found:
                    return found
            return None

        return search(self.accessible)

    def control(self, accessible_id):
        found = self.find(lambda node: node.get_accessible_id() == accessible_id)
        if not found:
            raise AssertionError("no control %s in %s" % (accessible_id, self.caption))
        return found

    def text_of(self, accessible_id):
        node = self.control(accessible_id)
        text = node.get_text_iface()
        if text:
            return text.get_text(0, text.get_character_count())
        return node.get_name()

    def wait_text(self, accessible_id, text):
        """Waits until the control shows text."""
        wait_for(lambda: self.text_of(accessible_id) == text,
                 "%s in %s to show %r" % (accessible_id, self.caption, text),
                 seen=lambda: self.text_of(accessible_id))

    def wait_focus(self, accessible_id):
        """Waits until the control has the focus."""
        wait_for(lambda: self.focused() == accessible_id,
                 "the focus on %s in %s" % (accessible_id, self.caption), seen=self.focused)

    def items(self):
        table = self.control("列表框1")
        names = []
        for i in range(table.get_child_count()):
            cell = table.get_child_at_index(i)
            if cell.get_role() == Atspi.Role.TABLE_CELL:
                names.append(cell.get_name())
        return names

    def item(self, name):
        """The list's cell that shows name."""
        table = self.control("列表框1")
        for i in range(table.get_child_count()):
            cell = table.get_child_at_index(i)
            if cell.get_role() == Atspi.Role.TABLE_CELL and cell.get_name() == name:
                return cell
        raise AssertionError("no item " + name)

    def selected_rows(self):
        return self.control("列表框1").get_selection_iface().get_n_selected_children()

    def focused(self):
        node = self.find(lambda n: has_state(n, Atspi.StateType.FOCUSED))
        return node.get_accessible_id() if node else None

    def sensitive(self):
        return has_state(self.accessible, Atspi.StateType.SENSITIVE)

    def active(self):
        """Whether the window has the keyboard focus."""
        return has_state(self.accessible, Atspi.StateType.ACTIVE)

    def showing(self):
        return (not has_state(self.accessible, Atspi.StateType.DEFUNCT)
                and has_state(self.accessible, Atspi.StateType.SHOWING))

    def box_of(self, accessible_id):
        """Client position and size of the control's outer box."""
        node = self.control(accessible_id)
        parent = node.get_parent()
        while parent.get_role() in (Atspi.Role.VIEWPORT, Atspi.Role.SCROLL_PANE):
            node, parent = parent, parent.get_parent()
        e = node.get_component_iface().get_extents(Atspi.CoordType.WINDOW)
        return (e.x, e.y, e.width, e.height)

    def screen_centre(self, node):
        e = node.get_component_iface().get_extents(Atspi.CoordType.SCREEN)
        return (e.x + e.width // 2, e.y + e.height // 2)

    # What the user does.
    def focus(self):
        """Gives the window the keyboard focus, as a window manager does with
        a new window or the one beneath a closed one."""
        self.program.xdotool("windowfocus", "--sync", self.xid)
        wait_for(self.active, "the window %s to take the focus" % self.caption)

    def key(self, *keys):
        """Presses keys in this window, which gets the keyboard first."""
        self.focus()
        self.program.xdotool("key", "--clearmodifiers", *keys)

    def type(self, text):
        """Types text into the focused control, one character after the
        other. Its characters keep their keys while the next few texts are
        typed; wait for it to show before typing many more."""
        self.program.screen.keymap.bind(text)
        self.focus()
        self.program.xdotool("type", "--clearmodifiers", text)

    def tab_to(self, accessible_id, key="Tab", limit=12):
        """Tabs until accessible_id has the focus."""
        for _ in range(limit):
            if self.focused() == accessible_id:
                return
            before = self.focused()
            self.key(key)
            wait_for(lambda: self.focused() not in (before, None),
                     "the focus to leave %s" % before)
        raise AssertionError("%s takes no focus in %s" % (accessible_id, self.caption))

    def click(self, accessible_id):
        self.program.click_at(*self.screen_centre(self.control(accessible_id)))

    def screenshot(self, path):
        subprocess.run(["import", "-window", self.xid, path], env=self.program.env, check=True)


class Program(Window, Mouse):
    """One running copy of the program on the shared screen; as a Window, its
    main window."""

    def __init__(self, folder, screen):
        self.screen = screen
        self.env = screen.env
        self.exe = os.path.join(folder, "quillory")
        self.attempts = 0
        self._start()
        try:
            self.app = wait_for(self._find_app, "the program on the accessibility bus")
            frame = wait_for(lambda: self._top_level(lambda name: name.startswith("Quillory")),
                             "the main window")
            super().__init__(self, frame, wait_for(lambda: self._xid("Quillory.*"),
                                                   "the main window's X window"))
        except BaseException:
            self.close()
            raise

    def _start(self):
        self.attempts += 1
        # A file, not a pipe: a full pipe would stall the program.
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen([self.exe], cwd="/", env=self.env, stderr=self.log)

    def _find_app(self):
        if self.process.poll() is not None:
            self.log.seek(0)
            message = self.log.read().decode(errors="replace")
            # Under heavy load the virtual screen now and then refuses a new
            # client, and the program says it has no display: the screen's
            # fault, not the program's, so it is started again.
            if self.process.returncode == 255 and "DISPLAY" in message and self.attempts < 3:
                sys.stderr.write("the screen refused the program; starting it again\n")
                self.log.close()
                self._start()
                return None
            raise AssertionError("the program ended at start-up with %d: %s"
                                 % (self.process.returncode, message))
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app and app.get_process_id() == self.process.pid:
                return app
        return None

    def _top_level(self, named):
        """The showing top-level window whose caption named() accepts.
        GTK reports a plain window as a frame and one with the dialog hint as
        a dialog."""
        for i in range(self.app.get_child_count()):
            child = self.app.get_child_at_index(i)
            if (child.get_role() in (Atspi.Role.FRAME, Atspi.Role.DIALOG)
                    and named(child.get_name()) and has_state(child, Atspi.StateType.SHOWING)):
                return child
        return None

    def _xid(self, caption_pattern):
        # A search that finds nothing ends with 1.
        out = self.xdotool("search", "--all", "--onlyvisible", "--pid", str(self.process.pid),
                           "--name", "^%s$" % caption_pattern, check=False).split()
        return out[0] if len(out) == 1 else None

    def window(self, caption):
        """The window with this caption, once it shows, with the keyboard
        focus that a window manager gives a new window."""
        accessible = wait_for(lambda: self._top_level(lambda name: name == caption),
                              "the window " + caption)
        xid = wait_for(lambda: self._xid(caption), "the X window of " + caption)
        window = Window(self, accessible, xid)
        window.focus()
        return window

    def wait_closed(self, window):
        wait_for(lambda: not window.showing() and self._xid(window.caption) is None,
                 "the window %s to close" % window.caption)

    def open_captions(self):
        """The captions of every showing top-level window, bottom first."""
        captions = []
        for i in range(self.app.get_child_count()):
            child = self.app.get_child_at_index(i)
            if has_state(child, Atspi.StateType.SHOWING):
                captions.append(child.get_name())
        return captions

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.log.close()


EXE = None  # the built program, from the command line
SCREEN_SESSION = None


def setUpModule():
    global SCREEN_SESSION
    SCREEN_SESSION = Screen()


def tearDownModule():
    SCREEN_SESSION.close()


class ProgramTest(unittest.TestCase):
    """Each test runs its own copy of the program, from a fresh folder whose
    catalogue holds the class's projects."""

    projects = ()

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="quillory-e2e-")
        shutil.copy(EXE, os.path.join(self.folder, "quillory"))
        self.file = os.path.join(self.folder, "配置信息.ini")
        self.write_catalogue(catalogue_bytes(self.projects))
        self.program = Program(self.folder, SCREEN_SESSION)

    def tearDown(self):
        self.program.close()
        shutil.rmtree(self.folder, ignore_errors=True)

    def write_catalogue(self, data):
        with open(self.file, "wb") as f:
            f.write(data)

    def catalogue(self):
        with open(self.file, "rb") as f:
            return f.read()


def main():
    """Runs the calling script's tests on the program named first on the
    command line."""
    global EXE
    EXE = os.path.abspath(sys.argv.pop(1))
    unittest.main(module="__main__")
