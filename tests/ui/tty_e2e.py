#!/usr/bin/env python3
"""End-to-end tests of tamblewick-tty, the terminal front end, as real processes.

Screen mode runs in tmux at 80x24: keys go in with send-keys, the screen comes back with
capture-pane -e (text and colours). Line mode runs with pipes. Scripted UDP peers on
127.0.0.2 log in, chat, send hostile bytes and watch for the logout; the interop cases
put the terminal program and the X11 window in one chat on a private Xvfb. Every wait
polls with a bound; nothing sleeps to synchronise, and every test stops by itself.

The cases bind UDP port 1210 and run through tools/in-private-net (CMake's
tw_add_port_test), in a network namespace with only loopback.

Environment:
  TW_TTY_BINARY         the tamblewick-tty program (required)
  TW_BINARY             the X11 program (interop cases)
  TW_VERSION            the version --version must print (command-line case)
  TW_LSAN_SUPPRESSIONS  leak suppressions for system libraries (optional)
  TW_TTY_CAPTURE        where to save the chatting server's capture-pane -e text (optional)

Run one case:  tools/in-private-net tests/ui/tty_e2e.py TtyScreen.test_colours_keys_cut_and_ctrl_c_logout
"""

import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import twkit  # noqa: E402
from twkit import (KIND_CHAT, KIND_CHAT_RELAY, KIND_LOGIN, KIND_LOGIN_ACCEPTED,  # noqa: E402
                   KIND_LOGOUT, KIND_PEER_LOGGED_OUT, NOTICE, OWN_CHAT, PEER_CHAT, WAIT_S,
                   record, wait_until)

IDLE_MEASURE_S = 10.0
FAKE_PEER_IP = "127.0.0.2"

# The window's colours as the nearest xterm-256 colours (no COLORTERM in the tests).
PROMPT_256, OWN_256, NOTICE_256, PEER_256 = 196, 45, 240, 21

# Every byte a peer could use to steer a terminal: CSI and OSC (a window title), BEL, CR,
# backspaces and the 8-bit CSI 0x9B.
HOSTILE_NAME = b"\x1b]0;pwn\x07\x9b"
HOSTILE_LINE = b"\x1b[2J\x1b[H\rX\b\b\x9b31mY\x1b]2;pwned\x1b\\Z\x07"
HOSTILE_NAME_SHOWN = "?]0;pwn??"
HOSTILE_LINE_SHOWN = "?[2J?[H?X???31mY?]2;pwned?\\Z?"


def log_in(peer, name):
    """Logs a twkit.FakePeer in under a name of any bytes."""
    peer.send(record(KIND_LOGIN, name, message_id=0, reliable=1))
    peer.wait_for("the login answer", lambda m: m.kind == KIND_LOGIN_ACCEPTED)


def chat(peer, line):
    peer.send(record(KIND_CHAT, line, message_id=peer.take_id(), reliable=1))


def rows_equal(actual, expected):
    """A wait_until predicate that shows the difference when it times out."""
    if actual != expected:
        raise AssertionError(f"{actual!r} != {expected!r}")
    return True


def environment(**extra):
    env = {k: v for k, v in os.environ.items() if k not in ("COLORTERM", "NO_COLOR", "TMUX")}
    env["LANG"] = "C.UTF-8"
    suppressions = os.environ.get("TW_LSAN_SUPPRESSIONS")
    if suppressions:
        env["LSAN_OPTIONS"] = f"suppressions={suppressions}:print_suppressions=0"
    env.update(extra)
    return env


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
        self.tmux = Tmux(self.tmp.name, environment())
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

    @staticmethod
    def read_bytes(path):
        with open(path, "rb") as content:
            return content.read()

    def start_program(self):
        before, after, rc = self.file("before"), self.file("after"), self.file("rc")
        # The shell records the terminal's settings around the program and its exit code,
        # then stays, so that the pane can still be read.
        self.tmux.start(f"stty -g > {before}; {self.binary} 2> {self.file('stderr')};"
                        f" echo $? > {rc}; stty -g > {after}.part; mv {after}.part {after};"
                        " exec sleep 600")
        wait_until("the prompt", lambda: self.tmux.texts()[0].startswith(">"))

    def rows(self):
        return self.tmux.rows()

    def texts(self):
        return self.tmux.texts()

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
        peer = twkit.FakePeer(FAKE_PEER_IP)
        self.peers.append(peer)
        log_in(peer, name)
        return peer

    def wait_for_exit(self, status="0"):
        rc = wait_until("the program to end",
                        lambda: os.path.exists(self.file("after")) and self.read("rc").strip())
        self.assertEqual(rc, status, self.read("stderr"))
        self.assertEqual(self.read("before"), self.read("after"))

    def test_colours_keys_cut_and_ctrl_c_logout(self):
        peer = self.serve_with_peer()
        self.type_line("nick alice")
        wait_until("the nick", lambda: " -- Nick changed to alice" in self.texts())
        # The terminal says it lost the focus (as it does once asked to): the first line
        # rings, and the four after it do not.
        output = self.file("output")
        self.tmux.run("pipe-pane", "-o", "-t", "0", f"cat >> {output}")
        self.tmux.literal("\x1b[O")
        for n in range(5):
            chat(peer, b"hi %d from bob" % n)
        wait_until("the peer's lines", lambda: "<bob> hi 4 from bob" in self.texts())
        wait_until("the bell", lambda: self.tmux.run(
            "display-message", "-p", "-t", "0", "#{window_bell_flag}").strip() == "1")
        wait_until("the lines in the output", lambda: b"hi 4 from bob" in self.read_bytes(output))
        self.assertEqual(self.read_bytes(output).count(b"\a"), 1)
        self.tmux.literal("\x1b[I")
        self.type_line("Hello, Bob! 1+1=2 ~`{}|\"'")
        # Editing: Backspace, the cursor keys, Home and End; keys that type nothing (function
        # keys, Alt+x); a bracketed paste goes in at the cursor; Up and Down come back to
        # the line being typed.
        self.tmux.literal("abcx")
        self.tmux.keys("BSpace", "Left", "Left", "F1", "F12", "M-x")
        self.tmux.literal("Z")
        self.tmux.keys("Home")
        self.tmux.literal("\x1b[200~d\x1b[201~")
        self.tmux.keys("End", "Up", "Down")
        hi = [(f"<bob> hi {n} from bob", PEER_256) for n in range(5)]
        expected = [
            ("> daZbc", PROMPT_256),
            (" -- Server Started", NOTICE_256),
            (" -- bob Logged In", NOTICE_256),
            (" -- Nick changed to alice", NOTICE_256),
        ] + hi + [(" <alice> Hello, Bob! 1+1=2 ~`{}|\"'", OWN_256)]
        wait_until("the console rows", lambda: rows_equal(self.rows()[:10], expected))
        self.assertTrue(all(not text for text in self.texts()[10:24]))
        capture = os.environ.get("TW_TTY_CAPTURE")
        if capture:
            with open(capture, "w") as saved:
                saved.write(self.tmux.run("capture-pane", "-p", "-e", "-t", "0"))

        # At 30 columns the own line goes on in the row under it, broken after a blank.
        self.tmux.run("resize-window", "-t", "0", "-x", "30", "-y", "24")
        wrapped = [text for text, _ in expected[:9]] + [" <alice> Hello, Bob! 1+1=2", "~`{}|\"'"]
        wait_until("the rows wrapped at 30 columns", lambda: rows_equal(self.texts()[:11], wrapped))
        # A short terminal pages through the history by rows, its mark on the last row; typing
        # returns to the newest, and a prompt wider than the terminal shows its end.
        self.tmux.run("resize-window", "-t", "0", "-x", "30", "-y", "5")
        newest = ["> daZbc"] + wrapped[-3:] + [""]
        wait_until("the newest rows that fit", lambda: rows_equal(self.texts()[:5], newest))
        self.tmux.keys("PPage")
        wait_until("the page above", lambda: rows_equal(self.texts()[:5], [
            "> daZbc", wrapped[6], wrapped[7], wrapped[8], "-- 2 rows below --"]))
        self.tmux.literal("0123456789" * 3 + "END")
        wait_until("the newest rows and the prompt's end", lambda: rows_equal(
            self.texts()[:5], ["> \u00ab" + ("daZbc" + "0123456789" * 3 + "END")[-26:]] +
            newest[1:]))

        self.tmux.keys("C-c")
        self.wait_for_exit()
        peer.wait_for("the logout", lambda m: m.kind == KIND_LOGOUT)

    def test_hostile_peer_leaves_screen_and_title_alone(self):
        peer = self.serve_with_peer(HOSTILE_NAME)
        title = self.tmux.title()
        chat(peer, HOSTILE_LINE)
        wait_until("the hostile line, defused", lambda: rows_equal(self.texts()[:4], [
            ">", " -- Server Started", f" -- {HOSTILE_NAME_SHOWN} Logged In",
            f"<{HOSTILE_NAME_SHOWN}> {HOSTILE_LINE_SHOWN}"]))
        self.assertEqual(self.tmux.title(), title)
        # A crash signal still gives the terminal back.
        os.kill(self.program_pid(), signal.SIGSEGV)
        self.wait_for_exit(str(128 + signal.SIGSEGV))

    def test_idle_session_writes_nothing(self):
        self.serve_with_peer()
        wait_until("the login notice", lambda: " -- bob Logged In" in self.texts())
        written = self.file("written")
        self.tmux.run("pipe-pane", "-t", "0", "-o", f"cat >> {written}")
        pid = self.program_pid()
        cpu_before = cpu_seconds(pid)
        start = time.monotonic()
        # Measuring idleness is the one place where the test lets time pass; the peer
        # answers the server's pings meanwhile, from its own thread.
        time.sleep(IDLE_MEASURE_S)
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
    """Time on a CPU, in nanoseconds' resolution where the kernel keeps it, else ticks."""
    try:
        with open(f"/proc/{pid}/schedstat") as schedstat:
            return int(schedstat.read().split()[0]) / 1e9
    except (OSError, ValueError, IndexError):
        with open(f"/proc/{pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class LineProgram:
    """tamblewick-tty with pipes for stdin and stdout."""

    def __init__(self, binary, directory, name):
        self.output_path = os.path.join(directory, f"{name}.out")
        self.output = open(self.output_path, "wb")
        self.stderr = tempfile.TemporaryFile()
        self.process = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=self.output,
                                        stderr=self.stderr, env=environment(),
                                        start_new_session=True)

    def type(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def lines(self):
        with open(self.output_path, "rb") as out:
            return out.read().decode("utf-8").split("\n")[:-1]

    def count(self, line):
        return self.lines().count(line)

    def wait_for(self, line):
        def printed():
            lines = self.lines()
            if line not in lines:
                raise AssertionError(f"printed so far: {lines!r}")
            return True
        wait_until(f"{line!r}", printed)

    def error_text(self):
        self.stderr.seek(0)
        return self.stderr.read().decode(errors="replace")

    def stop(self):
        twkit.stop(self.process, signal.SIGKILL)
        self.process.stdin.close()
        self.output.close()
        self.stderr.close()

    def terminate(self, how=signal.SIGTERM):
        """Exit code 0 and nothing on standard error after `how`."""
        self.process.send_signal(how)
        return self.process.wait(timeout=WAIT_S), self.error_text()


class TtyLineMode(unittest.TestCase):
    """Line mode: stdin and stdout are pipes."""

    def setUp(self):
        self.binary = os.environ["TW_TTY_BINARY"]
        self.tmp = tempfile.TemporaryDirectory()
        self.programs = []

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
        # Both clients on one host, 127.0.0.1: the server tells them apart by their ports.
        bob = self.start("bob")
        bob.type(b"nick bob\nconnect 127.0.0.1\n")
        ann.wait_for(" -- bob Logged In")
        # Injection attempts in typed lines: what has no key is dropped, as in the window.
        bob.type(b"hi \x1b]0;t\x07ann\nnick bobby\n")
        ann.wait_for("<bob> hi ]0;tann")
        server.wait_for(" -- bob changed nick to bobby")
        ann.type(b"welcome\n")
        bob.wait_for("<ann> welcome")

        self.assertEqual(bob.terminate(), (0, ""))
        ann.wait_for(" -- bobby Logged Out")
        self.assertEqual(ann.terminate(), (0, ""))
        server.wait_for(" -- ann Logged Out")

        self.assertEqual(server.lines(), [
            " -- Server Started", " -- ann Logged In", "<ann> hello from ann",
            " -- bob Logged In", "<bob> hi ]0;tann", " -- bob changed nick to bobby",
            "<ann> welcome", " -- bobby Logged Out", " -- ann Logged Out"])
        # The server has no name: it is named by its address.
        self.assertEqual(ann.lines()[:6], [
            " -- Nick changed to ann", " -- Connecting to: 127.0.0.1", " -- Connected.",
            " -- Logging in.", " -- Login Accepted by 127.0.0.1", " <ann> hello from ann"])

    def test_server_restart_brings_its_clients_back_and_their_lines(self):
        first = self.start("first")
        first.type(b"serve\n")
        first.wait_for(" -- Server Started")
        ann = self.start("ann")
        ann.type(b"nick ann\nconnect 127.0.0.1\n")
        first.wait_for(" -- ann Logged In")
        # The port is held: a second server must say so, and a piped one must fail.
        held = self.start("held")
        held.type(b"serve\n")
        self.assertEqual(held.process.wait(timeout=WAIT_S), 1)
        self.assertEqual(held.lines(), [" -- Could not serve: UDP port 1210 is in use"])

        self.assertEqual(first.terminate(), (0, ""))
        ann.wait_for(" -- Not connected: logging in again")
        # Typed while the server is away: it waits for the session, and is not lost.
        ann.type(b"while you were away\n")
        second = self.start("second")
        second.type(b"serve\n")
        second.wait_for("<ann> while you were away")
        self.assertEqual(ann.count(" -- Login Accepted by 127.0.0.1"), 2)
        self.assertEqual(second.lines(), [
            " -- Server Started", " -- ann Logged In", "<ann> while you were away"])

    def test_command_line_options(self):
        twkit.check_command_line(self, self.binary, env=environment())

    def test_hostile_peer_in_line_mode_and_headless_end_of_input(self):
        server = self.start("server")
        # The whole input, then its end: the server must keep serving.
        server.type(b"serve\n")
        server.process.stdin.close()
        server.wait_for(" -- Server Started")
        peer = twkit.FakePeer(FAKE_PEER_IP)
        try:
            log_in(peer, HOSTILE_NAME)
            chat(peer, HOSTILE_LINE + b"\xe9")
            server.wait_for(f"<{HOSTILE_NAME_SHOWN}> {HOSTILE_LINE_SHOWN}\u00e9")
            with open(server.output_path, "rb") as printed:
                self.assertNotIn(b"\x1b", printed.read())
            self.assertEqual(server.terminate(signal.SIGHUP), (0, ""))
            peer.wait_for("the logout", lambda m: m.kind == KIND_LOGOUT)
        finally:
            peer.close()


class TtyInterop(twkit.WindowTestCase):
    """The terminal program and the X11 window in one chat."""

    def setUp(self):
        super().setUp()
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.lines = []

    def tearDown(self):
        for program in self.lines:
            program.stop()
        super().tearDown()

    def start_line_program(self, name):
        program = LineProgram(os.environ["TW_TTY_BINARY"], self.tmp.name, name)
        self.lines.append(program)
        return program

    def test_tty_client_through_the_window_server(self):
        alice = self.serve(self.start_program(), "alice")
        bob = self.start_line_program("bob")
        bob.type(b"nick bob\nconnect 127.0.0.1\nhello from the terminal\n")
        bob.wait_for(" -- Login Accepted by alice")
        # Nick changed to alice, Server Started, bob Logged In, <bob> hello from the terminal:
        # the line typed before the login was answered arrived.
        wait_until("the server window to show bob's first line", lambda: twkit.check_console(
            alice.picture(), [NOTICE, NOTICE, NOTICE, PEER_CHAT]))
        carol = self.start_peer(FAKE_PEER_IP)
        self.log_in(carol, "carol", "alice")
        bob.wait_for(" -- carol Logged In")

        alice.type_line("hi bob")
        bob.wait_for("<alice> hi bob")
        bob.type(b"bye all\n")
        relay = carol.wait_for("bob's line", lambda m: m.kind == KIND_CHAT_RELAY
                               and m.relay_parts() == ("bob", "bye all"))
        self.assertIsNotNone(relay)
        # Server: bob Logged In, <bob> hello..., carol Logged In, <alice> hi bob, <bob> bye all.
        wait_until("the server window to show the chat", lambda: twkit.check_console(
            alice.picture(), [NOTICE, PEER_CHAT, NOTICE, OWN_CHAT, PEER_CHAT]))
        self.assertEqual(bob.count("<alice> hi bob"), 1)
        self.assertEqual(bob.terminate(), (0, ""))
        carol.wait_for("bob's logout", lambda m: m.kind == KIND_PEER_LOGGED_OUT
                       and m.text_str() == "bob")
        alice.keys("alt+f", "x")
        self.expect_clean_exit(alice)

    def test_window_client_through_the_tty_server(self):
        server = self.start_line_program("server")
        server.type(b"nick srv\nserve\n")
        server.wait_for(" -- Server Started")
        alice = self.start_program()
        alice.type_line("nick alice")
        alice.type_line("connect 127.0.0.1")
        server.wait_for(" -- alice Logged In")
        # Nick changed, Connecting to, Connected., Logging in., Login Accepted by srv.
        wait_until("the client to be accepted",
                   lambda: twkit.check_console(alice.picture(), [NOTICE] * 5))
        carol = self.start_peer(FAKE_PEER_IP)
        self.log_in(carol, "carol", "srv")

        alice.type_line("hello from the window")
        server.wait_for("<alice> hello from the window")
        relay = carol.wait_for("alice's line", lambda m: m.kind == KIND_CHAT_RELAY)
        self.assertEqual(relay.relay_parts(), ("alice", "hello from the window"))
        server.type(b"welcome\n")
        # Client: Logging in., Login Accepted by srv, carol Logged In, own line, <srv> welcome.
        wait_until("the client window to show the chat", lambda: twkit.check_console(
            alice.picture(), [NOTICE, NOTICE, NOTICE, OWN_CHAT, PEER_CHAT]))
        self.assertEqual(server.count("<alice> hello from the window"), 1)

        alice.keys("alt+f", "x")
        self.expect_clean_exit(alice)
        server.wait_for(" -- alice Logged Out")
        self.assertEqual(server.terminate(), (0, ""))
        carol.wait_for("the server's logout", lambda m: m.kind == KIND_LOGOUT)


if __name__ == "__main__":
    unittest.main()
