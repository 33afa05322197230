#!/usr/bin/env bash
# The main job: installs what it needs, builds the library, the simulated
# module and qvx, and shows them capturing. The simulated module (card 0)
# loops analog output 0 back to input 0: qvx streams a 5 Hz sine to that
# output while it captures four analog inputs, a counter and a digital port
# for three seconds, and writes build/demo/capture.csv and, with gnuplot,
# build/demo/capture.png. Each qvx command is printed before it runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh demo
cmake --preset demo >/dev/null
cmake --build --preset demo

out=build/demo
qvx=$out/bin/qvx
run() {
  echo "+ $*"
  "$@"
}

echo
run "$qvx" info
echo
# The signals of the other inputs, the counter's input and the digital lines
# are settings of the simulated module (--sim); a real module needs none.
run "$qvx" scan --ai 0-3 --ct 0 --di 0:byte --rate 1000 --duration 3 \
  --ao 0 --wave sine --amplitude 4 --frequency 5 \
  --sim ai0=ao0,ai1=square:2:2,ai2=ramp:3:1,ai3=noise:0.3,ct0=250,di=count \
  --output "$out/capture.csv" --plot "$out/capture.png"
echo
echo "The capture:  $PWD/$out/capture.csv"
if [ -f "$out/capture.png" ]; then
  echo "The picture:  $PWD/$out/capture.png"
fi
