"""Start-up and the privileged launches from the AJAX API: a missing config.ini, the address
bound; the listener is gone before the stand-in launcher runs, the process ends with 12 and
leaves its lock for the next start; the browser opens at start-up only without "-r"; the
tray's language is taken from the system locale when none is stored."""
import configparser
import os
import socket
import subprocess
import unittest

from desktopsupport import StandIns, DesktopTestCase, successor, wait_for_log, LOCK_NAME
from httpwire import AJAX_EMPTY, receive_exactly, receive_until_close, request
from vexotest import VexoInstance, listens, wait_for_port, wait_until, write_ini


class StartupTest(unittest.TestCase):
    def test_fatal_start_without_config(self):
        with VexoInstance(start=False) as vexo:
            os.remove(os.path.join(vexo.dir, "config.ini"))
            result = subprocess.run([vexo.exe, "-r"], cwd=vexo.dir, env=vexo.env, capture_output=True, timeout=30)
            self.assertNotEqual(result.returncode, 0)
            self.assertIn(b"Cannot find config file " + os.path.join(vexo.dir, "config.ini").encode(),
                          result.stdout + result.stderr)
            self.assertEqual([n for n in os.listdir(vexo.tmp) if n.endswith(".lock")], [])

    def test_binds_only_the_configured_address(self):
        with VexoInstance(config={"listener": {"host": "::1"}}, start=False) as vexo:
            vexo.start(wait=False)
            wait_for_port(vexo.port, host="::1", process=vexo.process)
            with socket.create_connection(("::1", vexo.port), timeout=5) as sock:
                sock.sendall(request("GET", "/ajax.html"))
                self.assertEqual(receive_exactly(sock, len(AJAX_EMPTY)), AJAX_EMPTY)
            with self.assertRaises(ConnectionRefusedError):
                socket.create_connection(("127.0.0.1", vexo.port), timeout=5).close()
            # SIGTERM (a service manager, a terminal) leaves like a quit: status 0, port closed.
            vexo.process.terminate()
            self.assertEqual(vexo.process.wait(10), 0)
            self.assertFalse(listens(vexo.port, host="::1"))
        # A host name binds its address, not every interface.
        with VexoInstance(config={"listener": {"host": "localhost"}}) as vexo:
            sockets = subprocess.run(["ss", "-ltnH", "sport = :%d" % vexo.port], capture_output=True,
                                     text=True, check=True).stdout.split()
            self.assertIn("127.0.0.1:%d" % vexo.port, sockets)
            self.assertNotIn("0.0.0.0:%d" % vexo.port, sockets)


class PrivilegedLaunchTest(unittest.TestCase):
    def setUp(self):
        self.standins = StandIns()
        self.addCleanup(self.standins.cleanup)

    def launch(self, func, sibling):
        vexo = VexoInstance(start=False)
        self.addCleanup(vexo.cleanup)
        self.standins.add("pkexec", probe_port=vexo.port)
        vexo.env["PATH"] = self.standins.path_env()
        vexo.start()

        # The process may end before it answers.
        with vexo.connect() as sock:
            sock.sendall(request("GET", "/ajax.html?func=" + func))
            receive_until_close(sock, timeout=10)
        self.assertEqual(vexo.process.wait(15), 12)
        records = self.standins.wait(1)
        self.assertEqual(len(records), 1)
        self.assertEqual(records[0]["args"], [os.path.join(vexo.dir, sibling), "-r"])
        self.assertTrue(records[0]["port_closed"], "the launcher ran while the port was still open")
        self.assertFalse(listens(vexo.port))
        # The immediate exit skips the tear-down: the lock stays and the next start takes it.
        self.assertTrue(os.path.exists(os.path.join(vexo.tmp, LOCK_NAME)))
        after = successor(vexo)
        self.addCleanup(after.cleanup)
        after.start()

    def test_run_as_administrator(self):
        self.launch("runAsAdministrator", "Vexo_admin.exe")

    def test_run_auto_update(self):
        self.launch("runAutoUpdate", os.path.join("www", "root", "Vexo_setup.exe"))


class StartupBrowserTest(DesktopTestCase):
    """The start-up browser needs a desktop whose services start one: a private X display
    with a stand-in xdg-open."""

    def start(self, args, port=None):
        browser, env = self.stand_in_browser()
        vexo = VexoInstance(args=args, env=env, start=False)
        self.addCleanup(vexo.cleanup)
        if port is not None:
            vexo.port = port
            vexo.config["listener"]["port"] = port
            write_ini(os.path.join(vexo.dir, "config.ini"), vexo.config)
        return vexo, browser

    def test_browser_opens_only_without_restart_switch_and_when_listening(self):
        vexo, browser = self.start(args=())
        vexo.start()
        records = browser.wait(1)
        self.assertEqual([r["args"] for r in records], [["http://127.0.0.1:%d" % vexo.port]])

        # Only an exact "-r" as the first argument is the restart switch.
        for args in (("-R",), ("-rx",), ("r",), ("x", "-r")):
            other, browser = self.start(args=args)
            other.start()
            self.assertEqual(len(browser.wait(1)), 1, args)
            other.cleanup()

        restarted, browser = self.start(args=("-r",))
        restarted.start()
        wait_for_log(restarted, "!!!!loadLanguage:")
        self.assertFalse(wait_until(lambda: browser.read(), timeout=1.0))

        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen(1)
            busy, browser = self.start(args=(), port=taken.getsockname()[1])
            busy.start(wait=False)
            wait_for_log(busy, "!!!!loadLanguage:")
            self.assertFalse(wait_until(lambda: browser.read(), timeout=1.0))
            self.assertIsNone(busy.process.poll())  # keeps running so the port can be changed


class StartupLanguageTest(unittest.TestCase):
    def stored_language(self, locale, stored=None):
        config = {"other": {"prefLang": stored}} if stored is not None else {}
        env = {"LC_ALL": locale, "LANG": locale}
        vexo = VexoInstance(config=config, env=env)
        self.addCleanup(vexo.cleanup)
        # The listener opens before the tray menu stores the language.
        wait_for_log(vexo, "!!!!loadLanguage:")
        parser = configparser.ConfigParser()
        parser.read(os.path.join(vexo.dir, "config.ini"), encoding="utf-8")
        return parser.get("other", "prefLang", fallback=None)

    def test_language_from_locale_when_none_stored(self):
        self.assertEqual([self.stored_language("de_DE.UTF-8"), self.stored_language("pt_BR.UTF-8"),
                          self.stored_language("de_DE.UTF-8", stored="pl")], ["de", "en", "pl"])


if __name__ == "__main__":
    unittest.main()
