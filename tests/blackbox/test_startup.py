"""Start-up of the real executable: the missing config.ini, and binding the listener."""
import os
import socket
import subprocess
import unittest

from httpwire import AJAX_EMPTY, get, receive_exactly, wait_until
from vexotest import VexoInstance, wait_for_port


class StartupTest(unittest.TestCase):
    def test_fatal_start_without_config(self):
        with VexoInstance(start=False) as vexo:
            os.remove(os.path.join(vexo.dir, "config.ini"))
            result = subprocess.run([vexo.exe, "-r"], cwd=vexo.dir, env=vexo.env, capture_output=True,
                                    timeout=30)
            self.assertNotEqual(result.returncode, 0)
            self.assertIn(b"Cannot find config file " + os.path.join(vexo.dir, "config.ini").encode(),
                          result.stdout + result.stderr)
            self.assertNotIn(b"Using config file", result.stdout + result.stderr)
            self.assertEqual([n for n in os.listdir(vexo.tmp) if n.endswith(".lock")], [])

    def test_logs_the_config_file_and_the_port_and_quits_on_sigterm(self):
        with VexoInstance() as vexo:
            log = vexo.log_text()
            self.assertIn("Using config file " + os.path.join(vexo.dir, "config.ini"), log)
            self.assertIn("HttpListener: Listening on port %d\n" % vexo.port, log)
            # SIGTERM (a service manager, a terminal) leaves like a quit: status 0, port closed.
            vexo.process.terminate()
            self.assertEqual(vexo.process.wait(10), 0)
            with self.assertRaises(ConnectionRefusedError):
                socket.create_connection(("127.0.0.1", vexo.port), timeout=5).close()

    def test_keeps_running_when_the_port_is_taken(self):
        with socket.socket() as squatter:
            squatter.bind(("127.0.0.1", 0))
            squatter.listen()
            with VexoInstance(start=False) as vexo:
                port = squatter.getsockname()[1]
                vexo.port = port
                vexo.config["listener"]["port"] = port
                with open(os.path.join(vexo.dir, "config.ini"), "a") as f:
                    f.write("[listener]\nport=%d\n" % port)
                vexo.start(wait=False)
                message = "HttpListener: Cannot bind on port %d: " % port
                self.assertTrue(wait_until(lambda: message in vexo.log_text(), timeout=10))
                self.assertIsNone(vexo.process.poll())

    def test_binds_only_the_configured_address(self):
        with VexoInstance(config={"listener": {"host": "::1"}}, start=False) as vexo:
            vexo.start(wait=False)
            wait_for_port(vexo.port, host="::1", process=vexo.process)
            with socket.create_connection(("::1", vexo.port), timeout=5) as sock:
                sock.sendall(get(b"/ajax.html"))
                self.assertEqual(receive_exactly(sock, len(AJAX_EMPTY)), AJAX_EMPTY)
            with self.assertRaises(ConnectionRefusedError):
                socket.create_connection(("127.0.0.1", vexo.port), timeout=5).close()

    def test_a_host_name_binds_its_address_not_every_interface(self):
        with VexoInstance(config={"listener": {"host": "localhost"}}) as vexo:
            sockets = subprocess.run(["ss", "-ltnH", "sport = :%d" % vexo.port], capture_output=True,
                                     text=True, check=True).stdout.split()
            self.assertIn("127.0.0.1:%d" % vexo.port, sockets)
            self.assertNotIn("0.0.0.0:%d" % vexo.port, sockets)


if __name__ == "__main__":
    unittest.main()
