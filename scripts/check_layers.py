#!/usr/bin/env python3
"""Checks that the engine's areas include only what their layer allows.

The engine is layered data < render < query < exports (see docs/conventions.md):

- data/ includes nothing of render/, query/ or exports/; it reaches the drawing API only
  through gdi_api.h, and only where it keeps the base map's metafile handle;
- render/ includes only the public headers of data/ and nothing of query/ or exports/;
- query/ includes only the public headers of data/ and render/, nothing of exports/;
- exports/ includes only the areas' public headers and kestrel.h;
- no area names the drawing layer's header (kgdi.h) except gdi_api.h and the public kestrel.h;
  gdi_api.h alone names the platform's drawing API (windows.h) for the Windows build;
- the operating system's file interface (fcntl.h, unistd.h, sys/*.h, and on Windows io.h,
  process.h and windows.h) is included only by the files of the seam: data/poi_file.cpp and
  query/reports_file.cpp;
- no include climbs out of its folder ("../").

Exit status 0 when every include is allowed; otherwise each offending line is printed.
"""
import pathlib
import re
import sys

import shutil
import tempfile

ENGINE = pathlib.Path(__file__).resolve().parent.parent / "engine"

PUBLIC = {
    "data": {"data/limits.h", "data/store.h", "data/format.h", "data/poi_file.h"},
    "render": {"render/view.h", "render/highlight.h", "render/palette.h"},
    "query": {"query/query.h"},
}
COMMON = {"build_config.h", "gdi_api.h"}
# The files that keep the base map's metafile handle and open and release it.
DATA_DRAWING_API = {"data/store.h", "data/dataset_loader.cpp"}
OS_SEAM = {"data/poi_file.cpp", "query/reports_file.cpp"}
OS_HEADERS = re.compile(r"^(fcntl\.h|unistd\.h|dirent\.h|io\.h|process\.h|sys/.*|windows\.h)$")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def allowed(area, name, project):
    """True when a file of `area` may include the project header `name`."""
    if name in COMMON:
        return area != "data" or name != "gdi_api.h" or project in DATA_DRAWING_API
    if name.startswith(area + "/"):
        return area != "exports" or name == "exports/guard.h"
    if name == "kestrel.h":
        return area == "exports"
    layers = ["data", "render", "query"]
    below = layers[: layers.index(area)] if area in layers else layers
    return any(name in PUBLIC[lower] for lower in below)


def check(engine):
    """The offending include lines of the engine tree at `engine`."""
    faults = []
    for path in sorted(engine.rglob("*")):
        if path.suffix not in (".h", ".cpp") or path.parent == engine / "include":
            continue
        project = path.relative_to(engine).as_posix()
        area = project.split("/")[0] if "/" in project else None
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            kind, name = m.groups()
            where = f"engine/{project}:{number}: {line.strip()}"
            if "../" in name:
                faults.append(f"{where}  (climbs out of its folder)")
            elif name == "kgdi.h" and project != "gdi_api.h":
                faults.append(f"{where}  (the drawing API comes through gdi_api.h)")
            elif kind == "<" and name == "windows.h" and project == "gdi_api.h":
                continue  # the platform's own drawing API, on Windows
            elif kind == "<" and OS_HEADERS.match(name) and project not in OS_SEAM:
                faults.append(f"{where}  (operating system calls belong to the file seam)")
            elif kind == '"' and area is not None and not allowed(area, name, project):
                faults.append(f"{where}  (not allowed in {area}/)")
    return faults


def self_test():
    """Each kind of wrong include, added to a copy of the engine, must be reported."""
    wrong = {
        "data/tables.cpp": '#include "render/view.h"',
        "render/draw.cpp": '#include "query/query.h"',
        "query/nearest.cpp": '#include "render/cull.h"',
        "render/track.cpp": '#include "data/tile_decoder.h"',
        "render/view_state.cpp": '#include "kgdi.h"',
        "data/tile_cache.cpp": "#include <unistd.h>",
    }
    failed = 0
    for file, line in wrong.items():
        with tempfile.TemporaryDirectory() as tmp:
            copy = pathlib.Path(tmp) / "engine"
            shutil.copytree(ENGINE, copy)
            target = copy / file
            target.write_text(line + "\n" + target.read_text())
            if not any(f"engine/{file}:1:" in fault for fault in check(copy)):
                print(f"self-test: {line} in {file} was not reported")
                failed = 1
    print("check_layers self-test: " + ("failed" if failed else "every wrong include reported"))
    return failed


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    faults = check(ENGINE)
    for fault in faults:
        print(fault)
    if faults:
        print(f"check_layers: {len(faults)} include(s) break the engine's layers", file=sys.stderr)
        return 1
    print("check_layers: every include of the engine keeps to its layer")
    return 0


if __name__ == "__main__":
    sys.exit(main())
