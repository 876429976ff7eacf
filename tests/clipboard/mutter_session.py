# The session command of the tests' headless mutter: gives the seat a keyboard (a remote-desktop
# session of mutter's own D-Bus service, through GLib's GDBus), without which wl-copy and
# wl-paste refuse to run where there is no data control; then writes the session's environment
# to DIR/session and holds the keyboard until stopped.
import ctypes, os, sys, time

gio = ctypes.CDLL("libgio-2.0.so.0")
gio.g_bus_get_sync.restype = ctypes.c_void_p
gio.g_dbus_connection_call_sync.restype = ctypes.c_void_p
gio.g_dbus_connection_call_sync.argtypes = [ctypes.c_void_p, ctypes.c_char_p] + [ctypes.c_char_p] * 3 + [
    ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p]
gio.g_variant_new_parsed.restype = ctypes.c_void_p
gio.g_variant_print.restype = ctypes.c_char_p
gio.g_variant_print.argtypes = [ctypes.c_void_p, ctypes.c_int]
bus = gio.g_bus_get_sync(2, None, None)  # G_BUS_TYPE_SESSION


def call(path, method, args=None):
    iface = "org.gnome.Mutter.RemoteDesktop" + (".Session" if "Session/" in path else "")
    reply = gio.g_dbus_connection_call_sync(bus, b"org.gnome.Mutter.RemoteDesktop", path.encode(),
                                            iface.encode(), method.encode(), args, None, 0, 5000,
                                            None, None)
    if not reply:
        sys.exit("mutter_session: " + method + " failed")
    return gio.g_variant_print(reply, 0).decode()


session = call("/org/gnome/Mutter/RemoteDesktop", "CreateSession").split("'")[1]
call(session, "Start")
for pressed in (b"true", b"false"):  # the first key makes the keyboard
    call(session, "NotifyKeyboardKeycode", gio.g_variant_new_parsed(b"(uint32 42, " + pressed + b")"))
with open(sys.argv[1] + "/env", "w") as out:
    out.writelines(f"{name}={value}\n" for name, value in os.environ.items())
os.rename(sys.argv[1] + "/env", sys.argv[1] + "/session")
time.sleep(1e6)
