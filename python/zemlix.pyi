"""Zemlix, an artificial-life simulator: the exact core as a Python module.

One seed gives one run, bit for bit, the same as the zemlix window and the zemlix-sim runner.
Every array a World returns is a copy made when it is read.
"""

import os
from typing import Any, Iterable, Sequence, Union

import numpy as np
import numpy.typing as npt

__version__: str

# A parameter's value: a real, an integer, or (hidden_layers) a list of integers.
ParameterValue = Union[float, int, Sequence[int]]
PathLike = Union[str, os.PathLike[str]]

class World:
    """One world: bugs, pellets, their networks and the generator.

    Per-bug arrays have one row per bug slot (at least 200), per-pellet arrays one per pellet
    slot (at least 100); ``active`` and ``food_active`` tell the slots in use. A world is used
    by one thread at a time.
    """

    def __init__(
        self,
        seed: int = 1,
        bugs: int = 30,
        food: int = 40,
        lifetime: int = 2000,
        **parameters: ParameterValue,
    ) -> None:
        """Builds a fresh world as ``zemlix-sim --seed SEED ...`` does; ValueError names a bad parameter and its range."""
    @staticmethod
    def load(path: PathLike) -> World:
        """Opens a world file at its last whole state; ValueError for a damaged file, OSError for a missing one."""
    def save(self, path: PathLike) -> None:
        """Writes the world file whole or not at all; OSError names the file and the reason."""
    def tick(self, n: int = 1) -> None:
        """Runs N ticks without the GIL; Ctrl+C raises KeyboardInterrupt between two ticks."""
    def run(self, *, generations: int) -> None:
        """Runs until GENERATIONS more generations have ended."""
    def feed(self, bug: int) -> None:
        """Adds 1 to an active bug's fitness (the window's Feed Bug)."""
    def punish(self, bug: int) -> None:
        """Subtracts 1 from an active bug's fitness (the window's Punish Bug)."""
    def set_weights(self, bug: int, weights: Union[npt.NDArray[np.floating[Any]], Sequence[float]]) -> None:
        """Replaces an active bug's weights: genome_length finite float64 or float32 values."""
    @property
    def positions(self) -> npt.NDArray[np.float64]:
        """(bug slots, 2): x and y."""
    @property
    def headings(self) -> npt.NDArray[np.float64]:
        """(bug slots,): headings in radians."""
    @property
    def speeds(self) -> npt.NDArray[np.float64]:
        """(bug slots,): speeds."""
    @property
    def fitness(self) -> npt.NDArray[np.int32]:
        """(bug slots,): pellets eaten this generation, feeding and punishing included."""
    @property
    def active(self) -> npt.NDArray[np.bool_]:
        """(bug slots,): the slots in use."""
    @property
    def food_positions(self) -> npt.NDArray[np.float64]:
        """(pellet slots, 2): x and y."""
    @property
    def food_active(self) -> npt.NDArray[np.bool_]:
        """(pellet slots,): the pellets in use."""
    @property
    def weights(self) -> npt.NDArray[np.float64]:
        """(bug slots, genome_length): every network's weights in flat order."""
    @property
    def inputs(self) -> npt.NDArray[np.float64]:
        """(bug slots, 4): each network's inputs in the last tick."""
    @property
    def outputs(self) -> npt.NDArray[np.float64]:
        """(bug slots, 2): each network's outputs (left and right impulse) in the last tick."""
    @property
    def history(self) -> npt.NDArray[np.void]:
        """One row per ended generation: generation, average, best, worst, total."""
    @property
    def parameters(self) -> dict[str, ParameterValue]:
        """Every parameter's value."""
    @property
    def ticks(self) -> int:
        """Ticks run since the population was built (the world file's tick)."""
    @property
    def generation(self) -> int:
        """Generations ended so far."""
    @property
    def time_to_live(self) -> int:
        """Ticks until the current generation ends."""
    @property
    def lifetime(self) -> int:
        """Ticks per generation."""
    @property
    def bug_count(self) -> int:
        """Active bugs."""
    @property
    def food_count(self) -> int:
        """Active pellets."""
    @property
    def genome_length(self) -> int:
        """Weights per network."""
    @property
    def seed(self) -> int | None:
        """The seed the world was built with; None for a loaded world."""

def sweep(
    *,
    sweep: dict[str, Sequence[ParameterValue]] | None = None,
    seeds: Union[int, Iterable[int]] = range(1, 17),
    generations: int = 50,
    jobs: int | None = None,
    **parameters: ParameterValue,
) -> tuple[Any, Any]:
    """Runs every seed at every grid point on JOBS threads; returns (rows, summary) as pandas
    data frames (NumPy record arrays without pandas): the runner's --csv and --summary."""
