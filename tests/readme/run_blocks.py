"""Runs every README block marked as runnable, in order, in one scratch folder, so that
the README cannot drift from the programs.

A block is marked by the comment `<!-- runs -->` on the line before its opening fence
(`<!-- runs: exit 3 -->` when the block is meant to end with that status). Shell blocks
(sh, bash, console) run with bash -e, python blocks as scripts of this interpreter; the folders
given with --path lead PATH and those given with --pythonpath make PYTHONPATH, as an
install would put the programs and the package. A block that fails is shown with its
line number and output; no marked block at all is a failure too.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

MARKER = re.compile(r"<!--\s*runs(?::\s*exit\s+(\d+))?\s*-->")
SHELLS = {"sh", "bash", "console", "shell"}


def marked_blocks(text):
    """(line number, language, code, expected status) of each marked block."""
    lines = text.splitlines()
    blocks = []
    for k, line in enumerate(lines):
        marker = MARKER.fullmatch(line.strip())
        if not marker:
            continue
        fence = k + 1
        if fence >= len(lines) or not lines[fence].startswith("```"):
            raise SystemExit(f"README line {k + 1}: the runs marker is not right before a ``` block")
        language = lines[fence][3:].strip()
        end = next((j for j in range(fence + 1, len(lines)) if lines[j].startswith("```")), None)
        if end is None:
            raise SystemExit(f"README line {fence + 1}: the block is not closed")
        if language not in SHELLS and language != "python":
            raise SystemExit(f"README line {fence + 1}: a marked block must be shell or python")
        blocks.append((fence + 1, language, "\n".join(lines[fence + 1:end]) + "\n",
                       int(marker.group(1) or 0)))
    return blocks


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("readme")
    parser.add_argument("--path", action="append", default=[])
    parser.add_argument("--pythonpath", action="append", default=[])
    args = parser.parse_args()
    with open(args.readme, encoding="utf-8") as f:
        blocks = marked_blocks(f.read())
    if not blocks:
        raise SystemExit(f"{args.readme}: no block marked <!-- runs -->")
    env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
    env["PATH"] = os.pathsep.join([os.path.abspath(p) for p in args.path] + [env.get("PATH", "")])
    env["PYTHONPATH"] = os.pathsep.join(os.path.abspath(p) for p in args.pythonpath)
    failed = 0
    with tempfile.TemporaryDirectory(prefix="tenvora-readme-") as scratch, \
            tempfile.TemporaryDirectory(prefix="tenvora-readme-scripts-") as scripts:
        for line, language, code, expected in blocks:
            # A Python block runs as a script of its own, as pasted into a file.
            script = os.path.join(scripts, f"block_{line}.py")
            with open(script, "w", encoding="utf-8") as f:
                f.write(code)
            command = (["bash", "-e", "-o", "pipefail", "-c", code] if language in SHELLS
                       else [sys.executable, script])
            run = subprocess.run(command, cwd=scratch, env=env, capture_output=True, text=True,
                                 timeout=600)
            if run.returncode == expected:
                print(f"README line {line}: ok")
                continue
            failed += 1
            print(f"README line {line}: exit status {run.returncode}, not {expected}\n"
                  f"--- block\n{code}--- standard output\n{run.stdout}"
                  f"--- standard error\n{run.stderr}")
    print(f"{len(blocks) - failed} of {len(blocks)} marked blocks ran as written")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
