#!/usr/bin/python3
"""A small host tool for the STM32 USART bootloader (ST AN3155), written
from the application note alone: synchronise, identify, mass-erase, write an
image and read it back. It stands for any independent tool that a user runs
against chipload-sim; it shares no code with the simulator or the program.

usage: an3155_client.py DEVICE IMAGE [--address A] [--timeout S] [--parity even|none]
Exit status 0 when the image reads back as written, 1 with a message on
standard error otherwise.
"""
import argparse
import sys

import serial

ACK, NACK = 0x79, 0x1F
BLOCK = 256


class Refused(Exception):
    pass


def xor(data):
    check = 0
    for b in data:
        check ^= b
    return check


class Bootloader:
    def __init__(self, port):
        self.port = port

    def reply(self, what):
        got = self.port.read(1)
        if not got:
            raise Refused(f"{what}: no answer")
        if got[0] != ACK:
            raise Refused(f"{what}: answered 0x{got[0]:02X}")

    def synchronise(self):
        self.port.reset_input_buffer()
        self.port.write(b"\x7f")
        got = self.port.read(1)
        if got and got[0] in (ACK, NACK):
            return  # NACK: a previous session left it synchronised
        if got:
            raise Refused(f"synchronisation: answered 0x{got[0]:02X}")
        # Silence: the chip may have taken the 0x7F as a command code, so a
        # second one is a wrong complement and must be refused.
        self.port.write(b"\x7f")
        got = self.port.read(1)
        if not got or got[0] != NACK:
            raise Refused("synchronisation: no answer" if not got else
                          f"synchronisation: answered 0x{got[0]:02X} to the second 0x7F")

    def command(self, code, name):
        self.port.write(bytes([code, code ^ 0xFF]))
        self.reply(name)

    def get_id(self):
        self.command(0x02, "Get ID")
        count = self.port.read(1)
        pid = self.port.read(count[0] + 1) if count else b""
        self.reply("Get ID end")
        return int.from_bytes(pid, "big")

    def mass_erase(self):
        self.command(0x43, "Erase")
        self.port.write(b"\xff\x00")
        self.reply("mass erase")

    def send_address(self, address, name):
        raw = address.to_bytes(4, "big")
        self.port.write(raw + bytes([xor(raw)]))
        self.reply(f"{name} address 0x{address:08X}")

    def write(self, address, data):
        self.command(0x31, "Write Memory")
        self.send_address(address, "Write Memory")
        frame = bytes([len(data) - 1]) + data
        self.port.write(frame + bytes([xor(frame)]))
        self.reply(f"Write Memory data at 0x{address:08X}")

    def read(self, address, length):
        self.command(0x11, "Read Memory")
        self.send_address(address, "Read Memory")
        self.port.write(bytes([length - 1, (length - 1) ^ 0xFF]))
        self.reply(f"Read Memory length at 0x{address:08X}")
        data = self.port.read(length)
        if len(data) != length:
            raise Refused(f"Read Memory at 0x{address:08X}: {len(data)} of {length} bytes")
        return data


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("device")
    parser.add_argument("image")
    parser.add_argument("--address", type=lambda t: int(t, 0), default=0x08000000)
    parser.add_argument("--timeout", type=float, default=2.0)
    # The bootloader speaks 8E1; a pseudo-terminal has no parity and, with
    # some C libraries, refuses an even-parity setting once it was made.
    parser.add_argument("--parity", choices=("even", "none"), default="even")
    args = parser.parse_args()
    with open(args.image, "rb") as f:
        image = f.read()
    # Whole words: the flash is programmed a word at a time.
    image += b"\xff" * (-len(image) % 4)
    try:
        parity = serial.PARITY_EVEN if args.parity == "even" else serial.PARITY_NONE
        with serial.Serial(args.device, 115200, parity=parity, timeout=args.timeout) as port:
            chip = Bootloader(port)
            chip.synchronise()
            print(f"product ID 0x{chip.get_id():03X}")
            chip.mass_erase()
            for at in range(0, len(image), BLOCK):
                chip.write(args.address + at, image[at:at + BLOCK])
            for at in range(0, len(image), BLOCK):
                part = image[at:at + BLOCK]
                if chip.read(args.address + at, len(part)) != part:
                    raise Refused(f"verify failed at 0x{args.address + at:08X}")
    except (Refused, serial.SerialException) as error:
        print(f"an3155_client: {error}", file=sys.stderr)
        return 1
    print(f"wrote and verified {len(image)} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
