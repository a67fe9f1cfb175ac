"""Two real vexo processes sharing one lock file: replacement, take-over of a crashed
instance's lock, the IPC commands from a test client, and the exit statuses 0 and 1."""
import os
import signal
import unittest

from desktopsupport import HeldLock, DesktopTestCase, ipc_connect, is_open, successor, LOCK_NAME
from vexotest import VexoInstance, wait_for_port, wait_until


def lock_owner(tmpdir):
    with open(os.path.join(tmpdir, LOCK_NAME)) as f:
        return int(f.readline())


class InstanceReplacementTest(unittest.TestCase):
    def keep(self, instance):
        self.addCleanup(instance.cleanup)
        return instance

    def test_second_start_makes_first_quit_and_serves_on_same_port(self):
        first = self.keep(VexoInstance())
        self.assertEqual(first.get("/ajax.html").status, 200)
        second = self.keep(successor(first))
        second.start(wait=False)

        self.assertEqual(first.process.wait(15), 0)
        wait_for_port(second.port, process=second.process)
        self.assertEqual(second.get("/ajax.html").status, 200)
        self.assertEqual(lock_owner(second.tmp), second.process.pid)

        # The replacing instance is itself replaceable: the chain goes on.
        third = self.keep(successor(second))
        third.start(wait=False)
        self.assertEqual(second.process.wait(15), 0)
        wait_for_port(third.port, process=third.process)

    def test_killed_instance_lock_is_taken_over_without_dialog(self):
        first = self.keep(VexoInstance())
        first.process.send_signal(signal.SIGKILL)
        first.process.wait(5)
        self.assertTrue(os.path.exists(os.path.join(first.tmp, LOCK_NAME)))

        second = self.keep(successor(first))
        second.start(wait=True)
        self.assertEqual(lock_owner(second.tmp), second.process.pid)
        # The new instance's IPC works even though the dead one left its socket behind.
        with ipc_connect(second.tmp) as client:
            client.sendall(b"shutdown")
            self.assertEqual(second.process.wait(10), 0)
        self.assertFalse(os.path.exists(os.path.join(second.tmp, LOCK_NAME)))


class IpcCommandTest(DesktopTestCase):
    """Commands sent by a test client; "show" needs a desktop whose services start a browser,
    so the instance runs on a private X display with a stand-in xdg-open on its PATH."""

    def setUp(self):
        self.browser, env = self.stand_in_browser()
        self.vexo = VexoInstance(env=env)
        self.addCleanup(self.vexo.cleanup)

    def test_show_unknown_and_restart(self):
        with ipc_connect(self.vexo.tmp) as client:
            # Near misses are ignored and the client stays connected; blanks around a command are not.
            for near_miss in (b"bogus", b"SHOW", b"sh ow"):
                client.sendall(near_miss)
                self.assertTrue(is_open(client))
            client.sendall(b" show\r\n")
            records = self.browser.wait(1)
        self.assertEqual(records, [{"program": "xdg-open", "args": [self.vexo.url("").rstrip("/")],
                                    "port_closed": None}])
        self.assertIsNone(self.vexo.process.poll())

        with ipc_connect(self.vexo.tmp) as client:
            client.sendall(b"restart")
            self.assertEqual(self.vexo.process.wait(10), 0)
        self.assertFalse(os.path.exists(os.path.join(self.vexo.tmp, LOCK_NAME)))


class UnreplaceableInstanceTest(DesktopTestCase):
    """A lock held by a live process that does not answer on IPC cannot be taken over: the
    user is told so and the program ends with status 1."""

    def test_message_box_then_exit_status_1(self):
        vexo = VexoInstance(env=self.xserver.env(), start=False)
        self.addCleanup(vexo.cleanup)
        holder = HeldLock(vexo.tmp)
        self.addCleanup(holder.release)
        vexo.start(wait=False)
        found = self.xserver.xdotool("search", "--sync", "--onlyvisible", "--name", "^Vexo$")
        self.assertEqual(found.returncode, 0, found.stderr)
        window = found.stdout.split()[0]
        self.assertIsNone(vexo.process.poll())  # waiting for the user
        self.xserver.xdotool("windowfocus", "--sync", window)
        self.xserver.xdotool("key", "Return")
        self.assertEqual(vexo.process.wait(10), 1)
        self.assertTrue(wait_until(lambda: os.path.exists(holder.path), timeout=10.0))


if __name__ == "__main__":
    unittest.main()
