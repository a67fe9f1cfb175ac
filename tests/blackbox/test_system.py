"""General information, the firmware updater's start and the installed-modules list
through the real server."""
import json
import os
import stat
import time
import unittest
import urllib.parse

import rawhttp
import vexotest
from httpwire import wait_until

GENERAL_INFO = (
    b'{"ver":"0.3.16","canUpdate":1,"canAddNewModules":1,"canUpdateFirmware":1,"canSendMailReport":0,'
    b'"canAutoUpdateModules":0, "copy":"<span>Vexo Modbus gateway \xc2\xa9 the Vexo developers. All rights '
    b'reserved.</span><br /><img src=\\"images/min_logo.gif\\" style=\\"width: 150px; margin-top: 5px;\\">", '
    b'"langList":["EN","PL","ESP","DE","IT","FR"],"osType":"other"}')


def ajax(instance, func):
    reply = rawhttp.get(instance, "/ajax.html?func=" + func)
    assert reply.status == 200, reply.status_line
    return reply


class GeneralInfoTest(unittest.TestCase):
    def test_general_info_byte_for_byte(self):
        with vexotest.VexoInstance() as vexo:
            reply = ajax(vexo, "getGeneralInfo")
            self.assertEqual(reply.header("Content-Type"), "text/html; charset=utf-8")
            self.assertEqual(reply.body, GENERAL_INFO)
            self.assertEqual(json.loads(reply.body)["langList"], ["EN", "PL", "ESP", "DE", "IT", "FR"])
            self.assertEqual(ajax(vexo, "getGeneralInfo").body, GENERAL_INFO)


class FirmwareUpdaterTest(unittest.TestCase):
    def start_with_store(self, store_lines):
        vexo = vexotest.VexoInstance(start=False)
        self.addCleanup(vexo.cleanup)
        if store_lines is not None:
            store = os.path.join(vexo.home, ".config", "Torva")
            os.makedirs(store)
            with open(os.path.join(store, "Vexo.conf"), "w") as f:
                f.write("[General]\n" + "\n".join(store_lines) + "\n")
        # A stand-in updater in the working directory that writes down its arguments.
        self.record = os.path.join(vexo.dir, "updater-args.txt")
        updater = os.path.join(vexo.dir, "Bootloader.exe")
        with open(updater, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$@" > "%s.part" && mv "%s.part" "%s"\n'
                    % (self.record, self.record, self.record))
        os.chmod(updater, os.stat(updater).st_mode | stat.S_IXUSR)
        return vexo.start()

    def recorded_arguments(self):
        deadline = time.monotonic() + 10
        while not os.path.exists(self.record):
            self.assertLess(time.monotonic(), deadline, "the updater was not started")
            time.sleep(0.05)
        with open(self.record) as f:
            return f.read().splitlines()

    def test_arguments_from_stored_settings(self):
        vexo = self.start_with_store(["Selected_Port=3", "baudRate=3", "mode=0", "slaveID=1", "Torva_ID=17"])
        self.assertEqual(ajax(vexo, "runFirmwareUpdater").body, b'{"ok":"1"}')
        self.assertEqual(self.recorded_arguments(), ["2", "2", "3", "1", "17"])
        self.assertIn("runFirmwareUpdater", vexo.log_text())

    def test_arguments_for_an_empty_store(self):
        vexo = self.start_with_store(None)
        self.assertEqual(ajax(vexo, "runFirmwareUpdater").body, b'{"ok":"1"}')
        self.assertEqual(self.recorded_arguments(), ["-1", "2", "3", "0", "0"])

    def test_missing_updater_still_answers_ok(self):
        vexo = self.start_with_store([])
        os.remove(os.path.join(vexo.dir, "Bootloader.exe"))
        self.assertEqual(ajax(vexo, "runFirmwareUpdater").body, b'{"ok":"1"}')
        self.assertEqual(ajax(vexo, "getGeneralInfo").body, GENERAL_INFO)


class FtpExplorerTest(unittest.TestCase):
    def test_only_ftp_addresses_start_the_file_browser(self):
        vexo = vexotest.VexoInstance(start=False)
        self.addCleanup(vexo.cleanup)
        record = os.path.join(vexo.dir, "explorer-args.txt")
        explorer = os.path.join(vexo.dir, "explorer.exe")
        with open(explorer, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$@" >> "%s"\n' % record)
        os.chmod(explorer, 0o755)
        vexo.start()
        # The page encodes the address once more than the request parser decodes.
        for address in ("file:///etc/passwd", "/usr/bin/xterm", "http://evil.example/", "-e", "ftpx://h",
                        " ftp://h", ""):
            reply = ajax(vexo, "openFtpInExplorer&address=" + urllib.parse.quote(urllib.parse.quote(address)))
            self.assertEqual(reply.body, b'{"error":"Parameter error!"}', address)
        for address in ("ftp://device.local/logs", "FTPS://user@10.0.0.7:990/"):
            reply = ajax(vexo, "openFtpInExplorer&address=" + urllib.parse.quote(urllib.parse.quote(address)))
            self.assertEqual(reply.body, b'{"ok":"FTP opened"}', address)

        def started():
            if not os.path.exists(record):
                return []
            with open(record) as f:
                return f.read().splitlines()

        # A browser wrongly started for one of the earlier calls would have written first.
        wait_until(lambda: len(started()) >= 2)
        self.assertEqual(sorted(started()), ["FTPS://user@10.0.0.7:990/", "ftp://device.local/logs"])


class InstalledModulesTest(unittest.TestCase):
    def test_no_modules_folder_and_an_empty_one(self):
        with vexotest.VexoInstance() as vexo:
            self.assertEqual(ajax(vexo, "getListOfInstalledModules").body, b'{"modules":{}}')
            os.mkdir(os.path.join(vexo.docroot, "modules"))
            self.assertEqual(ajax(vexo, "getListOfInstalledModules").body, b"{}")

    def test_modules_with_mixed_files(self):
        files = {
            "modules/meter/index.html": "", "modules/meter/main.js": "",
            "modules/panel/STYLE.CSS": "", "modules/panel/page.htm": "", "modules/panel/app.js": "",
            "modules/panel/sub/deep.js": "", "modules/panel/.hidden.js": "", "modules/readme.html": "",
            "modules/.git/config.js": "",
        }
        with vexotest.VexoInstance(docroot_files=files) as vexo:
            os.mkdir(os.path.join(vexo.docroot, "modules", "empty"))
            body = ajax(vexo, "getListOfInstalledModules").body
            self.assertIn(b'"meter":{"html":["index.html"],"css":[],"js":["main.js"]}', body)
            self.assertIn(b'"panel":{"html":[],"css":["STYLE.CSS"],"js":["app.js"]}', body)
            self.assertIn(b'"empty":{"html":[],"css":[],"js":[]}', body)
            self.assertEqual(sorted(json.loads(body)), ["empty", "meter", "panel"])
            self.assertNotIn(b" ", body)


if __name__ == "__main__":
    unittest.main()
