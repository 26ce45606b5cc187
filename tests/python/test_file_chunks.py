"""Point files chunk by chunk from Python: read(path, chunk_points=N) and write() of an iterable
of chunks, against the whole-file read and write of the same points."""
import os
import subprocess
import sys

import numpy as np
import pytest

import sentova

EXTENSIONS = {"pcd": ".pcd", "pcd-binary": ".pcd", "pcd-compressed": ".pcd", "ply": ".ply",
              "ply-ascii": ".ply", "las": ".las", "csv": ".csv"}
CHUNK = 1000


def points_of(count, seed=3):
    rng = np.random.default_rng(seed)
    points = np.zeros(count, dtype=sentova.point_dtype)
    for name, low, high in [("azimuth", -180, 180), ("elevation", -90, 90), ("range", 0.5, 100),
                            ("x", -100, 100), ("y", -100, 100), ("z", -100, 100)]:
        points[name] = rng.uniform(low, high, count)
    points["amplitude"] = rng.integers(0, 65536, count)
    points["reflectance"] = rng.integers(-32768, 32768, count)
    points["pulse_shape_deviation"] = rng.integers(0, 255, count)
    points["timestamp"] = 4_000_000_001 - np.arange(count, dtype=np.uint64)
    return points


def file_of(tmp_path, name, count, stem="source"):
    path = str(tmp_path / f"{stem}{EXTENSIONS[name]}")
    sentova.write(path, points_of(count), format=name)
    return path


def content(path):
    with open(path, "rb") as f:
        return f.read()


@pytest.mark.parametrize("name", sentova.formats)
@pytest.mark.parametrize("count", [0, 1, CHUNK, CHUNK + 1])
def test_chunks_cross_their_boundaries_and_write_the_whole_files_bytes(name, count, tmp_path):
    path = file_of(tmp_path, name, count)
    whole = sentova.read(path)
    chunks = sentova.read(path, chunk_points=CHUNK)
    assert chunks.format == name
    assert chunks.count == (None if name == "csv" else count)
    pieces = list(chunks)
    assert [len(p) for p in pieces] == [CHUNK] * (count // CHUNK) + (
        [count % CHUNK] if count % CHUNK else [])
    assert all(p.dtype == sentova.point_dtype for p in pieces)
    if pieces:
        np.testing.assert_array_equal(np.concatenate(pieces), whole)
    # A second pass opens the file again and gives the same chunks.
    assert [len(p) for p in chunks] == [len(p) for p in pieces]

    expected = str(tmp_path / f"whole{EXTENSIONS[name]}")
    sentova.write(expected, whole, format=name)
    for given, label in [(chunks, "read's chunks"), (pieces, "a list of chunks")]:
        streamed = str(tmp_path / f"streamed{EXTENSIONS[name]}")
        sentova.write(streamed, given, format=name)
        assert content(streamed) == content(expected), label


def test_chunks_larger_than_the_readers_own_span_several_of_them(tmp_path):
    # The reader works in blocks of its own (8192 points); a chunk takes from several.
    path = file_of(tmp_path, "pcd-binary", 30001)
    pieces = list(sentova.read(path, chunk_points=20000))
    assert [len(p) for p in pieces] == [20000, 10001]
    np.testing.assert_array_equal(np.concatenate(pieces), sentova.read(path))
    assert [len(p) for p in sentova.read(path, chunk_points=7)][-1] == 30001 % 7


@pytest.mark.parametrize("name", sentova.formats)
def test_time_stamps_stay_exact_through_chunks(name, tmp_path):
    points = points_of(3)
    points["timestamp"] = [4_000_000_001, 2**32 - 1, 0]
    path = str(tmp_path / f"times{EXTENSIONS[name]}")
    if name == "las":
        sentova.write(path, [points[:2], points[2:]], format=name)
    else:
        sentova.write(path, (p for p in [points[:2], points[2:]]), format=name, count=3)
    back = np.concatenate(list(sentova.read(path, chunk_points=2)))
    assert back["timestamp"].tolist() == [4_000_000_001, 2**32 - 1, 0]


def test_a_conversion_between_formats_matches_the_whole_file_one(tmp_path):
    source = file_of(tmp_path, "ply", 2 * CHUNK + 17)
    for name in ("las", "pcd-binary", "pcd-compressed", "csv"):
        whole = str(tmp_path / f"whole{EXTENSIONS[name]}")
        streamed = str(tmp_path / f"streamed{EXTENSIONS[name]}")
        sentova.write(whole, sentova.read(source), format=name)
        sentova.write(streamed, sentova.read(source, chunk_points=CHUNK), format=name)
        assert content(streamed) == content(whole), name


def test_a_generator_needs_count_for_a_header_and_is_refused_for_las(tmp_path):
    points = points_of(2 * CHUNK + 1)
    expected = str(tmp_path / "whole.ply")
    sentova.write(expected, points)

    def chunks():
        for at in range(0, len(points), CHUNK):
            yield points[at:at + CHUNK]

    path = str(tmp_path / "out.ply")
    with pytest.raises(ValueError, match="count="):
        sentova.write(path, chunks())
    sentova.write(path, chunks(), count=len(points))
    assert content(path) == content(expected)
    with pytest.raises(ValueError, match="not the 5 of count"):
        sentova.write(path, chunks(), count=5)
    assert content(path) == content(expected)  # the file there before is kept
    with pytest.raises(ValueError, match="bounds"):
        sentova.write(str(tmp_path / "out.las"), chunks())
    # CSV declares no count: one pass over a generator will do.
    csv = str(tmp_path / "out.csv")
    sentova.write(csv, chunks())
    sentova.write(str(tmp_path / "whole.csv"), points)
    assert content(csv) == content(str(tmp_path / "whole.csv"))
    assert sorted(os.listdir(tmp_path)) == ["out.csv", "out.ply", "whole.csv", "whole.ply"]


def test_bad_chunks_are_refused_and_leave_no_file(tmp_path):
    points = points_of(10)
    path = str(tmp_path / "out.pcd")
    with pytest.raises(TypeError, match="chunk 1 is a list"):
        sentova.write(path, [points, [1, 2, 3]])
    with pytest.raises(ValueError, match="chunk 1: points lack the fields y, z"):
        sentova.write(path, [points, np.zeros(2, dtype=[("x", "f8")])])
    xyz = np.zeros(2, dtype=[("x", "f8"), ("y", "f8"), ("z", "f8")])
    with pytest.raises(ValueError, match="chunk 2 has the fields x y z, the first chunk "
                                         "x y z az el range amplitude"):
        sentova.write(path, [points, points, xyz])

    def failing():
        yield points
        raise RuntimeError("the source broke")

    with pytest.raises(RuntimeError, match="the source broke"):
        sentova.write(path, failing(), count=20)
    assert os.listdir(tmp_path) == []
    with pytest.raises(ValueError, match="not the 3 of count"):
        sentova.write(path, points, count=3)


def test_chunks_that_change_between_the_two_passes_are_refused(tmp_path):
    class Growing:
        passes = 0

        def __iter__(self):
            Growing.passes += 1
            return iter([points_of(Growing.passes)])

    with pytest.raises(ValueError, match="changed between the two passes"):
        sentova.write(str(tmp_path / "out.las"), Growing())
    assert os.listdir(tmp_path) == []


def test_bad_files_and_chunk_sizes_raise_clear_errors(tmp_path):
    path = file_of(tmp_path, "ply", 3 * CHUNK)
    for bad in (0, -1):
        with pytest.raises(ValueError, match=f"chunk_points must be 1 or more, not {bad}"):
            sentova.read(path, chunk_points=bad)
    with pytest.raises(TypeError):
        sentova.read(path, chunk_points="many")
    with pytest.raises(FileNotFoundError):
        sentova.read(str(tmp_path / "none.ply"), chunk_points=10)
    damaged = tmp_path / "damaged.ply"
    damaged.write_bytes(b"ply\nformat binary_little_endian 1.0\nelement vertex 10\n")
    with pytest.raises(sentova.FormatError) as header:
        sentova.read(str(damaged), chunk_points=10)
    assert header.value.filename == str(damaged)

    # Damage that no header shows: the chunks before it are handed out, then the error.
    text = file_of(tmp_path, "csv", 30 * CHUNK)
    rows = content(text).split(b"\n")
    rows[29 * CHUNK + 10] = b"1,2,not a number" + rows[29 * CHUNK + 10]
    damaged = tmp_path / "damaged.csv"
    damaged.write_bytes(b"\n".join(rows))
    chunks = iter(sentova.read(str(damaged), chunk_points=CHUNK))
    handed = []
    with pytest.raises(sentova.FormatError, match=f"line {29 * CHUNK + 11}:") as late:
        while True:
            handed.append(len(next(chunks)))
    assert late.value.filename == str(damaged)
    assert 0 < len(handed) < 30 and set(handed) == {CHUNK}
    with pytest.raises(StopIteration):
        next(chunks)
    with pytest.raises(sentova.FormatError):
        sentova.write(str(tmp_path / "out.pcd"), sentova.read(str(damaged), chunk_points=CHUNK))
    assert not (tmp_path / "out.pcd").exists()


CONVERT = """
import resource, sys
import numpy as np
import sentova
source, target, n, chunk = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
def made():
    for at in range(0, n, chunk):
        points = np.zeros(min(chunk, n - at), dtype=sentova.point_dtype)
        points["x"] = np.arange(at, at + len(points))
        yield points
sentova.write(source, made(), count=n)
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
sentova.write(target, sentova.read(source, chunk_points=chunk))
after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(after - before)
"""


def test_a_conversion_in_chunks_needs_memory_for_a_chunk_not_the_file(tmp_path):
    n, chunk = 3_000_000, 50_000
    ran = subprocess.run([sys.executable, "-c", CONVERT, str(tmp_path / "big.ply"),
                          str(tmp_path / "big.las"), str(n), str(chunk)],
                         capture_output=True, text=True, timeout=240, check=True)
    grown_kb = int(ran.stdout.strip())
    # The whole file as points would take 3,000,000 x (80 + 56) bytes, about 400 MB.
    assert grown_kb < 64 * 1024, f"peak memory grew by {grown_kb} kB during the conversion"
    last = list(sentova.read(str(tmp_path / "big.las"), chunk_points=chunk))[-1]
    assert len(last) == chunk
    assert last["x"][-1] == pytest.approx(n - 1, abs=1e-3)
