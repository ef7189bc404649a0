#!/usr/bin/env bash
# Whole-process comparison on the same dumps: `dmiread FILE` against
# `dmidecode --from-dump FILE -s baseboard-product-name`, timed with hyperfine.
# Uses the external corpus (../shared/smbios-corpus or $ZYN_CORPUS_DIR) when present, else the
# dumps shipped in tests/data. Prints one line per file and a summary; asserts nothing.
#
#   scripts/bench-dmiread.sh [RUNS]      (DMIREAD=path/to/dmiread to skip the build)
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
i=0
for f in "${files[@]}"; do
  hyperfine -N --runs "$runs" --warmup 3 --style none --export-json "$out/$i.json" \
    -n dmiread "$dmiread $f" \
    -n dmidecode "dmidecode --from-dump $f -s baseboard-product-name" >/dev/null 2>&1 ||
    echo "hyperfine failed on $f" >&2
  echo "$f" >"$out/$i.name"
  i=$((i + 1))
done

python3 - "$out" "$i" <<'PY'
import json, statistics, sys
out, n = sys.argv[1], int(sys.argv[2])
rows = []
for i in range(n):
    try:
        res = json.load(open(f"{out}/{i}.json"))["results"]
    except (OSError, ValueError):
        continue
    name = open(f"{out}/{i}.name").read().strip()
    t = {r["command"]: r for r in res}
    rows.append((name, t["dmiread"]["mean"], t["dmidecode"]["mean"]))
print(f"{'file':60} {'dmiread ms':>11} {'dmidecode ms':>13} {'ratio':>6}")
for name, a, b in rows:
    print(f"{name[-60:]:60} {a*1e3:11.3f} {b*1e3:13.3f} {b/a:6.2f}")
if rows:
    a = [r[1] for r in rows]; b = [r[2] for r in rows]
    print(f"\n{len(rows)} dumps: dmiread median {statistics.median(a)*1e3:.3f} ms "
          f"(min {min(a)*1e3:.3f}, max {max(a)*1e3:.3f}); dmidecode median "
          f"{statistics.median(b)*1e3:.3f} ms (min {min(b)*1e3:.3f}, max {max(b)*1e3:.3f}); "
          f"dmidecode/dmiread median ratio {statistics.median([y/x for x, y in zip(a, b)]):.2f}")
PY
