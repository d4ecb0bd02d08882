'''The Bluetooth daemon for the tests: python-dbusmock's bluez5 template with
the profile API that the program's serial link needs.

RegisterProfile remembers who registered which UUID. Device1.ConnectProfile
hands the socket set beforehand with SetSerialLink to the registered
profile's NewConnection and answers once that has answered, as the daemon
does. SetConnectBehaviour makes a device out of range, refuse, never answer,
or answer without handing over a connection. DisconnectProfile asks the
profile to let go (RequestDisconnection); ReleaseProfiles drops every
registration (Release), as a restarting daemon would.
'''

import os

import dbus
import dbus.service

from dbusmock import mockobject
from dbusmock.templates import bluez5
# The stock template's convenience methods (AddAdapter, AddDevice, PairDevice...).
from dbusmock.templates.bluez5 import (  # noqa: F401 pylint: disable=unused-import
    AddAdapter, PairDevice, RemoveAdapter, RemoveAdapterWithDevices, BlockDevice,
    ConnectDevice, DisconnectDevice)

BUS_NAME = bluez5.BUS_NAME
MAIN_OBJ = bluez5.MAIN_OBJ
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

MOCK_IFACE = 'org.bluez.Mock'
DEVICE_IFACE = 'org.bluez.Device1'
PROFILE_IFACE = 'org.bluez.Profile1'

# uuid -> (bus name, object path) of the registered profile
PROFILES = {}
# device path -> socket for its next ConnectProfile
LINKS = {}
# device path -> 'connects' | 'out-of-range' | 'refused' | 'silent' | 'no-connection'
BEHAVIOUR = {}


def _failed(text):
    return dbus.exceptions.DBusException(text, name='org.bluez.Error.Failed')


def _profile_proxy(uuid):
    owner, path = PROFILES[uuid]
    return mockobject.objects['/'].connection.get_object(owner, path, introspect=False)


@dbus.service.method(bluez5.PROFILE_MANAGER_IFACE, in_signature='osa{sv}', out_signature='',
                     sender_keyword='sender')
def _register_profile(_manager, path, uuid, _options, sender=None):
    uuid = str(uuid).lower()
    if uuid in PROFILES:
        raise dbus.exceptions.DBusException('UUID already registered',
                                            name='org.bluez.Error.AlreadyExists')
    PROFILES[uuid] = (str(sender), str(path))


@dbus.service.method(bluez5.PROFILE_MANAGER_IFACE, in_signature='o', out_signature='')
def _unregister_profile(_manager, path):
    for uuid in [u for u, (_, p) in PROFILES.items() if p == str(path)]:
        del PROFILES[uuid]


@dbus.service.method(DEVICE_IFACE, in_signature='s', out_signature='',
                     async_callbacks=('reply', 'error'))
def _connect_profile(device, uuid, reply=None, error=None):
    path = device.path
    uuid = str(uuid).lower()
    mode = BEHAVIOUR.get(path, 'connects')
    if mode == 'silent':
        return  # never answers
    if mode == 'out-of-range':
        error(_failed('br-connection-page-timeout'))
        return
    if mode == 'refused':
        error(_failed('br-connection-refused'))
        return
    if uuid not in PROFILES:
        error(_failed('br-connection-profile-unavailable'))
        return
    if mode == 'no-connection':
        reply()
        return
    fd = LINKS.pop(path, None)
    if fd is None:
        error(_failed('br-connection-page-timeout'))
        return

    def handed(*_):
        os.close(fd)
        reply()

    def refused(e):
        os.close(fd)
        error(_failed('br-connection-refused: ' + str(e)))

    _profile_proxy(uuid).NewConnection(
        dbus.ObjectPath(path), dbus.types.UnixFd(fd), dbus.Dictionary({}, signature='sv'),
        dbus_interface=PROFILE_IFACE, reply_handler=handed, error_handler=refused)


@dbus.service.method(DEVICE_IFACE, in_signature='s', out_signature='')
def _disconnect_profile(device, uuid):
    uuid = str(uuid).lower()
    if uuid in PROFILES:
        _profile_proxy(uuid).RequestDisconnection(
            dbus.ObjectPath(device.path), dbus_interface=PROFILE_IFACE,
            reply_handler=lambda *_: None, error_handler=lambda *_: None)


@dbus.service.method(MOCK_IFACE, in_signature='sss', out_signature='s')
def AddDevice(self, adapter_device_name, device_address, alias):
    '''The stock AddDevice, with the profile methods on the new device.'''
    path = bluez5.AddDevice(self, adapter_device_name, device_address, alias)
    methods = mockobject.objects[path].methods[DEVICE_IFACE]
    methods['ConnectProfile'] = ('s', '', '', _connect_profile)
    methods['DisconnectProfile'] = ('s', '', '', _disconnect_profile)
    return path


@dbus.service.method(MOCK_IFACE, in_signature='sas', out_signature='')
def SetDeviceUUIDs(_self, device_path, uuids):
    '''Replaces the device's service UUIDs.'''
    device = mockobject.objects[device_path]
    device.props[DEVICE_IFACE]['UUIDs'] = dbus.Array(uuids, signature='s', variant_level=1)


@dbus.service.method(MOCK_IFACE, in_signature='su', out_signature='')
def SetDeviceClass(_self, device_path, device_class):
    '''Sets the device's class of device (the stock PairDevice keeps 0).'''
    device = mockobject.objects[device_path]
    device.props[DEVICE_IFACE]['Class'] = dbus.UInt32(device_class, variant_level=1)


@dbus.service.method(MOCK_IFACE, in_signature='sh', out_signature='')
def SetSerialLink(_self, device_path, fd):
    '''The socket that the device's next ConnectProfile hands over.'''
    old = LINKS.pop(str(device_path), None)
    if old is not None:
        os.close(old)
    LINKS[str(device_path)] = fd.take()


@dbus.service.method(MOCK_IFACE, in_signature='ss', out_signature='')
def SetConnectBehaviour(_self, device_path, mode):
    '''How the device's ConnectProfile goes.'''
    BEHAVIOUR[str(device_path)] = str(mode)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def RegisteredProfiles(_self):
    '''"uuid path" of every registered profile.'''
    return [u + ' ' + p for u, (_, p) in sorted(PROFILES.items())]


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='')
def ReleaseProfiles(_self):
    '''Drops every registration, telling each profile (Release).'''
    for uuid in list(PROFILES):
        _profile_proxy(uuid).Release(dbus_interface=PROFILE_IFACE,
                                     reply_handler=lambda *_: None,
                                     error_handler=lambda *_: None)
    PROFILES.clear()


def load(mock, parameters):
    bluez5.load(mock, parameters)
    manager = mockobject.objects['/org/bluez']
    methods = manager.methods[bluez5.PROFILE_MANAGER_IFACE]
    methods['RegisterProfile'] = ('osa{sv}', '', '', _register_profile)
    methods['UnregisterProfile'] = ('o', '', '', _unregister_profile)
