#!/usr/bin/python3
"""Stands in for the desktop services a test cannot run: logind on a private system bus, and
on a private session bus the notification daemon's do-not-disturb, GNOME's session manager,
screen saver and idle monitor, the freedesktop screen saver and Xfce's settings daemon.
Built on python3-dbusmock (its logind and gnome_screensaver templates, mock objects for the
rest).

Usage: desktop-mock.py --system ADDRESS --session ADDRESS

Commands, one a line on standard input; each is answered with "ok" once its signals are on
the bus, or "error: ..." (the script ends when standard input closes):
  logind inhibit BLOCK|DELAY WHAT    an inhibitor of this user (WHAT: e.g. idle:sleep)
  logind release                     drops every inhibitor
  logind lock | logind unlock        the session's Lock and Unlock signals
  logind locked-hint on|off          the session's LockedHint property
  logind sleep | logind wake         PrepareForSleep(true) / PrepareForSleep(false)
  notifications inhibited on|off     the Inhibited property of org.freedesktop.Notifications
  gnome-session idle on|off          the idle bit of InhibitedActions, with InhibitorAdded/Removed
  screensaver on|off                 org.freedesktop.ScreenSaver's ActiveChanged
  gnome-screensaver on|off           org.gnome.ScreenSaver's ActiveChanged
  xfconf dnd on|off|unset            xfce4-notifyd's /do-not-disturb
  mutter idletime MS                 what GetIdletime answers
  mutter idle | mutter active        fires the idle watches / the user-active watches
  stop NAME | start NAME             releases or takes a service's bus name
  hostile                            signals of the wrong shape for every service
"""

import argparse
import os
import sys

import dbus
import dbus.bus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

import dbusmock
from dbusmock import mockobject

PROPS = "org.freedesktop.DBus.Properties"
LOGIN = "org.freedesktop.login1"
MANAGER = "org.freedesktop.login1.Manager"
SESSION = "org.freedesktop.login1.Session"
SESSION_PATH = "/org/freedesktop/login1/session/c1"


class Desktop:
    def __init__(self, system, session):
        self.buses = {"system": system, "session": session}
        self.names = {}
        self.inhibitors = []
        self.idle_watches = set()
        self.active_watches = set()
        self.next_watch = 1
        self.idletime = 0

        self.logind = self.mock(system, LOGIN, "/org/freedesktop/login1", MANAGER)
        self.logind.AddTemplate("logind", {})
        self.logind.AddProperties(MANAGER, {"BlockInhibited": "", "DelayInhibited": ""})
        self.logind.AddMethod(MANAGER, "ListInhibitors", "", "a(ssssuu)",
                              "ret = self.desktop_inhibitors")
        self.logind.desktop_inhibitors = dbus.Array([], signature="(ssssuu)")
        self.logind.AddSession("c1", "seat0", dbus.UInt32(os.getuid()), "tester", True)
        # What the program asks for without XDG_SESSION_ID: its own session.
        self.logind.AddMethod(MANAGER, "GetSession", "s", "o",
                              f'ret = dbus.ObjectPath("{SESSION_PATH}")')

        self.notifications = self.mock(session, "org.freedesktop.Notifications",
                                       "/org/freedesktop/Notifications",
                                       "org.freedesktop.Notifications")
        self.notifications.AddProperties("org.freedesktop.Notifications",
                                         {"Inhibited": dbus.Boolean(False)})

        self.gnome_session = self.mock(session, "org.gnome.SessionManager",
                                       "/org/gnome/SessionManager", "org.gnome.SessionManager")
        self.gnome_session.AddProperties("org.gnome.SessionManager",
                                         {"InhibitedActions": dbus.UInt32(0)})

        self.screensaver = self.mock(session, "org.freedesktop.ScreenSaver",
                                     "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver")
        self.screensaver.AddMethod("org.freedesktop.ScreenSaver", "GetActive", "", "b",
                                   "ret = self.active")
        self.screensaver.active = dbus.Boolean(False)

        self.gnome_screensaver = self.mock(session, "org.gnome.ScreenSaver",
                                           "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver")
        self.gnome_screensaver.AddTemplate("gnome_screensaver", {})

        self.xfconf = self.mock(session, "org.xfce.Xfconf", "/org/xfce/Xfconf", "org.xfce.Xfconf")
        self.xfconf.dnd = None
        self.xfconf.AddMethod(
            "org.xfce.Xfconf", "GetProperty", "ss", "v",
            "if self.dnd is None or args != ['xfce4-notifyd', '/do-not-disturb']:\n"
            "    raise dbus.exceptions.DBusException('no such property',"
            " name='org.xfce.Xfconf.Error.PropertyNotFound')\n"
            "ret = self.dnd")

        self.mutter = self.mock(session, "org.gnome.Mutter.IdleMonitor",
                                "/org/gnome/Mutter/IdleMonitor/Core", "org.gnome.Mutter.IdleMonitor")
        self.mutter.desktop = self
        self.mutter.AddMethods("org.gnome.Mutter.IdleMonitor", [
            ("GetIdletime", "", "t", "ret = dbus.UInt64(self.desktop.idletime)"),
            ("AddIdleWatch", "t", "u", "ret = self.desktop.add_watch(self.desktop.idle_watches)"),
            ("AddUserActiveWatch", "", "u",
             "ret = self.desktop.add_watch(self.desktop.active_watches)"),
            ("RemoveWatch", "u", "",
             "self.desktop.idle_watches.discard(args[0]); "
             "self.desktop.active_watches.discard(args[0])"),
        ])

    def mock(self, bus, name, path, interface):
        self.names[name] = bus
        bus_name = dbus.service.BusName(name, bus, allow_replacement=True, replace_existing=True,
                                        do_not_queue=True)
        # Calls are logged nowhere: standard output answers the test.
        return mockobject.DBusMockObject(bus_name, path, interface, {}, logfile=os.devnull)

    def add_watch(self, watches):
        watch = dbus.UInt32(self.next_watch)
        self.next_watch += 1
        watches.add(watch)
        return watch

    def set_inhibitors(self, inhibitors):
        self.logind.desktop_inhibitors = dbus.Array(inhibitors, signature="(ssssuu)")
        blocked = ":".join(i[0] for i in inhibitors if i[3] == "block")
        delayed = ":".join(i[0] for i in inhibitors if i[3] == "delay")
        self.logind.UpdateProperties(MANAGER, {"BlockInhibited": blocked,
                                               "DelayInhibited": delayed})

    def run(self, words):
        what, rest = words[0], words[1:]
        on = dbus.Boolean(rest[-1:] == ["on"])
        if what == "logind":
            session = mockobject.objects[SESSION_PATH]
            if rest[0] == "inhibit":
                self.set_inhibitors([(rest[2], "test", "a test", rest[1].lower(),
                                      dbus.UInt32(os.getuid()), dbus.UInt32(os.getpid()))])
            elif rest[0] == "release":
                self.set_inhibitors([])
            elif rest[0] in ("lock", "unlock"):
                session.EmitSignal(SESSION, rest[0].capitalize(), "", [])
            elif rest[0] == "locked-hint":
                session.UpdateProperties(SESSION, {"LockedHint": on})
            elif rest[0] in ("sleep", "wake"):
                self.logind.EmitSignal(MANAGER, "PrepareForSleep", "b",
                                       [dbus.Boolean(rest[0] == "sleep")])
            else:
                raise ValueError(" ".join(words))
        elif what == "notifications":
            self.notifications.UpdateProperties("org.freedesktop.Notifications",
                                                {"Inhibited": on})
        elif what == "gnome-session":
            self.gnome_session.UpdateProperties("org.gnome.SessionManager",
                                                {"InhibitedActions": dbus.UInt32(8 if on else 0)})
            self.gnome_session.EmitSignal("org.gnome.SessionManager",
                                          "InhibitorAdded" if on else "InhibitorRemoved", "o",
                                          [dbus.ObjectPath("/org/gnome/SessionManager/Inhibitor1")])
        elif what == "screensaver":
            self.screensaver.active = on
            self.screensaver.EmitSignal("org.freedesktop.ScreenSaver", "ActiveChanged", "b", [on])
        elif what == "gnome-screensaver":
            self.gnome_screensaver.SetActive(on)
        elif what == "xfconf":
            if rest[1] == "unset":
                self.xfconf.dnd = None
                self.xfconf.EmitSignal("org.xfce.Xfconf", "PropertyRemoved", "ss",
                                       ["xfce4-notifyd", "/do-not-disturb"])
            else:
                self.xfconf.dnd = dbus.Boolean(on, variant_level=1)
                self.xfconf.EmitSignal("org.xfce.Xfconf", "PropertyChanged", "ssv",
                                       ["xfce4-notifyd", "/do-not-disturb", dbus.Boolean(on)])
        elif what == "mutter":
            if rest[0] == "idletime":
                self.idletime = int(rest[1])
            else:
                # As the monitor would: idle for long, or input just now.
                self.idletime = 3600 * 1000 if rest[0] == "idle" else 0
                watches = self.idle_watches if rest[0] == "idle" else self.active_watches
                for watch in sorted(watches):
                    self.mutter.EmitSignal("org.gnome.Mutter.IdleMonitor", "WatchFired", "u",
                                           [watch])
                if rest[0] == "active":
                    self.active_watches.clear()
        elif what in ("stop", "start"):
            bus = self.names[rest[0]]
            if what == "stop":
                bus.release_name(rest[0])
            else:
                bus.request_name(rest[0], dbus.bus.NAME_FLAG_DO_NOT_QUEUE)
        elif what == "hostile":
            self.hostile()
        else:
            raise ValueError(" ".join(words))
        for bus in self.buses.values():
            bus.flush()

    def hostile(self):
        """Every signal a source listens to, with arguments of the wrong types."""
        self.notifications.EmitSignal(PROPS, "PropertiesChanged", "sa{sv}as",
                                      ["org.freedesktop.Notifications",
                                       {"Inhibited": dbus.String("yes")}, []])
        self.notifications.EmitSignal(PROPS, "PropertiesChanged", "sas", ["x", ["Inhibited"]])
        self.screensaver.EmitSignal("org.freedesktop.ScreenSaver", "ActiveChanged", "s", ["yes"])
        self.xfconf.EmitSignal("org.xfce.Xfconf", "PropertyChanged", "ssv",
                               ["xfce4-notifyd", "/do-not-disturb", dbus.String("on")])
        self.xfconf.EmitSignal("org.xfce.Xfconf", "PropertyChanged", "i", [dbus.Int32(7)])
        self.mutter.EmitSignal("org.gnome.Mutter.IdleMonitor", "WatchFired", "s", ["1"])
        self.gnome_session.EmitSignal(PROPS, "PropertiesChanged", "sa{sv}as",
                                      ["org.gnome.SessionManager",
                                       {"InhibitedActions": dbus.String("8")}, []])
        self.logind.EmitSignal(MANAGER, "PrepareForSleep", "s", ["false"])
        # logind's list itself of the wrong shape, announced as a change.
        self.logind.AddMethod(MANAGER, "ListInhibitors", "", "as", "ret = ['idle', 'block']")
        self.logind.UpdateProperties(MANAGER, {"BlockInhibited": "idle"})
        session = mockobject.objects[SESSION_PATH]
        session.EmitSignal(PROPS, "PropertiesChanged", "sa{sv}as",
                           [SESSION, {"LockedHint": dbus.UInt32(1)}, []])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--system", required=True)
    parser.add_argument("--session", required=True)
    args = parser.parse_args()

    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    system = dbus.bus.BusConnection(args.system)
    session = dbus.bus.BusConnection(args.session)
    desktop = Desktop(system, session)
    loop = GLib.MainLoop()

    def command(source, condition):
        line = sys.stdin.readline() if condition & GLib.IO_IN else ""
        if not line:
            loop.quit()
            return False
        words = line.split()
        if words:
            try:
                desktop.run(words)
                print("ok", flush=True)
            except Exception as error:  # told to the test, which fails on it
                print(f"error: {error}", flush=True)
        return True

    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, command)
    print("ready", flush=True)
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
