"""The Windows side of the table reader's seams in real memory under Wine: which extents the
address space hands out, and the zero-filled global blocks (tests/e2e/zynid/
channel_platform_test.cpp)."""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent / "zynid"))
from harness import E2ETestCase, exe  # noqa: E402


class ChannelPlatform(E2ETestCase):
    def test_address_space_and_global_blocks(self):
        program = self.session.start(exe("zynid_channel_platform_test"))
        code = program.wait(30)
        output = program.log.read_text(errors="replace")
        self.assertIn("checks: 0 failed", output, output)
        self.assertEqual(code, 0)


if __name__ == "__main__":
    unittest.main()
