"""The installed program's first start from the menu, driven from outside:
the set-up with the demonstration data, a patient chosen through the link
bar stand-in, a memo saved, the program closed."""
import os
import subprocess
import time

import pyatspi

from atspi_helpers import answer, click, control, fail, find, new_memo, start, text_of, wait_for

MEMO = "初回起動の試験で保存したメモ"


def main():
    # As the menu entry starts it: no chart number.
    program, app = start(["ondrel"])
    setup = control(app, "frmSetup")
    click(control(app, "optKind(3)"))  # デモデータで試す
    title = control(app, "txtTitle")
    title.queryEditableText().setTextContents("山田医院")
    click(control(app, "cmdOK"))
    answer(app, "カルテ番号0は登録されていません。", "OK")
    window = control(app, "frmOndrel")
    if window.name != "山田医院":
        fail("main window title is %r" % window.name)
    if find(app, lambda a: a.description == "frmSetup" and a.getState().contains(pyatspi.STATE_SHOWING)):
        fail("the set-up is still open")
    del setup

    # The link bar stand-in finds the same folder without options.
    folder = os.path.join(os.environ["HOME"], ".local", "share", "ondrel")
    db = os.path.join(folder, "ondrel-demo.db")
    ask = "select カルテ番号, 氏名 from 患者マスター order by カルテ番号 limit 1"
    chart = subprocess.run(["sqlite3", db, ask], capture_output=True, text=True,
                           check=True).stdout.strip().split("|")
    subprocess.run(["ondrel-link", chart[0]], check=True)
    wait_for("the patient from the link bar", lambda: control(app, "lblInfo(2)").name == chart[1], 15)

    page = 0
    memo_box = new_memo(app, page)
    click(memo_box)
    memo_box.queryEditableText().setTextContents(MEMO)
    click(control(app, "cmdProcess(4)"))
    answer(app, "データを保存します。よろしいですか。", "はい")
    wait_for("the memo in the history", lambda: MEMO in text_of(control(app, "txtPast(%d)" % page)), 10)

    # 終了: the window asks, as it does whenever a memo is on the page.
    click(control(app, "cmdProcess(6)"))
    answer(app, "編集したデータは失われます。よろしいですか。", "はい")
    if program.wait(timeout=20) != 0:
        fail("the program did not end cleanly")
    saved = subprocess.run(["sqlite3", db, "select count(*) from tblDatCommon where LText000 = '%s'" % MEMO],
                           capture_output=True, text=True, check=True).stdout.strip()
    if saved != "1":
        fail("the memo is not in the database (%s)" % saved)
    time.sleep(0.2)
    print("PASS")


if __name__ == "__main__":
    main()
