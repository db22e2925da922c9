"""The README block runner: marked blocks run in order in one folder, and a block that
fails, or a marker astray, fails the run."""

import pathlib
import subprocess
import sys

import pytest

RUNNER = pathlib.Path(__file__).parents[1] / "readme" / "run_blocks.py"


@pytest.mark.parametrize("readme, status, said", [
    ("<!-- runs -->\n```sh\necho hi > a.txt\n```\n<!-- runs -->\n```python\nprint(open('a.txt').read())\n```\n",
     0, "2 of 2 marked blocks ran as written"),
    ("```sh\nfalse\n```\n<!-- runs -->\n```sh\ntrue\n```\n", 0, "1 of 1 marked blocks"),
    ("<!-- runs -->\n```sh\nfalse\necho never\n```\n", 1, "exit status 1, not 0"),
    ("<!-- runs: exit 3 -->\n```sh\nexit 3\n```\n", 0, "1 of 1 marked blocks"),
    ("<!-- runs: exit 3 -->\n```sh\ntrue\n```\n", 1, "exit status 0, not 3"),
    ("<!-- runs -->\n```python\nimport sys; sys.exit(2)\n```\n", 1, "exit status 2, not 0"),
    ("no blocks at all\n", 1, "no block marked"),
    ("<!-- runs -->\n\n```sh\ntrue\n```\n", 1, "not right before a ``` block"),
    ("<!-- runs -->\n```text\ntrue\n```\n", 1, "must be shell or python"),
])
def test_marked_blocks(tmp_path, readme, status, said):
    (tmp_path / "README.md").write_text(readme)
    run = subprocess.run([sys.executable, str(RUNNER), str(tmp_path / "README.md")],
                         capture_output=True, text=True, cwd=tmp_path)
    assert run.returncode == status, run.stdout + run.stderr
    assert said in run.stdout + run.stderr
    assert not (tmp_path / "a.txt").exists()  # the blocks ran in a scratch folder
