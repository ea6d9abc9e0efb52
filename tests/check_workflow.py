"""The CI workflow parses as YAML and has its two jobs: the Linux one runs the README's
test command, the macOS one builds on a Mac, runs the core tests and makes the package."""
import sys

import yaml

with open(sys.argv[1], encoding="utf-8") as f:
    jobs = yaml.safe_load(f)["jobs"]
assert set(jobs) == {"linux", "macos"}, sorted(jobs)


def runs(job):
    return "\n".join(step.get("run", "") for step in jobs[job]["steps"])


assert ".ci/run" in runs("linux") or "scripts/test" in runs("linux")
assert jobs["macos"]["runs-on"].startswith("macos")

# On the Mac: everything built (the bundle, cogitra-cli, the tests), the core tests run, and
# the package's cli started from the disk image once it is made.
mac = [step.get("run", "") for step in jobs["macos"]["steps"]]
builds = [run for run in mac if "cmake --build" in run]
assert builds and all("--target" not in run or "cogitra-cli" in run for run in builds), builds
assert any("ctest" in run and "-L core" in run for run in mac), mac


def first(text):
    return next(i for i, run in enumerate(mac) if text in run)


assert first("cmake --build") < first("-L core") < first("scripts/package")
assert first("scripts/package") < first("Contents/MacOS/cogitra-cli")
