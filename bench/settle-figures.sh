#!/usr/bin/env bash
# How many generations the presets need to settle (--until-settled), per map size and seed.
# usage: bench/settle-figures.sh BUILD_DIR [CAP] [SIZES...]   (default sizes 400 1024 4096 16384)
# Prints one line per size and seed: the drawn generation the picture settled at (or "not by CAP"),
# the seconds taken and the peak memory.
set -euo pipefail
build=${1:?usage: bench/settle-figures.sh BUILD_DIR [CAP] [SIZES...]}
cap=${2:-100000}
shift $(( $# >= 2 ? 2 : 1 ))
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(400 1024 4096 16384)
printf '%-7s %-5s %-12s %-10s %s\n' size seed settledAt seconds peakMiB
for size in "${sizes[@]}"; do
  for seed in 1 7 42; do
    stats=$(mktemp)
    timing=$(mktemp)
    /usr/bin/time -f '%e %M' -o "$timing" "$build/app/orvandel-batch" --seed "$seed" --size "${size}x${size}" \
      --generations "$cap" --until-settled --stats "$stats" --quiet
    at=$(/usr/bin/python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(d["settledAt"] if d["settled"] else "not by " + sys.argv[2])' "$stats" "$cap")
    read -r seconds kb <"$timing"
    printf '%-7s %-5s %-12s %-10s %s\n' "$size" "$seed" "$at" "$seconds" "$(( kb / 1024 ))"
    rm -f "$stats" "$timing"
  done
done
