# SPDX-License-Identifier: MIT
# The fixture of the tests that check the simulator's transfer log.
import os

import pytest

from logcheck import SimLog


@pytest.fixture
def simlog():
    path = os.environ.get("TARVEX_TEST_SIM_LOG")
    if not path:
        pytest.fail("TARVEX_TEST_SIM_LOG names no transfer log: run these tests through ctest "
                    "(tarvex-sim --log FILE -- python3 -m pytest ...)")
    return SimLog(path)
