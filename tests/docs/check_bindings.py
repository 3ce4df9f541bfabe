"""Checks that what the bindings and their documentation say about the library's tables is what the built
library answers: the Python package's view (run from the source tree on this build's library), zelviksrc's
property ranges and pad template (as gst-inspect-1.0 shows the built plugin), the public header's error
codes, and the ranges docs/python.md and docs/gstreamer.md state. Prints every disagreement; exit 1 if any.

usage: check_bindings.py HEADER PYTHON_PACKAGE_DIR DOCS_DIR [GST_PLUGIN]
(ZELVIK_SDK_LIBRARY names the library, as for the Python package.)"""

import os
import re
import subprocess
import sys
from pathlib import Path

header, package_dir, docs_dir = Path(sys.argv[1]), Path(sys.argv[2]), Path(sys.argv[3])
gst_plugin = Path(sys.argv[4]) if len(sys.argv) > 4 else None
sys.path.insert(0, str(package_dir))

import zelvik  # noqa: E402
from zelvik import _camera, _lib, _tables  # noqa: E402

problems = []


def expect(what, seen, library):
    if seen != library:
        problems.append(f"{what}: {seen!r}, the library: {library!r}")


# ---- the library's answers ----
lib = _lib.library()
filters = _tables.filters()
sensor = _tables.sensor()
errors = {}
for code in range(256):
    name = lib.ZelvikLib_ErrorName(code)
    if name:
        errors[name.decode()] = (code, lib.ZelvikLib_ErrorText(code).decode())
if not filters or not errors:
    problems.append("the library answered no filter values or no error codes")

# ---- the public header: every code the library reports is defined with its number and described with
# the library's text ----
defines = {m.group(1): (int(m.group(2)), m.group(3).strip())
           for m in re.finditer(r"^#define (ZELVIK_ERR_\w+) (\d+)\s*/\*(.*?)\*/", header.read_text(), re.M)}
expect("error codes the header defines", sorted(defines), sorted(errors))
for name, (code, text) in errors.items():
    if name in defines:
        expect(f"header {name}", defines[name][0], code)
        if not defines[name][1].startswith(text):
            problems.append(f"header {name}: its comment {defines[name][1]!r} does not begin with {text!r}")

# ---- Python's view ----
expect("Python's ERROR_TEXTS", dict(zelvik.ERROR_TEXTS), {code: text for code, text in errors.values()})
for constant in ("NOT_ALLOWED", "NO_CAMERA", "MEMORY", "TRANSFER", "CAMERA_LOST"):
    expect(f"Python's {constant}", getattr(_camera, constant), errors[f"ZELVIK_ERR_{constant}"][0])
for message in ("MSG_CAMERA_FRAME", "MSG_CAMERA_ERROR"):
    defined = re.search(rf"^#define {message} (0x[0-9A-Fa-f]+)", header.read_text(), re.M)
    expect(f"Python's {message}", getattr(_lib, message), int(defined.group(1), 16) if defined else None)
for attribute, value in vars(zelvik.Camera).items():
    if isinstance(value, _camera._Filter) and value.name not in filters:
        problems.append(f"Python's Camera.{attribute} names the filter value {value.name}, which the library lacks")
for name in zelvik.Camera._WHITE_BALANCE + ("BayerGainAuto", "GrayMode"):
    if name not in filters:
        problems.append(f"Python names the filter value {name}, which the library lacks")
expect("Python's gray modes", len(zelvik.Camera._GRAY), filters["GrayMode"].max - filters["GrayMode"].min + 1)

# ---- the documentation's ranges ----
by_index = {f.index: f for f in filters.values()}


def stated_range(cell):
    found = re.search(r"(-?\d+(?:\.\d+)?)\.\.(-?\d+(?:\.\d+)?)", cell)
    return (float(found.group(1)), float(found.group(2))) if found else None


for line in (docs_dir / "python.md").read_text().splitlines():
    row = re.match(r"^\| `(\w+)` \| ([^|]*) \| filter values? ([\d, ]+)( \(percent\))? \|$", line)
    if not row or not stated_range(row.group(2)):
        continue
    scale = 100 if row.group(4) else 1
    for index in (int(i) for i in row.group(3).split(",")):
        f = by_index.get(index)
        expect(f"docs/python.md {row.group(1)}", stated_range(row.group(2)),
               (f.min / scale, f.max / scale) if f else None)

# The element's properties and the filter value each one sets (factors are the library's percent).
gst_properties = {"exposure": ("ExposureTime", 1), "gain": ("GlobalGain", 1), "gamma": ("Gamma", 100),
                  "white-balance-red": ("BayerGainRed", 100), "white-balance-green": ("BayerGainGreen", 100),
                  "white-balance-blue": ("BayerGainBlue", 100)}
for line in (docs_dir / "gstreamer.md").read_text().splitlines():
    row = re.match(r"^\| `([\w-]+)`[^|]* \| ([^|]*) \|", line)
    if row and row.group(1) in gst_properties and stated_range(row.group(2)):
        name, scale = gst_properties[row.group(1)]
        expect(f"docs/gstreamer.md {row.group(1)}", stated_range(row.group(2)),
               (filters[name].min / scale, filters[name].max / scale))

# ---- zelviksrc as GStreamer shows it ----
if gst_plugin is not None:
    environment = dict(os.environ, GST_PLUGIN_PATH=str(gst_plugin.parent),
                       GST_REGISTRY=str(Path(os.environ.get("TMPDIR", "/tmp")) / f"check-bindings-{os.getpid()}.bin"))
    shown = subprocess.run(["gst-inspect-1.0", "zelviksrc"], capture_output=True, text=True, env=environment)
    try:
        os.unlink(environment["GST_REGISTRY"])
    except OSError:
        pass
    if shown.returncode != 0:
        problems.append(f"gst-inspect-1.0 zelviksrc failed: {shown.stderr.strip()}")
    else:
        text = shown.stdout
        # Each property's block starts with "  name : blurb"; its range is on a later line of the block.
        ranges = {}
        for block in re.split(r"\n(?=  [\w-]+\s+: )", text):
            name = re.match(r"\s*([\w-]+)\s+: ", block)
            found = re.search(r"(?:Integer|Double)\. Range:\s*(-?[\d.]+)\s*-\s*(-?[\d.]+)", block)
            if name and found:
                ranges[name.group(1)] = (float(found.group(1)), float(found.group(2)))
        for prop, (name, scale) in gst_properties.items():
            # -1 leaves the camera's stored value; the rest is the filter value's range.
            expect(f"zelviksrc {prop}", ranges.get(prop), (-1.0, filters[name].max / scale))
        expect("zelviksrc roi-width", ranges.get("roi-width"), (0.0, float(sensor.width)))
        expect("zelviksrc roi-height", ranges.get("roi-height"), (0.0, float(sensor.height)))
        expect("zelviksrc roi-x", ranges.get("roi-x"), (0.0, float(sensor.width - sensor.min_width)))
        expect("zelviksrc roi-y", ranges.get("roi-y"), (0.0, float(sensor.height - sensor.min_height)))
        modes = re.search(r"gray-mode.*?Enum.*?\n((?:\s+\(\d+\).*\n)+)", text, re.S)
        values = sorted(int(v) for v in re.findall(r"\((\d+)\)", modes.group(1))) if modes else []
        expect("zelviksrc gray-mode values", values, list(range(filters["GrayMode"].min, filters["GrayMode"].max + 1)))
        width = re.search(r"width: \[ (\d+), (\d+) \]", text)
        height = re.search(r"height: \[ (\d+), (\d+) \]", text)
        expect("zelviksrc template width", width and (int(width.group(1)), int(width.group(2))),
               (sensor.min_width, sensor.width))
        expect("zelviksrc template height", height and (int(height.group(1)), int(height.group(2))),
               (sensor.min_height, sensor.height))

for problem in problems:
    print(problem)
print(f"{len(problems)} disagreement(s) with the library's tables" if problems else "bindings agree with the library")
sys.exit(1 if problems else 0)
