#!/usr/bin/env bash
# The batch generator's throughput, the rows of its goals, for one or more orvandel-batch
# programs run by turns (so that a busy machine weighs on each alike):
#   seeds 1-200 at 400 x 400, 100 generations, a PNG each      (maps/s)
#   the same with the statistics JSON only                      (maps/s)
#   one 16384 x 16384 map, 100 generations, as PNG             (seconds, whole run)
# usage: bench/batch-throughput.sh ROUNDS PROGRAM [PROGRAM...] [-- EXTRA OPTIONS]
#   e.g. bench/batch-throughput.sh 3 build/release/app/orvandel-batch /tmp/old/orvandel-batch
# The files go to a scratch directory in the working directory (a real disk, where flushes
# cost what they cost). Give "--jobs 1" after "--" to make one map at a time.
set -euo pipefail
rounds=${1:?usage: bench/batch-throughput.sh ROUNDS PROGRAM [PROGRAM...] [-- EXTRA OPTIONS]}
shift
programs=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do programs+=("$(realpath "$1")"); shift; done
[ $# -gt 0 ] && shift
extra=("$@")
scratch=$(mktemp -d "$PWD/orvandel-throughput-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
seconds() { # runs the command, prints its wall-clock seconds
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  /usr/bin/python3 -c "import sys; print(f'{float(sys.argv[2]) - float(sys.argv[1]):.2f}')" "$start" "$end"
}
printf '%-6s %-50s %12s %12s %10s\n' round program 'png maps/s' 'json maps/s' 'big s'
for round in $(seq "$rounds"); do
  for program in "${programs[@]}"; do
    rm -rf "${scratch:?}"/*
    mkdir -p "$scratch/png" "$scratch/json"
    png=$(seconds "$program" --seed 1-200 --size 400x400 --generations 100 --out "$scratch/png/{seed}.png" --quiet "${extra[@]}")
    json=$(seconds "$program" --seed 1-200 --size 400x400 --generations 100 --stats "$scratch/json/{seed}.json" --quiet "${extra[@]}")
    big=$(seconds "$program" --seed 1 --size 16384x16384 --generations 100 --out "$scratch/big.png" --quiet "${extra[@]}")
    printf '%-6s %-50s %12.0f %12.0f %10s\n' "$round" "$program" "$(/usr/bin/python3 -c "print(200 / $png)")" \
      "$(/usr/bin/python3 -c "print(200 / $json)")" "$big"
  done
done
