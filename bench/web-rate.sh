#!/usr/bin/env bash
# Generations per second of the page's maps in headless Chromium beside the native engine on one
# thread (orvandel-bench, the same maps made the same way: the presets, seed 42) at 400 x 400 and
# 2048 x 2048, measured by turns in one run, native first and last.
#   bench/web-rate.sh [RELEASE_BUILD] [SITE]     defaults: build/release, build/web/web/site
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
export ORVANDEL_WEB_SITE=${2:-build/web/web/site}
native() {
  "$build/bench/orvandel-bench" --benchmark_filter='batchGeneration/presets_(400|2048)_1_thread' \
    --benchmark_min_time=2 --benchmark_format=json |
    /usr/bin/python3 -c 'import json, sys
for b in json.load(sys.stdin)["benchmarks"]:
    side = b["name"].split("_")[1]
    print(f"native_{side}", round(1 / (b["real_time"] * {"us": 1e-6, "ms": 1e-3, "ns": 1e-9}[b["time_unit"]]), 1))'
}
page() {
  /usr/bin/python3 tests/browser/browser_test.py --rate |
    /usr/bin/python3 -c 'import json, sys
for k, v in json.loads(sys.stdin.read().splitlines()[-1]).items(): print(k.replace("explorer", "page"), round(v, 1))'
}
{ native; page; native; page; native; } | /usr/bin/python3 -c 'import sys, collections
runs = collections.defaultdict(list)
for line in sys.stdin:
    name, rate = line.split(); runs[name].append(float(rate))
print("generations per second (median of the turns):")
med = {k: sorted(v)[len(v) // 2] for k, v in runs.items()}
for side in ("400", "2048"):
    native, page = "native_" + side, "page_" + side
    n, p = med[native], med[page]
    print(f"  {side} x {side}: native {n:9.1f}   page {p:9.1f}   page/native {p / n:.2f}   (turns: {runs[native]}, {runs[page]})")'
