#!/usr/bin/python3
"""Start-up until the main window is mapped, beside an empty Qt window.

Usage: startup.py PROGRAM EMPTY_WINDOW [RUNS]
Runs under an X server ($DISPLAY, e.g. Xvfb): starts each program in turn,
alternating, waits for the MapNotify of its first top-level window, ends it
and prints the medians and the median of the pairwise ratios. A third row
starts the empty window with one line of Japanese text (EMPTY_WINDOW
--label): the part of the budget the font system takes before any of the
program's own work.
"""
import os
import signal
import statistics
import subprocess
import sys
import time

from Xlib import X, display


def time_to_map(disp, argv):
    root = disp.screen().root
    root.change_attributes(event_mask=X.SubstructureNotifyMask)
    disp.sync()
    while disp.pending_events():
        disp.next_event()
    start = time.monotonic()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    try:
        deadline = start + 30
        while time.monotonic() < deadline:
            if disp.pending_events():
                ev = disp.next_event()
                if ev.type == X.MapNotify and not ev.override:
                    return time.monotonic() - start
            else:
                time.sleep(0.0005)
        raise RuntimeError("no window was mapped: " + " ".join(argv))
    finally:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()


def main():
    program, empty = sys.argv[1], sys.argv[2]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 11
    disp = display.Display()
    ours, floor, label = [], [], []
    for _ in range(runs):
        floor.append(time_to_map(disp, [empty]))
        ours.append(time_to_map(disp, [program, "12345"]))
        label.append(time_to_map(disp, [empty, "--label"]))

    def ratio(a, b):
        return statistics.median(x / y for x, y in zip(a, b))

    med = lambda xs: statistics.median(xs) * 1000
    print("%-34s %9.1f ms %9.1f ms %6.2f×  ratio ≤ 1.5×" % (
        "start until the window is mapped", med(ours), med(floor), ratio(ours, floor)))
    print("%-34s %9.1f ms %9.1f ms %6.2f×  (the font system's share)" % (
        "  empty window + a Japanese label", med(label), med(floor), ratio(label, floor)))
    print("%-34s %9.1f ms %9.1f ms %6.2f×  ratio ≤ 1.3× (the program's own work)" % (
        "  ours beside that labelled window", med(ours), med(label), ratio(ours, label)))


if __name__ == "__main__":
    main()
