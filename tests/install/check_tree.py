"""cmake --install into a temporary DESTDIR: the layout the assistant expects, a launcher that
finds it from anywhere, and a menu entry and AppStream file that their validators accept.

Usage: check_tree.py BUILD_DIR PROJECT_VERSION APP_ID APP_DIR
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from pathlib import Path

from layout import ICON_SIZES, SKIP, files, programs, run

build, version, appid, appdir = sys.argv[1:5]
failures = []


def check(ok, message):
    if not ok:
        failures.append(message)


def desktop_entry(path):
    entry, group = {}, None
    for line in path.read_text(encoding="utf-8").splitlines():
        if line.startswith("["):
            group = line
        elif group == "[Desktop Entry]" and "=" in line:
            key, value = line.split("=", 1)
            entry[key] = value
    return entry


# cmake --install rewrites the build folder's list of installed files, which a person's own
# install may need for uninstalling; it is kept as it was.
manifest = Path(build, "install_manifest.txt")
kept = manifest.read_bytes() if manifest.exists() else None
with tempfile.TemporaryDirectory() as tmp:
    try:
        run(os.environ.get("CMAKE", "cmake"), "--install", build, "--prefix", "/usr",
            env=dict(os.environ, DESTDIR=tmp))
    finally:
        if kept is None:
            manifest.unlink(missing_ok=True)
        else:
            manifest.write_bytes(kept)
    usr = Path(tmp, "usr")
    installed = {str(p.relative_to(usr)) for p in usr.rglob("*") if not p.is_dir()}
    check(all(str(p).startswith(str(usr)) for p in Path(tmp).rglob("*") if not p.is_dir()),
          "files installed outside the prefix")
    for missing in sorted(set(files(appid, appdir)) - installed):
        failures.append(f"not installed: {missing}")
    for stray in sorted(installed - set(files(appid, appdir))):
        failures.append(f"installed, but not a part of the package: {stray}")
    for program in programs(appdir):
        check(os.access(usr / program, os.X_OK), f"not executable: {program}")
    for size in ICON_SIZES:
        png = usr / f"share/icons/hicolor/{size}x{size}/apps/{appid}.png"
        if png.exists():
            width, height = struct.unpack(">II", png.read_bytes()[16:24])
            check((width, height) == (size, size),
                  f"{png.name} in {size}x{size} is {width}x{height}")

    # The dock matches the window to this entry by the desktop file name (Wayland) or by the
    # window class, which Qt takes from the executable's name (X11).
    entry = desktop_entry(usr / f"share/applications/{appid}.desktop")
    check(entry.get("Icon") == appid, f"Icon={entry.get('Icon')}")
    check(entry.get("Exec", "").split()[:1] == ["velnor-assistant"], f"Exec={entry.get('Exec')}")
    check(entry.get("StartupWMClass") == "VelnorAssistant",
          f"StartupWMClass={entry.get('StartupWMClass')}")
    for key in ("Name", "GenericName", "Comment"):
        check(entry.get(key) and entry.get(f"{key}[zh_CN]"), f"{key} not in English and Chinese")
    assistant = (usr / appdir / "VelnorAssistant").read_bytes()
    check(appid.encode("utf-16-le") in assistant, f"the assistant does not name itself {appid}")

    meta = ET.parse(usr / f"share/metainfo/{appid}.metainfo.xml").getroot()
    check(meta.findtext("id") == appid, f"metainfo id {meta.findtext('id')}")
    check(meta.findtext("launchable") == f"{appid}.desktop", "metainfo launchable")
    releases = meta.findall("releases/release")
    newest = releases[0].get("version") if releases else None
    check(newest == version,
          f"newest release in the metainfo is {newest}, the project is {version}")

    # A menu starts programs in the home folder; the launcher must still run the assistant in
    # its own folder, where chinese.qm lies. A stand-in reports where it was started.
    (usr / appdir / "VelnorAssistant").write_text('#!/bin/sh\npwd\necho "$@"\n')
    link = Path(tmp, "elsewhere")
    link.symlink_to(usr / "bin/velnor-assistant")
    started = subprocess.run([str(link), "-a", "b c"], cwd="/", capture_output=True, text=True)
    check(started.stdout.splitlines() == [str(usr / appdir), "-a b c"],
          f"the launcher started the assistant as {started.stdout!r} {started.stderr!r}")

    if failures:
        sys.exit("\n".join(failures))

    validators = {"desktop-file-validate": "desktop-file-utils", "appstreamcli": "appstream"}
    missing = [f"{tool} (Debian package {package})" for tool, package in validators.items()
               if not shutil.which(tool)]
    if missing:
        print("The layout is right; SKIPPED the validation, missing: " + ", ".join(missing))
        sys.exit(SKIP)
    # desktop-file-validate exits 0 for hints (such as two main categories, which we want).
    out = run("desktop-file-validate", str(usr / f"share/applications/{appid}.desktop"))
    check("error:" not in out and "warning:" not in out, out)
    run("appstreamcli", "validate", "--pedantic", "--no-net",
        str(usr / f"share/metainfo/{appid}.metainfo.xml"))
    # The metainfo, the entry it launches and the icons, as a software centre finds them.
    out = run("appstreamcli", "validate-tree", "--pedantic", "--no-net", tmp)
    check("dir-no-metadata-found" not in out, out)
    if failures:
        sys.exit("\n".join(failures))
