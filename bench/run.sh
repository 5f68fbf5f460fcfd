#!/usr/bin/env bash
# Benchmarks Tallimo against a baseline: the least a Qt 6 Widgets program
# needs for the same window (bench/baseline.cpp). Both are built with the same
# flags and measured in one run on Xvfb with openbox, in alternating order.
#
#   bash bench/run.sh [REPETITIONS]      (5 by default; each takes about 40 s)
#   BENCH_BUILD=build/mine bash bench/run.sh   (another build folder than build/bench)
#
# For each repetition and program:
#   start-up  process start to the MapNotify of the window's frame, taken by
#             tallimo_xprobe from the X server's own events (no polling);
#             five start-ups per repetition
#   memory    VmRSS two seconds after start
#   wake-ups  per idle second over IDLE seconds (10): the growth of
#             voluntary context switches summed over all the program's threads;
#             a thread that sleeps in poll() and wakes switches once per wake-up
#   count     press and release on the count button through XTEST; the time
#             from the release to the first DAMAGE event for the count label
#             (the repaint reaching the X server), one sample per click
#   command   Tallimo only: exec of `tallimo --count` to its exit while the
#             window runs, one sample per click; set against Tallimo's own
#             start-up to a mapped window
# Tallimo runs with a record from yesterday that has the alarm (at 25:00, so
# it never rings) and the hourly report on: all three timers run and no
# question is asked at start.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

reps=${1:-5}
idle=${IDLE:-10}
clicks=20
starts=2 # extra start-up pairs (ABBA) per repetition
[[ "$reps" =~ ^[1-9][0-9]*$ ]] || { echo "usage: bench/run.sh [REPETITIONS]" >&2; exit 2; }

bash scripts/install-deps.sh >/dev/null

# Same build type as the default preset; two jobs at most on shared machines.
build=${BENCH_BUILD:-build/bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALLIMO_BENCH=ON \
  -DBUILD_TESTING=OFF -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build "$build" --target tallimo tallimo_window tallimo_baseline tallimo_xprobe -j 2 >/dev/null
probe="$PWD/$build/bench/tallimo_xprobe"

die() {
  echo "bench: $*" >&2
  exit 1
}

# shellcheck source=scripts/x-session.sh
source scripts/x-session.sh

work=$(mktemp -d)
app_pid=
gone() { # true once the process has ended (an orphan may linger as a zombie)
  [[ ! -e /proc/$1/stat ]] || [[ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" == Z ]]
}
stop() {
  local pid=$1 i
  kill -TERM "$pid" 2>/dev/null || true
  for ((i = 0; i < 50; i++)); do
    gone "$pid" && return
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}
cleanup() {
  [[ -z "$app_pid" ]] || stop "$app_pid"
  stop_x_session
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

start_x_session "$work"
sleep 1 # openbox answers before it manages new windows

# Each program from a folder of its own, as installed: Tallimo keeps its
# record beside its executable.
mkdir "$work/tallimo" "$work/baseline"
cp "$build/tallimo" "$build/tallimo-window.so" "$work/tallimo/"
cp "$build/bench/tallimo_baseline" "$work/baseline/baseline"

yesterdays_record() { # count 0, goal 0, alarm on at 25:00, hourly report on
  python3 - "$1" <<'PY'
import datetime, struct, sys
day = (datetime.date.today() - datetime.timedelta(days=1) - datetime.date(1899, 12, 30)).days
open(sys.argv[1], "wb").write(struct.pack("<d6h", day, 0, 0, -1, 25, 0, -1))
PY
}

switches() { # voluntary context switches of all threads of a process
  cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ {n += $2} END {print n + 0}'
}

results="$work/results"
: >"$results"

# measure NAME RECORD?  -> appends "NAME METRIC VALUE" lines to $results
measure() {
  local name=$1 record=$2 exe="$work/$1/$1"
  rm -f "$work/$name/Cnt.arm"
  [[ "$record" == yes ]] && yesterdays_record "$work/$name/Cnt.arm"

  local start out pid window map_us
  start=$(date +%s%N)
  out=$("$probe" map "$exe" 2>>"$work/$name.log") || die "$name did not map a window (see log below)
$(tail -n 20 "$work/$name.log")"
  read -r pid window map_us <<<"$out"
  app_pid=$pid

  # Memory two seconds after the start.
  local left=$((2000000000 - ($(date +%s%N) - start)))
  ((left > 0)) && sleep "$(printf '%d.%09d' $((left / 1000000000)) $((left % 1000000000)))"
  local rss
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")

  # Idle wake-ups with every timer running.
  local s0 s1
  s0=$(switches "$pid")
  sleep "$idle"
  s1=$(switches "$pid")

  # Count button (0,20)-(57,40): click its middle, watch the label (0,0) 38x19.
  # Tallimo's own caption puts its client area at (3,18) in its window.
  local took dx=0 dy=0
  [[ "$name" == tallimo ]] && dx=3 dy=18
  while read -r took; do
    echo "$name count_us $took" >>"$results"
  done < <("$probe" click "$window" $((28 + dx)) $((30 + dy)) "$dx" "$dy" 38 19 "$clicks" \
    2>>"$work/$name.log" || true)

  # A shortcut's count: the whole command, from exec to exit.
  local t0 t1 i
  for ((i = 0; i < clicks; i++)); do
    [[ "$name" == tallimo ]] || break
    t0=$EPOCHREALTIME
    "$exe" --count >/dev/null 2>>"$work/$name.log" || die "tallimo --count failed"
    t1=$EPOCHREALTIME
    echo "$name command_us $((10#${t1//[.,]/} - 10#${t0//[.,]/}))" >>"$results"
  done

  stop "$pid"
  app_pid=
  {
    echo "$name startup_us $map_us"
    echo "$name rss_kb $rss"
    echo "$name wakeups_per_s $(awk -v a="$s0" -v b="$s1" -v t="$idle" 'BEGIN {printf "%.2f", (b - a) / t}')"
  } >>"$results"
}

# Start-up alone, which varies most from run to run: map, then stop at once.
startup_only() {
  local name=$1 record=$2 exe="$work/$1/$1" out pid window map_us
  rm -f "$work/$name/Cnt.arm"
  [[ "$record" == yes ]] && yesterdays_record "$work/$name/Cnt.arm"
  out=$("$probe" map "$exe" 2>>"$work/$name.log") || die "$name did not map a window: $(tail -n 5 "$work/$name.log")"
  read -r pid window map_us <<<"$out"
  app_pid=$pid
  stop "$pid"
  app_pid=
  echo "$name startup_us $map_us" >>"$results"
}

echo "bench: $reps repetitions on display $DISPLAY (one warm-up run of each first)"
measure baseline no
measure tallimo yes
: >"$results"
for ((r = 1; r <= reps; r++)); do
  if ((r % 2)); then
    measure baseline no
    measure tallimo yes
  else
    measure tallimo yes
    measure baseline no
  fi
  for ((k = 0; k < starts; k++)); do
    startup_only baseline no
    startup_only tallimo yes
    startup_only tallimo yes
    startup_only baseline no
  done
  echo "bench: repetition $r of $reps done"
done

summary() {
  ram_kb=$(awk '/^MemTotal/ {print $2}' /proc/meminfo)
  cpu=$(awk -F': ' '/^model name/ {print $2; exit}' /proc/cpuinfo)
  echo
  echo "Machine: $(nproc) CPUs, ${cpu:-unknown CPU}, $((ram_kb / 1024 / 1024)) GiB RAM; $(uname -sr);" \
    "Qt $(dpkg-query -W -f='${Version}' libqt6widgets6 2>/dev/null || echo '?'); $(date -u +%Y-%m-%d)"
  echo "$reps repetitions, alternating; $((1 + 2 * starts)) start-ups and $clicks clicks each; wake-ups over ${idle} s idle"
  python3 - "$results" <<'PY'
import statistics, sys
data = {}
for line in open(sys.argv[1]):
    name, metric, value = line.split()
    data.setdefault(metric, {}).setdefault(name, []).append(float(value))

rows = [
    ("startup_us", "start-up to mapped window", 1e-3, "ms", lambda r, t: r <= 1.10, "<= 1.1x baseline"),
    ("rss_kb", "resident memory at 2 s", 1 / 1024, "MiB", lambda r, t: r <= 1.15, "<= 1.15x baseline"),
    ("wakeups_per_s", "wake-ups per idle second", 1, "/s", lambda r, t: t <= 1.0, "<= 1 per second"),
    ("count_us", "count click to label repaint", 1e-3, "ms", lambda r, t: t < 1.0, "< 1 ms (median)"),
]
fmt = "{:<30} {:<9} {:>9} {:>9} {:>9}  {}"
print(fmt.format("figure", "program", "min", "median", "max", "ratio / target"))
missed = []
for metric, title, scale, unit, ok, target in rows:
    values = data.get(metric, {})
    medians = {}
    for name in ("baseline", "tallimo"):
        v = [x for x in values.get(name, []) if x >= 0]
        failed = len(values.get(name, [])) - len(v)
        if not v:
            print(fmt.format(title, name, "-", "-", "-", "no samples"))
            continue
        medians[name] = statistics.median(v) * scale
        extra = ""
        if name == "tallimo" and "baseline" in medians:
            base = medians["baseline"]
            ratio = medians[name] / base if base else float("inf")
            met = ok(ratio, medians[name])
            extra = f"{ratio:.2f}x; target {target}: {'met' if met else 'MISSED'}"
            if not met:
                missed.append(title)
        if failed:
            extra += f" ({failed} samples without a repaint)"
        print(fmt.format(title if name == "baseline" else "", name,
                         f"{min(v) * scale:.2f}", f"{medians[name]:.2f}",
                         f"{max(v) * scale:.2f}", (unit + "  " + extra).strip()))
command, start = data.get("command_us", {}).get("tallimo"), data.get("startup_us", {}).get("tallimo")
if command and start:
    ratio = statistics.median(command) / statistics.median(start)
    met = ratio <= 0.25
    missed += [] if met else ["tallimo --count"]
    print(fmt.format("tallimo --count, exec to exit", "tallimo", f"{min(command) / 1e3:.2f}",
                     f"{statistics.median(command) / 1e3:.2f}", f"{max(command) / 1e3:.2f}",
                     f"ms  {ratio:.2f}x its start-up; target <= 0.25x: {'met' if met else 'MISSED'}"))
print()
print("All targets met." if not missed else "Targets missed: " + ", ".join(missed))
PY
}

# The summary is also kept in build/bench/latest.txt.
summary | tee "$build/latest.txt"
