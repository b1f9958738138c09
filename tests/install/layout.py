"""What an installed copy holds, relative to its prefix; shared by the install and package tests."""

import subprocess
import sys

SKIP = 77  # CTest's SKIP_RETURN_CODE for these tests
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def programs(appdir):
    return ["bin/velnor-assistant", f"{appdir}/VelnorAssistant",
            f"{appdir}/server/KivVelnorService"]


def files(appid, appdir):
    return programs(appdir) + [
        f"{appdir}/chinese.qm",
        f"share/applications/{appid}.desktop",
        f"share/metainfo/{appid}.metainfo.xml",
        f"share/icons/hicolor/scalable/apps/{appid}.svg",
        "share/man/man1/KivVelnorService.1.gz",
        "share/man/man1/velnor-assistant.1.gz",
        "share/doc/velnor-assistant/copyright",
    ] + [f"share/icons/hicolor/{s}x{s}/apps/{appid}.png" for s in ICON_SIZES]


def run(*command, **kwargs):
    """Runs a command; its output is shown and the test fails when it does."""
    done = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if done.returncode != 0:
        sys.exit(f"{' '.join(command)} failed ({done.returncode}):\n{done.stdout}{done.stderr}")
    return done.stdout + done.stderr
