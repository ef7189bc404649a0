"""The harness's own logic that needs no Wine: evidence on failure, the reason a machine cannot
run Wine, the template's recipe, the test command's count of a ctest run, and the inside hook's
commands as both of its sides number them."""

import os
import re
import stat
import sys
import tempfile
import unittest
from pathlib import Path
from unittest import mock

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parents[1] / "scripts"))
import ctest_summary  # noqa: E402
import harness  # noqa: E402


class HookCommands(unittest.TestCase):
    def test_the_tests_and_the_hook_number_every_command_alike(self):
        sys.path.insert(0, str(HERE / "zynid"))
        import zynid_e2e

        source = (HERE / "zynid" / "inside_hook.cpp").read_text()
        hook = {re.sub(r"(?<!^)([A-Z])", r"_\1", name[1:]).upper(): int(value, 0)
                for name, value in re.findall(r"constexpr UINT (k\w+) = (\w+?)u?;", source)}
        tests = {name[len("HOOK_"):]: value for name, value in vars(zynid_e2e).items()
                 if name.startswith("HOOK_")}
        self.assertEqual(len(hook), 6)
        self.assertEqual(tests, hook)


class RecordingSession:
    def __init__(self, fail_on=()):
        self.labels, self.fail_on = [], fail_on

    def keep_evidence(self, label):
        self.labels.append(label)
        if any(word in label for word in self.fail_on):
            raise harness.HarnessError("winprobe list: no answer")
        return Path("/evidence")


class Evidence(unittest.TestCase):
    def run_case(self, body, session):
        class Case(harness.E2ETestCase):
            def setUp(self):
                self.session = session

            def test_body(self):
                body(self)

        result = unittest.TestResult()
        with mock.patch("builtins.print"):
            Case("test_body").run(result)
        return result

    def test_each_failing_subtest_keeps_its_own_evidence_and_the_test_goes_on(self):
        def body(t):
            for name in ("passes", "fails", "also fails"):
                with t.subTest(name):
                    t.assertEqual(name, "passes")

        session = RecordingSession()
        result = self.run_case(body, session)
        self.assertEqual([label.split(" ", 1)[1] for label in session.labels],
                         ["[fails]", "[also fails]"])
        self.assertEqual(len(result.failures), 2)

    def test_failing_evidence_never_replaces_the_failure_it_documents(self):
        def body(t):
            with t.subTest("case"):
                t.fail("the real failure")
            t.fail("the real failure outside")

        result = self.run_case(body, RecordingSession(fail_on=("test_body",)))
        messages = [text.strip().splitlines()[-1] for _, text in result.failures]
        self.assertEqual(messages, ["AssertionError: the real failure",
                                    "AssertionError: the real failure outside"])

    def test_a_skip_keeps_no_evidence(self):
        session = RecordingSession()
        result = self.run_case(lambda t: t.skipTest("not here"), session)
        self.assertEqual((session.labels, len(result.skipped)), ([], 1))


class MachineCheck(unittest.TestCase):
    def check_with_loader(self, content):
        with tempfile.TemporaryDirectory() as folder:
            loader = Path(folder) / "wine"
            loader.write_bytes(content)
            loader.chmod(loader.stat().st_mode | stat.S_IXUSR)
            with mock.patch.object(harness, "WINE_LOADER", loader):
                return harness.machine_cannot_run_wine()

    def test_only_a_kernel_that_refuses_the_loader_is_a_reason(self):
        # An ELF image for a machine no kernel runs: execve answers ENOEXEC, as it does for a
        # 32-bit program where 32-bit emulation is off.
        foreign = b"\x7fELF\x01\x01\x01" + bytes(9) + b"\x02\x00\xff\xff" + bytes(32)
        self.assertIn("does not execute 32-bit programs", self.check_with_loader(foreign))
        self.assertIsNone(self.check_with_loader(b"#!/bin/sh\nexit 3\n"))

    def test_missing_wine_is_no_reason_to_skip(self):
        with mock.patch.object(harness, "WINE_LOADER", Path("/nonexistent/wine")):
            self.assertIsNone(harness.machine_cannot_run_wine())


class TemplateRecipe(unittest.TestCase):
    def test_every_setting_that_shapes_the_prefix_changes_the_recipe(self):
        with mock.patch.object(harness, "_wine_version", return_value="wine-8.0"):
            base = harness._template_recipe()
            self.assertEqual(harness._template_recipe(), base)
            for name, value in [("DESKTOP_SIZE", "640x480"), ("DLL_OVERRIDES", "x=d"),
                                ("WINEARCH", "win64")]:
                with self.subTest(name), mock.patch.object(harness, name, value):
                    self.assertNotEqual(harness._template_recipe(), base)
        with mock.patch.object(harness, "_wine_version", return_value="wine-9.0"):
            self.assertNotEqual(harness._template_recipe(), base)


class PrefixClone(unittest.TestCase):
    def test_a_session_writes_its_prefix_never_the_template(self):
        with tempfile.TemporaryDirectory() as folder:
            template = Path(folder) / "template"
            (template / "drive_c" / "windows").mkdir(parents=True)
            (template / "system.reg").write_text("template\n")
            (template / "drive_c" / "windows" / "win.ini").write_text("template\n")
            harness._protect(template)
            target = Path(folder) / "run" / "prefix"
            mounted = harness._clone_prefix(template, target)
            try:
                with open(target / "system.reg", "a") as f:  # in place, as a careless test would
                    f.write("session\n")
                (target / "drive_c" / "windows" / "win.ini").unlink()
                (target / "drive_c" / "new.txt").write_text("session\n")
                self.assertEqual((target / "system.reg").read_text(), "template\nsession\n")
            finally:
                if mounted:
                    harness._unmount(target)
            self.assertEqual((template / "system.reg").read_text(), "template\n")
            self.assertTrue((template / "drive_c" / "windows" / "win.ini").exists())
            self.assertFalse((template / "drive_c" / "new.txt").exists())
            harness._unprotect(template)


JUNIT = """<?xml version="1.0" encoding="UTF-8"?>
<testsuite tests="5" failures="1" skipped="3">
  <testcase name="unit" status="run"><system-out></system-out></testcase>
  <testcase name="broken" status="fail"><failure message=""/></testcase>
  <testcase name="e2e_a" status="notrun"><skipped message="SKIP_RETURN_CODE=77"/>
    <system-out>skipped: no 32-bit programs here
</system-out></testcase>
  <testcase name="after_fixture" status="notrun"><skipped message="Fixture dependency failed"/>
  </testcase>
  <testcase name="no_program" status="notrun"><skipped message="Unable to find executable"/>
  </testcase>
  <testcase name="gtest_skip" status="notrun">
    <skipped message="SKIP_REGULAR_EXPRESSION_MATCHED"/><system-out>Running main()
[ RUN      ] CorpusTest.Walk
/src/tests/dmi/corpus_test.cpp:101: Skipped
no SMBIOS corpus at /nowhere

[  SKIPPED ] CorpusTest.Walk (0 ms)
[==========] 1 test from 1 test suite ran. (0 ms total)
[  SKIPPED ] 1 test, listed below:
</system-out></testcase>
  <testcase name="gtest_skip_then_crash" status="notrun">
    <skipped message="SKIP_REGULAR_EXPRESSION_MATCHED"/><system-out>[ RUN      ] A.B
/src/a.cpp:1: Skipped

[  SKIPPED ] A.B (0 ms)
AddressSanitizer: heap-use-after-free
</system-out></testcase>
</testsuite>
"""


class Shards(unittest.TestCase):
    def test_shards_deal_out_every_test_exactly_once(self):
        class Many(unittest.TestCase):
            pass
        for n in range(10):
            setattr(Many, f"test_{n}", lambda self: None)
        suite = unittest.defaultTestLoader.loadTestsFromTestCase(Many)
        shards = [[t.id() for t in harness._shard_of(suite, i, 3)] for i in (1, 2, 3)]
        self.assertEqual([len(ids) for ids in shards], [4, 3, 3])
        self.assertEqual(sorted(sum(shards, [])), sorted(t.id() for t in suite))


class Summary(unittest.TestCase):
    def test_a_stated_skip_is_a_skip_and_anything_else_a_failure(self):
        with tempfile.TemporaryDirectory() as folder:
            path = Path(folder) / "results-x.xml"
            path.write_text(JUNIT)
            with mock.patch("builtins.print") as printed:
                totals = ctest_summary.summarise([path, Path(folder) / "missing.xml"])
                status = ctest_summary.main([str(path)])
        self.assertEqual(totals, {"passed": 1, "failed": 5, "skipped": 2})
        self.assertEqual(status, 1)
        lines = [" ".join(map(str, c.args)) for c in printed.call_args_list]
        self.assertIn("1 skipped: no SMBIOS corpus at /nowhere", lines)
        self.assertIn("1 skipped: skipped: no 32-bit programs here", lines)
        self.assertIn("FAILED results-x: gtest_skip_then_crash (SKIP_REGULAR_EXPRESSION_MATCHED)",
                      lines)

    def test_skips_alone_pass(self):
        only_skips = JUNIT.replace('status="fail"', 'status="run"')
        only_skips = only_skips.split('  <testcase name="after_fixture"')[0] + "</testsuite>\n"
        with tempfile.TemporaryDirectory() as folder:
            path = Path(folder) / "results-x.xml"
            path.write_text(only_skips)
            with mock.patch("builtins.print"):
                self.assertEqual(ctest_summary.main([str(path)]), 0)


if __name__ == "__main__":
    unittest.main()
