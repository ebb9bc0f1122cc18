#!/usr/bin/python3
# A pixel oracle for tests on the KWin desktop, independent of the host:
# one output as KWin's own ScreenShot2 interface gives it, as a binary PPM on
# standard output.
#
#   kwin_frame.py OUTPUT
#
# KWin serves ScreenShot2 only to programs a desktop entry grants it to
# (X-KDE-DBUS-Restricted-Interfaces); the caller installs one naming this
# interpreter. Exits non-zero when KWin refuses or the picture is malformed.
import os
import sys
import threading

from gi.repository import Gio, GLib

# QImage formats KWin sends: 32-bit pixels, B G R A in memory on a
# little-endian machine, or R G B A for the byte-ordered ones.
BGRA = {4, 5, 6}
RGBA = {16, 17, 18}


def main(output):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    read_end, write_end = os.pipe()
    received = bytearray()
    ended = []
    more = threading.Condition()
    threading.Thread(target=read_all, args=(read_end, received, ended, more), daemon=True).start()
    fds = Gio.UnixFDList.new()
    fds.append(write_end)
    os.close(write_end)
    try:
        reply, _ = bus.call_with_unix_fd_list_sync(
            "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2",
            "CaptureScreen",
            GLib.Variant("(sa{sv}h)", (output, {"native-resolution": GLib.Variant("b", True)}, 0)),
            GLib.VariantType("(a{sv})"), Gio.DBusCallFlags.NONE, 10000, fds, None)
    except GLib.Error as error:
        sys.exit("kwin_frame: " + error.message)
    results = reply.unpack()[0]
    width, height = results.get("width", 0), results.get("height", 0)
    stride, fmt = results.get("stride", 0), results.get("format", -1)
    # KWin writes the pixels after its answer; the bus's copy of the write
    # end may stay open, so the end is the size the answer gives.
    with more:
        more.wait_for(lambda: ended or len(received) >= stride * height, 20)
        pixels = bytes(received)
    if fmt not in BGRA | RGBA or width <= 0 or height <= 0 or stride < width * 4 or \
            len(pixels) < stride * height:
        sys.exit("kwin_frame: unexpected picture %r (%d bytes)" % (results, len(pixels)))
    red, blue = (2, 0) if fmt in BGRA else (0, 2)
    rgb = bytearray(width * height * 3)
    for y in range(height):
        row = pixels[y * stride:y * stride + width * 4]
        line = rgb[y * width * 3:(y + 1) * width * 3]
        line[0::3] = row[red::4]
        line[1::3] = row[1::4]
        line[2::3] = row[blue::4]
        rgb[y * width * 3:(y + 1) * width * 3] = line
    sys.stdout.buffer.write(b"P6\n%d %d\n255\n" % (width, height) + bytes(rgb))
    return 0


def read_all(fd, received, ended, more):
    while True:
        chunk = os.read(fd, 1 << 20)
        with more:
            received.extend(chunk)
            if not chunk:
                ended.append(True)
            more.notify()
        if not chunk:
            return


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: kwin_frame.py OUTPUT")
    sys.exit(main(sys.argv[1]))
