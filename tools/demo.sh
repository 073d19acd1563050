#!/usr/bin/env bash
# Opens the loader against a simulated board, for a first look without hardware.
#
#   tools/demo.sh <path-to-vantrel> <path-to-boardsim> [boardsim options...]
#
# The simulator may be vantrel-picsim too (make demo-chip): it takes --com and
# --log alike and prints the same READY line.
#
# The board sits behind COM3 in a throw-away configuration folder, so the
# loader's own settings are left alone. Extra options go to boardsim, e.g.
# "--modbus 1" or "--reply-delay 200" (see docs/boardsim.md). The simulator is
# stopped and the folder removed when the window closes.
set -euo pipefail

if [ $# -lt 2 ]; then
    echo "usage: $0 <path-to-vantrel> <path-to-boardsim> [boardsim options...]" >&2
    exit 2
fi
vantrel="$1"
boardsim="$2"
shift 2

if [ ! -x "$boardsim" ]; then
    echo "demo: no boardsim at $boardsim; build it first (cmake --build build)" >&2
    exit 1
fi
if [ ! -x "$vantrel" ]; then
    echo "demo: no vantrel at $vantrel; build it first (cmake --build build)" >&2
    exit 1
fi
vantrel="$(cd "$(dirname "$vantrel")" && pwd)/$(basename "$vantrel")"
boardsim="$(cd "$(dirname "$boardsim")" && pwd)/$(basename "$boardsim")"
# VANTREL_DEMO_FILES: where the file dialog opens (make demo-chip: the firmware build).
examples="$(cd "${VANTREL_DEMO_FILES:-$(dirname "${BASH_SOURCE[0]}")/../examples}" && pwd)"

work="$(mktemp -d "${TMPDIR:-/tmp}/vantrel-demo.XXXXXX")"
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export XDG_CONFIG_HOME="$work/config"
"$boardsim" --com 3 --log "$work/boardsim.log" "$@" >"$work/boardsim.out" &
sim_pid=$!

# Wait for the READY line (or for the simulator to give up).
for _ in $(seq 1 200); do
    if grep -q '^READY ' "$work/boardsim.out" 2>/dev/null; then break; fi
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "demo: boardsim did not start" >&2
        exit 1
    fi
    sleep 0.05
done
if ! grep -q '^READY ' "$work/boardsim.out"; then
    echo "demo: boardsim did not get ready" >&2
    exit 1
fi

echo "demo: simulated board on COM3 ($(sed -n 's/^READY \([^ ]*\).*/\1/p' "$work/boardsim.out"))"
echo "demo: its traffic log is $work/boardsim.log while the window is open"
echo "demo: example files are in $examples"

# Started from the examples folder so the file dialog opens there.
cd "$examples"
status=0
"$vantrel" || status=$?
exit "$status"
