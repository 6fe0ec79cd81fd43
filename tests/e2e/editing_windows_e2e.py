#!/usr/bin/python3
"""Drives the real Quillory's add, delete, modify and about windows, as a user would.

Each test starts the program from a fresh folder with a catalogue of three
projects, opens one window from the main window, works it with the mouse and
the keyboard through xdotool, and checks what the windows show (read through
AT-SPI) and the catalogue's bytes. harness.py has the machinery.
Run it inside its own D-Bus session: dbus-run-session -- editing_windows_e2e.py EXE

With QUILLORY_SCREENSHOTS naming a folder, each window is saved there as a
PNG while it shows real content.
"""

import os

from harness import ProgramTest, catalogue_bytes, main, wait_for
from harness import setUpModule, tearDownModule  # noqa: F401  (unittest calls them)

PROJECTS = [
    ("甲骨文研究", "关于甲骨文的资料整理，包括拓片、释文和相关论文。", "D:\\资料\\甲骨文"),
    ("乙方合同", "合同草稿与往来邮件", "E:\\合同\\乙方"),
    ("丙午年计划", "年度计划", "/home/user/计划"),
]
NAMES = [name for name, _, _ in PROJECTS]

ABOUT = ("    这是一款管理电脑中项目的管理器，项目可以是任何类型的文件，此软件可以对电脑中众多的项目进行"
         "加入简介、路径，通过此软件可以方便地管理这些信息，快速了解定位项目。对此软件有什么好的建议和"
         "意见可以联系作者——Tesvorin（QQ：00000000）谢谢使用！")

# The tab stops of each window: its controls table less the labels.
ADD_BOXES = ["新项目名", "新项目简介", "新项目路径"]
ADD_STOPS = ADD_BOXES + ["按钮1", "按钮2"]
WARNING_STOPS = ["按钮1", "按钮2"]
MODIFY_STOPS = ["编辑框1", "编辑框2", "编辑框3", "编辑框6", "编辑框5", "编辑框4", "按钮1", "按钮2"]
# The stored texts on the left, the editable copies on the right.
MODIFY_BOXES = ["编辑框1", "编辑框2", "编辑框3", "编辑框6", "编辑框5", "编辑框4"]


class EditingWindowsEndToEnd(ProgramTest):
    projects = PROJECTS

    # Steps shared by the tests.
    def screenshot(self, window, name):
        folder = os.environ.get("QUILLORY_SCREENSHOTS")
        if folder:
            window.screenshot(os.path.join(folder, name))

    def open_window(self, button, caption):
        """Clicks the main window's button and returns the window it opens,
        which takes the main window's input."""
        p = self.program
        p.click(button)
        window = p.window(caption)
        self.assertFalse(p.sensitive())
        return window

    def select(self, row):
        p = self.program
        p.click_at(*p.screen_centre(p.item(NAMES[row])))
        p.wait_text("简介", PROJECTS[row][1])

    def replace_text(self, window, box, text):
        """Clicks into the box, selects all it holds and types text over it."""
        window.click(box)
        window.wait_focus(box)
        window.key("ctrl+a")
        window.type(text)
        window.wait_text(box, text)

    def prompt(self, label):
        """The prompt that follows a change, once it shows; label is its text."""
        prompt = self.program.window("提示：")
        self.assertEqual(prompt.text_of("标签1"), label)
        prompt.wait_focus("按钮1")
        return prompt

    def assert_main_shows(self, names, count):
        p = self.program
        wait_for(lambda: p.items() == names, "the list to show %s" % names)
        self.assertEqual(p.text_of("项目数值"), count)

    def assert_tab_order(self, window, stops):
        """Tab walks the stops in order and wraps; Shift+Tab walks back."""
        window.wait_focus(stops[0])
        for i in range(1, len(stops) + 1):
            window.key("Tab")
            window.wait_focus(stops[i % len(stops)])
        for i in range(len(stops) - 1, -1, -1):
            window.key("shift+Tab")
            window.wait_focus(stops[i])

    def press_enter_on(self, window, button, next_stop):
        """Enter on a focused button presses nothing: the Tab after it still
        reaches the window's next stop, and no other window opened."""
        window.tab_to(button)
        window.key("Return")
        window.key("Tab")
        window.wait_focus(next_stop)
        self.assertEqual(self.program.open_captions(), [self.program.caption, window.caption])
        window.key("shift+Tab")
        window.wait_focus(button)

    def open_by_keyboard(self, button, caption):
        """Tabs to the main window's button and presses it with Space."""
        p = self.program
        p.tab_to(button)
        p.key("space")
        return p.window(caption)

    # The flows.
    def test_adds_two_projects_in_a_row(self):
        p = self.program
        add = self.open_window("添加项目", "添加项目")
        add.wait_focus("新项目名")
        self.assertEqual([add.text_of(box) for box in ADD_BOXES], ["", "", ""])
        new = [("丁酉年读书笔记", "按月整理的读书笔记，附书目。", "D:\\笔记\\丁酉"),
               ("quillory-docs", "说明文档的草稿", "/home/user/docs")]
        for i, project in enumerate(new):
            added = PROJECTS + new[:i + 1]
            for box, text in zip(ADD_BOXES, project):
                self.replace_text(add, box, text)
            if i == 0:
                self.screenshot(add, "add-window.png")
            add.click("按钮1")
            prompt = self.prompt("添加成功")
            self.assertFalse(add.sensitive())
            # Stored before the prompt shows; listed once it is confirmed.
            self.assertEqual(self.catalogue(), catalogue_bytes(added))
            self.assertEqual(p.items(), [name for name, _, _ in added[:-1]])
            prompt.click("按钮1")
            p.wait_closed(prompt)
            self.assert_main_shows([name for name, _, _ in added], str(len(added)))
            # The add window stays for the next one, with its texts.
            wait_for(add.sensitive, "the add window to take input again")
            self.assertEqual([add.text_of(box) for box in ADD_BOXES], list(project))
        add.click("按钮2")
        p.wait_closed(add)
        wait_for(p.sensitive, "the main window to take input again")
        self.assert_main_shows(NAMES + [n for n, _, _ in new], "5")
        self.assertEqual(self.catalogue(), catalogue_bytes(PROJECTS + new))

    def test_deletes_the_middle_of_three(self):
        p = self.program
        self.select(1)
        warning = self.open_window("删除项目", "警告！！！")
        self.assertEqual(warning.text_of("要删除的项目名"), NAMES[1])
        self.assertEqual(warning.text_of("标签1"), "确定删除此项目？")
        warning.wait_focus("按钮1")
        self.screenshot(warning, "delete-warning.png")
        warning.click("按钮1")
        prompt = self.prompt("删除成功")
        self.assertFalse(warning.sensitive())
        prompt.click("按钮1")
        p.wait_closed(prompt)
        p.wait_closed(warning)
        wait_for(p.sensitive, "the main window to take input again")
        self.assert_main_shows([NAMES[0], NAMES[2]], "2")
        self.assertEqual(p.text_of("简介"), "")
        self.assertEqual(p.selected_rows(), 0)
        # The end marker lies under the new end and, as before, the old one.
        self.assertEqual(self.catalogue(),
                         catalogue_bytes([PROJECTS[0], PROJECTS[2]], end_markers=2))

    def test_modifies_a_name(self):
        p = self.program
        self.select(0)
        modify = self.open_window("修改项目", "修改项目")
        self.assertEqual([modify.text_of(box) for box in MODIFY_BOXES], list(PROJECTS[0]) * 2)
        modify.wait_focus("编辑框1")
        renamed = "甲骨文研究（第二版）"
        self.replace_text(modify, "编辑框6", renamed)
        self.screenshot(modify, "modify-window.png")
        modify.click("按钮1")
        prompt = self.prompt("修改成功")
        self.assertFalse(modify.sensitive())
        prompt.click("按钮1")
        p.wait_closed(prompt)
        p.wait_closed(modify)
        wait_for(p.sensitive, "the main window to take input again")
        self.assert_main_shows([renamed] + NAMES[1:], "3")
        changed = [(renamed,) + PROJECTS[0][1:]] + PROJECTS[1:]
        self.assertEqual(self.catalogue(), catalogue_bytes(changed))

    def test_about_shows_its_text_until_escape(self):
        p = self.program
        before = self.catalogue()
        about = self.open_window("关于", "关于")
        self.assertEqual(about.text_of("关于"), ABOUT)
        self.screenshot(about, "about-window.png")
        # The text is all there is: nothing in the window has the focus, and
        # Tab finds nothing to give it to.
        self.assertTrue(about.active())
        self.assertIsNone(about.focused())
        about.key("Tab")
        self.assertIsNone(about.focused())
        # The main window's buttons do nothing meanwhile: had this click
        # opened the add window, the Escape would close that one instead.
        p.click("添加项目")
        about.key("Escape")
        p.wait_closed(about)
        self.assertEqual(p.open_captions(), [p.caption])
        # The main window takes input again, with the focus where it was.
        wait_for(p.sensitive, "the main window to take input again")
        p.focus()
        p.wait_focus("关于")
        p.key("space")
        about = p.window("关于")
        about.key("Escape")
        p.wait_closed(about)
        self.assertEqual(self.catalogue(), before)

    # The keyboard, window by window.
    def test_add_window_keyboard(self):
        p = self.program
        before = self.catalogue()
        add = self.open_by_keyboard("添加项目", "添加项目")
        self.assert_tab_order(add, ADD_STOPS)
        # Escape closes the window and adds nothing.
        add.type("不存")
        add.wait_text("新项目名", "不存")
        add.key("Escape")
        p.wait_closed(add)
        self.assertEqual(self.catalogue(), before)
        self.assert_main_shows(NAMES, "3")

        add = self.open_by_keyboard("添加项目", "添加项目")
        # Enter breaks the line in a box; the file holds the break as a space.
        add.type("第一行")
        add.key("Return")
        add.type("第二行")
        add.wait_text("新项目名", "第一行\n第二行")
        self.press_enter_on(add, "按钮1", "按钮2")
        self.assertEqual(self.catalogue(), before)
        add.key("space")
        prompt = self.prompt("添加成功")
        added = PROJECTS + [("第一行 第二行", "", "")]
        self.assertEqual(self.catalogue(), catalogue_bytes(added))
        # The prompt's only stop keeps the focus; Enter presses nothing
        # there either, and Space confirms.
        prompt.key("Tab", "Return", "space")
        p.wait_closed(prompt)
        self.assert_main_shows(NAMES + ["第一行 第二行"], "4")
        add.focus()
        add.wait_focus("按钮1")
        add.key("Escape")
        p.wait_closed(add)
        self.assertEqual(self.catalogue(), catalogue_bytes(added))

    def test_delete_warning_keyboard(self):
        p = self.program
        before = self.catalogue()
        p.key("Down")  # the first project
        p.wait_text("简介", PROJECTS[0][1])
        warning = self.open_by_keyboard("删除项目", "警告！！！")
        self.assertEqual(warning.text_of("要删除的项目名"), NAMES[0])
        self.assert_tab_order(warning, WARNING_STOPS)
        warning.key("Escape")
        p.wait_closed(warning)
        self.assertEqual(self.catalogue(), before)
        self.assert_main_shows(NAMES, "3")

        warning = self.open_by_keyboard("删除项目", "警告！！！")
        self.press_enter_on(warning, "按钮1", "按钮2")
        self.assertEqual(self.catalogue(), before)
        warning.key("space")
        prompt = self.prompt("删除成功")
        self.assertEqual(self.catalogue(), catalogue_bytes(PROJECTS[1:], end_markers=2))
        # Escape closes the prompt without its refresh: Enter before it
        # pressed nothing, or the list would show two.
        prompt.key("Return", "Escape")
        p.wait_closed(prompt)
        p.wait_closed(warning)
        wait_for(p.sensitive, "the main window to take input again")
        self.assertEqual(p.items(), NAMES)
        self.assertEqual(p.text_of("项目数值"), "3")
        p.click("更新列表")
        self.assert_main_shows(NAMES[1:], "3")

    def test_modify_window_keyboard(self):
        p = self.program
        before = self.catalogue()
        p.key("Down", "Down")  # the second project
        p.wait_text("简介", PROJECTS[1][1])
        modify = self.open_by_keyboard("修改项目", "修改项目")
        self.assert_tab_order(modify, MODIFY_STOPS)
        modify.tab_to("编辑框6")
        modify.key("ctrl+End")
        modify.type("不存")
        modify.wait_text("编辑框6", NAMES[1] + "不存")
        modify.key("Escape")
        p.wait_closed(modify)
        self.assertEqual(self.catalogue(), before)
        self.assert_main_shows(NAMES, "3")

        modify = self.open_by_keyboard("修改项目", "修改项目")
        self.assertEqual([modify.text_of(box) for box in MODIFY_BOXES], list(PROJECTS[1]) * 2)
        # Enter breaks the line in the description; the file holds a space.
        modify.tab_to("编辑框5")
        modify.key("ctrl+End", "Return")
        modify.type("已归档")
        modify.wait_text("编辑框5", PROJECTS[1][1] + "\n已归档")
        self.press_enter_on(modify, "按钮1", "按钮2")
        self.assertEqual(self.catalogue(), before)
        modify.key("space")
        prompt = self.prompt("修改成功")
        changed = [PROJECTS[0], (NAMES[1], PROJECTS[1][1] + " 已归档", PROJECTS[1][2]), PROJECTS[2]]
        self.assertEqual(self.catalogue(), catalogue_bytes(changed))
        prompt.key("Return", "space")
        p.wait_closed(prompt)
        p.wait_closed(modify)
        p.wait_text("简介", "")  # the list refilled
        self.assert_main_shows(NAMES, "3")


if __name__ == "__main__":
    main()
