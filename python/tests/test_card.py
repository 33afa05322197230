"""The package against the simulated module."""

import contextlib
import ctypes
import importlib.util
import os
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import numpy as np
import pytest

import quorvex
from quorvex import Direction, MemoryState, Range

PACKAGE_DIR = Path(quorvex.__file__).resolve().parent.parent
CHECKOUT = PACKAGE_DIR.parent
STEP = 5 / 16384  # volts per code


def expected(sim, card, count, scaled):
    """What the reads deliver in pattern mode: the slots of card.slots."""
    columns, entries = [], {"ai": 0, "ct": 0}
    for slot in card.slots:
        if slot.kind == "di":
            lines = {"line": 1, "byte": 8, "word": 16}[slot.unit]
            words = sim.pattern("di", slot.channel * lines // 16, 0, count)
            columns.append((words >> (slot.channel * lines % 16)) & ((1 << lines) - 1))
            continue
        codes = sim.pattern(slot.kind, entries[slot.kind], 0, count)
        entries[slot.kind] += 1
        volts = slot.kind == "ai" and scaled
        columns.append((codes * STEP - 10.0) * slot.range.full_scale / 10 if volts else codes)
    return np.stack(columns, axis=1).astype(np.float64 if scaled else np.uint32)


def until(condition, limit=5.0):
    end = time.monotonic() + limit
    while not condition():
        assert time.monotonic() < end, "waited in vain"
        time.sleep(0.005)


LISTS = {
    "mixed": dict(ai=[0, 1, 2, 3], ranges=[10, 5, 2.5, 1.25], counters=[0, 1], digital=[0, 1],
                  digital_width="byte"),
    "analog": dict(ai=[5, 2], ranges=Range.PM2V5),
    "no analog input": dict(counters=[3], digital=[0, 1, 2]),
}


@pytest.mark.parametrize("scaled", [True, False], ids=["scaled", "raw"])
@pytest.mark.parametrize("lists", LISTS.values(), ids=LISTS)
def test_a_capture_reads_back_the_pattern_exactly(sim, lists, scaled):
    sim.set_clock(0)
    sim.set_pattern(0)
    with quorvex.Card(0) as card:
        card.configure_scan(rate=1000, **lists)
        card.start_capture()
        sim.advance(0, 10_500)
        # The first block is more than one read of the library; blocks number
        # their scans without a gap.
        blocks = list(card.blocks(10_400, count=10_500, scaled=scaled))
        assert [(b.first_scan, b.scans) for b in blocks] == [(0, 10_400), (10_400, 100)]
        data = np.concatenate([b.data for b in blocks])
        np.testing.assert_array_equal(data, expected(sim, card, 10_500, scaled))
        assert blocks[1].column(card.slot_names[-1]).tolist() == data[10_400:, -1].tolist()


@pytest.mark.parametrize("wait", [True, False], ids=["mode 1", "mode 0"])
@pytest.mark.parametrize("raw", [False, True], ids=["volts", "codes"])
def test_output_reaches_the_module_in_order(sim, raw, wait):
    codes = (np.arange(128, dtype=np.uint16) * 499 + 300).reshape(64, 2)
    volts = codes * STEP - 10.0
    sent = codes if raw else np.trunc((volts + 10.0) * 3276.8).astype(np.uint16)
    sim.set_da_clock(0)
    with quorvex.Card(0) as card:
        card.configure_output(ao=[0, 1], rate=500)
        assert card.write_ao(codes if raw else volts, wait=wait) == 64
        card.start_output()
        until(lambda: sim.da_advance(0, 64) or sim.da_record(0, 0, 128).size == 128)
    np.testing.assert_array_equal(sim.da_record(0, 0, 128), sent.ravel())


def test_errors_carry_the_status_the_call_and_the_message(sim):
    sim.set_module(5, "absent")
    with quorvex.Card(0) as card:
        cases = [
            (lambda: quorvex.Card(16), 2, "OpenCard", "QVX_ARGUMENT"),
            (lambda: quorvex.Card(5), 1, "OpenCard", "QVX_FAILURE"),
            (lambda: card.configure_output(ao=[0], rate=2000), 2, "SetDAFrequency", "QVX_ARGUMENT"),
            (card.start_capture, 1, "SwitchCard", "QVX_FAILURE"),  # latched by the rate
        ]
        for action, code, call, name in cases:
            with pytest.raises(quorvex.QuorvexError) as caught:
                action()
            assert (caught.value.code, caught.value.call, caught.value.name) == (code, call, name)
        assert isinstance(caught.value, quorvex.LatchedError)
        assert "an argument is out of range" in quorvex.status_message(2)
        assert sim.lib.kestro_sim_call_count(b"ZQ7_AD_Start") == 0
        card.reopen()
        card.configure_scan(ai=[0], rate=1000)
        card.start_capture()
        assert sim.running(0) == (True, False)


@pytest.mark.parametrize("lists", [
    dict(digital=[1]), dict(digital=[0, 2]), dict(ai=[-1]), dict(ai=[0, 1], ranges=[10]),
    dict(ai=[0], ranges=3), dict(ai=range(17)), dict(counters=[16]), dict(ai=[0], rate=None),
    dict(ai=[0], rate=9), dict(digital=[0], digital_width="nibble"),
])
def test_lists_are_checked_before_any_call(sim, lists):
    with quorvex.Card(0) as card:
        with pytest.raises(ValueError):
            card.configure_scan(**{"rate": 1000, **lists})
    assert sim.lib.kestro_sim_call_count(b"ZQ7_AD_AddChannellist") == 0


# A latch during a capture names the last scan delivered intact.
@pytest.mark.parametrize("ending", ["normal", "exception", "latch"])
def test_a_with_block_leaves_no_card_open_and_no_thread_running(sim, ending):
    threads = len(os.listdir("/proc/self/task"))
    sim.set_clock(0)
    with pytest.raises(KeyError) if ending == "exception" else contextlib.nullcontext():
        with quorvex.Card(0) as card:
            card.configure_scan(ai=[0, 1], rate=1000)
            card.configure_output(ao=[0], rate=100)
            card.write_ao(np.zeros(64))
            card.start_output()
            card.start_capture()
            assert sim.running(0) == (True, True)
            if ending == "latch":
                sim.advance(0, 1000)
                assert card.read(1000).shape == (1000, 2)
                sim.fail("ZQ7_AD_ReadData_MixedChannels", -1)
                sim.advance(0, 10)
                with pytest.raises(quorvex.CaptureError) as caught:
                    card.read(10, timeout=5)
                assert (caught.value.code, caught.value.last_good_scan) == (1, 999)
                assert "scans 0 to 999 were delivered intact" in str(caught.value)
            if ending == "exception":
                raise KeyError("body")
    assert (sim.is_open(0), sim.running(0), sim.ad_list_length(0)) == (False, (False, False), 0)
    assert len(os.listdir("/proc/self/task")) == threads


def test_threads_keep_to_their_cards_and_waits_hold_no_lock(sim):
    sim.set_clock(2)
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # so that the threads interleave anywhere
    try:
        with ThreadPoolExecutor(2) as pool, quorvex.Card(0) as a, quorvex.Card(1) as b, \
                quorvex.Card(2) as waiting:
            waiting.configure_scan(ai=[0], rate=1000)
            waiting.start_capture()
            read = pool.submit(waiting.read, 10, timeout=20)  # waits on the held clock
            writer = pool.submit(lambda: [a.set_voltage(0, 5.0) for _ in range(2000)])
            for _ in range(2000):
                b.set_voltage(1, -5.0)
            writer.result()
            assert not read.done()  # a read that held the lock would have timed out
            sim.advance(2, 10)
            assert read.result(20).shape == (10, 1)
    finally:
        sys.setswitchinterval(interval)
    # A call that went to the other card would have set its other output.
    assert [sim.da_code(0, 0), sim.da_code(0, 1), sim.da_code(1, 0), sim.da_code(1, 1)] == [
        49152, 32768, 32768, 16384]


def test_single_values_lines_counters_and_information_reach_the_module(sim):
    with quorvex.Card(0) as card:
        card.set_voltage(1, 2.5)  # input 1 reads output 1 at power-on
        assert card.read_ai(1) == (2.5, 40960)
        card.set_direction(0, Direction.OUTPUT)
        card.set_port_direction(8, 8, Direction.OUTPUT)
        card.write_line(0, True)
        card.write_port(8, 8, 0xA5)
        assert sim.lib.kestro_sim_digital_output_word(0, 0) == 0xA501
        card.configure_counter(2, 1, setting3=7, setting4=3, flags=(1, 0, 0, 1), setting9=2)
        values = (ctypes.c_int32 * 10)()  # as the library hands them on
        assert sim.lib.kestro_sim_counter_config(0, 2, values) == 2
        assert list(values) == [1, 1, 0, 0, 7, 3, 0, 0, 1, 2]
        info = card.info()
        assert (info.name, info.analog_inputs, info.max_rate_hz) == ("KESTRO USB-AD16f", 16, 500000)


def test_a_memory_measurement_reads_its_scans(sim):
    sim.set_clock(0)
    sim.set_pattern(0)
    with quorvex.Card(0) as card:
        card.configure_scan(ai=[0, 1], rate=1000)
        card.start_memory(500)
        assert card.memory_status() == MemoryState.RUNNING
        sim.advance(0, 600)
        parts = []
        until(lambda: parts.append(card.read_memory()) or sum(map(len, parts)) == 600)
        np.testing.assert_array_equal(np.concatenate(parts), expected(sim, card, 600, True))
        assert card.memory_status() == MemoryState.TARGET_PASSED
        card.stop_memory()
        assert card.memory_status() == MemoryState.NOT_RUNNING


def run_python(*arguments, **environment):
    env = {**os.environ, "PYTHONPATH": str(PACKAGE_DIR), **environment}
    return subprocess.run([sys.executable, *arguments], env=env, capture_output=True, text=True,
                          timeout=120)


def test_a_missing_library_names_the_files_tried(tmp_path):
    missing = tmp_path / "libquorvex.so"
    result = run_python("-c", "import quorvex; quorvex.version()", QUORVEX_LIBRARY=str(missing))
    assert result.returncode != 0
    assert "LibraryNotFoundError" in result.stderr and f"{missing}: no such file" in result.stderr


def test_the_example_captures_and_plots(tmp_path):
    picture = tmp_path / "capture.png"
    result = run_python(str(CHECKOUT / "examples" / "python_capture.py"), str(picture))
    assert result.returncode == 0, result.stderr
    assert "ai0:" in result.stdout
    if importlib.util.find_spec("matplotlib"):
        assert picture.stat().st_size > 10_000
    else:
        assert "matplotlib is not installed" in result.stdout
