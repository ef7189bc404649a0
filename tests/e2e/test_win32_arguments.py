"""The arguments of the Win32 calls that decide what the programs may do, checked where the calls
are really made: the real zynid.exe and cdlaunch.exe run under Wine's relay trace, limited to the
calls below, once per road, and the calls made from the program's own image are compared. Calls
bound at run time through GetProcAddress are recorded too (Wine hands out its relay entry), so
the checks do not depend on how a program links."""

import re
import shutil
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent / "zynid"))
from harness import E2ETestCase, exe  # noqa: E402
import zynid_e2e as z  # noqa: E402

HKLM = 0x80000002
KEY_QUERY_VALUE = 0x0001
TOKEN_QUERY = 0x0008
CURRENT_PROCESS, CURRENT_THREAD = 0xFFFFFFFF, 0xFFFFFFFE
FILE_FLAG_DELETE_ON_CLOSE = 0x04000000
CREATE_NEW_CONSOLE = 0x00000010
NULL = 0


class _Any:
    """An argument that is not compared (an output pointer)."""

    def __repr__(self):
        return "ANY"


ANY = _Any()

# What the token check and the driver service use; the 9x road may neither call nor bind any.
ADVAPI32_SECURITY_AND_SERVICES = (
    "OpenThreadToken", "OpenProcessToken", "GetTokenInformation", "AllocateAndInitializeSid",
    "FreeSid", "EqualSid", "OpenSCManagerA", "CreateServiceA", "OpenServiceA", "StartServiceA",
    "ControlService", "DeleteService", "CloseServiceHandle")
# cdlaunch's dialog and its fonts.
LAUNCHER_DIALOG = ("DialogBoxParamA", "CreateFontA", "EndDialog", "DeleteObject")
TRACED = ("RegCreateKeyExA", "CreateFileA", "CreateProcessA", "GetProcAddress",
          *ADVAPI32_SECURITY_AND_SERVICES, *LAUNCHER_DIALOG)

CALL = re.compile(r"^(\w+):Call [\w.]+\.(\w+)\((.*)\) ret=(\w+)$")
RETURN = re.compile(r"^(\w+):Ret  [\w.]+\.(\w+)\(\) retval=(\w+) ret=\w+$")
ARGUMENT = re.compile(r'([0-9a-f]+)(?: (?:L)?"((?:[^"\\]|\\.)*)")?(?:,|$)')


class Call:
    """One recorded call: its name, its arguments (number, or (number, text) for a string that
    the trace shows) and its return value (None when the trace has none)."""

    def __init__(self, name, arguments):
        self.name, self.arguments, self.result = name, arguments, None

    def values(self):
        """The arguments as compared: a string argument by its text, every other by number."""
        return tuple(a[1] if isinstance(a, tuple) else a for a in self.arguments)

    def __repr__(self):
        return f"{self.name}{self.values()} -> {self.result}"


def unescape(text):
    """A string as Wine's trace writes it (C escapes) back to its characters."""
    return re.sub(r"\\(x[0-9a-fA-F]{2}|.)",
                  lambda m: chr(int(m.group(1)[1:], 16)) if m.group(1)[0] == "x"
                  else {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)), text)


def image_size(path):
    """SizeOfImage of a 32-bit PE file: how far its image reaches from where it is loaded."""
    data = Path(path).read_bytes()
    optional_header = int.from_bytes(data[0x3C:0x40], "little") + 24
    return int.from_bytes(data[optional_header + 56:optional_header + 60], "little")


def parse_trace(text, image):
    """The calls made from the code of ``image`` (the program's file; where Wine loaded it comes
    from the loaddll trace), in order, each with the return value of its "Ret" line. Calls made
    by Wine's own libraries, or by a driver library loaded into the process, are left out."""
    loaded = re.search(r'Loaded L"[^"]*\\' + re.escape(Path(image).name) + r'" at ([0-9A-Fa-f]+)',
                       text, re.IGNORECASE)
    if not loaded:
        raise AssertionError(f"the trace does not say where {Path(image).name} was loaded")
    start = int(loaded.group(1), 16)
    end = start + image_size(image)
    calls, open_calls = [], {}
    for line in text.splitlines():
        m = CALL.match(line)
        if m:
            thread, name, arguments, caller = m.groups()
            if not start <= int(caller, 16) < end:
                continue
            parsed = [(int(a[1], 16), unescape(a[2])) if a[2] is not None else int(a[1], 16)
                      for a in ARGUMENT.finditer(arguments)]
            call = Call(name, parsed)
            calls.append(call)
            open_calls.setdefault((thread, name), []).append(call)
            continue
        m = RETURN.match(line)
        if m and open_calls.get(m.group(1, 2)):
            open_calls[m.group(1, 2)].pop().result = int(m.group(3), 16)
    return calls


def matches(call, expected):
    values = call.values()
    return len(values) == len(expected) and all(
        e is ANY or v == e for v, e in zip(values, expected))


def bound_names(calls):
    """The names asked of GetProcAddress (by name, not by ordinal)."""
    return {c.values()[1] for c in calls if c.name == "GetProcAddress"
            and isinstance(c.arguments[1], tuple)}


class TracedCalls(E2ETestCase):
    session_scope = "class"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.session.reg_add(r"HKCU\Software\Wine\Debug", "RelayInclude", ";".join(TRACED))

    def traced(self, program, **start):
        """Starts ``program`` with the relay trace and the trace of where each image is loaded."""
        self.image = program
        return self.session.start(program, env={"WINEDEBUG": "-all,+relay,+loaddll"}, **start)

    def calls_of(self, app):
        return parse_trace(app.log.read_bytes().decode("latin-1"), self.image)

    def assert_called(self, calls, name, expected):
        """Every call of ``name`` has the expected arguments, and there is at least one."""
        made = [c for c in calls if c.name == name]
        self.assertTrue(made, f"{name} was not called")
        for call in made:
            self.assertTrue(matches(call, expected), f"{call}, expected {expected}")

    def zynid_road(self, family):
        """zynid with the stand-in driver of ``family`` from start to the result dialog's end."""
        s = self.session
        root = z.install(s)
        z.add_driver(root, family=family)
        app = self.traced(root / "zynid.exe", cwd=root)
        z.agreement(s).click(1)
        result = z.result(s, timeout=30)
        self.assertEqual(result.text(1002), "LENOVO", "the road reached the board")
        result.click(1)
        self.assertEqual(app.wait(30), 0)
        return self.calls_of(app)

    def test_zynid_calls_on_each_road(self):
        s = self.session
        self.addCleanup(z.remove_service, s)
        product_key = (HKLM, r"Software\Orvex\ZYN ID Utility", 0, NULL, 0, KEY_QUERY_VALUE, NULL,
                       ANY, NULL)

        nt = self.zynid_road("nt")
        with self.subTest("NT road: product key"):
            self.assert_called(nt, "RegCreateKeyExA", product_key)
        with self.subTest("NT road: tokens"):
            # Wine's threads impersonate nobody: the thread token is missing and the process
            # token follows.
            self.assert_called(nt, "OpenThreadToken", (CURRENT_THREAD, TOKEN_QUERY, False, ANY))
            self.assert_called(nt, "OpenProcessToken", (CURRENT_PROCESS, TOKEN_QUERY, ANY))
        with self.subTest("NT road: the administrator check follows EqualSid"):
            # The road went on to the driver, so the user is an administrator: the check must
            # have stopped at the first group that EqualSid found equal, and only there.
            answers = [c.result for c in nt if c.name == "EqualSid"]
            self.assertTrue(answers, "EqualSid was not called")
            self.assertEqual([bool(a) for a in answers], [False] * (len(answers) - 1) + [True],
                             f"EqualSid answered {answers}")
        with self.subTest("NT road: the service's optional arguments"):
            self.assert_called(nt, "CreateServiceA", (ANY,) * 8 + (NULL,) * 5)
        with self.subTest("NT road: no 9x device"):
            self.assertFalse([c for c in nt if c.name == "CreateFileA"
                              and "ZYNDATA" in str(c.values()[0]).upper()])

        s.set_windows_version("zynid.exe", "win98")
        self.addCleanup(s.wine, "reg", "delete", r"HKCU\Software\Wine\AppDefaults\zynid.exe",
                        "/f", check=False)
        nine = self.zynid_road("9x")
        with self.subTest("9x road: product key"):
            self.assert_called(nine, "RegCreateKeyExA", product_key)
        with self.subTest("9x road: the device open"):
            opens = [c for c in nine if c.name == "CreateFileA"
                     and str(c.values()[0]).upper() == r"\\.\ZYNDATA.VXD"]
            self.assertEqual(len(opens), 1, f"opens of the 9x device: {opens}")
            self.assertTrue(matches(opens[0], (ANY, 0, 0, NULL, 0, FILE_FLAG_DELETE_ON_CLOSE,
                                               NULL)), opens[0])
        with self.subTest("9x road: nothing of ADVAPI32's security and service calls"):
            self.assertEqual([c for c in nine if c.name in ADVAPI32_SECURITY_AND_SERVICES], [])
            self.assertEqual(bound_names(nine) & set(ADVAPI32_SECURITY_AND_SERVICES), set())

    def test_cdlaunch_install_starts_setup(self):
        s = self.session
        folder = s.drive_c / "prod"
        folder.mkdir(exist_ok=True)
        shutil.copyfile(exe("setup_standin"), folder / "setup.exe")
        app = self.traced(exe("cdlaunch"), cwd=folder)
        dialog = s.wait_window(title="Setup Tessarine", cls="#32770")
        dialog.click(1)
        self.assertEqual(app.wait(10), 1)
        calls = self.calls_of(app)
        # The program by its path, no command line, no handles inherited, a console of its own.
        self.assert_called(calls, "CreateProcessA",
                           (r"C:\prod\setup.exe", NULL, NULL, NULL, False, CREATE_NEW_CONSOLE,
                            NULL, NULL, ANY, ANY))
        with self.subTest("the dialog gets no initial parameter"):
            self.assert_called(calls, "DialogBoxParamA", (ANY, "Setup", NULL, ANY, 0))
        with self.subTest("ending deletes both fonts it made, after EndDialog"):
            dialog_calls = [c for c in calls if c.name in LAUNCHER_DIALOG[1:]]
            fonts = [c.result for c in dialog_calls if c.name == "CreateFontA"]
            self.assertEqual([c.name for c in dialog_calls],
                             ["CreateFontA"] * 2 + ["EndDialog"] + ["DeleteObject"] * 2)
            end, *deleted = dialog_calls[2:]
            self.assertTrue(matches(end, (ANY, 1)), end)
            self.assertEqual([c.values() for c in deleted], [(fonts[0],), (fonts[1],)])


if __name__ == "__main__":
    unittest.main()
