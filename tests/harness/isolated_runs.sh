#!/bin/sh
# isolated_runs.sh ISOLATED: two runs of one test at once each keep their own home to the
# end, and the next run clears the homes of runs that have ended, not its own.
set -eu
isolated=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TARVO_TEST_HOME="$work/test"
fail() { echo "$*"; exit 1; }

# The first run marks its home, tells us, and waits until the second run has ended.
"$isolated" sh -c '
  echo mine >"$HOME/marker"; echo "$HOME" >"$1/first-home"; : >"$1/first-ready"
  while [ ! -e "$1/second-done" ]; do sleep 0.05; done
  [ -e "$HOME/marker" ] && [ -d "$TMPDIR" ] && [ -d "$XDG_RUNTIME_DIR" ]' first "$work" &
first=$!
while [ ! -e "$work/first-ready" ]; do
  kill -0 "$first" 2>/dev/null || fail "the first run ended before it was ready"
  sleep 0.05
done
"$isolated" sh -c 'echo "$HOME" >"$1/second-home"; : >"$HOME/other"' second "$work" ||
  fail "the second run failed"
: >"$work/second-done"
wait "$first" || fail "the first run lost its home while the second ran"
[ "$(cat "$work/first-home")" != "$(cat "$work/second-home")" ] || fail "both runs had one home"
case $(cat "$work/first-home") in "$TARVO_TEST_HOME"/*) ;; *) fail "home outside the test's folder" ;; esac

# A third run starts clean and leaves only its own home behind.
"$isolated" sh -c '[ -z "$(ls -A "$HOME")" ] && echo "$HOME" >"$1/third-home"' third "$work" ||
  fail "the third run did not start in an empty home"
[ ! -e "$(cat "$work/first-home")" ] || fail "an ended run's home was kept"
[ ! -e "$(cat "$work/second-home")" ] || fail "an ended run's home was kept"
[ -d "$(cat "$work/third-home")" ] || fail "the last run's home is not there to look at"
echo ok
