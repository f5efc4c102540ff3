"""Drives a running Kormil through the AT-SPI bus only, as a screen reader or a voice tool that
clicks by name would: no mouse, no keys. Exit 0: passed, 1: failed, 77: no accessibility bus."""

import socket
import sys
import time

import pyatspi
from gi.repository import GLib

STYLE_WORDS = {
    "vbHide": "Hidden, the program runs without a window",
    "vbNormalFocus": "Normal size, takes the focus",
    "vbMinimizedFocus": "Minimised, takes the focus",
    "vbMaximizedFocus": "Maximised, takes the focus",
    "vbNormalNoFocus": "Normal size, the window you are working in keeps the focus",
    "vbMinimizedNoFocus": "Minimised, the window you are working in keeps the focus",
}

FIRST_PAIR = ("open mail", "runs: thunderbird \u2014 window: Maximised, takes the focus")

failures = []
heard = []  # (event type, name of the source, description of the source, detail1)


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)
    return condition


def pump_until(condition, seconds=10.0):
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context.pending():
            context.iteration(False)
        if condition():
            return True
        time.sleep(0.02)
    return condition()


def on_event(event):
    try:
        heard.append((event.type, event.source.name, event.source.description, event.detail1))
    except Exception:  # the source may be gone already
        pass


def children(node):
    """The children the bus can give now; one that is still being registered is left out."""
    found = []
    for i in range(node.childCount):
        try:
            child = node.getChildAtIndex(i)
            if child is not None and child.name is not None:
                found.append(child)
        except Exception:
            pass
    return found


def find(root, name, role=None):
    return pyatspi.utils.findDescendant(
        root, lambda o: o.name == name and (role is None or o.getRoleName() == role), True)


def window(app, predicate, seconds=10.0):
    found = []
    pump_until(lambda: found.extend(w for w in children(app) if predicate(w)) or found, seconds)
    return found[0] if found else None


def has_state(node, state):
    return node is not None and node.getState().contains(state)


def press(node, action="Press"):
    actions = node.queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    actions.doAction(names.index(action))


def select_row(list_node, row):
    cell = list_node.getChildAtIndex(row)
    if not has_state(cell, pyatspi.STATE_SELECTED):
        press(cell, "Toggle")
    pump_until(lambda: has_state(cell, pyatspi.STATE_SELECTED))


def focusable_without_name(root):
    missing = []
    for node in children(root):
        if has_state(node, pyatspi.STATE_FOCUSABLE) and not node.name:
            missing.append(node.getRoleName())
        missing += focusable_without_name(node)
    return missing


def rows(list_node):
    return [(row.name, row.description) for row in children(list_node)]


def log_heard(text, since=0):
    """A change of the log list's description that carries the text, and the newest line
    becoming selected, since that many events had been heard."""
    described = any(t.startswith("object:property-change:accessible-description") and
                    name == "Output Log" and text in description
                    for t, name, description, _ in heard[since:])
    return described and newest_line_selected(lambda line: line.endswith(" " + text), since)


def newest_line_selected(predicate, since):
    return any(t.startswith("object:state-changed:selected") and selected and predicate(name)
               for t, name, _, selected in heard[since:])


def fill_editor(app, title, pattern, command, style):
    editor = window(app, lambda w: w.name == title and has_state(w, pyatspi.STATE_ACTIVE))
    if not check(editor is not None, f"the editor opens as the active window \"{title}\""):
        return None
    check(not focusable_without_name(editor), f"every focusable control of \"{title}\" is named")
    boxes = [node for node in children(editor) if node.getRoleName() == "text"]
    check([box.name for box in boxes] ==
          ["Enter the string to be paired with the Lexiphon results",
           "Enter the shell command to be run"],
          "the editor's text boxes are named by their prompts")
    boxes[0].queryEditableText().setTextContents(pattern)
    boxes[1].queryEditableText().setTextContents(command)
    press(find(editor, style, "radio button"), "Toggle")
    return editor


def listen_on_own_port(app, port):
    """Kormil starts on port 2011, or asks for another when 2011 is taken; either way it is
    moved to the given port through its port box, as a user would."""
    main_window = None

    def started():
        nonlocal main_window
        for candidate in children(app):
            if candidate.name != "Kormil":
                continue
            ok = find(candidate, "OK", "push button")
            if ok is not None:
                print("port 2011 was taken: Kormil asks for another port")
                try:
                    press(ok)
                except Exception:  # closed already
                    pass
            elif find(candidate, "Stop", "push button") or find(candidate, "Listen", "push button"):
                main_window = candidate
        return main_window is not None

    if not check(pump_until(started, 20), "the main window shows up"):
        return None
    stop = find(main_window, "Stop", "push button")
    if stop is not None:
        check("listening on TCP port 2011" in stop.description,
              f"the Listen/Stop button tells the port: {stop.description!r}")
        press(stop)
    listen = []
    pump_until(lambda: listen.append(find(main_window, "Listen", "push button")) or listen[-1])
    port_box = [node for node in children(main_window) if node.getRoleName() == "text"][0]
    port_box.queryEditableText().setTextContents(str(port))
    press(listen[-1])
    check(pump_until(lambda: find(main_window, "Stop", "push button") is not None),
          f"Kormil listens on TCP port {port}")
    return main_window


def main():
    try:
        desktop = pyatspi.Registry.getDesktop(0)
    except Exception as error:
        print(f"skipped: the accessibility bus cannot start ({error})")
        return 77
    apps = []
    pump_until(lambda: apps.extend(a for a in children(desktop) if a.name == "kormil") or apps, 20)
    if not check(bool(apps), "Kormil shows up on the accessibility bus"):
        return 1
    app = apps[0]
    with socket.socket() as probe:  # a port nobody else uses, so that no stray text arrives
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]

    for event in ("object:property-change:accessible-description",
                  "object:state-changed:selected"):
        pyatspi.Registry.registerEventListener(on_event, event)
    main_window = listen_on_own_port(app, port)
    if main_window is None:
        return 1
    check(not focusable_without_name(main_window),
          "every focusable control of the main window is named")
    names = {node.name for node in children(main_window)}
    for name in ("TCP Port", "Speech Pattern", "Shell Command", "Window styles", "Output Log"):
        check(name in names, f"a control is named \"{name}\"")
    listen = find(main_window, "Stop", "push button")
    check(f"listening on TCP port {port}" in listen.description,
          f"the Listen/Stop button tells the port: {listen.description!r}")
    patterns = find(main_window, "Speech Pattern", "list")
    styles = find(main_window, "Window styles", "list")
    check(rows(patterns) == [FIRST_PAIR],
          f"a pattern's row tells its pair: {rows(patterns)}")
    check(rows(styles) == [("3", "Maximised, takes the focus")],
          f"a style's row tells it in words: {rows(styles)}")

    # Add.
    new = find(main_window, "New string/command pair", "push button")
    press(new)
    editor = fill_editor(app, "Add Pair", "say hello", "true", "vbNormalNoFocus")
    if editor is None:
        return 1
    for option, words in STYLE_WORDS.items():
        check(find(editor, option, "radio button").description == words,
              f"option {option} is described as \"{words}\"")
    press(find(editor, "Add", "push button"))
    check(pump_until(lambda: log_heard("Added voice command [say hello] to execute: true")),
          "the added pair is heard in the log")
    check(rows(patterns)[-1] == ("say hello", "runs: true \u2014 window: Normal size, the window "
                                 "you are working in keeps the focus"),
          f"the new pattern's row tells its pair: {rows(patterns)[-1]}")
    check(pump_until(lambda: has_state(new, pyatspi.STATE_FOCUSED)),
          "the focus returns to the button that opened the editor")

    # Edit the new pair, selected through its row's action.
    select_row(patterns, 1)
    edit = find(main_window, "Edit Selection", "push button")
    press(edit)
    editor = fill_editor(app, "Edit Pair", "say goodbye", "echo bye", "vbHide")
    if editor is None:
        return 1
    press(find(editor, "Save", "push button"))
    check(pump_until(lambda: log_heard(
              "Updated entry, voice command [say goodbye] will execute: echo bye")),
          "the changed pair is heard in the log")
    check(rows(patterns)[1] == ("say goodbye", "runs: echo bye \u2014 window: Hidden, the program "
                                "runs without a window"),
          f"the edited pattern's row tells its new pair: {rows(patterns)[1]}")
    check(rows(styles)[1] == ("0", "Hidden, the program runs without a window"),
          f"the edited style's row tells it in words: {rows(styles)[1]}")
    check(pump_until(lambda: has_state(edit, pyatspi.STATE_FOCUSED)),
          "the focus returns to Edit Selection")

    # A voice string that matches nothing is heard; the watchdog's restart is not.
    for attempt in (1, 2):
        before = len(heard)
        with socket.create_connection(("127.0.0.1", port), timeout=5) as peer:
            peer.sendall(b"nobody says this")
        check(pump_until(lambda: log_heard("No matching voice string found!", before)),
              f"a voice string that matched nothing is heard in the log ({attempt})")
        check(pump_until(lambda: newest_line_selected(
                  lambda line: " Kormil started listening on " in line, before)),
              f"the watchdog listens again once the recogniser has left ({attempt})")
    check(f"listening on TCP port {port}" in listen.description,
          f"the Listen/Stop button tells that Kormil listens again: {listen.description!r}")
    check(not any(t.startswith("object:property-change:accessible-description") and
                  ("Restarting" in description or "started listening" in description)
                  for t, _, description, _ in heard),
          "the watchdog's restart is not announced")

    # Delete: the question takes the focus, and No gives it back.
    delete = find(main_window, "Delete Selection", "push button")
    select_row(patterns, 1)
    press(delete, "SetFocus")
    pump_until(lambda: has_state(delete, pyatspi.STATE_FOCUSED))
    press(delete)
    question = window(app, lambda w: w.name == "Kormil - say goodbye")
    if not check(question is not None, "Delete Selection asks \"Kormil - say goodbye\""):
        return 1
    yes = find(question, "Yes", "push button")
    check(pump_until(lambda: has_state(yes, pyatspi.STATE_FOCUSED)),
          "the question takes the focus, on Yes")
    press(find(question, "No", "push button"))
    check(pump_until(lambda: has_state(delete, pyatspi.STATE_FOCUSED)),
          "answering No gives the focus back to Delete Selection")
    check(len(rows(patterns)) == 2, "No keeps the pair")
    select_row(patterns, 1)
    press(delete)
    question = window(app, lambda w: w.name == "Kormil - say goodbye")
    press(find(question, "Yes", "push button"))
    check(pump_until(lambda: len(rows(patterns)) == 1), "Yes deletes the pair")
    check(rows(patterns) == [FIRST_PAIR],
          f"the remaining row keeps its description: {rows(patterns)}")
    check(pump_until(lambda: has_state(patterns, pyatspi.STATE_FOCUSED)),
          "after the delete the focus is in the pattern list")

    print(f"{len(failures)} check(s) failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
