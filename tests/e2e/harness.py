"""End-to-end harness: real Windows programs under Wine, on a private X server each.

Adding a test file for another program
--------------------------------------
1. Put ``tests/e2e/test_<program><anything>.py`` beside this file. Every ``test_*.py`` here is
   registered with ctest by ``tests/e2e/CMakeLists.txt`` (the win32 preset) and run as
   ``python3 harness.py --run <file>`` (unittest discovery of that one file); re-run cmake after
   adding one. A long file can run as N ctest tests side by side (``--shard I/N``): set
   ``ZYN_E2E_SHARDS_<file name>`` to N in that CMakeLists.
2. Make the built programs reachable: add their target names to ``e2e_targets`` in
   tests/e2e/CMakeLists.txt (a helper of a test can live in a folder ``tests/e2e/<name>/`` with a
   CMakeLists.txt, which is added automatically). Each one arrives as ``exe("zynid")`` (a path).
3. Write tests as ``E2ETestCase`` subclasses::

       from harness import E2ETestCase, exe, VK

       class ResultDialog(E2ETestCase):
           def test_title(self):
               s = self.session                     # a fresh prefix and X server per test
               s.reg_add(r"HKLM\\Software\\Orvex\\ZYN ID Utility", "TargetDir", r"C:\\ZYN")
               app = s.start(exe("zynid"), cwd=s.drive_c / "ZYN")
               dlg = s.wait_window(title="...", timeout=10)
               self.assertEqual(dlg.text(1000), "...")
               dlg.click(1)                          # posted BM_CLICK
               self.assertEqual(app.wait(10), 0)     # exit code

   ``session_scope = "class"`` shares one session among a class's tests (faster; each test then
   must leave no program running: ``tearDown`` kills what ``start`` started). Wine's 9x mode for
   one program: ``s.set_windows_version("zynid.exe", "win98")``. A locale: pass
   ``env=locale_env("de_DE")`` to ``start`` (or set ``session_env`` on the class). Something
   winprobe does not offer, such as another process's system menu: ``s.probe("hook", dll, proc,
   hwnd, msgname)`` runs a WH_GETMESSAGE hook of your own inside the target (see winprobe.cpp;
   ``hooktest/`` is a working example, linked with ``-Wl,--kill-at`` for an undecorated name).
4. On failure the test's screenshot and Wine logs land in ``<build>/tests/e2e/wine/artifacts/``.

The pieces
----------
``Session``: ``start`` (a program, its working directory and environment -> ``Program``),
``wine`` (a Wine tool such as ``reg`` or ``sc``), ``reg_add``, ``set_windows_version``,
``map_drive`` (a drive letter for a Unix folder), ``windows_path``, ``drive_c``, ``dir`` (the
session's own scratch folder), ``wait_window`` (-> ``Window``), ``windows``, ``probe`` (winprobe
directly), ``screenshot``, ``close``.
``Window``: ``info``, ``title``, ``enabled``, ``text``, ``children``, ``focus``, ``click``,
``command``, ``syscommand``, ``close``, ``key``, ``mouse``, ``sync`` (every message posted
before has been handled), ``look`` (a control's icon and font, read inside its process),
``wait_gone``, ``is_gone``.
``Program``: ``wait`` (-> exit code), ``running``, ``kill``.
Module level: ``exe``, ``locale_env``, ``template_prefix``, ``VK``, ``SC_CLOSE``, ``HarnessError``
(raised, as an AssertionError, when a wait times out).

Rules that keep the suite reliable: every wait has a timeout; clicks and keys are posted, never
sent; Wine's output goes to log files, never to pipes (but for the session's winprobe server,
started after the services that would inherit a pipe); a session's prefix is an overlay on the
read-only template prefix (a copy where mounting is not allowed), so a test may write anything in
it; a negative check ("still open", "nothing shown") is proven by an event that must come after
what it checks (``Window.sync``), never by a short timeout.

A machine whose kernel runs no 32-bit programs cannot start 32-bit Wine at all: there every test
file exits with status 77 (ctest reports it as skipped, with the reason) instead of failing.

Environment read: ``ZYN_E2E_WORK`` (folder for the template prefix, locales, runs, artefacts),
``ZYN_E2E_READY`` (a folder with a ready ``template`` and its ``template.stamp``, used instead of
making one when the stamp matches),
``ZYN_E2E_EXE_<target>`` (built programs). Run ``python3 harness.py --prepare`` to build the
template prefix ahead of the tests (the ctest fixture does); ``--road`` says where the scripts
run their Wine parts ("here", or "test machine: " and why); ``--check`` exits 77 on a machine
that cannot start 32-bit Wine (``scripts/test.sh`` then runs these tests in the test machine of
``scripts/winevm``).
"""

import contextlib
import ctypes
import errno
import fcntl
import functools
import hashlib
import inspect
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

WORK = Path(os.environ.get("ZYN_E2E_WORK") or Path(__file__).resolve().parents[2] / "build" / "e2e")
DLL_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
DESKTOP_SIZE = "800x600"
# Every bound below is stretched by this factor on a slow machine (the emulated test machine of
# scripts/winevm sets it). Waits end on their event, so a larger bound costs a passing run nothing.
TIME_SCALE = max(1.0, float(os.environ.get("ZYN_E2E_TIME_SCALE") or 1))


def bound(seconds):
    """A wait's bound in seconds on this machine."""
    return seconds * TIME_SCALE


def _ms(seconds):
    """A wait's bound as winprobe takes it: milliseconds, stretched like every bound."""
    return str(int(bound(seconds) * 1000))


class VK:
    """Virtual-key codes used with ``Window.key``."""

    RETURN, ESCAPE, TAB, SPACE, F4 = 0x0D, 0x1B, 0x09, 0x20, 0x73


SC_CLOSE = 0xF060


class HarnessError(AssertionError):
    """A wait timed out or the harness could not do what a test asked."""


# Exit status of a test file that could not run at all on this machine (ctest SKIP_RETURN_CODE).
SKIPPED = 77
WINE_LOADER = Path("/usr/lib/wine/wine")


@functools.lru_cache(maxsize=None)
def _cannot_run_wine():
    return machine_cannot_run_wine()


def machine_cannot_run_wine():
    """Why 32-bit Wine cannot start on this machine, or None when it can.

    Only one cause counts: a kernel that refuses to execute 32-bit programs (ENOEXEC on Wine's own
    32-bit loader, as when the kernel's 32-bit emulation is switched off). A missing Wine is no
    reason: the bootstrap installs it, so that is a failure, not a skip.
    """
    if not WINE_LOADER.exists():
        return None
    try:
        subprocess.run([str(WINE_LOADER), "--version"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
    except OSError as e:
        if e.errno == errno.ENOEXEC:
            return (f"this kernel does not execute 32-bit programs ({WINE_LOADER}: "
                    f"{os.strerror(e.errno)}; 32-bit emulation is off, see the kernel option "
                    "ia32_emulation), so 32-bit Wine cannot start here")
    except subprocess.TimeoutExpired:
        pass
    return None


def test_machine_reason():
    """Why the Wine parts of the scripts run in the test machine of scripts/winevm, or None when
    they run here: this machine cannot start Wine, or ZYN_WINEVM=1 asks for the test machine
    (which run.sh does not pass on, so that the guest runs them itself)."""
    if os.environ.get("ZYN_WINEVM") == "1":
        return "ZYN_WINEVM=1 asks for the test machine"
    return machine_cannot_run_wine()


def exe(target):
    """Path of a built program listed in tests/e2e/CMakeLists.txt."""
    value = os.environ.get("ZYN_E2E_EXE_" + target)
    if not value:
        raise HarnessError(f"ZYN_E2E_EXE_{target} is not set: run the test through ctest")
    return Path(value)


@contextlib.contextmanager
def _locked(name):
    """Exclusive lock across processes, so parallel tests make shared things once."""
    WORK.mkdir(parents=True, exist_ok=True)
    with open(WORK / (name + ".lock"), "w") as f:
        fcntl.flock(f, fcntl.LOCK_EX)
        try:
            yield
        finally:
            fcntl.flock(f, fcntl.LOCK_UN)


def _die_with_parent():
    """Child processes end with the harness, even when ctest kills it on a timeout."""
    with contextlib.suppress(Exception):
        ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


WINEARCH = "win32"


def _base_env():
    env = {k: v for k, v in os.environ.items() if not k.startswith("LC_") and k != "LANGUAGE"}
    env.update(WINEARCH=WINEARCH, WINEDEBUG="-all", WINEDLLOVERRIDES=DLL_OVERRIDES, LANG="C.UTF-8")
    return env


def _run(cmd, env, log, timeout, cwd=None, check=True):
    """Runs a command with its output appended to a log file; a bounded wait."""
    timeout = bound(timeout)
    with open(log, "ab") as out:
        try:
            rc = subprocess.run(cmd, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=out, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            raise HarnessError(f"{cmd[:3]} did not finish in {timeout} s (log: {log})")
    if check and rc != 0:
        raise HarnessError(f"{cmd[:3]} failed with {rc} (log: {log})")
    return rc


def _end(proc, seconds):
    """Terminates a helper process, and kills it if it has not ended within ``seconds``."""
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(seconds)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(seconds)


class Xvfb:
    """A private X server; the display number comes from -displayfd, so runs never collide."""

    def __init__(self, log):
        read_end, write_end = os.pipe()
        with open(log, "ab") as out:
            self.proc = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                 "-nolisten", "tcp"], pass_fds=(write_end,), stdin=subprocess.DEVNULL,
                stdout=out, stderr=out, preexec_fn=_die_with_parent)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + bound(15)
        try:
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                ready, _, _ = select.select([read_end], [], [], 0.5)
                if ready:
                    chunk = os.read(read_end, 16)
                    if not chunk:
                        break
                    number += chunk
        finally:
            os.close(read_end)
        if not number.strip().isdigit():
            self.close()
            raise HarnessError(f"Xvfb did not report a display (log: {log})")
        self.display = ":" + number.strip().decode()

    def close(self):
        _end(self.proc, 5)


class _PersistentServer:
    """The session's wineserver, kept for the session's whole life.

    Left to itself, a wineserver ends a few seconds after the last Windows program of the prefix
    has exited, and takes the service manager, the desktop and every running driver service with
    it. A test that runs several programs one after another (``sc start``, then a client of the
    driver; an install, then a second one) would otherwise find, after any pause longer than
    that (a busy machine), a new Wine whose services are stopped, or have its program killed
    with the old server's processes.
    """

    def __init__(self, log, env):
        with open(log, "ab") as out:
            self.proc = subprocess.Popen(["wineserver", "--foreground", "--persistent"], env=env,
                                         stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                         preexec_fn=_die_with_parent)
        # Until its socket exists, a Windows program would start a server of its own, which would
        # end with the programs again. The server makes its socket in its own working folder
        # (where that folder lies differs between Wine's builds).
        deadline = time.monotonic() + bound(15)
        while not self._socket_ready():
            if self.proc.poll() is not None:
                raise HarnessError(f"wineserver ended with {self.proc.returncode} (log: {log})")
            if time.monotonic() > deadline:
                self.close()
                raise HarnessError(f"wineserver made no socket in {bound(15)} s (log: {log})")
            time.sleep(0.05)

    def _socket_ready(self):
        try:
            folder = Path(os.readlink(f"/proc/{self.proc.pid}/cwd"))
        except OSError:
            return False
        return folder.name.startswith("server-") and (folder / "socket").exists()

    def close(self):
        """Ends the server (``wineserver -k`` has normally done so already) with bounded waits."""
        _end(self.proc, bound(10))


def _wine_version():
    return subprocess.run(["wine", "--version"], capture_output=True, text=True,
                          timeout=30).stdout.strip()


def _template_recipe():
    """Everything that shapes the template prefix. The prefix is made again when any of it
    changes: the Wine version, the settings below, the fonts copied in, and the code of
    template_prefix and _base_env themselves)."""
    fonts = sorted(f"{f.name}:{f.stat().st_size}" for f in Path("/usr/share/wine/fonts").glob("*"))
    code = hashlib.sha256("".join(inspect.getsource(f) for f in (template_prefix, _base_env))
                          .encode()).hexdigest()
    return "\n".join([_wine_version(), DLL_OVERRIDES, DESKTOP_SIZE, WINEARCH, code, *fonts]) + "\n"


def _protect(root):
    """Takes the write bits off the template. Sessions never share its files (see
    ``_clone_prefix``); this keeps a stray write from a developer's shell off it too."""
    subprocess.run(["chmod", "-R", "a-w", str(root)], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120)


def _unprotect(root):
    if root.exists():
        subprocess.run(["chmod", "-R", "u+w", str(root)], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)


def template_prefix():
    """The template Wine prefix of this build: made once (about 15 s), then reused.

    32-bit, fonts copied in, a virtual desktop so windows get title bars in screenshots. A stamp
    beside it holds the recipe it was made from (``_template_recipe``); a half-made or outdated
    one is made again. Once made it is read-only.
    """
    root = WORK / "template"
    stamp = WORK / "template.stamp"
    recipe = _template_recipe()
    # One made earlier for the same recipe and kept read-only elsewhere (the test machine keeps
    # one beside its image) serves where it lies: making one takes minutes under emulation.
    ready = os.environ.get("ZYN_E2E_READY")
    with contextlib.suppress(OSError):
        if ready and (Path(ready) / "template.stamp").read_text() == recipe:
            return Path(ready) / "template"
    with _locked("template"):
        if stamp.exists() and stamp.read_text() == recipe and root.exists():
            return root
        stamp.unlink(missing_ok=True)
        _unprotect(root)
        shutil.rmtree(root, ignore_errors=True)
        root.mkdir(parents=True)
        log = WORK / "template.log"
        log.write_bytes(b"")
        env = _base_env()
        env["WINEPREFIX"] = str(root)
        x = Xvfb(log)
        env["DISPLAY"] = x.display
        try:
            _run(["wineboot", "-i"], env, log, 180)
            _run(["wineserver", "-w"], env, log, 60)
            fonts = root / "drive_c" / "windows" / "Fonts"
            for font in Path("/usr/share/wine/fonts").glob("*"):
                shutil.copy2(font, fonts / font.name)
            _run(["wine", "reg", "add", r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/d",
                  "Default", "/f"], env, log, 60)
            _run(["wine", "reg", "add", r"HKCU\Software\Wine\Explorer\Desktops", "/v", "Default",
                  "/d", DESKTOP_SIZE, "/f"], env, log, 60)
        finally:
            subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
            with contextlib.suppress(subprocess.TimeoutExpired):
                subprocess.run(["wineserver", "-w"], env=env, timeout=15)
            x.close()
        _protect(root)
        stamp.write_text(recipe)
        return root


def locale_env(name, charset="UTF-8", user=None):
    """Environment that gives a Wine program the locale ``name`` (e.g. "de_DE" -> 0407) as both
    its system and its user default, or ``user`` as a different user default (Wine takes the
    system locale from LC_CTYPE, the user's from LC_MESSAGES).

    Debian ships only C/POSIX and Wine silently falls back to English for a missing locale, so
    each locale is compiled once into WORK/locales with localedef.
    """
    folder = WORK / "locales"
    env = {"LOCPATH": str(folder), "LANG": _compiled_locale(folder, name, charset)}
    if user:
        env["LC_MESSAGES"] = _compiled_locale(folder, user, charset)
    return env


def _compiled_locale(folder, name, charset):
    full = f"{name}.{charset}"
    with _locked("locales"):
        if not (folder / full / "LC_CTYPE").exists():
            folder.mkdir(parents=True, exist_ok=True)
            _run(["localedef", "-i", name, "-f", charset, str(folder / full)], os.environ,
                 WORK / "locales.log", 120)
    return full


class Program:
    """A Windows program started by ``Session.start``."""

    def __init__(self, proc, log):
        self.proc, self.log = proc, log

    def wait(self, timeout=10):
        """Waits for the program to end and returns its exit code; fails the test on timeout."""
        try:
            return self.proc.wait(bound(timeout))
        except subprocess.TimeoutExpired:
            raise HarnessError(f"program still running after {bound(timeout):g} s")

    @property
    def running(self):
        return self.proc.poll() is None

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            with contextlib.suppress(subprocess.TimeoutExpired):
                self.proc.wait(10)


class Window:
    """A top-level window seen through winprobe. ``hwnd`` is the 0x-hex handle text."""

    def __init__(self, session, answer):
        self.session, self.hwnd, self.first = session, answer["hwnd"], answer

    def _probe(self, *args, timeout=5):
        return self.session.probe(args[0], self.hwnd, *args[1:], timeout=timeout)[-1]

    def info(self):
        """class, title, style, exstyle, visible, enabled, rect, owner, pid, tid."""
        return self._probe("info")

    @property
    def title(self):
        return self.info()["title"]

    @property
    def enabled(self):
        return self.info()["enabled"]

    def text(self, control_id=None):
        """Text of the window, or of its dialog control ``control_id`` (WM_GETTEXT)."""
        args = ("text",) if control_id is None else ("text", "--id", str(control_id))
        return self._probe(*args)["text"]

    def children(self):
        """Every child: dicts with hwnd, id, class, text, style, exstyle, visible, enabled, rect."""
        return [c for c in self.session.probe("children", self.hwnd) if "id" in c]

    def focus(self):
        """Id of the control that has the keyboard focus (0 when none)."""
        return self._probe("focus")["id"]

    def click(self, control_id):
        self._probe("click", "--id", str(control_id))

    def command(self, command_id, code=0):
        self._probe("command", str(command_id), "--code", str(code))

    def syscommand(self, sc):
        self._probe("syscommand", hex(sc))

    def close(self):
        """Posts WM_CLOSE, the request a window manager sends."""
        self._probe("close")

    def key(self, vk, alt=False):
        """Posts a key press to the control with the focus (Alt held if ``alt``). A key that
        closes its window (Escape, Enter) is done once its key-down is posted."""
        self._probe("key", hex(vk), *(("--alt",) if alt else ()))

    def mouse(self, x, y):
        """Posts a left click at client coordinates (done once the button-down is posted)."""
        self._probe("mouse", str(x), str(y))

    def wait_gone(self, timeout=10):
        self.session.probe("gone", self.hwnd, "--timeout", _ms(timeout), timeout=timeout)

    def sync(self, timeout=10):
        """Returns once the window's thread has handled every message posted to it before: a
        hook inside it answers a message posted now, which its loop takes only after those."""
        answer = self.session.probe("hook", exe("probe_hook"), "SyncHookProc", self.hwnd,
                                    "winprobe.sync", "--timeout", _ms(timeout),
                                    timeout=timeout)[-1]
        if answer.get("reply") != "synced":
            raise HarnessError(f"sync with {self.hwnd}: {answer}")

    def look(self, control_id):
        """How dialog control ``control_id`` looks from inside its process: {"exclamation": True
        when it shows the system's exclamation icon, "font": (height, weight, charset, pitch and
        family) or None for the system font}."""
        reply = self.session.probe("hook", exe("probe_hook"), "LookHookProc", self.hwnd,
                                   "winprobe.look", "--arg", str(control_id))[-1]["reply"]
        fields = dict(part.split("=", 1) for part in reply.split())
        font = tuple(int(v) for v in fields["font"].split(",")) if fields["font"] else None
        return {"exclamation": fields["icon"] == "1", "font": font}

    def is_gone(self, within=0.0):
        try:
            self.wait_gone(within)
            return True
        except HarnessError:
            return False


class _Prober:
    """One winprobe process that answers command after command (``winprobe serve``)."""

    def __init__(self, env, log):
        with open(log, "ab") as err:
            self.proc = subprocess.Popen(["wine", str(exe("winprobe")), "serve"], env=env,
                                         stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                         stderr=err, preexec_fn=_die_with_parent)
        self.pending = b""

    def alive(self):
        return self.proc.poll() is None

    def ask(self, args, seconds):
        """(exit status, answer lines) of one command; a bounded wait like a process of its own."""
        words = [str(a) for a in args]
        if any("\t" in w or "\n" in w for w in words):
            raise HarnessError(f"winprobe {words}: a tab or line break in a word")
        lines, deadline = [], time.monotonic() + seconds
        try:
            self.proc.stdin.write(("\t".join(words) + "\n").encode())
            self.proc.stdin.flush()
            while True:
                while b"\n" not in self.pending:
                    left = deadline - time.monotonic()
                    ready = select.select([self.proc.stdout], [], [], max(0, left))[0]
                    chunk = os.read(self.proc.stdout.fileno(), 65536) if ready else b""
                    if not chunk:
                        raise HarnessError(f"winprobe {' '.join(words)}: no answer")
                    self.pending += chunk
                line, self.pending = self.pending.split(b"\n", 1)
                if line.startswith(b"{"):
                    answer = json.loads(line)
                    if "served" in answer:
                        return answer["served"], lines
                    lines.append(answer)
        except (HarnessError, OSError, ValueError):
            # A server that missed its bound or broke its protocol is not asked again.
            self.close()
            raise HarnessError(f"winprobe {' '.join(words)}: no answer")

    def close(self):
        with contextlib.suppress(OSError):
            self.proc.stdin.close()
        _end(self.proc, bound(5))
        with contextlib.suppress(OSError):
            self.proc.stdout.close()


class Session:
    """One test's world: a copy of the template prefix, its wineserver and an Xvfb.

    ``env`` applies to every Windows program of the session; winprobe always runs with LANG=C.UTF-8.
    Use as a context manager or call ``close`` (E2ETestCase does it).
    """

    _counter = 0

    def __init__(self, name, env=None, display=None):
        """``display``: an X display of the user's to show the programs on (the demo); by
        default a private Xvfb."""
        Session._counter += 1
        safe = "".join(c if c.isalnum() else "-" for c in name)[-60:]
        (WORK / "runs").mkdir(parents=True, exist_ok=True)
        self.dir = Path(tempfile.mkdtemp(prefix=f"{safe}-", dir=WORK / "runs"))
        self.name, self.logs, self.programs = safe, self.dir / "logs", []
        self.logs.mkdir()
        self.prefix = self.dir / "prefix"
        self.drive_c = self.prefix / "drive_c"
        self.xvfb = None
        self.server = None
        self.prober, self.ready = None, False
        self.env = _base_env()
        self.env["WINEPREFIX"] = str(self.prefix)
        self.mounted = False
        try:
            self.mounted = _clone_prefix(template_prefix(), self.prefix)
            if display:
                self.env["DISPLAY"] = display
            else:
                self.xvfb = Xvfb(self.logs / "xvfb.log")
                self.env["DISPLAY"] = self.xvfb.display
            self.env.update(env or {})
            self.server = _PersistentServer(self.logs / "wineserver.log", self.env)
            # Starting the desktop and services here keeps their cost out of the tests' waits.
            self.probe("list", timeout=60)
            self.ready = True
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # -- programs ---------------------------------------------------------------------------

    def start(self, program, args=(), cwd=None, env=None):
        """Starts a Windows program (a Unix path to the .exe) and returns a ``Program``.

        ``cwd`` is a Unix folder; inside the prefix's drive_c it is C:\\..., in a folder mapped
        with ``map_drive`` it is that drive.
        """
        log = self.logs / f"{Path(program).stem}-{len(self.programs)}.log"
        full_env = dict(self.env, **(env or {}))
        with open(log, "ab") as out:
            proc = subprocess.Popen(["wine", str(program), *map(str, args)], cwd=cwd,
                                    env=full_env, stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=out, preexec_fn=_die_with_parent)
        program = Program(proc, log)
        self.programs.append(program)
        return program

    def wine(self, *args, timeout=60, check=True):
        """Runs a Wine command line tool (``reg``, ``sc``, ...) to completion; returns its code."""
        return _run(["wine", *args], self.env, self.logs / "wine-tools.log", timeout, check=check)

    def reg_add(self, key, name, value, kind="REG_SZ"):
        """Sets one registry value (``name`` None for the key's default value)."""
        which = ["/ve"] if name is None else ["/v", name]
        self.wine("reg", "add", key, *which, "/t", kind, "/d", str(value), "/f")

    def set_windows_version(self, exe_name, version="win98"):
        """Makes Wine report ``version`` to one program only (GetVersionExA platform 1 for 9x)."""
        self.reg_add(rf"HKCU\Software\Wine\AppDefaults\{exe_name}", "Version", version)

    def map_drive(self, letter, folder):
        """Makes ``letter``: a drive whose root is the Unix ``folder``."""
        link = self.prefix / "dosdevices" / f"{letter.lower()}:"
        with contextlib.suppress(FileNotFoundError):
            link.unlink()
        link.symlink_to(Path(folder).resolve())

    def windows_path(self, path):
        """The Windows name of a Unix path: C:\\... inside drive_c, else Z:\\... (Wine's root)."""
        path = Path(path).resolve()
        with contextlib.suppress(ValueError):
            inside = str(path.relative_to(self.drive_c.resolve()))
            return "C:\\" + ("" if inside == "." else inside.replace("/", "\\"))
        return "Z:" + str(path).replace("/", "\\")

    def kill_programs(self):
        for program in self.programs:
            program.kill()
        self.programs = []

    # -- windows ----------------------------------------------------------------------------

    def probe(self, *args, timeout=5, env=None):
        """Runs winprobe with ``args``; returns its answer lines (dicts). Raises on failure.

        ``timeout`` bounds the waits inside winprobe (unless ``args`` name their own); the process
        itself gets 20 s more for Wine's start-up. ``env``: more environment for winprobe.
        """
        if "--timeout" not in args:
            args = (*args, "--timeout", _ms(timeout))
        probe_env = dict(self.env, **(env or {}), LANG="C.UTF-8")
        probe_env.pop("LOCPATH", None)
        if env or not self.ready:
            rc, lines = self._probe_once(args, probe_env, bound(timeout + 20))
        else:
            rc, lines = self._prober(probe_env).ask(args, bound(timeout + 20))
        if rc != 0 or not lines or not lines[-1].get("ok"):
            error = lines[-1].get("error") if lines else f"exit code {rc}"
            raise HarnessError(f"winprobe {' '.join(map(str, args))}: {error}")
        return lines

    def _probe_once(self, args, env, seconds):
        """A winprobe process of its own: (exit status, answer lines)."""
        out = self.dir / "probe.out"
        with open(out, "wb") as f, open(self.logs / "winprobe.log", "ab") as err:
            try:
                rc = subprocess.run(["wine", str(exe("winprobe")), *map(str, args)], env=env,
                                    stdin=subprocess.DEVNULL, stdout=f, stderr=err,
                                    timeout=seconds).returncode
            except subprocess.TimeoutExpired:
                raise HarnessError(f"winprobe {' '.join(map(str, args))}: no answer")
        return rc, [json.loads(line) for line in out.read_text().splitlines()
                    if line.startswith("{")]

    def _prober(self, env):
        """The session's winprobe server, started once the desktop and services run (the first
        probe starts them with its output in a file: they would hold a pipe of ours open)."""
        if not self.prober or not self.prober.alive():
            self.prober = _Prober(env, self.logs / "winprobe.log")
        return self.prober

    def wait_window(self, title=None, cls=None, timeout=10, visible=True):
        """Waits for a top-level window with this exact title and/or class (case-insensitive)."""
        args = ["find", "--timeout", _ms(timeout)]
        if title is not None:
            args += ["--title", title]
        if cls is not None:
            args += ["--class", cls]
        if visible:
            args.append("--visible")
        return Window(self, self.probe(*args, timeout=timeout)[-1])

    def windows(self):
        """Every top-level window (dicts as ``Window.info``)."""
        return [w for w in self.probe("list") if "hwnd" in w]

    # -- evidence and teardown --------------------------------------------------------------

    def screenshot(self, path, rect=None):
        """Saves the whole screen, or the screen rectangle ``rect`` [left, top, right, bottom],
        as PNG (best effort: evidence, never an assertion)."""
        if self.xvfb:
            crop = []
            if rect:
                left, top, right, bottom = rect
                crop = ["-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage"]
            with contextlib.suppress(Exception):
                subprocess.run(["import", "-display", self.xvfb.display, "-window", "root",
                                *crop, str(path)], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=20)

    def keep_evidence(self, test_id):
        """Screenshot, window list and logs into WORK/artifacts/<test_id>/; returns that folder.

        Each piece is gathered on its own and a piece that cannot be had is noted in
        ``problems.txt``: gathering evidence must never replace the failure it documents.
        """
        folder = WORK / "artifacts" / "".join(c if c.isalnum() or c in "._-" else "-"
                                              for c in test_id)
        steps = [
            ("screenshot", lambda: self.screenshot(folder / "screen.png")),
            ("window list", lambda: (folder / "windows.txt").write_text(
                "\n".join(json.dumps(w) for w in self.windows()))),
            ("logs", lambda: shutil.copytree(self.logs, folder / "logs", dirs_exist_ok=True)),
        ]
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        problems = []
        for name, step in steps:
            try:
                step()
            except Exception as e:  # noqa: BLE001 - a missing piece is only noted
                problems.append(f"{name}: {type(e).__name__}: {e}")
        if problems:
            (folder / "problems.txt").write_text("\n".join(problems) + "\n")
        return folder

    def close(self):
        """Ends everything this session started, with bounded waits, and removes its prefix."""
        env = self.env
        with contextlib.suppress(Exception):
            subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=15)
        with contextlib.suppress(Exception):
            subprocess.run(["wineserver", "-w"], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=10)
        self.kill_programs()
        if self.prober:
            self.prober.close()
            self.prober = None
        if self.server:
            self.server.close()
            self.server = None
        if self.xvfb:
            self.xvfb.close()
            self.xvfb = None
        if self.mounted:
            _unmount(self.prefix)
            self.mounted = False
        shutil.rmtree(self.dir, ignore_errors=True)


def _clone_prefix(template, target):
    """Gives a session its own prefix in well under a second without letting it write into the
    template: an overlay mount (the template below, the session's changes above) where we may
    mount, else a plain copy (about 3 s). Returns True when ``target`` is a mount point."""
    upper, work = target.parent / "overlay-upper", target.parent / "overlay-work"
    for folder in (target, upper, work):
        folder.mkdir(parents=True, exist_ok=True)
    if os.geteuid() == 0:
        rc = subprocess.run(["mount", "-t", "overlay", "overlay", "-o",
                             f"lowerdir={template},upperdir={upper},workdir={work}", str(target)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            timeout=60).returncode
        if rc == 0:
            return True
    target.rmdir()
    subprocess.run(["cp", "-a", str(template), str(target)], check=True, timeout=300)
    subprocess.run(["chmod", "-R", "u+w", str(target)], check=True, timeout=120)
    return False


def _unmount(folder):
    """Unmounts a session's prefix; lazily when something still holds it, so that teardown never
    hangs."""
    if subprocess.run(["umount", str(folder)], stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL, timeout=60).returncode != 0:
        subprocess.run(["umount", "-l", str(folder)], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)


def _unmount_leftovers():
    """Prefix mounts of runs that were killed before their teardown."""
    runs = str(WORK / "runs") + "/"
    with contextlib.suppress(OSError):
        for line in Path("/proc/self/mounts").read_text().splitlines():
            point = line.split()[1].replace("\\040", " ")
            if point.startswith(runs):
                _unmount(point)


class E2ETestCase(unittest.TestCase):
    """Base class: gives each test (or each class) a ``self.session``; on failure keeps a
    screenshot and the logs in WORK/artifacts/<test id>/.

    Class attributes: ``session_scope`` "test" (default) or "class"; ``session_env`` a dict of
    environment for every program of the session.
    """

    session_scope = "test"
    session_env = None

    @classmethod
    def setUpClass(cls):
        reason = _cannot_run_wine()
        if reason:
            raise unittest.SkipTest(reason)
        cls.session = Session(cls.__name__, cls.session_env) if cls.session_scope == "class" else None

    @classmethod
    def tearDownClass(cls):
        if cls.session:
            cls.session.close()

    def __init__(self, method_name="runTest"):
        super().__init__(method_name)
        method = getattr(self, method_name, None)
        if method is not None:
            setattr(self, method_name, self._evidence_on_failure(method))

    def _keep_evidence(self, label):
        session = getattr(self, "session", None)
        if session is None:
            return
        try:
            folder = session.keep_evidence(label)
        except Exception as e:  # noqa: BLE001 - the failure being documented goes first
            folder = f"(nowhere: {type(e).__name__}: {e})"
        print(f"\nevidence of {label} kept in {folder}")

    def _evidence_on_failure(self, method):
        def run():
            try:
                method()
            except unittest.SkipTest:
                raise
            except BaseException:
                self._keep_evidence(self.id())
                raise
        return run

    @contextlib.contextmanager
    def subTest(self, msg=None, **params):
        """As unittest's, and a failing case keeps its own evidence before the test goes on."""
        label = " ".join([self.id(), *([f"[{msg}]"] if msg is not None else []),
                          *(f"{k}={v}" for k, v in params.items())])
        context = super().subTest(msg, **params) if msg is not None else super().subTest(**params)
        with context:
            try:
                yield
            except unittest.SkipTest:
                raise
            except BaseException:
                self._keep_evidence(label)
                raise

    def setUp(self):
        if self.session_scope != "class":
            self.session = Session(self.id(), self.session_env)
            self.addCleanup(self.session.close)
        else:
            self.addCleanup(self.session.kill_programs)


def _tests_of(suite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from _tests_of(item)
        else:
            yield item


def _shard_of(suite, index, count):
    """The ``index``-th (from 1) of ``count`` parts of a suite, dealt out by test name."""
    tests = sorted(_tests_of(suite), key=lambda t: t.id())
    return unittest.TestSuite(t for n, t in enumerate(tests) if n % count == index - 1)


def _run_test_file(pattern, shard=None):
    """Runs one test file as ctest does. Its tests that need no Wine (static checks of built
    files) run anywhere; when this machine cannot start Wine and nothing else ran, the file exits
    with 77 and its first line says why. ``shard`` (I, N): only the I-th of N equal parts of the
    file's tests (by name), so that one long file can run as N ctest tests side by side."""
    reason = machine_cannot_run_wine()
    if reason:
        print(f"skipped: {reason}")
    suite = unittest.defaultTestLoader.discover(str(Path(__file__).resolve().parent),
                                                pattern=pattern)
    if shard:
        suite = _shard_of(suite, *shard)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    # A class skipped in setUpClass counts among the skips but not among the tests run.
    executed = result.testsRun - sum(isinstance(t, unittest.TestCase) for t, _ in result.skipped)
    if reason and result.wasSuccessful() and executed == 0:
        sys.exit(SKIPPED)
    sys.exit(0 if result.wasSuccessful() and result.testsRun > 0 else 1)


if __name__ == "__main__":
    if sys.argv[1:] == ["--check"]:
        reason = machine_cannot_run_wine()
        print(f"cannot run Wine here: {reason}" if reason else "Wine can run here")
        sys.exit(SKIPPED if reason else 0)
    elif sys.argv[1:] == ["--road"]:
        reason = test_machine_reason()
        print(f"test machine: {reason}" if reason else "here")
    elif sys.argv[1:] == ["--prepare"]:
        reason = machine_cannot_run_wine()
        if reason:
            print(f"skipped: {reason}")
            sys.exit(SKIPPED)
        # A new test run: what earlier runs left behind (killed runs, old evidence) goes.
        _unmount_leftovers()
        for leftover in ("runs", "artifacts"):
            shutil.rmtree(WORK / leftover, ignore_errors=True)
        print("template prefix:", template_prefix())
    elif len(sys.argv) == 3 and sys.argv[1] == "--run":
        _run_test_file(sys.argv[2])
    elif len(sys.argv) == 5 and sys.argv[1] == "--run" and sys.argv[3] == "--shard":
        _run_test_file(sys.argv[2], tuple(int(n) for n in sys.argv[4].split("/")))
    else:
        print(__doc__)
