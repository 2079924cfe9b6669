#!/usr/bin/python3
"""Asks a running Pellora for reminders as a screen reader user would, and reports what a
screen reader hears of each (AT-SPI).

Usage: reminder-announcements.py --app NAME [--rounds N] [--leave-open] [--timeout S]

Listens for windows that start showing, then ROUNDS times: presses the strip's "Show a
reminder now" through its accessible action, waits until a window announces itself by
starting to show, reports it, presses its "Close reminder" button the same way and waits
until it is gone; with --leave-open one more reminder is asked for and left on the screen.
Nothing here moves the keyboard focus. One line per event:

  announced ROLE "NAME"        a window of the program started showing
  closed                       the reminder went away after its close button was pressed
  open                         the last reminder is on the screen (--leave-open)
  done                         every round went through

Exit status: 0 done, 1 a wait timed out or a step failed (the reason on standard error),
2 bad usage or a missing tool. The program must run on this D-Bus session with
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1.
"""

import argparse
import importlib
import os
import sys
import time

# The tree reader's helpers: finding nodes, their roles, names and actions.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
tree = importlib.import_module("atspi-tree")
tree.load_bindings()
from gi.repository import GLib  # noqa: E402  (after the bindings are settled)

Atspi = tree.Atspi
LIMIT = 200


def find(node, spec):
    return tree.find(node, tree.parse_spec(spec), LIMIT)


def wait(what, deadline, probe):
    context = GLib.MainContext.default()
    while True:
        while context.pending():
            context.iteration(False)
        result = probe()
        if result:
            return result
        if time.monotonic() >= deadline:
            raise tree.Timeout(f"timed out waiting for {what}")
        context.iteration(False)
        time.sleep(0.02)


def showing(app, role, name):
    """The top-level window of the program with this role and name."""
    children, _ = tree.children_of(app, LIMIT)
    for child in children:
        if tree.role_of(child) == role and tree.name_of(child) == name:
            return child
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--app", required=True)
    parser.add_argument("--rounds", type=int, default=1)
    parser.add_argument("--leave-open", action="store_true")
    parser.add_argument("--timeout", type=float, default=60.0)
    args = parser.parse_args()
    deadline = time.monotonic() + args.timeout

    announced = []

    def on_event(event):
        if event.detail1 != 1:
            return
        source = event.source
        role = tree.role_of(source)
        if role in ("notification", "alert"):
            announced.append((role, tree.name_of(source)))

    listener = Atspi.EventListener.new(on_event)
    listener.register("object:state-changed:showing")

    try:
        app = wait(f'application "{args.app}"', deadline, lambda: tree.find_app(args.app))
        button = wait('"Show a reminder now"', deadline,
                      lambda: find(app, "push button:Show a reminder now"))
        for _ in range(args.rounds):
            seen = len(announced)
            tree.do_action(button, "press")
            wait("the reminder's announcement", deadline, lambda: len(announced) > seen)
            role, name = announced[seen]
            print(f'announced {role} "{name}"', flush=True)
            # Names are matched as the tree reader does: a name holding "[" or ":" is not
            # a description it reads, so the reminder is found by its role and then its name.
            reminder = wait("the reminder in the tree", deadline,
                            lambda: showing(app, role, name))
            close = wait('"Close reminder"', deadline,
                         lambda: find(reminder, "push button:Close reminder"))
            tree.do_action(close, "press")
            wait("the reminder to go", deadline, lambda: showing(app, role, name) is None)
            print("closed", flush=True)
        if args.leave_open:
            seen = len(announced)
            tree.do_action(button, "press")
            wait("the last reminder's announcement", deadline, lambda: len(announced) > seen)
            role, name = announced[seen]
            print(f'announced {role} "{name}"', flush=True)
            print("open", flush=True)
        print("done", flush=True)
        return 0
    except (tree.Timeout, tree.StepFailed) as error:
        print(f"reminder-announcements: {error}", file=sys.stderr)
        return 1
    finally:
        listener.deregister("object:state-changed:showing")


if __name__ == "__main__":
    sys.exit(main())
