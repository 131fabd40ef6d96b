"""The module against the runner: the same worlds, continuations and sweeps, bit for bit."""

import subprocess
import sys

import numpy as np
import pandas as pd
import pandas.testing
import pytest
import zemlix
from conftest import state_lines

# (keywords of World, the runner's options for the same world, ticks): a generation end
# inside the ticks, a large world, other layers and parameters.
WORLDS = [
    ({"seed": 1, "bugs": 200, "food": 100}, ["--seed", 1, "--bugs", 200, "--food", 100], 2100),
    ({"seed": 7, "lifetime": 500, "hidden_layers": [12, 3], "mutation_rate": 0.2},
     ["--seed", 7, "--lifetime", 500, "--set", "hidden_layers=[12,3]", "--set", "mutation_rate=0.2"], 1200),
    ({"seed": 3, "bugs": 450, "food": 300, "field_width": 900, "eating_distance": 9},
     ["--seed", 3, "--bugs", 450, "--food", 300, "--set", "field_width=900", "--set", "eating_distance=9",
      "--threads", 1], 600),
]


@pytest.mark.parametrize("keywords, options, ticks", WORLDS)
def test_a_world_saves_the_runners_dump(tmp_path, sim, keywords, options, ticks):
    world = zemlix.World(**keywords)
    world.tick(ticks)
    world.save(tmp_path / "python.world")
    # With --lineage the runner's dump carries the parents, as a saved world here does.
    sim(*options, "--ticks", ticks, "--dump", "runner.world", "--lineage", "lineage.csv")
    assert state_lines(tmp_path / "python.world") == state_lines(tmp_path / "runner.world")
    assert world.ticks == ticks


def test_loaded_worlds_continue_as_the_runner_does(tmp_path, sim):
    # Both ways round: the runner's dump advanced here, and a world saved here (with its
    # history, after feeding, punishing and new weights) advanced by the runner.
    sim("--seed", 4, "--lifetime", 500, "--ticks", 700, "--dump", "start.world")
    sim("--load", "start.world", "--ticks", 900, "--dump", "runner.world", "--lineage", "lineage.csv")
    world = zemlix.World.load(tmp_path / "start.world")
    world.tick(900)
    world.save(tmp_path / "python.world")
    # The runner's fresh dump carries no history; a world here keeps it, as the window does.
    assert state_lines(tmp_path / "python.world") == state_lines(tmp_path / "runner.world")

    world.feed(3)
    world.punish(5)
    world.punish(5)
    world.set_weights(2, -world.weights[2])
    world.save(tmp_path / "edited.world")
    sim("--load", "edited.world", "--ticks", 800, "--dump", "runner-edited.world")
    world.tick(800)
    world.save(tmp_path / "python-edited.world")
    assert (tmp_path / "python-edited.world").read_text() == (tmp_path / "runner-edited.world").read_text()
    assert list(world.history["generation"]) == [2, 3, 4]


def test_arrays_are_the_saved_state(tmp_path):
    world = zemlix.World(seed=9, bugs=40, food=50)
    world.tick(37)
    world.feed(0)
    world.save(tmp_path / "w.world")
    bugs = np.array([line.split()[2:] for line in state_lines(tmp_path / "w.world") if line.startswith("bug ")],
                    dtype=float)
    food = np.array([line.split()[2:] for line in state_lines(tmp_path / "w.world") if line.startswith("food ")],
                    dtype=float)
    nets = np.array([line.split()[2:] for line in state_lines(tmp_path / "w.world") if line.startswith("net ")],
                    dtype=float)
    np.testing.assert_array_equal(world.positions, bugs[:, 0:2])
    np.testing.assert_array_equal(world.headings, bugs[:, 2])
    np.testing.assert_array_equal(world.speeds, bugs[:, 3])
    np.testing.assert_array_equal(world.fitness, bugs[:, 6])
    np.testing.assert_array_equal(world.food_positions, food)
    np.testing.assert_array_equal(world.weights, nets)
    assert world.active.sum() == 40 and world.active[:40].all()
    assert world.food_active.sum() == 50 and world.food_active[:50].all()
    # The look vector the next tick's networks see is the one kept as inputs 2 and 3.
    looks = bugs[:40, 4:6]
    world.tick()
    np.testing.assert_array_equal(world.inputs[:40, 2:4], looks)
    assert not world.inputs[40:].any() and not world.outputs[40:].any()


SWEEP = {"sweep": {"mutation_rate": [0.01, 0.2], "hidden_layers": [[6], [4, 3]]}, "seeds": range(2, 5),
         "generations": 2, "lifetime": 500, "bugs": 20, "jobs": 2}
SWEEP_OPTIONS = ["--sweep", "mutation_rate=0.01,0.2", "--sweep", "hidden_layers=[6],[4,3]", "--seeds", "2-4",
                 "--generations", 2, "--lifetime", 500, "--bugs", 20, "--jobs", 2]


def test_a_sweep_gives_the_runners_csv_and_summary(tmp_path, sim):
    rows, summary = zemlix.sweep(**SWEEP)
    sim(*SWEEP_OPTIONS, "--csv", "sweep.csv", "--summary", "summary.csv")
    for frame, name in [(rows, "sweep.csv"), (summary, "summary.csv")]:
        expected = pd.read_csv(tmp_path / name, float_precision="round_trip")
        pandas.testing.assert_frame_equal(frame, expected, check_exact=True)
    assert len(rows) == 2 * 2 * 3 * 2


def test_without_pandas_a_sweep_gives_record_arrays(tmp_path, sim, python_script):
    # pandas made unimportable in a fresh interpreter.
    script = ("import sys; sys.modules['pandas'] = None\nimport numpy, zemlix\n"
              f"rows, summary = zemlix.sweep(**{SWEEP!r})\n"
              "numpy.save('rows.npy', rows); numpy.save('summary.npy', summary)")
    assert python_script(script).wait(timeout=300) == 0
    sim(*SWEEP_OPTIONS, "--csv", "sweep.csv", "--summary", "summary.csv")
    for saved, name in [("rows.npy", "sweep.csv"), ("summary.npy", "summary.csv")]:
        records = np.load(tmp_path / saved)
        expected = pd.read_csv(tmp_path / name, float_precision="round_trip")
        assert list(records.dtype.names) == list(expected.columns)
        for column in expected.columns:
            np.testing.assert_array_equal(records[column], expected[column].to_numpy())
