#!/usr/bin/python3
# The desktop portal's global shortcuts on the session bus, as the tests need them; prints "ready" once named.
#   stand-in-portal.py answer|refuse|silent: binds and prints "bound id=trigger/description ...",
# answers every request "cancelled", or never answers. org.sentrel.StandIn.Activate(id) triggers one.
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

PATH = "/org/freedesktop/portal/desktop"
SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts"
mode = sys.argv[1]


class Request(dbus.service.Object):
    @dbus.service.signal("org.freedesktop.portal.Request", signature="ua{sv}")
    def Response(self, response, results):
        pass


class Portal(dbus.service.Object):
    session = None

    def request(self, sender, options, results):
        token = str(options.get("handle_token", "t"))
        path = "%s/request/%s/%s" % (PATH, sender[1:].replace(".", "_"), token)
        answer = Request(self.connection, path)
        if mode != "silent": # after the call's own reply, as a desktop answers once the user has
            GLib.timeout_add(50, lambda: answer.Response(0 if mode == "answer" else 1, results) and False)
        return dbus.ObjectPath(path)

    @dbus.service.method(SHORTCUTS, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender):
        self.session = "%s/session/%s/%s" % (PATH, sender[1:].replace(".", "_"), options["session_handle_token"])
        return self.request(sender, options, {"session_handle": self.session})

    @dbus.service.method(SHORTCUTS, in_signature="oa(sa{sv})sa{sv}", out_signature="o", sender_keyword="sender")
    def BindShortcuts(self, session, shortcuts, parent, options, sender):
        if session != self.session:
            raise dbus.exceptions.DBusException("unknown session", name="org.freedesktop.portal.Error.NotFound")
        if mode == "answer":
            print("bound", *("%s=%s/%s" % (i, p["preferred_trigger"], p["description"]) for i, p in shortcuts), flush=True)
        return self.request(sender, options, {"shortcuts": shortcuts})

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Activated(self, session, shortcut, timestamp, options):
        pass

    @dbus.service.method("org.sentrel.StandIn", in_signature="s")
    def Activate(self, shortcut):
        self.Activated(dbus.ObjectPath(self.session), shortcut, dbus.UInt64(0), dbus.Dictionary({}, signature="sv"))

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if interface == SHORTCUTS and name == "version":
            return dbus.UInt32(1, variant_level=1)
        raise dbus.exceptions.DBusException("no such property", name="org.freedesktop.DBus.Error.InvalidArgs")


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
portal = Portal(bus, PATH)
name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus)
print("ready", flush=True)
GLib.MainLoop().run()
