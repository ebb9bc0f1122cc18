#!/usr/bin/env python3
"""A notification server (org.freedesktop.Notifications) that shows nothing:
each Notify is appended to LOG as one line, "Notify SUMMARY|BODY|DESKTOP_ENTRY"
(the desktop-entry hint names the application a portal notified for), and
answered with a new id.

    notification_server.py LOG
"""
import sys

from gi.repository import Gio, GLib

INTERFACE = """
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
      <arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
  </interface>
</node>
"""


def main():
    log = sys.argv[1]
    shown = [0]
    loop = GLib.MainLoop()

    def on_call(connection, sender, path, interface, method, args, invocation):
        if method == "Notify":
            _app, _replaces, _icon, summary, body, _actions, hints, _timeout = args.unpack()
            with open(log, "a") as out:
                out.write(f"Notify {summary}|{body}|{hints.get('desktop-entry', '')}\n")
            shown[0] += 1
            invocation.return_value(GLib.Variant("(u)", (shown[0],)))
        elif method == "GetCapabilities":
            invocation.return_value(GLib.Variant("(as)", (["body", "actions"],)))
        elif method == "GetServerInformation":
            invocation.return_value(GLib.Variant("(ssss)", ("stand-in", "dravel", "1", "1.2")))
        else:
            invocation.return_value(None)

    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    info = Gio.DBusNodeInfo.new_for_xml(INTERFACE).interfaces[0]
    bus.register_object("/org/freedesktop/Notifications", info, on_call, None, None)
    Gio.bus_own_name_on_connection(bus, "org.freedesktop.Notifications",
                                   Gio.BusNameOwnerFlags.NONE, None, lambda *_: loop.quit())
    loop.run()


if __name__ == "__main__":
    main()
