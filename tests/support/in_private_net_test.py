#!/usr/bin/env python3
"""tools/in-private-net where no namespace can be made: with the chat port taken it says
who holds it in one line and runs nothing; with the port free it runs the command.

Runs under the wrapper itself (tw_add_port_test), so the port it takes is its own."""

import os
import socket
import subprocess
import sys
import unittest

WRAPPER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                       "in-private-net")
COMMAND = [sys.executable, "-c", "print('the command ran')"]


def run_without_namespace():
    env = dict(os.environ, TW_PRIVATE_NET_REFUSE="1")
    return subprocess.run([sys.executable, WRAPPER, *COMMAND], env=env, capture_output=True,
                          text=True, stdin=subprocess.DEVNULL, timeout=60)


class Fallback(unittest.TestCase):
    def test_names_the_port_holder_or_runs_the_command(self):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as holder:
            holder.bind(("", 1210))
            taken = run_without_namespace()
        self.assertEqual(taken.returncode, 1, taken.stderr)
        self.assertEqual(taken.stdout, "")
        lines = taken.stderr.splitlines()
        self.assertEqual(len(lines), 1, lines)
        self.assertIn("UDP port 1210", lines[0])
        self.assertIn(f"pid {os.getpid()} (", lines[0])

        free = run_without_namespace()
        self.assertEqual((free.returncode, free.stdout, free.stderr), (0, "the command ran\n", ""))


if __name__ == "__main__":
    unittest.main(verbosity=2)
