"""The card object and the types of its lists, blocks and records."""

from __future__ import annotations

import ctypes
import enum
import operator
import time
from dataclasses import dataclass
from typing import Iterable, Iterator, NamedTuple, Sequence

import numpy as np

from ._library import CALL_LOCK, LIB
from .errors import CaptureError, LatchedError, QuorvexError, ReadTimeout

__all__ = [
    "Block",
    "Card",
    "Conversion",
    "DigitalWidth",
    "Direction",
    "InputMode",
    "LibraryVersion",
    "MemoryState",
    "ModuleInfo",
    "Range",
    "Slot",
    "version",
]

_MAX_SCANS_PER_CALL = 10000  # the library delivers at most this many per read


class Range(enum.IntEnum):
    """Input ranges of the analog inputs: ±10 V, ±5 V, ±2.5 V, ±1.25 V."""

    PM10V = 0
    PM5V = 1
    PM2V5 = 2
    PM1V25 = 3

    @property
    def full_scale(self) -> float:
        """The range's full scale in volts (10, 5, 2.5 or 1.25)."""
        return 10.0 / (1 << self.value)


class DigitalWidth(enum.IntEnum):
    """What one digital entry of a scan holds: one line, 8 lines or 16 lines."""

    LINE = 0
    BYTE = 1
    WORD = 2


class Direction(enum.IntEnum):
    INPUT = 0
    OUTPUT = 1


class InputMode(enum.IntEnum):
    SINGLE_ENDED = 0
    DIFFERENTIAL = 1


class MemoryState(enum.IntEnum):
    """What GetMemoryMeasurementStatus reports: results, not errors."""

    TARGET_PASSED = 10
    NOT_RUNNING = 11
    RUNNING = 12


@dataclass(frozen=True)
class Slot:
    """One value of a scan, as the reads deliver it."""

    kind: str  # "ai" analog input, "ct" counter, "di" digital entry
    channel: int  # input, counter, or line / port number
    range: Range | None = None  # analog slots
    width: DigitalWidth | None = None  # digital slots
    implicit: bool = False  # input 0, added by the library to a list without analog inputs

    @property
    def name(self) -> str:
        """"ai3", "ct0", "di1"."""
        return f"{self.kind}{self.channel}"

    @property
    def unit(self) -> str:
        """Unit of the scaled value: "V", "counts", "line", "byte" or "word"."""
        if self.kind == "ai":
            return "V"
        return "counts" if self.kind == "ct" else self.width.name.lower()


@dataclass(frozen=True)
class Block:
    """Scans of a running capture: ``data`` is shaped (scans, slots) and
    ``first_scan`` numbers its first row from 0 at the start of the capture,
    so consecutive blocks join without a gap."""

    first_scan: int
    data: np.ndarray
    names: tuple[str, ...]

    @property
    def scans(self) -> int:
        return self.data.shape[0]

    def column(self, name: str) -> np.ndarray:
        """The values of one slot ("ai1") in this block."""
        return self.data[:, self.names.index(name)]


@dataclass(frozen=True)
class ModuleInfo:
    name: str  # identification text
    serial: str  # second identification text
    customer: str
    analog_inputs: int
    analog_outputs: int
    digital_lines: int
    counters: int
    max_rate_hz: int  # highest aggregate analog input rate


@dataclass(frozen=True)
class LibraryVersion:
    text: str  # "QUORVEX GEN V61127"
    major: int
    minor: int
    build: int

    def __str__(self) -> str:
        return f"{self.text} ({self.major}.{self.minor}.{self.build})"


class Conversion(NamedTuple):
    """One single conversion: volts over the ±10 V span, and the 16-bit code."""

    volts: float
    code: int


class _FlashInfoEx(ctypes.Structure):
    _fields_ = [
        ("IdentText1", ctypes.c_char * 32),
        ("IdentText2", ctypes.c_char * 20),
        ("NumAdChannels", ctypes.c_int32),
        ("IdentByte141", ctypes.c_int32),
        ("NumDaChannels", ctypes.c_int32),
        ("IdentByte145", ctypes.c_int32),
        ("NumCounters", ctypes.c_int32),
        ("NumDigitalLines", ctypes.c_int32),
        ("Reserved", ctypes.c_int32 * 3),
        ("MaxAdRateHz", ctypes.c_int32),
        ("Rest", ctypes.c_uint8 * 196),
    ]


assert ctypes.sizeof(_FlashInfoEx) == 288


@dataclass(frozen=True)
class _ScanList:
    analog: tuple[tuple[int, Range], ...] = ()
    counters: tuple[int, ...] = ()
    digital: tuple[int, ...] = ()
    width: DigitalWidth = DigitalWidth.LINE
    rate: int = 0

    def slots(self) -> tuple[Slot, ...]:
        slots = [Slot("ai", c, range=r) for c, r in self.analog]
        slots += [Slot("ct", c) for c in self.counters]
        slots += [Slot("di", d, width=self.width) for d in self.digital]
        if slots and not self.analog:
            slots.append(Slot("ai", 0, range=Range.PM10V, implicit=True))
        return tuple(slots)


def _numbers(values: Iterable[int], what: str, low: int = 0, high: int | None = None) -> tuple:
    numbers = tuple(operator.index(v) for v in values)
    if any(n < low or (high is not None and n > high) for n in numbers):
        bound = f"{low}..{high}" if high is not None else f"{low} or more"
        raise ValueError(f"{what} are {bound}: {list(numbers)}")
    return numbers


def _range(value) -> Range:
    if isinstance(value, Range):
        return value
    if not isinstance(value, bool):
        for candidate in Range:
            if value == candidate.full_scale:
                return candidate
    raise ValueError(
        f"{value!r} is not an input range: use quorvex.Range or a full scale in volts "
        "(10, 5, 2.5, 1.25)"
    )


def _rate(value, low: int, what: str) -> int:
    if value is None or operator.index(value) < low:
        raise ValueError(f"{what} is {low} or more per second, got {value!r}")
    return operator.index(value)


class Card:
    """An open card. ``Card(n)`` opens card n (OpenCard); ``close()``, or the
    end of a ``with`` block, stops whatever runs, clears the card's lists and
    closes it.

    Every method selects the card (SwitchCard) and makes its call under one
    process-wide lock, so cards may be used from several threads without
    tracking which card is current; a single card object is used by one
    thread at a time. Waits (reads that wait for scans, writes that wait for
    room) poll and sleep without holding the lock. A failing status raises
    QuorvexError; a failure latches the card, and every later call raises
    LatchedError without reaching the card until ``reopen()``."""

    def __init__(self, number: int) -> None:
        self._number: int | None = None
        self._lib = LIB.handle()
        self._count = ctypes.c_int32()
        self._count_p = ctypes.pointer(self._count)
        self._forget()
        number = operator.index(number)
        with CALL_LOCK:
            code = self._lib.OpenCard(number)
        if code:
            raise QuorvexError(code, "OpenCard", number)
        self._number = number

    def __enter__(self) -> Card:
        return self

    def __exit__(self, *exception) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<quorvex.Card {self._number if self._number is not None else 'closed'}>"

    # ---- The card ----

    @property
    def number(self) -> int | None:
        """The card number; None once closed."""
        return self._number

    @property
    def closed(self) -> bool:
        return self._number is None

    @property
    def slots(self) -> tuple[Slot, ...]:
        """The slots of one scan of the list configure_scan set up, in order."""
        return self._slots

    @property
    def slot_names(self) -> tuple[str, ...]:
        """Names of the slots ("ai0", "ct0", "di0"): the columns of a read."""
        return tuple(s.name for s in self._slots)

    @property
    def output_channels(self) -> tuple[int, ...]:
        """The outputs of a frame, as configure_output listed them."""
        return self._outputs[0]

    def close(self) -> None:
        """Stops capture, output and memory measurement, clears the card's
        lists and closes it. Never raises for the card's state.

        A latched card cannot be selected: its acquisition is stopped through
        its number, and it is opened afresh, which clears the latch, so that
        its lists can be cleared before it is closed."""
        if self._number is None:
            return
        number, lib = self._number, self._lib
        with CALL_LOCK:
            if self._stop_all() or (lib.OpenCard(number) == 0 and self._stop_all()):
                lib.ClearChannelLists()
            lib.CloseCard(number)
        self._number = None
        self._forget()

    def reopen(self) -> None:
        """Stops what runs and opens the card afresh (OpenCard): clears its
        latch and forgets its lists. The way back after any failure."""
        number = self._open()
        with CALL_LOCK:
            self._stop_all()
            code = self._lib.OpenCard(number)
        self._forget()
        self._check(code, "OpenCard")

    def info(self) -> ModuleInfo:
        """The module's identification record."""
        record = _FlashInfoEx()
        customer = ctypes.create_string_buffer(8400)
        with CALL_LOCK:
            self._check(self._lib.ReadFlashDataEx(self._open(), ctypes.byref(record)),
                        "ReadFlashDataEx")
            self._check(self._lib.GetCustomerName(self._number, customer), "GetCustomerName")
        return ModuleInfo(
            name=record.IdentText1.decode("latin-1"),
            serial=record.IdentText2.decode("latin-1"),
            customer=customer.value.decode("latin-1"),
            analog_inputs=record.NumAdChannels,
            analog_outputs=record.NumDaChannels,
            digital_lines=record.NumDigitalLines,
            counters=record.NumCounters,
            max_rate_hz=record.MaxAdRateHz,
        )

    def set_input_mode(self, mode: InputMode) -> None:
        self._call("ConfigCard", InputMode(mode), 0, 0)

    # ---- Set-up ----

    def configure_scan(
        self,
        ai: Iterable[int] = (),
        ranges: Range | float | Sequence[Range | float] = Range.PM10V,
        counters: Iterable[int] = (),
        digital: Iterable[int] = (),
        digital_width: DigitalWidth | str = DigitalWidth.LINE,
        rate: int | None = None,
    ) -> None:
        """Sets up the scan list and its rate (scans per second): analog
        inputs ``ai`` with one range for all or one each, ``counters``, and
        digital entries (lines, 8-line or 16-line ports numbered 0, 1, 2, ...
        in that order, all of ``digital_width``). A scan holds the inputs,
        then the counters, then the digital entries; a list without analog
        inputs ends with input 0, which the library adds.

        Stops what runs, clears the lists, lists these and the outputs of
        configure_output again and completes the set-up (FinalInit). The
        lists are checked before any call and raise ValueError."""
        ai = _numbers(ai, "analog input numbers")
        if isinstance(ranges, (list, tuple, np.ndarray)):
            if len(ranges) != len(ai):
                raise ValueError(f"{len(ranges)} ranges for {len(ai)} analog inputs")
        else:
            ranges = [ranges] * len(ai)
        analog = tuple(zip(ai, (_range(r) for r in ranges)))
        counters = _numbers(counters, "counter numbers", 0, 15)
        digital = _numbers(digital, "digital entries")
        try:
            width = DigitalWidth[digital_width.upper()] if isinstance(digital_width, str) \
                else DigitalWidth(digital_width)
        except (KeyError, ValueError):
            raise ValueError(f"{digital_width!r} is not a digital width: line, byte or word") \
                from None
        if digital != tuple(range(len(digital))):
            raise ValueError("digital entries are read by their position: list lines or ports "
                             f"0, 1, 2, ... in that order, not {list(digital)}")
        if len(ai) > 16 or len(counters) > 16 or len(ai) + len(counters) + len(digital) > 49:
            raise ValueError("a scan list holds at most 16 analog inputs, 16 counters and 49 "
                             "entries")
        empty = not (ai or counters or digital)
        rate = 0 if empty and rate is None else _rate(rate, 10, "the scan rate")
        self._apply(_ScanList(analog, counters, digital, width, rate), self._outputs)

    def configure_output(self, ao: Iterable[int], rate: int) -> None:
        """Sets up streamed output: the outputs of a frame, in order, and
        the frame rate (frames per second; rate x outputs at most 1000). Like
        configure_scan, it sets up both lists again."""
        channels = _numbers(ao, "output numbers")
        rate = _rate(rate, 1, "the frame rate") if channels else 0
        self._apply(self._inputs, (channels, rate))

    # ---- Capture ----

    def start_capture(self) -> None:
        """Starts the configured capture; scans are numbered from 0 again."""
        self._call("StartADCapture")
        self._delivered = 0

    def stop_capture(self) -> None:
        """Stops the capture; a new one needs configure_scan again."""
        self._call("StopADCapture", checked=False)

    @property
    def capture_running(self) -> bool:
        """True while an acquisition (capture or memory measurement) runs."""
        with CALL_LOCK:
            return self._lib.GetMemoryMeasurementStatus(self._open()) != MemoryState.NOT_RUNNING

    @property
    def scans_waiting(self) -> int:
        return self._numbered("GetADBufferStatus")

    @property
    def scans_delivered(self) -> int:
        """Scans read since the capture started."""
        return self._delivered

    def read(
        self, scans: int, scaled: bool = True, *, timeout: float | None = None,
        out: np.ndarray | None = None,
    ) -> np.ndarray:
        """The next ``scans`` scans of the capture, shaped (scans, slots) in
        the order of ``slot_names``: volts for analog slots (range applied)
        and counter and digital values as numbers, float64; with
        ``scaled=False`` raw values, uint32 (16-bit codes for analog slots).

        Waits for the scans at most ``timeout`` seconds (default: their time
        at the scan rate plus 10 s), polling without holding the lock, then
        raises ReadTimeout with the scans that came. ``out``, an array of the
        result's shape and type, is filled instead of a new one. Raises
        CaptureError, naming the last good scan, when the card latches."""
        width = len(self._slots)
        if not width:
            raise RuntimeError("configure_scan() a scan list before reading")
        scans = operator.index(scans)
        if scans < 0:
            raise ValueError("a read asks for 0 scans or more")
        dtype = np.float64 if scaled else np.uint32
        if out is None:
            out = np.empty((scans, width), dtype)
        elif out.shape != (scans, width) or out.dtype != dtype or not out.flags.c_contiguous \
                or not out.flags.writeable:
            raise ValueError(f"out must be a writeable C-contiguous {np.dtype(dtype)} array "
                             f"shaped ({scans}, {width})")
        if not scans:
            return out
        address, row = ctypes.addressof(ctypes.c_char.from_buffer(out)), out.strides[0]
        got = self._read_once(address, min(scans, _MAX_SCANS_PER_CALL), scaled)
        deadline = None
        while got < scans:
            missing_time = (scans - got) / self._inputs.rate
            now = time.monotonic()
            if deadline is None:
                deadline = now + (missing_time + 10.0 if timeout is None else timeout)
            elif now >= deadline:
                raise ReadTimeout(f"only {got} of {scans} scans came from card {self._number} in "
                                  "time; is the capture started?", out[:got])
            time.sleep(min(max(missing_time, 0.001), 0.02))
            got += self._read_once(address + got * row, min(scans - got, _MAX_SCANS_PER_CALL),
                                   scaled)
        return out

    def blocks(
        self, scans: int = 1000, *, count: int | None = None, scaled: bool = True,
        timeout: float | None = None,
    ) -> Iterator[Block]:
        """Blocks of ``scans`` scans of the running capture, each a new array
        with the number of its first scan, until ``count`` scans were
        delivered (forever when None). Reads as read() does."""
        scans = operator.index(scans)
        if scans < 1:
            raise ValueError("a block holds 1 scan or more")

        def generate() -> Iterator[Block]:
            remaining = count
            while remaining is None or remaining > 0:
                n = scans if remaining is None else min(scans, remaining)
                first = self._delivered
                yield Block(first, self.read(n, scaled, timeout=timeout), self.slot_names)
                if remaining is not None:
                    remaining -= n

        return generate()

    # ---- Streamed output ----

    def start_output(self) -> None:
        self._call("StartDAOutput")

    def stop_output(self) -> None:
        self._call("StopDAOutput", checked=False)

    @property
    def free_frames(self) -> int:
        """Room for frames in the library's output ring."""
        return self._numbered("GetDAFreeBufferSpace")

    def write_ao(self, frames, *, wait: bool = True, timeout: float = 5.0) -> int:
        """Writes frames, shaped (frames, outputs), to the output ring: volts
        (PutScaledData), or 16-bit codes when the array is uint16
        (PutBinaryData). A 1-D array serves a single output.

        ``wait=False`` is the library's mode 0: it takes the frames that fit
        now and returns how many. ``wait=True`` takes them all, each part in
        the library's mode 1 as soon as the ring has room for it, waiting for
        room without holding the lock; it raises QuorvexError when no room
        came for ``timeout`` seconds. The card's worker sends the ring to the
        module in whole blocks (32 codes, 256 on high-speed modules)."""
        width = len(self._outputs[0])
        if not width:
            raise RuntimeError("configure_output() before writing output")
        data = np.asarray(frames)
        raw = data.dtype == np.uint16
        data = np.ascontiguousarray(data, dtype=np.uint16 if raw else np.float64)
        if data.ndim == 1 and width == 1:
            data = data.reshape(-1, 1)
        if data.ndim != 2 or data.shape[1] != width:
            raise ValueError(f"frames are shaped (frames, {width}): one column per output")
        total = data.shape[0]
        address, row = data.ctypes.data, data.strides[0]
        if not wait:
            return self._put(address, total, raw, 0) if total else 0
        done = 0
        deadline = None
        while done < total:
            room = self.free_frames
            if room > 0:
                done += self._put(address + done * row, min(total - done, room), raw, 1)
                deadline = None
                continue
            now = time.monotonic()
            if deadline is None:
                deadline = now + timeout
            elif now >= deadline:
                raise QuorvexError(1, "PutBinaryData" if raw else "PutScaledData", self._number,
                                   f"no room came within {timeout} s; {done} of {total} frames "
                                   "were written; is the output started?")
            time.sleep(0.002)
        return total

    # ---- Single values ----

    def read_ai(self, channel: int, range: Range | float = Range.PM10V,
                mode: InputMode = InputMode.SINGLE_ENDED) -> Conversion:
        """One conversion of ``channel``: volts over the ±10 V span (the range
        is handed to the module, no factor applied) and the 16-bit code."""
        volts, code = ctypes.c_double(), ctypes.c_uint32()
        self._call("CaptureOneChannel", channel, InputMode(mode), _range(range),
                   ctypes.byref(volts), ctypes.byref(code))
        return Conversion(volts.value, code.value)

    def set_voltage(self, channel: int, volts: float) -> None:
        """Sets one analog output now (-10 V .. +10 V)."""
        self._call("PutOneChannel", channel, 0, volts)

    # ---- Digital lines and ports ----
    # The library's reads of lines and ports do not read: capture the lines
    # as digital entries of a scan list instead.

    def set_direction(self, line: int, direction: Direction) -> None:
        self._call("SetDigitalDirection", line, Direction(direction))

    def set_port_direction(self, first_line: int, count: int, direction: Direction) -> None:
        self._call("SetDigitalPortDirection", first_line, count, Direction(direction))

    def write_line(self, line: int, high: bool) -> None:
        self._call("WriteDigitalBit", line, 1 if high else 0)

    def write_port(self, first_line: int, count: int, value: int) -> None:
        """Writes lines first_line .. first_line + count - 1 from the low bits
        of ``value``."""
        self._call("WriteDigitalPort", first_line, count, value)

    # ---- Counters ----

    def configure_counter(self, counter: int, mode: int, setting3: int = 0, setting4: int = 0,
                          flags: Sequence[int] = (0, 0, 0, 0), setting9: int = 0) -> None:
        """Mode 0, 1 (frequency measurement), 2 and 3 (counter modules) or 5,
        with the settings the module takes (flags: four 0/1 values). Configure
        after configure_scan: setting up resets the counters' factors."""
        if len(flags) != 4:
            raise ValueError("a counter takes four flags")
        self._call("ConfigureCounterInput", counter, mode, setting3, setting4, *flags, setting9)

    def start_counter_reading(self) -> None:
        """Starts the configured acquisition with counter reading on."""
        self._call("StartCTforRead")

    def read_counter(self, position: int) -> int:
        """The newest value of the counter at ``position`` of the scan list's
        counters, times its factor (10 for frequency measurement)."""
        value = ctypes.c_uint32()
        self._call("ReadCounterValue", position, ctypes.byref(value))
        return value.value

    # ---- Memory measurements ----

    def start_memory(self, target_scans: int = 0) -> None:
        """Starts the configured acquisition as a memory measurement with a
        target of scans (0: none)."""
        with CALL_LOCK:
            self._check(self._lib.StartMemoryMeasurement(self._open(), 1, target_scans, 5),
                        "StartMemoryMeasurement")

    def memory_status(self) -> MemoryState:
        with CALL_LOCK:
            code = self._lib.GetMemoryMeasurementStatus(self._open())
        if code not in MemoryState._value2member_map_:
            raise QuorvexError(code, "GetMemoryMeasurementStatus", self._number)
        return MemoryState(code)

    def read_memory(self, max_scans: int = _MAX_SCANS_PER_CALL) -> np.ndarray:
        """What waits of a memory measurement, up to ``max_scans`` scans (at
        most 10000), shaped (scans, slots) in volts as read() gives them.
        Never waits."""
        width = len(self._slots)
        if not width:
            raise RuntimeError("configure_scan() a scan list before reading")
        out = np.empty((min(max(operator.index(max_scans), 1), _MAX_SCANS_PER_CALL), width))
        with CALL_LOCK:
            self._check(self._lib.GetScaledDataFromMemoryMeasurement(
                self._open(), 0, width, out.shape[0], out.ctypes.data, 0, self._count_p),
                "GetScaledDataFromMemoryMeasurement")
            return out[:max(self._count.value, 0)]

    def stop_memory(self) -> None:
        with CALL_LOCK:
            self._check(self._lib.StopMemoryMeasurement(self._open()), "StopMemoryMeasurement")

    # ---- Inside ----

    def _forget(self) -> None:
        self._inputs = _ScanList()
        self._outputs: tuple[tuple[int, ...], int] = ((), 0)
        self._slots: tuple[Slot, ...] = ()
        self._delivered = 0

    def _open(self) -> int:
        if self._number is None:
            raise ValueError("the card is closed")
        return self._number

    def _check(self, code: int, call: str) -> None:
        if code:
            raise QuorvexError(code, call, self._number)

    def _stop_all(self) -> bool:
        """Stops capture and output; the caller holds CALL_LOCK. A latched
        card cannot be selected: its acquisition is then stopped through its
        number. True when the card was selected."""
        lib, number = self._lib, self._number
        if lib.SwitchCard(number) != 0:
            lib.StopMemoryMeasurement(number)
            return False
        lib.StopADCapture()
        if self._outputs[0]:
            lib.StopDAOutput()
        return True

    def _select(self) -> None:
        """Makes the card current; the caller holds CALL_LOCK."""
        number = self._open()
        code = self._lib.SwitchCard(number)
        if code == 1:
            raise LatchedError(number)
        self._check(code, "SwitchCard")

    def _call(self, name: str, *arguments, checked: bool = True) -> None:
        """One call on the selected card; its result is not read for the
        stops, which report none."""
        function = getattr(self._lib, name)
        with CALL_LOCK:
            self._select()
            code = function(*arguments)
        if checked:
            self._check(code, name)

    def _numbered(self, name: str) -> int:
        """One call that takes the card number and reports a count."""
        with CALL_LOCK:
            code = getattr(self._lib, name)(self._open(), self._count_p)
            value = self._count.value
        self._check(code, name)
        return max(value, 0)

    def _apply(self, inputs: _ScanList, outputs: tuple[tuple[int, ...], int]) -> None:
        lib, check = self._lib, self._check
        with CALL_LOCK:
            self._select()
            lib.StopADCapture()
            if self._outputs[0]:
                lib.StopDAOutput()
            self._forget()
            check(lib.ClearChannelLists(), "ClearChannelLists")
            for channel, input_range in inputs.analog:
                check(lib.Add_AD_Channel_to_ScanList(channel, 0, input_range, 0),
                      "Add_AD_Channel_to_ScanList")
            for counter in inputs.counters:
                check(lib.Add_CT_Channel_to_ScanList(counter), "Add_CT_Channel_to_ScanList")
            for entry in inputs.digital:
                check(lib.Add_Dig_Channel_to_ScanList(entry, inputs.width),
                      "Add_Dig_Channel_to_ScanList")
            if inputs.rate:
                check(lib.SetADFrequency(inputs.rate), "SetADFrequency")
            for channel in outputs[0]:
                check(lib.Add_DA_Channel_to_ScanList(channel), "Add_DA_Channel_to_ScanList")
            if outputs[0]:
                check(lib.SetDAFrequency(outputs[1]), "SetDAFrequency")
            check(lib.FinalInit(), "FinalInit")
        self._inputs, self._outputs, self._slots = inputs, outputs, inputs.slots()

    def _read_once(self, address: int, scans: int, scaled: bool) -> int:
        """One read of what waits, up to ``scans``, at ``address``. The data
        path of every capture: kept to the two C calls."""
        number, lib, count = self._number, self._lib, self._count
        if number is None:
            raise ValueError("the card is closed")
        count.value = scans
        with CALL_LOCK:
            if lib.SwitchCard(number):
                raise CaptureError(number, "SwitchCard", self._delivered)
            if scaled:
                code = lib.GetScaledData(0, address, self._count_p, 0)
            else:
                code = lib.GetBinaryData(address, self._count_p, 0)
        if code:
            call = "GetScaledData" if scaled else "GetBinaryData"
            if code == 1:
                raise CaptureError(number, call, self._delivered)
            raise QuorvexError(code, call, number)
        self._delivered += count.value
        return count.value

    def _put(self, address: int, frames: int, raw: bool, mode: int) -> int:
        width = len(self._outputs[0])
        self._count.value = frames
        with CALL_LOCK:
            self._select()
            if raw:
                call, code = "PutBinaryData", self._lib.PutBinaryData(address, width,
                                                                      self._count_p, mode)
            else:
                call, code = "PutScaledData", self._lib.PutScaledData(0, address, width,
                                                                      self._count_p, mode)
        self._check(code, call)
        return max(self._count.value, 0)


def version() -> LibraryVersion:
    """The library's version."""
    lib = LIB.handle()
    text = ctypes.create_string_buffer(20)
    numbers = [ctypes.c_int32() for _ in range(3)]
    with CALL_LOCK:
        lib.GetDLLVersion(text, *(ctypes.byref(n) for n in numbers))
    return LibraryVersion(text.raw.split(b"\0")[0].decode("latin-1"), *(n.value for n in numbers))
