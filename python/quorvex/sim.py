"""Control of the simulated module (sim/include/kestro_sim.h).

Every Quorvex build ships a simulated module as its driver; tests,
benchmarks and demonstrations steer it through these functions. They belong
to the simulator, not to the library: with a real driver Simulator() raises
RuntimeError, and nothing else in the package needs them.

    from quorvex.sim import Simulator
    sim = Simulator()
    sim.set_signal(0, 1, "sine", amplitude=2.0, frequency=5.0)
"""

from __future__ import annotations

import ctypes
import os
import sys

import numpy as np

from ._library import driver_file

__all__ = ["Simulator"]

_SIGNALS = {"dc": 0, "sine": 1, "square": 2, "ramp": 3, "noise": 4}
_I32, _U32, _I64, _U64 = ctypes.c_int32, ctypes.c_uint32, ctypes.c_int64, ctypes.c_uint64
_PROTOTYPES = {
    "kestro_sim_reset": (None, ()),
    "kestro_sim_set_module": (_I32, (_I32, _I32)),
    "kestro_sim_module_from_name": (_I32, (ctypes.c_char_p,)),
    "kestro_sim_is_open": (_I32, (_I32,)),
    "kestro_sim_fail": (_I32, (ctypes.c_char_p, _I32, _I32)),
    "kestro_sim_clear_faults": (None, ()),
    "kestro_sim_log_enable": (None, (_I32,)),
    "kestro_sim_set_clock": (_I32, (_I32, _I32)),
    "kestro_sim_advance": (_I32, (_I32, _I64)),
    "kestro_sim_set_pattern": (_I32, (_I32, _I32)),
    "kestro_sim_pattern_ad": (ctypes.c_uint16, (_U64, _I32)),
    "kestro_sim_pattern_ct": (_U32, (_U64, _I32)),
    "kestro_sim_pattern_din": (ctypes.c_uint16, (_U64, _I32)),
    "kestro_sim_set_signal": (_I32, (_I32, _I32, _I32, ctypes.c_double, ctypes.c_double,
                                     ctypes.c_double)),
    "kestro_sim_set_counter_input": (_I32, (_I32, _I32, ctypes.c_double)),
    "kestro_sim_ad_list_length": (_I32, (_I32,)),
    "kestro_sim_da_code": (_I32, (_I32, _I32)),
    "kestro_sim_set_da_clock": (_I32, (_I32, _I32)),
    "kestro_sim_da_advance": (_I32, (_I32, _I64)),
    "kestro_sim_da_record": (_I64, (_I32, _U64, ctypes.c_void_p, _I64)),
    "kestro_sim_capture": (_I32, (_I32, ctypes.c_void_p)),
    "kestro_sim_output": (_I32, (_I32, ctypes.c_void_p)),
    "kestro_sim_log_size": (_U32, ()),
    "kestro_sim_log_entry": (_I32, (_U32, ctypes.c_char_p, _U32)),
    "kestro_sim_log_clear": (None, ()),
}


class Simulator:
    """The simulated module the library has loaded as its driver.

    ``lib`` gives every control function of kestro_sim.h; ``driver`` the
    driver's own entry points (ZQ7_...)."""

    def __init__(self) -> None:
        path = driver_file()
        try:
            if sys.platform == "win32":
                self.lib = ctypes.CDLL(path)
                self.driver = ctypes.WinDLL(path)
            else:  # the instance the library loaded, never a second one
                self.lib = self.driver = ctypes.CDLL(path, os.RTLD_NOW | os.RTLD_NOLOAD)
        except OSError as error:
            raise RuntimeError(f"the library's driver {path} is not loaded: {error}") from None
        if not hasattr(self.lib, "kestro_sim_reset"):
            raise RuntimeError(f"the driver {path} is not the simulated module")
        for name, (result, arguments) in _PROTOTYPES.items():
            function = getattr(self.lib, name)
            function.restype, function.argtypes = result, arguments

    @staticmethod
    def _ok(result: int, what: str) -> None:
        if result < 0:
            raise ValueError(f"the simulator refused {what}")

    def reset(self) -> None:
        """Every card back to its power-on module; faults, log and counts cleared."""
        self.lib.kestro_sim_reset()

    def set_module(self, card: int, module: str) -> None:
        """Chooses the module behind a card ("standard", "hispeed", "absent", ...)."""
        number = self.lib.kestro_sim_module_from_name(module.encode())
        self._ok(self.lib.kestro_sim_set_module(card, number), f"module {module!r}")

    def is_open(self, card: int) -> bool:
        return self.lib.kestro_sim_is_open(card) == 1

    def fail(self, entry: str, result: int, times: int = -1) -> None:
        """The next ``times`` calls of driver entry ``entry`` return ``result``
        (times < 0: until cleared)."""
        self._ok(self.lib.kestro_sim_fail(entry.encode(), result, times), entry)

    def clear_faults(self) -> None:
        self.lib.kestro_sim_clear_faults()

    def set_clock(self, card: int, manual: bool = True) -> None:
        """The capture clock: manual (scans only through advance) or real time."""
        self._ok(self.lib.kestro_sim_set_clock(card, 1 if manual else 0), "the clock")

    def advance(self, card: int, scans: int) -> None:
        """Manual clock: the running capture takes ``scans`` more scans now."""
        self._ok(self.lib.kestro_sim_advance(card, scans), "the advance")

    def set_pattern(self, card: int, enabled: bool = True) -> None:
        """Pattern mode: every value encodes its scan and its entry."""
        self._ok(self.lib.kestro_sim_set_pattern(card, 1 if enabled else 0), "pattern mode")

    def pattern(self, kind: str, entry: int, first: int, count: int) -> np.ndarray:
        """Pattern values of scans first .. first + count - 1: the code of
        analog entry ``entry`` ("ai"), the value of counter entry ``entry``
        ("ct") or digital word ``entry`` ("di")."""
        function = getattr(self.lib, {"ai": "kestro_sim_pattern_ad", "ct": "kestro_sim_pattern_ct",
                                      "di": "kestro_sim_pattern_din"}[kind])
        return np.array([function(s, entry) for s in range(first, first + count)], np.uint32)

    def set_signal(self, card: int, input: int, kind: str, amplitude: float = 1.0,
                   offset: float = 0.0, frequency: float = 1.0) -> None:
        """Gives an analog input a signal: "dc", "sine", "square", "ramp" or
        "noise" (volts, hertz)."""
        self._ok(self.lib.kestro_sim_set_signal(card, input, _SIGNALS[kind], amplitude, offset,
                                                frequency), f"signal {kind!r}")

    def set_counter_input(self, card: int, counter: int, frequency: float) -> None:
        """Feeds a counter a square wave of ``frequency`` Hz."""
        self._ok(self.lib.kestro_sim_set_counter_input(card, counter, frequency), "the frequency")

    def running(self, card: int) -> tuple[bool, bool]:
        """Whether the module captures, and whether it outputs."""
        status = ctypes.create_string_buffer(128)  # both records begin with their run flag
        self._ok(self.lib.kestro_sim_capture(card, status), "the capture status")
        capture = int.from_bytes(status.raw[:4], sys.byteorder) == 1
        self._ok(self.lib.kestro_sim_output(card, status), "the output status")
        return capture, int.from_bytes(status.raw[:4], sys.byteorder) == 1

    def log(self) -> list[str]:
        """The newest driver calls, oldest first ("ZQ7_AD_Start(0)")."""
        text = ctypes.create_string_buffer(256)
        entries = []
        for index in range(self.lib.kestro_sim_log_size()):
            self.lib.kestro_sim_log_entry(index, text, len(text))
            entries.append(text.value.decode())
        return entries

    def clear_log(self) -> None:
        self.lib.kestro_sim_log_clear()

    def ad_list_length(self, card: int) -> int:
        """Entries of the module's analog input list."""
        return self.lib.kestro_sim_ad_list_length(card)

    def da_code(self, card: int, output: int) -> int:
        """The code last set on an analog output."""
        return self.lib.kestro_sim_da_code(card, output)

    def set_da_clock(self, card: int, manual: bool = True) -> None:
        self._ok(self.lib.kestro_sim_set_da_clock(card, 1 if manual else 0), "the output clock")

    def da_advance(self, card: int, frames: int) -> None:
        """Manual output clock: ``frames`` more frames fall due now."""
        self._ok(self.lib.kestro_sim_da_advance(card, frames), "the output advance")

    def da_record(self, card: int, first: int, count: int) -> np.ndarray:
        """Codes the module output, from number ``first`` since power-on."""
        codes = np.zeros(count, np.uint16)
        copied = self.lib.kestro_sim_da_record(card, first, codes.ctypes.data, count)
        self._ok(copied, "the output record")
        return codes[:copied]
