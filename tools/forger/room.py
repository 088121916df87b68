"""The real programs of a measured room, and what a user of a shared host can see.

A room is one piped tamblewick-tty serving on UDP port 1210 and piped clients, each on a
127.0.0.K address of its own. A client connects to its own address, which the server
(bound to every address) answers from; a /32 route with that source address makes the
client's socket take it. Every wait here has a bound.
"""

import os
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time

import forge

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                                "support"))
import twkit  # noqa: E402

WAIT_S = 20.0
POLL_S = 0.02


def wait_until(what, predicate, timeout=WAIT_S):
    """The first true value of predicate within timeout; None when it never comes."""
    deadline = time.monotonic() + timeout
    while True:
        result = predicate()
        if result:
            return result
        if time.monotonic() >= deadline:
            return None
        time.sleep(POLL_S)


def own_address(ip):
    """Makes sockets that connect to ip take ip as their source address."""
    subprocess.run(["ip", "route", "replace", "local", f"{ip}/32", "dev", "lo", "src", ip,
                    "table", "local"], check=True, capture_output=True, timeout=WAIT_S)


def udp_rows():
    """(local ip, local port, remote port, receive queue bytes, inode) of every UDP
    socket of this namespace, from /proc/net/udp: what any user of the host may read."""
    rows = []
    with open("/proc/net/udp") as table:
        for line in table.read().splitlines()[1:]:
            fields = line.split()
            local_ip, local_port = fields[1].split(":")
            remote_port = int(fields[2].split(":")[1], 16)
            queue = int(fields[4].split(":")[1], 16)
            ip = socket.inet_ntoa(bytes.fromhex(local_ip)[::-1])
            rows.append((ip, int(local_port, 16), remote_port, queue, fields[9]))
    return rows


def receive_queue(ip, port):
    """Bytes waiting in the socket bound to ip (or to every address) and port."""
    return sum(row[3] for row in udp_rows() if row[1] == port and row[0] in (ip, "0.0.0.0"))


def wait_drained(ip, port, below=20000, timeout=5.0):
    """Waits until the socket at ip:port holds fewer than `below` bytes."""
    return wait_until("the receive queue to drain", lambda: receive_queue(ip, port) < below,
                      timeout) is not None


class LineProgram:
    """tamblewick-tty with pipes; what it printed, and when each line was first seen."""

    def __init__(self, binary, directory, name, ip=None):
        self.name = name
        self.ip = ip
        self.path = os.path.join(directory, f"{name}.out")
        self.output = open(self.path, "wb")
        self.process = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=self.output,
                                        stderr=subprocess.DEVNULL, start_new_session=True,
                                        env={**os.environ, "LANG": "C.UTF-8"})
        self.seen = {}

    def type(self, text):
        self.process.stdin.write(text.encode())
        self.process.stdin.flush()

    def lines(self):
        with open(self.path, "rb") as out:
            lines = out.read().decode("utf-8", "replace").split("\n")[:-1]
        now = time.monotonic()
        for line in lines:
            self.seen.setdefault(line, now)
        return lines

    def count(self, line):
        return self.lines().count(line)

    def wait_for(self, line, timeout=WAIT_S):
        """True when the line is printed within timeout."""
        return wait_until(line, lambda: line in self.lines(), timeout) is not None

    def port(self):
        """The local port of its socket connected to the chat port, or None."""
        inodes = set(twkit.socket_fds(self.process.pid))
        for ip, port, remote_port, _, inode in udp_rows():
            if inode in inodes and remote_port == forge.CHAT_PORT and ip == self.ip:
                return port
        return None

    def stop(self, how=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(how)
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=WAIT_S)
        self.process.stdin.close()
        self.output.close()


class Room:
    """A server and its clients; everything it starts is stopped by close()."""

    def __init__(self, binary):
        self.binary = binary
        self.tmp = tempfile.TemporaryDirectory(prefix="forger-")
        self.programs = []
        self.peers = []
        self.server = None

    def serve(self):
        self.server = self.program("server")
        self.server.type("serve\n")
        if not self.server.wait_for(" -- Server Started"):
            raise RuntimeError("the server did not start")
        return self.server

    def program(self, name, ip=None):
        program = LineProgram(self.binary, self.tmp.name, name, ip)
        self.programs.append(program)
        return program

    def client(self, name, ip, wait=True):
        """A real client named `name` on address ip, logged in when wait is set."""
        own_address(ip)
        client = self.program(name, ip)
        client.type(f"nick {name}\nconnect {ip}\n")
        if wait and not client.wait_for(f" -- Login Accepted by {ip}"):
            raise RuntimeError(f"{name} was not let in")
        return client

    def peer(self, ip, **options):
        own_address(ip)
        peer = ScriptedPeer(ip, **options)
        self.peers.append(peer)
        return peer

    def restart_server(self):
        """Ends the server without a goodbye, as a crash would, and serves again."""
        self.server.stop(signal.SIGKILL)
        return self.serve()

    def close(self):
        for peer in self.peers:
            peer.close()
        for program in self.programs:
            program.stop()
        self.tmp.cleanup()


class ScriptedPeer:
    """A session made of a bare UDP socket, served by the caller's pump(): it acknowledges
    what `acks(kind, text)` allows and answers pings."""

    def __init__(self, ip, acks=lambda kind, text: True):
        self.ip = ip
        self.acks = acks
        self.server = (ip, forge.CHAT_PORT)
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
        self.sock.bind((ip, 0))
        self.next_id = forge.random_id()
        self.answers = 0

    def close(self):
        self.sock.close()

    def take_id(self):
        self.next_id = forge.wrap(self.next_id + 1)
        return self.next_id

    def send(self, data):
        self.sock.sendto(data, self.server)

    def login(self, name):
        self.send(forge.record(forge.KIND_LOGIN, name.encode(), 0, 1))

    def chat(self, line):
        self.send(forge.record(forge.KIND_CHAT, line.encode(), self.take_id(), 1))

    def pump(self, seconds):
        """Reads and answers for about `seconds`, at most 100,000 datagrams."""
        deadline = time.monotonic() + seconds
        for _ in range(100000):
            left = max(0.0, deadline - time.monotonic())
            if not select.select([self.sock], [], [], left)[0]:
                return
            self.answer(self.sock.recv(4096))

    def answer(self, data):
        if len(data) < forge.RECORD.size:
            return
        message_id, reliable, kind, length, text = forge.unpack(data)
        if kind == forge.KIND_LOGIN_ACCEPTED:
            self.answers += 1
        if reliable and self.acks(kind, text):
            self.send(forge.record(forge.KIND_ACK, message_id.to_bytes(4, "little", signed=True),
                                   self.take_id(), 0, 1))
        if kind == forge.KIND_PING:
            self.send(forge.RECORD.pack(self.take_id(), 0.0, 0, 0, 111, length, text))
