#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_receive: a 16-byte job record header, then
reply streams shaped like the simulated unit's (framed replies, the raw
"$Bootloader" banner), with ESC n marking n timer steps. See fuzz_receive.cpp
for what each header byte sets. Run from the repository root."""
import os

OUT = "fuzz/corpus/receive"


def crc16(body: bytes) -> int:
    crc = 0xFFFF
    for b in body:
        x = (b ^ crc) & 0xFF
        x = (x ^ (x << 4)) & 0xFF
        crc = ((x << 8) | (crc >> 8)) ^ (x >> 4) ^ (x << 3)
        crc &= 0xFFFF
    return crc


def reply(text: str) -> bytes:
    body = text.encode()
    return body + b"*%X\n" % crc16(body[1:])


def steps(n: int) -> bytes:
    return bytes([0x1B, n])


def header(state, capture=0, sector=0, image_step=0, mode=0, count=0, size=0,
           problems=0, flags=0, pick=0, index=0, chunk=0, tick=0, misc=0) -> bytes:
    return bytes([state, capture, sector, image_step, mode, count, size >> 8, size & 0xFF,
                  problems, flags, pick >> 8, pick & 0xFF, index, chunk, tick, misc])


SEEDS = {
    # A new port: version query, bootloader banner, capture.
    "version-capture": header(0, misc=9) + steps(3) + reply("$MVERR,D.02m") + steps(3)
    + b"$Bootloader\n" + reply("$GACK") + steps(2),
    # The first sector: "$E" goes out, "$EACK", then data lines acknowledged.
    "firmware-sector": header(5, 1, 0, mode=0, pick=0, tick=4) + steps(1) + reply("$EACK")
    + reply("$DACK") * 6 + steps(3) + reply("$DACK") + reply("$DACK"),
    # The last data line of the last sector, then "$PACK": on to the images.
    "firmware-last": header(5, 1, 2, count=2, size=600, pick=(0xE0000 - 0x2000) // 4096,
                            problems=0x20, flags=1, tick=19) + reply("$PACK") + steps(3),
    # Resent data line: two "$DACK" for one line, then a late "$EACK".
    "firmware-repeats": header(5, 1, 1, pick=3, flags=0x21, tick=4) + reply("$DACK")
    + reply("$DACK") + reply("$EACK") + steps(3) + reply("$DACK"),
    # An image: header acknowledged, chunks, the last "$FACK" lost, restart.
    "image-chunks": header(6, 2, image_step=0, count=2, size=700, flags=2, index=0)
    + reply("$IACK,0") + reply("$FACK,00,0") + reply("$FACK,01,0") + steps(3) + steps(3)
    + reply("$FACK,02,0") + reply("$IACK,1") + steps(3),
    # Chunk acknowledgements out of order and with flag 1.
    "image-skip": header(6, 1, image_step=1, mode=1, count=3, size=300, flags=4, index=1)
    + reply("$FACK,05,0") + reply("$FACK,00,1") + reply("$IACK,1") + reply("$IACK,1"),
    # Deleting images: erasing started, then done.
    "erase": header(7, 1, image_step=1, mode=2) + reply("$AACK,0") + steps(3)
    + reply("$AACK,1") + steps(3),
    # "$X" sent with the version confirmation on, the update naming "1.0A":
    # the port closes, the version is asked at 19200 baud, the unit answers.
    "confirm-after-exit": header(8 | 0xC0, 2, misc=9) + steps(3) + steps(3) + steps(1)
    + reply("$MVERR,1.0A") + steps(3),
    # The confirmation already running: bootloader leftovers, the wrong
    # version, then nothing until the queries run out.
    "confirm-running": header(9 | 0x40, 2, misc=3) + b"$Bootloader\n" + reply("$DACK")
    + reply("$MVERR,0.9") + steps(3) * 3,
    # Noise on the line: partial lines, CR LF, an overlong line, stray words.
    "noise": header(3, 1) + b"$GA\r\n\x00$EACK\n" + b"x" * 1100 + b"\n$FACK,,\n$IACK,01\n"
    + b"$Bootloader\r\n" + reply("$MVERR") + steps(1),
}

os.makedirs(OUT, exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
