#!/usr/bin/env bash
# Times our resize (every filter), Floyd-Steinberg page conversion and
# 256-colour conversion against ImageMagick and libvips, and prints the ratios
# ours / theirs (below 1 means we are faster), each side's error against the
# input (mean absolute difference per sample, 0-255, from the input; for a
# resize from the input reduced to the output's size by area averaging) and
# the difference between our output and theirs.
#
# Like for like: every side is a fresh process run from the command line,
# pinned to the same CPU (CPU=N, default the last one) and single-threaded,
# that reads the same PNM input file and writes its result as a PNM file of
# its own; ours is bench_imaging in its file-to-file modes. Each time is the
# median wall time of RUNS runs, and each ratio the median of the rounds' own
# ratios (a change of load within a round falls on both sides), the sides
# taking turns at going first. Nothing is subtracted from anyone's figure.
#
# ImageMagick's -monochrome also reduces the colours before it dithers, so the
# page is dithered with -remap onto a black-and-white map, as ours is. Two
# Floyd-Steinberg dithers of one page differ in where they put their dots, so
# the dither's difference says little; its tone (mean grey) is what should
# agree. libvips' reduce and resize have kernels for Triangle (linear),
# Lanczos3 and Mitchell, and both are timed (resize is what a vips user calls);
# the other filters and the conversions are compared with ImageMagick only.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${BUILD:-$ROOT/build/imaging-bench}"
RUNS="${RUNS:-9}"  # the machine may be shared: medians of several runs
CPU="${CPU:-$(($(nproc) - 1))}"
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
export VIPS_CONCURRENCY=1

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DTARVO_BENCH=ON -DTARVO_TESTS=OFF \
  -DTARVO_SUBSYSTEMS="core;imaging" >/dev/null
# A shared machine: the build takes a few cores, not all of them.
cmake --build "$BUILD" -j"${JOBS:-$(( ($(nproc) + 1) / 2 ))}" --target bench_imaging >/dev/null
BENCH="$BUILD/bench/imaging/bench_imaging"

"$BENCH" --write "$WORK"
/usr/bin/convert -size 1x1 xc:black xc:white +append "$WORK/bw.png"

python3 - "$BENCH" "$WORK" "$RUNS" "$CPU" <<'PY'
import os, statistics, subprocess, sys, time

bench, work, runs, cpu = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
os.sched_setaffinity(0, {cpu})  # the children inherit it: every side on the one CPU
W = lambda name: os.path.join(work, name)
TW, TH = 852, 567
with open(W("photo.ppm"), "rb") as f:
    pw, ph = map(int, f.read(64).split()[1:3])
IM = ["/usr/bin/convert", "-limit", "thread", "1"]

# task: (label, ours, {peer: command}); each command writes the output named in it.
tasks = []
for ours, im, vips in [("Triangle", "Triangle", "linear"), ("Hermite", "Hermite", None),
                       ("Bell", "Quadratic", None), ("B-Spline", "Spline", None),
                       ("Lanczos3", "Lanczos", "lanczos3"), ("Mitchell", "Mitchell", "mitchell")]:
    out = lambda side: W(f"{ours}-{side}.ppm")
    peers = {"IM": IM + [W("photo.ppm"), "-filter", im, "-resize", f"{TW}x{TH}!", "-depth", "8",
                         out("im")]}
    if vips:
        peers["vips"] = ["vips", "reduce", W("photo.ppm"), out("vips"), str(pw / TW),
                         str(ph / TH), "--kernel", vips]
        peers["vipsresize"] = ["vips", "resize", W("photo.ppm"), out("vipsresize"), str(TW / pw),
                               "--vscale", str(TH / ph), "--kernel", vips]
    tasks.append(("resize " + ours, [bench, "--resize", ours, W("photo.ppm"), out("ours")], peers))
tasks.append(("Floyd-Steinberg A4", [bench, "--dither", W("page.pgm"), W("dither-ours.pbm")],
              {"IM": IM + [W("page.pgm"), "-dither", "FloydSteinberg", "-remap", W("bw.png"),
                           W("dither-im.pbm")]}))
tasks.append(("256 colours", [bench, "--colours256", W("photo.ppm"), W("c256-ours.ppm")],
              {"IM": IM + [W("photo.ppm"), "-dither", "FloydSteinberg", "-colors", "256",
                           "-depth", "8", W("c256-im.ppm")]}))

def run(cmd):
    t = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return (time.perf_counter() - t) * 1000

def output(cmd):
    return cmd[-1] if cmd[0] == bench or cmd[0] == IM[0] else cmd[3]

def difference(a, b):  # mean absolute difference and tone shift, as text
    r = subprocess.run([bench, "--mae", a, b], capture_output=True, text=True)
    return r.stdout.split() if r.returncode == 0 else ["n/a", "n/a"]

print(f"each side a fresh process from file to file on CPU {cpu}, {runs} rounds; ms = median time, "
      "/peer = median of the rounds' ours/peer; err = each side's mean absolute difference per "
      "sample from the input, diff = ours from the peer's")
PEERS = [("IM", "IM"), ("vips", "vips reduce"), ("vipsresize", "vips resize")]
head = f"{'task':<20}{'ours ms':>9}"
for _, title in PEERS:
    head += f"{title + ' ms':>16}{'/peer':>7}{'diff':>8}"
print(head + f"{'err ours':>10}" + "".join(f"{'err ' + p:>16}" for p, _ in PEERS))
slower, notes = [], []
for label, ours, peers in tasks:
    source = W("page.pgm") if label.startswith("Floyd") else W("photo.ppm")
    sides = [("ours", ours)] + list(peers.items())
    times = {name: [] for name, _ in sides}
    for r in range(runs):
        # Each round starts with another side, so no side always runs first.
        k = r % len(sides)
        for name, cmd in sides[k:] + sides[:k]:
            times[name].append(run(cmd))
    o = statistics.median(times["ours"])
    line = f"{label:<20}{o:9.1f}"
    for peer, _ in PEERS:
        if peer not in peers:
            line += f"{'-':>16}{'-':>7}{'-':>8}"
            continue
        p = statistics.median(times[peer])
        ratio = statistics.median(a / b for a, b in zip(times["ours"], times[peer]))
        d, tone = difference(output(ours), output(peers[peer]))
        line += f"{p:16.1f}{ratio:7.2f}{d:>8}"
        if label.startswith("Floyd"):
            notes.append(f"{label}: our mean grey minus {peer}'s: {tone} of 255")
        if peer.startswith("vips") and ratio > 1:
            slower.append(f"{label} ({peer})")
    for name, cmd in [("ours", ours)] + [(p, peers.get(p)) for p, _ in PEERS]:
        width = 10 if name == "ours" else 16
        if cmd is None:
            line += f"{'-':>{width}}"
            continue
        err, tone = difference(output(cmd), source)
        line += f"{err:>{width}}"
        if label.startswith("Floyd"):
            whose = "our" if name == "ours" else name + "'s"
            notes.append(f"{label}: {whose} mean grey minus the input's: {tone} of 255")
    print(line)
for n in notes:
    print(n)
print("no slower than libvips" if not slower else "slower than libvips: " + ", ".join(slower))
PY
