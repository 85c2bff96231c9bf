"""Two people sign in in turn on one PC, each saves a memo; 変更履歴 names both."""
import os
import time

import pyatspi

from atspi_helpers import answer, click, control, fail, find, menu_entry, new_memo, right_click, start, text_of, wait_for

PROG = os.environ["ONDREL_PROG"]


def sign_in(app, login):
    staff_id = control(app, "txtStaffId")
    wait_for("the sign-in", lambda: staff_id.getState().contains(pyatspi.STATE_SHOWING))
    if control(app, "lblInfo(2)").getState().contains(pyatspi.STATE_SHOWING) and \
            control(app, "picSignIn").queryComponent().getExtents(pyatspi.DESKTOP_COORDS)[2] == 0:
        fail("the patient shows while nobody is signed in")
    staff_id.queryEditableText().setTextContents(login)
    control(app, "txtPassword").queryEditableText().setTextContents("pw-" + login)
    click(control(app, "cmdSignIn"))
    wait_for(login + " signed in", lambda: login in (control(app, "lblStaff").name or ""), 15)


def save(app, memo_box, text):
    click(memo_box)
    memo_box.queryEditableText().setTextContents(text)
    click(control(app, "cmdProcess(4)"))
    answer(app, "データを保存します。よろしいですか。", "はい")
    wait_for("the saved memo in the history", lambda: text in text_of(control(app, "txtPast(0)")), 10)


def main():
    program, app = start([os.path.join(PROG, "ondrel"), "12345"])
    sign_in(app, "nurse01")
    page = 0
    memo_box = new_memo(app, page)
    save(app, memo_box, "山田の入力")

    click(control(app, "cmdSignOut"))
    sign_in(app, "doc1")
    save(app, memo_box, "佐藤の追記")

    right_click(control(app, "grdDateList(%d)" % page))
    menu_entry(0)  # 変更履歴...
    versions = wait_for("the versions dialog", lambda: find(app, lambda a: a.description == "frmRevisions"))
    table = find(versions, lambda a: a.description == "grdRevisions").queryTable()
    people = " ".join(table.getAccessibleAt(r, 2).name or "" for r in range(table.nRows))
    for who in ("nurse01 山田花子", "doc1 佐藤一郎"):
        if who not in people:
            fail("変更履歴 does not name %s: %r" % (who, people))
    click(find(versions, lambda a: a.description == "cmdClose"))
    time.sleep(0.5)

    click(control(app, "cmdProcess(6)"))
    answer(app, "編集したデータは失われます。よろしいですか。", "はい")
    if program.wait(timeout=20) != 0:
        fail("the program did not end cleanly")
    print("PASS")


if __name__ == "__main__":
    main()
