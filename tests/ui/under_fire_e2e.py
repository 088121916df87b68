#!/usr/bin/env python3
"""The real tamblewick window, serving, under a barrage of hostile datagrams.

A private Xvfb runs the program as the chat server. Bare UDP sockets on loopback play
its clients: two well-behaved ones that must come through unharmed, three that log in
and then misbehave, and strangers that never logged in. A seeded generator sends a few
thousand datagrams of 0 to 300 bytes from all of them, from several source ports per
address: random bytes, and well-formed 88-byte records with hostile contents (every kind
from 0 to 120 and random ones, lengths of -1, 0, 64, 65, 10^9 and INT_MIN, texts with
no terminator, any reliable byte, relays and logouts from strangers).

Afterwards the server must still answer a ping, relay a chat line, and close cleanly
with its logout to both good clients; and every datagram that reached any of our sockets
during the whole run must be one well-formed 88-byte record from the chat port.

Every wait polls with a bound; nothing sleeps to synchronise. The barrage is paced by
the server's own receive queue (read from /proc/net/udp), so the kernel drops nothing
and a seed sends the same datagrams every time.

Environment:
  TW_BINARY             the tamblewick program (required)
  TW_CLOSE_HELPER       the send_close_request helper (required)
  TW_LSAN_SUPPRESSIONS  leak suppressions for system libraries (optional)
  TW_FIRE_SEED          seed of the barrage (optional; default 1210)
  TW_FIRE_DATAGRAMS     size of the barrage (optional; default 3000)

Run:  under_fire_e2e.py UnderFire.test_server_survives_a_hostile_barrage
"""

import collections
import os
import random
import select
import socket
import struct
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import twkit  # noqa: E402

SERVER_NAME = "alice"
GOOD_CLIENTS = (("ann", "127.0.0.2"), ("bob", "127.0.0.3"))
# Logged in properly, then used for the worst of the barrage. The names are hostile
# already: one fills a relay's name slot exactly, one fills the whole text area with
# bytes above 127 and has no terminator.
ROGUE_CLIENTS = ((b"mallory", "127.0.0.4"), (b"thirteenchars", "127.0.0.5"),
                 (bytes(range(0x80, 0xC0)), "127.0.0.6"))
ROGUE_PORTS = 3        # barrage sockets per rogue host, besides the one it logged in from
GOOD_HOST_PORTS = 2    # barrage sockets per good client's host, besides its own
STRANGER_HOSTS = 24
STRANGER_PORTS = 2
INTRUDER_IP = "127.0.0.9"
INTRUDER_NAME = bytes(range(0xC0, 0x100))
KIND_PEER_LOGGED_IN = twkit.KIND_PEER_LOGGED_IN
KIND_PEER_TIMED_OUT = twkit.KIND_PEER_TIMED_OUT

INT_MIN = -2**31
INT_MAX = 2**31 - 1
HOSTILE_LENGTHS = (-1, 0, 64, 65, 10**9, INT_MIN, INT_MAX, 1, 13, 14, 49, 50, 63)
# Kinds that would end, restart or rename a good client's session: legitimate in the
# protocol, so they come from the rogues and strangers only.
SESSION_CHANGING = (twkit.KIND_LOGIN, twkit.KIND_LOGIN_ACCEPTED, 108, twkit.KIND_LOGOUT)
# The kinds of the protocol; 106 is never sent.
KINDS_OF_THE_PROTOCOL = {101, 102, 103, 104, 105, 107, 108, 109, 110, 111, 112, 113, 114}
TEXT_KINDS = {101, 103, 104, 105, 108, 109, 112, 113, 114}

CHUNK = 40             # datagrams sent before waiting for the server to empty its queue
DRAIN_POLL_S = 0.005
RECEIVE_BUFFER = 65536  # larger than any datagram, so an oversized one shows its size


class Station:
    """UDP sockets on loopback, drained by one background thread. Every datagram that
    reaches any of them is kept with its size and source. The clients' sockets
    acknowledge reliable records, so the server's queues drain, and their home sockets
    answer pings, so their sessions never time out; strangers answer nothing, so the
    server resends to them and times them out."""

    def __init__(self):
        self.sockets = []
        self.acknowledges = []
        self.answers_pings = []
        self.arrivals = []          # (socket index, size, source, Message or None)
        self.lock = threading.Condition()
        self.stopping = False
        self.thread = None

    def open(self, ip, acknowledges=True, answers_pings=False):
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.bind((ip, 0))
        self.sockets.append(sock)
        self.acknowledges.append(acknowledges)
        self.answers_pings.append(answers_pings)
        return len(self.sockets) - 1

    def start(self):
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def send(self, index, data):
        self.sockets[index].sendto(data, twkit.SERVER)

    def arrival_count(self):
        with self.lock:
            return len(self.arrivals)

    def _take(self, sock, index):
        try:
            data, source = sock.recvfrom(RECEIVE_BUFFER)
        except (BlockingIOError, InterruptedError):
            return False
        message = None
        if len(data) >= twkit.RECORD.size:
            message = twkit.Message(data)
            message.padding = data[9:12]
        if message is not None and not self.stopping:
            if message.reliable and self.acknowledges[index]:
                sock.sendto(twkit.ack_for(message, 10), twkit.SERVER)
            if message.kind == twkit.KIND_PING and self.answers_pings[index]:
                sock.sendto(twkit.pong_for(message, 10), twkit.SERVER)
        with self.lock:
            self.arrivals.append((index, len(data), source, message))
            self.lock.notify_all()
        return True

    def _serve(self):
        for sock in self.sockets:
            sock.setblocking(False)
        while True:
            with self.lock:
                if self.stopping:
                    return
            readable, _, _ = select.select(self.sockets, [], [], 0.1)
            for sock in readable:
                self._take(sock, self.sockets.index(sock))

    def stop(self):
        """Stops the thread, then takes whatever still waits in the sockets."""
        if self.thread is not None:
            with self.lock:
                self.stopping = True
            self.thread.join(timeout=twkit.WAIT_S)
            self.thread = None
        for _ in range(100000):
            readable, _, _ = select.select(self.sockets, [], [], 0)
            if not readable:
                break
            for sock in readable:
                self._take(sock, self.sockets.index(sock))

    def close(self):
        self.stop()
        for sock in self.sockets:
            sock.close()

    def wait_for(self, what, index, predicate, since=0, timeout=twkit.WAIT_S):
        """The first record that reached socket `index` after arrival number `since`
        and matches."""
        deadline = time.monotonic() + timeout
        with self.lock:
            while True:
                for where, _, _, message in self.arrivals[since:]:
                    if where == index and message is not None and predicate(message):
                        return message
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    mine = [m for w, _, _, m in self.arrivals[since:] if w == index]
                    raise AssertionError(f"timed out after {timeout:.0f} s waiting for "
                                         f"{what}; that socket received {mine[-20:]}")
                self.lock.wait(min(remaining, 0.5))


def chat_port_row():
    """The kernel's receive queue (bytes) and drop count of the socket bound to the chat
    port. The table is generated a page at a time and resumes by position, so a read
    while other sockets come and go can miss a row: read again, a bounded number of
    times."""
    for _ in range(100):
        with open("/proc/net/udp") as table:
            for row in table.read().splitlines()[1:]:
                fields = row.split()
                if fields[1].endswith(f":{twkit.CHAT_PORT:04X}"):
                    return int(fields[4].split(":")[1], 16), int(fields[12])
    raise AssertionError("nothing is bound to the chat port")


# --- the barrage --------------------------------------------------------------------------

class Barrage:
    """Seeded datagrams, each with the station socket it leaves from."""

    def __init__(self, rng, sources):
        self.rng = rng
        self.sources = sources      # class name -> list of (socket index, host)
        self.kind_cycle = {name: 0 for name in sources}
        self.reliable_ids = collections.defaultdict(set)   # host -> ids sent reliable
        self.tally = collections.Counter()

    def random_bytes(self, count):
        return bytes(self.rng.getrandbits(8) for _ in range(count))

    def hostile_text(self):
        rng = self.rng
        choice = rng.randrange(6)
        if choice == 0:     # the whole area, no terminator, any byte but zero
            return bytes(rng.randrange(1, 256) for _ in range(64))
        if choice == 1:     # a relay's layout with the name slot left unterminated
            return bytes(rng.randrange(1, 256) for _ in range(14)) + b"\0" + b"x" * 49
        if choice == 2:
            return b""
        if choice == 3:     # control characters and bytes above 127
            return bytes(rng.choice((1, 7, 8, 9, 10, 13, 27, 127, 128, 160, 255))
                         for _ in range(rng.randrange(1, 65)))
        if choice == 4:
            return b"\xff" * 64
        return self.random_bytes(rng.randrange(0, 65))

    def next_kind(self, source_class):
        rng = self.rng
        choice = rng.random()
        if choice < 0.4:    # every kind from 0 to 120 in turn, for each class of sender
            kind = self.kind_cycle[source_class]
            self.kind_cycle[source_class] = (kind + 1) % 121
            return kind
        if choice < 0.8:
            return rng.randrange(101, 116)
        return rng.randrange(INT_MIN, INT_MAX + 1)

    def hostile_record(self, source_class):
        rng = self.rng
        kind = self.next_kind(source_class)
        while source_class == "good" and kind in SESSION_CHANGING:
            kind = self.next_kind(source_class)
        length = (rng.choice(HOSTILE_LENGTHS) if rng.random() < 0.7
                  else rng.randrange(INT_MIN, INT_MAX + 1))
        reliable = rng.choice((0, 1, rng.randrange(256)))
        message_id = rng.choice((0, rng.randrange(0, 40), rng.randrange(INT_MIN, INT_MAX + 1)))
        text = self.hostile_text()[:64].ljust(64, b"\0")
        resend_timer = struct.unpack("<f", self.random_bytes(4))[0]
        pad = b"\0\0\0" if rng.random() < 0.9 else self.random_bytes(3)
        data = (struct.pack("<ifB", message_id, resend_timer, reliable) + pad
                + struct.pack("<iii", rng.randrange(INT_MIN, INT_MAX + 1), kind, length)
                + text)
        if rng.random() < 0.1:
            data += self.random_bytes(rng.randrange(1, 300 - len(data) + 1))
        self.tally["records"] += 1
        self.tally[f"kind {kind}" if 0 <= kind <= 120 else "kind random"] += 1
        return data

    def random_datagram(self, source_class):
        data = self.random_bytes(self.rng.randrange(0, 301))
        if source_class == "good" and len(data) >= 88:
            kind = struct.unpack_from("<i", data, 16)[0]
            if kind in SESSION_CHANGING:
                data = data[:16] + struct.pack("<i", kind + 1000) + data[20:]
        self.tally["random bytes"] += 1
        return data

    def next(self):
        rng = self.rng
        draw = rng.random()
        source_class = "good" if draw < 0.15 else "rogue" if draw < 0.55 else "stranger"
        index, host = rng.choice(self.sources[source_class])
        data = (self.random_datagram(source_class) if rng.random() < 0.35
                else self.hostile_record(source_class))
        if len(data) >= 88 and data[8] != 0:
            self.reliable_ids[host].add(struct.unpack_from("<i", data, 0)[0])
        self.tally[f"from {source_class}"] += 1
        return index, data


# --- the test -------------------------------------------------------------------------------

class Cast:
    """Which station socket plays whom. Each client has a home socket that it logged in
    from; the barrage leaves from the other sockets."""

    def __init__(self, station, rng):
        self.good = {name: station.open(ip, answers_pings=True) for name, ip in GOOD_CLIENTS}
        self.rogues = [station.open(ip, answers_pings=True) for _, ip in ROGUE_CLIENTS]
        self.sources = {"good": [], "rogue": [], "stranger": []}
        for _, ip in GOOD_CLIENTS:
            self.sources["good"] += [(station.open(ip), ip) for _ in range(GOOD_HOST_PORTS)]
        for _, ip in ROGUE_CLIENTS:
            self.sources["rogue"] += [(station.open(ip), ip) for _ in range(ROGUE_PORTS)]
        stranger_ips = set()
        while len(stranger_ips) < STRANGER_HOSTS:
            stranger_ips.add(f"127.{rng.randrange(10, 250)}.{rng.randrange(256)}."
                             f"{rng.randrange(1, 255)}")
        for ip in sorted(stranger_ips):
            self.sources["stranger"] += [(station.open(ip, acknowledges=False), ip)
                                         for _ in range(STRANGER_PORTS)]
        self.intruder = station.open(INTRUDER_IP, acknowledges=False)

    def role(self, index):
        if index in self.good.values():
            return "good clients"
        if index in self.rogues:
            return "rogue homes"
        for source_class, members in self.sources.items():
            if any(index == member for member, _ in members):
                return f"{source_class} ports"
        return "intruder"


class UnderFire(twkit.WindowTestCase):
    def setUp(self):
        self.started = time.monotonic()
        self.program = None
        self.station = Station()
        self.addCleanup(self.station.close)
        super().setUp()

    def start_server(self):
        self.require_free_chat_port()
        self.program = self.serve(self.start_program(), SERVER_NAME)
        return self.program

    def log_in(self, index, name):
        since = self.station.arrival_count()
        self.station.send(index, twkit.record(twkit.KIND_LOGIN, name, message_id=0, reliable=1))
        self.station.wait_for(f"the answer to the login of {name!r}", index,
                              lambda m: m.kind == twkit.KIND_LOGIN_ACCEPTED
                              and m.text_str() == SERVER_NAME, since=since)

    def wait_for_empty_queue(self, what):
        def empty():
            if self.program.process.poll() is not None:
                raise AssertionError(f"the server ended {what}: {self.program.error_text()}")
            return chat_port_row()[0] == 0
        deadline = time.monotonic() + twkit.WAIT_S
        while not empty():
            if time.monotonic() >= deadline:
                raise AssertionError(f"the server did not take its datagrams {what}")
            time.sleep(DRAIN_POLL_S)

    def expect_none(self, found, what):
        """Fails with the number found and the first few (socket index, what) pairs."""
        if found:
            self.fail(f"{len(found)} {what}, the first: {found[:3]}")

    def test_server_survives_a_hostile_barrage(self):
        seed = int(os.environ.get("TW_FIRE_SEED", "1210"))
        count = int(os.environ.get("TW_FIRE_DATAGRAMS", "3000"))
        rng = random.Random(seed)
        station = self.station
        cast = Cast(station, rng)
        station.start()

        server = self.start_server()
        for name, index in cast.good.items():
            self.log_in(index, name.encode())
        for (name, _), index in zip(ROGUE_CLIENTS, cast.rogues):
            self.log_in(index, name)

        barrage = Barrage(rng, cast.sources)
        _, drops_before = chat_port_row()
        fire_started = time.monotonic()
        sent_bytes = 0
        for number in range(count):
            index, data = barrage.next()
            station.send(index, data)
            sent_bytes += len(data)
            if number % CHUNK == CHUNK - 1 or number == count - 1:
                self.wait_for_empty_queue(f"after datagram {number + 1} of the barrage")
        fire_seconds = time.monotonic() - fire_started
        _, drops_after = chat_port_row()
        arrivals_during_fire = station.arrival_count()

        self.check_intruder_times_out(cast)
        self.check_ping_is_answered(cast.good["ann"])
        ann_ip = GOOD_CLIENTS[0][1]
        self.check_line_is_relayed("ann", cast.good["ann"], cast.good["bob"],
                                   next(i for i in range(10, 10**6)
                                        if i not in barrage.reliable_ids[ann_ip]))

        def prompt_drawn():
            twkit.check_row(server.picture(), 0, twkit.RED)
            return True
        twkit.wait_until("the window to draw its red prompt row", prompt_drawn)

        since = station.arrival_count()
        self.xserver.run(os.environ["TW_CLOSE_HELPER"], server.window)
        for name, index in cast.good.items():
            station.wait_for(f"the logout at {name}", index,
                             lambda m: m.kind == twkit.KIND_LOGOUT
                             and m.text_str() == SERVER_NAME, since=since)
        self.assertEqual(server.wait_exit(), 0, server.error_text())
        self.assertEqual(server.error_text(), "")
        station.stop()

        arrivals = list(station.arrivals)
        self.check_every_arrival(cast, arrivals)

        kinds = collections.Counter(m.kind for _, _, _, m in arrivals)
        roles = collections.Counter(cast.role(i) for i, _, _, _ in arrivals)
        kinds_in_range = sum(1 for k in barrage.tally if k.startswith("kind ")
                             and k != "kind random")
        print(f"[ figures  ] seed {seed}: {count} datagrams ({sent_bytes} bytes) sent in "
              f"{fire_seconds:.1f} s: {barrage.tally['random bytes']} of random bytes, "
              f"{barrage.tally['records']} hostile records ({kinds_in_range} of the kinds "
              f"0..120, {barrage.tally['kind random']} of random kinds); "
              f"from the good hosts {barrage.tally['from good']}, the rogues "
              f"{barrage.tally['from rogue']}, strangers {barrage.tally['from stranger']}",
              flush=True)
        print(f"[ figures  ] received {len(arrivals)} datagrams, all 88 bytes "
              f"({arrivals_during_fire} by the end of the barrage); by socket "
              f"{dict(sorted(roles.items()))}; by kind {dict(sorted(kinds.items()))}; "
              f"dropped by the server's socket {drops_after - drops_before}; "
              f"whole test {time.monotonic() - self.started:.1f} s", flush=True)

    def check_intruder_times_out(self, cast):
        """One more stranger logs in, with a name that fills the whole text area and has
        no terminator. It acknowledges the server's answer once, which confirms the login,
        and then falls silent like every stranger: the server announces it, resends to it
        unanswered and, after ten silent seconds, times it out. The good clients live
        through those seconds on the server's pings alone."""
        since = self.station.arrival_count()
        self.station.send(cast.intruder, twkit.record(twkit.KIND_LOGIN, INTRUDER_NAME,
                                                    message_id=0, reliable=1))
        answer = self.station.wait_for(
            "the answer to the intruder's login", cast.intruder,
            lambda m: m.kind == twkit.KIND_LOGIN_ACCEPTED, since=since)
        self.station.send(cast.intruder, twkit.ack_for(answer, 10))
        for name, index in cast.good.items():
            announced = self.station.wait_for(
                f"the intruder's login announced to {name}", index,
                lambda m: m.kind == KIND_PEER_LOGGED_IN and m.text == INTRUDER_NAME,
                since=since)
            self.assertEqual(announced.length, 64)
        for name, index in cast.good.items():
            gone = self.station.wait_for(
                f"the intruder's time-out announced to {name}", index,
                lambda m: m.kind == KIND_PEER_TIMED_OUT and m.text == INTRUDER_NAME,
                since=since, timeout=twkit.WAIT_S + 10)
            self.assertEqual(gone.length, 64)

    def check_ping_is_answered(self, client):
        self.assertIsNone(self.program.process.poll(), self.program.error_text())
        stamp = struct.pack("<f", 4321.25)
        since = self.station.arrival_count()
        self.station.send(client, twkit.RECORD.pack(7, 0.0, 0, 0, twkit.KIND_PING, 1,
                                                  stamp.ljust(64, b"\0")))
        pong = self.station.wait_for("the pong", client, lambda m: m.kind == twkit.KIND_PONG
                                     and m.text[:4] == stamp, since=since)
        self.assertEqual((pong.length, pong.reliable), (1, 0))

    def check_line_is_relayed(self, author_name, author, reader, chat_id):
        """The author's id is one that its host did not use in the barrage, or the
        server would take the line for a duplicate."""
        line = "still standing after the storm"
        since = self.station.arrival_count()
        self.station.send(author, twkit.record(twkit.KIND_CHAT, line.encode(), message_id=chat_id,
                                             reliable=1))
        relay = self.station.wait_for(f"{author_name}'s line relayed", reader,
                                      lambda m: m.kind == twkit.KIND_CHAT_RELAY
                                      and m.relay_parts()[1] == line, since=since)
        self.assertEqual(relay.text[:14], author_name.encode().ljust(14, b"\0"))
        self.assertEqual(relay.text[14:14 + len(line) + 1], line.encode() + b"\0")
        self.assertEqual(relay.reliable, 1)
        self.station.wait_for(f"the acknowledgement of {author_name}'s line", author,
                              lambda m: m.kind == twkit.KIND_ACK and m.acked_id() == chat_id,
                              since=since)

    def check_every_arrival(self, cast, arrivals):
        self.expect_none([(i, size) for i, size, _, _ in arrivals if size != twkit.RECORD.size],
                         "datagrams that are not 88 bytes")
        self.expect_none([(i, source) for i, _, source, _ in arrivals if source != twkit.SERVER],
                         "datagrams not from the chat port")
        self.expect_none([(i, m) for i, _, _, m in arrivals if not well_formed(m)],
                         "records that no node builds")
        # The good hosts' other ports never logged in: nothing may go there but the logout
        # that tells a port without a session that it has none.
        self.expect_none([(i, m) for i, _, _, m in arrivals
                          if cast.role(i) == "good ports" and m.kind != twkit.KIND_LOGOUT],
                         "datagrams other than a logout to a port that never logged in")


def well_formed(message):
    """A record as a node builds it: a kind of the protocol, zero padding, a reliable
    flag of 0 or 1; a text kind's length within the text area and nothing after the
    text; a relay's name and line each ended within their slots; acks and pings of
    length 1 with four bytes. Relays and pongs copy their length from what they answer,
    so any length is theirs to carry."""
    if message is None or message.kind not in KINDS_OF_THE_PROTOCOL:
        return False
    if message.padding != b"\0\0\0" or message.reliable not in (0, 1):
        return False
    text = message.text
    if message.kind in TEXT_KINDS:
        return 0 <= message.length <= 64 and not any(text[message.length:])
    if message.kind == twkit.KIND_CHAT_RELAY:
        return 0 in text[:14] and 0 in text[14:]
    if message.kind in (twkit.KIND_ACK, twkit.KIND_PING):
        return message.length == 1 and not any(text[4:])
    return True


if __name__ == "__main__":
    for variable in ("TW_BINARY", "TW_CLOSE_HELPER"):
        if not os.environ.get(variable):
            sys.exit(f"{variable} is not set")
    unittest.main(verbosity=2)
