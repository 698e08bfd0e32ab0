"""Finding the J2534 library a bus is to load: a path, or on Windows a registered device."""

import os
import struct
import sys
from typing import List, Tuple

# Where J2534 devices register on Windows, one subkey each. Each library registers in the
# registry view of the applications that can load it: a 32-bit DLL in the 32-bit view
# (WOW6432Node on 64-bit Windows), a 64-bit DLL in the 64-bit view. An interpreter can load
# only a library of its own width, so it reads the view of its own width.
REGISTRY_ROOT = r"SOFTWARE\PassThruSupport.04.04"
# The width of this interpreter's pointers, and so of the libraries it can load.
INTERPRETER_BITS = struct.calcsize("P") * 8


def looks_like_path(name: str) -> bool:
    """A file name rather than a device name: a folder separator, a library suffix or a file."""
    if os.sep in name or (os.altsep and os.altsep in name):
        return True
    if name.lower().endswith((".dll", ".so")) or ".so." in name:
        return True
    return os.path.isfile(name)


def resolve_library(name: str) -> str:
    """The path of the library to load for a path or, on Windows, a registered device name."""
    if looks_like_path(name) or sys.platform != "win32":
        return name
    for key_name, device_name, library in registered_devices():
        if name.casefold() in (key_name.casefold(), device_name.casefold()):
            return library
    raise LookupError(f'no J2534 device "{name}" registered under HKLM\\{REGISTRY_ROOT}')


def registered_devices() -> List[Tuple[str, str, str]]:
    """The registered devices on Windows: (subkey, Name value, FunctionLibrary value) each."""
    import winreg  # pylint: disable=import-outside-toplevel,import-error

    access = winreg.KEY_READ | registry_view(winreg)
    devices = []
    try:
        root = winreg.OpenKey(winreg.HKEY_LOCAL_MACHINE, REGISTRY_ROOT, 0, access)
    except OSError:
        return devices
    with root:
        index = 0
        while True:
            try:
                key_name = winreg.EnumKey(root, index)
            except OSError:
                break
            index += 1
            with winreg.OpenKey(root, key_name, 0, access) as key:
                library = _value(winreg, key, "FunctionLibrary")
                if library:
                    devices.append((key_name, _value(winreg, key, "Name") or key_name, library))
    return devices


def registry_view(winreg) -> int:
    """The flag that opens the registry view of this interpreter's width."""
    return winreg.KEY_WOW64_64KEY if INTERPRETER_BITS == 64 else winreg.KEY_WOW64_32KEY


def _value(winreg, key, name: str) -> str:
    try:
        value, _ = winreg.QueryValueEx(key, name)
    except OSError:
        return ""
    return str(value)
