#!/usr/bin/python3
"""What a desktop would put behind the portals, for the sandbox tests, on the
session bus: the notification service (org.freedesktop.Notifications), the
file manager (org.freedesktop.FileManager1) and a portal backend that answers
the folder chooser and the access question at once
(org.freedesktop.impl.portal.desktop.dravelci).

Every call is written as one JSON line to the file named by argv[1]:
{"call": "Notify", "args": [...], "id": n} for a notification (n its id).
A test clicks a notification through org.dravel.StandIns.Click(u id, s key),
which sends ActionInvoked(id, key) as the notification service would.
The chooser answers with the folder $STAND_IN_CHOSEN (written as exported
read-write).
"""
import json
import os
import sys

from gi.repository import Gio, GLib

RECORD = open(sys.argv[1], "a", buffering=1)
CHOSEN = os.environ.get("STAND_IN_CHOSEN", "")

SERVICES = {
    "org.freedesktop.Notifications": ("/org/freedesktop/Notifications", """
<interface name="org.freedesktop.Notifications">
 <method name="Notify"><arg type="s" direction="in"/><arg type="u" direction="in"/>
  <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="s" direction="in"/>
  <arg type="as" direction="in"/><arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
  <arg type="u" direction="out"/></method>
 <method name="CloseNotification"><arg type="u" direction="in"/></method>
 <method name="GetCapabilities"><arg type="as" direction="out"/></method>
 <method name="GetServerInformation"><arg type="s" direction="out"/><arg type="s" direction="out"/>
  <arg type="s" direction="out"/><arg type="s" direction="out"/></method>
 <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
 <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
</interface>"""),
    "org.freedesktop.FileManager1": ("/org/freedesktop/FileManager1", """
<interface name="org.freedesktop.FileManager1">
 <method name="ShowItems"><arg type="as" direction="in"/><arg type="s" direction="in"/></method>
 <method name="ShowFolders"><arg type="as" direction="in"/><arg type="s" direction="in"/></method>
</interface>"""),
    "org.freedesktop.impl.portal.desktop.dravelci": ("/org/freedesktop/portal/desktop", """
<interface name="org.freedesktop.impl.portal.FileChooser">
 <method name="OpenFile"><arg type="o" direction="in"/><arg type="s" direction="in"/>
  <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
  <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
</interface>
<interface name="org.freedesktop.impl.portal.Access">
 <method name="AccessDialog"><arg type="o" direction="in"/><arg type="s" direction="in"/>
  <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="s" direction="in"/>
  <arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
  <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
</interface>"""),
    "org.dravel.StandIns": ("/org/dravel/StandIns", """
<interface name="org.dravel.StandIns">
 <method name="Click"><arg type="u" direction="in"/><arg type="s" direction="in"/></method>
</interface>"""),
}

bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
last_id = [0]


def record(entry):
    RECORD.write(json.dumps(entry) + "\n")


def on_call(connection, sender, path, interface, method, parameters, invocation):
    args = parameters.unpack()
    entry = {"call": method, "args": list(args)}
    if method == "Notify":
        last_id[0] += 1
        # A replaced notification keeps its id, as real services do.
        nid = args[1] or last_id[0]
        entry["id"] = nid
        invocation.return_value(GLib.Variant("(u)", (nid,)))
    elif method == "GetCapabilities":
        invocation.return_value(GLib.Variant("(as)", (["actions", "body"],)))
    elif method == "GetServerInformation":
        invocation.return_value(GLib.Variant("(ssss)", ("stand-in", "dravel", "1", "1.2")))
    elif method == "OpenFile":
        results = {"uris": GLib.Variant("as", [Gio.File.new_for_path(CHOSEN).get_uri()]),
                   "writable": GLib.Variant("b", True)}
        invocation.return_value(GLib.Variant("(ua{sv})", (0 if CHOSEN else 1, results)))
    elif method == "AccessDialog":
        invocation.return_value(GLib.Variant("(ua{sv})", (0, {})))
    elif method == "Click":
        bus.emit_signal(None, "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                        "ActionInvoked", GLib.Variant("(us)", args))
        invocation.return_value(None)
    else:
        invocation.return_value(None)
    record(entry)


for name, (path, xml) in SERVICES.items():
    for interface in Gio.DBusNodeInfo.new_for_xml("<node>%s</node>" % xml).interfaces:
        bus.register_object(path, interface, on_call, None, None)
    bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                  "RequestName", GLib.Variant("(su)", (name, 4)), None, 0, -1, None)
GLib.MainLoop().run()
