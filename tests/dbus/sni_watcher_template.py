"""A StatusNotifierItem watcher with one host registered, as a desktop's tray provides it:
python-dbusmock template for background_test.py."""

BUS_NAME = "org.kde.StatusNotifierWatcher"
MAIN_OBJ = "/StatusNotifierWatcher"
MAIN_IFACE = "org.kde.StatusNotifierWatcher"
SYSTEM_BUS = False

import dbus  # noqa: E402


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, {
        "IsStatusNotifierHostRegistered": True,
        "RegisteredStatusNotifierItems": dbus.Array([], signature="s"),
        "ProtocolVersion": 0,
    })
    mock.AddMethod(MAIN_IFACE, "RegisterStatusNotifierItem", "s", "", "")
    mock.AddMethod(MAIN_IFACE, "RegisterStatusNotifierHost", "s", "", "")
