#!/usr/bin/env python3
"""The packages as a user gets them: the .debs and RPMs unpacked into a scratch root, and
the Windows installer run silently under Wine in a private prefix. Each window starts in a
private X server and leaves by File > Exit; tamblewick-tty serves a scripted client, and
its package's service scripts run where systemctl only records. The source tarball must
build without git and without the packaging tools.

The window helpers come from tests/support/twkit.py, the Wine session and the Windows
program from tests/ui/windows_e2e.py. Every wait polls with a bound; every test stops by
itself. A missing tool fails the test, never skips it.

Environment:
  TW_PACKAGES          the .debs and RPMs of make package, separated by ':'
  TW_SOURCE_DIR        the git checkout whose make dist makes the source tarball
  TW_VERSION           the project's version, which every installed file must carry
  TW_INSTALLER         build-windows/tamblewick-VERSION-setup.exe (WindowsInstaller)
  TW_INSTALLER_PREFIX  Wine prefix of the installer test (filled once, reused)
  TW_WORK_DIR          scratch folder for unpacked packages and the build (optional)

Run one case:  install_e2e.py DebianPackage
"""

import gzip
import os
import pathlib
import re
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
import tty_e2e  # noqa: E402
import windows_e2e  # noqa: E402

APP_ID = "org.tamblewick.Tamblewick"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tamblewick"
INSTALL_S = 180.0
BUILD_S = 600.0
X_LIBRARIES = re.compile(r"libx11|libxft|libxrender|libxcb|libfontconfig|libfreetype", re.I)


def require_tools(test, *tools):
    missing = [tool for tool in tools if shutil.which(tool) is None]
    if missing:
        test.fail(f"missing tools: {' '.join(missing)} (make test installs their packages)")


def run(*command, env=None):
    return subprocess.run(command, capture_output=True, timeout=INSTALL_S, env=env,
                          stdin=subprocess.DEVNULL)


def package(test, start):
    found = [path for path in os.environ.get("TW_PACKAGES", "").split(":")
             if os.path.basename(path).startswith(start)]
    test.assertEqual(len(found), 1, f"{start}* in TW_PACKAGES (make package builds it)")
    return found[0]


def scratch_folder(test):
    scratch = tempfile.TemporaryDirectory(dir=os.environ.get("TW_WORK_DIR"))
    test.addCleanup(scratch.cleanup)
    return pathlib.Path(scratch.name)


def unpack_deb(test, name):
    deb, root = package(test, f"{name}_"), scratch_folder(test)
    unpacked = run("dpkg-deb", "-x", deb, str(root))
    test.assertEqual(unpacked.returncode, 0, unpacked.stderr)
    return deb, root


def files_under(root):
    return {f"/{path.relative_to(root)}" for path in root.rglob("*") if not path.is_dir()}


def deb_field(deb, field):
    return run("dpkg-deb", "-f", deb, field).stdout.decode().strip()


def check_page_and_docs(test, root, name):
    """The page renders without a warning and has the version; copyright and changelog
    are where Debian's tools look."""
    share, version = root / "usr" / "share", os.environ["TW_VERSION"]
    shown = run("man", "--warnings", "-l", str(share / "man" / "man1" / f"{name}.1.gz"),
                env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="0"))
    test.assertEqual((shown.returncode, shown.stderr), (0, b""))
    test.assertIn(f"Tamblewick {version}".encode(), shown.stdout)
    # The KEYS section, written from the program's own key table; man marks its key names
    # bold by overstriking when its output is not a terminal.
    test.assertIn(b"Ctrl+W", re.sub(rb"[\x00-\x7f]\x08", b"", shown.stdout))
    test.assertIn("License: Expat", (share / "doc" / name / "copyright").read_text())
    with gzip.open(share / "doc" / name / "changelog.gz", "rt") as changelog:
        test.assertTrue(changelog.readline().startswith(f"tamblewick ({version})"))


# The host runs no service manager: in a private mount namespace the folders systemd and
# deb-systemd-helper keep their state in are empty, /run/systemd/system says systemd runs,
# and systemctl only writes down what it was asked. Each step is one shell command; after
# each, the log says what is left in the enable and state folders.
SERVICE_ROOT = r"""set -e
for f in /etc/systemd/system /var/lib/systemd /run/systemd /usr/lib/systemd/system; do
    mount -t tmpfs tmpfs "$f"; done
mkdir /run/systemd/system && mount --bind "$TW_SCRIPTS/systemctl" /usr/bin/systemctl
[ ! -e /usr/sbin/policy-rc.d ] || mount --bind /bin/true /usr/sbin/policy-rc.d
install -m 644 "$TW_UNIT" /usr/lib/systemd/system/
for step in "$@"; do
    echo "== ${step%%:*}" >>"$TW_LOG"
    sh -c "cd $TW_SCRIPTS; ${step#*:}" >>"$TW_LOG" 2>&1
    echo "left: $(cd / && find etc/systemd/system var/lib/systemd ! -type d | sort | xargs)" >>"$TW_LOG"
done
"""


def service_log(test, unit, scripts, *steps):
    """What systemctl was asked and what was left after each step, by the step's name."""
    log, recorder = scripts / "log", scripts / "systemctl"
    log.unlink(missing_ok=True)
    recorder.write_text(f'#!/bin/sh\necho "systemctl $*" >>"{log}"\n')
    recorder.chmod(0o755)
    done = subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-c",
                           SERVICE_ROOT, "sh", *steps], capture_output=True, timeout=INSTALL_S,
                          env=dict(os.environ, TW_LOG=str(log), TW_SCRIPTS=str(scripts),
                                   TW_UNIT=str(unit), DPKG_MAINTSCRIPT_PACKAGE=unit.stem),
                          stdin=subprocess.DEVNULL)
    test.assertEqual(done.returncode, 0, done.stderr)
    steps = [part.splitlines() for part in log.read_text().split("== ")[1:]]
    return {lines[0]: lines[1:] for lines in steps}


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
        self.deb, self.root = unpack_deb(self, "tamblewick")
        self.version = os.environ["TW_VERSION"]

    def test_files_where_the_desktop_looks_and_the_installed_program_runs(self):
        usr = self.root / "usr"
        share = usr / "share"
        program = usr / "bin" / "tamblewick"
        self.assertTrue(os.access(program, os.X_OK), program)
        self.assertEqual(deb_field(self.deb, "Version"), self.version)
        # Computed by dpkg-shlibdeps from what the program links, never typed by hand.
        depends = deb_field(self.deb, "Depends")
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

        check_page_and_docs(self, self.root, "tamblewick")
        # The terminal program comes with the other package.
        self.assertFalse((usr / "bin" / "tamblewick-tty").exists())

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


class OtherPackages(unittest.TestCase):
    def test_tty_deb_needs_no_x_library_and_serves(self):
        require_tools(self, "dpkg-deb", "man", "ldd")
        deb, root = unpack_deb(self, "tamblewick-tty")
        program = root / "usr" / "bin" / "tamblewick-tty"
        needs = deb_field(deb, "Depends") + run("ldd", str(program)).stdout.decode()
        self.assertIn("libc6", needs)
        self.assertIn("libc.so.6", needs)
        self.assertIsNone(X_LIBRARIES.search(needs), needs)
        check_page_and_docs(self, root, "tamblewick-tty")
        # The headless server's unit must start the binary where the package put it.
        unit = (root / "usr/lib/systemd/system/tamblewick-tty.service").read_text()
        self.assertIn("ExecStart=/usr/bin/tamblewick-tty\nStandardInputText=serve\n", unit)

        self.assertIsNone(twkit.port_taken_message())
        server = tty_e2e.LineProgram(str(program), str(scratch_folder(self)), "server")
        self.addCleanup(server.stop)
        server.type(b"serve\n")
        server.wait_for(" -- Server Started")
        client = twkit.FakePeer("127.0.0.2")
        self.addCleanup(client.close)
        client.login("carol")
        client.wait_for("the login answer", lambda m: m.kind == twkit.KIND_LOGIN_ACCEPTED)
        client.chat("hello from a script", client.take_id())
        server.wait_for("<carol> hello from a script")
        self.assertEqual(server.terminate(), (0, ""))
        client.wait_for("the logout", lambda m: m.kind == twkit.KIND_LOGOUT)

    def test_service_is_left_disabled_and_stopped_by_installing_and_removing(self):
        require_tools(self, "dpkg-deb", "deb-systemd-helper", "unshare", "rpm")
        deb, root = unpack_deb(self, "tamblewick-tty")
        scripts, unit = scratch_folder(self), root / "usr/lib/systemd/system/tamblewick-tty.service"
        self.assertEqual(run("dpkg-deb", "-e", deb, str(scripts)).returncode, 0)
        rpm = package(self, f"tamblewick-tty-{os.environ['TW_VERSION']}-")
        for name in ("POSTIN", "PREUN", "POSTUN"):
            (scripts / name).write_bytes(run("rpm", "-qp", "--qf", f"%{{{name}}}", rpm).stdout)
        wants, installed = (f"etc/systemd/system/multi-user.target.wants/{unit.name}",
                            f"/usr/lib/systemd/system/{unit.name}")
        reload, state = "systemctl --system daemon-reload", "var/lib/systemd/deb-systemd-helper-enabled"
        # As dpkg calls them; the administrator enables the unit as systemctl enable would.
        steps = service_log(self, unit, scripts, "install:./postinst configure",
                            f"enable:mkdir -p /{os.path.dirname(wants)} && ln -s {installed} /{wants}",
                            "upgrade:./prerm upgrade 1 && ./postinst configure 1",
                            f"remove:./prerm remove && rm {installed} && ./postrm remove",
                            "purge:./postrm purge")
        self.assertEqual(steps["install"], [reload, f"left: {state}/{unit.name}.dsh-also"])
        self.assertEqual(steps["upgrade"][:2], [reload, f"systemctl try-restart {unit.name}"])
        self.assertEqual(steps["remove"][:2], [f"systemctl stop {unit.name}", reload])
        self.assertIn(f"{wants} ", steps["remove"][2])
        self.assertEqual(steps["purge"][-1], "left: ")
        # As rpm calls them: first install, upgrade (the old package's preun and postun), erase.
        steps = service_log(self, unit, scripts, "install:sh POSTIN 1",
                            "upgrade:sh POSTIN 2 && sh PREUN 1 && sh POSTUN 1",
                            "erase:sh PREUN 0 && sh POSTUN 0")
        self.assertEqual(steps, {
            "install": [f"systemctl --no-reload preset {unit.name}", "left: "],
            "upgrade": [f"systemctl try-restart {unit.name}", "left: "],
            "erase": [f"systemctl --no-reload disable --now {unit.name}", "left: "]})

    def test_rpms_hold_the_debs_files_pass_rpmlint_and_start(self):
        require_tools(self, "rpm", "rpm2cpio", "cpio", "rpmlint", "dpkg-deb")
        for name in ("tamblewick", "tamblewick-tty"):
            rpm = package(self, f"{name}-{os.environ['TW_VERSION']}-")
            linted = run("rpmlint", "-c", f"{HERE}/../../packaging/rpmlint.toml", rpm)
            self.assertEqual((linted.returncode, linted.stdout.count(b": W: ")), (0, 0),
                             linted.stdout)
            # The license stays with an install without documentation.
            self.assertEqual(run("rpm", "-qpL", rpm).stdout.decode().split(),
                             [f"/usr/share/doc/{name}/copyright"])
            root = scratch_folder(self)
            unpacked = subprocess.run(f"rpm2cpio '{rpm}' | cpio -idm --quiet", shell=True,
                                      cwd=root, timeout=INSTALL_S)
            self.assertEqual(unpacked.returncode, 0)
            listed = run("rpm", "-qlp", rpm).stdout.decode().split()
            self.assertEqual({path for path in listed if not (root / path[1:]).is_dir()},
                             files_under(unpack_deb(self, name)[1]))
            self.assertTrue(run(str(root / "usr" / "bin" / name), "--version").stdout
                            .startswith(f"{name} {os.environ['TW_VERSION']}\n".encode()))

    def test_source_release_builds_and_installs_without_rsvg_convert_and_gzip(self):
        # The tarball of make dist (the committed tree), away from git: what distributions build.
        scratch, version = scratch_folder(self), os.environ["TW_VERSION"]
        made = run("make", "-s", "-C", os.environ["TW_SOURCE_DIR"], "dist", f"DIST_DIR={scratch}")
        self.assertEqual(made.returncode, 0, made.stderr)
        unpacked = run("tar", "-xzf", str(scratch / f"tamblewick-{version}.tar.gz"), "-C",
                       str(scratch))
        self.assertEqual(unpacked.returncode, 0, unpacked.stderr)
        source = scratch / f"tamblewick-{version}"
        (scratch / "bin").mkdir()
        for folder in filter(os.path.isdir, os.environ["PATH"].split(os.pathsep)):
            for entry in os.scandir(folder):
                tool = scratch / "bin" / entry.name
                if entry.name not in ("rsvg-convert", "gzip") and not tool.exists():
                    tool.symlink_to(entry.path)
        env = dict(os.environ, PATH=str(scratch / "bin"), DESTDIR=str(scratch / "root"),
                   GIT_CEILING_DIRECTORIES=str(scratch))
        build = str(scratch / "build")
        # Configured for /usr/local, installed for /usr, as distributions and the README do.
        for step in (["-S", str(source), "-B", build, "-DTAMBLEWICK_TESTS=OFF",
                      "-DTAMBLEWICK_WINDOW=ON"],
                     ["--build", build, "-j2"], ["--install", build, "--prefix", "/usr"]):
            done = subprocess.run(["cmake", *step], env=env, capture_output=True,
                                  timeout=BUILD_S, stdin=subprocess.DEVNULL)
            self.assertEqual(done.returncode, 0, done.stdout[-3000:] + done.stderr[-3000:])
        self.assertIn(b"rsvg-convert not found", done.stderr)
        self.assertIn(b"gzip not found: installing tamblewick-tty.1 uncompressed", done.stderr)
        self.assertTrue((scratch / "root/usr/share/man/man1/tamblewick.1").is_file())
        unit = "/usr/lib/systemd/system/tamblewick-tty.service"
        self.assertIn("\nExecStart=/usr/bin/tamblewick-tty\n", (scratch / f"root{unit}").read_text())
        page = (scratch / "root/usr/share/man/man1/tamblewick-tty.1").read_text()
        self.assertIn("\n.I /usr/lib/systemd/system/tamblewick\\-tty.service\n", page)


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
