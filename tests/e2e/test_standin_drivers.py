"""The stand-in drivers under Wine, driven by a small client rather than by zynid: ZYNDRV.sys as a
kernel driver service of Wine's service control manager, zyndata.vxd through Wine's 9x mode. Each
serves the shipped Lenovo table at page offset 4000, so it arrives in two pieces."""

import unittest
from pathlib import Path

from harness import E2ETestCase, exe

TABLES = Path(__file__).resolve().parents[1] / "data" / "tables"
DUMP = TABLES / "lenovo-thinkpad-w510.bin"
CONFIG = "# the shipped table across its page's end\ntable = w510.bin\noffset = 4000\nprobe = 0x0100\n"
PAGE_READONLY = 0x02


def dump_table(dump):
    """The structure table of a dump with an _SM_ entry point: length at 0x16, address at 0x18."""
    data = dump.read_bytes()
    length = int.from_bytes(data[0x16:0x18], "little")
    address = int.from_bytes(data[0x18:0x1C], "little")
    return data[address:address + length]


class StandinDrivers(E2ETestCase):
    maxDiff = None
    # Debug output of the drivers (DbgPrint, OutputDebugStringA) lands in the session's logs;
    # services started at the session's start inherit this too.
    session_env = {"WINEDEBUG": "-all,+debugstr"}

    def place(self, folder, image, config_name):
        folder.mkdir(parents=True)
        (folder / image.name).write_bytes(image.read_bytes())
        (folder / "w510.bin").write_bytes(DUMP.read_bytes())
        (folder / config_name).write_text(CONFIG.replace("\n", "\r\n"))
        client = folder / "standin_client.exe"
        client.write_bytes(Path(exe("standin_client")).read_bytes())
        return client

    def run_client(self, client, family):
        s = self.session
        report = s.dir / f"report-{family}.txt"
        app = s.start(client, [family, s.windows_path(report)], cwd=client.parent)
        self.assertEqual(app.wait(30), 0)
        return dict(line.split("=", 1) for line in report.read_text().splitlines())

    def client_of_the_service(self, client, mode):
        """Runs the client against ZYNDRV registered and started from the client's folder."""
        s = self.session
        s.wine("sc", "create", "ZYNDRV", "type=", "kernel", "start=", "demand",
               "binPath=", s.windows_path(client.parent / "ZYNDRV.sys"))
        try:
            s.wine("sc", "start", "ZYNDRV")
            return self.run_client(client, mode)
        finally:
            s.wine("sc", "stop", "ZYNDRV", check=False)
            s.wine("sc", "delete", "ZYNDRV", check=False)

    def logs(self):
        return "".join(p.read_text(errors="replace") for p in self.session.logs.glob("*.log"))

    def check_two_pieces(self, r):
        self.assertEqual(r["open"], "1", r)
        self.assertEqual((r["probe"], r["probe_word"], r["probe_short_buffer"]),
                         ("1", "0x0100", "0"))
        self.assertEqual(r["get"], "1")
        first, second = int(r["first"], 16), int(r["second"], 16)
        self.assertEqual(first % 4096, 4000)
        self.assertNotEqual(second, 0)
        self.assertNotEqual(second, first - 4000 + 4096, "pieces adjacent")
        self.assertEqual(r["after_head_page_readable"], "0")
        self.assertEqual(int(r["first_protect"], 16), PAGE_READONLY)
        self.assertEqual(bytes.fromhex(r["table"]), dump_table(DUMP))
        self.assertEqual((r["release"], r["release_again"]), ("1", "0"))

    def test_kernel_driver_as_a_service(self):
        s = self.session
        folder = s.drive_c / "standin"
        client = self.place(folder, Path(exe("zyndrv")), "zyndrv.cfg")
        self.check_two_pieces(self.client_of_the_service(client, "nt"))
        # How the device was opened. Wine's driver host passes the share mode and the create
        # options but neither the access nor the disposition (the driver logs "unknown" then);
        # where they are given they must be read and write access and FILE_OPEN.
        opens = [line for line in self.logs().splitlines() if "ZYNDRV: open " in line]
        self.assertEqual(len(opens), 1, opens)
        fields = dict(f.split("=", 1) for f in opens[0].split("ZYNDRV: open ", 1)[1].split())
        self.assertEqual(int(fields["share"], 16), 0, fields)
        options = int(fields["options"], 16)
        self.assertTrue(options & 0x20, fields)  # synchronous: no FILE_FLAG_OVERLAPPED
        self.assertFalse(options & 0x1000, fields)  # no FILE_FLAG_DELETE_ON_CLOSE
        if fields["requested"] != "unknown":
            requested = int(fields["requested"], 16)
            self.assertTrue(requested & 0x80000000 or requested & 0x0001, fields)  # read
            self.assertTrue(requested & 0x40000000 or requested & 0x0002, fields)  # write
        if fields["disposition"] != "unknown":
            self.assertEqual(fields["disposition"], "1", fields)

    def test_kernel_driver_holds_against_a_local_user(self):
        # A second process, a duplicated handle, 17 get-tables and VirtualProtect: see the
        # client's nt-hostile mode. (Who may open the device is not checked here: Wine's driver
        # host passes the driver no security context, so the native tests carry that rule.)
        s = self.session
        folder = s.drive_c / "hostile"
        client = self.place(folder, Path(exe("zyndrv")), "zyndrv.cfg")
        r = self.client_of_the_service(client, "nt-hostile")
        # The table's own file (here beside the driver: Wine has no \SystemRoot) went with it.
        self.assertEqual(list(folder.glob("ZYNDRV-*")), [])
        self.assertEqual(r, {
            "open": "1",
            "first_open_tables": "16",  # one open holds at most 16 ...
            "second_open_get": "1",  # ... and another open still gets one
            "raise_to_read_write": "0",
            "next_caller_sees_the_table": "1",
            "release_from_another_process": "0",
            "view_kept": "1",
            "release_by_owner": "1",
        })

    def test_kernel_driver_starts_whatever_names_are_taken(self):
        # Anyone may create files where the table's file goes. Before this start a user has
        # created the name the last start used, the fifteen that follow it in hex, and a thousand
        # more of the same form: the driver still starts, and opens none of them.
        s = self.session
        folder = s.drive_c / "planted"
        client = self.place(folder, Path(exe("zyndrv")), "zyndrv.cfg")
        s.wine("sc", "create", "ZYNDRV", "type=", "kernel", "start=", "demand",
               "binPath=", s.windows_path(folder / "ZYNDRV.sys"))
        try:
            s.wine("sc", "start", "ZYNDRV")
            used = [p.name for p in folder.glob("ZYNDRV-*.tmp")]
        finally:
            s.wine("sc", "stop", "ZYNDRV", check=False)
            s.wine("sc", "delete", "ZYNDRV", check=False)
        self.assertEqual(len(used), 1, used)
        tag = used[0][len("ZYNDRV-"):-len(".tmp")]
        value, width = int(tag, 16), len(tag.removeprefix("0x"))
        planted = {used[0]} | {f"ZYNDRV-0x{value + i:0{width}x}.tmp" for i in range(16)}
        planted |= {f"ZYNDRV-{i:016x}.tmp" for i in range(1000)}
        for name in planted:
            (folder / name).write_bytes(b"planted")
        self.check_two_pieces(self.client_of_the_service(client, "nt"))
        self.assertEqual({p.name for p in folder.glob("ZYNDRV-*.tmp")}, planted)
        self.assertTrue(all((folder / n).read_bytes() == b"planted" for n in planted))

    def test_kernel_driver_serves_the_firmwares_table(self):
        # Without a configuration: the firmware table interface (class 76), which Wine has. The
        # other road, the scan of physical memory for kernels without it, cannot run here: Wine
        # maps no physical memory.
        s = self.session
        folder = s.drive_c / "firmware"
        client = self.place(folder, Path(exe("zyndrv")), "zyndrv.cfg")
        (folder / "zyndrv.cfg").unlink()
        r = self.client_of_the_service(client, "nt")
        self.assertEqual((r["get"], r["release"]), ("1", "1"), r)
        self.assertEqual(len(bytes.fromhex(r["table"])), int(r["length"]))
        self.assertIn("from the firmware at page offset 0", self.logs())
        self.assertNotIn("looking in physical memory", self.logs())

    def test_vxd_in_9x_mode(self):
        s = self.session
        s.set_windows_version("standin_client.exe", "win98")
        client = self.place(s.drive_c / "standin9x", Path(exe("zyndata")), "zyndata.cfg")
        self.check_two_pieces(self.run_client(client, "9x"))
        self.assertIn("ZYNDATA: loaded from", self.logs())

    def test_bad_configurations_stop_the_driver(self):
        # A table outside the driver's own folder is refused even where the file is there.
        s = self.session
        folder = s.drive_c / "badcfg"
        self.place(folder, Path(exe("zyndrv")), "zyndrv.cfg")
        (s.drive_c / "w510.bin").write_bytes(DUMP.read_bytes())
        cases = [
            ("offset = 4000\r\ntabel = w510.bin\r\n", 'zyndrv.cfg line 2: unknown key "tabel"'),
            ("table = C:\\w510.bin\r\n",
             'zyndrv.cfg line 1: table file not in the driver\'s folder "C:\\w510.bin"'),
            ("\r\ntable = ..\\w510.bin\r\n",
             'zyndrv.cfg line 2: table file not in the driver\'s folder "..\\w510.bin"'),
        ]
        s.wine("sc", "create", "ZYNDRV", "type=", "kernel", "start=", "demand",
               "binPath=", s.windows_path(folder / "ZYNDRV.sys"))
        try:
            for config, message in cases:
                with self.subTest(config=config):
                    (folder / "zyndrv.cfg").write_text(config)
                    started = s.wine("sc", "start", "ZYNDRV", check=False) == 0
                    if started:
                        s.wine("sc", "stop", "ZYNDRV", check=False)
                    self.assertFalse(started)
                    self.assertIn(message, self.logs())
        finally:
            s.wine("sc", "delete", "ZYNDRV", check=False)


if __name__ == "__main__":
    unittest.main()
