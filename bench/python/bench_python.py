"""The Python module's figures beside the C++ reader's, in one run:

- a recording to NumPy points: sentova.Recording(path).points() against the C++ reader
  (python_bench_peer read), points per second;
- a point file to NumPy and back: sentova.read of a binary PLY file (x, y, z, amplitude) beside
  NumPy's own np.fromfile of its body, and sentova.write of the array read beside tofile of
  NumPy's, each in a process of its own: seconds and peak memory;
- the live stream into Python: the simulator replays a recording paced at 1,000,000 points
  per second, then as fast as it can, into a sentova.Listener read by Python; points
  received, dropped and per second.

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/python/bench_python.py BUILD [POINTS]
       [FILE_POINTS, default 10,000,000]
"""
import os
import subprocess
import sys
import tempfile
import time

import sentova

ADDRESS = "127.85.0.2"
PORT = 48960
RATE = 1_000_000


def peer(build, *args):
    return subprocess.run([os.path.join(build, "bench/python/python_bench_peer"), *map(str, args)],
                          check=True, capture_output=True, text=True).stdout


def recording_to_numpy(build, path, points):
    peer(build, "write", path, points, RATE)
    cxx_points, cxx_frames, cxx_seconds, records, records_seconds = peer(build, "read",
                                                                          path).split()
    start = time.perf_counter()
    rec = sentova.Recording(path)
    array = rec.points()
    py_seconds = time.perf_counter() - start
    print(f"{'recording to observations, C++ reader':40} {int(cxx_points):10d} points, "
          f"{int(cxx_frames):4d} frames, {int(cxx_points) / float(cxx_seconds):12.0f} points/s")
    print(f"{'recording to point records, C++ reader':40} {int(records):10d} points, "
          f"{'':11} {int(records) / float(records_seconds):12.0f} points/s")
    print(f"{'recording to NumPy, sentova.Recording':40} {len(array):10d} points, "
          f"{len(rec):4d} frames, {len(array) / py_seconds:12.0f} points/s")


def child(code, *args):
    """Runs code in a new interpreter: the seconds it printed, and its own peak resident MiB."""
    out = subprocess.run([sys.executable, "-c", code + PEAK, *map(str, args)], check=True,
                         capture_output=True, text=True).stdout.split()
    return float(out[0]), float(out[1]) / 1024.0


# VmHWM, as ru_maxrss would hold the parent's peak from before the exec.
PEAK = """
print(next(l.split()[1] for l in open("/proc/self/status") if l.startswith("VmHWM:")))
"""

READ = """
import sys, time, sentova
start = time.perf_counter()
points = sentova.read(sys.argv[1])
assert len(points) == int(sys.argv[2])
print(time.perf_counter() - start)
"""

WRITE = """
import sys, time, sentova
points = sentova.read(sys.argv[1])
start = time.perf_counter()
sentova.write(sys.argv[1] + ".out.ply", points)
print(time.perf_counter() - start)
"""

TOFILE = """
import sys, time, numpy as np
dtype = np.dtype([("x", "<f4"), ("y", "<f4"), ("z", "<f4"), ("amplitude", "<f4")])
points = np.zeros(int(sys.argv[2]), dtype=dtype)
points["x"] = np.arange(len(points))  # every page in memory, as the array ours writes
start = time.perf_counter()
points.tofile(sys.argv[1] + ".out.bin")
print(time.perf_counter() - start)
"""

FROMFILE = """
import sys, time, numpy as np
start = time.perf_counter()
with open(sys.argv[1], "rb") as f:
    head = f.read(4096)
body = head.index(b"end_header\\n") + len("end_header\\n")
dtype = np.dtype([("x", "<f4"), ("y", "<f4"), ("z", "<f4"), ("amplitude", "<f4")])
points = np.fromfile(sys.argv[1], dtype=dtype, offset=body)
assert len(points) == int(sys.argv[2])
print(time.perf_counter() - start)
"""


def point_file_to_numpy(folder, points):
    import numpy as np
    path = os.path.join(folder, "points.ply")
    array = np.zeros(points, dtype=sentova.point_dtype)
    array["x"] = np.arange(points) * 0.001
    array["y"] = -array["x"]
    array["z"] = np.arange(points) % 997
    array["amplitude"] = np.arange(points) % 4096
    sentova.write(path, array[["x", "y", "z", "amplitude"]], format="ply")
    del array
    # The write's peak includes the array written (80 bytes a point for ours, 16 for NumPy's).
    for what, code in [("point file to NumPy, np.fromfile (peer)", FROMFILE),
                       ("point file to NumPy, sentova.read", READ),
                       ("NumPy to point file, tofile (peer)", TOFILE),
                       ("NumPy to point file, sentova.write", WRITE)]:
        seconds, peak = child(code, path, points)
        print(f"{what:40} {points:10d} points, {seconds:6.2f} s, peak {peak:7.0f} MiB, "
              f"{points / seconds:12.0f} points/s")

def live(build, path, points, fast):
    args = [os.path.join(build, "sim/sentova-sim"), "--address", ADDRESS, "--quiet",
            "--model", "generic", "--replay", path]
    if fast:
        args.append("--as-fast-as-possible")
    sim = subprocess.Popen(args, stderr=subprocess.DEVNULL)
    tool = os.path.join(build, "cli/sentova")
    try:
        with sentova.Listener(ADDRESS, PORT) as listener:
            # Ready once it answers; then the stream starts.
            deadline = time.monotonic() + 10
            while subprocess.run([tool, "info", ADDRESS], capture_output=True).returncode != 0:
                if time.monotonic() > deadline:
                    raise SystemExit("the simulator does not answer")
            subprocess.run([tool, "laser", "start", ADDRESS, "--port", str(PORT), "--model",
                            "generic"], check=True, capture_output=True)
            received = 0
            first = last = None
            while received < points:
                batch = listener.next_batch(timeout=1.0)
                if batch is None:
                    break  # the replay has ended, or what is missing is lost
                last = time.perf_counter()
                first = first or last
                received += len(batch)
            stats = listener.statistics
            subprocess.run([tool, "laser", "stop", ADDRESS], capture_output=True)
    finally:
        sim.terminate()
        sim.wait(5)
    seconds = (last - first) if first and last and last > first else float("nan")
    what = "live into Python, " + ("as fast as possible" if fast else f"paced at {RATE}/s")
    print(f"{what:40} {received:10d} of {points} points, {points - received:8d} lost "
          f"(kernel {stats['kernel_drops']}, queue {stats['queue_drops']} datagrams, "
          f"Python's queue {stats['reader_batches_dropped']} batches), "
          f"{received / seconds:12.0f} points/s")


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    build = sys.argv[1]
    points = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    file_points = int(sys.argv[3]) if len(sys.argv) > 3 else 10_000_000
    with tempfile.TemporaryDirectory() as folder:
        point_file_to_numpy(folder, file_points)
        path = os.path.join(folder, "paced.pcap")
        recording_to_numpy(build, path, points)
        live(build, path, points, fast=False)
        live(build, path, points, fast=True)


if __name__ == "__main__":
    main()
