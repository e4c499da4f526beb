#!/usr/bin/python3
# A desktop notification service for tests, on the session bus it is given
# (run it under dbus-run-session). Prints "ready BUS-ADDRESS", then one JSON
# line per notification; reads "invoke ID KEY" lines from stdin and emits
# ActionInvoked for them. Ends when stdin closes.
import json
import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop

import fakebus

IFACE = "org.freedesktop.Notifications"


class Service(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.last = 0

    @dbus.service.method(IFACE, out_signature="as")
    def GetCapabilities(self):
        return ["body", "actions"]

    @dbus.service.method(IFACE, out_signature="ssss")
    def GetServerInformation(self):
        return ("test", "velmora", "1", "1.2")

    @dbus.service.method(IFACE, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        self.last += 1
        print(json.dumps({"id": self.last, "replaces": int(replaces), "app": str(app),
                          "icon": str(icon), "hints": sorted(str(k) for k in hints),
                          "summary": str(summary), "body": str(body),
                          "actions": [str(a) for a in actions]}), flush=True)
        return self.last

    @dbus.service.method(IFACE, in_signature="u")
    def CloseNotification(self, nid):
        print(json.dumps({"closed": int(nid)}), flush=True)

    @dbus.service.signal(IFACE, signature="us")
    def ActionInvoked(self, nid, key):
        pass


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName(IFACE, bus)
    service = Service(bus)
    def on_line(parts):
        if len(parts) == 3 and parts[0] == "invoke":
            service.ActionInvoked(dbus.UInt32(int(parts[1])), parts[2])

    fakebus.serve(on_line)
    del name

if __name__ == "__main__":
    main()
