#!/usr/bin/env python3
"""Writes the seed inputs of the dispatch fuzzers into fuzz/corpus/.

Each seed is a small program in the fuzz input encoding of session_driver.h: an op byte
followed by its operands. Every seed starts with a login (103) from host 1 and a login
acceptance (104) from host 2, so that in either mode the node has peers before the
interesting datagram arrives. Run it again after changing the encoding; the files are
committed so that a fresh clone fuzzes from them without running it.
"""

import pathlib
import struct

RAW, MESSAGE, MAINTAIN, CHAT, RENAME, LOGOUT, LOGIN = range(7)

# Source selectors: host = 1 + s % 8, port = 40000 + (s // 8) % 4.
HOST1, HOST2, HOST3, HOST1_NEW_PORT, STRANGER = 0, 1, 2, 8, 7

# Elapsed-time selectors into the driver's table.
ZERO, HALF, ONE, FIVE_AND_A_BIT, TEN_AND_A_BIT = 0, 5, 6, 9, 11


def record(kind, text=b"", msg_id=10, reliable=1, length=None, reserved=0, resend=0.0):
    if length is None:
        length = len(text)
    return struct.pack("<ifB3xiii64s", msg_id, resend, reliable, reserved, kind, length, text)


def raw(source, data, size_selector=0):
    return bytes([RAW, source, size_selector]) + data


def maintain(selector):
    return bytes([MAINTAIN, selector])


def prelude():
    return (raw(HOST1, record(103, b"ann", msg_id=0)) +
            raw(HOST2, record(104, b"boss", msg_id=10)) +
            maintain(ZERO))


def seed(*steps):
    return prelude() + b"".join(steps) + maintain(HALF) + maintain(ZERO)


def relay_payload(name, line):
    return name.ljust(14, b"\0") + line


SEEDS = {
    # Found by fuzzing: a login confirmed by an acknowledgement whose id is the smallest
    # there is, so the id before it wraps round.
    "login-acked-at-smallest-id": bytes.fromhex(
        "000000000000000000000001020000000000006700000000000000000000000000000036"
        "00000000000000680000006b000000040000000b00000080000000000000000068000000"
        "6b00000004000000000289000000020089606000000a0000008000000000000000006800"
        "00006b000000040000000b"),
    # Found by fuzzing: a "no session" answer, which echoes the id it answers, still
    # waiting to leave when its address logs in.
    "no-session-to-a-port-that-logs-in": bytes.fromhex(
        "0000f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0c5c5e1"
        "e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1"
        "e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1e1c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5"
        "c5c58a523895ff7f0000c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5"
        "c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5f0f0f0f0f0f0f0f0f0f0f0f0"
        "f0f0f0f0f0f0f0f0f0f0f0f0f0f0f4f0f0c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5"
        "c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c57ec5c5c5c5c5c5c5c5c5"
        "c5c5c5f0c5c5f0f0c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5c5f0f0f0f0f0f0f0f0f0f0"
        "f0f0f0f0f0f0f0f0f0f0f0c5c5e7c5c5c5c5c50000000000000000000000400000000000"
        "0000000000000000000000000000648c0000306000000000000000000000"),
    "kind-101-chat": seed(raw(HOST1, record(101, b"hello all", msg_id=11)),
                          raw(HOST2, record(101, b"hi ann", msg_id=11))),
    "kind-102-relay": seed(raw(HOST2, record(102, relay_payload(b"bob", b"hello"), msg_id=12))),
    "kind-103-login": seed(raw(HOST3, record(103, b"cat", msg_id=0))),
    "kind-104-accepted": seed(raw(HOST3, record(104, b"srv2", msg_id=10))),
    "kind-105-logged-in": seed(raw(HOST2, record(105, b"dan", msg_id=13))),
    "kind-106-unused": seed(raw(HOST1, record(106, b"x", msg_id=14))),
    "kind-107-ack": seed(maintain(ZERO), raw(HOST1, record(107, struct.pack("<i", 10), reliable=0))),
    "kind-108-nick": seed(raw(HOST1, record(108, b"annie", msg_id=15))),
    "kind-109-nick-notice": seed(raw(HOST2, record(109, b"bob changed nick to rob", msg_id=16))),
    "kind-110-ping": seed(raw(HOST1, record(110, struct.pack("<f", 1.5), reliable=0, length=1))),
    "kind-111-pong": seed(raw(HOST2, record(111, struct.pack("<f", 0.25), reliable=0, length=1))),
    "kind-112-logout": seed(raw(HOST1, record(112, b"ann", reliable=0))),
    "kind-113-logged-out": seed(raw(HOST2, record(113, b"dan", msg_id=17))),
    "kind-114-timed-out": seed(raw(HOST2, record(114, b"dan", msg_id=18))),
    # Malformed or hostile.
    "short-87": seed(raw(HOST1, record(101, b"cut")[:87], size_selector=203)),
    "long-100": seed(raw(HOST1, record(101, b"long") + b"\xff" * 12, size_selector=205)),
    "unknown-sender-ping": seed(raw(STRANGER, record(110, b"\0\0\0\0", reliable=0, length=1))),
    "negative-length": seed(raw(HOST1, record(101, b"neg", msg_id=19, length=-1))),
    "huge-length": seed(raw(HOST1, record(103, b"x" * 64, msg_id=0, length=0x7FFFFFFF))),
    "full-area-no-terminator": seed(raw(HOST1, record(108, b"n" * 64, msg_id=20, length=64)),
                                    raw(HOST1, record(101, b"l" * 64, msg_id=21, length=64))),
    "relay-without-terminator": seed(raw(HOST2, record(102, b"r" * 64, msg_id=22))),
    "duplicate-chat": seed(raw(HOST1, record(101, b"twice", msg_id=23)),
                           raw(HOST1, record(101, b"twice", msg_id=23))),
    "relogin-new-port": seed(raw(HOST1_NEW_PORT, record(103, b"ann2", msg_id=0))),
    "reliable-flag-odd": seed(raw(HOST1, record(101, b"odd", msg_id=24, reliable=0xFE))),
    # The node's own operations between datagrams.
    "own-operations": seed(bytes([CHAT, 1, 70]) + b"c" * 70,
                           bytes([RENAME, 20]) + b"a-name-of-twenty-chr",
                           bytes([CHAT, 0, 5]) + b"quick",
                           bytes([LOGOUT]),
                           bytes([LOGIN, 3]) + b"ann"),
    "resends-and-timeout": seed(bytes([CHAT, 1, 4]) + b"ping",
                                maintain(ONE), maintain(ONE), maintain(FIVE_AND_A_BIT),
                                maintain(TEN_AND_A_BIT)),
    "structured-message": seed(bytes([MESSAGE, HOST1, 0, 1, 1, 5]) + b"hello" + bytes([0])),
}


def main():
    corpus = pathlib.Path(__file__).resolve().parent / "corpus"
    corpus.mkdir(exist_ok=True)
    for old in corpus.iterdir():
        old.unlink()
    for name, data in SEEDS.items():
        (corpus / name).write_bytes(data)
    print(f"{len(SEEDS)} seeds in {corpus}")


if __name__ == "__main__":
    main()
