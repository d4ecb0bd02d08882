#!/usr/bin/python3
"""Checks the generated AppStream metainfo: appstreamcli validates it offline,
and it carries what phone software centres read: the developer as an element
with an id and a name (never the old developer_name), the skin's branding
colours for light and dark, touch, pointer and keyboard control, and the
smallest display it fits. Usage: check_metainfo.py METAINFO SKIN_PNG"""

import re
import subprocess
import sys
import xml.etree.ElementTree as ET

problems = []


def check(condition, what):
    if not condition:
        problems.append(what)


def skin_colours(png):
    """Every colour of the skin's main panel, as "#rrggbb" (ImageMagick)."""
    out = subprocess.run(["convert", png, "-format", "%c", "histogram:info:"],
                         capture_output=True, text=True, check=True).stdout
    return {m.lower() for m in re.findall(r"#[0-9A-Fa-f]{6}\b", out)}


def main(metainfo, skin):
    # The component id is the desktop entry's name, not a reverse domain name:
    # the project has no domain of its own (as scripts/package validates it).
    run = subprocess.run(["appstreamcli", "validate", "--no-net",
                          "--override=cid-desktopapp-is-not-rdns=info", metainfo],
                         capture_output=True, text=True)
    check(run.returncode == 0, "appstreamcli validate failed:\n" + run.stdout + run.stderr)

    root = ET.parse(metainfo).getroot()
    check(root.find("developer_name") is None, "developer_name is still there")
    developer = root.find("developer")
    check(developer is not None and developer.get("id"), "no <developer id=...>")
    check(developer is not None and (developer.findtext("name") or "").strip(),
          "<developer> has no <name>")

    colours = {c.get("scheme_preference"): (c.text or "").strip().lower()
               for c in root.findall("branding/color") if c.get("type") == "primary"}
    check(set(colours) == {"light", "dark"}, "branding needs a light and a dark primary colour")
    palette = skin_colours(skin)
    for scheme, colour in colours.items():
        check(colour in palette, "the %s branding colour %s is not the skin's" % (scheme, colour))

    controls = {c.text for c in root.findall("supports/control")}
    check({"touch", "pointing", "keyboard"} <= controls,
          "supports/control lacks some of touch, pointing, keyboard: %s" % sorted(controls))

    length = root.find("requires/display_length")
    check(length is not None and length.get("compare") == "ge" and
          (length.text or "").strip().isdigit(), "requires/display_length missing")

    for p in problems:
        print("metainfo: " + p, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
