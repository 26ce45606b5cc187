"""The device facade from Python, against the simulator process."""
import signal
import subprocess
import sys

import pytest

import sentova
from conftest import process_address, wait_for, wait_until_blocked


def test_operations_reach_the_device(sim):
    sim.start("LX30")
    with sentova.Device(sim.address) as device:
        assert "LX30" in device.serial()
        device.verify_lib_version()
        device.move_to(30.0, 10.0, 900.0)
        wait_for(lambda: device.aperture_angles() == pytest.approx((30.0, 10.0), abs=1e-3),
                 what="the aperture at 30, 10")
        assert isinstance(device.state(), str)
        device.response_timeout = 300
        assert device.response_timeout == 300
        device.stop()
    assert device.closed
    with pytest.raises(ValueError, match="closed"):
        device.serial()


def test_device_refusal_carries_the_code_and_the_library_text(sim):
    sim.start("LX30", homed=False)
    device = sentova.Device(sim.address)
    with pytest.raises(sentova.DeviceError) as refused:
        device.start_full_field_scan(5.0, 10)
    assert refused.value.code == 4  # not homed
    assert str(refused.value) == sentova.Device.error_string(4)
    assert str(refused.value).startswith("Error 0x04: ")
    assert refused.value.operation == "StartFullFieldScan"
    assert not isinstance(refused.value, sentova.DeviceTimeout)


def test_silence_is_a_timeout():
    device = sentova.Device(process_address(1))  # nothing listens there
    device.response_timeout = 100
    with pytest.raises(sentova.DeviceTimeout) as silent:
        device.serial()
    assert silent.value.code == 254
    assert isinstance(silent.value, sentova.DeviceError)


@pytest.mark.parametrize("make", [sentova.Device, sentova.Session,
                                  lambda a: sentova.Listener(a, 1)])
@pytest.mark.parametrize("address", ["1.2.3", "localhost", "1.2.3.4 ", "300.1.1.1"])
def test_malformed_addresses_are_value_errors(make, address):
    with pytest.raises(ValueError, match=f"^'{address}' is not an IPv4 address"):
        make(address)


def test_unknown_model_is_a_value_error(sim):
    with pytest.raises(ValueError, match="unknown model 'lx99'"):
        sentova.Session(sim.address, model="lx99")


def test_ctrl_c_ends_a_wait_on_the_network(port):
    # The child waits with no limit on a stream nobody sends; SIGINT must end it promptly.
    script = (
        "import signal, sentova\n"
        # A shell may have started the tests with SIGINT ignored; Python then keeps it so.
        "signal.signal(signal.SIGINT, signal.default_int_handler)\n"
        f"listener = sentova.Listener('127.0.0.1', {port})\n"
        "try:\n"
        "    print('waiting', flush=True)\n"
        "    listener.next_batch()\n"
        "except KeyboardInterrupt:\n"
        "    print('interrupted', flush=True)\n")
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline().strip() == "waiting"
        wait_until_blocked(child.pid, what="the child waiting for a batch")
        child.send_signal(signal.SIGINT)
        # The wait has no limit: only the interrupt ends it.
        out, err = child.communicate(timeout=2)
        assert out.strip() == "interrupted", err
        assert child.returncode == 0
    finally:
        child.kill()


def test_trigger_records_arrive_with_exact_fields(sim):
    sim.start("LX30")
    with sentova.Device(sim.address) as device:
        device.test_trigger(3, 42)
        # Records that come faster than they are handed on leave only the latest: wait for it.
        records = []
        def tested():
            record = device.next_trigger(timeout=1.0)
            if record is not None:
                records.append(record)
            return bool(records) and records[-1].index == 2
        wait_for(tested, what="the test's last trigger record")
        assert all(r.exp == 42 for r in records)
        assert isinstance(records[0].timestamp, int)
        device.home()
        device.move_to_with_trigger(0.0, 20.0, 200.0, 4, 7)
        record = None
        def moved():
            nonlocal record
            record = device.next_trigger(timeout=1.0)
            return record is not None and record.exp == 7 and record.index == 3
        wait_for(moved, what="the move's last trigger record")
        assert record.elevation == pytest.approx(20.0, abs=1e-6)
        assert device.triggers_dropped == 0
        assert device.next_trigger(timeout=0.0) is None
