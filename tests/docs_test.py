"""Every shell block a user would copy from README.md and docs/*.md, run as
written, in order, each file in a scratch copy of the source tree whose
build/program and build/all are this build's programs:

- ```sh blocks must exit 0;
- ```console blocks are commands after "$ " (a trailing backslash goes on)
  and the output they show, standard output and error together; "..." in a
  shown line stands for any text;
- a block right after "<!-- docs-test: skip: REASON -->" is not run, and
  the reason is printed (the quick start, which builds this very tree;
  what needs root or installs packages).

Other blocks (cpp, python, text, cfg) are not shell and are not run.

    docs_test.py SOURCE-DIR BUILD-DIR
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIP = re.compile(r"<!--\s*docs-test:\s*skip:\s*(.*?)\s*-->")


def blocks(path):
    """(line, info, text, skip reason or None) of each fenced block."""
    found, lines = [], open(path, encoding="utf-8").read().split("\n")
    i, skip = 0, None
    while i < len(lines):
        line = lines[i]
        m = SKIP.search(line)
        if m:
            skip = m.group(1)
        elif line.startswith("```"):
            info, start, body = line[3:].strip(), i + 1, []
            i += 1
            while i < len(lines) and not lines[i].startswith("```"):
                body.append(lines[i])
                i += 1
            found.append((start, info, body, skip))
            skip = None
        elif line.strip():
            skip = None
        i += 1
    return found


def console_steps(body):
    """(command, expected output lines) of a console block."""
    steps = []
    i = 0
    while i < len(body):
        if not body[i].startswith("$ "):
            raise ValueError(f"output before any command: {body[i]!r}")
        command = body[i][2:]
        while command.endswith("\\") and i + 1 < len(body):
            i += 1
            command = command[:-1] + "\n" + body[i]
        i += 1
        shown = []
        while i < len(body) and not body[i].startswith("$ "):
            shown.append(body[i])
            i += 1
        steps.append((command, shown))
    return steps


def matches(shown, actual):
    if len(shown) != len(actual):
        return False
    for s, a in zip(shown, actual):
        pattern = ".*".join(re.escape(part) for part in s.split("..."))
        if not re.fullmatch(pattern, a):
            return False
    return True


def scratch_tree(source, build):
    work = tempfile.mkdtemp(prefix="trislip-docs-")
    tree = os.path.join(work, "tree")
    shutil.copytree(source, tree, ignore=shutil.ignore_patterns("build", ".git"), symlinks=True)
    os.makedirs(os.path.join(tree, "build"))
    for name in ("program", "all"):
        os.symlink(build, os.path.join(tree, "build", name))
    os.makedirs(os.path.join(work, "home"))
    return work, tree


def main(source, build):
    passed = failed = skipped = 0
    files = [os.path.join(source, "README.md")]
    docs = os.path.join(source, "docs")
    files += sorted(os.path.join(docs, f) for f in os.listdir(docs) if f.endswith(".md"))
    for path in files:
        name = os.path.relpath(path, source)
        work, tree = scratch_tree(source, build)
        env = dict(os.environ, HOME=os.path.join(work, "home"), LC_ALL="C", TRISLIP_NO_INSTALL="1",
                   PATH=build + os.pathsep + os.environ.get("PATH", ""))
        try:
            for line, info, body, skip in blocks(path):
                if info not in ("sh", "console"):
                    continue
                where = f"{name}:{line}"
                if skip is not None:
                    print(f"docs: {where} SKIPPED: {skip}")
                    skipped += 1
                    continue
                steps = [("\n".join(body), None)] if info == "sh" else console_steps(body)
                for command, shown in steps:
                    run = subprocess.run(["bash", "-eo", "pipefail", "-c", command], cwd=tree, env=env,
                                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                         stderr=subprocess.STDOUT if shown is not None else subprocess.PIPE,
                                         text=True, timeout=1200)
                    out = run.stdout.rstrip("\n")
                    # Blanks at a line's end are invisible in a page.
                    actual = [a.rstrip() for a in out.split("\n")] if out else []
                    if run.returncode != 0:
                        print(f"docs: {where} FAILED: exit {run.returncode}: {command}")
                        print("    " + (out + "\n" + (run.stderr or "")).strip().replace("\n", "\n    "))
                        failed += 1
                        break
                    if shown is not None and not matches(shown, actual):
                        print(f"docs: {where} FAILED: {command}\n    shown:  {shown}\n    actual: {actual}")
                        failed += 1
                        break
                else:
                    print(f"docs: {where} ok")
                    passed += 1
        finally:
            shutil.rmtree(work, ignore_errors=True)
    print(f"docs: {passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])))
