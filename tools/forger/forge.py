"""A blind forger: 88-byte Tamblewick records from any IPv4 source address and port.

The forger only sends. Its raw socket (IPPROTO_RAW, which implies IP_HDRINCL) cannot
receive, so whatever it does, it does knowing addresses, ports and names and nothing of
the traffic between a client and its server. It needs root; run it inside
tools/in-private-net, where 127.0.0.0/8 on the loopback interface is the namespace's own.
"""

import random
import socket
import struct
import time

CHAT_PORT = 1210

KIND_CHAT = 101
KIND_CHAT_RELAY = 102
KIND_LOGIN = 103
KIND_LOGIN_ACCEPTED = 104
KIND_UNUSED = 106
KIND_ACK = 107
KIND_PING = 110
KIND_LOGOUT = 112

# id, resend_timer, reliable, 3 pad bytes, reserved, kind, length, text: 88 bytes.
RECORD = struct.Struct("<ifB3xiii64s")
IP_HEADER = struct.Struct("!BBHHHBBH4s4s")
UDP_HEADER = struct.Struct("!HHHH")
assert RECORD.size == 88


def record(kind, text=b"", message_id=0, reliable=0, length=None):
    """One record as it goes on the wire, text cut to its 64-byte area."""
    text = text[:64]
    if length is None:
        length = len(text)
    return RECORD.pack(message_id, 0.0, reliable, 0, kind, length, text.ljust(64, b"\0"))


def unpack(data):
    """(id, reliable, kind, length, text) of a received record."""
    message_id, _, reliable, _, kind, length, text = RECORD.unpack(data[:RECORD.size])
    return message_id, reliable, kind, length, text


def text_of(text):
    return text.split(b"\0", 1)[0].decode("latin-1")


def random_id():
    return random.randint(-2**31, 2**31 - 1)


def wrap(value):
    """A 32-bit serial number as the signed id the wire carries."""
    value &= 0xFFFFFFFF
    return value - 2**32 if value >= 2**31 else value


class Forger:
    """Sends UDP datagrams with forged IPv4 headers; counts what it sent."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
        self.sent = 0
        self.ip_id = 0

    def close(self):
        self.sock.close()

    def packet(self, source, destination, payload):
        """The whole IPv4 datagram. The kernel fills the IP checksum; a UDP checksum of 0
        means none, which IPv4 allows."""
        self.ip_id = (self.ip_id + 1) & 0xFFFF
        udp = UDP_HEADER.pack(source[1], destination[1], 8 + len(payload), 0)
        total = IP_HEADER.size + len(udp) + len(payload)
        ip = IP_HEADER.pack(0x45, 0, total, self.ip_id, 0, 64, socket.IPPROTO_UDP, 0,
                            socket.inet_aton(source[0]), socket.inet_aton(destination[0]))
        return ip + udp + payload

    def send(self, source, destination, payload):
        self.sock.sendto(self.packet(source, destination, payload), (destination[0], 0))
        self.sent += 1

    def send_paced(self, datagrams, per_second, deadline):
        """Sends (source, destination, payload) triples at about per_second, stopping at
        the deadline (time.monotonic()); returns how many went."""
        started = time.monotonic()
        count = 0
        for source, destination, payload in datagrams:
            if time.monotonic() >= deadline:
                break
            self.send(source, destination, payload)
            count += 1
            ahead = count / per_second - (time.monotonic() - started)
            if ahead > 0.005:
                time.sleep(ahead)
        return count
