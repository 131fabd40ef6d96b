"""Bad input raises a clear exception and changes nothing."""

import os

import numpy as np
import pytest
import zemlix


@pytest.mark.parametrize("keywords, message", [
    ({"speed_cap": 3}, "speed_cap must be a real from 0 to 2, not 3"),
    ({"bugs": 2.5}, "bugs must be an integer from 5 to 100000, not 2.5"),
    ({"food": True}, "food must be an integer from 5 to 100000, not True"),
    ({"mutation_rate": "0.1"}, "mutation_rate must be a real from 0 to 1, not '0.1'"),
    ({"hidden_layers": [6, 2.5]}, "hidden_layers must be a list of up to 4 integers from 1 to 64, not [6, 2.5]"),
    ({"hidden_layers": [6, 65]}, "hidden_layers must be a list of up to 4 integers from 1 to 64, not [6,65]"),
    ({"gene_range": float("nan")}, "gene_range must be a real from 0.001 to 1000, not nan"),
    ({"nonsense": 1}, "unknown parameter 'nonsense'; the parameters are crossover_rate, "),
    ({"seed": -1}, "seed must be an integer from 0 to 4294967295, not -1"),
])
def test_bad_parameters_are_named_with_their_range(keywords, message):
    with pytest.raises(ValueError) as refused:
        zemlix.World(**keywords)
    assert str(refused.value).startswith(message)


@pytest.mark.parametrize("weights, error, message", [
    (np.zeros((2, 22)), ValueError, "weights must be one-dimensional, 44 values, not of shape (2, 22)"),
    (np.zeros(43), ValueError, "weights must hold 44 values (the genome length), not 43"),
    (np.zeros(44, dtype=np.int64), TypeError, "weights must be float64 or float32, not int64"),
    (np.full(44, np.nan), ValueError, "weights[0] is nan; every weight must be finite"),
    ([0.5] * 43 + [float("inf")], ValueError, "weights[43] is inf; every weight must be finite"),
    ("weights", TypeError, "weights must be a NumPy array or a list of reals, not 'weights'"),
])
def test_bad_weights_are_refused_and_change_nothing(weights, error, message):
    world = zemlix.World()
    before = world.weights
    with pytest.raises(error, match=message.replace("(", r"\(").replace(")", r"\)").replace("[", r"\[")):
        world.set_weights(1, weights)
    np.testing.assert_array_equal(world.weights, before)


@pytest.mark.parametrize("call", [lambda w: w.feed(30), lambda w: w.punish(-1),
                                  lambda w: w.set_weights(30, [0.0] * 44)])
def test_only_active_bugs_can_be_changed(call):
    with pytest.raises(IndexError, match=r"is not an active bug \(0 to 29\)"):
        call(zemlix.World())


def test_feeding_and_punishing_change_one_bugs_fitness():
    world = zemlix.World()
    world.tick(300)
    before = world.fitness
    world.feed(4)
    world.punish(7)
    world.punish(7)
    change = world.fitness - before
    assert change[4] == 1 and change[7] == -2 and np.count_nonzero(change) == 2


def test_bad_files_are_refused_and_nothing_is_half_written(tmp_path):
    world = zemlix.World()
    world.save(tmp_path / "good.world")
    lines = (tmp_path / "good.world").read_text().splitlines(keepends=True)
    lines[3] = "bug 2 1 2 3\n"
    (tmp_path / "damaged.world").write_text("".join(lines))
    with pytest.raises(ValueError, match=r"damaged.world:4: "):
        zemlix.World.load(tmp_path / "damaged.world")
    with pytest.raises(FileNotFoundError):
        zemlix.World.load(tmp_path / "missing.world")
    with pytest.raises(IsADirectoryError):
        zemlix.World.load(tmp_path)
    (tmp_path / "folder").mkdir()
    with pytest.raises(OSError, match="folder"):
        world.save(tmp_path / "folder")
    with pytest.raises(OSError, match="nowhere"):
        world.save(tmp_path / "nowhere" / "w.world")
    assert sorted(os.listdir(tmp_path)) == ["damaged.world", "folder", "good.world"]
    assert os.listdir(tmp_path / "folder") == []


@pytest.mark.parametrize("keywords, error, message", [
    ({"sweep": {"nonsense": [1, 2]}}, ValueError, "sweep nonsense=1,2: expected NAME=V1,V2,... with a known parameter"),
    ({"sweep": {"mutation_rate": [0.1, 2]}}, ValueError, "mutation_rate must be a real from 0 to 1, not '2'"),
    ({"sweep": {"mutation_rate": [0.1, 0.10]}}, ValueError, "mutation_rate 0.1 is given twice"),
    ({"sweep": {"mutation_rate": 0.1}}, TypeError, "sweep mutation_rate: the values must be a list, not 0.1"),
    ({"sweep": {"bugs": [10, 20]}, "bugs": 10}, ValueError, "sweep bugs and the keyword bugs: both set bugs"),
    ({"seeds": range(1, 9, 2)}, ValueError, "seeds must be consecutive seeds"),
    ({"seeds": [3, 5]}, ValueError, "seeds must be consecutive seeds"),
    ({"generations": 0}, ValueError, "generations must be 1 or more, not 0"),
    ({"speed_cap": -1}, ValueError, "speed_cap must be a real from 0 to 2, not -1"),
])
def test_bad_sweeps_are_refused_before_anything_runs(keywords, error, message):
    with pytest.raises(error) as refused:
        zemlix.sweep(**keywords)
    assert message in str(refused.value)
