#!/usr/bin/env python3
"""The installer's file macros: every file installed is deleted, folders go deepest first (so
that RMDir, which removes only empty folders, can remove each), and a name the script could not
quote stops the build instead of reaching makensis."""
import re
import unittest

import stage_tree


class FileMacros(unittest.TestCase):
    def macros(self, files):
        text = stage_tree.nsis_lists(files, "digest")
        install = text[text.index("ZYN_INSTALL_FILES"):text.index("!macroend")]
        uninstall = text[text.index("ZYN_UNINSTALL_FILES"):]
        return install, uninstall

    def test_nested_folders_are_removed_deepest_first_after_their_files(self):
        install, uninstall = self.macros(["a.exe", "Eng/x.lrc", "Eng/sub/deep/y.txt", "Jpn/z"])
        self.assertEqual(re.findall(r'File "stage/([^"]+)"', install),
                         ["a.exe", "Eng/x.lrc", "Eng/sub/deep/y.txt", "Jpn/z"])
        self.assertIn('SetOutPath "$INSTDIR\\Eng\\sub\\deep"', install)
        lines = [l.strip() for l in uninstall.splitlines() if l.strip().startswith(("Delete", "RMDir"))]
        deletes = [l for l in lines if l.startswith("Delete")]
        rmdirs = [l for l in lines if l.startswith("RMDir")]
        self.assertEqual(len(deletes), 4)
        self.assertEqual(lines[:4], deletes, "files go before any folder")
        self.assertEqual(rmdirs, ['RMDir "$INSTDIR\\Eng\\sub\\deep"', 'RMDir "$INSTDIR\\Eng\\sub"',
                                  'RMDir "$INSTDIR\\Eng"', 'RMDir "$INSTDIR\\Jpn"'])
        self.assertNotIn("/r", uninstall, "never a recursive removal: user files stay")

    def test_names_the_script_cannot_quote_stop_the_build(self):
        for name in ('bad$name.txt', 'quote".txt', 'tick`.txt', 'Eng/$0.lrc'):
            with self.subTest(name=name), self.assertRaises(SystemExit):
                stage_tree.nsis_lists([name], "digest")


if __name__ == "__main__":
    unittest.main()
