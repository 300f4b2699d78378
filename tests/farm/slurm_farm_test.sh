#!/usr/bin/env bash
# velloq-host under a real render farm's scheduler: a one-machine Slurm
# cluster (munged, slurmctld and slurmd on this machine, every file of theirs
# in a temporary folder, started and stopped here) stamps a sequence as a job
# array of chunks with --skip-existing. One chunk's velloq-host is killed
# with SIGKILL while it writes a frame, as the out-of-memory killer kills,
# and Slurm runs that chunk again. Then every frame must be whole and
# stamped once (its pixels outside the report the source's), the chunk run
# again must exit 0, and nothing hidden may be left in the folder.
#
#   tests/farm/slurm_farm_test.sh BUILD_FOLDER     (its bin/velloq-host)
#
# The last line says "passed", "failed: ..." or "skipped: ..." (where Slurm
# cannot start: not root, Slurm or munge missing); the exit status is 1 only
# for "failed".
set -uo pipefail

build=$(cd "${1:?usage: slurm_farm_test.sh BUILD_FOLDER}" && pwd)
host="$build/bin/velloq-host"
here=$(cd "$(dirname "$0")" && pwd)
frames=24 chunk=6 size=960x540
started=$SECONDS

skip() { echo "skipped: $*"; exit 0; }
fail() {
  echo "--- slurmctld.log"; tail -n 20 "$work/slurmctld.log" 2>/dev/null
  echo "--- slurmd.log"; tail -n 20 "$work/slurmd.log" 2>/dev/null
  echo "failed: $*"
  exit 1
}

[ "$(id -u)" -eq 0 ] || skip "the Slurm daemons need root here"
for tool in munged slurmctld slurmd sbatch scontrol squeue sinfo; do
  command -v "$tool" >/dev/null || skip "$tool is missing (apt-get install slurm-wlm munge)"
done
[ -x "$host" ] || fail "no $host: build the native preset first"
/usr/bin/python3 -c "import PIL" 2>/dev/null || skip "Pillow is missing (apt-get install python3-pil)"

work=$(mktemp -d /tmp/velloq-slurm.XXXXXX)
chmod 700 "$work"
stop_cluster() {
  # Each daemon by the process id it wrote, then their files.
  local pid_file pids=()
  for pid_file in "$work/slurmd.pid" "$work/slurmctld.pid" "$work/munge/munged.pid"; do
    pids+=("$(cat "$pid_file" 2>/dev/null)")
  done
  for pid in "${pids[@]}"; do [ -n "$pid" ] && kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do
      [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
  done
  rm -rf "$work"
}
trap stop_cluster EXIT

# munge: a key of its own, its socket in the folder.
mkdir -m 700 "$work/munge" "$work/state" "$work/spool"
head -c 1024 /dev/urandom >"$work/munge/munge.key"
chmod 600 "$work/munge/munge.key"
munged --force --key-file="$work/munge/munge.key" --socket="$work/munge/socket" \
  --pid-file="$work/munge/munged.pid" --log-file="$work/munge/munged.log" \
  --seed-file="$work/munge/seed" || skip "munged does not start here"

# Two free ports on localhost for the daemons.
free_port() {
  local port
  for port in $(shuf -i 20000-40000 -n 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
  done
}
node=$(hostname -s)
export SLURM_CONF="$work/slurm.conf"
cat >"$SLURM_CONF" <<EOF
ClusterName=velloqfarm
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge/socket
CredType=cred/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
JobRequeue=1
SlurmdParameters=config_overrides
NodeName=$node NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=farm Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF
slurmctld -c || skip "slurmctld does not start here"
slurmd -c || skip "slurmd does not start here"
for _ in $(seq 100); do
  [ "$(sinfo -h -o %T 2>/dev/null)" = idle ] && break
  sleep 0.2
done
[ "$(sinfo -h -o %T 2>/dev/null)" = idle ] || skip "the Slurm node does not come up here"

# The sequence: the built-in scene's frames, not stamped (--abort).
"$host" --abort --quiet --frames "$frames" --size "$size" --out "$work/source" >/dev/null ||
  fail "velloq-host could not render the sources"

# A chunk of the array: its frames, --skip-existing so that a chunk run
# again does what is not done; its exit status kept per run of it.
export VELLOQ_HOST="$host" VELLOQ_WORK="$work" VELLOQ_CHUNK="$chunk"
cat >"$work/chunk.sh" <<'EOF'
#!/usr/bin/env bash
first=$((SLURM_ARRAY_TASK_ID * VELLOQ_CHUNK + 1))
"$VELLOQ_HOST" --quiet --jobs 1 --skip-existing --format png,tga \
  --input "$VELLOQ_WORK/source/render_%04d.png" --range "$first-$((first + VELLOQ_CHUNK - 1))" \
  --out "$VELLOQ_WORK/stamped"
status=$?
echo "$status" >"$VELLOQ_WORK/status.$SLURM_ARRAY_TASK_ID.${SLURM_RESTART_COUNT:-0}"
exit "$status"
EOF
chmod +x "$work/chunk.sh"
array=$(sbatch --parsable --requeue --array=0-$((frames / chunk - 1)) \
  --output="$work/chunk.%a.%j.log" "$work/chunk.sh") || fail "sbatch refused the array"

# Chunk 0's velloq-host, killed -9 the moment one of its frames is being
# written: its claims name the process.
victim=""
for _ in $(seq 3000); do
  if ls -A "$work/stamped" 2>/dev/null | grep -q '^\.render_000[1-6]\..*velloq-partial$'; then
    victim=$(sed -n 4p "$work/stamped/.render_0006.png.velloq-claim" 2>/dev/null)
    [ -n "$victim" ] && kill -9 "$victim" 2>/dev/null && break
    victim=""
  fi
  sleep 0.01
done
[ -n "$victim" ] || fail "chunk 0 ended before one of its frames was being written"

# Slurm runs the chunk again, now rather than after a requeued job's wait.
requeued=no
for _ in $(seq 200); do
  if [ -f "$work/status.0.0" ] && scontrol requeue "${array}_0" 2>/dev/null; then
    requeued=yes
    break
  fi
  sleep 0.1
done
[ "$requeued" = yes ] || fail "Slurm did not requeue chunk 0"
for _ in $(seq 600); do
  [ -f "$work/status.0.1" ] && [ -z "$(squeue -h -j "$array" 2>/dev/null)" ] && break
  if [ "$(squeue -h -j "${array}_0" -o %T 2>/dev/null)" = PENDING ]; then
    scontrol update JobId="${array}_0" StartTime=now 2>/dev/null
  fi
  sleep 0.1
done

status() { cat "$work/status.$1" 2>/dev/null || echo none; }
[ "$(status 0.0)" = 137 ] || fail "the killed chunk ended with $(status 0.0), not 137 (SIGKILL)"
[ "$(status 0.1)" = 0 ] || fail "the chunk Slurm ran again ended with $(status 0.1), not 0"
for task in $(seq 1 $((frames / chunk - 1))); do
  [ "$(status "$task.0")" = 0 ] || fail "chunk $task ended with $(status "$task.0")"
done
hidden=$(ls -A "$work/stamped" | grep '^\.')
[ -z "$hidden" ] || fail "hidden files left: $hidden"
[ "$(ls "$work/stamped" | wc -l)" -eq $((frames * 2)) ] || fail "not every frame's PNG and TGA are there"
problems=$(/usr/bin/python3 "$here/stamped_once.py" "$work/source" "$work/stamped" 1 "$frames") ||
  fail "$problems"
echo "killed chunk 0's velloq-host (process $victim) mid-frame; Slurm ran the chunk again; $frames frames whole and stamped once ($((SECONDS - started)) s)"
echo passed
