# SPDX-License-Identifier: MIT
# tarvex-sim --unplug-after 3: the emulator goes away after the third transfer, in the middle of
# the second block of a download.
import pytest

import tarvex
from logcheck import needs_fault

needs_fault("unplug-after")


def test_a_cut_download_says_how_far_it_got():
    with tarvex.open(rom="27C512") as e:  # the ROM size command is transfer 1
        img = tarvex.Image.from_bytes(bytes(range(256)) * 256)
        with pytest.raises(tarvex.TransferError) as cut:
            e.write(img)  # block 0's command and data are transfers 2 and 3
        err = cut.value
        assert (err.blocks_done, err.blocks_total) == (1, 2)
        text = str(err)
        assert text.startswith("The transfer to the Device failed")
        assert text.endswith("1 of 2 blocks written; the emulator now holds a mix of the old and the new image")
        assert err.cause and err.cause in text
        assert err.error in ("device gone", "no device", "other")
        # The emulator is gone now: nothing more reaches it.
        with pytest.raises(tarvex.NotFound):
            e.write_changed(img)
