"""What the zynid end-to-end tests share: an installation in a session's prefix, the English
texts read back from the built resource library, SMBIOS tables and the test channel's side file,
and the hook that looks inside the running program."""

import shutil
import struct
import sys
from pathlib import Path

from harness import HarnessError, exe

SOURCE = Path(__file__).resolve().parents[3]
sys.path.insert(0, str(SOURCE / "tests" / "resources"))
import check_library  # noqa: E402  (reads a resource library back)

INSTALL_KEY = r"HKLM\Software\Orvex\ZYN ID Utility"
MB_CLASS, MB_TEXT = "#32770", 0xFFFF
SS_ICON = 0x03
IDOK = 1
ABOUT_ITEM = 16
SC_CLOSE = 0xF060
HELP_COMMAND = 57670

# The inside hook's commands (inside_hook.cpp has them as kListMenu and so on); any other value
# is a system command for the hook to invoke.
HOOK_LIST_MENU = 0
HOOK_DESCRIBE_ICONS = 0xFFFFFFFF
HOOK_DESCRIBE_FOCUS = 0xFFFFFFFE
HOOK_REFOCUS = 0xFFFFFFFD
HOOK_COUNT_BEEPS = 0xFFFFFFFC
HOOK_REPORT_BEEPS = 0xFFFFFFFB


def build_dir():
    return exe("zynid").resolve().parents[2]


def english_library():
    return language_library("Eng")


def language_library(language):
    return build_dir() / "resources" / language / "ZYNRes.lrc"


def built_license(language):
    """A language's license text as installed: in its code page, CR LF."""
    return build_dir() / "resources" / language / "license.txt"


def bare_library():
    """A library without string 1 and icon 107 (tests/e2e/zynid/bare_library.rc)."""
    return exe("zynid_inside_hook").resolve().parent / "bare" / "ZYNRes.lrc"


def shipped_license():
    """The English license text as installed."""
    return built_license("Eng")


class Texts:
    """Strings and dialog captions of a resource library, as the program will show them."""

    def __init__(self, library):
        resources = check_library.PeImage(Path(library).read_bytes()).resources()
        self.strings = check_library.parse_strings(resources)
        self.captions = {ident: check_library.parse_dialog(data)["caption"]
                         for (kind, ident), (_, data) in resources.items()
                         if kind == check_library.RT_DIALOG}

    def string(self, number):
        return self.strings.get(number, "")


ENGLISH = None


def english():
    global ENGLISH
    if ENGLISH is None:
        ENGLISH = Texts(english_library())
    return ENGLISH


def install(session, program="zynid", folder="ZYN", license=b"License text\r\n",
            library=None, target_dir=None, side_file=None, language="Eng"):
    """Lays out an installation in drive_c/<folder>: <program> as zynid.exe,
    <language>/ZYNRes.lrc (``library``: a path, bytes for a broken one, False for none; by
    default the built library of ``language``), <language>/license.txt (None: none) and TargetDir
    (``target_dir`` overrides the value, False removes it). Returns the folder."""
    root = session.drive_c / folder
    eng = root / language
    shutil.rmtree(root, ignore_errors=True)
    eng.mkdir(parents=True)
    shutil.copy(exe(program), root / "zynid.exe")
    if library is None:
        library = language_library(language)
    if isinstance(library, bytes):
        (eng / "ZYNRes.lrc").write_bytes(library)
    elif library:
        shutil.copy(library, eng / "ZYNRes.lrc")
    if license is not None:
        (eng / "license.txt").write_bytes(license)
    if side_file is not None:
        (root / "zynid_testchannel.bin").write_bytes(side_file)
    # TargetDir is the key's only value, so overwriting it leaves what deleting the key first
    # would, at one Wine start (seconds under emulation) instead of two.
    if target_dir is False:
        session.wine("reg", "delete", INSTALL_KEY, "/f", check=False)
    else:
        session.reg_add(INSTALL_KEY, "TargetDir", target_dir or session.windows_path(root))
    return root


def start(session, root):
    """Starts the installed program from its folder."""
    return session.start(root / "zynid.exe", cwd=root)


def agreement(session, texts=None, timeout=10):
    return session.wait_window(title=(texts or english()).captions[108], timeout=timeout)


def result(session, texts=None, timeout=10):
    return session.wait_window(title=(texts or english()).string(8), timeout=timeout)


def message_box(session, timeout=10):
    """The message box on screen: (the window for clicking, its text) once it is found, after
    checking what every zynid message box is: no owner, OK as its only button, the exclamation
    icon."""
    box = session.wait_window(cls=MB_CLASS, title="zynid", timeout=timeout)
    controls = box.children()
    # By id: the system writes the button's text in its own language ("Aceptar", "확인", ...).
    buttons = [c["id"] for c in controls if c["class"].lower() == "button" and c["visible"]]
    icons = [c["id"] for c in controls
             if c["class"].lower() == "static" and c["style"] & 0x1F == SS_ICON and c["visible"]]
    problems = []
    if int(box.info()["owner"], 16) != 0:
        problems.append("it has an owner")
    if buttons != [IDOK]:
        problems.append(f"buttons {buttons} (IDOK alone expected)")
    if len(icons) != 1 or not box.look(icons[0])["exclamation"]:
        problems.append("no exclamation icon")
    if problems:
        raise AssertionError("zynid's message box: " + ", ".join(problems))
    return box, box.text(MB_TEXT)


def message_after_accept(test, session, root):
    """Starts the installed program, accepts the agreement and answers the text of the one
    message box that follows, once the program has ended after it."""
    app = start(session, root)
    agreement(session).click(1)
    box, text = message_box(session)
    box.click(1)
    test.assertEqual(app.wait(10), 0)
    return text


def inside(session, window, arg=HOOK_LIST_MENU):
    """Runs the hook inside the program that owns ``window``; returns its reply text."""
    return session.probe("hook", exe("zynid_inside_hook"), "ZynidHookProc", window.hwnd,
                         "zynid.inside", "--arg", str(arg))[-1]["reply"]


def system_menu(session, window):
    """[(id, text)] of the window's system menu; separators as (0, "-")."""
    items = []
    for line in inside(session, window).split("\n"):
        ident, text = line.split("\t", 1)
        items.append((int(ident), text))
    return items


def icons(session, window):
    reply = inside(session, window, HOOK_DESCRIBE_ICONS)
    return {k: int(v, 16) for k, v in (part.split("=") for part in reply.split())}


def focus_and_selection(session, window, refocus=False):
    """(control id with the focus, (selection start, end)), optionally after tabbing away from
    the license text and back."""
    reply = inside(session, window, HOOK_REFOCUS if refocus else HOOK_DESCRIBE_FOCUS)
    focus, sel = (part.split("=")[1] for part in reply.split())
    start, end = sel.split(",")
    return int(focus), (int(start), int(end))


def ends_silently(test, program, timeout=10):
    """Everything zynid shows is modal and waits for the user: a program that ends on its own
    showed nothing."""
    try:
        code = program.wait(timeout)
    except HarnessError:
        test.fail("the program is still running: it shows something")
    test.assertEqual(code, 0)


# ---- SMBIOS tables and the test channel ------------------------------------------------------

def board_structure(manufacturer, product, handle=1):
    """A base board structure (type 2) with its string set."""
    formatted = struct.pack("<BBHBBBB", 2, 8, handle, 1, 2, 0, 0)
    return formatted + manufacturer + b"\0" + product + b"\0\0"


def end_structure(handle):
    return struct.pack("<BBH", 127, 4, handle) + b"\0\0"


def board_table(manufacturer, product):
    """A table of a base board structure and the end structure: (bytes, structure count)."""
    return board_structure(manufacturer, product) + end_structure(2), 2


PROBE_FAILS, GET_TABLE_FAILS, RELEASE_FAILS = 1, 2, 4


def side_file(probe=0x0101, table=(b"", 0), failures=0, head=0):
    """The test channel's answers (tests/e2e/zynid/fake_device_io.cpp): the probe answer, the
    table and its structure count, failing requests, and a split after ``head`` bytes."""
    data, count = table
    return struct.pack("<HBBHH", probe, failures, 0, count, head) + data


# ---- the stand-in drivers --------------------------------------------------------------------

LENOVO_DUMP = SOURCE / "tests" / "data" / "tables" / "lenovo-thinkpad-w510.bin"


def add_driver(root, family="nt", table=LENOVO_DUMP, **settings):
    """Puts a stand-in driver beside zynid.exe with its configuration: ``family`` "nt" for
    ZYNDRV.sys and zyndrv.cfg, "9x" for zyndata.vxd and zyndata.cfg. ``settings`` are further
    keys (offset, probe, fail)."""
    image, config = (("zyndrv", "ZYNDRV.sys"), "zyndrv.cfg") if family == "nt" else \
        (("zyndata", "zyndata.vxd"), "zyndata.cfg")
    shutil.copy(exe(image[0]), root / image[1])
    shutil.copy(table, root / "table.bin")
    lines = ["table = table.bin", *(f"{k} = {v}" for k, v in settings.items())]
    (root / config).write_text("\r\n".join(lines) + "\r\n")


def service_registered(session):
    """True when the service ZYNDRV is registered (sc query answers 1060 when it is not)."""
    return session.wine("sc", "query", "ZYNDRV", check=False) == 0


def remove_service(session):
    session.wine("sc", "stop", "ZYNDRV", check=False)
    session.wine("sc", "delete", "ZYNDRV", check=False)
