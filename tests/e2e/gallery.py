#!/usr/bin/env python3
"""Renders zynid's agreement and result dialogs in every language to PNG under Wine.

Usage: python3 tests/e2e/gallery.py [--build build/win32] [--out DIR] [LANG ...]

Each language runs in its own session with its locale as the system default (so the program
picks that language's folder and Wine draws in that code page), through the test build
zynid_testchannel with a made-up board. The dialogs name the east-Asian fonts of their era; a
Debian font with the glyphs stands in for each (Wine's font replacements), so the pictures show
real characters, not boxes: fonts-takao-gothic (Japanese), fonts-wqy-microhei (Chinese) and
fonts-unfonts-core (Korean). Writes DIR/<Lang>-agreement.png and DIR/<Lang>-result.png, each
cropped to its dialog (default DIR: <build>/gallery). Needs Wine, Xvfb and ImageMagick, as the
end-to-end tests do; runs headless.
"""

import argparse
import os
import shutil
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[1]
LANGUAGES = {"Chs": "zh_CN", "Cht": "zh_TW", "Deu": "de_DE", "Eng": "en_US", "Esn": "es_ES",
             "Fra": "fr_FR", "Ita": "it_IT", "Jpn": "ja_JP", "Kor": "ko_KR"}
# Dialog font of the libraries -> a Debian family that has the script's glyphs.
STAND_INS = {"ＭＳ Ｐゴシック": "TakaoPGothic", "宋体": "WenQuanYi Micro Hei",
             "新細明體": "WenQuanYi Micro Hei", "굴림": "UnDotum"}
INSTALL_KEY = r"HKLM\Software\Orvex\ZYN ID Utility"


def font_file(family):
    """The file of an installed font family, or None (fc-match answers a fallback otherwise)."""
    answer = subprocess.run(["fc-match", "-f", "%{family}\n%{file}", family], capture_output=True,
                            text=True).stdout.split("\n")
    return Path(answer[1]) if len(answer) > 1 and family in answer[0].split(",") else None


def crop(session, window, path):
    """Screenshot of the whole virtual desktop, cut to the window's rectangle."""
    whole = path.with_suffix(".full.png")
    session.screenshot(whole)
    left, top, right, bottom = window.info()["rect"]
    subprocess.run(["convert", str(whole), "-crop", f"{right - left}x{bottom - top}+{left}+{top}",
                    "+repage", str(path)], check=True, timeout=30)
    whole.unlink()


def render(lang, build, out):
    from harness import Session, locale_env
    import zynid_e2e as z

    library = build / "resources" / lang / "ZYNRes.lrc"
    texts = z.Texts(library)
    with Session(f"gallery-{lang}", env=locale_env(LANGUAGES[lang])) as s:
        fonts = s.drive_c / "windows" / "Fonts"
        for face, family in STAND_INS.items():
            found = font_file(family)
            if found is None:
                print(f"gallery: font {family} missing, {face} shows as boxes", file=sys.stderr)
                continue
            if not (fonts / found.name).exists():
                shutil.copy(found, fonts / found.name)
            s.reg_add(r"HKCU\Software\Wine\Fonts\Replacements", face, family)

        root = s.drive_c / "ZYN"
        (root / lang).mkdir(parents=True)
        shutil.copy(z.exe("zynid_testchannel"), root / "zynid.exe")
        shutil.copy(library, root / lang / "ZYNRes.lrc")
        shutil.copy(build / "resources" / lang / "license.txt", root / lang / "license.txt")
        board = z.board_table(b"Orvex Boards Inc.", b"ZB-100 Pro")
        (root / "zynid_testchannel.bin").write_bytes(z.side_file(probe=0x0101, table=board))
        s.reg_add(INSTALL_KEY, "TargetDir", s.windows_path(root))

        app = s.start(root / "zynid.exe", cwd=root)
        agreement = s.wait_window(title=texts.captions[108], timeout=20)
        crop(s, agreement, out / f"{lang}-agreement.png")
        agreement.click(1)
        result = s.wait_window(title=texts.string(8), timeout=20)
        crop(s, result, out / f"{lang}-result.png")
        result.click(1)
        app.wait(10)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(ROOT / "build" / "win32"))
    parser.add_argument("--out")
    parser.add_argument("languages", nargs="*", default=sorted(LANGUAGES))
    args = parser.parse_args()
    build = Path(args.build).resolve()
    out = Path(args.out).resolve() if args.out else build / "gallery"
    out.mkdir(parents=True, exist_ok=True)

    os.environ.setdefault("ZYN_E2E_WORK", str(build / "tests" / "e2e" / "wine"))
    os.environ["ZYN_E2E_EXE_winprobe"] = str(build / "tests" / "e2e" / "winprobe.exe")
    os.environ["ZYN_E2E_EXE_zynid"] = str(build / "app" / "win32" / "zynid.exe")
    os.environ["ZYN_E2E_EXE_zynid_testchannel"] = str(
        build / "tests" / "e2e" / "zynid" / "zynid_testchannel.exe")
    sys.path.insert(0, str(HERE))
    sys.path.insert(0, str(HERE / "zynid"))
    for lang in args.languages:
        render(lang, build, out)
        print(f"gallery: {out / lang}-agreement.png, {out / lang}-result.png")
    return 0


if __name__ == "__main__":
    sys.exit(main())
