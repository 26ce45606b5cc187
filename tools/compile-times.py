#!/usr/bin/python3
"""Where a build tree's compile time went, from its .ninja_log.

Sums the steps' durations per source folder (tests/viewer, modules/formats, ...)
and lists the slowest units. The durations are wall times of steps that ran
side by side, so they are comparable between runs only at the same -j and load;
for a load-independent total, time the whole build (/usr/bin/time).

    tools/compile-times.py <build folder> [--top N]
"""
import argparse
import os
import sys


def read_log(path):
    """The last entry of each output: {output: milliseconds}."""
    steps = {}
    with open(path) as log:
        for line in log:
            if line.startswith("#"):
                continue
            fields = line.rstrip("\n").split("\t")
            if len(fields) < 4:
                continue
            start, end, output = int(fields[0]), int(fields[1]), fields[3]
            steps[output] = end - start
    return steps


def folder_of(output):
    """tests/viewer/CMakeFiles/x.dir/A.cpp.o -> tests/viewer; the folder that
    holds a target's CMakeFiles, at most two levels deep."""
    parts = output.split("/")
    if "CMakeFiles" in parts:
        parts = parts[: parts.index("CMakeFiles")]
    else:
        parts = parts[:-1]
    return "/".join(parts[:2]) or "(top)"


def kind_of(output):
    if output.endswith((".cxx.gch", ".hxx.gch", ".hxx.pch", ".cxx.pch")):
        return "precompiled headers"
    if output.endswith(".o"):
        return "compile"
    if output.endswith((".a", ".so")) or ".so." in output or "/" not in output or "." not in os.path.basename(output):
        return "link"
    return "other"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--top", type=int, default=20)
    args = parser.parse_args()
    steps = read_log(os.path.join(args.build, ".ninja_log"))
    if not steps:
        sys.exit("no steps in the log")

    total = sum(steps.values())
    by_folder, by_kind = {}, {}
    for output, ms in steps.items():
        by_folder[folder_of(output)] = by_folder.get(folder_of(output), 0) + ms
        by_kind[kind_of(output)] = by_kind.get(kind_of(output), 0) + ms

    print(f"{len(steps)} steps, {total / 1000:.0f} s in all")
    print("\nby kind")
    for kind, ms in sorted(by_kind.items(), key=lambda item: -item[1]):
        print(f"  {ms / 1000:8.1f} s {100 * ms / total:5.1f}%  {kind}")
    print("\nby folder")
    for folder, ms in sorted(by_folder.items(), key=lambda item: -item[1]):
        print(f"  {ms / 1000:8.1f} s {100 * ms / total:5.1f}%  {folder}")
    print(f"\nslowest {args.top} steps")
    for output, ms in sorted(steps.items(), key=lambda item: -item[1])[: args.top]:
        print(f"  {ms / 1000:8.1f} s  {output}")


if __name__ == "__main__":
    main()
