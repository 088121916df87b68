#!/usr/bin/env python3
"""End-to-end tests of tamblewick-tty, the terminal front end, as real processes.

Screen mode runs in tmux at 80x24: keys go in with send-keys, the screen comes back with
capture-pane -e (text and colours). Line mode runs with pipes. Scripted UDP peers on
127.0.0.x log in, chat, send hostile bytes and watch for the logout. Every wait polls
with a bound; nothing sleeps to synchronise, and every test stops by itself.

The tests bind UDP port 1210 and give 127.0.0.2 a route of its own, so they run in a
private network namespace: when started outside one (as root), the script re-runs
itself under `unshare --net`.

Environment:
  TW_TTY_BINARY   the tamblewick-tty program (required)
  TW_TTY_CAPTURE  where to save the chatting server's capture-pane -e text (optional)

Run one case:  tty_e2e.py TtyScreen.test_colours_keys_cut_and_ctrl_c_logout
"""

import os
import re
import select
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

WAIT_S = 20.0
POLL_S = 0.05
IDLE_MEASURE_S = 10.0

CHAT_PORT = 1210
KIND_CHAT = 101
KIND_CHAT_RELAY = 102
KIND_LOGIN = 103
KIND_LOGIN_ACCEPTED = 104
KIND_ACK = 107
KIND_PING = 110
KIND_PONG = 111
KIND_LOGOUT = 112

# id, resend_timer, reliable, 3 pad bytes, reserved, kind, length, text
RECORD = struct.Struct("<ifB3xiii64s")
assert RECORD.size == 88

# The window's colours as the nearest xterm-256 colours (no COLORTERM in the tests).
PROMPT_256, OWN_256, NOTICE_256, PEER_256 = 196, 45, 240, 21

# Every byte a peer could use to steer a terminal: CSI and OSC (a window title), BEL, CR,
# backspaces and the 8-bit CSI 0x9B.
HOSTILE_NAME = b"\x1b]0;pwn\x07\x9b"
HOSTILE_LINE = b"\x1b[2J\x1b[H\rX\b\b\x9b31mY\x1b]2;pwned\x1b\\Z\x07"
HOSTILE_NAME_SHOWN = "?]0;pwn??"
HOSTILE_LINE_SHOWN = "?[2J?[H?X???31mY?]2;pwned?\\Z?"


def wait_until(what, predicate, timeout=WAIT_S, seen=None):
    """Polls predicate until it returns something true, for at most timeout seconds; on
    time-out the error shows what `seen` returns then."""
    deadline = time.monotonic() + timeout
    while True:
        result = predicate()
        if result:
            return result
        if time.monotonic() >= deadline:
            detail = f"; last seen: {seen()!r}" if seen else ""
            raise AssertionError(f"timed out after {timeout:.0f} s waiting for {what}{detail}")
        time.sleep(POLL_S)


def private_network():
    links = subprocess.run(["ip", "-o", "link"], capture_output=True, text=True, check=True)
    return len(links.stdout.splitlines()) == 1


def give_second_address_its_own_source():
    # Without it every loopback connect leaves from 127.0.0.1, and the server, which
    # tells peers apart by address, would take two local clients for one.
    subprocess.run(["ip", "route", "replace", "local", "127.0.0.2/32", "dev", "lo",
                    "src", "127.0.0.2", "table", "local"], check=True)


class ScriptedPeer:
    """A client made of datagrams: logs in, chats, acknowledges and records what it got."""

    def __init__(self, ip):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((ip, 0))
        # Not connected: which loopback address the server answers from depends on routes.
        self.server = ("127.0.0.1", CHAT_PORT)
        self.next_id = 10
        self.received = []

    def close(self):
        self.sock.close()

    def send(self, kind, text=b"", reliable=False):
        message_id = 0
        if reliable:
            message_id = self.next_id
            self.next_id += 1
        self.sock.sendto(RECORD.pack(message_id, 0.0, int(reliable), 0, kind, len(text), text),
                         self.server)

    def login(self, name):
        self.sock.sendto(RECORD.pack(0, 0.0, 1, 0, KIND_LOGIN, len(name), name), self.server)
        wait_until("the login answer", lambda: self.pump() and self.kinds(KIND_LOGIN_ACCEPTED))

    def chat(self, text):
        self.send(KIND_CHAT, text, reliable=True)

    def pump(self):
        """Takes every waiting datagram, acknowledging and answering as a client does."""
        while select.select([self.sock], [], [], 0)[0]:
            data = self.sock.recv(1024)
            if len(data) != RECORD.size:
                continue
            message_id, _, reliable, _, kind, length, text = RECORD.unpack(data)
            self.received.append((kind, text[:max(length, 0)]))
            if reliable:
                self.sock.sendto(RECORD.pack(message_id, 0.0, 0, 0, KIND_ACK, 0, b""), self.server)
            if kind == KIND_PING:
                self.send(KIND_PONG)
        return True

    def kinds(self, kind):
        return [text for k, text in self.received if k == kind]


SGR = re.compile(r"\x1b\[([0-9;:]*)m")


def parse_capture(captured):
    """Rows of capture-pane -p -e as (text, colour of the first visible character).

    tmux leaves out the blanks at the end of a row, so "> " comes back as ">".
    A colour is an xterm-256 number, an (r, g, b) tuple or None; tmux writes a colour only
    where it changes, so the current colour carries over from row to row."""
    rows = []
    colour = None
    for line in captured.split("\n"):
        text = ""
        first_colour = None
        position = 0
        for match in SGR.finditer(line):
            text += line[position:match.start()]
            if first_colour is None and text.strip():
                first_colour = colour
            params = [int(p) if p else 0 for p in re.split("[;:]", match.group(1))]
            i = 0
            while i < len(params):
                if params[i] in (0, 39):
                    colour = None
                elif params[i] == 38 and i + 2 < len(params) and params[i + 1] == 5:
                    colour = params[i + 2]
                    i += 2
                elif params[i] == 38 and i + 4 < len(params) and params[i + 1] == 2:
                    colour = tuple(params[i + 2:i + 5])
                    i += 4
                i += 1
            position = match.end()
        tail = line[position:]
        if first_colour is None and (text + tail).strip():
            first_colour = colour
        rows.append(((text + tail).rstrip(), first_colour))
    return rows


class Tmux:
    """A private tmux server running one pane."""

    def __init__(self, directory, env):
        self.socket_path = os.path.join(directory, "tmux.sock")
        self.directory = directory
        self.env = env

    def run(self, *args):
        done = subprocess.run(["tmux", "-u", "-S", self.socket_path, *args], env=self.env,
                              capture_output=True, text=True, timeout=WAIT_S, check=True)
        return done.stdout

    def start(self, command, width=80, height=24):
        self.run("new-session", "-d", "-x", str(width), "-y", str(height), command)
        # The size must not follow a client's: there is none.
        self.run("set-option", "-g", "window-size", "manual")

    def stop(self):
        subprocess.run(["tmux", "-S", self.socket_path, "kill-server"], env=self.env,
                       capture_output=True, timeout=WAIT_S, check=False)

    def keys(self, *keys):
        self.run("send-keys", "-t", "0", *keys)

    def literal(self, text):
        self.run("send-keys", "-t", "0", "-l", text)

    def rows(self):
        return parse_capture(self.run("capture-pane", "-p", "-e", "-t", "0"))

    def texts(self):
        return [text for text, _ in self.rows()]

    def title(self):
        return self.run("display-message", "-p", "-t", "0", "#{pane_title}")


class TtyScreen(unittest.TestCase):
    """The screen front end in tmux."""

    def setUp(self):
        self.binary = os.environ["TW_TTY_BINARY"]
        self.tmp = tempfile.TemporaryDirectory()
        env = {k: v for k, v in os.environ.items()
               if k not in ("COLORTERM", "NO_COLOR", "TMUX")}
        env["LANG"] = "C.UTF-8"
        self.tmux = Tmux(self.tmp.name, env)
        self.peers = []

    def tearDown(self):
        self.tmux.stop()
        for peer in self.peers:
            peer.close()
        self.tmp.cleanup()

    def file(self, name):
        return os.path.join(self.tmp.name, name)

    def read(self, name):
        with open(self.file(name)) as content:
            return content.read()

    def start_program(self):
        before, after, rc = self.file("before"), self.file("after"), self.file("rc")
        # The shell records the terminal's settings around the program and its exit code,
        # then stays, so that the pane can still be read.
        self.tmux.start(f"stty -g > {before}; {self.binary} 2> {self.file('stderr')};"
                        f" echo $? > {rc}; stty -g > {after}.part; mv {after}.part {after}; exec sleep 600")
        wait_until("the prompt", lambda: self.texts()[0].startswith(">"))

    def rows(self):
        # The peers answer the server's pings while the test watches the screen.
        for peer in self.peers:
            peer.pump()
        return self.tmux.rows()

    def texts(self):
        return [text for text, _ in self.rows()]

    def program_pid(self):
        shell = self.tmux.run("display-message", "-p", "-t", "0", "#{pane_pid}").strip()
        with open(f"/proc/{shell}/task/{shell}/children") as children:
            return int(children.read().split()[0])

    def type_line(self, text):
        self.tmux.literal(text)
        self.tmux.keys("Enter")

    def serve_with_peer(self, name=b"bob"):
        self.start_program()
        self.type_line("serve")
        wait_until("the server", lambda: " -- Server Started" in self.texts())
        peer = ScriptedPeer("127.0.0.2")
        self.peers.append(peer)
        peer.login(name)
        return peer

    def wait_for_exit(self):
        rc = wait_until("the program to end",
                        lambda: os.path.exists(self.file("after")) and self.read("rc").strip())
        self.assertEqual(rc, "0", self.read("stderr"))
        self.assertEqual(self.read("before"), self.read("after"))

    def test_colours_keys_cut_and_ctrl_c_logout(self):
        peer = self.serve_with_peer()
        self.type_line("nick alice")
        peer.chat(b"hi from bob")
        self.type_line("Hello, Bob! 1+1=2 ~`{}|\"'")
        # Editing and keys that type nothing: arrows, function keys, Home, Alt+x, and
        # a bracketed paste's markers around the pasted text.
        self.tmux.literal("abcx")
        self.tmux.keys("BSpace", "Up", "Left", "F1", "F12", "Home", "M-x")
        self.tmux.literal("\x1b[200~d\x1b[201~")
        expected = [
            ("> abcd", PROMPT_256),
            (" -- Server Started", NOTICE_256),
            (" -- bob Logged In", NOTICE_256),
            (" -- Nick changed to alice", NOTICE_256),
            ("<bob> hi from bob", PEER_256),
            (" <alice> Hello, Bob! 1+1=2 ~`{}|\"'", OWN_256),
        ]
        wait_until("the console rows", lambda: self.rows()[:6] == expected,
                   seen=self.rows)
        self.assertTrue(all(not text.strip() for text in self.texts()[6:24]))
        capture = os.environ.get("TW_TTY_CAPTURE")
        if capture:
            with open(capture, "w") as saved:
                saved.write(self.tmux.run("capture-pane", "-p", "-e", "-t", "0"))

        self.tmux.run("resize-window", "-t", "0", "-x", "30", "-y", "24")
        cut = [text[:30] for text, _ in expected]
        wait_until("the rows cut at 30 columns",
                   lambda: self.texts()[:6] == cut, seen=self.texts)

        self.tmux.keys("C-c")
        self.wait_for_exit()
        wait_until("the logout on the wire", lambda: peer.pump() and peer.kinds(KIND_LOGOUT))

    def test_hostile_peer_leaves_screen_and_title_alone(self):
        peer = self.serve_with_peer(HOSTILE_NAME)
        title = self.tmux.title()
        peer.chat(HOSTILE_LINE)
        wait_until("the hostile line, defused", lambda: self.texts()[:4] == [
            ">", " -- Server Started", f" -- {HOSTILE_NAME_SHOWN} Logged In",
            f"<{HOSTILE_NAME_SHOWN}> {HOSTILE_LINE_SHOWN}"], seen=self.texts)
        self.assertEqual(self.tmux.title(), title)
        # A crash signal still gives the terminal back.
        os.kill(self.program_pid(), signal.SIGSEGV)
        rc = wait_until("the program to end",
                        lambda: os.path.exists(self.file("after")) and self.read("rc").strip())
        self.assertEqual(rc, str(128 + signal.SIGSEGV))
        self.assertEqual(self.read("before"), self.read("after"))

    def test_idle_session_writes_nothing(self):
        self.serve_with_peer()
        wait_until("the login notice", lambda: " -- bob Logged In" in self.texts())
        written = self.file("written")
        self.tmux.run("pipe-pane", "-t", "0", "-o", f"cat >> {written}")
        pid = self.program_pid()
        cpu_before = cpu_seconds(pid)
        start = time.monotonic()
        # Measuring idleness is the one place where the test must let time pass; the peer
        # answers the server's pings meanwhile.
        deadline = start + IDLE_MEASURE_S
        while time.monotonic() < deadline:
            self.peers[0].pump()
            time.sleep(0.2)
        cpu = cpu_seconds(pid) - cpu_before
        elapsed = time.monotonic() - start
        self.tmux.run("pipe-pane", "-t", "0")
        size = os.path.getsize(written) if os.path.exists(written) else 0
        print(f"\nidle over {elapsed:.1f} s: CPU {100.0 * cpu / elapsed:.3f} % of a core,"
              f" {size} bytes written to the terminal", file=sys.stderr)
        self.assertEqual(size, 0)
        self.tmux.keys("C-d")
        self.wait_for_exit()


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class LineProgram:
    """tamblewick-tty with pipes for stdin and stdout."""

    def __init__(self, binary, directory, name):
        self.output_path = os.path.join(directory, f"{name}.out")
        self.output = open(self.output_path, "wb")
        env = {k: v for k, v in os.environ.items() if k not in ("COLORTERM", "NO_COLOR")}
        env["LANG"] = "C.UTF-8"
        self.process = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=self.output,
                                        stderr=subprocess.PIPE, env=env)

    def type(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def lines(self):
        with open(self.output_path, "rb") as out:
            return out.read().decode("utf-8").split("\n")[:-1]

    def wait_for(self, line):
        wait_until(f"{line!r}", lambda: line in self.lines(), seen=self.lines)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=WAIT_S)
        self.process.stdin.close()
        self.process.stderr.close()
        self.output.close()

    def terminate(self):
        self.process.send_signal(signal.SIGTERM)
        rc = self.process.wait(timeout=WAIT_S)
        return rc, self.process.stderr.read().decode(errors="replace")


class TtyLineMode(unittest.TestCase):
    """Line mode: stdin and stdout are pipes."""

    def setUp(self):
        self.binary = os.environ["TW_TTY_BINARY"]
        self.tmp = tempfile.TemporaryDirectory()
        self.programs = []
        give_second_address_its_own_source()

    def tearDown(self):
        for program in self.programs:
            program.stop()
        self.tmp.cleanup()

    def start(self, name):
        program = LineProgram(self.binary, self.tmp.name, name)
        self.programs.append(program)
        return program

    def test_piped_server_and_two_piped_clients(self):
        server = self.start("server")
        server.type(b"serve\n")
        server.wait_for(" -- Server Started")
        ann = self.start("ann")
        # A script types faster than the login is answered; its line must still arrive.
        ann.type(b"nick ann\nconnect 127.0.0.1\nhello from ann\n")
        server.wait_for("<ann> hello from ann")
        # The second client reaches the server by another loopback address, so that the
        # server, which tells peers apart by address, sees a second host.
        bob = self.start("bob")
        bob.type(b"nick bob\nconnect 127.0.0.2\n")
        ann.wait_for(" -- bob Logged In")
        # Injection attempts in typed lines: what has no key is dropped, as in the window.
        bob.type(b"hi \x1b]0;t\x07ann\nnick bobby\n")
        ann.wait_for("<bob> hi ]0;tann")
        server.wait_for(" -- bob changed nick to bobby")
        ann.type(b"welcome\n")
        bob.wait_for("<ann> welcome")

        rc, stderr = bob.terminate()
        self.assertEqual(rc, 0, stderr)
        ann.wait_for(" -- bobby Logged Out")
        rc, stderr = ann.terminate()
        self.assertEqual(rc, 0, stderr)
        server.wait_for(" -- ann Logged Out")

        self.assertEqual(server.lines(), [
            " -- Server Started", " -- ann Logged In", "<ann> hello from ann",
            " -- bob Logged In", "<bob> hi ]0;tann", " -- bob changed nick to bobby",
            "<ann> welcome", " -- bobby Logged Out", " -- ann Logged Out"])
        self.assertEqual(ann.lines()[:5], [
            " -- Nick changed to ann", " -- Connecting to: 127.0.0.1", " -- Connected.",
            " -- Logging in.", " <ann> hello from ann"])

    def test_hostile_peer_in_line_mode_and_headless_end_of_input(self):
        server = self.start("server")
        # The whole input, then its end: the server must keep serving.
        server.type(b"serve\n")
        server.process.stdin.close()
        server.wait_for(" -- Server Started")
        peer = ScriptedPeer("127.0.0.2")
        try:
            peer.login(HOSTILE_NAME)
            peer.chat(HOSTILE_LINE + b"\xe9")
            server.wait_for(f"<{HOSTILE_NAME_SHOWN}> {HOSTILE_LINE_SHOWN}\u00e9")
            with open(server.output_path, "rb") as printed:
                self.assertNotIn(b"\x1b", printed.read())
            server.process.send_signal(signal.SIGHUP)
            self.assertEqual(server.process.wait(timeout=WAIT_S), 0)
            wait_until("the logout on the wire", lambda: peer.pump() and peer.kinds(KIND_LOGOUT))
        finally:
            peer.close()


if __name__ == "__main__":
    if not private_network():
        if os.environ.get("TW_TTY_IN_NAMESPACE"):
            sys.exit("tty_e2e.py: no private network namespace")
        os.environ["TW_TTY_IN_NAMESPACE"] = "1"
        os.execvp("unshare", ["unshare", "--net", "--", sys.executable, *sys.argv])
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    unittest.main()
