# The session command of the tests' headless mutter: gives the seat a keyboard (a remote-desktop
# session of mutter's own D-Bus service, through GLib's GDBus), without which wl-copy and
# wl-paste refuse to run where there is no data control; then writes the session's environment
# to DIR/session and holds the keyboard until stopped. The session lasts as long as this
# process's connection to the bus.
import os, sys, time

from gi.repository import Gio, GLib

bus = Gio.bus_get_sync(Gio.BusType.SESSION)


def call(path, method, args=None):
    iface = "org.gnome.Mutter.RemoteDesktop" + (".Session" if "Session/" in path else "")
    return bus.call_sync("org.gnome.Mutter.RemoteDesktop", path, iface, method, args, None,
                         Gio.DBusCallFlags.NONE, 5000, None).unpack()


session = call("/org/gnome/Mutter/RemoteDesktop", "CreateSession")[0]
call(session, "Start")
for pressed in (True, False):  # the first key makes the keyboard
    call(session, "NotifyKeyboardKeycode", GLib.Variant("(ub)", (42, pressed)))
with open(sys.argv[1] + "/env", "w") as out:
    out.writelines(f"{name}={value}\n" for name, value in os.environ.items())
os.rename(sys.argv[1] + "/env", sys.argv[1] + "/session")
time.sleep(1e6)
