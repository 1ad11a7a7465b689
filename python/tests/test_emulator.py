# SPDX-License-Identifier: MIT
# tarvex.find, tarvex.open and Emulator against two simulated emulators (tarvex-sim -n 2
# --serial A1B2,C3D4 --log FILE), each step checked in the transfer log the emulator saw.
import os
import random
import threading

import pytest

import tarvex
from logcheck import BLOCK, commands, sha_of_block, written_blocks

if "UMOCKDEV_DIR" not in os.environ:
    pytest.skip("needs the simulated emulators: run through ctest or tarvex-sim", allow_module_level=True)


def random_image(size, seed, fill=0x00):
    return tarvex.Image.from_bytes(random.Random(seed).randbytes(size), fill=fill)


@pytest.fixture
def emu():
    with tarvex.open(0, rom="27C256") as e:
        yield e


def test_find_lists_both_emulators_as_tarvexctl_does():
    assert tarvex.find() == [
        tarvex.EmulatorInfo(0, "1-1", "0547:2131", "A1B2", True, None),
        tarvex.EmulatorInfo(1, "1-2", "0547:2131", "C3D4", True, None),
    ]


@pytest.mark.parametrize("device", [1, "1", "port:1-2", "1-2", "serial:C3D4", "C3D4"])
def test_every_selector_reaches_the_same_emulator(simlog, device):
    with tarvex.open(device) as e:
        mark = simlog.mark()
        e.reset()
        assert commands(simlog.since(mark)) == [(1, "reset", 0)]


def test_selectors_that_match_nothing_or_two_readings(simlog):
    mark = simlog.mark()
    with pytest.raises(tarvex.NotFound) as e:
        tarvex.open("serial:NOPE")
    text = str(e.value)
    assert text.startswith("Could not open the Device")
    assert "the emulator with serial number NOPE" in text and "port:1-1  0547:2131  serial:A1B2" in text
    assert e.value.error == "no device" and e.value.device == "serial:NOPE"
    with pytest.raises(tarvex.NotFound, match="none|attached"):
        tarvex.open(3)
    with pytest.raises(ValueError, match="reads as emulator number 1 and as a serial number"):
        tarvex.open("0001")
    with pytest.raises(ValueError, match="twice"):
        tarvex.open(pair=("1", 1))
    with pytest.raises(ValueError, match="together"):
        tarvex.open(0, pair=(0, 1))
    assert simlog.since(mark) == []


def test_rom_type_sends_its_size_command(emu, simlog):
    assert emu.rom == "27C256"
    mark = simlog.mark()
    emu.rom = 7
    emu.rom = "27c010"
    assert emu.rom == "27C010"
    assert commands(simlog.since(mark)) == [(0, "rom", 0x7F), (0, "rom", 0x0F)]
    with pytest.raises(ValueError, match="unknown ROM type"):
        emu.rom = "27C999"
    with pytest.raises(ValueError, match="not 0 to 7"):
        emu.rom = 8
    assert emu.rom == "27C010"


def test_write_read_verify_round_trip(emu, simlog):
    img = random_image(32768, 1)
    mark = simlog.mark()
    emu.write(img, verify=True)
    transfers = simlog.since(mark)
    assert written_blocks(transfers) == [(0, 0, sha_of_block(img, 0))]
    assert commands(transfers)[-1] == (0, "read", 0)  # the read-back
    back = emu.read()
    assert bytes(back[0:32768]) == bytes(img[0:32768])
    assert back.count == 32768 and back.ranges == [(0, 32767)] and back[32768] == 0
    assert emu.verify(img) == []
    other = img.copy()
    other[5] ^= 0xFF
    other[100:103] = bytes(b ^ 1 for b in img[100:103])
    assert emu.verify(other) == [tarvex.Range(5, 5), tarvex.Range(100, 102)]


def test_write_changed_sends_only_the_blocks_that_differ(simlog):
    with tarvex.open(0, rom="27C080") as e:
        img = random_image(1048576, 2)
        mark = simlog.mark()
        assert e.write_changed(img) == list(range(32))  # nothing known yet: everything
        assert [b for _, b, _ in written_blocks(simlog.since(mark))] == list(range(32))
        mark = simlog.mark()
        assert e.write_changed(img) == []
        assert simlog.since(mark) == []  # not even a command
        img[3 * BLOCK + 7] ^= 1
        img[30 * BLOCK] ^= 1
        img[30 * BLOCK + BLOCK - 1] ^= 1
        mark = simlog.mark()
        assert e.write_changed(img) == [3, 30]
        assert written_blocks(simlog.since(mark)) == [(0, 3, sha_of_block(img, 3)), (0, 30, sha_of_block(img, 30))]
        assert e.verify(img) == []


def test_write_changed_after_a_whole_write_knows_what_was_sent(emu, simlog):
    img = random_image(32768, 3)
    emu.write(img)
    mark = simlog.mark()
    assert emu.write_changed(img) == []
    img[0] ^= 0x80
    assert emu.write_changed(img) == [0]
    assert written_blocks(simlog.since(mark)) == [(0, 0, sha_of_block(img, 0))]


def test_patch_keeps_the_rest_of_what_was_written(emu, simlog):
    emu.rom = "27C512"
    img = random_image(65536, 4)
    emu.write(img)
    mark = simlog.mark()
    assert emu.patch(0x7FFE, b"\x11\x22\x33\x44") == [0, 1]
    expected = img.copy()
    expected[0x7FFE:0x8002] = b"\x11\x22\x33\x44"
    transfers = simlog.since(mark)
    assert [t.out for t in transfers] == [True] * 4  # nothing read back: it knew the blocks
    assert written_blocks(transfers) == [(0, 0, sha_of_block(expected, 0)), (0, 1, sha_of_block(expected, 1))]
    assert emu.verify(expected) == []
    # And write_changed builds on the patch.
    assert emu.write_changed(expected) == []


def test_patch_reads_the_block_back_when_it_does_not_know_it(simlog):
    with tarvex.open(0, rom="27C512") as first:
        img = random_image(65536, 5)
        first.write(img)
    with tarvex.open(0) as e:
        e.rom = "27C512"  # a new Emulator: it has sent nothing
        mark = simlog.mark()
        assert e.patch(0x8010, b"\xAB") == [1]
        transfers = simlog.since(mark)
        assert commands(transfers) == [(0, "read", 1), (0, "write", 1)]
        img[0x8010] = 0xAB
        assert written_blocks(transfers) == [(0, 1, sha_of_block(img, 1))]
        assert e.verify(img) == []


def test_patch_beyond_the_rom_is_refused(emu, simlog):
    mark = simlog.mark()
    with pytest.raises(ValueError, match="beyond the 32768 bytes of the 27C256"):
        emu.patch(32767, b"\x00\x00")
    assert simlog.since(mark) == []
    assert emu.patch(0, b"") == []


def test_data_beyond_the_default_rom_is_refused_until_rom_is_set(simlog):
    img = random_image(32768, 6)
    with tarvex.open(0) as e:
        assert e.rom == "27C64"
        mark = simlog.mark()
        with pytest.raises(tarvex.RomTooSmall, match='up to 0x7fff.*27C64: set rom = "27C256" first'):
            e.write(img)
        with pytest.raises(ValueError):
            e.write_changed(img)
        with pytest.raises(tarvex.RomTooSmall):
            e.verify(img)
        assert simlog.since(mark) == []
        e.rom = "27C128"  # set on purpose: the rest is left out, and said
        with pytest.warns(UserWarning, match="beyond the 16384 bytes of the 27C128"):
            e.write(img)
        assert e.read()[0:16384] == img[0:16384]


def test_run_stop_reset_send_their_commands(emu, simlog):
    mark = simlog.mark()
    emu.stop()
    emu.run()
    emu.reset()
    assert commands(simlog.since(mark)) == [(0, "run", 0), (0, "run", 1), (0, "reset", 0)]


def test_write_verify_raises_when_the_read_back_differs(emu):
    # A 27C64 takes a whole block, yet only its 8 KiB count: the read-back compares those.
    emu.rom = "27C64"
    img = random_image(8192, 7)
    emu.write(img, verify=True)
    assert emu.verify(img) == []


def test_progress_is_called_per_block_and_its_exception_follows(emu):
    emu.rom = "27C512"
    calls = []
    emu.progress = lambda position, total: calls.append((position, total))
    emu.write(random_image(65536, 8))
    assert calls == [(0, 2), (1, 2), (2, 2), (2, 2)]

    def broken(position, total):
        calls.append(position)
        raise KeyError("from the callback")

    calls.clear()
    emu.progress = broken
    with pytest.raises(KeyError, match="from the callback"):
        emu.write(random_image(65536, 9))
    assert calls == [0]  # called once, then no more; the write itself went through
    emu.progress = None
    assert emu.verify(random_image(65536, 9)) == []
    with pytest.raises(TypeError):
        emu.progress = 5


def test_other_threads_run_while_a_transfer_waits(simlog):
    # The GIL is let go during transfers: a Python thread counts on while a whole 27C080 moves.
    with tarvex.open(0, rom="27C080") as e:
        started = threading.Event()
        seen = []

        def progress(position, total):
            started.set()
            seen.append(counter[0])

        counter = [0]
        stop = threading.Event()

        def count():
            started.wait(10)
            while not stop.is_set():
                counter[0] += 1

        t = threading.Thread(target=count)
        t.start()
        e.progress = progress
        try:
            e.write(random_image(1048576, 10))
        finally:
            stop.set()
            t.join()
        assert len(seen) == 34 and seen[-1] > seen[1]


def test_closed_emulator_refuses(simlog):
    e = tarvex.open(0)
    e.close()
    assert e.closed
    mark = simlog.mark()
    with pytest.raises(ValueError, match="closed"):
        e.reset()
    assert simlog.since(mark) == []


def test_pair_puts_even_bytes_on_the_first_and_odd_on_the_second(simlog):
    img = random_image(65536, 11)
    with tarvex.open(pair=(0, "serial:C3D4"), rom="27C256") as p:
        assert p.is_pair and p.device == "0,serial:C3D4"
        mark = simlog.mark()
        p.write(img, verify=True)
        even, odd = bytes(img[0:65536:2]), bytes(img[1:65536:2])
        blocks = written_blocks(simlog.since(mark))
        assert blocks == [(0, 0, sha_of_block(even, 0)), (1, 0, sha_of_block(odd, 0))]
        back = p.read()
        assert back.count == 65536 and bytes(back[0:65536]) == bytes(img[0:65536])
        img[1] ^= 0xFF
        mark = simlog.mark()
        assert p.write_changed(img) == ([], [0])
        assert [(d, b) for d, b, _ in written_blocks(simlog.since(mark))] == [(1, 0)]
        assert p.patch(0x100, b"\x01\x02\x03") == ([0], [0])
        img[0x100:0x103] = b"\x01\x02\x03"
        assert p.verify(img) == []
        with pytest.raises(ValueError, match="2 MiB"):
            p.rom = "27C080"


def test_pair_failure_names_the_emulator_of_the_pair():
    with pytest.raises(tarvex.NotFound, match=r"it was emulator 3 \(odd bytes\) of the pair"):
        tarvex.open(pair=(0, 3))


def test_hold_keeps_other_programs_out_between_operations(emu, simlog):
    img = random_image(32768, 12)
    with emu.hold() as held:
        assert held is emu
        with pytest.raises(tarvex.Busy):
            tarvex.open(0)  # another Emulator: another program as far as the kernel knows
        mark = simlog.mark()
        emu.stop()
        assert emu.write_changed(img) == [0]
        emu.run()
        emu.reset()
        assert commands(simlog.since(mark)) == [(0, "run", 0), (0, "write", 0), (0, "run", 1), (0, "reset", 0)]
    with tarvex.open(0, rom="27C256") as other:  # let go at the end of the block
        assert other.verify(img) == []


def test_hold_of_a_pair_holds_both():
    with tarvex.open(pair=(0, 1)) as p, p.hold():
        for device in (0, 1):
            with pytest.raises(tarvex.Busy):
                tarvex.open(device)
    tarvex.open(1).close()
