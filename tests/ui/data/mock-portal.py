#!/usr/bin/python3
# A stand-in for the XDG desktop portal's file chooser on a private session
# bus: SaveFile records its options (as JSON, to the file named by the first
# argument) and answers through the request object as a portal does. A
# proposed name that starts with "CANCEL" is cancelled; any other is saved
# in the proposed folder under the proposed name.
import json
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

BUS_NAME = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
CHOOSER = "org.freedesktop.portal.FileChooser"
REQUEST = "org.freedesktop.portal.Request"


class Request(dbus.service.Object):
    @dbus.service.signal(REQUEST, signature="ua{sv}")
    def Response(self, response, results):
        pass


class Chooser(dbus.service.Object):
    def __init__(self, bus, record):
        super().__init__(bus, PATH)
        self.bus = bus
        self.record = record
        self.requests = []

    @dbus.service.method(CHOOSER, in_signature="ssa{sv}", out_signature="o",
                         sender_keyword="sender")
    def SaveFile(self, parent, title, options, sender=None):
        folder = bytes(options.get("current_folder", b"")).rstrip(b"\0").decode()
        name = str(options.get("current_name", ""))
        seen = {
            "parent": str(parent),
            "title": str(title),
            "modal": bool(options.get("modal", False)),
            "current_name": name,
            "current_folder": folder,
            "folder_nul_terminated": bytes(options.get("current_folder", b"")).endswith(b"\0"),
            "filters": [[str(d), [[int(k), str(g)] for k, g in globs]]
                        for d, globs in options.get("filters", [])],
        }
        with open(self.record, "a") as out:
            out.write(json.dumps(seen) + "\n")
        token = str(options.get("handle_token", "t"))
        path = "%s/request/%s/%s" % (PATH, sender[1:].replace(".", "_"), token)
        request = Request(self.bus, path)
        self.requests.append(request)
        if name.startswith("CANCEL"):
            answer = (dbus.UInt32(1), dbus.Dictionary({}, signature="sv"))
        else:
            uri = "file://" + folder + "/" + name
            answer = (dbus.UInt32(0), dbus.Dictionary(
                {"uris": dbus.Array([uri], signature="s")}, signature="sv"))
        # After the call has returned, as a portal answers once the user has chosen.
        GLib.timeout_add(50, lambda: request.Response(*answer) and False)
        return path


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName(BUS_NAME, bus)
    chooser = Chooser(bus, sys.argv[1])
    GLib.MainLoop().run()
    del name, chooser


if __name__ == "__main__":
    main()
