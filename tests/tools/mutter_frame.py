#!/usr/bin/python3
# A pixel oracle for tests on the GNOME desktop, independent of the host:
# the first frame mutter's own screen cast gives of one monitor, as a PNG.
#
#   mutter_frame.py CONNECTOR OUT.png
#
# A session of org.gnome.Mutter.ScreenCast records the monitor without the
# pointer; GStreamer's PipeWire source reads one frame of its stream and
# writes it. Exits non-zero when mutter or the stream does not answer.
import subprocess
import sys

from gi.repository import Gio, GLib

SERVICE = "org.gnome.Mutter.ScreenCast"


def main(connector, out):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)

    def call(path, interface, method, args, reply):
        return bus.call_sync(SERVICE, path, SERVICE + interface, method, args,
                             GLib.VariantType(reply), Gio.DBusCallFlags.NONE, 5000, None)

    session = call("/org/gnome/Mutter/ScreenCast", "", "CreateSession",
                   GLib.Variant("(a{sv})", ({},)), "(o)")[0]
    stream = call(session, ".Session", "RecordMonitor",
                  GLib.Variant("(sa{sv})", (connector, {"cursor-mode": GLib.Variant("u", 0)})),
                  "(o)")[0]
    nodes = []
    loop = GLib.MainLoop()

    def added(_bus, _sender, _path, _interface, _signal, parameters):
        nodes.append(parameters[0])
        loop.quit()

    bus.signal_subscribe(None, SERVICE + ".Stream", "PipeWireStreamAdded", stream, None,
                         Gio.DBusSignalFlags.NONE, added)
    call(session, ".Session", "Start", None, "()")
    GLib.timeout_add(5000, loop.quit)
    loop.run()
    if not nodes:
        sys.exit("mutter_frame: no stream for " + connector)
    status = subprocess.run(
        ["gst-launch-1.0", "-q", "pipewiresrc", "path=%d" % nodes[0], "num-buffers=1", "!",
         "videoconvert", "!", "pngenc", "!", "filesink", "location=" + out],
        timeout=30).returncode
    call(session, ".Session", "Stop", None, "()")
    return status


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: mutter_frame.py CONNECTOR OUT.png")
    sys.exit(main(sys.argv[1], sys.argv[2]))
