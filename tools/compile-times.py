#!/usr/bin/python3
"""Where a build tree's compile time went.

Sums the steps' times per source folder (tests/viewer, modules/formats, ...) and
lists the slowest steps. From the tree's .ninja_log, the times are wall times of
steps that ran side by side, comparable only at the same -j and load; from the
log of tools/cpu-time-launcher.sh they are CPU seconds, which are not.

    tools/compile-times.py <build folder> [--cpu-log FILE] [--top N]
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
            if os.path.isabs(output):  # outputs CMake names by their full path
                output = os.path.relpath(output, os.path.dirname(os.path.abspath(path)))
            steps[output] = end - start
    return steps


def read_cpu_log(path):
    """Lines of "user system output": {output: milliseconds}."""
    steps = {}
    with open(path) as log:
        for line in log:
            fields = line.split()
            if len(fields) != 3:
                continue  # a failed step's status line
            try:
                steps[fields[2]] = round(1000 * (float(fields[0]) + float(fields[1])))
            except ValueError:
                continue
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
    parser.add_argument("--cpu-log")
    parser.add_argument("--top", type=int, default=20)
    args = parser.parse_args()
    if args.cpu_log:
        steps = read_cpu_log(args.cpu_log)
    else:
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
