#!/usr/bin/env bash
# The Slurm recipe on a real single-node Slurm: munged, slurmctld and slurmd
# started by hand on localhost with a generated slurm.conf (no systemd), an
# array of three rendered reels submitted through
# scripts/slurm/veltrana-array.sbatch, one reel broken. Then the checks of
# batch_common.sh: deliverables, records, nothing beside the scans, the
# summary, a rerun that skips done reels, a reel killed in the middle.
#
#   tests/batch/slurm_array_test.sh VELTRANA SOURCE_DIR
#
# Needs root and Debian's slurm-wlm and munge (.ci/run installs them with
# scripts/install-deps --schedulers); skips otherwise (exit 77). The daemons
# use a private socket, key, state and ports, and are stopped however the
# test ends.
set -euo pipefail

VELTRANA=$(realpath "$1")
SOURCE=$(realpath "$2")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/veltrana-slurm.XXXXXX")
# shellcheck source=batch_common.sh
source "$SOURCE/tests/batch/batch_common.sh"

daemons=()
stop_daemons() {
    local pid
    for pid in "${daemons[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${daemons[@]}"; do
        # a daemon that does not go within five seconds is killed
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null || true
    done
    if [ -z "${KEEP_WORK:-}" ]; then
        rm -rf "$WORK"
    else
        echo "work kept in $WORK"
    fi
}
trap stop_daemons EXIT

[ "$(id -u)" -eq 0 ] || skip "needs root to run slurmctld and slurmd (CI runs it as root)"
for program in munged slurmctld slurmd sbatch squeue sinfo python3; do
    command -v "$program" >/dev/null ||
        skip "$program is missing (Debian slurm-wlm, munge: scripts/install-deps --schedulers)"
done

# Two free TCP ports for slurmctld and slurmd.
read -r ctld_port d_port < <(python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))')

mkdir -p "$WORK/munge" "$WORK/state" "$WORK/spool" "$WORK/log"
chmod 755 "$WORK" "$WORK/munge"
head -c 1024 /dev/urandom >"$WORK/munge/munge.key"
chmod 600 "$WORK/munge/munge.key"
munged --force --foreground --socket="$WORK/munge/socket" --key-file="$WORK/munge/munge.key" \
    --pid-file="$WORK/munge/munged.pid" --seed-file="$WORK/munge/seed" \
    --log-file="$WORK/log/munged.log" >"$WORK/log/munged.out" 2>&1 &
daemons+=($!)

node=$(hostname -s)
export SLURM_CONF="$WORK/slurm.conf"
cat >"$SLURM_CONF" <<EOF
ClusterName=veltranatest
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$d_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$WORK/munge/socket
CredType=cred/munge
StateSaveLocation=$WORK/state
SlurmdSpoolDir=$WORK/spool
SlurmctldPidFile=$WORK/slurmctld.pid
SlurmdPidFile=$WORK/slurmd.pid
SlurmctldLogFile=$WORK/log/slurmctld.log
SlurmdLogFile=$WORK/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
ReturnToService=2
SchedulerType=sched/backfill
SchedulerParameters=sched_interval=1
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
InactiveLimit=0
MinJobAge=600
KillWait=5
NodeName=$node NodeAddr=127.0.0.1 CPUs=2 State=UNKNOWN
PartitionName=veltrana Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF

for _ in $(seq 50); do
    [ -S "$WORK/munge/socket" ] && break
    sleep 0.1
done
slurmctld -D -i -f "$SLURM_CONF" >"$WORK/log/slurmctld.out" 2>&1 &
daemons+=($!)
slurmd -D -f "$SLURM_CONF" >"$WORK/log/slurmd.out" 2>&1 &
daemons+=($!)

note "waiting for the node"
state=""
for _ in $(seq 300); do
    state=$(sinfo -h -n "$node" -o %t 2>/dev/null || true)
    [ "$state" = idle ] && break
    sleep 0.1
done
[ "$state" = idle ] || fail "Slurm did not come up (node $state): $(tail -n 5 "$WORK"/log/*)"

note "rendering the reels"
make_reels

note "submitting the array through the recipe"
cd "$WORK"
export VELTRANA
submitted=$("$SOURCE/scripts/slurm/veltrana-array.sbatch" "$MANIFEST" "$OUT" \
    --cpus-per-task=1 --output="$WORK/log/slurm-%A_%a.out")
echo "$submitted"
array=$(sed -n 's/^array \([0-9]*\) .*/\1/p' <<<"$submitted")
summary=$(sed -n 's/.*summary \([0-9]*\)$/\1/p' <<<"$submitted")
[ -n "$array" ] && [ -n "$summary" ] || fail "the recipe did not say what it submitted"

note "waiting for the array $array and the summary $summary"
for _ in $(seq 1200); do
    [ -z "$(squeue -h -j "$array,$summary" 2>/dev/null)" ] && break
    sleep 0.1
done
[ -z "$(squeue -h -j "$array,$summary" 2>/dev/null)" ] || fail "the jobs did not end in 120 s"
summary_state=$(scontrol show job "$summary" | sed -n 's/.*JobState=\([A-Z_]*\).*/\1/p')
# the summary job ran after the whole array, and says a reel failed
[ "$summary_state" = COMPLETED ] || [ "$summary_state" = FAILED ] ||
    fail "the summary job ended $summary_state"
for task in 0 1 2; do
    [ -f "$WORK/log/slurm-${array}_$task.out" ] || fail "array task $task did not run"
done

note "checking the deliverables"
check_deliverables
check_summary "$(ls "$WORK/log/slurm-${summary}"_*.out)"
note "a rerun skips the done reels"
check_rerun_skips_done_reels
note "SIGKILL in the middle of a reel, then a rerun"
check_killed_reel_is_finished_by_rerun
echo "PASS: the Slurm array recipe"
