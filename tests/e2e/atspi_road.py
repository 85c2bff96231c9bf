"""Drives the installed program through AT-SPI, as a screen reader would."""
import os
import re
import subprocess
import time

import pyatspi

from atspi_helpers import answer, app_of, click, control, fail, find, keys, menu_entry, new_memo, right_click, start, text_of, wait_for

PROG = os.environ["ONDREL_PROG"]
SHOTS = os.environ["ONDREL_SHOTS"]
LINK = os.path.join(PROG, "..", "1-99リンクバーZEV", "カルテ番号.ini")


def shot(name, acc):
    """The window of acc as the screen shows it."""
    x, y, w, h = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage",
                    os.path.join(SHOTS, name)], check=False)


def main():
    first, app = start([os.path.join(PROG, "ondrel"), "12345"])
    window = control(app, "frmOndrel")
    if window.name != "指導指示管理" or window.getRoleName() != "frame":
        fail("main window is a %s titled %r" % (window.getRoleName(), window.name))
    box = control(app, "txtPersonalID")
    wait_for("the start patient", lambda: text_of(box) == "1234-5")
    name = control(app, "lblInfo(2)").name
    if not name:
        fail("no patient name in the header")
    print("header:", text_of(box), name, control(app, "lblInfo(4)").name, control(app, "lblInfo(6)").name)
    shot("main-window.png", window)

    # A second start is refused; the first window stays as it was.
    second = subprocess.Popen([os.path.join(PROG, "ondrel"), "12346"])
    other = wait_for("the second start", lambda: app_of(second.pid), 30)
    answer(other, "当システムは既に起動されています。", "OK")
    if second.wait(timeout=20) == 0:
        fail("the second start did not end with an error status")
    if text_of(box) != "1234-5" or control(app, "lblInfo(2)").name != name:
        fail("the first window changed")

    # The link bar selects another patient: followed within one poll.
    db = os.environ["ONDREL_DB"]
    ask = "select カルテ番号, 氏名 from 患者マスター where カルテ番号 <> 12345 order by カルテ番号 limit 1"
    reader = ["psql", db, "-qAt", "-c", ask] if db.startswith("postgresql://") else ["sqlite3", db, ask]
    chart = subprocess.run(reader, capture_output=True, text=True, check=True).stdout.strip().split("|")
    subprocess.run([os.path.join(PROG, "ondrel-link"), "--file", LINK, chart[0]], check=True)
    started = time.time()
    wait_for("the link-file switch", lambda: control(app, "lblInfo(2)").name == chart[1], 15)
    print("link switch after %.1f s" % (time.time() - started))

    # A memo typed, saved and seen in the history.
    page = 0
    memo_box = new_memo(app, page)
    click(memo_box)
    memo = "栄養指導を行った。\n'間食を控える'と約束"
    memo_box.queryEditableText().setTextContents(memo)
    click(control(app, "cmdProcess(4)"))
    answer(app, "データを保存します。よろしいですか。", "はい")
    try:
        wait_for("the history", lambda: memo in text_of(control(app, "txtPast(%d)" % page)), 10)
    except SystemExit:
        print("history:", repr(text_of(control(app, "txtPast(%d)" % page))[:200]))
        print("memo box:", repr(text_of(memo_box)))
        raise
    shot("main-window-memo.png", window)

    # A second version, then the first one brought back from 変更履歴.
    click(memo_box)
    memo_box.queryEditableText().setTextContents("書き直した版")
    click(control(app, "cmdProcess(4)"))
    answer(app, "データを保存します。よろしいですか。", "はい")
    wait_for("the second version", lambda: "書き直した版" in text_of(control(app, "txtPast(%d)" % page)), 10)
    grid = control(app, "grdDateList(%d)" % page)
    right_click(grid)
    menu_entry(0)  # 変更履歴...
    versions = wait_for("the versions dialog", lambda: find(app, lambda a: a.description == "frmRevisions"))
    table = find(versions, lambda a: a.description == "grdRevisions").queryTable()
    if table.nRows != 3:
        fail("the versions dialog lists %d versions, not 3" % table.nRows)
    click(table.getAccessibleAt(1, 0))
    click(find(versions, lambda a: a.description == "cmdRestore"))
    answer(app, "選んだ版の日付と内容を、メモの今の内容として保存します。よろしいですか。", "はい")
    wait_for("the old version on the page", lambda: text_of(memo_box) == memo, 10)
    wait_for("the old version in the history", lambda: "書き直した版" not in text_of(control(app, "txtPast(%d)" % page)), 10)

    # The memo deleted, then brought back from 削除したメモ.
    click(control(app, "cmdProcess(3)"))
    answer(app, "表示中のデータを削除します。よろしいですか。", "はい")
    wait_for("the memo gone from the history", lambda: memo not in text_of(control(app, "txtPast(%d)" % page)), 10)
    # The category's only memo is gone with its date list: the empty page has the menu.
    right_click(control(app, "tabMain") if not grid.getState().contains(pyatspi.STATE_SHOWING) else grid)
    menu_entry(1)  # 削除したメモ...
    deleted = wait_for("the deleted memos dialog", lambda: find(app, lambda a: a.description == "frmDeletedMemos"))
    click(find(deleted, lambda a: a.description == "cmdRestore"))
    answer(app, "選んだメモを、削除する前の内容で元に戻します。よろしいですか。", "はい")
    wait_for("the restored memo on the page", lambda: text_of(memo_box) == memo, 10)
    wait_for("the restored memo in the history", lambda: memo in text_of(control(app, "txtPast(%d)" % page)), 10)
    print("version and deleted memo brought back from outside")

    # 検索 from the keyboard, with the link bar showing nobody: another
    # patient typed in, Ctrl+F, a part of the memo, Enter shows it on its page.
    subprocess.run([os.path.join(PROG, "ondrel-link"), "--file", LINK, "--status", "0"], check=True)
    click(box)
    box.queryEditableText().setTextContents("12345")
    keys("Return")
    wait_for("patient 12345", lambda: control(app, "lblInfo(2)").name == name, 10)
    keys("Control_L", "f")
    search = wait_for("the search window", lambda: find(app, lambda a: a.description == "frmSearch"))
    find(search, lambda a: a.description == "txtSearch").queryEditableText().setTextContents("間食を控")
    hits = find(search, lambda a: a.description == "grdResult").queryTable()
    wait_for("a hit", lambda: hits.nRows >= 1, 10)
    shot("search-window.png", search)
    keys("Return")
    wait_for("the found patient", lambda: control(app, "lblInfo(2)").name == chart[1], 10)
    if "間食を控える" not in text_of(memo_box):
        fail("the found memo is not on its page: %r" % text_of(memo_box))
    print("search: Ctrl+F, typed, Enter showed the memo")

    # F2 in the memo box: the stock phrase at the cursor; saved with the memo.
    click(memo_box)
    keys("Control_L", "End")
    keys("F2")
    time.sleep(1)  # a popup is not among the application's windows for AT-SPI
    keys("Return")
    wait_for("the phrase in the memo", lambda: text_of(memo_box).endswith("定型文の試験です。"), 10)
    click(control(app, "cmdProcess(4)"))
    answer(app, "データを保存します。よろしいですか。", "はい")
    wait_for("the phrase in the history", lambda: "定型文の試験です。" in text_of(control(app, "txtPast(%d)" % page)), 10)
    print("phrase: F2 inserted it")

    # PDF保存 in the print dialog: one page for this week's one memo.
    click(control(app, "chkPrintFlg"))
    click(control(app, "cmdProcess(5)"))
    prn = wait_for("the print dialog", lambda: find(app, lambda a: a.description == "frmPrint"))
    click(find(prn, lambda a: a.description == "cmdProcess(2)"))
    pdf = os.path.join(PROG, "帳票", "指導指示管理-%s.pdf" % chart[0][:-1])
    wait_for("the PDF", lambda: os.path.exists(pdf) and os.path.getsize(pdf) > 0, 90)
    info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True).stdout
    if not re.search(r"^Pages:\s+1$", info, re.M):
        fail("the PDF is not one page: %r" % info)
    print("PDF保存: one page")
    click(control(app, "chkPrintFlg"))  # as it was

    # The settings dialog and the print dialog, for the pictures.
    click(control(app, "cmdProcess(7)"))
    env = wait_for("the settings dialog", lambda: find(app, lambda a: a.description == "frmEnv"))
    time.sleep(0.5)
    shot("settings-dialog.png", env)
    click(find(env, lambda a: a.description == "cmdProcess(1)"))
    click(control(app, "chkPrintFlg"))
    click(control(app, "cmdProcess(5)"))
    prn = wait_for("the print dialog", lambda: find(app, lambda a: a.description == "frmPrint"))
    time.sleep(0.5)
    shot("print-dialog.png", prn)
    click(find(prn, lambda a: a.description == "cmdProcess(1)"))

    if os.environ.get("ONDREL_REPORT_SHOT"):
        # The single-memo report, shown by the office in front of everything.
        click(control(app, "chkPrintFlg"))
        click(control(app, "cmdProcess(5)"))
        answer(app, "データを印刷します。よろしいですか。", "はい")
        report = os.path.join(PROG, "帳票", "指導指示管理-%s.xls" % chart[0][:-1])
        wait_for("the report file", lambda: os.path.exists(report), 60)
        time.sleep(4)
        subprocess.run(["import", "-window", "root", os.path.join(SHOTS, "report.png")], check=False)
        # Without a window manager the office's window stays over ours: end it.
        with open(os.path.join(os.environ["XDG_CACHE_HOME"], "ondrel", "office-profile", "office.pid")) as f:
            os.killpg(int(f.read().strip()), 9)
        time.sleep(1)

    # Closing: いいえ keeps the window, はい ends the program.
    click(control(app, "cmdProcess(6)"))
    answer(app, "編集したデータは失われます。よろしいですか。", "いいえ")
    time.sleep(0.5)
    if first.poll() is not None:
        fail("the program ended after いいえ")
    click(control(app, "cmdProcess(6)"))
    answer(app, "編集したデータは失われます。よろしいですか。", "はい")
    if first.wait(timeout=20) != 0:
        fail("the program did not end cleanly")
    print("PASS")


if __name__ == "__main__":
    main()
