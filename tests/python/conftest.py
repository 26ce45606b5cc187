"""The simulator process and the command-line tool for the module's tests."""
import os
import subprocess
import time

import pytest

import sentova

SIM = os.environ.get("SENTOVA_SIM", "sentova-sim")
TOOL = os.environ.get("SENTOVA_TOOL", "sentova")


def process_address(offset=0):
    """A loopback address of this process's own, apart from the C++ suites' 127.79.x.y."""
    pid = os.getpid() + offset
    return f"127.81.{pid // 250 % 250 + 1}.{pid % 250 + 1}"


def process_port():
    # Below the kernel's ephemeral ports, so that no other socket takes it by chance.
    return 10000 + (os.getpid() + 10007) % 20000


def wait_for(condition, seconds=10.0, what="the condition"):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.01)


def wait_until_blocked(pid, tid=None, what="the wait"):
    """Waits until the thread sleeps in a futex (a condition variable's wait) on two looks in a
    row, a poll apart: a thread that only waited for the GIL has it by the second."""
    wchan = f"/proc/{pid}/task/{tid or pid}/wchan"
    looks = []

    def blocked_twice():
        with open(wchan) as f:
            looks.append("futex" in f.read())
        return looks[-2:] == [True, True]

    wait_for(blocked_twice, what=what)


def tool(*args, check=True):
    ran = subprocess.run([TOOL, *map(str, args)], capture_output=True, text=True, timeout=60)
    if check and ran.returncode != 0:
        raise AssertionError(f"sentova {' '.join(map(str, args))}: {ran.stderr}")
    return ran


class Simulator:
    def __init__(self, address, log):
        self.address = address
        self.log = log
        self.process = None

    def start(self, model="LX30", homed=True):
        self.process = subprocess.Popen(
            [SIM, "--address", self.address, "--model", model, "--home-time", "50",
             "--quiet", "--log", str(self.log), "--exit-with-parent"])
        probe = sentova.Device(self.address)
        probe.response_timeout = 100

        def answers():
            try:
                probe.serial()
                return True
            except sentova.DeviceTimeout:
                return False

        wait_for(answers, what="the simulator")
        if homed:
            probe.home()
        probe.close()
        return self

    def stop(self):
        if self.process:
            self.process.terminate()
            self.process.wait(5)


@pytest.fixture
def sim(tmp_path):
    simulator = Simulator(process_address(), tmp_path / "sim.log")
    yield simulator
    simulator.stop()


@pytest.fixture
def port():
    return process_port()
