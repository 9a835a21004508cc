#!/usr/bin/python3
"""A reference walk of one application's accessibility tree with pyatspi.

It visits elements in the order kelp-cua's "tree" does and reads, for every
element, its role, name and children, and for every element that "tree"
would record its description, text or value, states and extents. It prints
the wall time of each of repeated walks and their median in milliseconds, as
JSON, so that a benchmark can set it beside kelp-cua's own figure.

Usage: reference_walk.py APP_NAME_FRAGMENT [MAX] [REPEATS]
With $KELP_REFERENCE_ROOT=front the walk starts at the application's active
window (a dialog while one is open) instead of the application.
"""
import json
import os
import statistics
import sys
import time

import pyatspi

# The AT-SPI roles whose elements kelp-cua's Linux backend maps to a role
# that "tree" records.
RECORDED = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_PUSH_BUTTON_MENU, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX,
    pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_LINK, pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_EDITBAR,
    pyatspi.ROLE_TERMINAL, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_SLIDER,
    pyatspi.ROLE_DIAL, pyatspi.ROLE_PAGE_TAB_LIST, pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_TABLE_ROW,
    pyatspi.ROLE_LIST_ITEM, pyatspi.ROLE_TREE_ITEM, pyatspi.ROLE_TABLE_CELL, pyatspi.ROLE_TABLE_COLUMN_HEADER,
    pyatspi.ROLE_COLUMN_HEADER, pyatspi.ROLE_TABLE_ROW_HEADER, pyatspi.ROLE_ROW_HEADER,
}
# Menu items are recorded except as the titles of a menu bar; a menu is
# recorded as the item that opens it inside another menu.
MENU_ITEMS = {
    pyatspi.ROLE_MENU_ITEM, pyatspi.ROLE_CHECK_MENU_ITEM, pyatspi.ROLE_RADIO_MENU_ITEM,
    pyatspi.ROLE_TEAROFF_MENU_ITEM,
}
MENUS = {pyatspi.ROLE_MENU, pyatspi.ROLE_POPUP_MENU}
# Static texts, recorded only when they have something to show.
STATIC_TEXT = {pyatspi.ROLE_LABEL, pyatspi.ROLE_STATIC, pyatspi.ROLE_CAPTION, pyatspi.ROLE_ACCELERATOR_LABEL}
MAX_DEPTH = 22


def read_text(node):
    """The text contents, or else the current value; None when it has neither."""
    try:
        return node.queryText().getText(0, -1)
    except NotImplementedError:
        pass
    try:
        return node.queryValue().currentValue
    except NotImplementedError:
        return None


def read_recorded(node, text):
    node.description
    if text is None:
        text = read_text(node)
    node.getState().getStates()
    try:
        node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    except NotImplementedError:
        pass


def is_recorded(role, parent_role):
    if role in RECORDED:
        return True
    if role in MENU_ITEMS:
        return parent_role != pyatspi.ROLE_MENU_BAR
    return role == pyatspi.ROLE_MENU and parent_role in MENUS


def walk(node, depth, limit, recorded, parent_role=None):
    if recorded[0] >= limit or depth > MAX_DEPTH:
        return
    role = node.getRole()
    name = node.name
    if is_recorded(role, parent_role):
        read_recorded(node, None)
        recorded[0] += 1
    elif role in STATIC_TEXT:
        text = None if name else read_text(node)
        if name or (text is not None and str(text).strip()):
            read_recorded(node, text)
            recorded[0] += 1
    for i in range(node.childCount):
        if recorded[0] >= limit:
            return
        child = node.getChildAtIndex(i)
        if child is not None:
            walk(child, depth + 1, limit, recorded, role)


def find_app(fragment):
    """The application whose name holds `fragment`, or whose process is N for "pid:N"."""
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is None:
            continue
        if fragment.startswith("pid:"):
            if app.get_process_id() == int(fragment[4:]):
                return app
        elif fragment.lower() in (app.name or "").lower():
            return app
    return None


def root_of(app):
    """Where the walk starts: the application, or its active window."""
    if os.environ.get("KELP_REFERENCE_ROOT") != "front":
        return app
    for i in range(app.childCount):
        window = app.getChildAtIndex(i)
        if window is not None and window.getState().contains(pyatspi.STATE_ACTIVE):
            return window
    return app


def main():
    fragment = sys.argv[1]
    limit = int(sys.argv[2]) if len(sys.argv) > 2 else 300
    repeats = int(sys.argv[3]) if len(sys.argv) > 3 else 10
    app = find_app(fragment)
    if app is None:
        print(json.dumps({"error": "application not found", "app": fragment}))
        return 1
    times = []
    for _ in range(repeats):
        # Nothing cached between walks, as kelp-cua reads live state per request.
        getattr(app, "clear_cache", lambda: None)()
        start = time.perf_counter()
        recorded = [0]
        walk(root_of(app), 0, limit, recorded)
        times.append((time.perf_counter() - start) * 1000.0)
    print(json.dumps({"app": app.name, "recorded": recorded[0], "median_ms": statistics.median(times),
                      "times_ms": times}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
