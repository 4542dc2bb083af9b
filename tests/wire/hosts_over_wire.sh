#!/usr/bin/env bash
# lorvexhost list and capture, and lorvexviewer --screenshot, over the SDK for
# real cameras against lorvexgige's built-in devices (127.0.0.1 to .3). Runs
# only inside a private network namespace (ctest starts it through
# scripts/netns with the two extra addresses).
#   hosts_over_wire.sh BIN_DIR
set -uo pipefail
bin=$1
if [[ "${LORVEX_NETNS:-}" != 1 ]]; then
  echo "hosts_over_wire: not inside a private network namespace (run it through scripts/netns); skipped"
  exit 77
fi
work=$(mktemp -d)
trap 'kill -INT $sim 2>/dev/null; wait $sim 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
# The cameras wait for the hosts' triggers; the simulator's features only.
mkdir triggered free
printf 'TriggerMode = On\nOffsetX = 0\nOffsetY = 0\n' > triggered/Lorvex.mfs
printf 'TriggerMode = Off\n' > free/Lorvex.mfs

"$bin/lorvexgige" > sim.log 2>&1 &
sim=$!
for _ in $(seq 50); do grep -q "lorvexgige: ready" sim.log && break; sleep 0.1; done
grep -q "lorvexgige: ready" sim.log || { echo "FAIL: lorvexgige did not start"; cat sim.log; exit 1; }

fail=0
check() { if "$@"; then echo "PASS: $*"; else echo "FAIL: $*"; fail=1; fi; }
absent() { if grep -q "$1" "$2"; then echo "FAIL: $1 in $2"; fail=1; else echo "PASS: no $1 in $2"; fi; }

"$bin/lorvexhost" list > list.txt 2>&1
cat list.txt
# The filter keeps the two accepted makers' cameras, not the simulator entry.
check grep -q "cameras 2" list.txt
check grep -q "ZQ4096M0001" list.txt
absent "VirLS1024003" list.txt

# Triggers far enough apart for a frame to cross loopback on a loaded machine.
"$bin/lorvexhost" capture ZQ2048C0002 --trigger-type 32 --products 3 --rate 2 \
  --feature-dir triggered --out capture > capture.txt 2>&1
status=$?
tail -n 3 capture.txt
check test "$status" -eq 0
check grep -q "all accounted for" capture.txt

QT_QPA_PLATFORM=offscreen "$bin/lorvexviewer" --serial ZQ4096M0001 --feature-dir free \
  --screenshot window.png --frames 3 > viewer.txt 2>&1
status=$?
tail -n 2 viewer.txt
check test "$status" -eq 0
check test -s window.png
exit $fail
