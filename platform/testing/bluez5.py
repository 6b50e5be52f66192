'''BlueZ as the project's programs meet it: python-dbusmock's stock bluez5 mock with what they
need of it and it lacks.

- Device1.Connect and Disconnect keep the Connected property true to their signal (the stock
  ones only signal, so a later Get still reads false).
- Agents are kept per caller, as BlueZ keeps them: one per bus name, the default one chosen by
  RequestDefaultAgent, gone when their owner leaves the bus.
- Device1.Pair on a legacy device (Mock.SetDevicePin) asks the caller's agent, else the default
  one, for the PIN and waits for its answer without holding up the mock; a device without a PIN
  pairs at once (Secure Simple Pairing); Mock.SetDeviceRefusesPairing makes a device say no.
- Discovery needs no filter first and finds the devices the test put in range
  (Mock.AddDiscoverableDevice), each after a delay of its own; it ends with the last client's
  StopDiscovery, that client leaving the bus, or the adapter powered off.
'''

import types

import dbus
from gi.repository import GLib

from dbusmock import OBJECT_MANAGER_IFACE, mockobject
from dbusmock.templates import bluez5 as _stock
from dbusmock.templates.bluez5 import *  # noqa: F401,F403 (the bus name and the Mock methods)
from dbusmock.templates.bluez5 import (ADAPTER_IFACE, AGENT_MANAGER_IFACE, BLUEZ_MOCK_IFACE,
                                       DEVICE_IFACE)

AGENT_IFACE = 'org.bluez.Agent1'
CAPABILITIES = ('DisplayOnly', 'DisplayYesNo', 'KeyboardOnly', 'NoInputNoOutput',
                'KeyboardDisplay')
FILTER_KEYS = ('UUIDs', 'RSSI', 'Pathloss', 'Transport', 'DuplicateData', 'Discoverable',
               'Pattern')
# BlueZ waits this long for an agent's answer before it gives up on the pairing.
AGENT_TIMEOUT_S = 60


def _error(name, message):
    return dbus.exceptions.DBusException(message, name='org.bluez.Error.' + name)


def _install(obj, interface, fn, name, in_sig, out_sig='', **keywords):
    '''fn as obj's method, logged as the mock logs its own. A copy is decorated: a decorated
    function of this module would also land on the root object when the template loads.'''
    method = types.FunctionType(fn.__code__, fn.__globals__, name, fn.__defaults__,
                                fn.__closure__)
    dbus.service.method(interface, in_signature=in_sig, out_signature=out_sig,
                        **keywords)(method)
    obj.methods.setdefault(interface, {})[name] = (in_sig, out_sig, '',
                                                   mockobject.loggedmethod(obj, method))


def _changed(obj, interface, **values):
    for key, value in values.items():
        obj.props[interface][key] = value
    obj.EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as',
                   [interface, values, []])


def _device_path(adapter_name, address):
    return f"/org/bluez/{adapter_name}/dev_{address.replace(':', '_').upper()}"


def _adapter(adapter_name):
    try:
        return mockobject.objects['/org/bluez/' + adapter_name]
    except KeyError:
        raise dbus.exceptions.DBusException(f'Adapter {adapter_name} does not exist.',
                                            name=BLUEZ_MOCK_IFACE + '.NoSuchAdapter') from None


def _device(adapter_name, address):
    _adapter(adapter_name)
    try:
        return mockobject.objects[_device_path(adapter_name, address)]
    except KeyError:
        raise dbus.exceptions.DBusException(f'Device {address} does not exist.',
                                            name=BLUEZ_MOCK_IFACE + '.NoSuchDevice') from None


def _watch_departure(obj, name, gone):
    '''gone() once bus name `name` has left the bus; returns the watch, for cancel().'''
    return obj.connection.watch_name_owner(name, lambda owner: None if owner else gone())


# Agents

def _register_agent(manager, path, capability, sender):
    capability = capability or 'KeyboardDisplay'
    if capability not in CAPABILITIES:
        raise _error('InvalidArguments', 'Invalid Arguments in method call')
    if sender in manager.agents:
        raise _error('AlreadyExists', 'Already Exists')
    manager.agents[sender] = {
        'path': path,
        'capability': capability,
        'watch': _watch_departure(manager, sender, lambda: _drop_agent(manager, sender)),
    }


def _drop_agent(manager, sender):
    agent = manager.agents.pop(sender, None)
    if agent is not None:
        agent['watch'].cancel()
    if manager.default_agent == sender:
        manager.default_agent = None


def _own_agent(manager, path, sender):
    agent = manager.agents.get(sender)
    if agent is None or agent['path'] != path:
        raise _error('DoesNotExist', 'Does Not Exist')


def _unregister_agent(manager, path, sender):
    _own_agent(manager, path, sender)
    _drop_agent(manager, sender)


def _request_default_agent(manager, path, sender):
    _own_agent(manager, path, sender)
    manager.default_agent = sender


def _agent_for(caller):
    '''The caller's own agent, else the default one: (bus name, path) or None.'''
    manager = mockobject.objects['/org/bluez']
    owner = caller if caller in manager.agents else manager.default_agent
    if owner is None:
        return None
    return owner, manager.agents[owner]['path']


# Devices

def _connect(device):
    _set_connected(device, True, 'Already Connected', 'org.bluez.Error.AlreadyConnected')


def _disconnect(device):
    _set_connected(device, False, 'Not Connected', 'org.bluez.Error.NotConnected')


def _set_connected(device, connected, refusal, name):
    if bool(device.props[DEVICE_IFACE]['Connected']) == connected:
        raise dbus.exceptions.DBusException(refusal, name=name)
    device.connected = connected
    _changed(device, DEVICE_IFACE, Connected=dbus.Boolean(connected, variant_level=1))


def _pair(device, sender, done, failed):
    adapter = mockobject.objects[str(device.props[DEVICE_IFACE]['Adapter'])]
    if not adapter.props[ADAPTER_IFACE]['Powered']:
        raise _error('NotReady', 'Resource Not Ready')
    if device.pairing is not None:
        raise _error('InProgress', 'In Progress')
    if device.props[DEVICE_IFACE]['Paired']:
        raise _error('AlreadyExists', 'Already Exists')
    if device.refuses_pairing:
        raise _error('AuthenticationRejected', 'Authentication Rejected')
    if not device.pin:
        _paired(device)
        done()
        return
    agent = _agent_for(sender)
    if agent is None:
        raise _error('AuthenticationFailed', 'Authentication Failed')

    request = {'agent': agent, 'failed': failed}

    def answered(pin):
        if device.pairing is not request:  # cancelled meanwhile
            return
        device.pairing = None
        if str(pin) != device.pin:
            failed(_error('AuthenticationFailed', 'Authentication Failed'))
            return
        _paired(device)
        done()

    def refused(_error_from_agent):
        if device.pairing is not request:
            return
        device.pairing = None
        failed(_error('AuthenticationFailed', 'Authentication Failed'))

    device.pairing = request
    device.connection.call_async(agent[0], agent[1], AGENT_IFACE, 'RequestPinCode', 'o',
                                 (dbus.ObjectPath(device.path),), answered, refused,
                                 timeout=AGENT_TIMEOUT_S)


def _cancel_pairing(device):
    request = device.pairing
    if request is None:
        raise _error('DoesNotExist', 'Does Not Exist')
    device.pairing = None
    bus_name, path = request['agent']
    device.connection.call_async(bus_name, path, AGENT_IFACE, 'Cancel', '', (),
                                 lambda *_: None, lambda _: None)
    request['failed'](_error('AuthenticationCanceled', 'Authentication Canceled'))


def _paired(device):
    device.paired = True
    _changed(device, DEVICE_IFACE, Paired=dbus.Boolean(True, variant_level=1))


def _new_device(mock, adapter_name, address, alias, class_, rssi):
    '''The stock AddDevice's device, with a class and signal strength of its own from the
    start: what discovery reports comes with InterfacesAdded, not after it.'''
    adapter_path = '/org/bluez/' + adapter_name
    _adapter(adapter_name)
    path = _device_path(adapter_name, address)
    properties = {
        'Address': dbus.String(address, variant_level=1),
        'AddressType': dbus.String('public', variant_level=1),
        'Name': dbus.String(alias, variant_level=1),
        'Icon': dbus.String('', variant_level=1),
        'Class': dbus.UInt32(class_, variant_level=1),
        'Appearance': dbus.UInt16(0, variant_level=1),
        'UUIDs': dbus.Array([], signature='s', variant_level=1),
        'Paired': dbus.Boolean(False, variant_level=1),
        'Connected': dbus.Boolean(False, variant_level=1),
        'Trusted': dbus.Boolean(False, variant_level=1),
        'Blocked': dbus.Boolean(False, variant_level=1),
        'WakeAllowed': dbus.Boolean(False, variant_level=1),
        'Alias': dbus.String(alias, variant_level=1),
        'Adapter': dbus.ObjectPath(adapter_path, variant_level=1),
        'LegacyPairing': dbus.Boolean(False, variant_level=1),
        'Modalias': dbus.String('', variant_level=1),
        'RSSI': dbus.Int16(rssi, variant_level=1),
        'TxPower': dbus.Int16(0, variant_level=1),
        'ManufacturerData': dbus.Array([], signature='a{qv}', variant_level=1),
        'ServiceData': dbus.Array([], signature='a{sv}', variant_level=1),
        'ServicesResolved': dbus.Boolean(False, variant_level=1),
        'AdvertisingFlags': dbus.Array([], signature='ay', variant_level=1),
        'AdvertisingData': dbus.Array([], signature='a{yv}', variant_level=1),
    }
    mock.AddObject(path, DEVICE_IFACE, properties, [
        ('ConnectProfile', 's', '', ''),
        ('DisconnectProfile', 's', '', ''),
    ])
    device = mockobject.objects[path]
    _install(device, DEVICE_IFACE, _connect, 'Connect', '')
    _install(device, DEVICE_IFACE, _disconnect, 'Disconnect', '')
    _install(device, DEVICE_IFACE, _pair, 'Pair', '', sender_keyword='sender',
             async_callbacks=('done', 'failed'))
    _install(device, DEVICE_IFACE, _cancel_pairing, 'CancelPairing', '')
    device.paired = False
    device.connected = False
    device.pin = ''
    device.refuses_pairing = False
    device.pairing = None

    mockobject.objects['/'].EmitSignal(OBJECT_MANAGER_IFACE, 'InterfacesAdded', 'oa{sa{sv}}', [
        dbus.ObjectPath(path), {DEVICE_IFACE: properties}])
    return path


# Adapters and discovery

def _start_discovery(adapter, sender):
    if not adapter.props[ADAPTER_IFACE]['Powered']:
        raise _error('NotReady', 'Resource Not Ready')
    if sender in adapter.discovery_clients:
        raise _error('InProgress', 'Operation already in progress')
    adapter.discovery_clients[sender] = _watch_departure(
        adapter, sender, lambda: _leave_discovery(adapter, sender))
    if len(adapter.discovery_clients) > 1:
        return
    _changed(adapter, ADAPTER_IFACE, Discovering=dbus.Boolean(True, variant_level=1))
    for address in adapter.in_range:
        _schedule_finding(adapter, address)


def _stop_discovery(adapter, sender):
    if sender not in adapter.discovery_clients:
        raise _error('Failed', 'No discovery started')
    _leave_discovery(adapter, sender)


def _leave_discovery(adapter, sender):
    watch = adapter.discovery_clients.pop(sender, None)
    if watch is not None:
        watch.cancel()
    if not adapter.discovery_clients:
        _end_discovery(adapter)


def _end_discovery(adapter):
    for watch in adapter.discovery_clients.values():
        watch.cancel()
    adapter.discovery_clients.clear()
    for timer in adapter.findings.values():
        GLib.source_remove(timer)
    adapter.findings.clear()
    if adapter.props[ADAPTER_IFACE]['Discovering']:
        _changed(adapter, ADAPTER_IFACE, Discovering=dbus.Boolean(False, variant_level=1))


def _schedule_finding(adapter, address):
    def found():
        del adapter.findings[address]
        _find(adapter, address)
        return False

    if address not in adapter.findings:
        adapter.findings[address] = GLib.timeout_add(adapter.in_range[address]['delay_ms'], found)


def _find(adapter, address):
    seen = adapter.in_range[address]
    path = _device_path(adapter.adapter_name, address)
    if path in mockobject.objects:
        # Known from before: only the signal strength is news.
        _changed(mockobject.objects[path], DEVICE_IFACE,
                 RSSI=dbus.Int16(seen['rssi'], variant_level=1))
    else:
        _new_device(mockobject.objects['/'], adapter.adapter_name, address, seen['alias'],
                    seen['class'], seen['rssi'])
        device = mockobject.objects[path]
        _set_pin(device, seen.get('pin', ''))
        device.refuses_pairing = seen.get('refuses', False)


def _in_range_or_device(adapter_device_name, device_address, key, value):
    '''Sets a trait of a device, or of one in range that discovery has yet to find.'''
    adapter = _adapter(adapter_device_name)
    seen = adapter.in_range.get(str(device_address).upper())
    if seen is not None:
        seen[key] = value
    if seen is not None and _device_path(adapter_device_name, device_address) not in mockobject.objects:
        return None
    return _device(adapter_device_name, device_address)


def _set_pin(device, pin):
    device.pin = str(pin)
    _changed(device, DEVICE_IFACE, LegacyPairing=dbus.Boolean(bool(pin), variant_level=1))


def _set_discovery_filter(adapter, discovery_filter, sender):
    unknown = [key for key in discovery_filter if key not in FILTER_KEYS]
    transport = discovery_filter.get('Transport', 'auto')
    if unknown or transport not in ('auto', 'bredr', 'le'):
        raise _error('InvalidArguments', 'Invalid Arguments in method call')
    adapter.discovery_filters[sender] = discovery_filter


def _set_adapter_property(adapter, interface, name, value):
    mockobject.DBusMockObject.Set(adapter, interface, name, value)
    if interface == ADAPTER_IFACE and name == 'Powered' and not value:
        _end_discovery(adapter)


# The mock's own methods

@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='ss', out_signature='s')
def AddAdapter(self, device_name, system_name):
    path = _stock.AddAdapter(self, device_name, system_name)
    adapter = mockobject.objects[path]
    _install(adapter, ADAPTER_IFACE, _start_discovery, 'StartDiscovery', '',
             sender_keyword='sender')
    _install(adapter, ADAPTER_IFACE, _stop_discovery, 'StopDiscovery', '',
             sender_keyword='sender')
    _install(adapter, ADAPTER_IFACE, _set_discovery_filter, 'SetDiscoveryFilter', 'a{sv}',
             sender_keyword='sender')
    _install(adapter, dbus.PROPERTIES_IFACE, _set_adapter_property, 'Set', 'ssv')
    adapter.adapter_name = device_name
    adapter.discovery_clients = {}  # bus name -> watch on its leaving
    adapter.discovery_filters = {}
    adapter.in_range = {}  # address -> what discovery reports of it
    adapter.findings = {}  # address -> timer until discovery reports it
    return path


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='sss', out_signature='s')
def AddDevice(self, adapter_device_name, device_address, alias):
    '''A device known to BlueZ, neither paired nor connected.'''
    return _new_device(self, adapter_device_name, device_address, alias, 0, -79)


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='sssunu', out_signature='s')
def AddDiscoverableDevice(self, adapter_device_name, device_address, alias, class_, rssi,
                          delay_ms):
    '''A device in range: each discovery on the adapter finds it delay_ms after starting (or
    after being added, if one runs), with this class and signal strength (dBm). Returns the
    path it will have.'''
    adapter = _adapter(adapter_device_name)
    adapter.in_range[str(device_address).upper()] = {
        'alias': alias, 'class': class_, 'rssi': rssi, 'delay_ms': delay_ms}
    if adapter.discovery_clients:
        _schedule_finding(adapter, str(device_address).upper())
    return _device_path(adapter_device_name, device_address)


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='sss', out_signature='')
def SetDevicePin(_self, adapter_device_name, device_address, pin):
    '''The device pairs the legacy way, with this PIN; an empty one: Secure Simple Pairing. A
    device in range that discovery has not found yet takes it when found.'''
    device = _in_range_or_device(adapter_device_name, device_address, 'pin', str(pin))
    if device is not None:
        _set_pin(device, pin)


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='ssb', out_signature='')
def SetDeviceRefusesPairing(_self, adapter_device_name, device_address, refuses):
    '''The device turns every pairing down before any agent is asked.'''
    device = _in_range_or_device(adapter_device_name, device_address, 'refuses', bool(refuses))
    if device is not None:
        device.refuses_pairing = bool(refuses)


def load(mock, parameters):
    _stock.load(mock, parameters)
    manager = mockobject.objects['/org/bluez']
    _install(manager, AGENT_MANAGER_IFACE, _register_agent, 'RegisterAgent', 'os',
             sender_keyword='sender')
    _install(manager, AGENT_MANAGER_IFACE, _unregister_agent, 'UnregisterAgent', 'o',
             sender_keyword='sender')
    _install(manager, AGENT_MANAGER_IFACE, _request_default_agent, 'RequestDefaultAgent', 'o',
             sender_keyword='sender')
    manager.agents = {}  # bus name -> its agent's path, capability and watch on its leaving
    manager.default_agent = None  # a bus name
