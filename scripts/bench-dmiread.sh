#!/usr/bin/env bash
# Whole-process comparison on the same dumps: `dmiread FILE` against
# `dmidecode --from-dump FILE -s baseboard-product-name`, timed with hyperfine.
# Uses the external corpus (../shared/smbios-corpus or $ZYN_CORPUS_DIR) when present, else the
# dumps shipped in tests/data. Prints one line per file (medians of about RUNS runs of each) and
# the ratio dmiread/dmidecode's median and worst over the dumps; asserts nothing.
#
#   scripts/bench-dmiread.sh [RUNS]      (DMIREAD=path/to/dmiread to skip the build,
#                                         ROUNDS=N paired rounds per dump, default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-20}

# DMIREAD names an already built dmiread; otherwise the native preset builds one.
if [ -z "${DMIREAD:-}" ]; then
  cmake --preset native >/dev/null
  cmake --build --preset native --target dmiread >/dev/null
fi
dmiread=${DMIREAD:-build/native/bin/dmiread}
command -v hyperfine >/dev/null && command -v dmidecode >/dev/null ||
  { echo "needs hyperfine and dmidecode (scripts/bootstrap.sh installs them)" >&2; exit 1; }

corpus=${ZYN_CORPUS_DIR:-../shared/smbios-corpus}
files=()
if [ -f "$corpus/INDEX.tsv" ]; then
  while IFS= read -r f; do files+=("$corpus/$f"); done < <(tail -n +2 "$corpus/INDEX.tsv" | cut -f1)
else
  files=(tests/data/tables/lenovo-thinkpad-w510.bin)
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# Paired: a dump's two commands run in the same short hyperfine round, ROUNDS rounds with the
# order swapped each time, so that load from other processes falls on both alike. The dump's
# ratio is the median over rounds of (dmiread median / dmidecode median) in that round.
rounds=${ROUNDS:-5}
per_round=$(((runs + rounds - 1) / rounds))
i=0
for f in "${files[@]}"; do
  a=(-n dmiread "$dmiread $f")
  b=(-n dmidecode "dmidecode --from-dump $f -s baseboard-product-name")
  for ((r = 0; r < rounds; r++)); do
    if ((r % 2 == 0)); then order=("${a[@]}" "${b[@]}"); else order=("${b[@]}" "${a[@]}"); fi
    hyperfine -N --runs "$per_round" --warmup 2 --style none --export-json "$out/$i.$r.json" \
      "${order[@]}" >/dev/null 2>&1 || echo "hyperfine failed on $f" >&2
  done
  echo "$f" >"$out/$i.name"
  i=$((i + 1))
done

python3 - "$out" "$i" "$rounds" <<'PY'
import json, statistics, sys
out, n, rounds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rows = []
for i in range(n):
    times = {"dmiread": [], "dmidecode": []}
    round_ratios = []
    for r in range(rounds):
        try:
            res = {x["command"]: x for x in json.load(open(f"{out}/{i}.{r}.json"))["results"]}
        except (OSError, ValueError):
            continue
        for k in times:
            times[k] += res[k]["times"]
        round_ratios.append(res["dmiread"]["median"] / res["dmidecode"]["median"])
    if round_ratios:
        name = open(f"{out}/{i}.name").read().strip()
        rows.append((name, statistics.median(times["dmiread"]),
                     statistics.median(times["dmidecode"]), statistics.median(round_ratios)))
print(f"{'file':60} {'dmiread ms':>11} {'dmidecode ms':>13} {'ratio':>6}")
for name, a, b, q in rows:
    print(f"{name[-60:]:60} {a*1e3:11.3f} {b*1e3:13.3f} {q:6.2f}")
if rows:
    a = [r[1] for r in rows]; b = [r[2] for r in rows]; ratios = [r[3] for r in rows]
    print(f"\n{len(rows)} dumps: dmiread median {statistics.median(a)*1e3:.3f} ms "
          f"(max {max(a)*1e3:.3f}); dmidecode median {statistics.median(b)*1e3:.3f} ms "
          f"(max {max(b)*1e3:.3f})")
    print(f"dmiread/dmidecode ratio: median {statistics.median(ratios):.2f}, "
          f"worst {max(ratios):.2f} ({sum(r > 1 for r in ratios)} of {len(rows)} dumps slower)")
PY
