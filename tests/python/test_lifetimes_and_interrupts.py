"""Arrays outlive ticks and their world; a running world is its thread's alone; Ctrl+C stops a
long run or sweep and leaves the world usable."""

import os
import signal
import subprocess
import sys
import threading
import time

import pytest
import zemlix

HERE = os.path.dirname(os.path.abspath(__file__))


def test_arrays_handed_out_stay_valid(tmp_path):
    done = subprocess.run([sys.executable, os.path.join(HERE, "keep_arrays.py"), str(tmp_path)],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "kept arrays hold\n"


def test_a_world_running_in_one_thread_is_refused_to_the_others():
    world = zemlix.World(lifetime=500)
    runner = threading.Thread(target=world.run, kwargs={"generations": 10})
    runner.start()
    refused = ""
    while runner.is_alive() and not refused:
        try:
            world.positions
        except RuntimeError as error:
            refused = str(error)
    runner.join()
    assert refused == "the world is in use by another thread"
    assert world.generation == 10


# Each script says "ready", starts what would take hours, and reports how it ended.
INTERRUPTED = {
    "run": """
import time, zemlix
world = zemlix.World(seed=5)
world.tick(10)
print("ready", flush=True)
start = time.monotonic()
try:
    world.run(generations=10**6)
except KeyboardInterrupt:
    print("interrupted after", round(time.monotonic() - start, 1), flush=True)
ticks = world.ticks
world.tick(3)
world.save("after.world")
print("usable", world.ticks - ticks == 3 and zemlix.World.load("after.world").ticks == world.ticks)
""",
    "sweep": """
import time, zemlix
print("ready", flush=True)
start = time.monotonic()
try:
    zemlix.sweep(seeds=range(1, 1000), generations=1000, jobs=2)
except KeyboardInterrupt:
    print("interrupted after", round(time.monotonic() - start, 1), flush=True)
rows, summary = zemlix.sweep(seeds=1, generations=1, lifetime=500)
print("usable", len(rows) == 1)
""",
}


@pytest.mark.parametrize("what", INTERRUPTED)
def test_ctrl_c_stops_and_leaves_things_usable(python_script, what):
    script = python_script(INTERRUPTED[what], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    assert script.stdout.readline() == "ready\n"
    time.sleep(1.0)  # well into the run
    script.send_signal(signal.SIGINT)
    try:
        out, err = script.communicate(timeout=60)
    finally:
        script.kill()  # one that did not stop would run for hours
    assert script.returncode == 0, err
    lines = out.splitlines()
    assert lines[0].startswith("interrupted after ") and float(lines[0].split()[-1]) < 5, out
    assert lines[1] == "usable True", out
