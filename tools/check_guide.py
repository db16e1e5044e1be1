#!/usr/bin/env python3
"""Keeps the code of docs/guide.md identical to the sources it quotes.

A region of a source under examples/ lies between a comment line
"// guide: NAME" (or "# guide: NAME") and "// guide: end"; regions may
nest, and their marker lines are left out of what they quote. In the guide,
a line "<!-- guide: NAME -->" stands right above the fenced block that
quotes region NAME, indented as a whole as the guide likes. Every C++ or
CMake block of the guide must quote a region.

    check_guide.py [--write] [GUIDE [EXAMPLES]]

exits 1 naming every block that differs from its region, names a missing
region, or quotes nothing; --write rewrites the blocks from their regions
instead (for a maintainer who changed an example).
"""
import difflib
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MARKER = re.compile(r"^\s*(?://|#)\s*guide:\s*(\S+)\s*$")
QUOTE = re.compile(r"^<!--\s*guide:\s*(\S+)\s*-->\s*$")
FENCE = re.compile(r"^(\s*)```(\S*)\s*$")
CODE_LANGUAGES = {"cpp", "c++", "c", "cmake"}


def dedent(lines):
    indents = [len(l) - len(l.lstrip(" ")) for l in lines if l.strip()]
    cut = min(indents) if indents else 0
    return [l[cut:] if l.strip() else "" for l in lines]


def read_regions(examples, errors):
    """NAME -> (file:line, lines) for every region under `examples`."""
    regions = {}
    for directory, _, files in sorted(os.walk(examples)):
        for name in sorted(files):
            path = os.path.join(directory, name)
            try:
                with open(path, encoding="utf-8") as f:
                    text = f.read().splitlines()
            except (UnicodeDecodeError, OSError):
                continue
            shown = os.path.relpath(path, ROOT)
            open_regions = []  # (name, line number, lines)
            for number, line in enumerate(text, 1):
                m = MARKER.match(line)
                if not m:
                    for region in open_regions:
                        region[2].append(line)
                    continue
                if m.group(1) != "end":
                    open_regions.append((m.group(1), number, []))
                    continue
                if not open_regions:
                    errors.append(f"{shown}:{number}: 'guide: end' without a region")
                    continue
                region, start, lines = open_regions.pop()
                where = f"{shown}:{start}"
                if region in regions:
                    errors.append(f"{where}: region '{region}' is also at {regions[region][0]}")
                regions[region] = (where, dedent(lines))
            for region, start, _ in open_regions:
                errors.append(f"{shown}:{start}: region '{region}' has no 'guide: end'")
    return regions


def check(guide, examples, write):
    errors = []
    regions = read_regions(examples, errors)
    with open(guide, encoding="utf-8") as f:
        lines = f.read().splitlines()
    shown = os.path.relpath(guide, ROOT)
    out = []
    i = 0
    wanted = None  # the region the next block quotes, with the marker's line
    while i < len(lines):
        line = lines[i]
        m = QUOTE.match(line)
        if m:
            if wanted:
                errors.append(f"{shown}:{wanted[1]}: 'guide: {wanted[0]}' is not followed by a code block")
            wanted = (m.group(1), i + 1)
            out.append(line)
            i += 1
            continue
        fence = FENCE.match(line)
        if not fence:
            if wanted and line.strip():
                errors.append(f"{shown}:{wanted[1]}: 'guide: {wanted[0]}' is not followed by a code block")
                wanted = None
            out.append(line)
            i += 1
            continue
        indent, language = fence.group(1), fence.group(2).lower()
        end = i + 1
        while end < len(lines) and not re.match(r"^\s*```\s*$", lines[end]):
            end += 1
        if end == len(lines):
            errors.append(f"{shown}:{i + 1}: code block without its closing fence")
            out.extend(lines[i:])
            break
        body = lines[i + 1:end]
        out.append(line)
        if wanted:
            name, marker_line = wanted
            if name not in regions:
                errors.append(f"{shown}:{marker_line}: no region '{name}' under {os.path.relpath(examples, ROOT)}")
                out.extend(body)
            else:
                where, expected = regions[name]
                if write:
                    out.extend(indent + l if l else "" for l in expected)
                elif dedent(body) != expected:
                    diff = difflib.unified_diff(expected, dedent(body), where, f"{shown}:{i + 2}", lineterm="")
                    errors.append(f"{shown}:{i + 2}: block differs from region '{name}' at {where}\n  " +
                                  "\n  ".join(diff))
                    out.extend(body)
                else:
                    out.extend(body)
        else:
            if language in CODE_LANGUAGES:
                errors.append(f"{shown}:{i + 1}: {language} block quotes no region (put '<!-- guide: NAME -->' above it)")
            out.extend(body)
        out.append(lines[end])
        wanted = None
        i = end + 1
    if write:
        with open(guide, "w", encoding="utf-8") as f:
            f.write("\n".join(out) + "\n")
    return errors


def main(argv):
    write = "--write" in argv
    args = [a for a in argv if a != "--write"]
    guide = os.path.abspath(args[0]) if args else os.path.join(ROOT, "docs", "guide.md")
    examples = os.path.abspath(args[1]) if len(args) > 1 else os.path.join(ROOT, "examples")
    errors = check(guide, examples, write)
    for e in errors:
        print(e, file=sys.stderr)
    if errors:
        print(f"check_guide: {len(errors)} problem(s) in {os.path.relpath(guide, ROOT)}", file=sys.stderr)
        return 1
    print(f"check_guide: every code block of {os.path.relpath(guide, ROOT)} matches its source")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
