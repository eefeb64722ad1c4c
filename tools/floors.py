#!/usr/bin/env python3
"""floors.py - keeps the product folders on their floors.

Usage: tools/floors.py [ROOT]

A folder may include the headers of folders on lower floors only: never a higher floor,
never another folder of its own floor, never a folder the table does not know (tests/,
bench/, examples/). Where a lower floor must reach a higher one, the higher library
installs a service table or hook when it opens, and the lower one calls through it.

Reads every '#include "folder/..."' (or <folder/...>) of the C and C++ files under the table's folders
(ROOT defaults to the checkout holding this script), prints each include that breaks
the rule as FILE:LINE, and exits 1 if there is any. The ctest test tools_floors_test
runs it.
"""
import os
import re
import sys

# The floors, bottom-up. This table is the only statement of the floors: the test reads
# it, and docs/architecture.md shows it. A folder that does not exist yet is skipped.
FLOORS = [
    ("base",),
    ("platform", "tools"),  # tools make applets outside the runtime
    ("vm",),
    ("runtime",),
    ("libs", "raster"),
    ("formats",),
    ("images",),
    ("ui",),
    ("comm", "text"),
    ("layers",),
    ("media", "fx"),
    ("app",),               # main and the composition of every library
]

SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cc", ".cpp", ".inc")
# Quoted and angled: both find the project's headers through the root on the include path.
INCLUDE = re.compile(rb'^[ \t]*#[ \t]*include[ \t]*(?:"([^"/]+)/[^"]*"|<([^>/]+)/[^>]*>)', re.MULTILINE)


def floor_of():
    floor = {}
    for level, folders in enumerate(FLOORS):
        for folder in folders:
            floor[folder] = level
    return floor


def breaks(root):
    """Yields (file, line, include text, reason) for every include that breaks the floors."""
    floor = floor_of()
    for folder in sorted(floor):
        top = os.path.join(root, folder)
        for base, dirs, files in os.walk(top):
            dirs.sort()
            for name in sorted(files):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(base, name)
                with open(path, "rb") as f:
                    text = f.read()
                for match in INCLUDE.finditer(text):
                    target = (match.group(1) or match.group(2)).decode("utf-8", "replace")
                    if target == folder:
                        continue
                    if target in floor:
                        if floor[target] > floor[folder]:
                            reason = "%s is on floor %d, above %s (floor %d)" % (
                                target, floor[target], folder, floor[folder])
                        elif floor[target] == floor[folder]:
                            reason = "%s and %s share floor %d; neither includes the other" % (
                                target, folder, floor[folder])
                        else:
                            continue
                    elif os.path.isdir(os.path.join(root, target)):
                        reason = "%s is not a product folder" % target
                    else:
                        continue  # a third-party header that happens to name a folder
                    line = text.count(b"\n", 0, match.start()) + 1
                    yield (os.path.relpath(path, root), line,
                           match.group(0).strip().decode("utf-8", "replace"), reason)


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    found = 0
    for path, line, include, reason in breaks(root):
        print("%s:%d: %s: %s" % (path, line, include, reason))
        found += 1
    if found:
        print("%d include%s break%s the floors (tools/floors.py holds the table)" % (
            found, "" if found == 1 else "s", "s" if found == 1 else ""))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
