#!/usr/bin/env bash
# Checks the CI workflows of .github/workflows: each parses and passes
# yamllint, and the release workflow runs on a version tag, calls the
# release script and attaches the zip, the .deb and SHA256SUMS.
set -euo pipefail
cd "$(dirname "$0")/.."
yamllint -d '{extends: default, rules: {line-length: {max: 120}, truthy: {check-keys: false}, document-start: disable}}' \
  .github/workflows/
python3 - .github/workflows/release.yml <<'PY'
import sys, yaml
flow = yaml.safe_load(open(sys.argv[1]))
def fail(why):
    sys.exit(f"{sys.argv[1]}: {why}")
trigger = flow.get("on", flow.get(True, {}))  # YAML 1.1 reads a bare on as true
tags = trigger.get("push", {}).get("tags", [])
if not any(t.startswith("v") for t in tags):
    fail("does not run on a version tag")
steps = [s for job in flow["jobs"].values() for s in job.get("steps", [])]
if not any(s.get("run", "").strip() == "bash scripts/release.sh" for s in steps):
    fail("has no step that runs bash scripts/release.sh")
files = " ".join(s.get("with", {}).get("files", "") for s in steps if "with" in s)
for wanted in ("dist/*.zip", "dist/*.deb", "dist/SHA256SUMS"):
    if wanted not in files:
        fail(f"does not attach {wanted}")
if "debian:12" not in str(flow["jobs"]):
    fail("does not run on Debian 12")
print("workflows: release.yml runs scripts/release.sh on a version tag and attaches its files")
PY
