# SPDX-License-Identifier: MIT
# tarvex-sim --stall 4 --log FILE: the fourth transfer stalls, the command of a download's second block.
import pytest

import tarvex
from logcheck import needs_fault, written_blocks

needs_fault("stall")


def test_a_stalled_download_says_how_far_it_got_and_the_next_sends_everything(simlog):
    with tarvex.open(rom="27C512") as e:  # the ROM size command is transfer 1
        img = tarvex.Image.from_bytes(bytes(range(256)) * 256)
        with pytest.raises(tarvex.TransferError) as cut:
            e.write(img)  # block 0 is transfers 2 and 3, block 1's command the fourth
        err = cut.value
        assert (err.blocks_done, err.blocks_total) == (1, 2)
        assert err.error == "stall" and "stalled the transfer" in err.cause
        lines = str(err).splitlines()
        assert lines[0] == "The transfer to the Device failed"
        assert lines[1] == err.cause
        assert "state is unknown" in lines[2]
        assert lines[3] == "1 of 2 blocks written; the emulator now holds a mix of the old and the new image"
        # What the emulator holds is unknown now: the next changed-block download sends it all.
        mark = simlog.mark()
        assert e.write_changed(img) == [0, 1]
        assert [b for _, b, _ in written_blocks(simlog.since(mark))] == [0, 1]
        assert e.verify(img) == []
