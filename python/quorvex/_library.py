"""Finding and loading the shared library, its prototypes, the status table
and the lock that serialises every select-and-call sequence."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import re
import sys
import threading
from pathlib import Path

_HERE = Path(__file__).resolve().parent

try:  # written by the package's build: the checkout it was installed from
    from ._origin import SOURCE_TREE as _SOURCE_TREE
except ImportError:  # running from the checkout itself
    _SOURCE_TREE = str(_HERE.parent.parent)

_WINDOWS = sys.platform == "win32"
_FILE = "QUORVEX.dll" if _WINDOWS else "libquorvex.so"
_DRIVER = "kestrolib.dll" if _WINDOWS else "libkestrolib.so"
_MAJOR = 6  # the library's major version, the number of its Linux soname


class LibraryNotFoundError(OSError):
    """No Quorvex library could be loaded; the message lists every file tried."""


# ---- Status codes -------------------------------------------------------------


def _read_status_table() -> dict[int, tuple[str, str]]:
    """The table of quorvex_status.h: code -> (name, message).

    An installed package carries the header beside its modules; the checkout
    has it under include/."""
    places = [_HERE / "quorvex_status.h", Path(_SOURCE_TREE, "include", "quorvex_status.h")]
    for path in places:
        if path.is_file():
            entries = re.findall(
                r'QVX_STATUS\(\s*(-?\d+)\s*,\s*"([^"]*)"\s*,\s*"([^"]*)"\s*\)', path.read_text()
            )
            if entries:
                return {int(code): (name, text) for code, name, text in entries}
    raise ImportError(
        "quorvex: the status table quorvex_status.h is missing; looked in "
        + ", ".join(str(p) for p in places)
    )


STATUS = _read_status_table()


def status_name(code: int) -> str:
    """The symbolic name of a status code ("QVX_FAILURE"); "" when unknown."""
    return STATUS.get(code, ("", ""))[0]


def status_message(code: int) -> str:
    """The message of a status code; "unknown status code" when unknown."""
    return STATUS.get(code, ("", "unknown status code"))[1]


# ---- Finding the library ---------------------------------------------------------


def _candidates():
    """Where the library is sought, in order; the system's search last, since
    asking it takes a while."""
    explicit = os.environ.get("QUORVEX_LIBRARY")
    if explicit:
        yield explicit  # an explicit choice is never overridden
        return
    yield str(_HERE / _FILE)
    if _WINDOWS:
        presets = ["win32" if ctypes.sizeof(ctypes.c_void_p) == 4 else "win64"]
    else:
        presets = ["default", "demo"]
    for preset in presets:
        yield str(Path(_SOURCE_TREE, "build", preset, "bin", _FILE))
    system = ctypes.util.find_library("quorvex")
    if system:
        yield system
    yield from ["QUORVEX.dll"] if _WINDOWS else [f"libquorvex.so.{_MAJOR}", "libquorvex.so"]


def _open(name: str) -> ctypes.CDLL:
    # The exports are __stdcall on 32-bit Windows.
    return ctypes.WinDLL(name) if _WINDOWS else ctypes.CDLL(name)


def _load() -> tuple[ctypes.CDLL, str]:
    tried, seen = [], set()
    for name in _candidates():
        if name in seen:
            continue
        seen.add(name)
        if ("/" in name or os.sep in name) and not Path(name).is_file():
            tried.append(f"  {name}: no such file")
            continue
        try:
            return _open(name), name
        except OSError as error:
            tried.append(f"  {name}: {error}")
    raise LibraryNotFoundError(
        "quorvex: could not load the Quorvex library. Tried:\n"
        + "\n".join(tried)
        + "\nBuild it (cmake --preset default && cmake --build --preset default), install it, "
        "or set QUORVEX_LIBRARY to the path of its file."
    )


# ---- Prototypes ----------------------------------------------------------------------

_I = ctypes.c_int32
_P = ctypes.c_void_p  # pointers: addresses, ctypes.pointer() or byref()
_PROTOTYPES = {
    "OpenCard": (_I,),
    "SwitchCard": (_I,),
    "CloseCard": (_I,),
    "ConfigCard": (_I, _I, _I),
    "ClearChannelLists": (),
    "FinalInit": (),
    "ReadFlashDataEx": (_I, _P),
    "GetCustomerName": (_I, _P),
    "GetDLLVersion": (_P, _P, _P, _P),
    "Add_AD_Channel_to_ScanList": (_I, _I, _I, _I),
    "Add_CT_Channel_to_ScanList": (_I,),
    "Add_Dig_Channel_to_ScanList": (_I, _I),
    "SetADFrequency": (_I,),
    "StartADCapture": (),
    "StopADCapture": (),
    "GetADBufferStatus": (_I, _P),
    "GetScaledData": (_I, _P, _P, _I),
    "GetBinaryData": (_P, _P, _I),
    "CaptureOneChannel": (_I, _I, _I, _P, _P),
    "PutOneChannel": (_I, _I, ctypes.c_double),
    "Add_DA_Channel_to_ScanList": (_I,),
    "SetDAFrequency": (_I,),
    "StartDAOutput": (),
    "StopDAOutput": (),
    "PutScaledData": (_I, _P, _I, _P, _I),
    "PutBinaryData": (_P, _I, _P, _I),
    "GetDAFreeBufferSpace": (_I, _P),
    "SetDigitalDirection": (_I, _I),
    "SetDigitalPortDirection": (_I, _I, _I),
    "WriteDigitalBit": (_I, _I),
    "WriteDigitalPort": (_I, _I, ctypes.c_uint32),
    "ConfigureCounterInput": (_I,) * 9,
    "StartCTforRead": (),
    "ReadCounterValue": (_I, _P),
    "StartMemoryMeasurement": (_I, _I, _I, _I),
    "StopMemoryMeasurement": (_I,),
    "GetMemoryMeasurementStatus": (_I,),
    "GetScaledDataFromMemoryMeasurement": (_I, _I, _I, _I, _P, _I, _P),
}


class _Library:
    """The loaded library, loaded at its first use."""

    def __init__(self) -> None:
        self._handle: ctypes.CDLL | None = None
        self.path = ""
        self._guard = threading.Lock()

    def handle(self) -> ctypes.CDLL:
        if self._handle is None:
            with self._guard:
                if self._handle is None:
                    handle, self.path = _load()
                    for name, arguments in _PROTOTYPES.items():
                        function = getattr(handle, name)
                        function.argtypes = arguments
                        function.restype = ctypes.c_int32
                    self._handle = handle
        return self._handle

    def __getattr__(self, name: str):
        return getattr(self.handle(), name)


LIB = _Library()

# One lock for the whole process: a card is selected and called under it, so
# one thread's selection never redirects another thread's call.
CALL_LOCK = threading.Lock()


def library_path() -> str:
    """The file (or name) the library was loaded from; loads it if need be."""
    LIB.handle()
    return LIB.path


def loaded_file() -> str:
    """The full path of the loaded library file, as the system reports it."""
    handle = LIB.handle()
    if _WINDOWS:
        buffer = ctypes.create_unicode_buffer(1024)
        ctypes.windll.kernel32.GetModuleFileNameW(ctypes.c_void_p(handle._handle), buffer, 1024)
        return buffer.value

    class DlInfo(ctypes.Structure):
        _fields_ = [("fname", ctypes.c_char_p), ("fbase", _P), ("sname", ctypes.c_char_p),
                    ("saddr", _P)]

    info = DlInfo()
    libc = ctypes.CDLL(None)
    libc.dladdr.argtypes = (_P, _P)
    if libc.dladdr(ctypes.cast(handle.OpenCard, _P), ctypes.byref(info)) and info.fname:
        return info.fname.decode()
    return LIB.path


def driver_file() -> str:
    """The driver the library loads: the file beside the library's own."""
    return str(Path(loaded_file()).parent / _DRIVER)
