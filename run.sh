#!/usr/bin/env bash
# ./run.sh demo   build (release) and run the host against the bundled server
# ./run.sh test   build with sanitizers and run every test
# ./run.sh fuzz [SECONDS]   build the libFuzzer targets and run each for SECONDS (30)
# ./run.sh bench  build and run the benchmarks
# ./run.sh walk [MINUTES] [--seed N] [--sessions K] [--replay TRACE] [--verbose]   a random walk
#                 through the windows of tarvo-host (sanitizer build, under xvfb-run) for
#                 MINUTES (3); --seed replays one, --replay follows the trace a failed one left
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}

deps() { "$ROOT/scripts/install-deps"; }

configure() { # dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
}

cmd=${1:-}
shift || true
case "$cmd" in
  demo)
    deps
    configure build/release -DCMAKE_BUILD_TYPE=Release -DTARVO_TESTS=OFF
    # The host loads the control library, which starts the office worker on first use.
    cmake --build build/release -j "$JOBS" --target oa-server tarvo-host tarvo-office
    exec "$ROOT/scripts/demo" "$ROOT/build/release" "$@"
    ;;
  test)
    deps
    configure build/asan -DCMAKE_BUILD_TYPE=Debug -DTARVO_SANITIZE=ON -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g"
    cmake --build build/asan -j "$JOBS"
    cd build/asan
    ctest --output-on-failure -j "$JOBS" "$@"
    ;;
  fuzz)
    deps
    secs=${1:-30}
    CC=clang CXX=clang++ configure build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_FUZZ=ON
    cmake --build build/fuzz -j "$JOBS"
    while read -r f; do
      [ -n "$f" ] || continue
      exe=$(find build/fuzz -type f -name "$f" -perm -u+x | head -n1)
      corpus="$ROOT/fuzz/corpus/$f"
      work=$(mktemp -d)
      [ -d "$corpus" ] && cp -r "$corpus/." "$work/"
      echo "fuzz $f for ${secs}s"
      # A finding shows its report, not just the closing statistics. Any
      # sanitizer report fails the run, even one that let the program go on.
      status=0
      ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}halt_on_error=1 \
      UBSAN_OPTIONS=${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}halt_on_error=1:print_stacktrace=1 \
        "$exe" -max_total_time="$secs" -rss_limit_mb=2048 -print_final_stats=1 \
          -artifact_prefix="$work/" "$work" >"$work.log" 2>&1 || status=$?
      if [ "$status" -ne 0 ] || grep -qE 'runtime error:|ERROR: [A-Za-z]+Sanitizer|WARNING: [A-Za-z]+Sanitizer' "$work.log"; then
        grep -v '^#[0-9]' "$work.log" | tail -n 60
        echo "fuzz $f found a fault (exit $status); its input:"
        for a in "$work"/crash-* "$work"/leak-* "$work"/oom-* "$work"/timeout-*; do
          [ -e "$a" ] && echo "$a" && od -A d -t x1 "$a" | head -n 20
        done
        echo "log and inputs kept in $work.log and $work"
        exit 1
      fi
      tail -n 3 "$work.log"
      rm -rf "$work" "$work.log"
    done < build/fuzz/fuzzers.txt
    ;;
  bench)
    deps
    configure build/release -DCMAKE_BUILD_TYPE=Release -DTARVO_TESTS=OFF -DTARVO_BENCH=ON
    cmake --build build/release -j "$JOBS"
    for b in build/release/bench/*/bench_*; do
      [ -x "$b" ] && "$b" "$@"
    done
    ;;
  walk)
    deps
    configure build/asan -DCMAKE_BUILD_TYPE=Debug -DTARVO_SANITIZE=ON -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g"
    cmake --build build/asan -j "$JOBS" --target tarvo_walk
    minutes=3
    if [[ ${1:-} =~ ^[0-9]+([.][0-9]+)?$ ]]; then minutes=$1; shift; fi
    exec xvfb-run -a -s "-screen 0 1280x1024x24" build/asan/tests/walk/tarvo_walk --minutes "$minutes" "$@"
    ;;
  *)
    echo "usage: $0 demo|test|fuzz [SECONDS]|bench|walk [MINUTES]" >&2
    exit 2
    ;;
esac
