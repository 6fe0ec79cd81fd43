#!/usr/bin/python3
"""Drives the real Quillory.exe under Wine on a virtual screen, as a user would.

Each test copies the program into a fresh folder beside a catalogue of three
projects, starts it under Wine, clicks and types with xdotool, and reads what
its windows show with our inspector (tests/wine/inspector.cpp), which runs in
the same Wine prefix and server and answers each request with a line of JSON.
The Win32 toolkit gives the control in row k of a window's layout table the
identifier 1000 + k: that is how a control is found by its table name.

The prefix is made with tests/wine/setup-prefix.sh in STATE_FOLDER on the
first run and kept for the next ones. Each test class runs its own Wine
server on it, with its own locale and DPI, ended with the class. Run it
inside its own D-Bus session
(harness.py's screen brings the accessibility bus):
dbus-run-session -- wine_e2e.py WINE QUILLORY_EXE INSPECTOR_EXE STATE_FOLDER

With QUILLORY_SCREENSHOTS naming a folder, the screen is saved there as a PNG
at the end of each test that shows the main window.
"""

import hashlib
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import unittest

import harness
from harness import catalogue_bytes, wait_for
from harness import setUpModule, tearDownModule  # noqa: F401  (unittest calls them)

SETUP_PREFIX = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "wine",
                            "setup-prefix.sh")
WINE = QUILLORY = INSPECTOR = STATE = None  # from the command line

PROJECTS = [
    ("甲骨文研究", "关于甲骨文的资料整理，包括拓片、释文和相关论文。", "D:\\资料\\甲骨文"),
    ("乙方合同", "合同草稿与往来邮件", "E:\\合同\\乙方"),
    ("丙午年计划", "年度计划", "/home/user/计划"),
]
NAMES = [name for name, _, _ in PROJECTS]

MAIN_CAPTION = "Quillory————By Tesvorin"
# The main window's table: name, left, top, width, height and text.
MAIN = [
    ("列表框1", 16, 48, 248, 144, ""),
    ("简介", 16, 232, 248, 136, ""),
    ("路径", 16, 408, 400, 40, ""),
    ("添加项目", 296, 76, 104, 24, "添加项目"),
    ("删除项目", 296, 180, 104, 24, "删除项目"),
    ("按钮3", 296, 320, 104, 40, "退出"),
    ("更新列表", 296, 24, 104, 24, "更新列表"),
    ("修改项目", 296, 128, 104, 24, "修改项目"),
    ("关于", 296, 232, 104, 24, "关于"),
    ("标签3", 24, 16, 56, 24, "列表："),
    ("标签1", 24, 200, 128, 24, "简介："),
    ("标签2", 24, 384, 128, 24, "路径："),
    ("项目数", 288, 280, 48, 24, "项目数："),
    ("项目数值", 352, 280, 56, 24, "项目数值"),  # the count once it shows
]
MAIN_CLIENT = (429, 457)  # the outer 435 × 482 less 6 × 25
# The other windows' control names in table order, by caption; the three
# prompts share theirs.
TABLES = {
    MAIN_CAPTION: [row[0] for row in MAIN],
    "添加项目": ["新项目名", "新项目简介", "新项目路径", "按钮1", "按钮2", "标签1", "标签2", "标签3"],
    "警告！！！": ["按钮1", "按钮2", "标签1", "要删除的项目名"],
    "修改项目": ["编辑框1", "编辑框2", "编辑框3", "编辑框6", "编辑框5", "编辑框4", "按钮1", "按钮2"],
    "提示：": ["按钮1", "标签1"],
}
FIRST_ID = 1000


def windows_path(path):
    """The path as a Windows program under Wine sees it: drive Z: is the root."""
    return "Z:" + os.path.realpath(path).replace("/", "\\")


class View:
    """One top-level window as the inspector read it."""

    def __init__(self, data):
        self.data = data
        self.caption = data["caption"]
        self.names = TABLES.get(self.caption, [])
        self.controls = {c["id"]: c for c in data["controls"]}

    def control(self, name):
        return self.controls[FIRST_ID + self.names.index(name)]

    def name(self, identifier):
        """The table name of the control with identifier, else the identifier."""
        row = identifier - FIRST_ID
        return self.names[row] if 0 <= row < len(self.names) else identifier

    def text(self, name):
        return self.control(name)["text"]

    def focused(self):
        for i, c in self.controls.items():
            if c["focused"]:
                return self.name(i)
        return None

    def ready(self):
        """Active and taking input."""
        return self.data["active"] and self.data["enabled"]

    def screen_point(self, box):
        """The screen point at the centre of a box in client coordinates."""
        x, y = self.data["origin"]
        return x + box[0] + box[2] // 2, y + box[1] + box[3] // 2

    def summary(self):
        return (self.caption, self.data["enabled"], self.data["active"],
                {self.name(i): c["text"] for i, c in self.controls.items()})


def wine_environment(prefix, extra=()):
    env = dict(harness.SCREEN_SESSION.env, WINEPREFIX=prefix, WINEDEBUG="-all")
    env.update(extra)
    return env


def wineserver():
    return os.path.join(os.path.dirname(WINE), "wineserver")


def end_wine(env):
    """Ends the Wine server of env's prefix and every program it serves, if
    there are any (those of a run that was cut short, too), and waits until
    they have gone."""
    for option in ("-k", "-w"):
        subprocess.run([wineserver(), option], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def start_wine(env, dpi):
    """Starts a Wine server on env's prefix, and the system programs it
    serves, all apart from the test's output (which they would hold open),
    until end_wine ends them; should the test be ended first, they end half a
    minute after the last program. The programs started then draw at dpi."""
    end_wine(env)
    # Back once the server takes clients.
    subprocess.run([wineserver(), "-p30"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, timeout=60)
    # Set by each session, so that none depends on what the one before left.
    # Its output goes to a file, which the system programs it starts keep.
    with open(os.path.join(STATE, "session.log"), "ab") as log:
        subprocess.run([WINE, "reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels",
                        "/t", "REG_DWORD", "/d", str(dpi), "/f"], env=env,
                       stdin=subprocess.DEVNULL, stdout=log, stderr=log, check=True, timeout=60)


def make_prefix():
    """The prefix STATE/prefix, made by setup-prefix.sh. One made by another
    version of the script, or whose making was cut short, is made again."""
    path = os.path.join(STATE, "prefix")
    stamp = os.path.join(path, "quillory-e2e.stamp")
    with open(SETUP_PREFIX, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    if os.path.exists(stamp):
        with open(stamp) as f:
            if f.read() == digest:
                return path
    env = wine_environment(path, {"WINE": WINE})
    end_wine(env)
    shutil.rmtree(path, ignore_errors=True)
    with open(os.path.join(STATE, "prefix.log"), "wb") as log:
        subprocess.run(["bash", SETUP_PREFIX, path], env=env, stdin=subprocess.DEVNULL,
                       stdout=log, stderr=subprocess.STDOUT, check=True, timeout=120)
    with open(stamp, "w") as f:
        f.write(digest)
    return path


def chinese_locale():
    """The environment of a Chinese Unix locale, in which Wine's ANSI code page
    is 936; the locale is made once in STATE (localedef, from Debian's
    locales package). UTF-8, so that file names stay as they are."""
    folder = os.path.join(STATE, "locale")
    if not os.path.isdir(os.path.join(folder, "zh_CN.UTF-8")):
        os.makedirs(folder, exist_ok=True)
        # Made aside and moved in whole: a run cut short leaves no half locale.
        aside = tempfile.mkdtemp(dir=folder, prefix=".making.")
        made = os.path.join(aside, "zh_CN.UTF-8")
        subprocess.run(["localedef", "-i", "zh_CN", "-f", "UTF-8", made], check=True,
                       stdout=subprocess.DEVNULL)
        os.rename(made, os.path.join(folder, "zh_CN.UTF-8"))
        os.rmdir(aside)
    return {"LOCPATH": folder, "LC_ALL": "zh_CN.UTF-8"}


class Program(harness.Mouse):
    """Quillory.exe started under Wine from folder, and the inspector that
    reads its windows."""

    def __init__(self, folder, env):
        self.env = env
        exe = os.path.join(folder, "Quillory.exe")
        # A file, not a pipe: a full pipe would stall the program.
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen([WINE, exe], cwd="/", env=env, stdin=subprocess.DEVNULL,
                                        stdout=self.log, stderr=self.log)
        self.inspector = subprocess.Popen(
            [WINE, INSPECTOR, "--exe", windows_path(exe), "--watch"], env=env, bufsize=0,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.pending = b""
        self.code_page = None

    def reading(self):
        """What the inspector reads now."""
        self.inspector.stdin.write(b"\n")
        while b"\n" not in self.pending:
            ready, _, _ = select.select([self.inspector.stdout], [], [], 30)
            chunk = os.read(self.inspector.stdout.fileno(), 65536) if ready else b""
            if not chunk:
                raise AssertionError("the inspector gave no answer")
            self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        data = json.loads(line)
        self.code_page = data["codePage"]
        return data

    def windows(self):
        """The program's showing top-level windows, bottom first."""
        if self.process.poll() is not None:
            self.log.seek(0)
            output = self.log.read().decode(errors="replace")
            raise AssertionError("the program ended with %d: %s"
                                 % (self.process.returncode, output))
        data = self.reading()
        return [View(w) for w in data["windows"]] if data["found"] else []

    def captions(self):
        return [w.caption for w in self.windows()]

    def window(self, caption, condition=lambda view: True, what=None, ready=True):
        """The window with caption once it shows, takes input (unless ready
        is false) and condition holds for it."""
        def found():
            for view in self.windows():
                if view.caption == caption and (view.ready() or not ready) and condition(view):
                    return view
            return None

        return wait_for(found, what or "the window " + caption, seen=self.summary)

    def main(self, condition=lambda view: True, what=None, ready=True):
        return self.window(MAIN_CAPTION, condition, what, ready)

    def wait_closed(self, caption):
        wait_for(lambda: caption not in self.captions(), "the window %s to close" % caption,
                 seen=self.captions)

    def summary(self):
        return [view.summary() for view in self.windows()]

    # What the user does.
    def click(self, caption, name):
        """Clicks the named control of the window with caption."""
        view = self.window(caption)
        self.click_at(*view.screen_point(view.control(name)["box"]))

    def click_item(self, row):
        view = self.main()
        self.click_at(*view.screen_point(view.control("列表框1")["itemBoxes"][row]))

    def keyboard_to(self, caption):
        """Waits until the window with caption takes input and has the X
        keyboard focus, where xdotool's keys go."""
        self.window(caption)
        wait_for(lambda: self.xdotool("getwindowfocus", "getwindowname").strip() == caption,
                 "the keyboard focus on " + caption,
                 seen=lambda: self.xdotool("getwindowfocus", "getwindowname"))

    def key(self, caption, *keys):
        self.keyboard_to(caption)
        self.xdotool("key", "--clearmodifiers", *keys)

    def type(self, caption, name, text):
        """Types ASCII text at the end of the named box and waits until it
        shows there."""
        before = self.window(caption).text(name)
        self.click(caption, name)
        self.window(caption, lambda view: view.focused() == name, "the focus on " + name)
        self.key(caption, "ctrl+End")
        self.xdotool("type", "--clearmodifiers", text)
        self.window(caption, lambda view: view.text(name) == before + text,
                    "%s to show %r" % (name, before + text))

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.inspector.stdin.close()
        try:
            self.inspector.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.inspector.kill()
            self.inspector.wait()
        self.inspector.stdout.close()
        self.log.close()


class WineTest(unittest.TestCase):
    """Each test runs its own copy of the program, from a fresh folder whose
    catalogue holds PROJECTS, in the class's locale and DPI."""

    code_page = 1252  # Wine's default, from a locale that is not Chinese
    dpi = 96

    @classmethod
    def setUpClass(cls):
        extra = chinese_locale() if cls.code_page == 936 else {}
        cls.env = wine_environment(make_prefix(), extra)
        cls.addClassCleanup(end_wine, cls.env)
        start_wine(cls.env, cls.dpi)

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="quillory-wine-e2e-")
        self.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)
        shutil.copy(QUILLORY, os.path.join(self.folder, "Quillory.exe"))
        self.file = os.path.join(self.folder, "配置信息.ini")
        with open(self.file, "wb") as f:
            f.write(catalogue_bytes(PROJECTS))
        self.program = Program(self.folder, self.env)
        self.addCleanup(self.program.close)
        self.main = self.program.main()
        self.assertEqual(self.program.code_page, self.code_page)

    def catalogue(self):
        with open(self.file, "rb") as f:
            return f.read()

    # Steps shared by the tests.
    def assert_main_shows(self, names, count, ready=True):
        self.main = self.program.main(lambda view: view.control("列表框1")["items"] == names,
                                      "the list to show %s" % names, ready)
        self.assertEqual(self.main.text("项目数值"), count)

    def select(self, row):
        """Clicks the list's item; the boxes show its project."""
        self.program.click_item(row)
        self.main = self.program.main(lambda view: view.control("列表框1")["selection"] == row
                                      and view.text("简介") == PROJECTS[row][1],
                                      "item %d selected, and its description" % row)
        self.assertEqual(self.main.text("路径"), PROJECTS[row][2])

    def open_window(self, button, caption):
        """Clicks the main window's button; the window it opens takes the
        main window's input."""
        self.program.click(MAIN_CAPTION, button)
        window = self.program.window(caption)
        self.assertEqual(self.program.captions(), [MAIN_CAPTION, caption])
        self.assertFalse(self.program.windows()[0].data["enabled"])
        return window

    def confirm_prompt(self, label, expected_file):
        """The prompt after a change: its label; the file holds the change
        before it is confirmed."""
        prompt = self.program.window("提示：", lambda view: view.focused() == "按钮1")
        self.assertEqual(prompt.text("标签1"), label)
        self.assertEqual(self.catalogue(), expected_file)
        self.program.click("提示：", "按钮1")
        self.program.wait_closed("提示：")

    def assert_layout(self, scale):
        """The main window's client area and every control's box are the
        table's, scaled."""
        client = self.main.data["client"]
        for got, size in zip(client, MAIN_CLIENT):
            self.assertLessEqual(abs(got - size * scale), 1, "client %s" % client)
        for name, *box, _ in MAIN:
            self.assertEqual(self.main.control(name)["box"], [v * scale for v in box], name)

    def end_with_escape(self):
        """Escape on the main window ends the program normally."""
        self.screenshot()
        self.program.key(MAIN_CAPTION, "Escape")
        self.assertEqual(self.program.process.wait(timeout=15), 0)

    def screenshot(self):
        folder = os.environ.get("QUILLORY_SCREENSHOTS")
        if folder:
            subprocess.run(["import", "-window", "root",
                            os.path.join(folder, "wine-%s.png" % self._testMethodName)],
                           env=self.program.env, check=True)


class ChineseWindowsEndToEnd(WineTest):
    """As on a Chinese Windows: the ANSI code page is 936."""

    code_page = 936

    def test_lists_lays_out_and_shows_a_selection(self):
        m = self.main
        self.assertEqual(m.control("列表框1")["items"], NAMES)
        self.assertEqual(m.text("项目数值"), "3")
        self.assertEqual((m.text("简介"), m.text("路径")), ("", ""))
        # The list takes the focus as the window shows, and selects nothing.
        m = self.main = self.program.main(lambda view: view.focused() == "列表框1",
                                          "the focus on the list")
        self.assertEqual(m.control("列表框1")["selection"], -1)
        self.assertEqual(m.data["client"], list(MAIN_CLIENT))
        self.assert_layout(1)
        self.select(2)
        self.assertEqual(self.main.text("项目数值"), "3")
        self.end_with_escape()
        self.assertEqual(self.catalogue(), catalogue_bytes(PROJECTS))

    def test_adds_a_project(self):
        p = self.program
        add = self.open_window("添加项目", "添加项目")
        self.assertEqual(add.focused(), "新项目名")
        new = ("Rubbings 2024", "Scans of the rubbings, site by site.", "D:\\scans\\rubbings")
        for box, text in zip(["新项目名", "新项目简介", "新项目路径"], new):
            p.type("添加项目", box, text)
        p.click("添加项目", "按钮1")
        self.confirm_prompt("添加成功", catalogue_bytes(PROJECTS + [new]))
        # The add window stays above the main window, with its texts, until
        # it is cancelled.
        self.assert_main_shows(NAMES + [new[0]], "4", ready=False)
        self.assertFalse(self.main.data["enabled"])
        add = p.window("添加项目")
        self.assertEqual([add.text(box) for box in ["新项目名", "新项目简介", "新项目路径"]],
                         list(new))
        p.click("添加项目", "按钮2")
        p.wait_closed("添加项目")
        self.main = p.main()
        self.end_with_escape()
        self.assertEqual(self.catalogue(), catalogue_bytes(PROJECTS + [new]))

    def test_deletes_the_middle_of_three(self):
        p = self.program
        self.select(1)
        warning = self.open_window("删除项目", "警告！！！")
        self.assertEqual(warning.text("要删除的项目名"), NAMES[1])
        self.assertEqual(warning.text("标签1"), "确定删除此项目？")
        p.click("警告！！！", "按钮1")
        # The end marker lies under the new end and, as before, the old one.
        left = catalogue_bytes([PROJECTS[0], PROJECTS[2]], end_markers=2)
        self.confirm_prompt("删除成功", left)
        p.wait_closed("警告！！！")
        self.assert_main_shows([NAMES[0], NAMES[2]], "2")
        self.assertEqual(self.main.text("简介"), "")
        self.end_with_escape()
        self.assertEqual(self.catalogue(), left)

    def test_modifies_a_name_and_a_path(self):
        p = self.program
        self.select(0)
        modify = self.open_window("修改项目", "修改项目")
        self.assertEqual([modify.text(box) for box in TABLES["修改项目"][:6]], list(PROJECTS[0]) * 2)
        p.type("修改项目", "编辑框6", " (2nd ed.)")
        p.type("修改项目", "编辑框4", "\\v2")
        p.click("修改项目", "按钮1")
        first = (NAMES[0] + " (2nd ed.)", PROJECTS[0][1], PROJECTS[0][2] + "\\v2")
        changed = [first] + PROJECTS[1:]
        self.confirm_prompt("修改成功", catalogue_bytes(changed))
        p.wait_closed("修改项目")
        self.assert_main_shows([changed[0][0]] + NAMES[1:], "3")
        self.end_with_escape()
        self.assertEqual(self.catalogue(), catalogue_bytes(changed))


class WesternWindowsEndToEnd(WineTest):
    """Wine's default code page 1252, which holds no Chinese: the texts come
    from GBK through code page 936 all the same."""

    def test_shows_chinese_texts(self):
        m = self.main
        self.assertEqual(m.caption, MAIN_CAPTION)
        self.assertEqual(m.control("列表框1")["items"], NAMES)
        shown = [m.control(name)["text"] for name, *_ in MAIN]
        self.assertEqual(shown, [text for *_, text in MAIN[:-1]] + ["3"])
        # The boxes too, once a project is selected.
        self.select(0)
        self.end_with_escape()


class HighDpiEndToEnd(WineTest):
    """Wine set to 144 DPI: the windows are laid out half as large again."""

    dpi = 144

    def test_scales_the_main_window(self):
        self.assert_layout(1.5)
        self.assertEqual(self.main.control("列表框1")["box"], [24, 72, 372, 216])
        self.end_with_escape()


def main():
    global WINE, QUILLORY, INSPECTOR, STATE
    WINE, QUILLORY, INSPECTOR, STATE = (os.path.abspath(a) for a in sys.argv[1:5])
    del sys.argv[1:5]
    os.makedirs(STATE, exist_ok=True)
    # What the sessions of this run say, and no earlier run's.
    open(os.path.join(STATE, "session.log"), "wb").close()
    unittest.main(module="__main__")


if __name__ == "__main__":
    main()
