#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# A screen reader's side of the receive area, over the real AT-SPI bus: finds the largest text of the
# application with the given process id, asks what a reader asks (extents of the whole text and of its
# end, a character at an offset), then listens for the next text insertion. Prints one "key=value" per
# line; "ready" once listening, so the program under test knows when to insert.
#
#   atspireader.py PID OFFSET
import sys
import time

try:
    import pyatspi
    from gi.repository import GLib
except ImportError:
    print("missing=pyatspi", flush=True)
    sys.exit(0)


def texts(node, depth=0):
    if node is None or depth > 12:
        return
    try:
        yield node.queryText(), node
    except NotImplementedError:
        pass
    for i in range(node.childCount):
        yield from texts(node.getChildAtIndex(i), depth + 1)


def timed(key, call):
    start = time.monotonic()
    value = call()
    print("%s_ms=%.1f" % (key, 1000 * (time.monotonic() - start)), flush=True)
    return value


def main():
    pid, offset = int(sys.argv[1]), int(sys.argv[2])
    # A busy machine may take longer than the library's default wait for an answer; a query that never
    # returns still fails, after 10 s.
    try:
        from gi.repository import Atspi
        Atspi.set_timeout(10000, 15000)
    except (ImportError, AttributeError):
        pass
    desktop = pyatspi.Registry.getDesktop(0)
    app = next(a for a in desktop if a is not None and a.get_process_id() == pid)
    text, node = max(texts(app), key=lambda t: t[0].characterCount)
    count = text.characterCount
    print("count=%d" % count, flush=True)
    timed("whole_extents", lambda: text.getRangeExtents(0, -1, pyatspi.DESKTOP_COORDS))
    timed("end_extents", lambda: text.getRangeExtents(count - 10, count, pyatspi.DESKTOP_COORDS))
    timed("explicit_extents", lambda: text.getRangeExtents(0, count, pyatspi.DESKTOP_COORDS))
    whole = timed("whole_text", lambda: text.getText(0, -1))
    print("whole_text_chars=%d whole_text_end=U+%04X" % (len(whole), ord(whole[-1]) if whole else 0), flush=True)
    character, start, end = text.getTextAtOffset(offset, pyatspi.TEXT_BOUNDARY_CHAR)
    print("char_text=U+%04X start=%d end=%d" % (ord(character[0]) if character else 0, start, end), flush=True)
    print("char_code=%d" % text.getCharacterAtOffset(offset), flush=True)

    def on_insert(event):
        if event.source == node:
            print("insert=%d,%d,%d" % (event.detail1, event.detail2, len(event.any_data)), flush=True)
            print("insert_tail=%s" % event.any_data[-8:], flush=True)
            pyatspi.Registry.stop()

    pyatspi.Registry.registerEventListener(on_insert, "object:text-changed:insert")
    GLib.timeout_add(20000, lambda: pyatspi.Registry.stop())
    GLib.idle_add(lambda: print("ready", flush=True) and False)
    pyatspi.Registry.start()
    return 0


if __name__ == "__main__":
    sys.exit(main())
