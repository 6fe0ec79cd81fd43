#!/usr/bin/python3
"""Drives the real Quillory in a real X window, as a user would.

Starts Xvfb, copies the built program into a fresh folder with a catalogue of
three projects, presses keys and clicks with xdotool, and reads what the
window shows through the accessibility bus (AT-SPI), the way a screen reader
does. Run it inside its own D-Bus session: dbus-run-session -- main_window_e2e.py EXE
"""

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

EXE = None
SCREEN = (1024, 768)
PROJECTS = [
    ("甲骨文研究", "关于甲骨文的资料整理，包括拓片、释文和相关论文。", "D:\\资料\\甲骨文"),
    ("乙方合同", "合同草稿与往来邮件", "E:\\合同\\乙方"),
    ("丙午年计划", "年度计划", "/home/user/计划"),
]


def catalogue_bytes(projects):
    out = ""
    for section, field in (("项目名", 0), ("项目简介", 1), ("项目路径", 2)):
        out += "[%s]\r\n" % section
        for k, p in enumerate(projects, 1):
            out += "%d=%s\r\n" % (k, p[field])
        out += "%d=没了\r\n" % (len(projects) + 1)
    return out.encode("gbk")


def wait_for(condition, what, timeout=15.0):
    """Polls until condition() is true; fails the test with what after timeout."""
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
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


class Screen:
    """Xvfb and the accessibility bus, shared by every test of the run: the
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
        # The display number comes a moment before every client is served.
        wait_for(lambda: subprocess.run(["xdotool", "getdisplaygeometry"], env=self.env,
                                        capture_output=True).returncode == 0,
                 "the virtual screen to take clients")
        self.bus = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                    env=self.env, stderr=subprocess.DEVNULL)

    def close(self):
        for p in (self.bus, self.xvfb):
            p.terminate()
            p.wait()


SCREEN_SESSION = None


def setUpModule():
    global SCREEN_SESSION
    SCREEN_SESSION = Screen()


def tearDownModule():
    SCREEN_SESSION.close()


class Program:
    """One running copy of the program on the shared screen."""

    def __init__(self, folder):
        self.env = SCREEN_SESSION.env
        self.exe = os.path.join(folder, "quillory")
        self.attempts = 0
        self._start()
        try:
            self.app = wait_for(self._find_app, "the program on the accessibility bus")
            self.frame = wait_for(lambda: self._frame(), "the main window")
            self.xid = wait_for(self._xid, "the main window's X window")
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

    def _frame(self):
        for i in range(self.app.get_child_count()):
            child = self.app.get_child_at_index(i)
            if child.get_role() == Atspi.Role.FRAME and child.get_name().startswith("Quillory"):
                if child.get_state_set().contains(Atspi.StateType.SHOWING):
                    return child
        return None

    def _xid(self):
        out = self.xdotool("search", "--onlyvisible", "--name", "Quillory").split()
        return out[0] if out else None

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, check=True, capture_output=True,
                              text=True).stdout

    def key(self, *keys):
        self.xdotool("windowfocus", "--sync", self.xid)
        self.xdotool("key", "--clearmodifiers", *keys)

    def click_at(self, x, y):
        self.xdotool("mousemove", "--sync", str(x), str(y))
        self.xdotool("click", "1")

    def screenshot(self, path):
        subprocess.run(["import", "-window", self.xid, path], env=self.env, check=True)

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    # What the window shows.
    def find(self, matches):
        """The first accessible of the main window, depth first, that matches."""
        def search(node):
            if matches(node):
                return node
            for i in range(node.get_child_count()):
                found = search(node.get_child_at_index(i))
                if found:
                    return found
            return None

        return search(self.frame)

    def control(self, accessible_id):
        found = self.find(lambda node: node.get_accessible_id() == accessible_id)
        if not found:
            raise AssertionError("no control " + accessible_id)
        return found

    def text_of(self, accessible_id):
        node = self.control(accessible_id)
        text = node.get_text_iface()
        if text:
            return text.get_text(0, text.get_character_count())
        return node.get_name()

    def items(self):
        table = self.control("列表框1")
        names = []
        for i in range(table.get_child_count()):
            cell = table.get_child_at_index(i)
            if cell.get_role() == Atspi.Role.TABLE_CELL:
                names.append(cell.get_name())
        return names

    def selected_rows(self):
        return self.control("列表框1").get_selection_iface().get_n_selected_children()

    def focused(self):
        node = self.find(lambda n: n.get_state_set().contains(Atspi.StateType.FOCUSED))
        return node.get_accessible_id() if node else None

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


class MainWindowEndToEnd(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="quillory-e2e-")
        shutil.copy(EXE, os.path.join(self.folder, "quillory"))
        self.file = os.path.join(self.folder, "配置信息.ini")
        with open(self.file, "wb") as f:
            f.write(catalogue_bytes(PROJECTS))
        self.program = Program(self.folder)

    def tearDown(self):
        self.program.close()
        shutil.rmtree(self.folder, ignore_errors=True)

    def test_shows_lists_selects_refreshes_and_ends(self):
        p = self.program
        names = [n for n, _, _ in PROJECTS]
        self.assertEqual(p.items(), names)
        self.assertEqual(p.text_of("项目数值"), "3")
        self.assertEqual(p.text_of("简介"), "")
        self.assertEqual(p.text_of("路径"), "")
        # The list has the focus and nothing is selected.
        self.assertEqual(p.focused(), "列表框1")
        self.assertEqual(p.selected_rows(), 0)

        # Geometry: the client area and its place on the screen, and the controls.
        geometry = p.xdotool("getwindowgeometry", "--shell", p.xid)
        values = dict(line.split("=") for line in geometry.split())
        self.assertEqual((int(values["WIDTH"]), int(values["HEIGHT"])), (429, 457))
        left, top = (SCREEN[0] - 435) // 2, (SCREEN[1] - 482) // 2
        self.assertEqual((int(values["X"]), int(values["Y"])), (left + 3, top + 22))
        for control, box in {"列表框1": (16, 48, 248, 144), "简介": (16, 232, 248, 136),
                             "路径": (16, 408, 400, 40), "更新列表": (296, 24, 104, 24),
                             "按钮3": (296, 320, 104, 40)}.items():
            self.assertEqual(p.box_of(control), box, control)

        if os.environ.get("QUILLORY_SCREENSHOT"):
            p.screenshot(os.environ["QUILLORY_SCREENSHOT"])

        # The keyboard selects the first project.
        p.key("Down")
        wait_for(lambda: p.text_of("简介") == PROJECTS[0][1], "the first description")
        self.assertEqual(p.text_of("路径"), PROJECTS[0][2])

        # The mouse selects the third.
        table = p.control("列表框1")
        cells = [table.get_child_at_index(i) for i in range(table.get_child_count())]
        third = [c for c in cells if c.get_name() == names[2]][0]
        p.click_at(*p.screen_centre(third))
        wait_for(lambda: p.text_of("简介") == PROJECTS[2][1], "the third description")
        self.assertEqual(p.text_of("路径"), PROJECTS[2][2])
        if os.environ.get("QUILLORY_SCREENSHOT_SELECTED"):
            p.screenshot(os.environ["QUILLORY_SCREENSHOT_SELECTED"])

        # Another program adds a project; "更新列表" shows it, the count stays.
        with open(self.file, "wb") as f:
            f.write(catalogue_bytes(PROJECTS + [("丁", "第四", "F:\\丁")]))
        p.click_at(*p.screen_centre(p.control("更新列表")))
        wait_for(lambda: len(p.items()) == 4, "the refilled list")
        self.assertEqual(p.selected_rows(), 0)
        self.assertEqual(p.text_of("简介"), "")
        self.assertEqual(p.text_of("路径"), "")
        self.assertEqual(p.text_of("项目数值"), "3")

        # Tabbing round into the list again selects nothing either.
        for _ in range(9):
            before = p.focused()
            p.key("Tab")
            wait_for(lambda: p.focused() not in (before, None), "the focus to move on")
            if p.focused() == "列表框1":
                break
        self.assertEqual(p.focused(), "列表框1")
        self.assertEqual(p.selected_rows(), 0)
        self.assertEqual(p.text_of("简介"), "")

        # Escape ends the program normally, whatever has the focus.
        p.key("Escape")
        self.assertEqual(p.process.wait(timeout=10), 0)
        with open(self.file, "rb") as f:
            self.assertEqual(f.read(), catalogue_bytes(PROJECTS + [("丁", "第四", "F:\\丁")]))

    def test_tab_order_and_enter(self):
        p = self.program
        order = ["列表框1", "简介", "路径", "添加项目", "删除项目", "按钮3", "更新列表", "修改项目", "关于"]
        for i in range(1, len(order) + 1):
            p.key("Tab")
            wait_for(lambda: p.focused() == order[i % len(order)], "focus on " + order[i % len(order)])
        self.assertEqual(p.selected_rows(), 0)  # focusing the list selects nothing
        for i in range(len(order) - 1, -1, -1):
            p.key("shift+Tab")
            wait_for(lambda: p.focused() == order[i], "focus back on " + order[i])
        # Enter on the focused "退出" presses nothing; Space presses it.
        while p.focused() != "按钮3":
            p.key("Tab")
        p.key("Return")
        self.assertEqual(p.text_of("项目数值"), "3")  # a round trip through the program
        self.assertIsNone(p.process.poll())
        p.key("space")
        self.assertEqual(p.process.wait(timeout=10), 0)


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    unittest.main()
