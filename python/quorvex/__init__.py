"""Quorvex for Python: the data-acquisition library's cards as context
managers, captures as numpy arrays.

    import quorvex

    with quorvex.Card(0) as card:
        card.configure_scan(ai=[0, 1, 2, 3], ranges=5, counters=[0], rate=10_000)
        card.start_capture()
        data = card.read(5000)              # shaped (5000, 5), volts and counts
        print(card.slot_names)              # ('ai0', 'ai1', 'ai2', 'ai3', 'ct0')

The package calls the shared library (libquorvex.so, QUORVEX.dll) through
ctypes. It looks for it in the file named by the environment variable
QUORVEX_LIBRARY, beside the package, in the build tree of the checkout it
comes from, and through the system's library search, in that order.
"""

from ._library import library_path, status_message, status_name
from .card import (
    Block,
    Card,
    Conversion,
    DigitalWidth,
    Direction,
    InputMode,
    LibraryVersion,
    MemoryState,
    ModuleInfo,
    Range,
    Slot,
    version,
)
from .errors import CaptureError, LatchedError, LibraryNotFoundError, QuorvexError, ReadTimeout

__all__ = [
    "Block",
    "CaptureError",
    "Card",
    "Conversion",
    "DigitalWidth",
    "Direction",
    "InputMode",
    "LatchedError",
    "LibraryNotFoundError",
    "LibraryVersion",
    "MemoryState",
    "ModuleInfo",
    "QuorvexError",
    "Range",
    "ReadTimeout",
    "Slot",
    "library_path",
    "status_message",
    "status_name",
    "version",
]
