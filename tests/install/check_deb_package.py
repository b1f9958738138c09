"""cpack -G DEB: the package's control fields, its dependencies and its files.

Usage: check_deb_package.py BUILD_DIR PROJECT_VERSION APP_ID APP_DIR
"""

import glob
import os
import re
import shutil
import sys
import tempfile

from layout import SKIP, files, programs, run

build, version, appid, appdir = sys.argv[1:5]
failures = []

# dpkg-shlibdeps computes the dependencies; without it cpack would make a package without them.
missing = [tool for tool in ("dpkg-deb", "dpkg-shlibdeps") if not shutil.which(tool)]
if missing:
    print(f"SKIPPED: {', '.join(missing)} missing (Debian packages dpkg and dpkg-dev)")
    sys.exit(SKIP)

with tempfile.TemporaryDirectory() as tmp:
    run(os.environ.get("CPACK", "cpack"), "--config", os.path.join(build, "CPackConfig.cmake"),
        "-G", "DEB", "-B", tmp)
    debs = glob.glob(os.path.join(tmp, "*.deb"))
    if len(debs) != 1:
        sys.exit(f"cpack made {debs}")
    deb = debs[0]
    arch = run("dpkg", "--print-architecture").strip()
    if os.path.basename(deb) != f"velnor-assistant_{version}_{arch}.deb":
        failures.append(f"package file {os.path.basename(deb)}")

    fields = {f: run("dpkg-deb", "-f", deb, f).strip()
              for f in ("Package", "Version", "Architecture", "Maintainer", "Description",
                        "Section", "Depends")}
    expected = {"Package": "velnor-assistant", "Version": version, "Architecture": arch,
                "Section": "video"}
    for field, value in expected.items():
        if fields[field] != value:
            failures.append(f"{field}: {fields[field]!r}, expected {value!r}")
    if not re.fullmatch(r".+ <[^@<>\s]+@[^@<>\s]+>", fields["Maintainer"]):
        failures.append(f"Maintainer: {fields['Maintainer']!r}")
    summary, _, long_description = fields["Description"].partition("\n")
    if not summary or not long_description.strip():
        failures.append(f"Description needs a summary and a long part: {fields['Description']!r}")
    if any(len(line) > 80 for line in fields["Description"].splitlines()):
        failures.append(f"Description not wrapped: {fields['Description']!r}")
    depends = {d.split()[0] for d in re.split(r"[,|]", fields["Depends"]) if d.strip()}
    # Computed from the binaries: the service's media, database, HTTP and UPnP libraries and Qt.
    for prefix in ("libgupnp-1.6-", "libgupnp-av-1.0-", "libgssdp-1.6-", "libavformat",
                   "libffmpegthumbnailer", "libsqlite3-", "libcpp-httplib", "libqt5quick5",
                   "libqt5network5"):
        if not any(d.startswith(prefix) for d in depends):
            failures.append(f"no dependency on {prefix}*: {fields['Depends']}")
    # Named by hand: what the scenes import and what Qt loads at run time.
    for package in ("qml-module-qtquick2", "qml-module-qtquick-window2",
                    "qml-module-qtquick-controls2", "qml-module-qtquick-templates2",
                    "qml-module-qtquick-layouts", "qml-module-qtquick-dialogs",
                    "qml-module-qtquick-controls", "qml-module-qtqml",
                    "qml-module-qtgraphicaleffects", "libssl3", "ffmpeg"):
        if package not in depends:
            failures.append(f"no dependency on {package}")

    listing = {}
    for line in run("dpkg-deb", "-c", deb).splitlines():
        mode, owner, _size, _date, _time, path = line.split(None, 5)
        listing[path.split(" -> ")[0].lstrip(".")] = (mode, owner)
    for path in files(appid, appdir):
        if f"/usr/{path}" not in listing:
            failures.append(f"not in the package: /usr/{path}")
    executables = {f"/usr/{p}" for p in programs(appdir)}
    for path, (mode, owner) in listing.items():
        if not path.startswith("/usr/") or path.startswith("/usr/local/"):
            failures.append(f"outside /usr: {path}")
        if owner != "root/root":
            failures.append(f"{path} owned by {owner}")
        if mode.startswith("-"):
            wanted = "-rwxr-xr-x" if path in executables else "-rw-r--r--"
            if mode != wanted:
                failures.append(f"{path} is {mode}, expected {wanted}")

if failures:
    sys.exit("\n".join(failures))
