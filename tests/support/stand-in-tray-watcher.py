#!/usr/bin/python3
# A tray host on the session bus (a StatusNotifierWatcher with a host), so that a program shows its
# icon as a StatusNotifierItem whose tooltip a test reads over the bus. Prints "ready" once named,
# then "item <bus name> <object path>" for each icon registered.
import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"


class Watcher(dbus.service.Object):
    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender):
        # Either a bus name (the object at the usual path) or an object path of the caller.
        print("item", *((sender, service) if service.startswith("/") else (service, "/StatusNotifierItem")), flush=True)

    # Written out: a program reads the property only where the introspection names it.
    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, out_signature="s")
    def Introspect(self):
        return ('<node><interface name="%s"><method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/>'
                '</method><property name="IsStatusNotifierHostRegistered" type="b" access="read"/></interface></node>'
                % WATCHER)

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return True


DBusGMainLoop(set_as_default=True)
name = dbus.service.BusName(WATCHER, dbus.SessionBus())
Watcher(name.get_bus(), "/StatusNotifierWatcher")
print("ready", flush=True)
GLib.MainLoop().run()
