#!/usr/bin/python3
"""Prints the accessible tree of a program as a screen reader sees it (AT-SPI).

Usage:
  atspi-tree.py --app NAME [--timeout S] [STEP]... [--root SPEC] [--max-children N]
                [--actions] [--json] [--launch PROGRAM [ARGS...]]

  STEP is one of, run in the order given:
    --wait-for SPEC     wait until a node matching SPEC exists
    --do SPEC ACTION    run an action of the first matching node (Press, Toggle, ...; any case)
    --key KEYS          type keys into the focused window with xdotool (for example
                        "space", "Tab", "ctrl+Tab", "alt+p"); needs DISPLAY

SPEC is ROLE, ROLE:NAME or either followed by [STATE,!STATE,...]. ROLE and NAME are matched
without regard to case against the role name AT-SPI reports ("push button", "page tab",
"list item", "table cell", ...) and the accessible name (a NAME ending in "*" matches as a
prefix); each STATE must be among the node's states ("checked", "selected", "focused", ...),
each !STATE must not. For example: --wait-for 'list item:Tasks[checked]'.

The program is either started here (--launch, which must come last: the program and its
arguments follow it; its standard output goes to this script's standard error, and it is
stopped when the script ends) or already running. A Qt program is read only when it runs
with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 (--launch sets it) and on the same D-Bus session as
this script. With --launch and no usable session bus (none, or "disabled:" as under
tests/support/with-x11) the script runs itself inside a new one (dbus-run-session), which
starts the accessibility bus when the program asks for it and ends with the script.

The script waits until an application named NAME is on the accessibility desktop with a
window, runs the steps, then prints the tree, from the first --root node if given. Every
wait together is bounded by --timeout (default 20 s). One line per node:

  <indent>role "name" [state,state,...]

with two spaces of indent per level, and " actions=Press,Toggle" after the states with
--actions; with --json one JSON object instead (actions always included). Lists longer than
--max-children (default 200) are cut, with a line "... (N more)".

Exit status: 0 done, 1 timed out, a step failed or the launched program ended early (the
reason on standard error), 2 bad usage or a missing tool.
"""

import argparse
import json
import os
import re
import subprocess
import sys
import time
import warnings

Atspi = None  # the bindings, loaded once the session bus is settled


def load_bindings():
    global Atspi
    try:
        import gi

        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi as bindings
    except (ImportError, ValueError) as error:
        print(f"atspi-tree: AT-SPI bindings missing ({error}); install python3-pyatspi",
              file=sys.stderr)
        sys.exit(2)
    # Some action calls are marked deprecated in favour of names that clash with others.
    warnings.filterwarnings("ignore", category=DeprecationWarning)
    Atspi = bindings


def session_bus_usable():
    address = os.environ.get("DBUS_SESSION_BUS_ADDRESS", "")
    return bool(address) and not address.startswith("disabled:")


class Timeout(Exception):
    pass


class StepFailed(Exception):
    pass


def role_of(node):
    try:
        return node.get_role_name() or ""
    except Exception:  # a node that went away while we looked
        return ""


def name_of(node):
    try:
        return node.get_name() or ""
    except Exception:
        return ""


def states_of(node):
    try:
        return sorted(s.value_nick for s in node.get_state_set().get_states())
    except Exception:
        return []


def actions_of(node):
    try:
        if "Action" not in node.get_interfaces():
            return []
        return [Atspi.Action.get_action_name(node, i)
                for i in range(Atspi.Action.get_n_actions(node))]
    except Exception:
        return []


def children_of(node, limit):
    try:
        count = node.get_child_count()
    except Exception:
        return [], 0
    shown = []
    for i in range(min(count, limit)):
        try:
            child = node.get_child_at_index(i)
        except Exception:
            child = None
        if child is not None:
            shown.append(child)
    return shown, max(count - limit, 0)


SPEC = re.compile(r"^(?P<role>[^:\[]*)(?::(?P<name>[^\[]*))?(?:\[(?P<states>[^\]]*)\])?$")


def parse_spec(spec):
    match = SPEC.match(spec.strip())
    if match is None:
        raise StepFailed(f"cannot read the node description {spec!r}")
    states = [s.strip().lower() for s in (match["states"] or "").split(",") if s.strip()]
    return {
        "text": spec,
        "role": match["role"].strip().lower(),
        "name": match["name"].strip() if match["name"] is not None else None,
        "with": [s for s in states if not s.startswith("!")],
        "without": [s[1:] for s in states if s.startswith("!")],
    }


def matches(node, spec):
    if spec["role"] and role_of(node).lower() != spec["role"]:
        return False
    name = spec["name"]
    if name is not None:
        actual = name_of(node).lower()
        wanted = name.lower()
        if wanted.endswith("*") and not actual.startswith(wanted[:-1]):
            return False
        if not wanted.endswith("*") and actual != wanted:
            return False
    if spec["with"] or spec["without"]:
        states = states_of(node)
        if any(s not in states for s in spec["with"]) or any(
                s in states for s in spec["without"]):
            return False
    return True


def find(node, spec, limit, depth=0):
    if matches(node, spec):
        return node
    if depth > 64:
        return None
    children, _ = children_of(node, limit)
    for child in children:
        found = find(child, spec, limit, depth + 1)
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


def wait_for(what, deadline, probe):
    while True:
        result = probe()
        if result is not None:
            return result
        if time.monotonic() >= deadline:
            raise Timeout(f"timed out waiting for {what}")
        time.sleep(0.1)


def do_action(node, action):
    names = actions_of(node)
    for i, candidate in enumerate(names):
        if candidate.lower() == action.lower():
            if not Atspi.Action.do_action(node, i):
                raise StepFailed(f'action {candidate} on "{name_of(node)}" failed')
            return
    raise StepFailed(f'{role_of(node)} "{name_of(node)}" has no action {action} '
                     f'(it has: {", ".join(names) or "none"})')


def type_keys(keys):
    try:
        subprocess.run(["xdotool", "key", "--clearmodifiers", keys], check=True, timeout=10,
                       stdin=subprocess.DEVNULL)
    except FileNotFoundError:
        raise StepFailed("xdotool is not installed (scripts/ensure-packages test)")
    except (subprocess.CalledProcessError, subprocess.TimeoutExpired) as error:
        raise StepFailed(f"xdotool key {keys} failed ({error})")


def as_lines(node, limit, with_actions, depth=0, out=None):
    out = [] if out is None else out
    line = f'{"  " * depth}{role_of(node)} "{name_of(node)}" [{",".join(states_of(node))}]'
    actions = actions_of(node) if with_actions else []
    if actions:
        line += " actions=" + ",".join(actions)
    out.append(line)
    children, more = children_of(node, limit)
    for child in children:
        as_lines(child, limit, with_actions, depth + 1, out)
    if more:
        out.append(f'{"  " * (depth + 1)}... ({more} more)')
    return out


def as_json(node, limit):
    children, more = children_of(node, limit)
    result = {"role": role_of(node), "name": name_of(node), "states": states_of(node),
              "actions": actions_of(node),
              "children": [as_json(child, limit) for child in children]}
    if more:
        result["more"] = more
    return result


class StepAction(argparse.Action):
    """Keeps --wait-for, --do and --key in the order they were given."""

    def __call__(self, parser, namespace, values, option_string=None):
        steps = getattr(namespace, "steps", None) or []
        values = values if isinstance(values, list) else [values]
        steps.append((option_string.lstrip("-"), *values))
        namespace.steps = steps


def stop(child):
    if child is None or child.poll() is not None:
        return
    child.terminate()
    try:
        child.wait(timeout=5)
    except subprocess.TimeoutExpired:
        child.kill()
        child.wait()


def run(args, child):
    deadline = time.monotonic() + args.timeout
    limit = max(args.max_children, 1)

    def app_ready():
        if child is not None and child.poll() is not None:
            raise StepFailed(f"{args.launch[0]} ended with status {child.returncode}")
        return find_app(args.app)

    app = wait_for(f'application "{args.app}" on the accessibility bus', deadline, app_ready)
    for step in args.steps or []:
        kind = step[0]
        if kind == "key":
            type_keys(step[1])
            continue
        spec = parse_spec(step[1])
        node = wait_for(f"node {spec['text']}", deadline, lambda: find(app, spec, limit))
        if kind == "do":
            do_action(node, step[2])
    root = app
    if args.root:
        spec = parse_spec(args.root)
        root = wait_for(f"node {args.root}", deadline, lambda: find(app, spec, limit))
    if args.json:
        print(json.dumps(as_json(root, limit), indent=1))
    else:
        print("\n".join(as_lines(root, limit, args.actions)))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[1])
    parser.add_argument("--app", required=True, help="the application's accessible name")
    parser.add_argument("--timeout", type=float, default=20.0)
    parser.add_argument("--wait-for", action=StepAction, metavar="SPEC")
    parser.add_argument("--do", action=StepAction, nargs=2, metavar=("SPEC", "ACTION"))
    parser.add_argument("--key", action=StepAction, metavar="KEYS")
    parser.add_argument("--root", metavar="SPEC")
    parser.add_argument("--max-children", type=int, default=200)
    parser.add_argument("--actions", action="store_true", help="list each node's actions")
    parser.add_argument("--json", action="store_true")
    parser.add_argument("--launch", nargs=argparse.REMAINDER, metavar="PROGRAM")
    args = parser.parse_args()
    if args.launch is not None and not args.launch:
        parser.error("--launch needs a program")

    if args.launch and not session_bus_usable():
        if os.environ.get("ATSPI_TREE_OWN_SESSION"):
            print("atspi-tree: dbus-run-session gave no session bus", file=sys.stderr)
            return 2
        env = dict(os.environ, ATSPI_TREE_OWN_SESSION="1")
        # The accessibility bus launcher reads its settings schemas from the system's data
        # folders, which a test's private XDG_DATA_DIRS hides.
        schemas = "/usr/share/glib-2.0/schemas"
        if os.path.isdir(schemas):
            env["GSETTINGS_SCHEMA_DIR"] = os.pathsep.join(
                p for p in (env.get("GSETTINGS_SCHEMA_DIR"), schemas) if p)
        command = ["dbus-run-session", "--", sys.executable, os.path.abspath(__file__)]
        try:
            os.execvpe("dbus-run-session", command + sys.argv[1:], env)
        except OSError as error:
            print(f"atspi-tree: cannot start dbus-run-session ({error}); install dbus",
                  file=sys.stderr)
            return 2

    load_bindings()
    child = None
    if args.launch:
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
        try:
            child = subprocess.Popen(args.launch, env=env, stdin=subprocess.DEVNULL,
                                     stdout=sys.stderr.fileno())
        except OSError as error:
            print(f"atspi-tree: cannot start {args.launch[0]} ({error})", file=sys.stderr)
            return 1
    try:
        return run(args, child)
    except (Timeout, StepFailed) as error:
        print(f"atspi-tree: {error}", file=sys.stderr)
        return 1
    finally:
        stop(child)


if __name__ == "__main__":
    sys.exit(main())
