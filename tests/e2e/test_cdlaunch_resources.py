"""What landed in the built cdlaunch.exe: its dialog template field by field, its icons, the
languages of its resources, its imports. Read from the binary, because the resource compiler's
shorthand statements add and drop styles that the script does not show."""

import unittest

import pe_image as pe
from harness import exe

WS_POPUP, WS_CHILD, WS_VISIBLE, WS_CAPTION = 0x80000000, 0x40000000, 0x10000000, 0x00C00000
WS_GROUP, WS_TABSTOP, WS_EX_CLIENTEDGE = 0x00020000, 0x00010000, 0x00000200
DS_3DLOOK, DS_SETFONT, DS_MODALFRAME, DS_CENTER = 0x0004, 0x0040, 0x0080, 0x0800
SS_LEFT, SS_ICON, BS_PUSHBUTTON, BS_DEFPUSHBUTTON = 0x0, 0x3, 0x0, 0x1
BUTTON, STATIC = 0x0080, 0x0082  # predefined window class ordinals
ENGLISH_US = 0x0409
CHILD = WS_CHILD | WS_VISIBLE

# class, id, text in the template (None: a placeholder word), x, y, cx, cy, style
CONTROLS = [
    (STATIC, 1004, "Tessarine", 7, 30, 111, 11, CHILD | SS_LEFT),
    (BUTTON, 1, "Install", 131, 7, 39, 25, CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP),
    (STATIC, -1, "", 34, 61, 8, 8, CHILD | SS_LEFT | WS_GROUP),
    (BUTTON, 1003, "Exit", 131, 39, 39, 25, CHILD | BS_PUSHBUTTON | WS_TABSTOP),
    (STATIC, -1, 107, 7, 7, 18, 20, CHILD | SS_ICON),
    (STATIC, 6001, None, 7, 44, 111, 8, CHILD | SS_LEFT | WS_GROUP),
]


class LauncherBinary(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pe.PeImage.read(exe("cdlaunch"))
        cls.resources = cls.pe.resources()

    def resource(self, kind, name):
        return self.resources[(kind, name, ENGLISH_US)]

    def test_dialog_header(self):
        d = pe.parse_dialogex(self.resource(pe.RT_DIALOG, "SETUP"))
        expected = dict(
            help_id=0, exstyle=WS_EX_CLIENTEDGE,
            style=WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_SETFONT | DS_3DLOOK,
            x=0, y=0, cx=184, cy=76, menu="", **{"class": ""}, caption="Setup Tessarine",
            point_size=10, weight=0, italic=0, charset=1, face="MS Sans Serif")
        self.assertEqual({k: d[k] for k in expected}, expected)
        self.assertEqual(len(d["controls"]), len(CONTROLS))

    def test_dialog_controls_in_order(self):
        controls = pe.parse_dialogex(self.resource(pe.RT_DIALOG, "SETUP"))["controls"]
        for i, (c, want) in enumerate(zip(controls, CONTROLS)):
            cls, ident, text, x, y, cx, cy, style = want
            got = (c["class"], c["id"], c["text"] if text is not None else None, c["x"], c["y"],
                   c["cx"], c["cy"], c["style"])
            self.assertEqual(got, want, f"control {i + 1}")
            self.assertEqual((c["help_id"], c["exstyle"], c["extra"]), (0, 0, b""), f"control {i + 1}")
        placeholder = controls[5]["text"]
        self.assertTrue(placeholder and " " not in placeholder, "a placeholder word")

    def icon_group(self, name):
        entries = pe.parse_group_icon(self.resource(pe.RT_GROUP_ICON, name))
        images = []
        for e in entries:
            image = pe.parse_icon_image(self.resource(pe.RT_ICON, e["id"]))
            self.assertEqual((e["colours"], e["planes"], e["bits"]), (16, 1, 4))
            self.assertEqual((image["width"], image["height"], image["bits"], image["planes"]),
                             (e["width"], e["height"], 4, 1))
            self.assertEqual(image["palette"], 16)
            images.append(image)
        return [(i["width"], i["height"]) for i in images], images

    def test_icons_16_colours_at_4_bits(self):
        sizes101, images101 = self.icon_group(101)
        sizes107, images107 = self.icon_group(107)
        self.assertEqual(sizes101, [(32, 32)])
        self.assertEqual(sorted(sizes107), [(16, 16), (32, 32)])
        big107 = next(i for i in images107 if i["width"] == 32)
        self.assertNotEqual(images101[0]["pixels"], big107["pixels"], "a different picture")

    def test_only_dialog_and_icons_all_english(self):
        self.assertEqual({k[0] for k in self.resources},
                         {pe.RT_ICON, pe.RT_GROUP_ICON, pe.RT_DIALOG})
        self.assertEqual({k[2] for k in self.resources}, {ENGLISH_US})
        self.assertEqual([k[1] for k in self.resources if k[0] == pe.RT_DIALOG], ["SETUP"])

    def test_windows_gui_needing_only_system_dlls(self):
        self.assertEqual(self.pe.subsystem, 2)
        self.assertEqual(self.pe.subsystem_version, (4, 0))
        self.assertEqual(self.pe.import_dlls(),
                         {"kernel32.dll", "user32.dll", "gdi32.dll"})


if __name__ == "__main__":
    unittest.main()
