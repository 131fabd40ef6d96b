"""Shared fixtures: the runner to compare against, and commands run in the test's scratch folder."""

import os
import subprocess
import sys

import pytest


@pytest.fixture
def sim(tmp_path):
    """Runs zemlix-sim with the given options in the scratch folder and returns its standard output."""

    def run(*options):
        done = subprocess.run([os.environ["ZEMLIX_SIM"], "--quiet", *map(str, options)], cwd=tmp_path,
                              capture_output=True, text=True, timeout=300)
        assert done.returncode == 0, done.stderr
        return done.stdout

    return run


@pytest.fixture
def python_script(tmp_path):
    """Starts a Python script in the scratch folder, with this interpreter and environment."""

    def start(script, **options):
        return subprocess.Popen([sys.executable, "-c", script], cwd=tmp_path, text=True, **options)

    return start


def state_lines(path):
    """A world file's state: every line but the history and the checksum over it."""
    with open(path) as file:
        return [line for line in file if not line.startswith(("history ", "check "))]
