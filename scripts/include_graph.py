#!/usr/bin/env python3
"""Draws the module graph of the tree from its #include lines.

A module is a folder of sources (src/codec, tools/sfxpack/pe, ...). An arrow
A -> B means a non-test file of A includes a header of B. Arrows run down:
a module stands one floor above the highest module it includes, and one
that includes nothing of the tree stands on floor 1. The few arrows that
run up are listed in KNOWN_UP, each with the file that makes it; they are
drawn in red and left out when the floors are counted. The picture leaves
out an arrow that a longer path of arrows already implies. Writes an SVG picture and prints the same graph as text;
docs/ARCHITECTURE.md shows the picture.

Usage: scripts/include_graph.py [--svg OUT.svg] [--check]
  --check   exit 1 when an arrow runs up or sideways and is not in KNOWN_UP.
"""
import argparse
import html
import os
import re
import sys
from collections import defaultdict

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE_DIRS = ["src", "tools/sfxpack"]
INCLUDE_ROOTS = ["src", "tools/sfxpack", "tools", "."]
EXTENSIONS = (".cpp", ".h", ".inc", ".cc")
TEST_FILE = re.compile(r"(_test\.cpp|_test_util\.h|_test_support\.(h|cpp)|"
                       r"_for_test\.h|pe_test_image\.h)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)

# Arrows that run up, each made by one file for one reason.
KNOWN_UP = {
    ("src/text", "src/log"): "data_buffer.cpp, xstring.cpp log their failures",
    ("src/text", "src/charset"): "xstring.cpp converts between code pages",
    ("src/text", "src/codec"): "hash_map.cpp hashes keys with CRC-32 and MD5",
    ("src/text", "src/fs"): "data_buffer_file.cpp loads and saves whole files",
    ("src/codec", "src/stream"): "inflate.cpp streams from a DataSource to an Output",
}


def source_files():
    for top in SOURCE_DIRS:
        for folder, dirs, names in os.walk(os.path.join(ROOT, top)):
            dirs[:] = [d for d in dirs if d != "testing"]  # test support
            for name in sorted(names):
                if name.endswith(EXTENSIONS) and not TEST_FILE.search(name):
                    yield os.path.join(folder, name)


def module_of(path):
    return os.path.relpath(os.path.dirname(path), ROOT)


def resolve(including, target):
    for base in [os.path.dirname(including)] + [os.path.join(ROOT, r)
                                                for r in INCLUDE_ROOTS]:
        candidate = os.path.normpath(os.path.join(base, target))
        if os.path.isfile(candidate):
            return candidate
    return None


def build_graph():
    edges = defaultdict(set)
    lines = defaultdict(int)
    for path in source_files():
        module = module_of(path)
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        lines[module] += text.count("\n")
        for target in INCLUDE.findall(text):
            found = resolve(path, target)
            if found is None or TEST_FILE.search(found):
                continue
            other = module_of(found)
            if other != module and not other.startswith("build"):
                edges[module].add(other)
    for module in list(edges):
        for other in edges[module]:
            lines.setdefault(other, 0)
    return edges, lines


def floors_of(edges, modules):
    floor = {}
    visiting = set()

    def visit(m):
        if m in floor:
            return floor[m]
        if m in visiting:  # a cycle: drawn, and reported by --check
            return 1
        visiting.add(m)
        floor[m] = 1 + max((visit(o) for o in edges.get(m, ())
                            if (m, o) not in KNOWN_UP), default=0)
        visiting.discard(m)
        return floor[m]

    for m in modules:
        visit(m)
    return floor


def reduced(edges):
    """The arrows no longer path of down arrows implies."""
    down = {m: {o for o in os_ if (m, o) not in KNOWN_UP}
            for m, os_ in edges.items()}

    def reach(start, skip):
        seen, todo = set(), [o for o in down.get(start, ()) if o != skip]
        while todo:
            o = todo.pop()
            if o not in seen:
                seen.add(o)
                todo += down.get(o, ())
        return seen

    kept = defaultdict(set)
    for m, os_ in edges.items():
        for o in os_:
            if (m, o) in KNOWN_UP or o not in reach(m, o):
                kept[m].add(o)
    return kept


def svg(edges, lines, floor):
    edges = reduced(edges)
    box_w, box_h, gap_x, gap_y, margin = 150, 38, 24, 64, 20
    rows = defaultdict(list)
    for m in sorted(floor):
        rows[floor[m]].append(m)
    top = max(rows)
    width = max(len(r) for r in rows.values()) * (box_w + gap_x) + 2 * margin
    height = top * (box_h + gap_y) + 2 * margin
    where = {}
    for f, ms in rows.items():
        y = margin + (top - f) * (box_h + gap_y)
        row_w = len(ms) * (box_w + gap_x) - gap_x
        x0 = (width - row_w) / 2
        for i, m in enumerate(ms):
            where[m] = (x0 + i * (box_w + gap_x), y)
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width:.0f}" '
           f'height="{height:.0f}" font-family="sans-serif" font-size="12">',
           '<defs><marker id="a" viewBox="0 0 10 10" refX="10" refY="5" '
           'markerWidth="7" markerHeight="7" orient="auto">'
           '<path d="M0,0 L10,5 L0,10 z" fill="#667"/></marker></defs>',
           f'<rect width="{width:.0f}" height="{height:.0f}" fill="white"/>']
    for m in sorted(edges):
        for o in sorted(edges[m]):
            x1, y1 = where[m]
            x2, y2 = where[o]
            up = floor[o] >= floor[m]
            sx, sy = x1 + box_w / 2, y1 + (0 if up else box_h)
            ex, ey = x2 + box_w / 2, y2 + (box_h if not up else 0)
            colour = "#c33" if up else "#99a"
            out.append(f'<line x1="{sx:.0f}" y1="{sy:.0f}" x2="{ex:.0f}" '
                       f'y2="{ey:.0f}" stroke="{colour}" stroke-width="1.2" '
                       f'marker-end="url(#a)" opacity="0.7"/>')
    for m, (x, y) in where.items():
        fill = "#eef3fb" if m.startswith("src/") else "#f6efe4"
        out.append(f'<rect x="{x:.0f}" y="{y:.0f}" width="{box_w}" height="{box_h}" '
                   f'rx="5" fill="{fill}" stroke="#445"/>')
        out.append(f'<text x="{x + box_w / 2:.0f}" y="{y + 16:.0f}" '
                   f'text-anchor="middle" font-weight="bold">{html.escape(m)}</text>')
        out.append(f'<text x="{x + box_w / 2:.0f}" y="{y + 31:.0f}" '
                   f'text-anchor="middle" fill="#556">floor {floor[m]}, '
                   f'{lines[m]:,} lines</text>')
    out.append("</svg>")
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--svg", help="write the picture here")
    parser.add_argument("--check", action="store_true",
                        help="fail on an arrow that runs sideways or up")
    args = parser.parse_args()
    edges, lines = build_graph()
    modules = sorted(set(lines))
    floor = floors_of(edges, modules)
    bad = []
    for f in sorted(set(floor.values()), reverse=True):
        for m in sorted(x for x in modules if floor[x] == f):
            deps = sorted(edges.get(m, ()), key=lambda o: (-floor[o], o))
            print(f"floor {f:2}  {m:28} -> {', '.join(deps) or '-'}")
            bad += [(m, o) for o in deps
                    if floor[o] >= floor[m] and (m, o) not in KNOWN_UP]
    for (m, o), why in sorted(KNOWN_UP.items()):
        if o in edges.get(m, ()):
            print(f"known arrow up: {m} -> {o} ({why})")
    for m, o in bad:
        print(f"arrow up or sideways: {m} -> {o}", file=sys.stderr)
    if args.svg:
        with open(args.svg, "w", encoding="utf-8") as f:
            f.write(svg(edges, lines, floor))
    return 1 if args.check and bad else 0


if __name__ == "__main__":
    sys.exit(main())
