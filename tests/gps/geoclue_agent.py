#!/usr/bin/python3
"""A location agent for the GeoClue daemon in tests: the daemon hands out no
client until an agent of the caller's user has registered, so a test that runs
the real daemon on a private system bus registers this one. It lets every
application in at the level asked for (the program is also allowed in the
daemon's configuration, so it is never asked about it). Prints "ready" once
the daemon has taken it."""

import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

AGENT_PATH = "/org/freedesktop/GeoClue2/Agent"
AGENT_INTERFACE = "org.freedesktop.GeoClue2.Agent"


class Agent(dbus.service.Object):
    @dbus.service.method(AGENT_INTERFACE, in_signature="su", out_signature="bu")
    def AuthorizeApp(self, desktop_id, accuracy):
        return True, accuracy

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if interface == AGENT_INTERFACE and name == "MaxAccuracyLevel":
            return dbus.UInt32(8)
        raise dbus.exceptions.DBusException("no such property",
                                            name="org.freedesktop.DBus.Error.InvalidArgs")

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        if interface == AGENT_INTERFACE:
            return {"MaxAccuracyLevel": dbus.UInt32(8)}
        return {}


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SystemBus()
    agent = Agent(bus, AGENT_PATH)
    manager = dbus.Interface(
        bus.get_object("org.freedesktop.GeoClue2", "/org/freedesktop/GeoClue2/Manager"),
        "org.freedesktop.GeoClue2.Manager")
    loop = GLib.MainLoop()

    def failed(error):
        print("AddAgent failed: %s" % error, flush=True)
        loop.quit()

    # Asynchronously: the daemon reads the agent's properties before it answers.
    manager.AddAgent(sys.argv[1] if len(sys.argv) > 1 else "geoclue-demo-agent",
                     reply_handler=lambda: print("ready", flush=True), error_handler=failed)
    loop.run()
    del agent


if __name__ == "__main__":
    main()
