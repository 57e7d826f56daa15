"""The package against the simulator: halvex-sim from the build (HALVEX_SIM
or PATH) and the library HALVEX32_LIBRARY names."""

import pytest

import halvex32


@pytest.fixture(params=["classic", "modern"])
def preset(request):
    return request.param


@pytest.fixture
def receiver(preset):
    with halvex32.Simulator(preset=preset) as simulator, halvex32.open(simulator.port) as rx:
        rx.identify(timeout=20)
        yield rx
