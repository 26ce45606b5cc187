"""Recordings and point files from Python: read as the command-line tool reads them, written in
every format and read back."""
import json
import os
import struct
import subprocess
import sys

import numpy as np
import pytest

import sentova
from conftest import tool

# 5 lines at 10 turns per second: half-second frames of about 12,500 points.
FRAME_SCAN = ["--scan", "bounded", "--el-min", "-35", "--el-max", "-25", "--speed", "10",
              "--lines", "5"]
ALL_FIELDS = "x,y,z,az,el,range,amplitude,reflectance,pulseShapeDeviation,timestamp"


@pytest.fixture
def recording(sim, port, tmp_path):
    sim.start("LX30")
    path = tmp_path / "session.pcap"
    tool("record", sim.address, "-o", path, "--port", port, "--seconds", "2.2", "--quiet",
         *FRAME_SCAN)
    return path


def test_recording_frames_are_the_tools_frames_point_for_point(recording, tmp_path):
    rec = sentova.Recording(str(recording))
    listed = json.loads(tool("frames", recording, "--json").stdout)
    assert len(rec) == len(listed) >= 4
    assert [f["points"] for f in rec.frame_info] == [f["points"] for f in listed]
    assert [f["complete"] for f in rec.frame_info] == [f["complete"] for f in listed]
    assert [len(frame) for frame in rec] == [f["points"] for f in listed]
    assert rec.problems == ""

    for k in (0, 2, len(rec) - 1):
        converted = tmp_path / f"frame{k}.pcd"
        tool("convert", recording, converted, "--frame", k, "--format", "pcd-binary",
             "--fields", ALL_FIELDS, "-q")
        expected = sentova.read(str(converted))
        frame = rec[k]
        assert len(frame) == len(expected) > 0
        np.testing.assert_array_equal(frame["timestamp"], expected["timestamp"])
        assert frame["reflectance"].any()
        # The tool's point record keeps the device's values in single precision; of a
        # recording, whose model it does not know, it keeps no reflectance or pulse shape
        # deviation, which the module's points carry as received.
        for name in ("azimuth", "elevation", "range", "amplitude"):
            np.testing.assert_array_equal(frame[name].astype(np.float32),
                                          expected[name].astype(np.float32), err_msg=name)
        for name in ("x", "y", "z"):
            np.testing.assert_allclose(frame[name], expected[name], rtol=1e-6, atol=1e-6,
                                       err_msg=name)
    assert np.array_equal(rec[-1], rec[len(rec) - 1])
    with pytest.raises(IndexError, match=f"no frame {len(rec)}"):
        rec[len(rec)]


def test_recording_points_are_every_frame_in_order(recording):
    rec = sentova.Recording(str(recording))
    points = rec.points()
    assert len(points) == sum(f["points"] for f in rec.frame_info)
    np.testing.assert_array_equal(points, np.concatenate(list(rec)))
    assert rec.device  # the laser source, dotted decimal


def write_repeated(recording, path, copies):
    """The recording's packets over and over, each copy later than the one before, as a longer
    session of the same scan would have them."""
    data = recording.read_bytes()
    assert data[:4] == b"\xd4\xc3\xb2\xa1"  # little-endian pcap, microsecond times
    packets = []
    at = 24
    while at < len(data):
        seconds, micros, length, original = struct.unpack_from("<IIII", data, at)
        packets.append((seconds * 1_000_000 + micros, data[at + 16:at + 16 + length], original))
        at += 16 + length
    span = packets[-1][0] - packets[0][0] + 100_000
    with open(path, "wb") as out:
        out.write(data[:24])
        for copy in range(copies):
            for micros, packet, original in packets:
                micros += copy * span
                out.write(struct.pack("<IIII", micros // 1_000_000, micros % 1_000_000,
                                      len(packet), original))
                out.write(packet)


# Iterates a recording in a process of its own, so that its peak memory is the iteration's:
# an iteration given up half way first, then every frame. The peak before is the interpreter's
# and the module's; the resident size could have shrunk below it since, on a busy machine.
ITERATE = """
import json, resource, sys
import sentova

rec = sentova.Recording(sys.argv[1], frame_points=int(sys.argv[2]))
abandoned = iter(rec)
next(abandoned)
next(abandoned)
del abandoned
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
sizes, sums = [], []
for frame in rec:
    sizes.append(len(frame))
    sums.append(int(frame["timestamp"].sum()))
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(json.dumps({"sizes": sizes, "sums": sums, "grown_kib": peak - before}))
"""


def test_a_recording_larger_than_the_open_frames_bound_streams_frame_by_frame(recording,
                                                                               tmp_path):
    long = tmp_path / "long.pcap"
    write_repeated(recording, long, 40)
    listed = json.loads(tool("frames", long, "--json").stdout)
    bound = 2 * max(f["points"] for f in listed)
    assert sum(f["points"] for f in listed) > 20 * bound

    ran = subprocess.run([sys.executable, "-c", ITERATE, str(long), str(bound)],
                         capture_output=True, text=True, timeout=120, env=os.environ)
    assert ran.returncode == 0, ran.stderr
    streamed = json.loads(ran.stdout)
    assert streamed["sizes"] == [f["points"] for f in listed]
    # Every point held at once would take several times the file's size.
    assert streamed["grown_kib"] * 1024 < long.stat().st_size / 4, streamed["grown_kib"]

    # The frames read back alone from where the index found them are the streamed ones.
    rec = sentova.Recording(str(long), frame_points=bound)
    assert len(rec) == len(listed)
    for k in (0, 1, len(rec) // 2, len(rec) - 1):
        assert int(rec[k]["timestamp"].sum()) == streamed["sums"][k], k
    assert [f["points"] for f in rec.frame_info] == streamed["sizes"]


def sample_points(count=1000):
    rng = np.random.default_rng(7)
    points = np.zeros(count, dtype=sentova.point_dtype)
    points["azimuth"] = rng.uniform(-180, 180, count)
    points["elevation"] = rng.uniform(-90, 90, count)
    points["range"] = rng.uniform(0.5, 100, count)
    points["timestamp"] = rng.integers(0, 2**32, count, dtype=np.uint64)
    points["amplitude"] = rng.integers(0, 65536, count)
    points["reflectance"] = rng.integers(-32768, 32768, count)
    points["pulse_shape_deviation"] = rng.integers(0, 255, count)
    points["x"] = rng.uniform(-100, 100, count)
    points["y"] = rng.uniform(-100, 100, count)
    points["z"] = rng.uniform(-100, 100, count)
    return points


EXTENSIONS = {"pcd": ".pcd", "pcd-binary": ".pcd", "pcd-compressed": ".pcd", "ply": ".ply",
              "ply-ascii": ".ply", "las": ".las", "csv": ".csv"}


def test_arrays_of_any_layout_are_written_as_their_values(tmp_path):
    """An array is written a slice at a time: views with strides, columns in the other byte
    order or of other types, and more points than one slice all give their own values."""
    n = 20000
    base = np.zeros(2 * n, dtype=sentova.point_dtype)
    base["x"] = np.arange(2 * n) * 0.5 - 7.5  # values the text keeps exactly
    base["y"] = np.arange(2 * n) * -0.25
    base["z"] = np.arange(2 * n) % 997 + 0.125
    base["amplitude"] = np.arange(2 * n) % 4096
    base["timestamp"] = np.arange(2 * n) * 3 + 2**31
    expected = base[::2]
    swapped = expected[["x", "y", "z", "amplitude", "timestamp"]].astype(
        [("x", ">f8"), ("y", ">f8"), ("z", "<f4"), ("amplitude", ">u2"), ("timestamp", ">i8")])
    arrays = {"strided": expected, "other types and byte order": swapped,
              "two-dimensional": np.ascontiguousarray(expected).reshape(100, n // 100)}
    for name, array in arrays.items():
        path = tmp_path / "points.csv"
        sentova.write(str(path), array)
        back = sentova.read(str(path))
        assert len(back) == n, name
        for field in ("x", "y", "z", "amplitude", "timestamp"):
            np.testing.assert_array_equal(back[field], expected[field], err_msg=f"{name}: {field}")


@pytest.mark.parametrize("name", sentova.formats)
def test_every_format_is_written_and_read_back(name, tmp_path):
    points = sample_points()
    path = tmp_path / f"points{EXTENSIONS[name]}"
    sentova.write(str(path), points, format=name)
    back = sentova.read(str(path))
    assert len(back) == len(points)
    np.testing.assert_array_equal(back["timestamp"], points["timestamp"])
    # LAS stores coordinates scaled to integers; text formats keep six decimals.
    for field in ("x", "y", "z"):
        np.testing.assert_allclose(back[field], points[field], atol=1e-3, err_msg=field)
    np.testing.assert_allclose(back["amplitude"], points["amplitude"], err_msg="amplitude")
    if name != "las":
        for field in ("azimuth", "elevation", "range", "reflectance", "pulse_shape_deviation"):
            np.testing.assert_allclose(back[field], points[field], rtol=1e-6, atol=1e-5,
                                       err_msg=field)


@pytest.mark.parametrize("name", ["pcd", "pcd-binary", "ply", "ply-ascii"])
def test_open3d_reads_what_is_written(name, tmp_path):
    o3d = pytest.importorskip("open3d")
    points = sample_points(200)
    path = tmp_path / f"points{EXTENSIONS[name]}"
    sentova.write(str(path), points, format=name)
    cloud = o3d.io.read_point_cloud(str(path))
    xyz = np.column_stack([points["x"], points["y"], points["z"]])
    np.testing.assert_allclose(np.asarray(cloud.points), xyz, atol=1e-5)


def test_the_format_follows_the_extension(tmp_path):
    points = sample_points(10)
    sentova.write(str(tmp_path / "a.csv"), points)
    assert (tmp_path / "a.csv").read_text().splitlines()[0].startswith("x")
    with pytest.raises(ValueError, match="names no format"):
        sentova.write(str(tmp_path / "a.xyz"), points)
    with pytest.raises(ValueError, match="unknown format 'e57'"):
        sentova.write(str(tmp_path / "a.pcd"), points, format="e57")


def test_arrays_need_coordinates(tmp_path):
    path = str(tmp_path / "a.pcd")
    flat = np.zeros(4, dtype=[("x", "f8"), ("azimuth", "f4")])
    with pytest.raises(ValueError, match="points lack the fields y, z"):
        sentova.write(path, flat)
    with pytest.raises(ValueError, match="structured array"):
        sentova.write(path, np.zeros((4, 3)))
    # Any numeric types and only some fields will do; the rest reads back as zero.
    xyz = np.zeros(3, dtype=[("x", "f4"), ("y", "i2"), ("z", "f8")])
    xyz["y"] = [1, 2, 3]
    sentova.write(path, xyz)
    back = sentova.read(path)
    np.testing.assert_array_equal(back["y"], [1, 2, 3])
    np.testing.assert_array_equal(back["range"], 0)


def test_missing_files(tmp_path):
    missing = str(tmp_path / "none.pcd")
    with pytest.raises(FileNotFoundError) as read:
        sentova.read(missing)
    assert read.value.filename == missing
    with pytest.raises(FileNotFoundError):
        sentova.Recording(str(tmp_path / "none.pcap"))


@pytest.mark.parametrize("name, content", [
    ("bad.pcd", b"# .PCD v0.7\nVERSION 0.7\nFIELDS x y\nSIZE 4\n"),
    ("bad.ply", b"ply\nformat binary_little_endian 1.0\nelement vertex 10\n"),
    ("bad.las", b"LASF" + bytes(50)),
    # Points read before the damage shows are not handed out, and a count far beyond the
    # file's size is damage, not a want of memory.
    ("cut.ply", b"ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty float x\n"
                b"property float y\nproperty float z\nend_header\n" + bytes(18)),
    ("huge.ply", b"ply\nformat ascii 1.0\nelement vertex 4000000000\nproperty float x\n"
                 b"property float y\nproperty float z\nend_header\n1 2 3\n"),
    ("bad.pcap", b"\xd4\xc3\xb2\xa1" + bytes(7)),
    ("bad.pcapng", b"not a capture at all"),
])
def test_damaged_files_raise_format_errors_naming_them(name, content, tmp_path):
    path = tmp_path / name
    path.write_bytes(content)
    with pytest.raises(sentova.FormatError) as damaged:
        if name.startswith("bad.pcap"):
            sentova.Recording(str(path))
        else:
            sentova.read(str(path))
    assert str(path) in str(damaged.value)
    assert damaged.value.filename == str(path)


def test_time_stamps_of_any_dtype_are_kept_or_rounded_as_a_file_rounds_them(tmp_path):
    path = str(tmp_path / "times.csv")
    for dtype, given, expected in [
            (np.int64, [-5, 0, 2**32 - 1], [0, 0, 2**32 - 1]),
            (np.float64, [-1.5, 1.5, 2.4, np.nan], [0, 2, 2, 0]),
            (np.uint64, [2**32 - 1, 7], [2**32 - 1, 7])]:
        points = np.zeros(len(given), dtype=[("x", "f8"), ("y", "f8"), ("z", "f8"),
                                             ("timestamp", dtype)])
        points["timestamp"] = given
        sentova.write(path, points)
        np.testing.assert_array_equal(sentova.read(path)["timestamp"], expected,
                                      err_msg=str(dtype))
