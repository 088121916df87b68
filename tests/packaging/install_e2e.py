#!/usr/bin/env python3
"""The packages as a user gets them: the Debian package unpacked into a scratch root, and
the Windows installer run silently under Wine in a private prefix. Each starts the
installed program in a private X server and leaves it by File > Exit.

The window helpers come from tests/support/twkit.py, the Wine session and the Windows
program from tests/ui/windows_e2e.py. Every wait polls with a bound; every test stops by
itself. A missing tool fails the test, never skips it.

Environment:
  TW_DEB               build-package/tamblewick_VERSION_amd64.deb (DebianPackage)
  TW_VERSION           the project's version, which every installed file must carry
  TW_INSTALLER         build-windows/tamblewick-VERSION-setup.exe (WindowsInstaller)
  TW_INSTALLER_PREFIX  Wine prefix of the installer test (filled once, reused)
  TW_WORK_DIR          scratch folder for the unpacked package (optional)

Run one case:  install_e2e.py DebianPackage
"""

import gzip
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "ui"))
import twkit  # noqa: E402
import windows_e2e  # noqa: E402

APP_ID = "org.tamblewick.Tamblewick"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tamblewick"
INSTALL_S = 180.0


def require_tools(test, *tools):
    missing = [tool for tool in tools if shutil.which(tool) is None]
    if missing:
        test.fail(f"missing tools: {' '.join(missing)} (make test installs their packages)")


def run(*command, env=None):
    return subprocess.run(command, capture_output=True, timeout=INSTALL_S, env=env,
                          stdin=subprocess.DEVNULL)


def png_size(path):
    data = pathlib.Path(path).read_bytes()[:24]
    assert data[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is not a PNG"
    return struct.unpack(">II", data[16:24])


def desktop_entry(path):
    entry = {}
    for line in pathlib.Path(path).read_text().splitlines():
        key, equals, value = line.partition("=")
        if equals:
            entry[key] = value
    return entry


class DebianPackage(twkit.WindowTestCase):
    def setUp(self):
        super().setUp()
        require_tools(self, "dpkg-deb", "desktop-file-validate", "appstreamcli", "man",
                      "Xvfb", "xdotool")
        self.deb = os.environ.get("TW_DEB", "")
        if not os.path.isfile(self.deb):
            self.fail(f"the package is missing: {self.deb!r} (make package builds it)")
        scratch = tempfile.TemporaryDirectory(dir=os.environ.get("TW_WORK_DIR"))
        self.addCleanup(scratch.cleanup)
        self.root = pathlib.Path(scratch.name)
        unpacked = run("dpkg-deb", "-x", self.deb, str(self.root))
        self.assertEqual(unpacked.returncode, 0, unpacked.stderr)
        self.version = os.environ["TW_VERSION"]

    def test_files_where_the_desktop_looks_and_the_installed_program_runs(self):
        usr = self.root / "usr"
        share = usr / "share"
        program = usr / "bin" / "tamblewick"
        self.assertTrue(os.access(program, os.X_OK), program)
        self.assertEqual(run("dpkg-deb", "-f", self.deb, "Version").stdout.decode().strip(),
                         self.version)
        # Computed by dpkg-shlibdeps from what the program links, never typed by hand.
        depends = run("dpkg-deb", "-f", self.deb, "Depends").stdout.decode()
        for library in ("libc6", "libx11-6", "libxft2"):
            self.assertIn(library, depends)

        desktop = share / "applications" / f"{APP_ID}.desktop"
        validated = run("desktop-file-validate", str(desktop))
        self.assertEqual((validated.returncode, validated.stdout + validated.stderr), (0, b""))
        entry = desktop_entry(desktop)
        self.assertEqual((usr / "bin" / entry["Exec"]), program)
        icons = share / "icons" / "hicolor"
        self.assertTrue((icons / "scalable" / "apps" / f"{entry['Icon']}.svg").is_file())
        for size in (48, 128):
            self.assertEqual(png_size(icons / f"{size}x{size}" / "apps" / f"{entry['Icon']}.png"),
                             (size, size))

        metainfo = share / "metainfo" / f"{APP_ID}.metainfo.xml"
        validated = run("appstreamcli", "validate", "--no-net", "--no-color", str(metainfo))
        self.assertEqual(validated.returncode, 0, validated.stdout + validated.stderr)
        text = metainfo.read_text()
        self.assertIn(f'<launchable type="desktop-id">{desktop.name}</launchable>', text)
        self.assertIn(f'<release version="{self.version}"', text)

        page = share / "man" / "man1" / "tamblewick.1.gz"
        shown = run("man", "--warnings", "-l", str(page),
                    env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="0"))
        self.assertEqual((shown.returncode, shown.stderr), (0, b""))
        self.assertIn(f"Tamblewick {self.version}".encode(), shown.stdout)
        copyright_file = share / "doc" / "tamblewick" / "copyright"
        self.assertIn("License: Expat", copyright_file.read_text())
        with gzip.open(share / "doc" / "tamblewick" / "changelog.gz", "rt") as changelog:
            self.assertTrue(changelog.readline().startswith(f"tamblewick ({self.version})"))

        # The terminal front end, its manual and the headless server's unit, which must
        # start the binary where the package put it.
        self.assertTrue(os.access(usr / "bin" / "tamblewick-tty", os.X_OK))
        tty_page = share / "man" / "man1" / "tamblewick-tty.1.gz"
        shown = run("man", "--warnings", "-l", str(tty_page), env=dict(os.environ, MANWIDTH="80"))
        self.assertEqual((shown.returncode, shown.stderr), (0, b""))
        unit = (usr / "lib" / "systemd" / "system" / "tamblewick-tty.service").read_text()
        self.assertIn("ExecStart=/usr/bin/tamblewick-tty\n", unit)
        self.assertIn("StandardInputText=serve\n", unit)

        self.run_installed_program(program)

    def run_installed_program(self, program):
        self.require_free_chat_port()
        window = self.start_program(twkit.Program(self.xserver, binary=str(program)))
        window.type_line("serve")
        # "Server Started", the one notice, and the port really held.
        twkit.wait_until("the notice",
                         lambda: twkit.check_console(window.picture(), [twkit.NOTICE]))
        twkit.wait_until("the server to bind the chat port", window.holds_chat_port)
        peer = self.start_peer("127.0.0.2")
        peer.login("carol")
        peer.wait_for("the login answer", lambda m: m.kind == twkit.KIND_LOGIN_ACCEPTED)

        window.keys("alt+f", "x")
        peer.wait_for("the logout", lambda m: m.kind == twkit.KIND_LOGOUT)
        self.expect_clean_exit(window)


class WindowsInstaller(twkit.WindowTestCase):
    def setUp(self):
        super().setUp()
        require_tools(self, "wine", "Xvfb", "xdotool")
        self.installer = os.environ.get("TW_INSTALLER", "")
        if not os.path.isfile(self.installer):
            self.fail(f"the installer is missing: {self.installer!r} "
                      "(make windows-installer builds it)")
        prefix = pathlib.Path(os.environ["TW_INSTALLER_PREFIX"])
        self.folder = prefix / "drive_c" / "Program Files" / "Tamblewick"
        self.shortcut = (prefix / "drive_c" / "ProgramData" / "Microsoft" / "Windows" /
                         "Start Menu" / "Programs" / "Tamblewick" / "Tamblewick.lnk")
        if self.folder.exists():
            # Left by a run that ended early: start again from an empty prefix.
            shutil.rmtree(prefix)
        os.environ["TW_WINEPREFIX"] = str(prefix)
        os.environ["TW_WINDOWS_EXE"] = str(self.folder / "tamblewick.exe")
        self.wine = windows_e2e.WineSession(self.xserver)
        self.addCleanup(self.wine.close)
        self.addCleanup(self.wine.end_session)
        self.wine.prepare()

    def wine_run(self, *command):
        result = self.wine.run(INSTALL_S, "wine", *command)
        return result.returncode

    def registered(self):
        return self.wine_run("reg", "query", UNINSTALL_KEY) == 0

    def registered_version(self):
        result = subprocess.run(["wine", "reg", "query", UNINSTALL_KEY, "/v", "DisplayVersion"],
                                env=self.wine.env(), capture_output=True, timeout=INSTALL_S,
                                stdin=subprocess.DEVNULL)
        return result.stdout.decode(errors="replace").split()[-1:]

    def test_silent_install_start_and_uninstall(self):
        self.assertEqual(self.wine_run(self.installer, "/S"), 0, self.wine.log_text())
        executable = self.folder / "tamblewick.exe"
        self.assertTrue(executable.is_file(), sorted(self.folder.parent.iterdir()))
        self.assertTrue(self.shortcut.is_file(), self.shortcut)
        self.assertTrue((self.folder / "LICENSE.txt").is_file())
        self.assertTrue(self.registered(), self.wine.log_text())
        self.assertEqual(self.registered_version(), [os.environ["TW_VERSION"]])

        program = self.start_program(windows_e2e.WineProgram(self.xserver, self.wine))
        program.keys("alt+f", "x")
        self.expect_clean_exit(program)

        self.assertEqual(self.wine_run(str(self.folder / "Uninstall.exe"), "/S"), 0)
        # The uninstaller copies itself away and returns before the copy has removed
        # anything.
        twkit.wait_until("the uninstaller to remove the files", lambda: not any(
            path.exists() for path in (executable, self.shortcut, self.folder)),
            timeout=INSTALL_S)
        twkit.wait_until("the uninstaller to leave Add/Remove Programs",
                       lambda: not self.registered(), timeout=INSTALL_S)


if __name__ == "__main__":
    unittest.main()
