'''BlueZ as the controller daemon meets it: the stock bluez5 mock, with Device1.Connect and
Disconnect that keep the Connected property true to their signal. The stock ones only emit
PropertiesChanged and leave the property as it was, so a later Get still reads false, and they
miss a connection the mock's ConnectDevice made.'''

import dbus

from dbusmock import mockobject
from dbusmock.templates import bluez5 as _stock
from dbusmock.templates.bluez5 import *  # noqa: F401,F403 (the bus name, load() and Mock methods)
from dbusmock.templates.bluez5 import BLUEZ_MOCK_IFACE, DEVICE_IFACE


def _set_connected(device, connected, refusal, name):
    if bool(device.props[DEVICE_IFACE]['Connected']) == connected:
        raise dbus.exceptions.DBusException(refusal, name=name)
    device.connected = connected
    device.props[DEVICE_IFACE]['Connected'] = dbus.Boolean(connected, variant_level=1)
    device.EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as', [
        DEVICE_IFACE, {'Connected': dbus.Boolean(connected, variant_level=1)}, []])


@dbus.service.method(DEVICE_IFACE, in_signature='', out_signature='')
def Connect(device):
    _set_connected(device, True, 'Already Connected', 'org.bluez.Error.AlreadyConnected')


@dbus.service.method(DEVICE_IFACE, in_signature='', out_signature='')
def Disconnect(device):
    _set_connected(device, False, 'Not Connected', 'org.bluez.Error.NotConnected')


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='sss', out_signature='s')
def AddDevice(self, adapter_device_name, device_address, alias):
    path = _stock.AddDevice(self, adapter_device_name, device_address, alias)
    mockobject.objects[path].AddMethods(DEVICE_IFACE, [
        ('Connect', '', '', Connect),
        ('Disconnect', '', '', Disconnect),
    ])
    return path
