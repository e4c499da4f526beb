# The loop the fake services share: run on the session bus dbus-run-session
# gave them, print "ready BUS-ADDRESS", hand each stdin line (split into
# words) to `on_line`, and end when stdin closes.
import os
import sys

from gi.repository import GLib


def serve(on_line):
    loop = GLib.MainLoop()

    def on_input(source, condition):
        line = sys.stdin.readline()
        if not line:
            loop.quit()
            return False
        on_line(line.split())
        return True

    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_input)
    print("ready", os.environ["DBUS_SESSION_BUS_ADDRESS"], flush=True)
    loop.run()
