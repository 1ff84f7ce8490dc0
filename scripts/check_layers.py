#!/usr/bin/env python3
"""Checks that the engine's areas, and the programs around the engine, include only what their
layer allows.

The engine is layered data < render < query < exports (see docs/conventions.md):

- data/ includes nothing of render/, query/ or exports/; it reaches the drawing API only
  through gdi_api.h, and only where it keeps the base map's metafile handle; of kcommon it
  reads kcommon/big5.h alone (the code page's lead bytes, constants and inline functions);
- render/ includes only the public headers of data/ and nothing of query/ or exports/;
- query/ includes only the public headers of data/ and render/, nothing of exports/;
- exports/ includes only the areas' public headers and kestrel.h;
- no area names the drawing layer's header (kgdi.h) except gdi_api.h and the public kestrel.h;
  gdi_api.h alone names the platform's drawing API (windows.h) for the Windows build;
- the operating system's file interface (fcntl.h, unistd.h, sys/*.h, and on Windows io.h,
  process.h and windows.h) is included only by the files of the seam: data/data_file.cpp and
  query/reports_file.cpp;
- no include climbs out of its folder ("../").

The programs around it (maps/, web/, tools/, bench/, fuzz/) include of the engine only the areas'
public headers, kestrel.h and kgdi.h, by their names in the area ("data/reader.h", not
"engine/data/reader.h"); the engine's seams (gdi_api.h, build_config.h) and every other header
of an area are internal. A benchmark or fuzz target of an area (bench/<area>/, fuzz/<area>/)
exercises that area and may include its internals, as its tests do.

Above the engine, the maps library (maps/, kmaps) stands below the map service (web/) and the
tools: nothing in maps/ or tools/ includes a header of web/ ("service/...", "http/...").

Exit status 0 when every include is allowed; otherwise each offending line is printed.
"""
import pathlib
import re
import sys

import shutil
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
PROGRAMS = ("maps", "web", "tools", "bench", "fuzz")
# The layers of web/, by the folder its headers are included by.
WEB_FOLDERS = ("service", "http")
# The folders that stand below web/.
BELOW_WEB = ("maps", "tools")
AREAS = ("data", "render", "query", "exports")

PUBLIC = {
    "data": {"data/limits.h", "data/store.h", "data/format.h", "data/reader.h",
             "data/tile_decoder.h", "data/poi_file.h"},
    "render": {"render/view.h", "render/highlight.h", "render/palette.h"},
    "query": {"query/query.h"},
}
COMMON = {"build_config.h", "gdi_api.h"}
# The files that keep the base map's metafile handle and open and release it.
DATA_DRAWING_API = {"data/store.h", "data/dataset_loader.cpp"}
# What the data area reads of kcommon.
DATA_KCOMMON = {"kcommon/big5.h"}
OS_SEAM = {"data/data_file.cpp", "query/reports_file.cpp"}
OS_HEADERS = re.compile(r"^(fcntl\.h|unistd\.h|dirent\.h|io\.h|process\.h|sys/.*|windows\.h)$")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def allowed(area, name, project):
    """True when a file of `area` may include the project header `name`."""
    if name in COMMON:
        return area != "data" or name != "gdi_api.h" or project in DATA_DRAWING_API
    if name in DATA_KCOMMON:
        return area == "data"
    if name.startswith(area + "/"):
        return area != "exports" or name == "exports/guard.h"
    if name == "kestrel.h":
        return area == "exports"
    layers = ["data", "render", "query"]
    below = layers[: layers.index(area)] if area in layers else layers
    return any(name in PUBLIC[lower] for lower in below)


def includes(path):
    """(line number, line, kind, name) of every include of the file at `path`."""
    for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
        m = INCLUDE.match(line)
        if m:
            yield number, line, m.group(1), m.group(2)


def check_engine(engine):
    """The offending include lines of the engine tree at `engine`."""
    faults = []
    for path in sorted(engine.rglob("*")):
        if path.suffix not in (".h", ".cpp") or path.parent == engine / "include":
            continue
        project = path.relative_to(engine).as_posix()
        area = project.split("/")[0] if "/" in project else None
        for number, line, kind, name in includes(path):
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


def engine_header(root, path, name):
    """The engine header that the include `name` of the program file `path` names, as a path
    in its area ("data/store.h"), or None when it names a header of the program's own."""
    if (path.parent / name).exists():
        return None
    if name.startswith("engine/"):
        return name
    first = name.split("/")[0]
    if (first in AREAS or name in COMMON) and (root / "engine" / name).exists():
        return name
    return None


def check_programs(root):
    """The offending include lines of the programs around the engine under `root`."""
    public = set().union(*PUBLIC.values())
    faults = []
    for top in PROGRAMS:
        for path in sorted((root / top).rglob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            project = path.relative_to(root).as_posix()
            parts = project.split("/")
            own_area = parts[1] if top in ("bench", "fuzz") and len(parts) > 2 else None
            for number, line, kind, name in includes(path):
                if (kind == '"' and top in BELOW_WEB and name.split("/")[0] in WEB_FOLDERS
                        and not (path.parent / name).exists()):
                    faults.append(f"{project}:{number}: {line.strip()}  (web/ stands above "
                                  f"{top}/)")
                    continue
                header = engine_header(root, path, name) if kind == '"' else None
                if header is None:
                    continue
                where = f"{project}:{number}: {line.strip()}"
                if header.startswith("engine/"):
                    faults.append(f"{where}  (name an engine header by its area, as "
                                  f'"{header[len("engine/"):]}")')
                elif header not in public and header.split("/")[0] != own_area:
                    faults.append(f"{where}  (an internal of the engine)")
    return faults


def check(root):
    """Every offending include line of the tree at `root`."""
    return check_engine(root / "engine") + check_programs(root)


def self_test():
    """Each kind of wrong include, added to a copy of the sources, must be reported."""
    wrong = {
        "engine/data/tables.cpp": '#include "render/view.h"',
        "engine/render/draw.cpp": '#include "query/query.h"',
        "engine/query/nearest.cpp": '#include "render/cull.h"',
        "engine/render/track.cpp": '#include "data/store_detail.h"',
        "engine/render/view_state.cpp": '#include "kgdi.h"',
        "engine/data/tile_cache.cpp": "#include <unistd.h>",
        "engine/render/poi_overlay.cpp": '#include "kcommon/big5.h"',
        "maps/src/feature_store.cpp": '#include "data/store_detail.h"',
        "maps/src/engine.cpp": '#include "render/road_names.h"',
        "maps/include/kmaps/tiles.h": '#include "service/request.h"',
        "tools/seed/kseed.cpp": '#include "http/options.h"',
        "web/service/wms.cpp": '#include "data/store_detail.h"',
        "tools/dataset/dump.cpp": '#include "gdi_api.h"',
        "tools/importer/import.h": '#include "engine/data/limits.h"',
        "bench/render/bench_render.cpp": '#include "data/byte_view.h"',
    }
    keep = shutil.ignore_patterns("node_modules", "*.json", "*.js", "*.html", "*.png", "*.dat")
    failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        copy = pathlib.Path(tmp)
        for top in ("engine",) + PROGRAMS:
            shutil.copytree(ROOT / top, copy / top, ignore=keep)
        for file, line in wrong.items():
            target = copy / file
            original = target.read_text()
            target.write_text(line + "\n" + original)
            if not any(f"{file}:1:" in fault for fault in check(copy)):
                print(f"self-test: {line} in {file} was not reported")
                failed = 1
            target.write_text(original)
    print("check_layers self-test: " + ("failed" if failed else "every wrong include reported"))
    return failed


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    faults = check(ROOT)
    for fault in faults:
        print(fault)
    if faults:
        print(f"check_layers: {len(faults)} include(s) break the layers", file=sys.stderr)
        return 1
    print("check_layers: every include of the engine and of the programs keeps to its layer")
    return 0


if __name__ == "__main__":
    sys.exit(main())
