"""The README's Python examples, run as they stand (each block marked <!-- readme-python -->)."""

import os
import re
import subprocess
import sys

README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")


def python_blocks():
    """Each marked block: its indented lines without the indent."""
    lines = open(README).read().splitlines()
    blocks = []
    for at, line in enumerate(lines):
        if line == "<!-- readme-python -->":
            block = []
            for following in lines[at + 2:]:
                if not following.startswith("    ") and following != "":
                    break
                block.append(following[4:])
            blocks.append("\n".join(block).strip() + "\n")
    return blocks


def test_the_readme_examples_run_and_draw(tmp_path, sim):
    blocks = python_blocks()
    assert len(blocks) == 2
    sim("--seed", 7, "--generations", 20, "--dump", "saved.txt")  # the world the second example loads
    for block in blocks:
        done = subprocess.run([sys.executable, "-c", block], cwd=tmp_path, capture_output=True, text=True, timeout=400)
        assert done.returncode == 0, done.stderr
    for picture in re.findall(r'savefig\("([^"]+)"', "".join(blocks)):
        with open(tmp_path / picture, "rb") as file:
            assert file.read(8) == b"\x89PNG\r\n\x1a\n", picture
