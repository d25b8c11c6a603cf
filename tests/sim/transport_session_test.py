#!/usr/bin/python3
"""One bootloader session over both transports of chipload-sim, driven by
pyserial: a pseudo-terminal and an RFC 2217 connection.

usage: transport_session_test.py PATH-TO-chipload-sim
"""
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import serial

SIM = None
ACK, NACK = b"\x79", b"\x1f"
FLASH = 0x08000000
GREETING = b"Hello from the test\r\n"


def cmd(code):
    return bytes([code, code ^ 0xFF])


def address(value):
    raw = value.to_bytes(4, "big")
    return raw + bytes([raw[0] ^ raw[1] ^ raw[2] ^ raw[3]])


def block(items):
    out = bytes([len(items) - 1]) + bytes(items)
    check = 0
    for b in out:
        check ^= b
    return out + bytes([check])


class Simulator:
    """chipload-sim in a child process, stopped with SIGTERM."""

    def __init__(self, *args):
        self.dir = tempfile.TemporaryDirectory()
        self.image = os.path.join(self.dir.name, "image.bin")
        self.dump = os.path.join(self.dir.name, "dump.bin")
        with open(self.image, "wb") as f:
            f.write(b"\xff" * 5 * 1024 + b"IMAGE!")
        self.proc = subprocess.Popen(
            [SIM, "--timing", "none", "-v", "--image", self.image, "--dump", self.dump,
             "--greeting", GREETING.decode().replace("\r\n", "\\r\\n"), *args],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.endpoint = self.proc.stdout.readline().decode().strip()

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        _, err = self.proc.communicate(timeout=10)
        with open(self.dump, "rb") as f:
            flash = f.read()
        self.dir.cleanup()
        return self.proc.returncode, err.decode(), flash


class Session(unittest.TestCase):
    def exchange(self, port, data, count):
        port.write(data)
        got = port.read(count)
        self.assertEqual(len(got), count, f"short reply to {data.hex()}: {got.hex()}")
        return got

    def run_session(self, port):
        """The same exchanges whatever the transport; returns the flash
        contents expected at the end."""
        x = lambda data, count: self.exchange(port, data, count)
        self.assertEqual(x(b"\x7f", 1), ACK)
        self.assertEqual(x(cmd(0x00), 15),
                         bytes.fromhex("790b22000102112131436373829279"))
        self.assertEqual(x(cmd(0x01), 5), bytes.fromhex("7922000079"))
        self.assertEqual(x(cmd(0x02), 5), bytes.fromhex("7901041079"))
        # Identification block: 64 KiB flash, 20 KiB RAM.
        ident = x(cmd(0x11) + address(0x1FFFF7E0) + bytes([21, 0xEA]), 25)
        self.assertEqual(ident[:7], ACK * 3 + bytes([64, 0, 20, 0]))
        # The image given on the command line.
        self.assertEqual(x(cmd(0x11) + address(FLASH + 5 * 1024) + bytes([5, 0xFA]), 9),
                         ACK * 3 + b"IMAGE!")
        self.assertEqual(x(cmd(0x11) + address(0x40000000), 2), ACK + NACK)
        # Erase page 5, write a vector table to page 0, read both back.
        self.assertEqual(x(cmd(0x43) + block([5]), 2), ACK * 2)
        table = (0x20005000).to_bytes(4, "little") + (0x08000101).to_bytes(4, "little")
        payload = table + bytes(range(0xF0, 0x100))
        self.assertEqual(x(cmd(0x31) + address(FLASH) + block(payload), 3), ACK * 3)
        self.assertEqual(x(cmd(0x11) + address(FLASH) + bytes([len(payload) - 1, (len(payload) - 1) ^ 0xFF]),
                           3 + len(payload)), ACK * 3 + payload)
        self.assertEqual(x(cmd(0x11) + address(FLASH + 5 * 1024) + bytes([5, 0xFA]), 9),
                         ACK * 3 + b"\xff" * 6)
        # Go: the application greets.
        self.assertEqual(x(cmd(0x21) + address(FLASH), 2), ACK * 2)
        self.assertEqual(port.read(len(GREETING)), GREETING)
        return payload + b"\xff" * (64 * 1024 - len(payload))

    def check_end(self, sim, expected_flash):
        code, log, flash = sim.stop()
        self.assertEqual(code, 0, log)
        self.assertEqual(flash, expected_flash, "dump differs")
        self.assertIn("Write Memory 0x08000000 24 bytes: ACK", log)
        self.assertIn("Read Memory 0x40000000: NACK (address not readable)", log)

    def test_pseudo_terminal(self):
        sim = Simulator("--pty")
        try:
            self.assertTrue(sim.endpoint.startswith("/dev/pts/"), sim.endpoint)
            with serial.Serial(sim.endpoint, 115200, parity=serial.PARITY_EVEN, timeout=2) as port:
                flash = self.run_session(port)
        except BaseException:
            sim.proc.kill()
            raise
        self.check_end(sim, flash)

    def test_rfc2217(self):
        sim = Simulator("--rfc2217", "127.0.0.1:0")
        try:
            self.assertTrue(sim.endpoint.startswith("rfc2217://127.0.0.1:"), sim.endpoint)
            port = serial.serial_for_url(sim.endpoint, baudrate=115200, parity=serial.PARITY_EVEN,
                                         timeout=2, do_not_open=True)
            port.dtr = False
            port.rts = False
            port.open()
            # The reset the program does: BOOT0 via RTS, then a DTR pulse.
            port.rts = True
            port.dtr = True
            time.sleep(0.03)
            port.dtr = False
            flash = self.run_session(port)
            self.assertFalse(port.cts)  # the modem state arrived
            port.close()
        except BaseException:
            sim.proc.kill()
            raise
        self.check_end(sim, flash)

    def test_bad_command_line(self):
        for args, message in ((["--pty", "--product", "f999"], "unknown product"),
                              (["--product", "f103c8"], "choose a transport"),
                              (["--pty", "--image", "/nonexistent/image.bin"], "cannot read image"),
                              (["--pty", "--refuse-step", "0x11:data"], "has no data step"),
                              (["--pty", "--refuse-step", "0x31:data:0"], "count from 1")):
            proc = subprocess.run([SIM, *args], capture_output=True, timeout=10)
            self.assertNotEqual(proc.returncode, 0, args)
            self.assertIn(message, proc.stderr.decode(), args)


class HostTool(unittest.TestCase):
    """An independent AN3155 tool, started anew for each run, on one pty."""

    CLIENT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "an3155_client.py")
    IMAGE = bytes(range(256)) * 3 + b"tail of the image"

    def setUp(self):
        self.image = tempfile.NamedTemporaryFile(suffix=".bin")
        self.image.write(self.IMAGE)
        self.image.flush()

    def tearDown(self):
        self.image.close()

    def run_tool(self, device):
        return subprocess.run([sys.executable, self.CLIENT, device, self.image.name,
                               "--timeout", "3", "--parity", "none"],
                              capture_output=True, timeout=60)

    def runs(self, *sim_args):
        """Runs the tool twice back to back; returns both results and the
        simulator's log."""
        # The idle time is longer than the tool takes to start again, so its
        # first 0x7F arrives inside the session the first run left behind.
        sim = Simulator("--pty", "--idle", "1500", *sim_args)
        try:
            results = [self.run_tool(sim.endpoint) for _ in range(2)]
        except BaseException:
            sim.proc.kill()
            raise
        code, log, flash = sim.stop()
        self.assertEqual(code, 0, log)
        return results, log, flash

    def test_runs_twice_back_to_back(self):
        results, log, flash = self.runs()
        for run, result in enumerate(results, 1):
            self.assertEqual(result.returncode, 0, f"run {run}: {result.stderr.decode()}\n{log}")
        self.assertEqual(flash[:len(self.IMAGE) + 3], self.IMAGE + b"\xff" * 3)

    def test_refused_step_fails_one_run_only(self):
        results, log, flash = self.runs("--refuse-step", "0x31:data:2")
        self.assertEqual(results[0].returncode, 1)
        self.assertIn("Write Memory data at 0x08000100: answered 0x1F", results[0].stderr.decode())
        self.assertEqual(results[1].returncode, 0, results[1].stderr.decode())
        self.assertIn("Write Memory 0x08000100 256 bytes: NACK (refused (fault))", log)
        self.assertEqual(flash[:len(self.IMAGE)], self.IMAGE)


if __name__ == "__main__":
    SIM = sys.argv.pop(1)
    unittest.main()
