#!/usr/bin/env bash
# What a world costs: the whole orvandel-batch run at 4096 x 4096 (100 generations and the PNG)
# for the classic map and for worlds, run by turns so that a busy machine weighs on each alike,
# with their wall-clock seconds, processor seconds (user and system, which a busy machine
# stretches less) and peak memory, and the median of each against the classic's.
# usage: bench/world-cost.sh ROUNDS PROGRAM [CONTINENTS...]
#   e.g. bench/world-cost.sh 5 build/release/app/orvandel-batch 1 5 8
set -euo pipefail
rounds=${1:?usage: bench/world-cost.sh ROUNDS PROGRAM [CONTINENTS...]}
program=$(realpath "${2:?usage: bench/world-cost.sh ROUNDS PROGRAM [CONTINENTS...]}")
shift 2
worlds=("${@:-5}")
scratch=$(mktemp -d "$PWD/orvandel-world-cost-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
declare -A wall cpu memory
for round in $(seq "$rounds"); do
  for continents in 0 "${worlds[@]}"; do
    /usr/bin/time -f '%e %U %S %M' -o "$scratch/time" "$program" --seed 1 --size 4096x4096 \
      --set "continents=$continents" --out "$scratch/x.png" --quiet
    read -r seconds user system kilobytes <"$scratch/time"
    processor=$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')
    printf 'round %s continents %2s: %6.2f s, processor %6.2f s, %8d KB\n' "$round" "$continents" "$seconds" \
      "$processor" "$kilobytes"
    wall[$continents]+="$seconds "
    cpu[$continents]+="$processor "
    memory[$continents]+="$kilobytes "
  done
done
median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
classicWall=$(median <<<"${wall[0]}")
classicCpu=$(median <<<"${cpu[0]}")
classicMemory=$(median <<<"${memory[0]}")
for continents in 0 "${worlds[@]}"; do
  awk -v c="$continents" -v w="$(median <<<"${wall[$continents]}")" -v p="$(median <<<"${cpu[$continents]}")" \
    -v m="$(median <<<"${memory[$continents]}")" -v cw="$classicWall" -v cp="$classicCpu" -v cm="$classicMemory" 'BEGIN {
    printf "continents %2s: median %.2f s (%.2f x the classic map), processor %.2f s (%.2f x), peak %d KB (%+.2f bytes a cell)\n",
           c, w, w / cw, p, p / cp, m, (m - cm) * 1024 / (4096 * 4096) }'
done
