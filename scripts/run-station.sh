#!/usr/bin/env bash
# The station's main job on this machine: set up, build, and run the core in a demo working
# directory against the simulated camera (a scene with a box) and the scales simulator, with
# automeasure on, until Ctrl-C or an APPLICATION_STOP request.
#
# Extra arguments go to the core (for example disable_automeasure). STATION_BUILD_DIR and
# STATION_DEMO_DIR choose the build and the working directory (build/normal and ./demo).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="${STATION_BUILD_DIR:-$root/build/normal}"
demo="${STATION_DEMO_DIR:-$root/demo}"

bash scripts/setup.sh
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target core scales-sim station-client

mkdir -p "$demo/configs" "$demo/exchange"
cp configs/appconfig.toml configs/mock.png "$demo/configs/"
# The core takes what it sees at the image centre at start as the floor: it starts on an empty
# floor, and the box is put in once the floor is fixed.
printf '[camera]\nfloor_distance = 1500\n' > "$demo/scene.toml"
# The core powers the board off by running ./shutdown; here that only records the request.
cat > "$demo/shutdown" <<'SCRIPT'
#!/bin/sh
echo "power-off requested: $*" | tee -a shutdown.log
SCRIPT
chmod +x "$demo/shutdown"

words=()
sim_pid=""
stop_helpers() {
  jobs -p | xargs -r kill 2>/dev/null || true
  wait 2>/dev/null || true
}
trap stop_helpers EXIT

if [ -e /dev/ttySCALES0 ]; then
  echo "run-station: /dev/ttySCALES0 exists; the core uses it as the scales"
elif [ "$(id -u)" -ne 0 ]; then
  echo "run-station: not root, so the scales simulator cannot link /dev/ttySCALES0;" \
       "running with disable_scales"
  words+=(disable_scales)
else
  # The simulator reads its commands from a pipe: `echo "weight 2.5" > demo/scales.in`.
  rm -f "$demo/scales.in"
  mkfifo "$demo/scales.in"
  "$build/tools/scales-sim/scales-sim" --weight 0 <"$demo/scales.in" >"$demo/scales-sim.log" 2>&1 &
  sim_pid=$!
  exec 3>"$demo/scales.in"
  for _ in $(seq 100); do
    grep -q "links to" "$demo/scales-sim.log" && break
    sleep 0.1
  done
  if ! grep -q "links to" "$demo/scales-sim.log"; then
    echo "run-station: the scales simulator did not start:" >&2
    cat "$demo/scales-sim.log" >&2
    exit 1
  fi
  echo "run-station: scales simulator: $(head -n 1 "$demo/scales-sim.log")"
fi

# Puts a 400 x 300 x 200 mm box of 1.25 kg in the area once the core has fixed the floor.
place_box() {
  until grep -q "Max distance fixed in" "$demo/core.log" 2>/dev/null; do
    sleep 0.2
  done
  cp simcam/scenes/box-centred.toml "$demo/scene.toml.new"
  mv "$demo/scene.toml.new" "$demo/scene.toml"
  if [ -n "$sim_pid" ]; then
    echo "weight 1.25" >&3
  fi
  echo "run-station: a 400 x 300 x 200 mm box of 1.25 kg is now in the area"
}
rm -f "$demo/core.log"
place_box &

cat <<INFO
run-station: working directory $demo, camera scene $demo/scene.toml
run-station: from a second terminal:
    $build/tools/client/station-client --dir $demo measure
  move the box by editing x, y or rotation under [[box]] in $demo/scene.toml,
  and change its weight with: echo "weight 2.5" > $demo/scales.in
INFO
cd "$demo"
SIMCAM_SCENE="$demo/scene.toml" "$build/src/core/core" ${words[@]+"${words[@]}"} "$@" 2>&1 |
  tee "$demo/core.log"
