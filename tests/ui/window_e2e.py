#!/usr/bin/env python3
"""End-to-end tests of the tamblewick window on a real X display.

Each test starts its own X server (Xvfb on a display number it picks itself), runs the
real program in it, types into it with xdotool, talks to it over UDP from a scripted
peer on 127.0.0.2, and reads the window back from screenshots. Every wait polls with a
bound; nothing sleeps to synchronise, and every test stops by itself.

Environment:
  TW_BINARY             the tamblewick program (required)
  TW_CLOSE_HELPER       the send_close_request helper (required)
  TW_VERSION            the version --version must print (command-line case)
  TW_LSAN_SUPPRESSIONS  leak suppressions for system libraries (optional)
  TW_SCREENSHOT         where to save a picture of the chatting server window (optional)

Run one case:  window_e2e.py WindowEndToEnd.test_menu_exit_by_keyboard
"""

import os
import select
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import twkit  # noqa: E402
from twkit import (KIND_ACK, KIND_CHAT, KIND_CHAT_RELAY, KIND_LOGOUT,  # noqa: E402
                   KIND_PEER_LOGGED_OUT, MARK, NOTICE, OWN_CHAT, PEER_CHAT, WAIT_S,
                   check_console, check_row, is_black, wait_until)

IDLE_MEASURE_S = 5.0
FAKE_PEER_IP = "127.0.0.2"
# A name server that takes the question and never answers, and how long the resolver
# waits for it: long enough that leaving before its end shows the program did not wait.
SILENT_DNS_IP = "127.0.0.9"
RESOLVER_WAIT_S = 8
LEAVE_BOUND_S = 3.0

# A sentence per layout, typed with that layout's own keys: digits, punctuation, AltGr, a
# dead key and an umlaut; what the peer must receive, byte for byte, in Latin-1.
LAYOUT_SENTENCES = {
    "de": ("shift+w i e space g e h t shift+numbersign s shift+ssharp space 1 0 shift+period "
           "3 0 space shift+8 o k shift+9 space m a x ISO_Level3_Shift+q w e b period d e "
           "space numbersign 1 plus space adiaeresis dead_acute e",
           "Wie geht's? 10:30 (ok) max@web.de #1+ \xe4\xe9"),
    "fr": ("shift+s a l u t exclam space shift+eacute shift+equal shift+egrave equal "
           "shift+ccedilla comma space shift+ampersand shift+agrave ISO_Level3_Shift+agrave "
           "ISO_Level3_Shift+quotedbl shift+comma space j apostrophe a i space "
           "dead_circumflex e shift+dead_circumflex o eacute",
           "Salut! 2+7=9, 10@#? j'ai \xea\xf6\xe9"),
    # The dead acute before "s" makes a character Latin-1 has not: nothing is typed.
    "us intl": ("shift+i t dead_acute space s space shift+dead_acute space o k "
                "shift+dead_acute space space 1 0 shift+semicolon 3 0 space "
                "ISO_Level3_Shift+s ISO_Level3_Shift+n dead_acute e dead_acute s x",
                'It\'s "ok" 10:30 \xdf\xf1\xe9x'),
}


# --- the tests ---------------------------------------------------------------------------

class WindowEndToEnd(twkit.WindowTestCase):
    def start_server(self, name):
        self.require_free_chat_port()
        return self.serve(self.start_program(), name)

    def test_chat_and_menu_exit_by_keyboard(self):
        alice = self.start_server("alice")
        carol = self.start_peer(FAKE_PEER_IP)
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

    def test_history_scrolls_back_and_a_long_prompt_shows_its_end(self):
        alice = self.start_server("alice")
        carol = self.start_peer(FAKE_PEER_IP)
        self.log_in(carol, "carol", "alice")
        for number in range(10, 16):
            carol.chat(f"line {number}", message_id=number)
            carol.wait_for("the acknowledgement", lambda m, n=number: m.kind == KIND_ACK and
                           m.acked_id() == n)
        newest = [PEER_CHAT] * 5
        wait_until("the newest lines", lambda: check_console(alice.picture(), newest))
        # A page up keeps one line; the notices come back, the mark says the view is back.
        alice.keys("Prior")
        scrolled = [NOTICE] * 3 + [PEER_CHAT] * 2 + [MARK]
        wait_until("the older page and its mark", lambda: check_console(alice.picture(), scrolled))
        carol.chat("meanwhile", message_id=16)
        alice.click(120, 150, button=5)
        wait_until("the wheel three lines down", lambda: check_console(
            alice.picture(), [PEER_CHAT] * 5 + [MARK]))
        # Typing returns to the newest; a line wider than the window shows its end.
        alice.type_text("x" * 80 + "END")
        wait_until("the newest lines again", lambda: check_console(alice.picture(), newest))
        picture = alice.picture()
        check_band = twkit.check_band
        check_band(picture.crop(26, 0, 8, picture.height), *twkit.row_band(0), MARK, "the mark")
        check_band(picture.crop(200, 0, 50, picture.height), *twkit.row_band(0), twkit.RED,
                   "the end")

    def test_resize_and_close_request(self):
        alice = self.start_server("alice")
        carol = self.start_peer(FAKE_PEER_IP)
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

        def titles(program):
            return self.xserver.run("xprop", "-id", program.window, "_NET_WM_NAME",
                                    "WM_NAME").decode()
        self.assertIn('_NET_WM_NAME(UTF8_STRING) = "Tamblewick"', titles(bob))
        bob.type_line("nick bob")
        bob.type_line("connect 127.0.0.1")
        # Nick changed, Connecting to, Connected., Logging in., Login Accepted by alice.
        wait_until("the client to be accepted",
                   lambda: check_console(bob.picture(), [NOTICE] * 5))

        carol = self.start_peer(FAKE_PEER_IP)
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

        # Carol's and alice's lines reached bob's window while alice's had the focus: it
        # asks for attention (ICCCM's urgency hint) until it is focused itself.
        def urgent(program):
            return b"urgency hint bit is set" in self.xserver.run("xprop", "-id", program.window,
                                                                   "WM_HINTS")
        self.assertFalse(urgent(alice))
        wait_until("the client window's urgency hint", lambda: urgent(bob))
        bob.focus()
        wait_until("the hint to go with the focus", lambda: not urgent(bob))

        # Each title says who and where, in UTF-8 for today's desktops and in WM_NAME for
        # the others; bob's began as the program's name alone.
        self.assertIn('_NET_WM_NAME(UTF8_STRING) = "alice (serving) \u2014 Tamblewick"',
                      titles(alice))
        self.assertIn('WM_NAME(COMPOUND_TEXT) = "bob \u2014 127.0.0.1 \u2014 Tamblewick"',
                      titles(bob))

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

    def type_with_layout(self, layout):
        keys, expected = LAYOUT_SENTENCES[layout]
        self.xserver.start_window_manager()
        self.xserver.run("setxkbmap", *layout.replace(" ", " -variant ").split())
        env = dict(twkit.program_env(self.xserver), LANG="C.UTF-8")
        alice = self.serve(self.start_program(twkit.Program(self.xserver, env=env)), "alice")
        carol = self.start_peer(FAKE_PEER_IP)
        self.log_in(carol, "carol", "alice")
        # Caps Lock stays out of it: only Shift decides the case, as on the US layout.
        alice.press("Caps_Lock " + keys + " Caps_Lock Return")
        got = carol.wait_for("the typed sentence", lambda m: m.kind == KIND_CHAT)
        self.assertEqual(got.text_str().encode("latin-1"), expected.encode("latin-1"))

    def test_german_layout(self):
        self.type_with_layout("de")

    def test_french_layout(self):
        self.type_with_layout("fr")

    def test_us_international_layout(self):
        self.type_with_layout("us intl")

    def test_paste_from_clipboard_and_primary(self):
        self.xserver.start_window_manager()
        alice = self.start_server("alice")
        carol = self.start_peer(FAKE_PEER_IP)
        self.log_in(carol, "carol", "alice")

        def expect_line(text):
            carol.wait_for(f"the line {text!r}", lambda m: m.kind == KIND_CHAT and
                           m.text_str() == text)

        def chat_lines(prefix):
            with carol.lock:
                return [m.text_str() for m in carol.received
                        if m.kind == KIND_CHAT and m.text_str().startswith(prefix)]

        def paste_shown(*paste_keys, click=None):
            """Pastes and waits until the window shows it. The text is fetched from its
            owner after the click or key, so a key sent at once could be handled first."""
            before = alice.picture().pixels
            if click:
                alice.click(*click, button=2)
            alice.keys(*paste_keys)
            wait_until("the paste to show", lambda: alice.picture().pixels != before)

        # Typing goes in at the cursor, and the primary selection too; Up brings the line
        # back, Ctrl+W takes its last word, and the edited line goes as a new one.
        alice.type_text("lne")
        alice.keys("Home", "Right")
        alice.type_text("i")
        alice.keys("End")
        self.xserver.set_selection("primary", " two")
        paste_shown(click=(120, 150))
        alice.keys("Return")
        expect_line("line two")
        alice.keys("Up", "ctrl+w", "BackSpace", "s", "Return")
        expect_line("lines")

        # 200 pasted lines wait for an answer: after Escape none of them is sent, after
        # Enter all of them, in order.
        pasted = [f"pasted {n}" for n in range(200)]
        self.xserver.set_selection("clipboard", "\r\n".join(pasted))
        alice.keys("ctrl+v")
        wait_until("the question about the paste", lambda: check_console(
            alice.picture(), [NOTICE, OWN_CHAT, OWN_CHAT, NOTICE, NOTICE]))
        alice.keys("Escape")
        alice.type_line("after escape")
        expect_line("after escape")
        self.assertEqual(chat_lines("pasted"), [])
        alice.keys("ctrl+v")
        wait_until("the question again", lambda: check_console(
            alice.picture(), [NOTICE, NOTICE, OWN_CHAT, NOTICE, NOTICE]))
        alice.keys("Return")
        expect_line("pasted 199")
        self.assertEqual(chat_lines("pasted"), pasted)

        # A one-line paste goes in at the cursor; the euro has no byte, which a notice says.
        self.xserver.set_selection("clipboard", "caf\u00e9 \u20ac")
        paste_shown("shift+Insert")
        alice.keys("Return")
        expect_line("caf\xe9 ")
        # One line longer than a line can be is asked about as the lines it is sent in, and
        # every character arrives.
        self.xserver.set_selection("clipboard", "w" * 40000)
        paste_shown("ctrl+v")
        alice.keys("Return")
        wait_until("all 40,000 characters", lambda: sum(map(len, chat_lines("w"))) == 40000)
        # xclip hands 2 MB over in pieces (INCR): the first 64 KB are asked about, and the
        # notice that the rest was cut comes after the question, where it is seen.
        self.xserver.set_selection("clipboard", "incr head\n" + "y" * (2 * 1024 * 1024))
        alice.keys("ctrl+v")
        wait_until("the question and the notice of the cut under it", lambda: all(
            check_row(alice.picture(), row, NOTICE) is None for row in (3, 4, 5)))
        alice.keys("Escape", "h", "i", "Return")
        expect_line("hi")
        self.assertEqual(chat_lines("incr"), [])

    def test_connect_to_a_silent_resolver_keeps_the_window_alive(self):
        self.xserver.start_window_manager()
        dns = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.addCleanup(dns.close)
        dns.bind((SILENT_DNS_IP, 53))
        resolv = tempfile.NamedTemporaryFile("w", suffix=".conf")
        self.addCleanup(resolv.close)
        resolv.write(f"nameserver {SILENT_DNS_IP}\noptions timeout:{RESOLVER_WAIT_S} attempts:1\n")
        resolv.flush()
        # The program's own mount namespace, where /etc/resolv.conf is the file above.
        unshare = ["unshare", "--mount"] if os.geteuid() == 0 else ["unshare", "-rm"]
        bob = self.start_program(twkit.Program(self.xserver, command=unshare + [
            "sh", "-c", 'mount --bind "$0" /etc/resolv.conf && exec "$1"', resolv.name,
            os.environ["TW_BINARY"]]))

        # One question per lookup (one attempt, IPv4 only), taken so the next one is seen.
        question_arrives = lambda: select.select([dns], [], [], 0)[0] and dns.recv(512)  # noqa
        bob.type_line("nick bob")
        bob.type_line("connect chat.example")
        wait_until("the lookup to ask the silent server", question_arrives)
        # Frames go on during the lookup: its notice shows, and a resize is followed.
        self.xserver.xdotool("windowsize", bob.window, "300", "260")
        wait_until("the window to repaint during the lookup", lambda: (
            lambda picture: (picture.width, picture.height) == (300, 260) and
            check_console(picture, [NOTICE, NOTICE]))(bob.picture()))
        # Typed during the wait, handled after it: "Could not Connect", then the new nick.
        bob.type_line("nick zed")
        wait_until("the failed connect and the nick after it",
                   lambda: check_console(bob.picture(), [NOTICE] * 4))

        bob.type_line("connect chat.example")
        wait_until("the second lookup to ask", question_arrives)
        started = time.monotonic()
        bob.click(10, 10)
        bob.click(20, 30)
        self.expect_clean_exit(bob)
        elapsed = time.monotonic() - started
        print(f"File > Exit during the lookup ended the program in {elapsed:.2f} s", flush=True)
        self.assertLess(elapsed, LEAVE_BOUND_S)

    def test_desktop_at_192_dpi_knows_and_doubles_the_window(self):
        self.xserver.start_window_manager()
        self.xserver.set_dpi(192)
        alice = self.start_server("alice")
        self.assertEqual(alice.geometry()[2:], (500, 500))
        # Nick changed, Server Started: rows, strip and margins all at twice the size.
        wait_until("the console at twice the pitch",
                   lambda: check_console(alice.picture(), [NOTICE, NOTICE], scale=2))
        screenshot_path = os.environ.get("TW_SCREENSHOT_HIDPI")
        if screenshot_path:
            self.xserver.run("import", "-display", self.xserver.display, "-window",
                             alice.window, screenshot_path)
        # The desktop ties the window to its entry and icon, and closes it the WM's way.
        props = self.xserver.run("xprop", "-id", alice.window, "WM_CLASS", "_NET_WM_PID",
                                 "_NET_WM_ICON").decode()
        self.assertIn('WM_CLASS(STRING) = "tamblewick", "Tamblewick"', props)
        self.assertIn(f"_NET_WM_PID(CARDINAL) = {alice.pid}", props)
        for size in (16, 32, 48) if os.environ.get("TW_WINDOW_ICON") == "1" else ():
            self.assertIn(f"Icon ({size} x {size})", props)  # xprop draws what it read whole
        carol = self.start_peer(FAKE_PEER_IP)
        self.log_in(carol, "carol", "alice")
        self.xserver.run(os.environ["TW_CLOSE_HELPER"], "--through-wm", alice.window)
        carol.wait_for("the logout", lambda m: m.kind == KIND_LOGOUT and m.text_str() == "alice")
        self.expect_clean_exit(alice)

    def test_desktop_at_144_dpi_scales_by_half(self):
        self.xserver.set_dpi(144)
        alice = self.start_server("alice")
        self.assertEqual(alice.geometry()[2:], (375, 375))
        wait_until("the console at one and a half times the pitch",
                   lambda: check_console(alice.picture(), [NOTICE, NOTICE], scale=1.5))
        alice.click(15, 15)
        alice.click(20, 45)
        self.expect_clean_exit(alice)

    # The doubled window and openbox's frame must fit on the screen.
    test_desktop_at_192_dpi_knows_and_doubles_the_window.screen = "1024x768x24"

    def test_command_line_and_no_display_is_one_line_and_exit_code_one(self):
        # Asking for help or the version needs no display at all.
        no_display = twkit.program_env(self.xserver)
        no_display.pop("DISPLAY")
        twkit.check_command_line(self, os.environ["TW_BINARY"], env=no_display)
        unused = next(n for n in range(4000, 5000) if not os.path.exists(f"/tmp/.X11-unix/X{n}"))
        for display in (f":{unused}", None):
            env = twkit.program_env(self.xserver)
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
