#!/usr/bin/env python3
"""deploy/kubernetes/indexed-job.yaml on paper: it parses as YAML (python3-yaml)
and is an Indexed Job whose every pod runs the reel of its completion index.

    tests/batch/kubernetes_job_test.py SOURCE_DIR

Exits 77 (skipped) without python3-yaml.
"""
import shlex
import sys

try:
    import yaml
except ImportError:
    print("SKIP: python3-yaml is missing (scripts/install-deps installs it)")
    sys.exit(77)


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def main():
    path = sys.argv[1] + "/deploy/kubernetes/indexed-job.yaml"
    with open(path, encoding="utf-8") as f:
        documents = [d for d in yaml.safe_load_all(f) if d is not None]
    if len(documents) != 1:
        fail(f"{path} holds {len(documents)} documents, not one Job")
    job = documents[0]
    if (job.get("apiVersion"), job.get("kind")) != ("batch/v1", "Job"):
        fail("not a batch/v1 Job")
    desired = job["spec"]
    if desired.get("completionMode") != "Indexed":
        fail("the Job is not Indexed")
    for key in ("completions", "parallelism"):
        if not isinstance(desired.get(key), int) or desired[key] < 1:
            fail(f"the Job's {key} is no positive whole number")
    pod = desired["template"]["spec"]
    if pod.get("restartPolicy") != "Never":
        fail("a failed pod must be retried by the Job, per index: restartPolicy Never")
    containers = pod["containers"]
    if len(containers) != 1:
        fail("one container runs the reel")
    container = containers[0]
    words = shlex.split(" ".join(container.get("command", []) + container.get("args", [])))
    if "veltrana" not in words or "batch" not in words:
        fail(f"the container does not run veltrana batch: {words}")
    after = words[words.index("batch") + 1:]
    if "-o" not in after or "--index" not in after:
        fail(f"veltrana batch is not given -o and --index: {after}")
    if after[after.index("--index") + 1] != "$JOB_COMPLETION_INDEX":
        fail("--index is not the pod's $JOB_COMPLETION_INDEX")
    if container.get("command", [])[:2] != ["sh", "-c"]:
        fail("$JOB_COMPLETION_INDEX needs a shell to be expanded")
    manifest = after[0]
    output = after[after.index("-o") + 1]
    mounts = {m["name"]: m["mountPath"] for m in container.get("volumeMounts", [])}
    volumes = {v["name"] for v in pod.get("volumes", [])}
    if not mounts or set(mounts) - volumes:
        fail("every volume mount needs a volume of the pod")
    for needed in (manifest, output):
        if not any(needed.startswith(p.rstrip("/") + "/") for p in mounts.values()):
            fail(f"{needed} lies on no mounted volume")
    print("PASS: " + path)


main()
