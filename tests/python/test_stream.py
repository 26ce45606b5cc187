"""The laser stream in Python: a session's, and a listener's on a stream started elsewhere."""
import os
import threading

import numpy as np
import pytest

import sentova
from conftest import tool, wait_for, wait_until_blocked

FIELDS = ("azimuth", "elevation", "range", "timestamp", "amplitude", "reflectance",
          "pulse_shape_deviation", "x", "y", "z")


def check_points(points):
    assert points.dtype.names == FIELDS
    assert points.dtype["timestamp"] == np.uint32
    assert len(points) > 0
    # The viewer's conversion: azimuth 0 along +y, 90 along +x, elevation 90 along +z.
    az = np.radians(points["azimuth"])
    el = np.radians(points["elevation"])
    r = points["range"]
    np.testing.assert_allclose(points["x"], r * np.cos(el) * np.sin(az), atol=1e-9)
    np.testing.assert_allclose(points["y"], r * np.cos(el) * np.cos(az), atol=1e-9)
    np.testing.assert_allclose(points["z"], r * np.sin(el), atol=1e-9)


def test_session_streams_whole_frames_of_a_scan(sim, port):
    sim.start("LX30")
    with sentova.Session(sim.address, port=port) as session:
        assert session.model is None
        session.device.start_bounded_elevation_scan(10.0, -35.0, -25.0, 5)
        session.start_stream()
        assert session.model == "lx30"  # from the serial number
        frames = [session.next_frame(timeout=10) for _ in range(2)]
        assert all(f is not None for f in frames)
        for frame in frames:
            check_points(frame)
            # Half-second frames of about 12,500 points on the scan's lines.
            assert len(frame) == pytest.approx(12500, rel=0.05)
            assert frame["elevation"].min() >= -35.01
            assert frame["elevation"].max() <= -24.99
            assert np.all(np.diff(frame["timestamp"].astype(np.int64)) > 0)
        # Consecutive: the second frame begins where the first ended.
        assert int(frames[1]["timestamp"][0]) > int(frames[0]["timestamp"][-1])
        # A poll without waiting still takes what has come.
        wait_for(lambda: session.next_frame(timeout=0) is not None, what="a polled frame")
        stats = session.statistics
        assert stats["datagrams"] > 0 and stats["points"] >= sum(map(len, frames))
        assert stats["queue_drops"] == 0 and stats["kernel_drops"] == 0
    # Closing stopped what the session started, the scan included, as the simulator saw it.
    assert session.listening is False
    commands = [line.split()[1] for line in sim.log.read_text().splitlines()]
    started = commands.index("SVRRBE")
    assert "SVSRBE" in commands[started:] and "SVSTOP" in commands[started:]


def test_session_iterators_end_when_closed(sim, port):
    sim.start("LX30")
    session = sentova.Session(sim.address, model="lx30", port=port)
    session.start_stream()
    batches = session.batches()
    first = next(batches)
    check_points(first)
    session.close()
    assert list(session.frames()) == []


def test_listener_receives_a_stream_started_elsewhere(sim, port):
    sim.start("LX30")
    with sentova.Listener(sim.address, port) as listener:
        assert listener.port == port
        tool("laser", "start", sim.address, "--port", port)
        try:
            received = 0
            for batch in listener:
                check_points(batch)
                received += len(batch)
                if received > 1000:
                    break
            assert listener.statistics["points"] >= received
        finally:
            tool("laser", "stop", sim.address)
    assert not listener.listening


def test_a_reader_that_falls_behind_loses_counted_batches(sim, port):
    sim.start("LX30")
    with sentova.Listener(sim.address, port, queue_points=500) as listener:
        tool("laser", "start", sim.address, "--port", port)
        try:
            wait_for(lambda: listener.statistics["reader_batches_dropped"] > 0,
                     what="a batch dropped by the reader's queue")
        finally:
            tool("laser", "stop", sim.address)
        # What was kept is still there, within the limit. Datagrams sent before the stop may
        # still arrive after it: the figures are read once the stream has gone quiet.
        kept = 0
        while (batch := listener.next_batch(timeout=0.5)) is not None:
            kept += len(batch)
        stats = listener.statistics
        assert stats["queue_points_dropped"] > 0
        assert 0 < kept <= stats["points"] - stats["queue_points_dropped"]


def test_one_listener_per_port(sim, port):
    with sentova.Listener(sim.address, port):
        with pytest.raises(OSError, match=f"port {port}"):
            sentova.Listener(sim.address, port)


def test_an_armed_frame_capture_gives_one_whole_frame(sim, port):
    sim.start("LX30")
    with sentova.Session(sim.address, model="lx30", port=port) as session:
        session.arm_frame_capture()
        assert session.listening
        session.device.start_bounded_elevation_scan(10.0, -35.0, -25.0, 5)
        # The device starts the stream at a frame's start and stops it at its end; the start
        # notification may come before the first data or just after it.
        frame = session.next_frame(timeout=10)
        assert frame is not None
        check_points(frame)
        assert len(frame) == pytest.approx(12500, rel=0.05)
        assert session.statistics["points"] >= len(frame)


def test_closing_from_another_thread_ends_a_wait(port):
    listener = sentova.Listener("127.0.0.1", port)
    results = []
    reader = threading.Thread(target=lambda: results.append(listener.next_batch()))
    reader.start()
    wait_until_blocked(os.getpid(), reader.native_id, what="the reader waiting for a batch")
    listener.close()
    reader.join(5)
    assert not reader.is_alive()
    assert results == [None]
    assert list(listener) == []


def test_a_stream_without_frames_holds_no_more_than_the_point_limit(sim, port):
    sim.start("LX30")
    with sentova.Listener(sim.address, port, queue_points=500) as listener:
        tool("laser", "start", sim.address, "--port", port)
        try:
            # Without a scan the raster never starts over: one frame that never closes.
            wait_for(lambda: listener.next_frame(timeout=0.05) is None
                     and listener.statistics["frame_points_dropped"] > 0,
                     what="points dropped from the open frame")
        finally:
            tool("laser", "stop", sim.address)
