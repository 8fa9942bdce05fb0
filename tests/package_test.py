#!/usr/bin/env python3
"""Installs the game into a scratch prefix and packs it as a Debian package:
the binary and the manual page land where they belong, the page renders
without warnings, the package passes lintian, and the packaged binary plays.

Usage: python3 -m tests.package_test BUILD-DIR"""

import glob
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from tests.terminal.harness import EMULATOR, have_tmux, start_game

BUILD = None
# The package's architecture by the machine its binary's ELF header names.
ARCHITECTURES = {0x3E: "amd64", 0xB7: "arm64"}


def run(*args, **kw):
    return subprocess.run(list(args), check=True, capture_output=True, text=True, **kw)


class Install(unittest.TestCase):
    def test_binary_and_manual_page(self):
        prefix = tempfile.mkdtemp(prefix="blockfall-install-")
        self.addCleanup(shutil.rmtree, prefix, True)
        run("cmake", "--install", BUILD, "--prefix", prefix)
        binary = os.path.join(prefix, "bin", "blockfall")
        page = os.path.join(prefix, "share", "man", "man6", "blockfall.6")
        self.assertTrue(os.access(binary, os.X_OK))
        # Only these: the package's own layout stays out of a plain install.
        files = {os.path.relpath(os.path.join(d, f), prefix)
                 for d, _, fs in os.walk(prefix) for f in fs}
        self.assertEqual(files, {"bin/blockfall", "share/man/man6/blockfall.6"})
        if shutil.which("man"):
            env = dict(os.environ, MANWIDTH="80", LANG="C.UTF-8")
            out = subprocess.run(["man", "--warnings", "-l", page], capture_output=True,
                                 text=True, env=env)
            self.assertEqual(out.returncode, 0, out.stderr)
            self.assertEqual(out.stderr, "")
            for heading in ("NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "KEYS", "SCREEN",
                            "EXIT STATUS", "TERMINAL", "PLATFORMS"):
                self.assertIn(heading, out.stdout)
        if shutil.which("groff"):
            out = subprocess.run(["groff", "-ww", "-man", "-Tutf8", page], capture_output=True,
                                 text=True)
            self.assertEqual(out.stderr, "")


@unittest.skipUnless(shutil.which("dpkg-deb") and shutil.which("dpkg-shlibdeps"),
                     "not a Debian system")
class DebianPackage(unittest.TestCase):
    def test_package_contents_dependencies_and_play(self):
        out = tempfile.mkdtemp(prefix="blockfall-deb-")
        self.addCleanup(shutil.rmtree, out, True)
        run("cpack", "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", out)
        debs = glob.glob(os.path.join(out, "*.deb"))
        self.assertEqual(len(debs), 1, debs)
        listing = run("dpkg-deb", "-c", debs[0]).stdout
        print(listing)
        for path in ("./usr/games/blockfall", "./usr/share/man/man6/blockfall.6.gz",
                     "./usr/share/doc/blockfall/changelog.gz", "./usr/share/doc/blockfall/copyright"):
            self.assertIn(path, listing)
        self.assertNotIn("./usr/bin/", listing)
        depends = run("dpkg-deb", "-f", debs[0], "Depends").stdout
        # The terminal database and its reader come from ncurses' runtime.
        self.assertRegex(depends, r"\blib(tinfo|ncursesw)6\b")
        self.assertEqual(run("dpkg-deb", "-f", debs[0], "Section").stdout.strip(), "games")

        if shutil.which("lintian"):
            # Errors and warnings only; lintian's informational notes about
            # hardening flags are the build's own choice.
            checked = subprocess.run(["lintian", "--fail-on", "error,warning", debs[0]],
                                     capture_output=True, text=True)
            self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
            self.assertNotRegex(checked.stdout, r"(?m)^[EW]: ")
        elif os.environ.get("CI"):
            self.fail("lintian is not installed")

        root = os.path.join(out, "root")
        run("dpkg-deb", "-x", debs[0], root)
        with open(os.path.join(root, "usr", "share", "doc", "blockfall", "copyright")) as f:
            self.assertIn("MIT License", f.read())
        binary = os.path.join(root, "usr", "games", "blockfall")
        with open(binary, "rb") as f:
            machine = int.from_bytes(f.read(20)[18:20], "little")
        self.assertEqual(run("dpkg-deb", "-f", debs[0], "Architecture").stdout.strip(),
                         ARCHITECTURES.get(machine))
        refused = subprocess.run([*EMULATOR, binary], stdin=subprocess.DEVNULL,
                                 capture_output=True, text=True)
        self.assertEqual(refused.returncode, 1)
        self.assertIn("terminal", refused.stderr)
        if have_tmux():
            self.assertEqual(start_game([*EMULATOR, binary], self).leave(), 0)


@unittest.skipUnless(shutil.which("dpkg-query"), "not a Debian system")
class Deps(unittest.TestCase):
    """packaging/deps --check against a dpkg database of the test's own
    making (DPKG_ADMINDIR): exit 1 naming what is missing and the command
    that installs it, silence when all is there."""

    def test_check_names_what_is_missing(self):
        deps = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "packaging", "deps")
        packages = run(deps, "--print", "bench").stdout.split()
        native = run("dpkg", "--print-architecture").stdout.strip()
        admin = tempfile.mkdtemp(prefix="blockfall-dpkg-")
        self.addCleanup(shutil.rmtree, admin, True)
        # How tmux stands in the database: (status, architecture), or None
        # for no record; and whether --check finds it missing.
        for tmux, missing in ((("install ok installed", native), False),
                              (("install ok installed", "all"), False),
                              (None, True),
                              (("install ok installed", "arm64" if native != "arm64" else "amd64"), True),
                              (("deinstall ok config-files", native), True)):
            with self.subTest(tmux=tmux):
                stands = {p: ("install ok installed", native) for p in packages}
                stands["tmux"] = tmux
                with open(os.path.join(admin, "status"), "w") as f:
                    for name, record in stands.items():
                        if record:
                            f.write(f"Package: {name}\nStatus: {record[0]}\n"
                                    f"Architecture: {record[1]}\nVersion: 1\n\n")
                check = subprocess.run([deps, "--check", "bench"], capture_output=True, text=True,
                                       env=dict(os.environ, DPKG_ADMINDIR=admin))
                self.assertEqual((check.returncode, check.stdout), (int(missing), ""))
                self.assertEqual(check.stderr, "packaging/deps: missing tmux: run packaging/deps bench\n"
                                 if missing else "")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
