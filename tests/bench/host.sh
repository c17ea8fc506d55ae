#!/usr/bin/env bash
# Runs the host benchmarks (build/host/bin/benchmarks) and prints one compact
# table: per benchmark and size the real and CPU time, and, where the size
# doubles from the row above, the ratio of CPU times (linear growth gives
# about 2.0). Benchmarks that set a "ratio" counter (a decoder against a
# plain memcpy, say) show it in the last column, and a second table gives its parts.
# Each benchmark runs REPS times (default 3) and the median is shown, since
# the machine may be shared. Below each family of sizes, the fitted growth
# over its sizes from 1024 on: the mean ratio per doubling.
# Usage: tests/bench/host.sh [extra Google Benchmark flags, e.g. --benchmark_filter=Merge]
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
bin=${BENCHMARKS:-$top/build/host/bin/benchmarks}
if [ ! -x "$bin" ]; then
    echo "no benchmarks binary at $bin (cmake --preset host && cmake --build --preset host)" >&2
    exit 1
fi
out=$(mktemp)
log=$(mktemp)
trap 'rm -f "$out" "$log"' EXIT
if ! "$bin" --benchmark_out="$out" --benchmark_out_format=json \
    --benchmark_repetitions="${REPS:-3}" --benchmark_report_aggregates_only=true "$@" >/dev/null 2>"$log"; then
    cat "$log" >&2
    exit 1
fi
python3 - "$out" <<'PY'
import json, math, sys

every = json.load(open(sys.argv[1]))["benchmarks"]
medians = [b for b in every if b.get("aggregate_name") == "median"]
if medians:
    runs = [dict(b, name=b["run_name"]) for b in medians]
else:
    runs = [b for b in every if b.get("run_type", "iteration") == "iteration"]
scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}

def ms(b, key):
    return b[key] * scale[b.get("time_unit", "ns")]

def split(name):
    # "BM_MergeAndScan/1024" -> ("BM_MergeAndScan", 1024); names without a number keep None.
    head, _, tail = name.rpartition("/")
    if head and tail.isdigit():
        return head, int(tail)
    return name, None

def fitted(points):
    # Least-squares slope of log2(time) over log2(size): 2**slope is the mean ratio per doubling.
    points = [(math.log2(n), math.log2(t)) for n, t in points if n >= 1024 and t > 0]
    if len(points) < 3:
        return None
    mx = sum(x for x, _ in points) / len(points)
    my = sum(y for _, y in points) / len(points)
    slope = sum((x - mx) * (y - my) for x, y in points) / sum((x - mx) ** 2 for x, _ in points)
    return 2 ** slope

print(f"{'benchmark':<40} {'size':>9} {'real ms':>11} {'cpu ms':>11} {'x/doubling':>10} {'ratio':>8}")
previous = {}
series = {}
order = []

def summary(family):
    growth = fitted(series.get(family, []))
    if growth is not None:
        print(f"{family + ' (fit, sizes >= 1024)':<40} {'':>9} {'':>11} {'':>11} {growth:>10.2f} {'':>8}")

for b in runs:
    family, size = split(b["name"])
    if order and order[-1] != family:
        summary(order[-1])
    if not order or order[-1] != family:
        order.append(family)
    real, cpu = ms(b, "real_time"), ms(b, "cpu_time")
    doubling = ""
    last = previous.get(family)
    if size is not None and last is not None and last[0] * 2 == size and last[1] > 0:
        doubling = f"{cpu / last[1]:.2f}"
    if size is not None:
        previous[family] = (size, cpu)
        series.setdefault(family, []).append((size, cpu))
    ratio = f"{b['ratio']:.2f}" if "ratio" in b else ""
    family = family.replace("/manual_time", "")
    print(f"{family:<40} {'' if size is None else size:>9} {real:>11.4f} {cpu:>11.4f} {doubling:>10} {ratio:>8}")
if order:
    summary(order[-1])

# Benchmarks measured against a plain copy: what the ratio is made of.
parts = [b for b in runs if "memcpy_us" in b]
if parts:
    print()
    print(f"{'against memcpy':<40} {'whole us':>11} {'section us':>11} {'memcpy us':>11} {'ratio':>8}")
    for b in parts:
        name = b["name"].replace("/manual_time", "")
        print(f"{name:<40} {b['decode_us']:>11.2f} {b['section_us']:>11.2f} {b['memcpy_us']:>11.2f} {b['ratio']:>8.2f}")
    print("ratio = (whole decode - section creation) / memcpy of the same pixel bytes")
PY
