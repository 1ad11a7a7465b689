# SPDX-License-Identifier: MIT
# tarvex.Image: loading through the core's readers, the buffer and slice views, sums, saving.
import ast
import copy
import os
import zlib

import pytest

import tarvex



def ihex_record(kind, address, data):
    body = bytes([len(data), address >> 8 & 0xFF, address & 0xFF, kind]) + bytes(data)
    return ":" + (body + bytes([-sum(body) & 0xFF])).hex().upper()


def ihex(*records):
    return "\n".join(list(records) + [ihex_record(1, 0, b"")]) + "\n"


def write(tmp_path, name, text):
    path = tmp_path / name
    path.write_bytes(text.encode() if isinstance(text, str) else text)
    return path


def test_intel_hex_lands_at_its_addresses_with_the_fill_elsewhere(tmp_path):
    path = write(tmp_path, "fw.hex", ihex(ihex_record(0, 0x0010, b"\x01\x02\x03"),
                                          ihex_record(0, 0x8000, b"\xAA\xBB")))
    img = tarvex.Image.load(path, fill=0xFF)
    assert img.format == "ihex"
    assert img.source == str(path)
    assert img[0x10:0x13] == b"\x01\x02\x03"
    assert img[0x0F] == 0xFF and img[0x13] == 0xFF
    assert img[0x8000] == 0xAA and img[-0x100000 + 0x8001] == 0xBB
    assert img.count == 0x8002
    assert img.ranges == [tarvex.Range(0x10, 0x12), tarvex.Range(0x8000, 0x8001)]
    assert img.warnings == []


@pytest.mark.parametrize("name,text,fmt", [
    ("fw.s19", "S1060020C0FFEE4C\nS9030000FC\n", "srec"),
    ("fw.bin", b"\x00" * 0x20 + b"\xC0\xFF\xEE", "bin"),
])
def test_other_formats_are_chosen_from_the_first_characters(tmp_path, name, text, fmt):
    img = tarvex.Image.load(write(tmp_path, name, text))
    assert img.format == fmt
    assert img[0x20:0x23] == b"\xC0\xFF\xEE"


def test_format_forced_and_unknown(tmp_path):
    path = write(tmp_path, "fw.hex", ihex(ihex_record(0, 0, b"\x55")))
    img = tarvex.Image.load(path, format="bin")
    assert img.format == "bin" and img[0:1] == b":"
    assert any("Intel HEX" in w.text for w in img.warnings)
    with pytest.raises(ValueError, match="unknown format 'elf'"):
        tarvex.Image.load(path, format="elf")


def test_warnings_carry_their_line_and_strict_refuses_with_them(tmp_path):
    good = ihex_record(0, 0, b"\x11\x22")
    bad = ihex_record(0, 2, b"\x33")[:-2] + "00"
    path = write(tmp_path, "bad.hex", ihex(good, bad))
    img = tarvex.Image.load(path)
    assert img[0:3] == b"\x11\x22\x33"  # the bytes still load, as tarvexctl loads them
    assert len(img.warnings) == 1
    line, text = img.warnings[0]
    assert line == 2 and "checksum" in text
    with pytest.raises(tarvex.LoadError) as refused:
        tarvex.Image.load(path, strict=True)
    assert refused.value.warnings == img.warnings
    assert "1 warning about" in str(refused.value) and f"{path}:2: warning:" in str(refused.value)
    assert isinstance(refused.value, tarvex.Error)


def test_a_missing_file_is_a_load_error_naming_it(tmp_path):
    with pytest.raises(tarvex.LoadError, match="nothere.hex") as e:
        tarvex.Image.load(tmp_path / "nothere.hex")
    assert e.value.warnings == []


def test_rom_warns_about_data_above_its_size(tmp_path):
    path = write(tmp_path, "big.hex", ihex(ihex_record(0, 0x7000, b"\x01")))
    assert tarvex.Image.load(path).warnings == []
    warnings = tarvex.Image.load(path, rom="27C256").warnings
    assert [w.text for w in warnings] == []
    warnings = tarvex.Image.load(path, rom=0).warnings
    assert len(warnings) == 1 and "beyond the ROM size" in warnings[0].text
    with pytest.raises(ValueError, match="unknown ROM type"):
        tarvex.Image.load(path, rom="27C999")


def test_fill_and_arguments_are_checked():
    assert bytes(tarvex.Image(0x5A)[0:4]) == b"\x5A" * 4
    with pytest.raises(ValueError, match="fill"):
        tarvex.Image(256)
    with pytest.raises(ValueError, match="more than the 1 MiB"):
        tarvex.Image.from_bytes(bytes(1048577))


def test_buffer_protocol_slices_and_assignment():
    img = tarvex.Image.from_bytes(b"\x01\x02\x03\x04", fill=0xEE)
    assert len(img) == 1048576
    view = memoryview(img)
    assert view.nbytes == 1048576 and not view.readonly
    assert view[0:5].tobytes() == b"\x01\x02\x03\x04\xEE"
    assert bytes(img)[:4] == b"\x01\x02\x03\x04"
    assert img[0:8:2] == b"\x01\x03\xEE\xEE"
    assert img[-1] == 0xEE
    assert img.ranges == [(0, 3)] and img.count == 4
    img[0x100] = 0x42
    img[0x200:0x203] = b"abc"
    img[0x300:0x306:2] = bytearray(b"xyz")
    assert img[0x100] == 0x42 and img[0x200:0x203] == b"abc" and img[0x300:0x306] == b"x\xEEy\xEEz\xEE"
    assert img.ranges == [(0, 3), (0x100, 0x100), (0x200, 0x202), (0x300, 0x300), (0x302, 0x302),
                          (0x304, 0x304)]
    view[0x400] = 7  # changes the byte, marks nothing
    assert img[0x400] == 7 and img.ranges[-1] == (0x304, 0x304)
    with pytest.raises(IndexError):
        img[1048576]
    with pytest.raises(ValueError, match="size is fixed"):
        img[0:4] = b"ab"
    with pytest.raises(ValueError):
        img[0] = 300


def test_copies_are_independent():
    img = tarvex.Image.from_bytes(b"\x01")
    for other in (img.copy(), copy.copy(img), copy.deepcopy(img)):
        other[0] = 9
        assert img[0] == 1 and other[0] == 9


def test_sums_cover_the_rom_window():
    data = bytes(range(256)) * 64  # 16 KiB
    img = tarvex.Image.from_bytes(data, fill=0xFF)
    sums = img.sums("27C64")
    window = data[:8192]
    assert sums == (sum(window) & 0xFF, sum(window) & 0xFFFF, zlib.crc32(window))
    window = data + b"\xFF" * (32768 - len(data))
    assert img.sums(2) == tarvex.Sums(sum(window) & 0xFF, sum(window) & 0xFFFF, zlib.crc32(window))


@pytest.mark.parametrize("name,fmt,reread", [
    ("out.hex", None, "ihex"), ("out.s37", None, "srec"), ("out.bin", None, "bin"), ("out.dat", "ihex", "ihex"),
])
def test_save_writes_a_file_that_loads_back_the_same(tmp_path, name, fmt, reread):
    img = tarvex.Image.from_bytes(bytes(range(200)) * 10, fill=0x00)
    img[0xFFFF0] = 0x99
    img.save(tmp_path / name, format=fmt)
    back = tarvex.Image.load(tmp_path / name)
    assert back.format == reread
    assert bytes(back) == bytes(img)


def test_save_refuses_what_it_cannot_write(tmp_path):
    img = tarvex.Image()
    with pytest.raises(ValueError, match="unknown output format 'xtek'"):
        img.save(tmp_path / "x.tek", format="xtek")
    with pytest.raises(OSError, match="nofolder"):
        img.save(tmp_path / "nofolder" / "x.bin")


def test_base_places_record_data_below_it(tmp_path):
    path = write(tmp_path, "fw.hex", ihex(ihex_record(4, 0, b"\x08\x00"), ihex_record(0, 0x0004, b"\xC0\xDE")))
    plain = tarvex.Image.load(path)
    assert plain.count == 0  # at 0x08000004: above 1 MiB, dropped with a warning
    img = tarvex.Image.load(path, base=0x08000000)
    assert img[4:6] == b"\xC0\xDE" and img.ranges == [(4, 5)] and img.warnings == []


def test_swap_bytes_and_lines_move_the_bytes_as_tarvexctl_does():
    img = tarvex.Image.from_bytes(b"\x01\x02\x03\x04")
    img.swap_bytes()
    assert img[0:4] == b"\x02\x01\x04\x03"
    img = tarvex.Image.from_bytes(bytes(range(4)))
    img.swap_lines(0, 1)
    assert img[0:4] == b"\x00\x02\x01\x03"
    # A 27C64 has no line A13.
    with pytest.raises(ValueError):
        tarvex.Image.from_bytes(b"\x00").swap_lines(12, 13, rom="27C64")


def test_put_checksum_stores_what_zlib_and_the_sums_say(tmp_path):
    img = tarvex.Image.from_bytes(b"\x10\x20\x30", fill=0x00)
    img.put_checksum("sum8", 0x1FFF, rom="27C64")
    assert img.sums("27C64").sum8 == 0
    # The ROM type given to load is the window when none is given here.
    data = bytes(range(256)) * 32
    path = tmp_path / "fw.bin"
    path.write_bytes(data)
    loaded = tarvex.Image.load(path, rom="27C64")
    stored = loaded.put_checksum("crc32le", 0x1FFC)
    assert stored == zlib.crc32(data[:0x1FFC])
    assert loaded[0x1FFC:0x2000] == stored.to_bytes(4, "little")
    with pytest.raises(ValueError, match="rom="):
        tarvex.Image.from_bytes(b"\x00").put_checksum("sum8", 0)
    with pytest.raises(ValueError, match="unknown checksum kind"):
        loaded.put_checksum("md5", 0)


def test_entry_point_from_a_start_record(tmp_path):
    path = write(tmp_path, "fw.hex", ihex(ihex_record(0, 0, b"\x00"), ihex_record(5, 0, b"\x00\x00\x01\x23")))
    assert tarvex.Image.load(path).entry_point == 0x123


def test_no_entry_point_without_a_start_record(tmp_path):
    path = write(tmp_path, "fw.hex", ihex(ihex_record(0, 0, b"\x00")))
    assert tarvex.Image.load(path).entry_point is None


def test_the_stubs_name_what_the_module_has():
    stubs = os.path.join(os.path.dirname(tarvex.__file__), "__init__.pyi")
    assert os.path.exists(os.path.join(os.path.dirname(stubs), "py.typed"))
    with open(stubs) as f:
        tree = ast.parse(f.read())
    stubbed = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            names = {n.name for n in node.body if isinstance(n, ast.FunctionDef)} | {
                n.target.id for n in node.body if isinstance(n, ast.AnnAssign)}
            stubbed[node.name] = {name for name in names if not name.startswith("_")}
        elif isinstance(node, ast.FunctionDef):
            stubbed[node.name] = set()
    public = {name for name in dir(tarvex) if not name.startswith("_")}
    assert public == set(stubbed)
    for cls in ("Image", "Emulator"):
        members = {name for name in dir(getattr(tarvex, cls)) if not name.startswith("_")}
        assert members == stubbed[cls], cls
    assert tarvex.Image.load.__doc__ and tarvex.Emulator.write_changed.__doc__ and tarvex.__doc__


def test_load_map_names_the_line_and_file_address_of_each_range(tmp_path):
    path = write(tmp_path, "fw.hex", ihex(ihex_record(4, 0, b"\x08\x00"), ihex_record(0, 0x0010, b"\x01\x02"),
                                         ihex_record(0, 0x0100, b"\x03")))
    img = tarvex.Image.load(path, base=0x08000000, rom="27C64")
    m = img.load_map()
    assert m["window"] == 0x2000
    assert [(r["start"], r["end"], r["line"], r["file"]) for r in m["set"]] == [
        (0x10, 0x11, 2, 0x08000010), (0x100, 0x100, 3, 0x08000100)]
    assert m["fill"][0] == (0, 0xF) and m["fill"][-1] == (0x101, 0x1FFF)
