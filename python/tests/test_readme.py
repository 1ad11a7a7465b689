# SPDX-License-Identifier: MIT
# The README's pytest rig, run as it stands against the simulated emulator, its transfers checked.
import os
import re
import subprocess
import sys

import pytest

import tarvex
from logcheck import commands, sha_of_block, written_blocks

if "UMOCKDEV_DIR" not in os.environ:
    pytest.skip("needs the simulated emulators: run through ctest or tarvex-sim", allow_module_level=True)

README = os.path.join(os.path.dirname(__file__), "..", "..", "README.md")
BASE = 0x08000000


def example():
    with open(README) as f:
        text = f.read()
    found = re.search(r"<!-- python-example[^>]*-->\n```python\n(.*?)```", text, re.S)
    assert found, "the README has no marked Python example"
    return found.group(1)


def ihex(data):
    """Intel HEX of `data` at BASE, as the firmware build would write it."""
    def record(kind, address, payload):
        body = bytes([len(payload), address >> 8, address & 0xFF, kind]) + payload
        return ":" + (body + bytes([-sum(body) & 0xFF])).hex().upper()
    lines = [record(4, 0, (BASE >> 16).to_bytes(2, "big"))]
    lines += [record(0, a, data[a:a + 16]) for a in range(0, len(data), 16)]
    return "\n".join(lines + [record(1, 0, b"")]) + "\n"


# The rig's own build step: the second build changes one byte.
CONFTEST = '''
import pytest

@pytest.fixture
def rebuild():
    def build():
        with open("build/fw.hex", "w") as f:
            f.write(SECOND)
    return build
'''


def test_the_readme_rig_writes_the_build_then_only_what_a_rebuild_changed(tmp_path, simlog):
    first = bytes(range(256)) * 8
    second = bytearray(first)
    second[0x456] ^= 0xFF
    (tmp_path / "build").mkdir()
    (tmp_path / "build" / "fw.hex").write_text(ihex(first))
    (tmp_path / "conftest.py").write_text(f"SECOND = {ihex(bytes(second))!r}\n" + CONFTEST)
    (tmp_path / "test_rig.py").write_text(example())
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(os.path.abspath(tarvex.__file__))))
    mark = simlog.mark()
    run = subprocess.run([sys.executable, "-m", "pytest", "-q", "-s", "-p", "no:cacheprovider", "test_rig.py"],
                         cwd=tmp_path, env=env, capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stdout + run.stderr
    transfers = simlog.since(mark)
    assert commands(transfers)[0] == (0, "rom", 0x03)
    assert commands(transfers)[-1] == (0, "reset", 0)
    sent = re.search(r"blocks sent: (\[.*?\])", run.stdout)
    assert sent, run.stdout
    assert sent.group(1) == "[0]"
    image = tarvex.Image.from_bytes(bytes(second))
    assert written_blocks(transfers)[-1] == (0, 0, sha_of_block(image, 0))
