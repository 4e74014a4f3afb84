"""Reference: selprobe's read as a Linux user would write it with libatspi (gi.repository.Atspi).

Prints one JSON line: the focused element's role name, text, selection or caret. Timing is the
caller's (process start to line), as for selprobe itself.
"""
import json
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def active_window():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is None:
            continue
        for j in range(app.get_child_count()):
            win = app.get_child_at_index(j)
            if win is not None and win.get_state_set().contains(Atspi.StateType.ACTIVE):
                return win
    return None


def focused_in(win):
    states = Atspi.StateSet.new([Atspi.StateType.FOCUSED])
    rule = Atspi.MatchRule.new(states, Atspi.CollectionMatchType.ALL, {}, Atspi.CollectionMatchType.ALL,
                               [], Atspi.CollectionMatchType.ALL, [], Atspi.CollectionMatchType.ALL, False)
    matches = win.get_collection_iface().get_matches(rule, Atspi.CollectionSortOrder.CANONICAL, 1, True)
    return matches[0] if matches else None


def main():
    win = active_window()
    focused = focused_in(win) if win else None
    if focused is None:
        print(json.dumps({"ok": False}))
        return
    text = focused.get_text_iface()
    value = text.get_text(0, -1)
    sel = text.get_selection(0)
    start, end = (sel.start_offset, sel.end_offset) if sel.start_offset != sel.end_offset else (
        text.get_caret_offset(),) * 2
    print(json.dumps({"ok": True, "role": focused.get_role_name(), "before": value[:start][-600:],
                      "selected": value[start:end], "after": value[end:][:600]}))
    sys.stdout.flush()


main()
