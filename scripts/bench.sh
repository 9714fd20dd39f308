#!/usr/bin/env bash
# Builds and runs every benchmark and prints one table: each figure of the
# client next to the same figure of a bare WebKitGTK program measured in the
# same run, with their ratio. A figure measured several times shows its
# median and, below it, its spread (min-max) and the number of samples; a
# ratio is the median of the ratios of interleaved client/bare pairs. The
# benchmarks' own printouts go to build/bench-logs/. Exits 1 when a benchmark
# failed. Usage: scripts/bench.sh [build dir]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-$root/build}

./scripts/setup.sh >/dev/null
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_TEST_HOOKS=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target bench

logs="$build/bench-logs"
mkdir -p "$logs"
figures="$logs/figures.txt"
: > "$figures"
export QM_BENCH_FIGURES="$figures"

xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  Xvfb :93 -screen 0 1440x900x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=:93
  sleep 1
fi
trap '[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true' EXIT
export WEBKIT_DISABLE_COMPOSITING_MODE=1 NO_AT_BRIDGE=1 GDK_BACKEND=x11

echo "bench: load before the run: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
failed=()
for b in "$build"/bench/bench_* "$build"/bench/cefhost_bench "$build"/bench/soak_bench; do
  name=$(basename "$b")
  case "$name" in bench_bare_window|*_bare|*bare_*) continue ;; esac
  [ -x "$b" ] || continue
  echo "bench: running $name" >&2
  if ! timeout 1800 "$b" > "$logs/$name.txt" 2>&1; then
    echo "bench: $name failed (see $logs/$name.txt)" >&2
    failed+=("$name")
  fi
done
echo "bench: load after the run: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

python3 - "$figures" <<'PY'
import sys
fig = {}
for line in open(sys.argv[1]):
    parts = line.split()
    if len(parts) == 2:
        fig[parts[0]] = (float(parts[1]), None, None, None)
    elif len(parts) == 5:
        fig[parts[0]] = (float(parts[1]), float(parts[2]), float(parts[3]), int(parts[4]))

rows = [
    ("cold start to first paint (ms)", "first_paint_ms_client", "first_paint_ms_bare"),
    ("browser creation to load end (ms)", "create_to_load_ms_client", "create_to_load_ms_bare"),
    ("bridge round trip p50 (ms)", "bridge_rt_p50_ms_client", "bridge_rt_p50_ms_bare"),
    ("bridge round trip p99 (ms)", "bridge_rt_p99_ms_client", "bridge_rt_p99_ms_bare"),
    ("synchronous calls per second", "sync_calls_per_s_client", "sync_calls_per_s_bare"),
    ("memory of all processes after load, RSS (MB)", "memory_rss_mb_client", "memory_rss_mb_bare"),
    ("memory of all processes after load, PSS (MB)", "memory_pss_mb_client", "memory_pss_mb_bare"),
    ("off-screen frames per second (1280x720 canvas)", "osr_fps_client", "osr_fps_bare"),
    ("off-screen click to changed frame (ms)", "osr_click_latency_ms_client", None),
    ("idle CPU, window shown (% of a core)", "idle_cpu_shown_client", "idle_cpu_shown_bare"),
    ("idle CPU, window hidden (% of a core)", "idle_cpu_hidden_client", None),
    ("launch report cost on the UI thread (ms)", "report_ui_thread_ms", None),
    ("UI stall, page sending its largest calls (ms)", "bridge_stall_cpu_ms", None),
    ("  the same in time, with the machine's load (ms)", "bridge_stall_wall_ms", None),
    ("  the same in time, page idle (ms)", "bridge_stall_idle_wall_ms", None),
    ("\"_get_client_info\" handler (ms)", "client_info_ms", None),
    ("\"_nim_enum_player\" on the UI thread (ms)", "enum_player_ui_thread_ms", None),
    ("player scan on the worker pool (ms)", "player_scan_ms", None),
    ("log records per second, 1 thread", "log_records_per_s_1", None),
    ("log records per second, 4 threads", "log_records_per_s_4", None),
    ("launcher start to engine initialised (ms)", "launcher_to_engine_ms", None),
    ("worker pool, tiny tasks per second", "pool_tasks_per_s", None),
    ("crash dump, 30 threads (ms)", "crash_dump_ms", None),
    ("soak: memory growth over 100,000 commands (%)", "soak_memory_growth_pct", None),
    ("soak: leaked processes after 50 start/stop cycles", "soak_leaked_processes", None),
    ("voice: mouth to ear p50 (ms)", "voice_mouth_to_ear_p50_ms", None),
    ("voice: mouth to ear p95 (ms)", "voice_mouth_to_ear_p95_ms", None),
    ("voice: delay growth over a 10-minute call (ms)", "voice_delay_growth_ms", None),
    ("voice: CPU of one talking client (% of a core)", "voice_talker_cpu_pct", None),
    ("voice: upstream bytes/s talking at 40 kb/s (module)", "voice_upstream_bytes_per_s", None),
    ("voice: upstream bytes/s talking at 40 kb/s (Mumble client)", "voice_upstream_mumble_bytes_per_s", None),
    ("voice: upstream, module / Mumble client", "voice_upstream_vs_mumble", None),
    ("voice: frames the worst of 20 listeners got (%)", "voice_20_listeners_min_delivery_pct", None),
    ("voice: talker + its share of its sound server, processing on (%)", "voice_processing_talker_cpu_pct", None),
    ("  of which the client", "voice_processing_talker_client_cpu_pct", None),
    ("  the same, processing off (%)", "voice_unprocessed_talker_cpu_pct", None),
    ("  of which the client", "voice_unprocessed_talker_client_cpu_pct", None),
    ("voice: talking and hearing, with the share, processing on (%)", "voice_processing_call_cpu_pct", None),
    ("  of which the client", "voice_processing_call_client_cpu_pct", None),
    ("  the same, processing off (%)", "voice_unprocessed_call_cpu_pct", None),
    ("  of which the client", "voice_unprocessed_call_client_cpu_pct", None),
]

def num(v):
    return f"{v:,.0f}" if abs(v) >= 100 else f"{v:.3g}"

def value(f):
    return "-" if f is None else num(f[0])

def spread(f):
    if f is None or f[3] is None:
        return ""
    return f"{num(f[1])}-{num(f[2])} n={f[3]}"

print(f"| {'figure':50} | {'client':>17} | {'bare WebKitGTK':>17} | {'ratio':>14} |")
print(f"|{'-'*52}|{'-'*19}|{'-'*19}|{'-'*16}|")
for label, ck, bk in rows:
    c = fig.get(ck)
    b = fig.get(bk) if bk else None
    if c is None and b is None:
        continue
    r = fig.get("ratio:" + ck)
    if r is None and c is not None and b is not None and b[0]:
        r = (c[0] / b[0], None, None, None)
    ratio = "-" if r is None else f"{r[0]:.2f}"
    print(f"| {label:50} | {value(c):>17} | {value(b):>17} | {ratio:>14} |")
    if any(f is not None and f[3] is not None for f in (c, b, r)):
        rs = "" if r is None or r[3] is None else f"{r[1]:.2f}-{r[2]:.2f}"
        print(f"| {'':50} | {spread(c):>17} | {spread(b):>17} | {rs:>14} |")
PY

if [ ${#failed[@]} -gt 0 ]; then
  echo "bench: failed: ${failed[*]}" >&2
  exit 1
fi
