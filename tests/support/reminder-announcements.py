#!/usr/bin/python3
"""Asks a running Pellora for reminders as a screen reader user would, and reports what a
screen reader hears of each (AT-SPI).

Usage: reminder-announcements.py --app NAME [--rounds N] [--timeout S]

Listens for windows that start showing, then ROUNDS times: presses the strip's "Show a
reminder now" through its accessible action, waits until a window announces itself by
starting to show, reports it, presses its "Close reminder" button the same way and waits
until it is gone. Nothing here moves the keyboard focus. One line per event:

  announced ROLE "NAME"        a window of the program started showing
  closed                       the reminder went away after its close button was pressed
  done                         every round went through

Exit status: 0 done, 1 a wait timed out or a step failed (the reason on standard error),
2 bad usage or a missing tool. The program must run on this D-Bus session with
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1.
"""

import argparse
import sys
import time
import warnings

try:
    import gi

    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi, GLib
except (ImportError, ValueError) as error:
    print(f"reminder-announcements: AT-SPI bindings missing ({error}); install python3-pyatspi",
          file=sys.stderr)
    sys.exit(2)

warnings.filterwarnings("ignore", category=DeprecationWarning)


class Failed(Exception):
    pass


def role_of(node):
    try:
        return node.get_role_name() or ""
    except Exception:  # gone while we looked
        return ""


def name_of(node):
    try:
        return node.get_name() or ""
    except Exception:
        return ""


def find(node, role, name, depth=0):
    if role_of(node) == role and (name is None or name_of(node) == name):
        return node
    if depth > 32:
        return None
    try:
        count = node.get_child_count()
    except Exception:
        return None
    for i in range(count):
        try:
            child = node.get_child_at_index(i)
        except Exception:
            child = None
        if child is not None:
            found = find(child, role, name, depth + 1)
            if found is not None:
                return found
    return None


def find_app(name):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and name_of(app) == name and app.get_child_count() > 0:
            return app
    return None


def press(node):
    for i in range(Atspi.Action.get_n_actions(node)):
        if Atspi.Action.get_action_name(node, i).lower() == "press":
            if Atspi.Action.do_action(node, i):
                return
    raise Failed(f'{role_of(node)} "{name_of(node)}" cannot be pressed')


def wait(what, deadline, probe):
    context = GLib.MainContext.default()
    while True:
        while context.pending():
            context.iteration(False)
        result = probe()
        if result:
            return result
        if time.monotonic() >= deadline:
            raise Failed(f"timed out waiting for {what}")
        context.iteration(False)
        time.sleep(0.02)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--app", required=True)
    parser.add_argument("--rounds", type=int, default=1)
    parser.add_argument("--timeout", type=float, default=60.0)
    args = parser.parse_args()
    deadline = time.monotonic() + args.timeout

    announced = []

    def on_event(event):
        if event.detail1 != 1:
            return
        source = event.source
        role = role_of(source)
        if role in ("notification", "alert"):
            announced.append((role, name_of(source)))

    listener = Atspi.EventListener.new(on_event)
    listener.register("object:state-changed:showing")

    try:
        app = wait(f'application "{args.app}"', deadline, lambda: find_app(args.app))
        button = wait('"Show a reminder now"', deadline,
                      lambda: find(app, "push button", "Show a reminder now"))
        for _ in range(args.rounds):
            seen = len(announced)
            press(button)
            wait("the reminder's announcement", deadline, lambda: len(announced) > seen)
            role, name = announced[seen]
            print(f'announced {role} "{name}"', flush=True)
            reminder = wait("the reminder in the tree", deadline, lambda: find(app, role, name))
            close = wait('"Close reminder"', deadline,
                         lambda: find(reminder, "push button", "Close reminder"))
            press(close)
            wait("the reminder to go", deadline, lambda: find(app, role, name) is None)
            print("closed", flush=True)
        print("done", flush=True)
        return 0
    except Failed as error:
        print(f"reminder-announcements: {error}", file=sys.stderr)
        return 1
    finally:
        listener.deregister("object:state-changed:showing")


if __name__ == "__main__":
    sys.exit(main())
