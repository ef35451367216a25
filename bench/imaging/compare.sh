#!/usr/bin/env bash
# Times our resize (every filter) and Floyd-Steinberg page conversion against
# ImageMagick, single-threaded, on the same generated inputs, and prints the
# ratios ours / ImageMagick (below 1 means we are faster).
#
# ImageMagick's figure is taken twice: the whole command, and the command less
# the time it needs just to read its input (our benchmark starts from pixels
# already in memory). Each figure is the best of RUNS runs.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${BUILD:-$ROOT/build/imaging-bench}"
RUNS="${RUNS:-5}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# The peer: Debian's ImageMagick, installed here and nowhere else.
if ! /usr/bin/convert -version 2>/dev/null | grep -q ImageMagick; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq imagemagick >/dev/null
fi
IM=/usr/bin/convert

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DTARVO_BENCH=ON -DTARVO_TESTS=OFF \
  -DTARVO_SUBSYSTEMS="core;imaging" >/dev/null
cmake --build "$BUILD" -j4 --target bench_imaging >/dev/null
BENCH="$BUILD/bench/imaging/bench_imaging"

"$BENCH" --write "$WORK"
"$BENCH" --benchmark_repetitions="$RUNS" --benchmark_report_aggregates_only=true \
  --benchmark_format=json --benchmark_out="$WORK/ours.json" >/dev/null

# Best wall time of RUNS runs of a command, in milliseconds.
best_ms() {
  local best=""
  for _ in $(seq "$RUNS"); do
    local t0 t1
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s%N)
    local ms=$(( (t1 - t0) / 1000000 ))
    if [[ -z "$best" || $ms -lt $best ]]; then best=$ms; fi
  done
  echo "$best"
}

{
  echo "read_photo $(best_ms "$IM" -limit thread 1 "$WORK/photo.ppm" null:)"
  echo "read_page $(best_ms "$IM" -limit thread 1 "$WORK/page.pgm" null:)"
  # Our filter -> ImageMagick's name for the same kernel.
  for pair in Triangle:Triangle Hermite:Hermite Bell:Quadratic B-Spline:Spline \
              Lanczos3:Lanczos Mitchell:Mitchell; do
    ours="${pair%%:*}"; theirs="${pair##*:}"
    echo "resize_$ours $(best_ms "$IM" -limit thread 1 "$WORK/photo.ppm" \
      -filter "$theirs" -resize '852x567!' null:)"
  done
  echo "dither $(best_ms "$IM" -limit thread 1 "$WORK/page.pgm" \
    -dither FloydSteinberg -monochrome null:)"
} >"$WORK/im.txt"

python3 - "$WORK/ours.json" "$WORK/im.txt" <<'PY'
import json, sys
ours = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name") != "min" and b.get("aggregate_name") != "median":
        continue
    if b.get("aggregate_name") == "median":
        key = b.get("label") or "dither"
        if b["run_name"].startswith("BM_FloydSteinbergPage"):
            key = "dither"
        ours[key] = b["real_time"]  # milliseconds
im = dict((k, float(v)) for k, v in (l.split() for l in open(sys.argv[2])))
print(f"{'task':<22}{'ours ms':>9}{'IM ms':>9}{'IM-read':>9}{'ratio':>8}{'ratio net':>11}")
worst = 0.0
for name in ["Triangle", "Hermite", "Bell", "B-Spline", "Lanczos3", "Mitchell", "dither"]:
    key = "dither" if name == "dither" else "resize_" + name
    read = im["read_page"] if name == "dither" else im["read_photo"]
    total = im[key]
    net = max(total - read, 1.0)
    o = ours[name]
    worst = max(worst, o / net)
    label = "Floyd-Steinberg A4" if name == "dither" else "resize " + name
    print(f"{label:<22}{o:9.1f}{total:9.0f}{net:9.0f}{o/total:8.2f}{o/net:11.2f}")
print(f"worst net ratio {worst:.2f} ({'goal met' if worst <= 1 else 'goal missed'})")
PY
