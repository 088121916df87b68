"""Tools for the X-level tests and the measuring scripts of Tamblewick.

Import it from a script by a path relative to the script's own file:

    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
    import twkit

What it holds:
  wait_until(what, predicate, timeout)   polls with a bound; raises AssertionError on time-out
  start(command, env, stderr)            a process in its own process group
  stop(process, how)                     ends a process and its whole group
  XServer()                              a private Xvfb on a display number it picks itself:
                                         .display .env() .run() .xdotool() .screenshot() .stop()
  Program(xserver, binary)               the real program and its window: typing (type_text,
                                         keys, type_line), click, geometry, picture, CPU, stop
  Image, is_black, scaled_from, reddish  reading screenshots (PPM) pixel by pixel
  check_band, check_row, check_console   the colour of the console's rows in the X11 window
  RECORD, KIND_*, record(), Message      the 88-byte datagram, its kinds, building and reading it
  FakePeer(ip)                           a scripted UDP peer: logs in, chats, acknowledges,
                                         answers pings, keeps what it receives
  chat_port_sockets, socket_fds, holds_chat_port, chat_port_holders, describe_process,
  port_taken_message                     who holds UDP port 1210, from /proc
  WindowTestCase                         a unittest case with a private X server, programs
                                         and peers that it stops and reports on at the end

Every wait has a bound; nothing here sleeps to synchronise.
"""

import contextlib
import os
import re
import select
import signal
import socket
import struct
import subprocess
import tempfile
import sys
import threading
import time
import unittest

WAIT_S = 20.0
POLL_S = 0.05

CHAT_PORT = 1210
SERVER = ("127.0.0.1", CHAT_PORT)

KIND_CHAT = 101
KIND_CHAT_RELAY = 102
KIND_LOGIN = 103
KIND_LOGIN_ACCEPTED = 104
KIND_PEER_LOGGED_IN = 105
KIND_ACK = 107
KIND_PING = 110
KIND_PONG = 111
KIND_LOGOUT = 112
KIND_PEER_LOGGED_OUT = 113
KIND_PEER_TIMED_OUT = 114

# id, resend_timer, reliable, 3 pad bytes, reserved, kind, length, text: 88 bytes.
RECORD = struct.Struct("<ifB3xiii64s")
assert RECORD.size == 88

# The X11 window: a 20-pixel menu strip, then the console, whose rows start 15 pixels
# apart at 15 pixels from its top.
STRIP_HEIGHT = 20
FIRST_ROW_TOP = STRIP_HEIGHT + 15
ROW_PITCH = 15

RED = (255, 0, 0)
OWN_CHAT = (0, 200, 255)
NOTICE = (100, 100, 55)
PEER_CHAT = (0, 0, 255)
# The marks of a prompt that shows only its end and of a view scrolled back.
MARK = (150, 150, 150)


def wait_until(what, predicate, timeout=WAIT_S):
    """Polls predicate until it returns something true, for at most timeout seconds. An
    AssertionError from the predicate counts as not yet; any other error ends the wait."""
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


# --- processes ------------------------------------------------------------------------------

def start(command, env=None, stderr=subprocess.DEVNULL, **options):
    """Starts command in a process group of its own, so that stop() also ends whatever it
    started in turn."""
    return subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=stderr, start_new_session=True,
                            **options)


def _signal(process, how):
    """Signals the process's group when it leads one of its own, else the process alone."""
    try:
        if os.getpgid(process.pid) == process.pid != os.getpgrp():
            os.killpg(process.pid, how)
        elif process.poll() is None:
            process.send_signal(how)
    except ProcessLookupError:
        pass


def stop(process, how=signal.SIGTERM):
    """Ends the process and its group: `how` first, SIGKILL when that takes longer than
    WAIT_S."""
    if process is None or process.poll() is not None:
        return
    _signal(process, how)
    try:
        process.wait(timeout=WAIT_S)
    except subprocess.TimeoutExpired:
        _signal(process, signal.SIGKILL)
        process.wait(timeout=WAIT_S)


# --- who holds the chat port ------------------------------------------------------------------

def chat_port_sockets():
    """Inodes of the UDP sockets bound to the chat port, from /proc/net/udp and udp6: the
    tables of this network namespace."""
    inodes = set()
    for table in ("/proc/net/udp", "/proc/net/udp6"):
        try:
            with open(table) as rows:
                lines = rows.read().splitlines()[1:]
        except OSError:
            continue
        inodes |= {row.split()[9] for row in lines if row.split()[1].endswith(f":{CHAT_PORT:04X}")}
    return inodes


def socket_fds(pid):
    """The process's descriptors that are sockets, by inode."""
    fds = {}
    try:
        descriptors = os.listdir(f"/proc/{pid}/fd")
    except OSError:
        return fds
    for descriptor in descriptors:
        try:
            link = os.readlink(f"/proc/{pid}/fd/{descriptor}")
        except OSError:
            continue
        if link.startswith("socket:["):
            fds[link[len("socket:["):-1]] = int(descriptor)
    return fds


def holds_chat_port(pid):
    return bool(chat_port_sockets() & set(socket_fds(pid)))


def chat_port_holders():
    """Ids of the processes that hold a UDP socket bound to the chat port (those whose
    descriptors we may read)."""
    inodes = chat_port_sockets()
    if not inodes:
        return set()
    return {int(pid) for pid in filter(str.isdigit, os.listdir("/proc"))
            if inodes & set(socket_fds(pid))}


def describe_process(pid):
    """'pid 123 (name: command line)', as far as /proc tells."""
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
            words = cmdline.read().split(b"\0")
        command = " ".join(w.decode(errors="replace") for w in words if w)
        with open(f"/proc/{pid}/comm") as comm:
            name = comm.read().strip()
    except OSError:
        return f"pid {pid}"
    if len(command) > 100:
        command = command[:100] + "..."
    return f"pid {pid} ({name}: {command})"


def port_taken_message():
    """One line naming who holds the chat port, or None when nobody does."""
    if not chat_port_sockets():
        return None
    holders = sorted(chat_port_holders())
    who = (", ".join(describe_process(pid) for pid in holders) if holders
           else "a process this user may not inspect (`ss -ulpn` as root names it)")
    return f"UDP port {CHAT_PORT} is already taken by {who}"


# --- the X server and the program -------------------------------------------------------------

class XServer:
    """A private Xvfb on a display number that no other X server of the machine has.

    The number is ours by Xvfb's own lock file in /tmp, which every network namespace
    shares. Xvfb's -displayfd would pick a number itself, but it takes no lock and judges a
    number free by its abstract socket, which is private to a network namespace: in a test's
    own namespace it picks :0 even while another namespace's server has it, replaces that
    server's socket file in /tmp/.X11-unix, and deletes it again when it ends. A client that
    reaches its server through that file then finds none, or another server ("cannot open
    display")."""

    FIRST_DISPLAY = 200
    DISPLAYS_TRIED = 400

    def __init__(self, screen="640x480x24"):
        self.screen = screen
        self.process = None
        self.log = None
        for number in range(self.FIRST_DISPLAY, self.FIRST_DISPLAY + self.DISPLAYS_TRIED):
            # A socket file without a live lock may belong to a server that took no lock;
            # starting here would take its file away.
            if os.path.exists(f"/tmp/.X11-unix/X{number}") or _display_locked(number):
                continue
            if self._start_on(number):
                return
        raise AssertionError(f"no free X display from :{self.FIRST_DISPLAY} to "
                             f":{self.FIRST_DISPLAY + self.DISPLAYS_TRIED - 1}")

    def _start_on(self, number):
        """Starts Xvfb on the display; False when another server won its lock first."""
        self.display = f":{number}"
        self.log = tempfile.TemporaryFile()
        # -noreset: the probe below and every xdotool call are clients that come and go;
        # the server must not start over when the last of them leaves.
        self.process = start(["Xvfb", self.display, "-screen", "0", self.screen,
                              "-nolisten", "tcp", "-noreset"], stderr=self.log)
        try:
            wait_until("the X server to accept a client or give the display up",
                       self._ready_or_ended)
            if self.process.poll() is not None:
                if "already active" not in self.log_text():
                    raise RuntimeError(f"Xvfb ended: {self.log_text()}")
                self.log.close()
                return False
        except BaseException:
            self.stop()
            raise
        return True

    def _ready_or_ended(self):
        if self.process.poll() is not None:
            return True
        # Only once the lock is this server's can the probe not reach another one.
        return _display_locked(int(self.display[1:])) == self.process.pid and \
            self._accepts_clients()

    def _accepts_clients(self):
        probe = subprocess.run(["xdotool", "getdisplaygeometry"], env=self.env(),
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=WAIT_S)
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

    def start_window_manager(self):
        """openbox, as a desktop user has a window manager; stopped with the server."""
        self.window_manager = start(["openbox", "--sm-disable"], env=self.env())
        wait_until("the window manager to take the screen", lambda: b"window id" in self.run(
            "xprop", "-root", "_NET_SUPPORTING_WM_CHECK"))

    def set_dpi(self, dpi):
        """The desktop's scale as GNOME, KDE and Xfce publish it: Xft.dpi on the root."""
        self.run("xprop", "-root", "-f", "RESOURCE_MANAGER", "8s", "-set", "RESOURCE_MANAGER",
                 f"Xft.dpi:\t{dpi}\n")

    def set_selection(self, selection, text):
        """Makes xclip own a selection with the UTF-8 text; it serves it until the end."""
        subprocess.run(["xclip", "-selection", selection, "-i"], input=text.encode(),
                       env=self.env(), timeout=WAIT_S, check=True)

    def stop(self):
        manager = getattr(self, "window_manager", None)
        if manager is not None:
            stop(manager)
        stop(self.process)
        # A server killed outright (the lost-display test) leaves its lock and socket.
        number = int(self.display[1:])
        if _lock_pid(number) == self.process.pid:
            for leftover in (f"/tmp/.X{number}-lock", f"/tmp/.X11-unix/X{number}"):
                with contextlib.suppress(FileNotFoundError):
                    os.unlink(leftover)
        self.log.close()


def _lock_pid(number):
    """The process id written in display number's lock file, or None."""
    try:
        with open(f"/tmp/.X{number}-lock") as lock:
            return int(lock.read().strip())
    except (OSError, ValueError):
        return None


def _display_locked(number):
    """The id of the live process that holds display number's lock, or None."""
    pid = _lock_pid(number)
    if pid is None:
        return None
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return None
    except PermissionError:
        pass
    return pid


def program_env(xserver):
    env = xserver.env()
    suppressions = os.environ.get("TW_LSAN_SUPPRESSIONS")
    if suppressions:
        env["LSAN_OPTIONS"] = f"suppressions={suppressions}:print_suppressions=0"
    return env


class Program:
    """One running program and its window, found by its process id and title."""

    def __init__(self, xserver, binary=None, command=None, env=None, timeout=WAIT_S):
        self.xserver = xserver
        self.stderr = tempfile.TemporaryFile()
        command = command or [binary or os.environ["TW_BINARY"]]
        self.process = start(command, env=env or program_env(xserver), stderr=self.stderr)
        self.pid = self.process.pid
        self.window = wait_until("the program's window", self._find_window, timeout=timeout)

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

    def press(self, keys):
        """Keys by the names of the current layout, blank-separated, e.g. "shift+ssharp"."""
        self.focus()
        self.xserver.xdotool("key", "--delay", "30", *keys.split())

    def type_line(self, text):
        self.type_text(text)
        self.keys("Return")

    def click(self, x, y, button=1):
        self.xserver.xdotool("mousemove", "--window", self.window, str(x), str(y), "click",
                             str(button))

    def geometry(self):
        """The client area on the screen; xwininfo stays right under a window manager."""
        values = {}
        for line in self.xserver.run("xwininfo", "-id", self.window).decode().splitlines():
            key, _, value = line.strip().partition(":")
            values[key] = value.strip()
        return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
                int(values["Width"]), int(values["Height"]))

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

    def holds_chat_port(self):
        return holds_chat_port(self.process.pid)

    def wait_exit(self):
        try:
            return self.process.wait(timeout=WAIT_S)
        except subprocess.TimeoutExpired:
            raise AssertionError("the program did not end") from None

    def stop(self):
        stop(self.process)

    def close(self):
        self.stderr.close()


# --- reading the picture ----------------------------------------------------------------------

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
            begin = position
            while not data[position:position + 1].isspace():
                position += 1
            fields.append(data[begin:position])
        assert fields[0] == b"P6" and fields[3] == b"255", fields
        width, height = int(fields[1]), int(fields[2])
        pixels = data[position + 1:position + 1 + width * height * 3]
        assert len(pixels) == width * height * 3
        return Image(width, height, pixels)

    def crop(self, x, y, width, height):
        rows = []
        for row in range(y, y + height):
            begin = (row * self.width + x) * 3
            rows.append(self.pixels[begin:begin + width * 3])
        return Image(width, height, b"".join(rows))

    def pixel(self, x, y):
        begin = (y * self.width + x) * 3
        return tuple(self.pixels[begin:begin + 3])

    def region(self, top, bottom):
        for y in range(max(top, 0), min(bottom, self.height)):
            for x in range(self.width):
                yield x, y, self.pixel(x, y)


def is_black(p):
    return max(p) <= 40


def reddish(p):
    return p[0] > 120 and p[1] < 60 and p[2] < 60


def scaled_from(p, colour, tolerance=24):
    """How strongly p shows colour drawn anti-aliased on black (p = k * colour), or None
    when p is not such a pixel."""
    k = sum(a * b for a, b in zip(p, colour)) / sum(c * c for c in colour)
    if all(abs(a - k * c) <= tolerance for a, c in zip(p, colour)):
        return k
    return None


def check_band(image, top, bottom, colour, where):
    """Pixel rows top..bottom-1 hold text in `colour` alone: enough pixels at full
    strength, and every lit pixel a shade of that colour. `where` names the band in the
    failure."""
    lit = [p for _, _, p in image.region(top, bottom) if not is_black(p)]
    strong = [p for p in lit if (scaled_from(p, colour) or 0) >= 0.7]
    foreign = [p for p in lit if max(p) > 70 and scaled_from(p, colour) is None]
    if len(strong) < 5:
        raise AssertionError(f"{where}: {len(strong)} pixels of {colour} among {len(lit)} lit")
    if len(foreign) > len(lit) // 10:
        raise AssertionError(f"{where}: {len(foreign)} of {len(lit)} lit pixels are not "
                             f"{colour}, e.g. {foreign[:5]}")


def row_band(row, scale=1):
    """The rows of pixels that only glyphs of console row `row` (0 = prompt) reach, on a
    window drawn at `scale` times its size (the desktop's dpi over 96)."""
    top = (FIRST_ROW_TOP + row * ROW_PITCH) * scale
    return round(top + 2 * scale), round(top + 13 * scale)


def check_row(image, row, colour, scale=1):
    check_band(image, *row_band(row, scale), colour, f"row {row}")


def check_console(image, colours, scale=1):
    """Prompt red, one row per expected log colour, nothing under them, neutral strip,
    and red nowhere but in the prompt row."""
    check_row(image, 0, RED, scale)
    for row, colour in enumerate(colours, start=1):
        check_row(image, row, colour, scale)
    below = round((FIRST_ROW_TOP + (len(colours) + 1) * ROW_PITCH + 2) * scale)
    lit_below = [(x, y, p) for x, y, p in image.region(below, image.height) if not is_black(p)]
    if lit_below:
        raise AssertionError(f"pixels lit under the last row: {lit_below[:5]}")
    for x, y, p in image.region(0, round(STRIP_HEIGHT * scale)):
        if max(p) - min(p) > 12:
            raise AssertionError(f"menu strip pixel ({x},{y}) is not grey: {p}")
    prompt_top = FIRST_ROW_TOP * scale
    for x, y, p in image.region(round(STRIP_HEIGHT * scale), image.height):
        if reddish(p) and not prompt_top <= y < prompt_top + ROW_PITCH * scale:
            raise AssertionError(f"red pixel outside the prompt row at ({x},{y}): {p}")
    return True


# --- the datagram record ------------------------------------------------------------------------

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


def ack_for(message, message_id):
    return record(KIND_ACK, struct.pack("<i", message.id), message_id=message_id, length=1)


def pong_for(ping, message_id):
    """The answer hands back the ping's reserved field, length and text."""
    return RECORD.pack(message_id, 0.0, 0, ping.reserved, KIND_PONG, ping.length, ping.text)


class FakePeer:
    """A participant made of a bare UDP socket: it logs in, chats, acknowledges every
    reliable message and answers pings from a background thread, and keeps every
    message it receives (subclasses may look at each one as it arrives in on_message)."""

    def __init__(self, ip):
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

    def on_message(self, message, arrived):
        """Called from the receiving thread for every record, before it is kept."""

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
            arrived = time.monotonic()
            message = Message(data)
            if message.reliable:
                self.send(ack_for(message, self.take_id()))
            if message.kind == KIND_PING:
                self.send(pong_for(message, self.take_id()))
            self.on_message(message, arrived)
            with self.lock:
                self.received.append(message)
                self.lock.notify_all()

    def take_id(self):
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


def check_command_line(test, binary, env=None):
    """--help and --version answer on stdout with status 0, with no display and no input;
    anything else is one line on stderr that names --help, and status 2."""
    name = os.path.basename(binary)
    answer = lambda *arguments: subprocess.run(  # noqa: E731
        [binary, *arguments], capture_output=True, text=True, env=env,
        stdin=subprocess.DEVNULL, timeout=WAIT_S)
    done = answer("--help")
    test.assertEqual((done.returncode, done.stderr), (0, ""))
    test.assertTrue(done.stdout.startswith(f"Usage: {name} [--help | --version]\n"))
    test.assertTrue(done.stdout.endswith("\n\nReport bugs to: <maintainers@tamblewick.org>\n"
                                         "Tamblewick home page: <https://tamblewick.org/>\n"))
    done = answer("--version")
    # GNU's order: name and version, copyright, license, no warranty.
    test.assertEqual(done.returncode, 0)
    test.assertRegex(done.stdout, rf"^{name} {re.escape(os.environ['TW_VERSION'])}\n"
                     r"Copyright \(C\) 20\d\d The Tamblewick developers\nLicense MIT: .*\n"
                     r"(.*\n)?There is NO WARRANTY, to the extent permitted by law\.\n$")
    for wrong in (["--bogus"], ["--help", "extra"]):
        done = answer(*wrong)
        test.assertEqual((done.returncode, done.stdout), (2, ""))
        test.assertEqual(done.stderr,
                         f"{name}: unexpected argument '{wrong[-1]}'; try '{name} --help'\n")


# --- the frame of a window test -----------------------------------------------------------------

class WindowTestCase(unittest.TestCase):
    """A private X server per test; the programs and peers a test starts are stopped at
    its end, and whatever a program wrote on standard error is shown."""

    def setUp(self):
        self.programs = []
        self.peers = []
        # A test may ask for a bigger screen by setting `screen` on its method.
        test = getattr(self, self._testMethodName)
        self.xserver = XServer(getattr(test, "screen", "640x480x24"))
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

    def start_program(self, program=None):
        """The X11 program, or the one given, kept for the end of the test."""
        program = program or Program(self.xserver)
        self.programs.append(program)
        return program

    def start_peer(self, ip):
        peer = FakePeer(ip)
        self.peers.append(peer)
        return peer

    def require_free_chat_port(self):
        taken = port_taken_message()
        if taken:
            self.fail(taken)

    def serve(self, program, name):
        program.type_line(f"nick {name}")
        program.type_line("serve")
        # The program's own socket: "Server Started" shows even when the bind fails.
        wait_until("the server to bind the chat port", program.holds_chat_port)
        return program

    def log_in(self, peer, name, server_name):
        peer.login(name)
        peer.wait_for("the login's acknowledgement",
                      lambda m: m.kind == KIND_ACK and m.acked_id() == 0)
        peer.wait_for("the login answer",
                      lambda m: m.kind == KIND_LOGIN_ACCEPTED and m.text_str() == server_name)

    def expect_clean_exit(self, program):
        """Exit code 0 and nothing on standard error (no sanitizer report either)."""
        self.assertEqual(program.wait_exit(), 0, program.error_text())
        self.assertEqual(program.error_text(), "")
