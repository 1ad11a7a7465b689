# SPDX-License-Identifier: MIT
# tarvex-sim --deny-access: the device node may not be opened, as without the udev rules.
import pytest

import tarvex
from logcheck import needs_fault

needs_fault("deny-access")


def test_find_lists_it_as_unusable_with_the_reason():
    (info,) = tarvex.find()
    assert info.index == 0 and not info.usable and info.reason == "access denied"


def test_open_raises_access_denied_with_the_cause():
    with pytest.raises(tarvex.AccessDenied) as e:
        tarvex.open()
    text = str(e.value)
    assert text.splitlines()[0] == "Could not open the Device"
    assert e.value.cause and e.value.cause in text and "udev" in e.value.cause
    assert e.value.error == "access denied" and e.value.device == "0"
    assert isinstance(e.value, tarvex.Error) and not isinstance(e.value, tarvex.NotFound)
