#!/usr/bin/python3
"""A stand-in for the udisks2 daemon on a private bus, for the format and eject tests.

usage: udisks_standin.py CONFIG.json LOG.jsonl

CONFIG: {"version": "2.9.4",
         "drives": [{"path": "/org/freedesktop/UDisks2/drives/Card", "removable": true,
                     "bus": "usb", "canPowerOff": true}],
         "blocks": [{"path": "/org/freedesktop/UDisks2/block_devices/sdb1", "device": "/dev/sdb1",
                     "devnum": [8, 17], "drive": "/org/freedesktop/UDisks2/drives/Card",
                     "partition": true, "mounts": ["/media/u/CARD"], "contents": "/media/u/CARD"}],
         "faults": {"Unmount": "org.freedesktop.UDisks2.Error.DeviceBusy", ...}}
"contents" is the folder that stands for the block's file system: Format (and Rescan, which follows
a format made outside the service) empties it. A fault makes every call of that method fail with the
named D-Bus error. Every method call is appended to LOG as one line
"METHOD OBJECT-NAME [ARGS...] [OPTION=VALUE...]". The bus name is taken last, so a client that
sees the name finds everything in place.
"""
import json
import os
import shutil
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

UD = "org.freedesktop.UDisks2"
config = json.load(open(sys.argv[1]))
log_path = sys.argv[2]
faults = config.get("faults", {})


def record(obj, interface, method, args, options):
    """One line: METHOD OBJECT-NAME [ARGS...] [OPTION=VALUE...] (lists joined by ",")."""
    words = [method, obj.rsplit("/", 1)[-1]] + [str(a) for a in args]
    for key in sorted(options):
        value = to_plain(options[key])
        words.append(key + "=" + (",".join(str(v) for v in value) if isinstance(value, list) else str(value)))
    with open(log_path, "a") as log:
        log.write(" ".join(words) + "\n")


def to_plain(value):
    if isinstance(value, (dbus.Array, list)):
        return [to_plain(v) for v in value]
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (dbus.String, dbus.ObjectPath)):
        return str(value)
    return value


def fail_if_configured(method):
    if method in faults:
        raise dbus.exceptions.DBusException(method + " refused by the stand-in", name=faults[method])


def bytes_of(text):
    return dbus.Array([dbus.Byte(b) for b in text.encode() + b"\0"], signature="y")


class Manager(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/UDisks2/Manager")

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if name == "Version":
            return dbus.String(config.get("version", "2.9.4"))
        raise dbus.exceptions.DBusException("no such property", name="org.freedesktop.DBus.Error.InvalidArgs")


class Drive(dbus.service.Object):
    def __init__(self, bus, desc):
        super().__init__(bus, desc["path"])
        self.desc = desc

    def properties(self):
        return {UD + ".Drive": {
            "Removable": dbus.Boolean(self.desc.get("removable", True)),
            "MediaRemovable": dbus.Boolean(self.desc.get("mediaRemovable", False)),
            "ConnectionBus": dbus.String(self.desc.get("bus", "usb")),
            "CanPowerOff": dbus.Boolean(self.desc.get("canPowerOff", True)),
            "Serial": dbus.String(self.desc.get("serial", "STANDIN01")),
        }}

    @dbus.service.method(UD + ".Drive", in_signature="a{sv}")
    def PowerOff(self, options):
        record(self.desc["path"], UD + ".Drive", "PowerOff", [], options)
        fail_if_configured("PowerOff")

    @dbus.service.method(UD + ".Drive", in_signature="a{sv}")
    def Eject(self, options):
        record(self.desc["path"], UD + ".Drive", "Eject", [], options)
        fail_if_configured("Eject")


class Block(dbus.service.Object):
    def __init__(self, bus, desc):
        super().__init__(bus, desc["path"])
        self.desc = desc
        self.original_mounts = list(desc.get("mounts", []))

    def properties(self):
        major, minor = self.desc.get("devnum", [8, 17])
        result = {UD + ".Block": {
            "Device": bytes_of(self.desc["device"]),
            "PreferredDevice": bytes_of(self.desc["device"]),
            "DeviceNumber": dbus.UInt64(os.makedev(major, minor)),
            "Drive": dbus.ObjectPath(self.desc.get("drive", "/")),
            "IdType": dbus.String("vfat"),
            "Size": dbus.UInt64(self.desc.get("size", 8 << 30)),
        }}
        if self.desc.get("filesystem", True):
            result[UD + ".Filesystem"] = {
                "MountPoints": dbus.Array([bytes_of(m) for m in self.desc.get("mounts", [])], signature="ay"),
            }
        if self.desc.get("partition", False):
            result[UD + ".Partition"] = {"Number": dbus.UInt32(1), "Table": dbus.ObjectPath("/")}
        return result

    def wipe(self):
        folder = self.desc.get("contents")
        if folder and os.path.isdir(folder):
            for name in os.listdir(folder):
                path = os.path.join(folder, name)
                if os.path.isdir(path) and not os.path.islink(path):
                    shutil.rmtree(path)
                else:
                    os.remove(path)

    @dbus.service.method(UD + ".Filesystem", in_signature="a{sv}")
    def Unmount(self, options):
        record(self.desc["path"], UD + ".Filesystem", "Unmount", [], options)
        fail_if_configured("Unmount")
        self.desc["mounts"] = []

    @dbus.service.method(UD + ".Filesystem", in_signature="a{sv}", out_signature="s")
    def Mount(self, options):
        record(self.desc["path"], UD + ".Filesystem", "Mount", [], options)
        fail_if_configured("Mount")
        target = self.desc.get("mountAfter") or (self.original_mounts[0] if self.original_mounts else "/media/x")
        self.desc["mounts"] = [target]
        return target

    @dbus.service.method(UD + ".Block", in_signature="sa{sv}")
    def Format(self, fstype, options):
        record(self.desc["path"], UD + ".Block", "Format", [str(fstype)], options)
        fail_if_configured("Format")
        self.wipe()

    @dbus.service.method(UD + ".Block", in_signature="a{sv}")
    def Rescan(self, options):
        record(self.desc["path"], UD + ".Block", "Rescan", [], options)
        self.wipe()


class Root(dbus.service.Object):
    def __init__(self, bus, objects):
        super().__init__(bus, "/org/freedesktop/UDisks2")
        self.objects = objects

    @dbus.service.method("org.freedesktop.DBus.ObjectManager", out_signature="a{oa{sa{sv}}}")
    def GetManagedObjects(self):
        return {dbus.ObjectPath(o.desc["path"]): o.properties() for o in self.objects}


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    objects = [Drive(bus, d) for d in config.get("drives", [])] + [Block(bus, b) for b in config.get("blocks", [])]
    Manager(bus)
    Root(bus, objects)
    name = dbus.service.BusName(UD, bus, do_not_queue=True)
    GLib.MainLoop().run()
    del name


main()
