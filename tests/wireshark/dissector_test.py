#!/usr/bin/env python3
"""The Wireshark dissector (tools/wireshark/tamblewick.lua) run by tshark.

Three captures: a whole chat session as the session layer encodes it (session_capture,
every kind the programs send), records crafted to be malformed in each way a receiver can
meet, and every 88-byte window of every fuzz corpus file. Each record is also decoded here,
independently, and the two readings must agree.

Environment:
  TW_SESSION_CAPTURE  the session_capture program (required)
  TW_DISSECTOR        tools/wireshark/tamblewick.lua (required)
  TW_FUZZ_CORPUS      fuzz/corpus (required)
  TW_WORK_DIR         where the captures are written (optional; a temporary folder)
"""

import os
import pathlib
import shutil
import struct
import subprocess
import tempfile
import unittest

CHAT_PORT = 1210
RECORD = struct.Struct("<ifB3siii64s")
assert RECORD.size == 88
TSHARK_S = 120

KIND_NAMES = {
    101: "KIND_CHAT", 102: "KIND_CHAT_RELAY", 103: "KIND_LOGIN", 104: "KIND_LOGIN_ACCEPTED",
    105: "KIND_PEER_LOGGED_IN", 107: "KIND_ACK", 108: "KIND_NICK_CHANGE",
    109: "KIND_NICK_NOTICE", 110: "KIND_PING", 111: "KIND_PONG", 112: "KIND_LOGOUT",
    113: "KIND_PEER_LOGGED_OUT", 114: "KIND_PEER_TIMED_OUT",
}
TEXT_KINDS = {101, 103, 104, 105, 108, 109, 112, 113, 114}

FIELDS = ["frame.number", "_ws.col.Protocol", "_ws.col.Info", "tamblewick.kind",
          "tamblewick.id", "tamblewick.reliable", "tamblewick.reserved", "tamblewick.length",
          "tamblewick.text", "tamblewick.relay_name", "tamblewick.relay_line",
          "tamblewick.acked_id", "tamblewick.clock", "_ws.expert.message", "udp.payload"]


def record(kind, text=b"", msg_id=10, reliable=1, length=None, padding=b"\0\0\0"):
    if length is None:
        length = len(text)
    return RECORD.pack(msg_id, 0.0, reliable, padding, 0, kind, length, text)


def write_pcap(path, payloads):
    """Each payload as one UDP datagram from 127.0.0.2:40002 to 127.0.0.1:1210."""
    with open(path, "wb") as out:
        out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 101))
        for number, payload in enumerate(payloads):
            ip_size = 20 + 8 + len(payload)
            header = struct.pack(">BBHHHBBH4s4s", 0x45, 0, ip_size, 0, 0x4000, 64, 17, 0,
                                 bytes([127, 0, 0, 2]), bytes([127, 0, 0, 1]))
            udp = struct.pack(">HHHH", 40002, CHAT_PORT, 8 + len(payload), 0)
            out.write(struct.pack("<IIII", number + 1, 0, ip_size, ip_size))
            out.write(header + udp + payload)


def read_pcap_payloads(path):
    """UDP payloads of a LINKTYPE_RAW capture, in order."""
    data = pathlib.Path(path).read_bytes()
    assert struct.unpack_from("<I", data)[0] == 0xA1B2C3D4
    assert struct.unpack_from("<I", data, 20)[0] == 101
    position, payloads = 24, []
    while position < len(data):
        captured = struct.unpack_from("<I", data, position + 8)[0]
        packet = data[position + 16:position + 16 + captured]
        payloads.append(packet[28:])
        position += 16 + captured
    return payloads


def text_of(area, length):
    """A receiver's reading: up to the first zero byte, cut to length."""
    return area.split(b"\0", 1)[0][:max(length, 0)].decode("latin-1")


def expected_fields(payload):
    msg_id, _, reliable, _, reserved, kind, length, text = RECORD.unpack(payload[:88])
    fields = {"tamblewick.kind": str(kind), "tamblewick.id": str(msg_id),
              "tamblewick.reliable": str(reliable), "tamblewick.reserved": str(reserved),
              "tamblewick.length": str(length)}
    if kind in TEXT_KINDS:
        fields["tamblewick.text"] = text_of(text, length)
    elif kind == 102:
        fields["tamblewick.relay_name"] = text[:14].split(b"\0", 1)[0].decode("latin-1")
        fields["tamblewick.relay_line"] = text[14:].split(b"\0", 1)[0].decode("latin-1")
    elif kind == 107:
        fields["tamblewick.acked_id"] = str(struct.unpack_from("<i", text)[0])
    return fields


class DissectorTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for tool in ("tshark",):
            if shutil.which(tool) is None:
                raise AssertionError(f"{tool} is missing: install the Debian package tshark "
                                     "(make test does)")
        work = os.environ.get("TW_WORK_DIR")
        cls.scratch = None if work else tempfile.TemporaryDirectory()
        cls.work = pathlib.Path(work or cls.scratch.name)
        cls.work.mkdir(parents=True, exist_ok=True)

    @classmethod
    def tearDownClass(cls):
        if cls.scratch:
            cls.scratch.cleanup()

    def tshark(self, capture):
        """One dict of field values per frame; fails on any Lua error."""
        command = ["tshark", "-X", "lua_script:" + os.environ["TW_DISSECTOR"], "-r", str(capture),
                   "-T", "fields", "-E", "separator=\t", "-E", "occurrence=a",
                   "-E", "aggregator=|"]
        for field in FIELDS:
            command += ["-e", field]
        result = subprocess.run(command, capture_output=True, timeout=TSHARK_S,
                                stdin=subprocess.DEVNULL)
        output = result.stdout.decode("utf-8", errors="replace")
        errors = result.stderr.decode(errors="replace")
        self.assertEqual(result.returncode, 0, errors)
        self.assertNotIn("Lua", errors)
        self.assertNotIn("Lua Error", output)
        frames = []
        for line in output.splitlines():
            frames.append(dict(zip(FIELDS, line.split("\t"))))
        return frames

    def test_session_of_every_kind(self):
        capture = self.work / "session.pcap"
        subprocess.run([os.environ["TW_SESSION_CAPTURE"], str(capture)], check=True,
                       timeout=TSHARK_S)
        payloads = read_pcap_payloads(capture)
        frames = self.tshark(capture)
        self.assertEqual(len(frames), len(payloads))

        kinds_seen = set()
        sent_ids = {}
        for frame, payload in zip(frames, payloads):
            expected = expected_fields(payload)
            kind = int(expected["tamblewick.kind"])
            kinds_seen.add(kind)
            self.assertEqual(frame["_ws.col.Protocol"], "TAMBLEWICK")
            for field, value in expected.items():
                self.assertEqual(frame[field], value, f"{field} of frame {frame}")
            self.assertTrue(frame["_ws.col.Info"].startswith(
                f"{KIND_NAMES[kind]} id={expected['tamblewick.id']}"), frame)
            self.assertEqual(frame["_ws.expert.message"], "", frame)
            sent_ids.setdefault(kind, []).append(frame)
        self.assertEqual(kinds_seen, set(KIND_NAMES))

        relay = sent_ids[102][0]
        self.assertEqual((relay["tamblewick.relay_name"], relay["tamblewick.relay_line"]),
                         ("alice", "hello bob"))
        self.assertIn("<alice> hello bob", relay["_ws.col.Info"])
        # Every pong carries back the clock of a ping that went before it.
        ping_clocks = [float(f["tamblewick.clock"]) for f in sent_ids[110]]
        for pong in sent_ids[111]:
            self.assertIn(float(pong["tamblewick.clock"]), ping_clocks)
        self.assertTrue(all(c > 0 for c in ping_clocks), ping_clocks)
        # Every acknowledged id is the id of a reliable message or of a login.
        reliable_ids = {int(f["tamblewick.id"]) for f in frames if f["tamblewick.reliable"] == "1"}
        for ack in sent_ids[107]:
            self.assertIn(int(ack["tamblewick.acked_id"]), reliable_ids)

    def test_malformed_records_get_expert_info(self):
        full = b"x" * 64
        cases = [
            (record(101, b"hi")[:87], "shorter than 88"),
            (record(99, b"hi"), "Kind outside the table"),
            (record(106, b"hi"), "Kind outside the table"),
            (record(101, b"hi", length=-1), "Length negative or above 64"),
            (record(101, b"hi", length=65), "Length negative or above 64"),
            (record(101, b"hi", padding=b"\0\1\0"), "Padding bytes 9 to 11 are not zero"),
            (record(102, b"n" * 14 + b"line"), "Relay author has no terminating zero byte"),
            (record(102, b"bob".ljust(14, b"\0") + b"L" * 50), "Relay line has no terminating zero byte"),
            (record(101, b"hi") + b"\0", "bytes after the record"),
            (record(101, full), None),
            (record(102, b"bob".ljust(14, b"\0") + b"L" * 49), None),
        ]
        capture = self.work / "malformed.pcap"
        write_pcap(capture, [payload for payload, _ in cases])
        frames = self.tshark(capture)
        self.assertEqual(len(frames), len(cases))
        for (payload, expert), frame in zip(cases, frames):
            if expert is None:
                self.assertEqual(frame["_ws.expert.message"], "", frame)
            else:
                self.assertIn(expert, frame["_ws.expert.message"], frame)
        self.assertEqual(frames[0]["_ws.col.Info"], "short datagram, 87 bytes")
        self.assertTrue(frames[1]["_ws.col.Info"].startswith("unknown kind 99 id=10"), frames[1])
        # A full 64-character text ends at its length, not at a terminator.
        self.assertEqual(frames[9]["tamblewick.text"], "x" * 64)

    def test_no_lua_error_on_the_fuzz_corpus(self):
        payloads = []
        for path in sorted(pathlib.Path(os.environ["TW_FUZZ_CORPUS"]).iterdir()):
            data = path.read_bytes()
            payloads.append(data[:1400])
            payloads += [data[start:start + 88] for start in range(len(data))]
        capture = self.work / "corpus.pcap"
        write_pcap(capture, payloads)
        frames = self.tshark(capture)
        self.assertEqual(len(frames), len(payloads))
        for frame in frames:
            self.assertEqual(frame["_ws.col.Protocol"], "TAMBLEWICK", frame)


if __name__ == "__main__":
    unittest.main()
