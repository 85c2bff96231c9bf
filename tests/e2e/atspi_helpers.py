"""What the outside tests share: finding and driving the program's controls
through AT-SPI, as a screen reader would."""
import subprocess
import sys
import time

import pyatspi


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def wait_for(what, probe, timeout=20.0):
    end = time.time() + timeout
    while time.time() < end:
        try:
            value = probe()
        except Exception:  # the tree changes under our feet while windows open and close
            value = None
        if value:
            return value
        time.sleep(0.2)
    fail("timed out waiting for " + what)


def app_of(pid):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def find(root, pred):
    return pyatspi.findDescendant(root, lambda a: a is not None and pred(a))


def control(app, description):
    return wait_for(description, lambda: find(app, lambda a: a.description == description))


def text_of(acc):
    t = acc.queryText()
    # Line and paragraph separators read as line breaks.
    return t.getText(0, t.characterCount).replace("\u2028", "\n").replace("\u2029", "\n")


def click(acc):
    x, y, w, h = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    pyatspi.Registry.generateMouseEvent(x + w // 2, y + h // 2, pyatspi.MOUSE_B1C)
    time.sleep(0.3)


def box_with(app, message):
    """The open message box whose text holds message."""
    def probe():
        for win in app:
            if win is not None and find(win, lambda a: a.getRoleName() == "label" and message in (a.name or "")):
                return win
        return None
    return wait_for("the message " + message, probe)


def answer(app, message, button):
    box = box_with(app, message)
    click(wait_for(button, lambda: find(box, lambda a: a.getRoleName() == "push button" and (a.name or "").startswith(button))))


def right_click(acc):
    x, y, w, h = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    # Over the first row, where a memo is listed.
    pyatspi.Registry.generateMouseEvent(x + w // 2, y + 40, pyatspi.MOUSE_ABS)
    time.sleep(0.2)
    pyatspi.Registry.generateMouseEvent(x + w // 2, y + 40, "b3p")
    time.sleep(0.4)
    pyatspi.Registry.generateMouseEvent(x + w // 2, y + 40, "b3r")
    time.sleep(0.4)


def menu_entry(position):
    """The context menu's entry at this position (0: the first), as a keyboard
    user picks it: a popup menu is not among the application's windows for
    AT-SPI, only its focus is announced."""
    for _ in range(position + 1):
        pyatspi.Registry.generateKeyboardEvent(0xff54, None, pyatspi.KEY_SYM)  # Down
        time.sleep(0.2)
    pyatspi.Registry.generateKeyboardEvent(0xff0d, None, pyatspi.KEY_SYM)  # Return
    time.sleep(0.5)


def start(argv):
    """Starts the program; returns it and its application on the accessibility bus."""
    program = subprocess.Popen(argv)

    def registered():
        if program.poll() is not None:
            fail("the program ended at start with status %d" % program.returncode)
        return app_of(program.pid)
    return program, wait_for("the program on the accessibility bus", registered, 30)


def new_memo(app, page):
    """新規作成 on the page (the discard question answered when a memo was
    shown); the memo box, once it is on screen."""
    shown = control(app, "picGroup(%d)" % page).getState().contains(pyatspi.STATE_SHOWING)
    click(control(app, "cmdProcess(0)"))
    if shown:
        answer(app, "編集したデータは失われます。よろしいですか。", "はい")
    memo_box = control(app, "txtLData(%d)" % page)
    wait_for("the new memo page", lambda: memo_box.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)[2] > 0)
    return memo_box


def keys(*names):
    """A key combination as the keyboard sends it (e.g. "Control_L", "f"):
    each pressed in turn, then released in reverse."""
    from Xlib import XK
    from Xlib.display import Display
    display = Display()
    codes = [display.keysym_to_keycode(XK.string_to_keysym(n)) for n in names]
    display.close()
    for code in codes:
        pyatspi.Registry.generateKeyboardEvent(code, None, pyatspi.KEY_PRESS)
        time.sleep(0.05)
    for code in reversed(codes):
        pyatspi.Registry.generateKeyboardEvent(code, None, pyatspi.KEY_RELEASE)
        time.sleep(0.05)
    time.sleep(0.4)
