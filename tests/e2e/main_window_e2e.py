#!/usr/bin/python3
"""Drives the real Quillory's main window in a real X window, as a user would.

Each test starts the program from a fresh folder with a catalogue of three
projects, presses keys and clicks with xdotool, and reads what the window
shows through the accessibility bus (AT-SPI); harness.py has the machinery.
Run it inside its own D-Bus session: dbus-run-session -- main_window_e2e.py EXE
"""

import os

from harness import SCREEN, ProgramTest, catalogue_bytes, main, wait_for
from harness import setUpModule, tearDownModule  # noqa: F401  (unittest calls them)

PROJECTS = [
    ("甲骨文研究", "关于甲骨文的资料整理，包括拓片、释文和相关论文。", "D:\\资料\\甲骨文"),
    ("乙方合同", "合同草稿与往来邮件", "E:\\合同\\乙方"),
    ("丙午年计划", "年度计划", "/home/user/计划"),
]


class MainWindowEndToEnd(ProgramTest):
    projects = PROJECTS

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
        p.click_at(*p.screen_centre(p.item(names[2])))
        wait_for(lambda: p.text_of("简介") == PROJECTS[2][1], "the third description")
        self.assertEqual(p.text_of("路径"), PROJECTS[2][2])
        if os.environ.get("QUILLORY_SCREENSHOT_SELECTED"):
            p.screenshot(os.environ["QUILLORY_SCREENSHOT_SELECTED"])

        # Another program adds a project; "更新列表" shows it, the count stays.
        self.write_catalogue(catalogue_bytes(PROJECTS + [("丁", "第四", "F:\\丁")]))
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
        self.assertEqual(self.catalogue(), catalogue_bytes(PROJECTS + [("丁", "第四", "F:\\丁")]))

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
    main()
