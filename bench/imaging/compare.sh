#!/usr/bin/env bash
# Times our resize (every filter) and Floyd-Steinberg page conversion against
# ImageMagick and libvips, single-threaded, on the same generated inputs, and
# prints the ratios ours / theirs (below 1 means we are faster).
#
# Every figure is a median: ours of RUNS benchmark repetitions, theirs of RUNS
# runs of the command. The peers' figures are net of what they spend before
# and after the work itself (our benchmark starts from pixels in memory):
# ImageMagick less the median time it takes just to read its input (to null:),
# libvips less the median time to open its mapped copy of the photo and write
# an output of the thumbnail's size (it reads its input pixels while it works,
# as ours does).
#
# Like for like: ImageMagick's -monochrome also reduces the colours before it
# dithers, so the page is dithered with -remap onto a black-and-white map, as
# ours is. libvips' reduce has kernels for Triangle (linear), Lanczos3 and
# Mitchell; the other filters are compared with ImageMagick only.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${BUILD:-$ROOT/build/imaging-bench}"
RUNS="${RUNS:-9}"  # the machine may be shared: medians of several runs
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# The peers: Debian's ImageMagick and libvips tools, installed here and nowhere else.
need=()
/usr/bin/convert -version 2>/dev/null | grep -q ImageMagick || need+=(imagemagick)
command -v vips >/dev/null || need+=(libvips-tools)
if ((${#need[@]})); then
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo=sudo
  $sudo apt-get -o DPkg::Lock::Timeout=900 update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq \
    "${need[@]}" >/dev/null
fi
IM=/usr/bin/convert
export VIPS_CONCURRENCY=1

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DTARVO_BENCH=ON -DTARVO_TESTS=OFF \
  -DTARVO_SUBSYSTEMS="core;imaging" >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target bench_imaging >/dev/null
BENCH="$BUILD/bench/imaging/bench_imaging"

"$BENCH" --write "$WORK"
"$BENCH" --benchmark_repetitions="$RUNS" --benchmark_report_aggregates_only=true \
  --benchmark_format=json --benchmark_out="$WORK/ours.json" >/dev/null

# Median wall time of RUNS runs of a command, in milliseconds.
median_ms() {
  local times=()
  for _ in $(seq "$RUNS"); do
    local t0 t1
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s%N)
    times+=($(((t1 - t0) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'
}

"$IM" -size 1x1 xc:black xc:white +append "$WORK/bw.png"
vips copy "$WORK/photo.ppm" "$WORK/photo.v"
pw=$(vipsheader -f width "$WORK/photo.v")
ph=$(vipsheader -f height "$WORK/photo.v")
TW=852 TH=567
hs=$(python3 -c "print($pw/$TW)")
vs=$(python3 -c "print($ph/$TH)")

{
  echo "im_read_photo $(median_ms "$IM" -limit thread 1 "$WORK/photo.ppm" null:)"
  echo "im_read_page $(median_ms "$IM" -limit thread 1 "$WORK/page.pgm" null:)"
  echo "vips_open $(median_ms vips crop "$WORK/photo.v" "$WORK/out.v" 0 0 $TW $TH)"
  # Our filter -> ImageMagick's name -> libvips' kernel (- when it has none).
  for triple in Triangle:Triangle:linear Hermite:Hermite:- Bell:Quadratic:- \
                B-Spline:Spline:- Lanczos3:Lanczos:lanczos3 Mitchell:Mitchell:mitchell; do
    IFS=: read -r ours theirs kernel <<<"$triple"
    echo "im_$ours $(median_ms "$IM" -limit thread 1 "$WORK/photo.ppm" \
      -filter "$theirs" -resize "${TW}x${TH}!" null:)"
    if [[ $kernel != - ]]; then
      echo "vips_$ours $(median_ms vips reduce "$WORK/photo.v" "$WORK/out.v" "$hs" "$vs" \
        --kernel "$kernel")"
    fi
  done
  echo "im_dither $(median_ms "$IM" -limit thread 1 "$WORK/page.pgm" \
    -dither FloydSteinberg -remap "$WORK/bw.png" null:)"
} >"$WORK/peers.txt"

python3 - "$WORK/ours.json" "$WORK/peers.txt" "$pw" "$ph" <<'PY'
import json, sys
ours = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    name = b["run_name"]
    key = (b.get("label") or name) if name.startswith("BM_Resize") else name
    ours[key] = b["real_time"]  # milliseconds
peers = dict((k, float(v)) for k, v in (l.split() for l in open(sys.argv[2])))
photo = int(sys.argv[3]) * int(sys.argv[4])
page = 2480 * 3508

def net(total, base):
    return max(total - base, 1.0)

print(f"{'task':<20}{'ours ms':>9}{'ns/px':>7}{'IM net':>8}{'/IM':>6}{'vips net':>10}{'/vips':>7}")
missed = []
for name in ["Triangle", "Hermite", "Bell", "B-Spline", "Lanczos3", "Mitchell", "dither"]:
    o = ours["BM_FloydSteinbergPage" if name == "dither" else name]
    px = page if name == "dither" else photo
    im = net(peers["im_" + name], peers["im_read_page" if name == "dither" else "im_read_photo"])
    line = f"{('Floyd-Steinberg A4' if name == 'dither' else 'resize ' + name):<20}"
    line += f"{o:9.1f}{o * 1e6 / px:7.2f}{im:8.0f}{o / im:6.2f}"
    if "vips_" + name in peers:
        vp = net(peers["vips_" + name], peers["vips_open"])
        line += f"{vp:10.0f}{o / vp:7.2f}"
        if o > vp:
            missed.append(name)
    print(line)
if "BM_Convert256" in ours:
    c = ours["BM_Convert256"]
    print(f"{'256 colours':<20}{c:9.1f}{c * 1e6 / photo:7.2f}"
          f"   (10000 x 10000 would take about {c * 1e8 / photo / 1000:.1f} s)")
print("no slower than libvips" if not missed else "slower than libvips: " + ", ".join(missed))
PY
