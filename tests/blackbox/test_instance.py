"""Two real vexo processes sharing one lock file: replacement, take-over of a crashed
instance's lock, the IPC commands from a test client, and the exit statuses 0 and 1."""
import os
import signal
import unittest

from desktopsupport import (HeldLock, StandIns, DesktopTestCase, ipc_connect, is_open, successor,
                            wait_for_log, wait_until, LOCK_NAME)
from vexotest import VexoInstance, read_http_response, wait_for_port


def get(instance, path="/"):
    with instance.connect() as sock:
        sock.sendall(b"GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n" % path.encode())
        return read_http_response(sock)[0]


def lock_owner(tmpdir):
    with open(os.path.join(tmpdir, LOCK_NAME)) as f:
        return int(f.readline())


class InstanceReplacementTest(unittest.TestCase):
    def setUp(self):
        self.instances = []

    def tearDown(self):
        for instance in self.instances:
            instance.cleanup()

    def keep(self, instance):
        self.instances.append(instance)
        return instance

    def test_second_start_makes_first_quit_and_serves_on_same_port(self):
        first = self.keep(VexoInstance())
        self.assertTrue(get(first).startswith("HTTP/1.1"))
        second = self.keep(successor(first))
        second.start(wait=False)

        self.assertEqual(first.process.wait(15), 0)
        wait_for_port(second.port, process=second.process)
        self.assertTrue(get(second).startswith("HTTP/1.1"))
        self.assertEqual(lock_owner(second.tmp), second.process.pid)

        first_log, second_log = first.log_text(), second.log_text()
        self.assertIn('[1st] IPC cmd = "shutdown"', first_log)
        self.assertIn('[1st] Otrzymano "shutdown" → quit()', first_log)
        self.assertIn('[2nd] Lock zajęty. Sprawdzam poprzednią instancję. IPC = "VexoAdmin-ipc"', second_log)
        self.assertIn("[2nd] Połączono z IPC. Wysyłam 'shutdown'.", second_log)
        self.assertIn('[1st] IPC listening as "VexoAdmin-ipc"', second_log)
        self.assertNotIn("wysypała", second_log)

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
        log = second.log_text()
        self.assertNotIn("[2nd] Połączono z IPC", log)
        self.assertIn('[1st] IPC listening as "VexoAdmin-ipc"', log)
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
            client.sendall(b"bogus")
            wait_for_log(self.vexo, '[1st] IPC cmd = "bogus"')
            self.assertTrue(is_open(client))
            client.sendall(b" show\r\n")
            records = self.browser.wait(1)
        self.assertEqual(records, [{"program": "xdg-open", "args": [self.vexo.url("").rstrip("/")],
                                    "port_closed": None}])
        self.assertIsNone(self.vexo.process.poll())

        with ipc_connect(self.vexo.tmp) as client:
            client.sendall(b"restart")
            self.assertEqual(self.vexo.process.wait(10), 0)
        self.assertIn('[1st] Otrzymano "restart" → quit()', self.vexo.log_text())
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
        wait_for_log(vexo, "[2nd] Brak nasłuchu IPC – poprzednia instancja prawdopodobnie się wysypała.")

        found = self.xserver.xdotool("search", "--sync", "--onlyvisible", "--name", "^Vexo$")
        self.assertEqual(found.returncode, 0, found.stderr)
        window = found.stdout.split()[0]
        self.assertIsNone(vexo.process.poll())  # waiting for the user
        self.xserver.xdotool("windowfocus", "--sync", window)
        self.xserver.xdotool("key", "Return")
        self.assertEqual(vexo.process.wait(10), 1)
        self.assertNotIn("przejęty", vexo.log_text())
        self.assertNotIn("ServiceHelper", vexo.log_text())
        self.assertTrue(wait_until(lambda: os.path.exists(holder.path), timeout=10.0))


if __name__ == "__main__":
    unittest.main()
