#!/usr/bin/env python3
"""End-to-end tests of the tamblewick window on a real X display.

Each test starts its own X server (Xvfb on a display number it picks itself), runs the
real program in it, types into it with xdotool, talks to it over UDP from a scripted
peer on 127.0.0.2, and reads the window back from screenshots. Every wait polls with a
bound; nothing sleeps to synchronise, and every test stops by itself.

Environment:
  TW_BINARY             the tamblewick program (required)
  TW_CLOSE_HELPER       the send_close_request helper (required)
  TW_LSAN_SUPPRESSIONS  leak suppressions for system libraries (optional)
  TW_SCREENSHOT         where to save a picture of the chatting server window (optional)

Run one case:  window_e2e.py WindowEndToEnd.test_menu_exit_by_keyboard
"""

import os
import select
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

WAIT_S = 20.0
POLL_S = 0.05
IDLE_MEASURE_S = 5.0

CHAT_PORT = 1210
SERVER = ("127.0.0.1", CHAT_PORT)
FAKE_PEER_IP = "127.0.0.2"

KIND_CHAT = 101
KIND_CHAT_RELAY = 102
KIND_LOGIN = 103
KIND_LOGIN_ACCEPTED = 104
KIND_ACK = 107
KIND_PING = 110
KIND_PONG = 111
KIND_LOGOUT = 112
KIND_PEER_LOGGED_OUT = 113

# id, resend_timer, reliable, 3 pad bytes, reserved, kind, length, text
RECORD = struct.Struct("<ifB3xiii64s")
assert RECORD.size == 88

# Window layout: a 20-pixel menu strip, then the console, whose rows start 15 pixels
# apart at 15 pixels from its top.
STRIP_HEIGHT = 20
FIRST_ROW_TOP = STRIP_HEIGHT + 15
ROW_PITCH = 15

RED = (255, 0, 0)
OWN_CHAT = (0, 200, 255)
NOTICE = (100, 100, 55)
PEER_CHAT = (0, 0, 255)


def wait_until(what, predicate, timeout=WAIT_S):
    """Polls predicate until it returns something true, for at most timeout seconds."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            result = predicate()
            if result:
                return result
        except AssertionError as error:
            last_error = error
        if time.monotonic() >= deadline:
            detail = f": {last_error}" if last_error else ""
            raise AssertionError(f"timed out after {timeout:.0f} s waiting for {what}{detail}")
        time.sleep(POLL_S)


# --- the datagram record ---------------------------------------------------------------

class Message:
    def __init__(self, data):
        (self.id, self.resend_timer, self.reliable, self.reserved, self.kind, self.length,
         self.text) = RECORD.unpack(data[:RECORD.size])

    def text_str(self):
        end = self.text.find(b"\0")
        raw = self.text if end < 0 else self.text[:end]
        return raw[:max(self.length, 0)].decode("latin-1")

    def relay_parts(self):
        """Author and line of a relayed chat line."""
        name = self.text[:14].split(b"\0", 1)[0].decode("latin-1")
        line = self.text[14:].split(b"\0", 1)[0].decode("latin-1")
        return name, line

    def acked_id(self):
        return struct.unpack("<i", self.text[:4])[0]

    def __repr__(self):
        return f"<kind {self.kind} id {self.id} rel {self.reliable} len {self.length} {self.text[:24]!r}>"


def record(kind, text=b"", message_id=0, reliable=0, length=None):
    if length is None:
        length = len(text)
    return RECORD.pack(message_id, 0.0, reliable, 0, kind, length, text.ljust(64, b"\0"))


class FakePeer:
    """A participant made of a bare UDP socket: it logs in, chats, acknowledges every
    reliable message and answers pings from a background thread, and keeps every
    message it receives."""

    def __init__(self, ip=FAKE_PEER_IP):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((ip, 0))
        self.received = []
        self.next_id = 10
        self.lock = threading.Condition()
        self.stopping = False
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def close(self):
        with self.lock:
            self.stopping = True
        self.thread.join(timeout=WAIT_S)
        self.sock.close()

    def send(self, data):
        self.sock.sendto(data, SERVER)

    def login(self, name):
        self.send(record(KIND_LOGIN, name.encode(), message_id=0, reliable=1))

    def chat(self, line, message_id):
        self.send(record(KIND_CHAT, line.encode(), message_id=message_id, reliable=1))

    def _serve(self):
        while True:
            with self.lock:
                if self.stopping:
                    return
            readable, _, _ = select.select([self.sock], [], [], 0.1)
            if not readable:
                continue
            try:
                data, _ = self.sock.recvfrom(8000)
            except OSError:
                continue
            if len(data) < RECORD.size:
                continue
            message = Message(data)
            if message.reliable:
                ack_text = struct.pack("<i", message.id)
                self.send(record(KIND_ACK, ack_text, message_id=self._take_id(), length=1))
            if message.kind == KIND_PING:
                self.send(RECORD.pack(self._take_id(), 0.0, 0, message.reserved, KIND_PONG,
                                      message.length, message.text))
            with self.lock:
                self.received.append(message)
                self.lock.notify_all()

    def _take_id(self):
        with self.lock:
            taken = self.next_id
            self.next_id += 1
            return taken

    def wait_for(self, what, predicate, timeout=WAIT_S):
        """The first message received so far, or within timeout, that matches."""
        deadline = time.monotonic() + timeout
        with self.lock:
            while True:
                for message in self.received:
                    if predicate(message):
                        return message
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    raise AssertionError(
                        f"timed out after {timeout:.0f} s waiting for {what}; "
                        f"received {self.received}")
                self.lock.wait(min(remaining, 0.5))


# --- the X server, the program and its window ------------------------------------------

class XServer:
    def __init__(self):
        self.log = tempfile.TemporaryFile()
        read_end, write_end = os.pipe()
        # -noreset: the probe below and every xdotool call are clients that come and go;
        # the server must not start over when the last of them leaves.
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "640x480x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=self.log)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + WAIT_S
        try:
            while not number.endswith(b"\n"):
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    raise AssertionError("Xvfb did not report its display in time")
                readable, _, _ = select.select([read_end], [], [], remaining)
                if readable:
                    chunk = os.read(read_end, 16)
                    if not chunk:
                        raise AssertionError("Xvfb ended before it reported its display")
                    number += chunk
        except BaseException:
            self.stop()
            raise
        finally:
            os.close(read_end)
        self.display = ":" + number.decode().strip()
        try:
            wait_until("the X server to accept a client", self._accepts_clients)
        except BaseException:
            self.stop()
            raise

    def _accepts_clients(self):
        if self.process.poll() is not None:
            raise RuntimeError(f"Xvfb ended: {self.log_text()}")
        probe = subprocess.run(["xdpyinfo", "-display", self.display], stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=WAIT_S)
        return probe.returncode == 0

    def log_text(self):
        self.log.seek(0)
        return self.log.read().decode(errors="replace")

    def describe(self):
        state = "running" if self.process.poll() is None else f"ended ({self.process.returncode})"
        return f"Xvfb {self.display} {state}; its log: {self.log_text()!r}"

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        return env

    def run(self, *command):
        return subprocess.run(command, env=self.env(), stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=WAIT_S, check=True).stdout

    def xdotool(self, *arguments):
        return self.run("xdotool", *arguments).decode()

    def screenshot(self):
        return Image.from_ppm(self.run("import", "-display", self.display, "-window", "root",
                                       "-depth", "8", "ppm:-"))

    def stop(self):
        stop_process(self.process)
        self.log.close()


def stop_process(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=WAIT_S)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=WAIT_S)


def program_env(xserver):
    env = xserver.env()
    suppressions = os.environ.get("TW_LSAN_SUPPRESSIONS")
    if suppressions:
        env["LSAN_OPTIONS"] = f"suppressions={suppressions}:print_suppressions=0"
    return env


class Program:
    """One running tamblewick and its window."""

    def __init__(self, xserver):
        self.xserver = xserver
        self.stderr = tempfile.TemporaryFile()
        self.process = subprocess.Popen([os.environ["TW_BINARY"]], env=program_env(xserver),
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=self.stderr)
        self.window = wait_until("the program's window", self._find_window)

    def _find_window(self):
        if self.process.poll() is not None:
            # Not an AssertionError: nothing will change by waiting longer.
            raise RuntimeError(f"the program ended early: {self.error_text()}; "
                               f"{self.xserver.describe()}")
        found = subprocess.run(
            ["xdotool", "search", "--all", "--onlyvisible", "--pid", str(self.process.pid),
             "--name", "^Tamblewick$"],
            env=self.xserver.env(), capture_output=True, timeout=WAIT_S)
        ids = found.stdout.split()
        return ids[0].decode() if ids else None

    def error_text(self):
        self.stderr.seek(0)
        return self.stderr.read().decode(errors="replace")

    def focus(self):
        self.xserver.xdotool("windowfocus", "--sync", self.window)

    def type_text(self, text):
        self.focus()
        self.xserver.xdotool("type", "--delay", "20", text)

    def keys(self, *names):
        self.focus()
        for name in names:
            self.xserver.xdotool("key", name)

    def type_line(self, text):
        self.type_text(text)
        self.keys("Return")

    def click(self, x, y):
        self.xserver.xdotool("mousemove", "--window", self.window, str(x), str(y), "click", "1")

    def geometry(self):
        values = {}
        for line in self.xserver.xdotool("getwindowgeometry", "--shell", self.window).split():
            key, _, value = line.partition("=")
            values[key] = int(value) if value.isdigit() else value
        return values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]

    def picture(self):
        x, y, width, height = self.geometry()
        return self.xserver.screenshot().crop(x, y, width, height)

    def cpu_seconds(self):
        """User plus system time from /proc/PID/stat, in clock ticks' resolution."""
        with open(f"/proc/{self.process.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def cpu_seconds_precise(self):
        """Time on a CPU in nanoseconds' resolution, where the kernel keeps it."""
        try:
            with open(f"/proc/{self.process.pid}/schedstat") as schedstat:
                return int(schedstat.read().split()[0]) / 1e9
        except (OSError, ValueError, IndexError):
            return None

    def wait_exit(self):
        try:
            return self.process.wait(timeout=WAIT_S)
        except subprocess.TimeoutExpired:
            raise AssertionError("the program did not end") from None

    def stop(self):
        stop_process(self.process)

    def close(self):
        self.stderr.close()


def chat_port_sockets():
    """Inodes of the UDP sockets bound to the chat port, from /proc/net/udp."""
    with open("/proc/net/udp") as table:
        rows = [row.split() for row in table.read().splitlines()[1:]]
    return {row[9] for row in rows if row[1].endswith(f":{CHAT_PORT:04X}")}


def holds_chat_port(pid):
    inodes = chat_port_sockets()
    for descriptor in os.listdir(f"/proc/{pid}/fd"):
        try:
            link = os.readlink(f"/proc/{pid}/fd/{descriptor}")
        except OSError:
            continue
        if link.startswith("socket:[") and link[len("socket:["):-1] in inodes:
            return True
    return False


# --- reading the picture ----------------------------------------------------------------

class Image:
    def __init__(self, width, height, pixels):
        self.width = width
        self.height = height
        self.pixels = pixels

    @staticmethod
    def from_ppm(data):
        fields = []
        position = 0
        while len(fields) < 4:
            while data[position:position + 1].isspace():
                position += 1
            if data[position:position + 1] == b"#":
                position = data.index(b"\n", position)
                continue
            start = position
            while not data[position:position + 1].isspace():
                position += 1
            fields.append(data[start:position])
        assert fields[0] == b"P6" and fields[3] == b"255", fields
        width, height = int(fields[1]), int(fields[2])
        pixels = data[position + 1:position + 1 + width * height * 3]
        assert len(pixels) == width * height * 3
        return Image(width, height, pixels)

    def crop(self, x, y, width, height):
        rows = []
        for row in range(y, y + height):
            start = (row * self.width + x) * 3
            rows.append(self.pixels[start:start + width * 3])
        return Image(width, height, b"".join(rows))

    def pixel(self, x, y):
        start = (y * self.width + x) * 3
        return tuple(self.pixels[start:start + 3])

    def region(self, top, bottom):
        for y in range(max(top, 0), min(bottom, self.height)):
            for x in range(self.width):
                yield x, y, self.pixel(x, y)


def is_black(p):
    return max(p) <= 40


def scaled_from(p, colour, tolerance=24):
    """How strongly p shows colour drawn anti-aliased on black (p = k * colour), or None
    when p is not such a pixel."""
    k = sum(a * b for a, b in zip(p, colour)) / sum(c * c for c in colour)
    if all(abs(a - k * c) <= tolerance for a, c in zip(p, colour)):
        return k
    return None


def row_band(row):
    """The rows of pixels that only glyphs of console row `row` (0 = prompt) reach."""
    top = FIRST_ROW_TOP + row * ROW_PITCH
    return top + 2, top + 13


def check_row(image, row, colour):
    """The row holds text in `colour` alone: enough pixels at full strength, and every
    lit pixel a shade of that colour."""
    top, bottom = row_band(row)
    lit = [p for _, _, p in image.region(top, bottom) if not is_black(p)]
    strong = [p for p in lit if (scaled_from(p, colour) or 0) >= 0.7]
    foreign = [p for p in lit if max(p) > 70 and scaled_from(p, colour) is None]
    if len(strong) < 5:
        raise AssertionError(f"row {row}: {len(strong)} pixels of {colour} among {len(lit)} lit")
    if len(foreign) > len(lit) // 10:
        raise AssertionError(f"row {row}: {len(foreign)} of {len(lit)} lit pixels are not "
                             f"{colour}, e.g. {foreign[:5]}")


def check_console(image, colours):
    """Prompt red, one row per expected log colour, nothing under them, neutral strip,
    and red nowhere but in the prompt row."""
    check_row(image, 0, RED)
    for row, colour in enumerate(colours, start=1):
        check_row(image, row, colour)
    below = FIRST_ROW_TOP + (len(colours) + 1) * ROW_PITCH + 2
    lit_below = [(x, y, p) for x, y, p in image.region(below, image.height) if not is_black(p)]
    if lit_below:
        raise AssertionError(f"pixels lit under the last row: {lit_below[:5]}")
    for x, y, p in image.region(0, STRIP_HEIGHT):
        if max(p) - min(p) > 12:
            raise AssertionError(f"menu strip pixel ({x},{y}) is not grey: {p}")
    prompt_top = FIRST_ROW_TOP
    for x, y, p in image.region(STRIP_HEIGHT, image.height):
        reddish = p[0] > 120 and p[1] < 60 and p[2] < 60
        if reddish and not prompt_top <= y < prompt_top + ROW_PITCH:
            raise AssertionError(f"red pixel outside the prompt row at ({x},{y}): {p}")
    return True


# --- the tests ---------------------------------------------------------------------------

class WindowEndToEnd(unittest.TestCase):
    def setUp(self):
        self.programs = []
        self.peers = []
        self.xserver = XServer()
        self.addCleanup(self.xserver.stop)

    def tearDown(self):
        for peer in self.peers:
            peer.close()
        for number, program in enumerate(self.programs):
            program.stop()
            errors = program.error_text()
            if errors:
                print(f"--- standard error of program {number}:\n{errors}", file=sys.stderr)
            program.close()

    def start_program(self):
        program = Program(self.xserver)
        self.programs.append(program)
        return program

    def start_peer(self):
        peer = FakePeer()
        self.peers.append(peer)
        return peer

    def start_server(self, name):
        if chat_port_sockets():
            self.fail(f"UDP port {CHAT_PORT} is already taken by another process")
        server = self.start_program()
        server.type_line(f"nick {name}")
        server.type_line("serve")
        wait_until("the server to bind the chat port",
                   lambda: holds_chat_port(server.process.pid))
        return server

    def log_in(self, peer, name, server_name):
        peer.login(name)
        peer.wait_for("the login's acknowledgement",
                      lambda m: m.kind == KIND_ACK and m.acked_id() == 0)
        peer.wait_for("the login answer",
                      lambda m: m.kind == KIND_LOGIN_ACCEPTED and m.text_str() == server_name)

    def expect_clean_exit(self, program):
        self.assertEqual(program.wait_exit(), 0, program.error_text())
        self.assertEqual(program.error_text(), "")

    def test_chat_and_menu_exit_by_keyboard(self):
        alice = self.start_server("alice")
        carol = self.start_peer()
        self.log_in(carol, "carol", "alice")

        carol.chat("hi", message_id=10)
        carol.wait_for("the chat line's acknowledgement",
                       lambda m: m.kind == KIND_ACK and m.acked_id() == 10)

        # Shifted characters, punctuation and a correction with Backspace.
        alice.type_text("helo")
        alice.keys("BackSpace")
        alice.type_line("lo, World!")
        line = carol.wait_for("the typed chat line",
                              lambda m: m.kind == KIND_CHAT and m.text_str() == "hello, World!")
        self.assertEqual(line.reliable, 1)

        wait_until("the console to show the chat", lambda: check_console(
            alice.picture(), [NOTICE, NOTICE, NOTICE, PEER_CHAT, OWN_CHAT]))

        alice.keys("alt+f")
        alice.keys("x")
        carol.wait_for("the logout", lambda m: m.kind == KIND_LOGOUT and m.text_str() == "alice")
        self.expect_clean_exit(alice)

    def test_resize_and_close_request(self):
        alice = self.start_server("alice")
        carol = self.start_peer()
        self.log_in(carol, "carol", "alice")

        self.xserver.xdotool("windowsize", alice.window, "400", "300")

        def resized_picture_is_whole():
            picture = alice.picture()
            if (picture.width, picture.height) != (400, 300):
                return False
            # The strip spans the new width and the area beyond the old size is black.
            strip = picture.pixel(390, 5)
            return (check_console(picture, [NOTICE, NOTICE, NOTICE]) and min(strip) > 150
                    and is_black(picture.pixel(390, 290)))

        wait_until("the frame to follow the new size", resized_picture_is_whole)

        self.xserver.run(os.environ["TW_CLOSE_HELPER"], alice.window)
        carol.wait_for("the logout", lambda m: m.kind == KIND_LOGOUT and m.text_str() == "alice")
        self.expect_clean_exit(alice)

    def test_two_windows_chat_through_the_server(self):
        # The server and the client window both live on 127.0.0.1: the server tells its
        # peers apart by address, and it never holds itself as a peer, so the client
        # window is its one peer there; the fake peer on 127.0.0.2 is the other.
        alice = self.start_server("alice")
        bob = self.start_program()
        self.xserver.xdotool("windowmove", bob.window, "300", "0")
        wait_until("the client window to move", lambda: bob.geometry()[0] == 300)
        bob.type_line("nick bob")
        bob.type_line("connect 127.0.0.1")
        # Nick changed, Connecting to, Connected., Logging in., Login Accepted by alice.
        wait_until("the client to be accepted",
                   lambda: check_console(bob.picture(), [NOTICE] * 5))

        carol = self.start_peer()
        # Bob was there first: the server tells him of carol, not carol of him.
        self.log_in(carol, "carol", "alice")

        bob.type_line("yo")
        relay = carol.wait_for("bob's line relayed", lambda m: m.kind == KIND_CHAT_RELAY)
        self.assertEqual(relay.relay_parts(), ("bob", "yo"))

        carol.chat("hi", message_id=10)
        carol.wait_for("the chat line's acknowledgement",
                       lambda m: m.kind == KIND_ACK and m.acked_id() == 10)
        alice.type_line("welcome")
        carol.wait_for("the server's own line",
                       lambda m: m.kind == KIND_CHAT and m.text_str() == "welcome")

        # Server: bob Logged In, carol Logged In, <bob> yo, <carol> hi, <alice> welcome.
        wait_until("the server window to show the chat", lambda: check_console(
            alice.picture(), [NOTICE, NOTICE, PEER_CHAT, PEER_CHAT, OWN_CHAT]))
        # Client: Login Accepted, carol Logged In, <bob> yo, <carol> hi, <alice> welcome.
        wait_until("the client window to show the chat", lambda: check_console(
            bob.picture(), [NOTICE, NOTICE, OWN_CHAT, PEER_CHAT, PEER_CHAT]))

        screenshot_path = os.environ.get("TW_SCREENSHOT")
        if screenshot_path:
            self.xserver.run("import", "-display", self.xserver.display, "-window", alice.window,
                             screenshot_path)

        report_idle_cpu({"server window": alice, "client window": bob})

        bob.click(10, 10)
        bob.click(20, 30)
        carol.wait_for("the news of bob's logout",
                       lambda m: m.kind == KIND_PEER_LOGGED_OUT and m.text_str() == "bob")
        self.expect_clean_exit(bob)

        alice.keys("alt+f")
        alice.keys("Return")
        carol.wait_for("the logout", lambda m: m.kind == KIND_LOGOUT and m.text_str() == "alice")
        self.expect_clean_exit(alice)

    def test_no_display_is_one_line_and_exit_code_one(self):
        unused = next(n for n in range(4000, 5000) if not os.path.exists(f"/tmp/.X11-unix/X{n}"))
        for display in (f":{unused}", None):
            env = program_env(self.xserver)
            if display is None:
                env.pop("DISPLAY", None)
            else:
                env["DISPLAY"] = display
            result = subprocess.run([os.environ["TW_BINARY"]], env=env, capture_output=True,
                                    stdin=subprocess.DEVNULL, timeout=WAIT_S)
            lines = result.stderr.decode(errors="replace").splitlines()
            with self.subTest(display=display):
                self.assertEqual(result.returncode, 1, lines)
                self.assertEqual(len(lines), 1, lines)
                self.assertIn("display", lines[0])


def report_idle_cpu(programs):
    """Prints how much of one core each window takes while nobody types; measured, not
    judged, because a loaded test machine would make any limit flaky."""
    def sample():
        return {name: (program.cpu_seconds(), program.cpu_seconds_precise())
                for name, program in programs.items()}

    before = sample()
    started = time.monotonic()
    time.sleep(IDLE_MEASURE_S)  # the measuring interval itself, not a synchronisation
    elapsed = time.monotonic() - started
    after = sample()
    for name in programs:
        ticks = after[name][0] - before[name][0]
        text = f"idle CPU of the {name} over {elapsed:.1f} s: {100.0 * ticks / elapsed:.2f}%"
        if after[name][1] is not None and before[name][1] is not None:
            precise = after[name][1] - before[name][1]
            text += f" of one core (utime+stime); {100.0 * precise / elapsed:.3f}% (schedstat)"
        print(text, flush=True)


if __name__ == "__main__":
    for variable in ("TW_BINARY", "TW_CLOSE_HELPER"):
        if not os.environ.get(variable):
            sys.exit(f"{variable} is not set")
    unittest.main(verbosity=2)
