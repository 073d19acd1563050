#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/<target>/.

The targets decode their input with libFuzzer's FuzzedDataProvider, which
takes whole numbers from the end of the input and texts from its front. The
Input class below builds an input in that layout, so that each seed can be
written as the steps it stands for. Run it again after changing how a target
decodes its input: python3 fuzz/make_seeds.py
"""

import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent


def crc16(data: bytes) -> int:
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def with_crc(frame: bytes) -> bytes:
    crc = crc16(frame)
    return frame + bytes([crc & 0xFF, crc >> 8])


class Input:
    """An input for FuzzedDataProvider: texts in front, numbers at the back."""

    def __init__(self):
        self.front = bytearray()
        self.back = []  # in the order the target takes them

    def integral(self, value, lo, hi):
        span = hi - lo
        count = 0
        while count < 8 and (span >> (8 * count)) > 0:
            count += 1
        offset = value - lo
        assert 0 <= offset <= span
        # The first byte taken is the most significant.
        self.back += list(offset.to_bytes(count, "big")) if count else []
        return self

    def boolean(self, value):
        return self.integral(int(value), 0, 255)

    def uint(self, value, size):
        self.back += list(value.to_bytes(size, "big"))
        return self

    def text(self, data: bytes):
        """A ConsumeRandomLengthString: backslashes doubled, then an end mark."""
        self.front += data.replace(b"\\", b"\\\\") + b"\\;"
        return self

    def rest(self, data: bytes):
        self.front += data
        return self

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))


def write(target, name, data):
    folder = HERE / "corpus" / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


# --- receiver ---------------------------------------------------------------

OK_REPLY = bytes.fromhex("01424F4BD5CB")


def receiver(name, per_tick, modbus, address, steps):
    """A model-check input.
    address: ("dec", n) | ("hex", n) | ("blank", n) | ("text", b"...")."""
    i = Input().uint(0, 1).boolean(per_tick).boolean(modbus)

    def address_text(a):
        kind, value = a
        if kind == "dec":
            i.integral(0, 0, 3).integral(value, -2, 260)
        elif kind == "hex":
            i.integral(1, 0, 3).uint(value, 1)
        elif kind == "blank":
            i.integral(2, 0, 3).integral(value, 0, 255)
        else:
            i.integral(3, 0, 3).text(value)

    address_text(address)
    for step in steps:
        op = step[0]
        if op == "raw":
            i.integral(0, 0, 4).text(step[1])
        elif op == "reply":
            # ("reply", right_address, function_or_None, payload, damage_at_or_None)
            _, right, function, payload, damage = step
            i.integral(1, 0, 4).boolean(right)
            if not right:
                i.uint(0x02, 1)
            i.boolean(function is None)
            if function is not None:
                i.uint(function, 1)
            i.text(payload)
            if damage is None:
                i.integral(1, 0, 3)
            else:
                size = 2 + len(payload) + 2
                i.integral(0, 0, 3).integral(damage, 0, size - 1).uint(0x01, 1)
        elif op == "address":
            i.integral(2, 0, 4)
            address_text(step[1])
        elif op == "tick":
            i.integral(3, 0, 4)
            if per_tick:
                i.boolean(step[2])
            i.integral(step[1], 0, 300)
    write("receiver", name, i.bytes())


def receiver_stream(name, modbus, address, items):
    """A stream-property input. items: ("noise", bytes) | ("reply", body, line_end)
    | ("silence", [tick sizes delivering what came before], quiet ticks)."""
    i = Input().uint(1, 1).boolean(modbus).integral(address, 1, 247)
    for item in items:
        if item[0] == "noise":
            i.integral(0, 0, 3).text(item[1])
        elif item[0] == "silence":
            i.integral(1, 0, 3)
            for size in item[1]:
                i.integral(size, 1, 40)
            i.integral(item[2], 1, 8)
        else:
            i.integral(2, 0, 3).text(item[1])
            if not modbus:
                i.boolean(item[2])
            if modbus or item[2]:
                # Not dribbled a character at a time.
                i.integral(1, 0, 3)
    write("receiver", name, i.bytes())


def receiver_seeds():
    receiver_stream("stream_plain_ok", False, 1, [("reply", b"OK", True), ("silence", [2, 2], 1)])
    receiver_stream("stream_plain_download_cut", False, 1,
                    [("noise", b"\x00\xff"), ("reply", b"DOWNLOAD", True), ("silence", [5, 7], 2),
                     ("reply", b"VER=4.01", False), ("reply", b"OK", True), ("silence", [3, 3], 1)])
    receiver_stream("stream_modbus_noise_then_reply", True, 5,
                    [("noise", b"\x05B\x13"), ("reply", b"OK", None), ("silence", [4, 5], 3),
                     ("reply", b"DOWNLOAD\r\n", None), ("reply", b"OK", None), ("silence", [20], 6)])

    receiver("modbus_ok_one_tick", False, True, ("dec", 1), [("raw", OK_REPLY), ("tick", 6)])
    receiver("modbus_ok_4_then_2", False, True, ("dec", 1), [("raw", OK_REPLY), ("tick", 4), ("tick", 2)])
    receiver("modbus_ok_5_then_1", False, True, ("dec", 1), [("raw", OK_REPLY), ("tick", 5), ("tick", 1)])
    receiver("modbus_built_download", False, True, ("hex", 0x10),
             [("reply", True, None, b"DOWNLOAD\r\n", None), ("tick", 300)])
    receiver("modbus_damaged_crc", False, True, ("dec", 1),
             [("reply", True, None, b"OK", 5), ("tick", 6), ("raw", OK_REPLY), ("tick", 6)])
    receiver("modbus_wrong_address", False, True, ("dec", 1),
             [("reply", False, None, b"OK", None), ("tick", 6), ("raw", OK_REPLY), ("tick", 6)])
    receiver("modbus_lower_case_b", False, True, ("dec", 1),
             [("reply", True, ord("b"), b"OK", None), ("tick", 6)])
    receiver("modbus_address_change", False, True, ("blank", 7),
             [("reply", True, None, b"VER=4.1", None), ("address", ("dec", 260)), ("tick", 20),
              ("address", ("dec", 7)), ("raw", b"\x07BOK"), ("tick", 3)])
    receiver("modbus_noise_then_reply", False, True, ("dec", 1),
             [("raw", bytes(range(1, 90))), ("raw", bytes(range(90, 180))), ("raw", bytes(range(180, 256))),
              ("tick", 300), ("raw", OK_REPLY), ("tick", 6)])
    receiver("plain_ok", False, False, ("dec", 1), [("raw", b"OK\r\n"), ("tick", 4)])
    receiver("plain_split", False, False, ("text", b""), [("raw", b"OK\r\nVER=4.1\r\n"), ("tick", 1), ("tick", 12)])
    receiver("mixed_modes", True, False, ("dec", 1),
             [("raw", OK_REPLY[:3]), ("tick", 3, True), ("raw", OK_REPLY[3:]), ("tick", 3, False),
              ("raw", OK_REPLY), ("tick", 6, True)])
    receiver("plain_cr_ends_a_reply", False, False, ("dec", 1),
             [("raw", b"OK\rOK\rOK\rOK\r"), ("tick", 3), ("tick", 6), ("tick", 0), ("tick", 2), ("tick", 1)])
    receiver("plain_cr_lf_cut", False, False, ("dec", 1),
             [("raw", b"OK\r\nVER=4.1\r\nOK\r"), ("tick", 3), ("tick", 1), ("tick", 9), ("tick", 0), ("tick", 0),
              ("raw", b"\n\nOK\n"), ("tick", 3), ("raw", b"\r"), ("tick", 1), ("raw", b"X\n"), ("tick", 2)])
    receiver_stream("stream_plain_cr_lf_cut", False, 1,
                    [("reply", b"DOWNLOAD", True), ("silence", [9, 1], 2), ("noise", b"AB\r"),
                     ("reply", b"OK", True), ("silence", [3, 3, 1], 1)])
    receiver("address_text_odd", False, True, ("text", b" 2.5 "),
             [("reply", True, None, b"ERROR", None), ("tick", 300)])


# --- hex_download -----------------------------------------------------------


def hex_download(name, contents, verify=False, modbus=False, repeat=1, sends=8, oks=0x5555, earlier=(0, 0)):
    i = Input().boolean(verify).boolean(modbus)
    i.integral(earlier[0], -2, 9000).integral(earlier[1], -2, 9000)
    i.boolean(repeat > 1)
    if repeat > 1:
        i.integral(repeat, 1, 10000)
    i.integral(sends, 0, 48).uint(oks, 8).rest(contents)
    write("hex_download", name, i.bytes())


def hex_download_seeds():
    blink = (HERE.parent / "examples" / "blink.hex").read_bytes()
    medium = (HERE.parent / "examples" / "medium.hex").read_bytes()
    hex_download("blink_download", blink, sends=20)
    hex_download("blink_verify_modbus", blink, verify=True, modbus=True, sends=20)
    hex_download("medium_head_crlf", b"\r\n".join(medium.splitlines()[:12]) + b"\r\n", sends=16, earlier=(40, 7))
    hex_download("eof_record_only", b":00000001FF", verify=True, sends=3)
    hex_download("mixed_line_ends", b":020000040000FA\r\n:00000001FF\n\r,:10,\r\r\n", sends=12)
    hex_download("empty_file", b"", sends=2, earlier=(5, 2))
    hex_download("exactly_9000_lines", b":0\n", repeat=9000, sends=4)
    hex_download("9001_lines", b":0\r\n", repeat=9001, sends=4, earlier=(12, 3))


# --- hex_loader -------------------------------------------------------------


def hex_loader(name, contents, repeat=1, limit=9000):
    i = Input().boolean(repeat > 1)
    if repeat > 1:
        i.integral(repeat, 1, 10000)
    i.boolean(limit == 9000)
    if limit != 9000:
        i.integral(limit, 0, 9000)
    i.rest(contents)
    write("hex_loader", name, i.bytes())


def hex_loader_seeds():
    blink = (HERE.parent / "examples" / "blink.hex").read_bytes()
    medium = (HERE.parent / "examples" / "medium.hex").read_bytes()
    blink_lines = len(blink.splitlines())
    hex_loader("blink", blink)
    hex_loader("blink_at_its_line_count", blink, limit=blink_lines)
    hex_loader("blink_one_line_over", blink, limit=blink_lines - 1)
    hex_loader("medium_head_crlf", b"\r\n".join(medium.splitlines()[:12]) + b"\r\n")
    hex_loader("mixed_line_ends", b":020000040000FA\r\n:00000001FF\n\r,:10,\r\r\n")
    hex_loader("no_line_end_at_the_end", b":020000040000FA\n:00000001FF")
    hex_loader("empty_file", b"")
    hex_loader("empty_file_no_lines_allowed", b"", limit=0)
    hex_loader("exactly_9000_lines", b":0\n", repeat=9000)
    hex_loader("9001_lines", b":0\r\n", repeat=9001)


# --- numeric_texts ----------------------------------------------------------


def numeric(name, text: bytes, utf8=False, double=None, mode=0):
    flags = (1 if utf8 else 0) | (mode << 1)
    i = Input().rest(text)
    i.uint(flags | (8 if double is not None else 0), 1)
    if double is not None:
        i.uint(struct.unpack("<Q", struct.pack("<d", double))[0], 8)
    write("numeric_texts", name, i.bytes())


def numeric_seeds():
    texts = {
        "hex_prefix": b"&H10", "hex_lower": b"&hff", "blanks_around": b" 12 ", "half_down": b"2.5",
        "half_up": b"3.5", "exponent": b"1e2", "exponent_signed": b"-1.5E+1", "negative": b"-1",
        "address_300": b"300", "empty": b"", "letters": b"abc", "leading_number": b"12abc",
        "inner_blank": b"1 2", "int16_edge": b"32767.5", "int16_low": b"-32768", "bare_point": b".",
        "point_five": b".5", "exponent_without_digits": b"1e", "hex_digits": b"0A", "hex_lower_digits": b"ff",
        "hex_bad_digit": b"1G", "huge": b"1e400", "int32_edge": b"2147483647.5",
    }
    for name, text in texts.items():
        numeric(name, text)
    numeric("fullwidth_digit_utf8", "\uff11\uff12".encode(), utf8=True)
    numeric("round_2_5_upward", b"7", double=2.5, mode=1)
    numeric("round_minus_0_5_downward", b"", double=-0.5, mode=2)
    numeric("round_large", b"", double=4503599627370497.0, mode=3)


# --- line_sender ------------------------------------------------------------

PIECES = ["VER=", "ERROR", "DOWNLOAD", "FORMAT", "OK", "\r\n", "VER", "ERR", "DOWN", "FORM", "O", "K", "ok", " "]


def line_sender(name, count, index, verify, armed, active, steps):
    i = Input()

    def random_count(value):
        if -2 <= value <= 12:
            i.integral(0, 0, 3).integral(value, -2, 12)
        elif 8997 <= value <= 9003:
            i.integral(1, 0, 3).integral(value, 8997, 9003)
        else:
            i.integral(2, 0, 3).uint(value & 0xFFFF, 2)

    random_count(count)
    random_count(index)
    i.integral(verify, -1, 2).integral(armed, 0, 2).integral(active, 0, 2)
    for step in steps:
        kind = step[0]
        if kind == "count":
            i.integral(0, 0, 11)
            random_count(step[1])
        elif kind == "index":
            i.integral(1, 0, 11)
            random_count(step[1])
        elif kind == "flags":
            i.integral(2, 0, 11).integral(step[1], -1, 2).integral(step[2], 0, 2).integral(step[3], 0, 2)
        elif kind == "port":
            i.integral(3, 0, 11).boolean(False)
        elif kind == "send":
            i.integral(4, 0, 11)
        elif kind == "outstanding":
            i.integral(10, 0, 11).boolean(step[1])
        elif kind == "close":
            i.integral(11, 0, 11).boolean(step[1])
        elif kind == "reply":
            i.integral(6, 0, 11).integral(len(step[1]), 0, 6)
            for piece in step[1]:
                if piece in PIECES:
                    i.boolean(True).integral(PIECES.index(piece), 0, len(PIECES) - 1)
                else:
                    i.boolean(False).text(piece.encode("latin-1"))
    write("line_sender", name, i.bytes())


def line_sender_seeds():
    ok = ("reply", ["OK", "\r\n"])
    download = ("reply", ["DOWNLOAD", "\r\n"])
    line_sender("whole_transfer", 3, 0, 0, 1, 1, [("send",), ok, ok, download, ok, ok, download])
    line_sender("error_in_verify", 3, 0, 1, 1, 1, [ok, ("reply", ["ERROR"]), download, ok])
    line_sender("version_armed", 2, 1, 0, 1, 1, [("reply", ["VER=", "4.1"]), ("reply", ["VER=", "OK"])])
    line_sender("version_not_active", 2, 0, 0, 1, 0, [("reply", ["VER=", "4.1"])])
    line_sender("word_order", 4, 0, 0, 1, 1,
                [("reply", ["DOWNLOAD", " ", "OK"]), ("reply", ["OK", "ERROR"]), ("reply", ["FORMAT", "OK"]),
                 ("reply", ["ok"]), ("reply", ["DOWN", "LOAD"])])
    line_sender("nothing_loaded", 0, 0, 0, 1, 1, [("send",), ok, download, ("count", -1), ("send",)])
    line_sender("count_beyond_table", 9003, 8999, 0, 1, 1, [("send",), ("send",), ok, ("index", -2), ("send",)])
    line_sender("index_beyond_count", 5, 9000, 1, 0, 0, [("send",), ("index", 5), ok])
    line_sender("port_closed", 2, 0, 0, 1, 1, [("port",), ("send",), ok, ("port",), ("send",)])
    line_sender("odd_verify_phase", 2, 0, 2, 1, 1, [("send",), ("flags", -1, 1, 1), ok, download])
    version = ("reply", ["VER=", "\r\n"])
    # Entry 7 is an end-of-file record: after it an "OK" sends nothing, "VER=" and "Send" still do.
    line_sender("end_of_file_outstanding", 7, 5, 0, 1, 1,
                [("send",), ok, ok, version, ok, ("send",), download, ok, ("reply", ["DOWNLOAD", "OK"])])
    line_sender("stray_download_then_close", 14, 0, 0, 1, 1,
                [("reply", ["DOWNLOAD", "OK"]), ("outstanding", True), download, ("index", 6), ok,
                 ("close", True), download, ok, ("outstanding", False), ("close", False), ("send",)])


def dictionaries():
    (HERE / "receiver.dict").write_text(
        "# Reply words and the Modbus function character.\n"
        + "".join(f'"{w}"\n' for w in ["VER=", "ERROR", "DOWNLOAD", "FORMAT", "OK", "B", "\\x01B", "\\x0d\\x0a"]))
    (HERE / "line_sender.dict").write_text(
        "# Reply words, whole and in pieces.\n"
        + "".join(f'"{w}"\n' for w in ["VER=", "ERROR", "DOWNLOAD", "FORMAT", "OK", "VER", "DOWN", "\\x0d\\x0a"]))
    (HERE / "numeric_texts.dict").write_text(
        "# Pieces of numbers.\n" + "".join(f'"{w}"\n' for w in ["&H", "&h", "e+", "E-", ".", "-", "+", " ", "\\x09"]))
    for target in ("hex_loader", "hex_download"):
        (HERE / f"{target}.dict").write_text(
            "# Pieces of Intel HEX files and field delimiters.\n"
            + "".join(f'"{w}"\n' for w in [":", "\\x0d\\x0a", "\\x0a", "\\x0d", ",", ":00000001FF", ":020000040000FA"]))


if __name__ == "__main__":
    receiver_seeds()
    hex_download_seeds()
    hex_loader_seeds()
    numeric_seeds()
    line_sender_seeds()
    dictionaries()
