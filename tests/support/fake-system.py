#!/usr/bin/python3
# The two system services the app listens to, for tests, on the bus it is
# given (run it under dbus-run-session and hand that bus to the app as its
# system bus): logind's PrepareForSleep and NetworkManager's State. Prints
# "ready BUS-ADDRESS"; reads "resume" and "network STATE" lines from stdin
# (NetworkManager states: 20 disconnected, 70 connected). Ends when stdin
# closes.
import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop

import fakebus

LOGIN = "org.freedesktop.login1"
NM = "org.freedesktop.NetworkManager"
PROPS = "org.freedesktop.DBus.Properties"


class Login(dbus.service.Object):
    @dbus.service.signal(LOGIN + ".Manager", signature="b")
    def PrepareForSleep(self, sleeping):
        pass


class Network(dbus.service.Object):
    state = dbus.UInt32(70)

    def props(self):
        return {"State": self.state, "Connectivity": dbus.UInt32(4 if self.state == 70 else 1)}

    @dbus.service.method(PROPS, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.props()

    @dbus.service.method(PROPS, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.props()[name]

    @dbus.service.signal(PROPS, signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    names = [dbus.service.BusName(LOGIN, bus), dbus.service.BusName(NM, bus)]
    login = Login(bus, "/org/freedesktop/login1")
    network = Network(bus, "/org/freedesktop/NetworkManager")
    def on_line(parts):
        if parts == ["resume"]:
            login.PrepareForSleep(True)
            login.PrepareForSleep(False)
        elif len(parts) == 2 and parts[0] == "network":
            network.state = dbus.UInt32(int(parts[1]))
            network.PropertiesChanged(NM, network.props(), dbus.Array([], signature="s"))

    fakebus.serve(on_line)
    del names

if __name__ == "__main__":
    main()
