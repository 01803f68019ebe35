#!/usr/bin/env bash
# Times chwr as a whole process, start-up included, beside minimal C programs that do
# the same job and nothing else (bench/floor/*.c): how far each command is from the
# floor of its work, in time and in peak memory.
#
#   bench/process.sh [BUILD_DIR] [--quick]
#
# BUILD_DIR (default build/) is configured as a Release build when it does not exist
# yet; chwr and smf_generate are built in it. The songs, the database and the floor
# programs go to BUILD_DIR/process-bench/. --quick takes fewer runs.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build
quick=0
for arg in "$@"; do
  case $arg in
    --quick) quick=1 ;;
    -h | --help) sed -n '2,10s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
    -*) echo "process.sh: unknown option $arg" >&2; exit 2 ;;
    *) build=$arg ;;
  esac
done

if ! command -v hyperfine >/dev/null || [[ ! -x /usr/bin/time ]]; then
  "$root/scripts/install-deps" --extras
fi

# --- The programs -------------------------------------------------------------------
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCHWR_BUILD_GUI=OFF >/dev/null
fi
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
[[ $build_type == Release ]] || echo "process.sh: $build is a '$build_type' build; the figures are for Release" >&2
if ! log=$(cmake --build "$build" --parallel "$(nproc)" --target chwr smf_generate 2>&1); then
  echo "$log" >&2
  exit 1
fi
chwr=$(cd "$build" && pwd)/cli/chwr
generate=$(cd "$build" && pwd)/bench/smf_generate

work=$(cd "$build" && pwd)/process-bench
rm -rf "$work"
mkdir -p "$work/songs"
for job in info modify list add; do
  cc -O2 -o "$work/floor-$job" "$root/bench/floor/$job.c"
done

# --- The files ----------------------------------------------------------------------
# Songs of about 64 KB, 1 MB and 10 MB, and a database of 100 ring tones of about 60 KB
# made by chwr itself: the example database emptied, then the ring tones added at once.
sizes=(64K:65536 1M:1048576 10M:10485760)
for size in "${sizes[@]}"; do
  "$generate" "${size#*:}" "$work/song-${size%%:*}.mid"
done
for i in $(seq -w 0 99); do
  "$generate" 61440 "$work/songs/tone$i.mid" "1$i"
done
"$generate" 61440 "$work/x.mid" 7
db=$work/ringtones.pdb
cp "$root/examples/MIDI_Ring_Tones.PDB" "$db"
while [[ -n $("$chwr" list "$db") ]]; do
  "$chwr" remove "$db" 1 --no-install >/dev/null
done
"$chwr" add "$db" "$work"/songs/tone*.mid --no-install >/dev/null
cp "$db" "$work/pristine.pdb"

# --- Measuring ----------------------------------------------------------------------
if ((quick)); then
  runs=(--warmup 1 --runs 5)
else
  runs=(--warmup 5 --min-runs 30)
fi

q() { printf '%q ' "$@"; }

# Peak memory in KiB of one run of a command line, after its preparation.
peak_kib() {
  local prepare=$1 command=$2
  [[ -z $prepare ]] || eval "$prepare"
  eval "/usr/bin/time -f %M -o $(q "$work/rss") $command" >/dev/null
  cat "$work/rss"
}

rows=()
# measure CASE CHWR_COMMAND FLOOR_COMMAND [PREPARE]: the two command lines under
# hyperfine (without a shell), then one run each for the peak memory.
measure() {
  local name=$1 ours=$2 floor=$3 prepare=${4:-}
  local options=(-N --style none "${runs[@]}" --export-csv "$work/times.csv")
  [[ -z $prepare ]] || options+=(--prepare "$prepare")
  echo "process.sh: $name" >&2
  hyperfine "${options[@]}" "$ours" "$floor" >/dev/null
  # CSV rows: command,mean,stddev,median,user,system,min,max in seconds, read from the
  # right since a command line may hold commas.
  local times
  times=$(awk -F, 'NR > 1 { printf "%s %s ", $(NF - 6) * 1000, ($(NF - 3) + $(NF - 2)) * 1000 }' "$work/times.csv")
  rows+=("$name $times $(peak_kib "$prepare" "$ours") $(peak_kib "$prepare" "$floor")")
}

for size in "${sizes[@]}"; do
  label=${size%%:*}
  song=$work/song-$label.mid
  measure "info-$label" "$(q "$chwr" info "$song")" "$(q "$work/floor-info" "$song")"
done
for size in "${sizes[@]}"; do
  label=${size%%:*}
  song=$work/song-$label.mid
  # A crop from a tenth of the song to six tenths of it.
  length=$("$chwr" info --json "$song" | sed 's/.*"length_ms": \([0-9]*\).*/\1/')
  start=$((length / 10)) end=$((length * 6 / 10))
  measure "modify-$label" "$(q "$chwr" modify "$song" "$work/cropped.mid" --start-ms "$start" --end-ms "$end")" \
    "$(q "$work/floor-modify" "$song" "$work/cropped.mid" "$start" "$end")"
done
measure "list-100" "$(q "$chwr" list "$db")" "$(q "$work/floor-list" "$db")"
measure "add-100" "$(q "$chwr" add "$db" "$work/x.mid" --no-install)" "$(q "$work/floor-add" "$db" "$work/x.mid")" \
  "$(q cp "$work/pristine.pdb" "$db")"

# --- The table ----------------------------------------------------------------------
# Times are means of the wall-clock time; "cpu ratio" compares user + system time,
# which a busy machine disturbs less. Memory is the peak resident set size.
printf '\n%-12s %10s %10s %7s %10s %11s %11s\n' case "chwr ms" "floor ms" ratio "cpu ratio" "chwr MiB" "floor MiB"
for row in "${rows[@]}"; do
  read -r name ours ours_cpu floor floor_cpu ours_kib floor_kib <<<"$row"
  awk -v n="$name" -v o="$ours" -v oc="$ours_cpu" -v f="$floor" -v fc="$floor_cpu" -v om="$ours_kib" \
    -v fm="$floor_kib" 'BEGIN { printf "%-12s %10.2f %10.2f %7.2f %10.2f %11.1f %11.1f\n",
      n, o, f, o / f, oc / fc, om / 1024, fm / 1024 }'
done
