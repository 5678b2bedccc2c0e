# Sourced by the scheduler recipe tests: three rendered reels, one of them
# broken (a scan cut short), their manifest, and the checks of what a batch
# over them leaves behind. Each test runs its recipe between make_reels and
# the checks.
#
# The caller sets VELTRANA (the program) and WORK (an empty folder of its
# own) before sourcing; everything goes under WORK.

skip() {
    echo "SKIP: $*"
    exit 77
}

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

note() {
    echo "-- $*"
}

# The ids, in manifest order: reel-b is the broken one, reel-c the longest
# (the one killed in the middle).
REELS=(reel-a reel-b reel-c)
MANIFEST="$WORK/manifest.jsonl"
OUT="$WORK/out"

# Renders the reels' scans and writes the manifest. reel-a is archival.
make_reels() {
    mkdir -p "$WORK/scans"
    local frames
    for id in "${REELS[@]}"; do
        frames=4
        [ "$id" = reel-c ] && frames=12
        "$VELTRANA" synth "$WORK/scans/$id" --frames "$frames" --fps 24 --variant "${#id}" \
            >/dev/null 2>&1 || fail "veltrana synth could not render $id"
    done
    truncate -s 2000 "$WORK/scans/reel-b/frame_0003.tif"
    cat >"$MANIFEST" <<'JSON'
{"id": "reel-a", "scans": "scans/reel-a", "fps": 24, "archival": true}
{"id": "reel-b", "scans": "scans/reel-b", "fps": 24}
{"id": "reel-c", "scans": "scans/reel-c", "fps": 24}
JSON
    scans_listing >"$WORK/scans.before"
}

# Every entry under the scans with its size and modification time.
scans_listing() {
    (cd "$WORK/scans" && find . -printf '%p %s %T@\n' | sort)
}

# The value of a top-level key of a JSON file, as Python prints it.
json_value() { # file key
    python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' "$1" "$2"
}

# A good reel: its WAV, an md5sum check file md5sum accepts, a record that says done.
check_done_reel() { # id
    local id=$1 dir="$OUT/$1"
    [ -f "$dir/$id.wav" ] || fail "$id: no $id.wav"
    [ -f "$dir/$id.wav.md5" ] || fail "$id: no $id.wav.md5"
    (cd "$dir" && md5sum --quiet -c "$id.wav.md5") || fail "$id: md5sum -c refuses $id.wav.md5"
    [ "$(json_value "$dir/$id.json" status)" = done ] || fail "$id: the record does not say done"
    [ "$(json_value "$dir/$id.json" id)" = "$id" ] || fail "$id: the record names another id"
}

# What the batch must leave: two reels done, the broken one failed without a
# WAV, nothing new beside the scans.
check_deliverables() {
    check_done_reel reel-a
    check_done_reel reel-c
    python3 - "$OUT/reel-a/reel-a.wav" <<'PY' || fail "reel-a: not a 24-bit 48 kHz Broadcast WAV"
import sys, wave
with open(sys.argv[1], "rb") as f:
    head = f.read(4096)
assert head[:4] == b"RIFF" and head[8:12] == b"WAVE" and b"bext" in head
with wave.open(sys.argv[1]) as w:
    assert (w.getframerate(), w.getsampwidth(), w.getnchannels()) == (48000, 3, 1)
PY
    [ -f "$OUT/reel-b/reel-b.json" ] || fail "reel-b: no record"
    [ "$(json_value "$OUT/reel-b/reel-b.json" status)" = failed ] ||
        fail "reel-b: the record does not say failed"
    [ ! -e "$OUT/reel-b/reel-b.wav" ] || fail "reel-b: a WAV was left for the broken reel"
    json_value "$OUT/reel-b/reel-b.json" message | grep -q "frame_0003.tif" ||
        fail "reel-b: the record's message does not name the broken scan"
    scans_listing | diff -u "$WORK/scans.before" - || fail "something changed beside the scans"
}

# batch-summary.csv: a header and one row per reel, each id once; the
# summary's output (given) names the failed reel's index as --array takes it.
check_summary() { # summary output
    grep -q -- "--array=1$" "$1" || fail "the summary did not print --array=1: $(cat "$1")"
    local csv="$OUT/batch-summary.csv"
    [ -f "$csv" ] || fail "no batch-summary.csv"
    [ "$(tail -n +2 "$csv" | grep -c .)" -eq "${#REELS[@]}" ] ||
        fail "batch-summary.csv does not hold one row per reel: $(cat "$csv")"
    for id in "${REELS[@]}"; do
        [ "$(grep -c "^\"\?$id\"\?," "$csv")" -eq 1 ] || fail "batch-summary.csv: no single row for $id"
    done
    [ -f "$OUT/batch-summary.html" ] || fail "no batch-summary.html"
}

# Identity and time of each done reel's WAV.
wav_stamps() {
    stat -c '%n %i %Y %s' "$OUT/reel-a/reel-a.wav" "$OUT/reel-c/reel-c.wav"
}

# A rerun of the whole manifest on this machine skips the done reels (their
# WAVs untouched) and exits non-zero for the broken one.
check_rerun_skips_done_reels() {
    local before status=0
    before=$(wav_stamps)
    "$VELTRANA" batch "$MANIFEST" -o "$OUT" >"$WORK/rerun.log" 2>&1 || status=$?
    [ "$status" -eq 1 ] || fail "the rerun exited $status, not 1: $(cat "$WORK/rerun.log")"
    [ "$(wav_stamps)" = "$before" ] || fail "the rerun touched a done reel's WAV"
    grep -q "done earlier" "$WORK/rerun.log" || fail "the rerun did not say done earlier"
    check_deliverables
}

# SIGKILL in the middle of reel-c, then a rerun of its index: no WAV that
# fails its check at any point, and the rerun finishes the reel.
check_killed_reel_is_finished_by_rerun() {
    rm -rf "${OUT:?}/reel-c"
    local entries pid waited=0
    entries=$(ls -A "$OUT")
    "$VELTRANA" batch "$MANIFEST" -o "$OUT" --index 2 >"$WORK/killed.log" 2>&1 &
    pid=$!
    # wait for the reel's work to show in DIR, then kill it
    while [ "$(ls -A "$OUT")" = "$entries" ] && kill -0 "$pid" 2>/dev/null && [ $waited -lt 200 ]; do
        sleep 0.05
        waited=$((waited + 1))
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    ! grep -q "reel-c (index 2): done" "$WORK/killed.log" ||
        fail "reel-c ended before it could be killed in the middle"
    if [ -e "$OUT/reel-c/reel-c.wav" ]; then
        (cd "$OUT/reel-c" && md5sum --quiet -c reel-c.wav.md5) ||
            fail "the killed reel left a WAV that fails its check"
    fi
    "$VELTRANA" batch "$MANIFEST" -o "$OUT" --index 2 >"$WORK/after-kill.log" 2>&1 ||
        fail "the rerun after the kill failed: $(cat "$WORK/after-kill.log")"
    check_done_reel reel-c
    scans_listing | diff -u "$WORK/scans.before" - || fail "something changed beside the scans"
}
