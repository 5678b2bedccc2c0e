#!/usr/bin/env bash
# The GNU parallel recipe of the README: every reel of a manifest as one
# `veltrana batch --index` task, then the summary; three rendered reels, one
# broken. Then the checks of batch_common.sh: deliverables, records, nothing
# beside the scans, the summary, a rerun that skips done reels, a reel killed
# in the middle.
#
#   tests/batch/parallel_test.sh VELTRANA SOURCE_DIR
#
# Needs Debian's parallel (.ci/run installs it with scripts/install-deps
# --schedulers); skips otherwise (exit 77).
set -euo pipefail

VELTRANA=$(realpath "$1")
SOURCE=$(realpath "$2")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/veltrana-parallel.XXXXXX")
# shellcheck source=batch_common.sh
source "$SOURCE/tests/batch/batch_common.sh"
cleanup() {
    if [ -z "${KEEP_WORK:-}" ]; then
        rm -rf "$WORK"
    else
        echo "work kept in $WORK"
    fi
}
trap cleanup EXIT

for program in parallel python3 md5sum; do
    command -v "$program" >/dev/null ||
        skip "$program is missing (Debian parallel: scripts/install-deps --schedulers)"
done

note "rendering the reels"
make_reels
cd "$WORK"

note "the README's recipe: one task per reel, then the summary"
status=0
N=$(grep -c . "$MANIFEST")
parallel --will-cite "$VELTRANA" batch "$MANIFEST" -o "$OUT" --index {} ::: $(seq 0 $((N - 1))) \
    >"$WORK/parallel.log" 2>&1 || status=$?
# parallel exits with the number of failed tasks: the broken reel's
[ "$status" -eq 1 ] || fail "parallel exited $status, not 1: $(cat "$WORK/parallel.log")"
summary_status=0
"$VELTRANA" batch "$MANIFEST" -o "$OUT" --summary >"$WORK/summary.log" 2>&1 || summary_status=$?
[ "$summary_status" -ne 2 ] || fail "the summary was refused: $(cat "$WORK/summary.log")"

note "checking the deliverables"
check_deliverables
check_summary "$WORK/summary.log"
note "a rerun skips the done reels"
check_rerun_skips_done_reels
note "SIGKILL in the middle of a reel, then a rerun"
check_killed_reel_is_finished_by_rerun
echo "PASS: the GNU parallel recipe"
