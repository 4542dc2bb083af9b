#!/usr/bin/env bash
# lorvexhost list and capture, and lorvexviewer --screenshot, over the SDK for
# real cameras against lorvexgige's built-in devices (127.0.0.1 to .3), a
# camera another client holds, and Aravis's own simulator (127.0.0.4) with no
# feature folder given. Runs only inside a private network namespace (ctest
# starts it through scripts/netns with the three extra addresses).
#   hosts_over_wire.sh BIN_DIR
set -uo pipefail
bin=$1
if [[ "${LORVEX_NETNS:-}" != 1 ]]; then
  echo "hosts_over_wire: not inside a private network namespace (run it through scripts/netns); skipped"
  exit 77
fi
for tool in arv-camera-test-0.8 arv-fake-gv-camera-0.8 arv-tool-0.8; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/setup installs aravis-tools)"; exit 1; }
done
work=$(mktemp -d)
holder= fake=
trap 'kill -INT $sim $holder $fake 2>/dev/null; wait $sim $holder $fake 2>/dev/null; rm -rf "$work"' EXIT
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

# Another client holds the camera (its settings are stored by now): the open
# is refused, said in words, and counted as one loss in every report.
arv-camera-test-0.8 -n 127.0.0.2 > holder.txt 2>&1 &
holder=$!
sleep 1.5
"$bin/lorvexhost" capture ZQ2048C0002 --trigger-type 32 --products 2 --rate 2 --timeout 1 \
  --feature-dir triggered --out held > held.txt 2>&1
status=$?
kill -INT $holder; wait $holder; holder=
grep "ZQ2048C0002:" held.txt
check test "$status" -eq 5
check grep -q "another application controls it" held.txt
check python3 -c "
import json, sys
s = json.load(open('held/summary.json')); c = s['cameras'][0]
sys.exit(not (c['opened'] is False and c['losses'] == 1 and len(c['cameraLosses']) == 1 and s['cameraLosses'] == 1))"

# Aravis's own simulator, its maker named one the filter accepts, and no
# feature folder: the virtual cameras' feature file is not applied to it, and
# the one open whose feature file is missing is said once, as a note.
arv-fake-gv-camera-0.8 -i 127.0.0.4 -s ARVFAKE0002 > fake.txt 2>&1 &
fake=$!
for _ in $(seq 50); do
  arv-tool-0.8 -a 127.0.0.4 control 'R[0x48]=0x47455600' 2>/dev/null | grep -q 0x47455600 && break
  sleep 0.2
done
env -u VCC_FEATURE_DIR "$bin/lorvexhost" panel ARVFAKE0002 > panel.txt 2>&1
status=$?
head -n 3 panel.txt
check test "$status" -eq 0
check grep -q "camera ARVFAKE0002: 512 x 512" panel.txt
check test "$(grep -c "Lorvex.mfs failed at its open" panel.txt)" -eq 1
absent "Load configuration file" panel.txt

QT_QPA_PLATFORM=offscreen "$bin/lorvexviewer" --serial ZQ4096M0001 --feature-dir free \
  --screenshot window.png --frames 3 > viewer.txt 2>&1
status=$?
tail -n 2 viewer.txt
check test "$status" -eq 0
check test -s window.png
exit $fail
