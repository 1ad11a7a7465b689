# SPDX-License-Identifier: MIT
# tarvex-sim --busy: another program holds the emulator's interface.
import pytest

import tarvex
from logcheck import needs_fault

needs_fault("busy")


def test_find_lists_it_as_busy():
    (info,) = tarvex.find()
    assert not info.usable and info.reason == "busy"


def test_every_operation_raises_busy_and_sends_nothing():
    with pytest.raises(tarvex.Busy) as e:
        tarvex.open()
    assert e.value.cause and "another program is using Ezusb-0" in e.value.cause
    assert str(e.value) == "Could not open the Device\n" + e.value.cause
    assert e.value.error == "busy"
