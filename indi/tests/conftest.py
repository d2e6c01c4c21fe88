"""One indiserver with the driver per test module: started with the module's
SERVER_ARGUMENTS, with the module's DEVICE connected when it names one."""
import pytest

from indi_harness import IndiServer


@pytest.fixture(scope="module")
def server(request):
    with IndiServer(*getattr(request.module, "SERVER_ARGUMENTS", ())) as indi:
        device = getattr(request.module, "DEVICE", None)
        if device:
            indi.connect(device)
        yield indi
