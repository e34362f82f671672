#!/usr/bin/env python3
"""Writes the sample firmware files of the demo working directory.

corvo_boot.s19 holds boot code for flash 0xFC000 to 0xFFFFF, with 0xFFF00 to 0xFFF7F left
blank for the parameter trailer that every upgrade lays there. corvo_fwapp.s19 holds
application code for 0xA0000 to 0xEFFFF in stretches with blank flash between them, and
carries the firmware version text. The bytes are pseudo-random from a fixed seed, so every
run writes the same files. Records are S2 (24-bit addresses) with S0, S5 and S8.

The files are made up: fieldkit refuses to write them to any board but the emulated one. It
knows them by their data, whatever their records or headers look like: the SHA-256 of each
file's flash window as loaded (erased, 0xFF, where the file gives nothing) goes into
image/sample_firmware.h, written here with the files. The S0 header of each file names it and
carries SAMPLE_MARK, for the people who read the files.

Usage: make-sample-firmware.py [--out-dir DIR] [--digest-header FILE]
"""

import argparse
import hashlib
import pathlib

FIRMWARE_VERSION = "R07.12.00"
SEED = 0x1D0C5A17
BYTES_PER_RECORD = 32
SAMPLE_MARK = "FIELDKIT SAMPLE, NEVER FOR A RADIO"

BOOT_START, BOOT_END = 0xFC000, 0x100000
TRAILER_START, TRAILER_END = 0xFFF00, 0xFFF80
APP_START, APP_END = 0xA0000, 0xF0000
# The last application page becomes the complement page of the image header.
COMPLEMENT_PAGE = 0xEFF00
VERSION_ADDRESS = 0xA0010


class XorShift32:
    """A tiny generator of our own, so the files do not depend on a library's algorithm."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF or 1

    def next(self):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x

    def below(self, limit):
        return self.next() % limit

    def code_bytes(self, count):
        """Bytes that look a little like code: mostly random, now and then a run of 0xFF or 0x00
        as constant tables and padding have."""
        out = bytearray()
        while len(out) < count:
            kind = self.below(16)
            if kind == 0:
                out += b"\xff" * (1 + self.below(24))
            elif kind == 1:
                out += b"\x00" * (1 + self.below(24))
            else:
                out += bytes(self.below(256) for _ in range(1 + self.below(64)))
        return bytes(out[:count])


def record(kind, address, data, address_length):
    body = bytes([address_length + len(data) + 1]) + address.to_bytes(address_length, "big") + data
    checksum = 0xFF - (sum(body) & 0xFF)
    return "S%d%s%02X" % (kind, body.hex().upper(), checksum)


def s_records(name, stretches, entry_address):
    """stretches: list of (address, bytes). Lines of S0, S2 data, S5 and S8."""
    lines = [record(0, 0, ("%s %s" % (name, SAMPLE_MARK)).encode("ascii"), 2)]
    data_records = 0
    for address, data in stretches:
        for offset in range(0, len(data), BYTES_PER_RECORD):
            lines.append(record(2, address + offset, data[offset:offset + BYTES_PER_RECORD], 3))
            data_records += 1
    lines.append(record(5, data_records, b"", 2))
    lines.append(record(8, entry_address, b"", 3))
    return "\n".join(lines) + "\n"


def boot_stretches(rng):
    code = bytearray(rng.code_bytes(BOOT_END - BOOT_START))
    low = bytes(code[: TRAILER_START - BOOT_START])
    high = bytes(code[TRAILER_END - BOOT_START:])
    return [(BOOT_START, low), (TRAILER_END, high)]


def app_stretches(rng, version):
    stretches = []
    address = APP_START
    while address < COMPLEMENT_PAGE:
        length = min(0x800 + rng.below(0x3000), COMPLEMENT_PAGE - address)
        stretches.append((address, bytearray(rng.code_bytes(length))))
        address += length
        address += (0x200 + rng.below(0x1000)) & ~0xFF  # a blank gap of at least a page
    first_address, first = stretches[0]
    text = version.encode("ascii") + b"\x00"
    first[VERSION_ADDRESS - first_address:VERSION_ADDRESS - first_address + len(text)] = text
    return [(a, bytes(d)) for a, d in stretches]


def loaded_digest(stretches, start, end):
    """The SHA-256 of the flash window start..end as the file fills it, erased elsewhere."""
    window = bytearray(b"\xff" * (end - start))
    for address, data in stretches:
        window[address - start:address - start + len(data)] = data
    return hashlib.sha256(window).digest()


def digest_header(boot_digest, app_digest):
    def array(name, digest):
        rows = [", ".join("0x%02X" % b for b in digest[i:i + 16]) for i in (0, 16)]
        return "inline constexpr std::array<std::uint8_t, 32> %s{\n    %s,\n    %s};\n" % (name, rows[0], rows[1])

    return (
        "#pragma once\n\n"
        "// Written by scripts/make-sample-firmware.py with the sample firmware of examples/: the\n"
        "// SHA-256 of each sample file's flash window as loaded, erased (0xFF) where the file gives\n"
        "// nothing. Made-up firmware that only the emulated board may take is known by these.\n\n"
        "#include <array>\n#include <cstdint>\n\nnamespace fieldkit::image {\n\n"
        "// 0xFC000 to 0xFFFFF, from corvo_boot.s19.\n" + array("kSampleBootDigest", boot_digest) +
        "// 0xA0000 to 0xEFFFF, from corvo_fwapp.s19.\n" + array("kSampleApplicationDigest", app_digest) +
        "\n} // namespace fieldkit::image\n"
    )


def main():
    root = pathlib.Path(__file__).resolve().parent.parent
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out-dir", default=str(root / "examples"))
    parser.add_argument("--digest-header", default=str(root / "image" / "sample_firmware.h"))
    args = parser.parse_args()

    rng = XorShift32(SEED)
    out = pathlib.Path(args.out_dir)
    out.mkdir(parents=True, exist_ok=True)
    boot = boot_stretches(rng)
    app = app_stretches(rng, FIRMWARE_VERSION)
    files = {
        "corvo_boot.s19": s_records("corvo_boot.s19", boot, BOOT_START),
        "corvo_fwapp.s19": s_records("corvo_fwapp.s19", app, APP_START),
    }
    for name, text in files.items():
        (out / name).write_text(text, encoding="ascii", newline="\n")
        data = sum(len(line) // 2 - 6 for line in text.splitlines() if line.startswith("S2"))
        print("%s: %d data bytes, %d bytes of file" % (name, data, len(text)))
    header = digest_header(loaded_digest(boot, BOOT_START, BOOT_END), loaded_digest(app, APP_START, APP_END))
    pathlib.Path(args.digest_header).write_text(header, encoding="ascii", newline="\n")
    print("%s: the digests of both" % args.digest_header)


if __name__ == "__main__":
    main()
