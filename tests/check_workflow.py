"""The CI workflow parses as YAML and has its two jobs: the Linux one runs the README's
test command, the macOS one builds on a Mac and makes the package."""
import sys

import yaml

with open(sys.argv[1], encoding="utf-8") as f:
    jobs = yaml.safe_load(f)["jobs"]
assert set(jobs) == {"linux", "macos"}, sorted(jobs)


def runs(job):
    return "\n".join(step.get("run", "") for step in jobs[job]["steps"])


assert ".ci/run" in runs("linux") or "scripts/test" in runs("linux")
assert jobs["macos"]["runs-on"].startswith("macos")
assert "scripts/package" in runs("macos") and "-L core" in runs("macos")
