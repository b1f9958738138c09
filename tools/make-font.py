#!/usr/bin/python3
"""Builds res/fonts/VelnorSans-Medium.otf, the bundled application font.

It is a subset of Noto Sans CJK SC Medium (Debian package fonts-noto-cjk-extra) holding ASCII,
Latin-1, common punctuation, the common (level-1) GB2312 hanzi (so that most file names render) and every other
character used by the scenes, the core and the English catalogue. The subset carries a family
name of its own, as the font's licence asks of modified versions.

Run with Debian's python3 (it needs python3-fonttools):  /usr/bin/python3 tools/make-font.py
"""
import pathlib
import sys

from fontTools import subset
from fontTools.ttLib import TTCollection

ROOT = pathlib.Path(__file__).resolve().parent.parent
SOURCE = pathlib.Path("/usr/share/fonts/opentype/noto/NotoSansCJK-Medium.ttc")
OUTPUT = ROOT / "res" / "fonts" / "VelnorSans-Medium.otf"
FAMILY = "Velnor Sans"
STYLE = "Medium"


def gb2312_characters():
    chars = set()
    for high in list(range(0xA1, 0xAA)) + list(range(0xB0, 0xD8)):
        for low in range(0xA1, 0xFF):
            try:
                chars.add(bytes([high, low]).decode("gb2312"))
            except UnicodeDecodeError:
                pass
    return chars


def source_characters():
    chars = set()
    for pattern in ("**/*.qml", "**/*.cpp", "**/*.h", "i18n/*.ts"):
        for path in ROOT.glob(pattern):
            if "build" in path.parts:
                continue
            chars.update(path.read_text(encoding="utf-8", errors="ignore"))
    return {c for c in chars if ord(c) >= 0x80}


def main():
    collection = TTCollection(str(SOURCE))
    font = next(f for f in collection.fonts
                if "SC" in f["name"].getDebugName(1) and "Mono" not in f["name"].getDebugName(1))
    chars = set(chr(c) for c in range(0x20, 0x7F)) | set(chr(c) for c in range(0xA0, 0x100))
    chars |= set("‘’“”…—–·•×÷←→↑↓√℃　、。〈〉《》「」『』【】〔〕！＂＃％＆＇（），－．／：；＜＝＞？［］＿｛｝～￥")
    chars |= gb2312_characters() | source_characters()

    options = subset.Options()
    options.name_IDs = [0, 1, 2, 3, 4, 5, 6, 13, 14, 16, 17]
    options.layout_features = ["*"]
    options.notdef_outline = True
    options.hinting = False
    subsetter = subset.Subsetter(options)
    subsetter.populate(unicodes=[ord(c) for c in chars])
    subsetter.subset(font)

    names = font["name"]
    full = f"{FAMILY} {STYLE}"
    postscript = FAMILY.replace(" ", "") + "-" + STYLE
    for record in list(names.names):
        if record.nameID in (1, 16):
            record.string = FAMILY
        elif record.nameID in (2, 17):
            record.string = STYLE
        elif record.nameID == 4:
            record.string = full
        elif record.nameID == 3:
            record.string = f"{postscript};subset of Noto Sans CJK SC Medium"
        elif record.nameID == 6:
            record.string = postscript
    if "CFF " in font:
        cff = font["CFF "].cff
        cff.fontNames = [postscript]
        top = cff.topDictIndex[0]
        for key in ("FullName", "FamilyName"):
            if hasattr(top, key):
                setattr(top, key, full if key == "FullName" else FAMILY)
    OUTPUT.parent.mkdir(parents=True, exist_ok=True)
    font.save(str(OUTPUT))
    print(f"{OUTPUT}: {len(chars)} characters, {OUTPUT.stat().st_size} bytes")


if __name__ == "__main__":
    sys.exit(main())
