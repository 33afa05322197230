import pytest

from quorvex.sim import Simulator


@pytest.fixture
def sim():
    """The simulated module, back in its power-on state for every test."""
    simulator = Simulator()
    simulator.reset()
    yield simulator
    simulator.reset()
