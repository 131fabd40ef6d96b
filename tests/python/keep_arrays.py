"""Keeps every array a world hands out across ticks, a load and the world's deletion, and
checks that each still holds what it held when it was read (run in-process and, in the
sanitizer build, under AddressSanitizer, which catches a read of freed memory)."""

import gc
import sys

import numpy as np
import zemlix

NAMES = ["positions", "headings", "speeds", "fitness", "active", "food_positions", "food_active", "weights",
         "inputs", "outputs", "history", "parameters"]


def snapshot(world):
    return {name: getattr(world, name) for name in NAMES}


def main(folder):
    world = zemlix.World(seed=2, lifetime=500)
    world.tick(499)
    kept = snapshot(world)
    copies = {name: (value.copy() if hasattr(value, "copy") else dict(value)) for name, value in kept.items()}
    world.tick(2)  # a generation end: breeding rewrites every weight
    world.save(f"{folder}/w.world")
    loaded = zemlix.World.load(f"{folder}/w.world")
    kept_loaded = snapshot(loaded)
    del world, loaded
    gc.collect()
    zemlix.World(seed=3, bugs=300, food=300).tick(5)  # reuses the freed memory
    for name in NAMES:
        if name == "parameters":
            assert kept[name] == copies[name], name
        else:
            np.testing.assert_array_equal(kept[name], copies[name], err_msg=name)
    assert kept_loaded["history"]["generation"].tolist() == [1]
    assert not np.array_equal(kept_loaded["weights"], copies["weights"])
    print("kept arrays hold")


if __name__ == "__main__":
    main(sys.argv[1])
