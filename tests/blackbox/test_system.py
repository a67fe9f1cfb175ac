"""General information, and the outside programs the AJAX API starts: the firmware updater
(its arguments from the stored settings are tst_systemfun's) and the FTP file browser."""
import os
import unittest
import urllib.parse

from desktopsupport import StandIns
from vexotest import VexoInstance, wait_until

GENERAL_INFO = (
    b'{"ver":"0.3.16","canUpdate":1,"canAddNewModules":1,"canUpdateFirmware":1,"canSendMailReport":0,'
    b'"canAutoUpdateModules":0, "copy":"<span>Vexo Modbus gateway \xc2\xa9 the Vexo developers. All rights '
    b'reserved.</span><br /><img src=\\"images/min_logo.gif\\" style=\\"width: 150px; margin-top: 5px;\\">", '
    b'"langList":["EN","PL","ESP","DE","IT","FR"],"osType":"other"}')


class SystemTest(unittest.TestCase):
    def start_with_recorder(self, name):
        """A vexo with a stand-in program `name` in its folder that writes down its arguments."""
        vexo = VexoInstance(start=False)
        self.addCleanup(vexo.cleanup)
        standins = StandIns(vexo.dir)
        standins.add(name)
        return vexo.start(), lambda: [arg for record in standins.read() for arg in record["args"]]

    def ajax(self, vexo, query):
        reply = vexo.get("/ajax.html?func=" + query)
        self.assertEqual((reply.status, reply.header("Content-Type")), (200, "text/html; charset=utf-8"))
        return reply.body

    def test_general_info_and_the_firmware_updater(self):
        vexo, recorded = self.start_with_recorder("Bootloader.exe")
        self.assertEqual(self.ajax(vexo, "getGeneralInfo"), GENERAL_INFO)
        self.assertEqual(self.ajax(vexo, "runFirmwareUpdater"), b'{"ok":"1"}')
        self.assertTrue(wait_until(lambda: len(recorded()) == 5, 10), recorded())
        # A missing updater still answers, and the program goes on.
        os.remove(os.path.join(vexo.dir, "Bootloader.exe"))
        self.assertEqual(self.ajax(vexo, "runFirmwareUpdater"), b'{"ok":"1"}')
        self.assertEqual(vexo.get("/ajax.html").status, 200)

    def test_only_ftp_addresses_start_the_file_browser(self):
        vexo, recorded = self.start_with_recorder("explorer.exe")
        # The page encodes the address once more than the request parser decodes.
        for address, reply in [(a, b'{"error":"Parameter error!"}') for a in (
                "file:///etc/passwd", "/usr/bin/xterm", "http://evil.example/", "-e", "ftpx://h", " ftp://h", "")] + \
                [(a, b'{"ok":"FTP opened"}') for a in ("ftp://device.local/logs", "FTPS://user@10.0.0.7:990/")]:
            quoted = urllib.parse.quote(urllib.parse.quote(address))
            self.assertEqual(self.ajax(vexo, "openFtpInExplorer&address=" + quoted), reply, address)
        # A browser wrongly started for one of the earlier calls would have written first.
        wait_until(lambda: len(recorded()) >= 2)
        self.assertEqual(sorted(recorded()), ["FTPS://user@10.0.0.7:990/", "ftp://device.local/logs"])


if __name__ == "__main__":
    unittest.main()
