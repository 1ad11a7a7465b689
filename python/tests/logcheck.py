# SPDX-License-Identifier: MIT
# The simulator's transfer log, read as the emulator saw it, and the faults a test file runs under.
import hashlib
import os
from typing import NamedTuple, Optional

import pytest

BLOCK = 32768
OPCODES = {0: "write", 1: "read", 2: "run", 3: "rom", 4: "reset"}


class Transfer(NamedTuple):
    seq: int
    device: int
    out: bool
    length: int
    head: bytes
    sha256: str
    fault: Optional[str]


class SimLog:
    """tarvex-sim --log FILE: one line per bulk transfer, as the emulator received it."""

    def __init__(self, path):
        self.path = path

    def _lines(self):
        with open(self.path) as f:
            return f.read().splitlines()

    def mark(self):
        return len(self._lines())

    def since(self, mark):
        transfers = []
        for line in self._lines()[mark:]:
            f = line.split()
            transfers.append(Transfer(int(f[0]), int(f[1][3:]), f[2] == "OUT", int(f[3]),
                                      bytes.fromhex(f[4]) if f[4] != "-" else b"", f[5],
                                      f[6] if len(f) > 6 else None))
        return transfers


def commands(transfers):
    """(device, command, parameter) of every command block."""
    return [(t.device, OPCODES[t.head[0]], t.head[1]) for t in transfers if t.out and t.length == 64]


def written_blocks(transfers):
    """(device, block, sha256 of its data) of every write command followed by its data block."""
    blocks = []
    for command, data in zip(transfers, transfers[1:]):
        if command.out and command.length == 64 and command.head[0] == 0:
            assert data.out and data.length == BLOCK and data.device == command.device, data
            blocks.append((command.device, command.head[1], data.sha256))
    return blocks


def sha_of_block(data, block):
    return hashlib.sha256(bytes(data[block * BLOCK:(block + 1) * BLOCK])).hexdigest()


def needs_fault(name):
    """Skips the calling module unless tarvex-sim runs with this fault (TARVEX_TEST_SIM_FAULT, set by
    its ctest)."""
    if os.environ.get("TARVEX_TEST_SIM_FAULT") != name:
        pytest.skip(f"runs under tarvex-sim --{name} (through ctest)", allow_module_level=True)
