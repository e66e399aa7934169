#!/usr/bin/env bash
# What the Windows build's waits cost under wine: the CPU time of vorlix.exe, of wine's console
# (conhost.exe) and of the wineserver, over 10 seconds on the menu and 10 seconds in play at a
# delay of 100 ms, read from /proc/<pid>/stat of each process of a wine prefix of its own.
#
#   tests/windows/measure-cpu.sh build/windows/vorlix.exe
#
# Needs wine and tmux. VERBOSE=1 lists the prefix's processes as they were found. The snake goes round a rectangle meanwhile, so that it never meets a wall.
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
exe=${1:-$repo/build/windows/vorlix.exe}
seconds=10
[[ -f "$exe" ]] || { echo "measure-cpu: no $exe (run make windows)" >&2; exit 2; }

work=$(mktemp -d /tmp/vorlix-windows-cpu.XXXXXX)
game="$work/game"
mkdir -p "$game"
cp "$exe" "$game/vorlix.exe"
cp "$repo/help.txt" "$game/help.txt"
printf '0\n' >"$game/score.dat"
# Heading right from (20, 20), two cells long, food far off, 100 ms a tick.
printf '[snake info]\n3 2\n20 20\n19 20\n[food info]\n90 35\n[game info]\n0 100\n' >"$game/save.dat"

export WINEPREFIX="$work/prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
socket="vorlix-cpu-$$"
tmux_() { tmux -L "$socket" -f /dev/null "$@"; }
finish() {
  tmux_ kill-server 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT

wait_for() {
  local deadline=$((SECONDS + 120))
  until tmux_ capture-pane -p -t cpu | grep -qF -- "$1"; do
    ((SECONDS < deadline)) || { echo "measure-cpu: \"$1\" never showed" >&2; exit 1; }
    sleep 0.2
  done
}

# The processes of this prefix (and the tmux server, which shares its environment): "name pid".
processes() {
  local environ pid
  for environ in /proc/[0-9]*/environ; do
    pid=${environ#/proc/}
    pid=${pid%/environ}
    { tr '\0' '\n' <"$environ" | grep -qxF "WINEPREFIX=$WINEPREFIX"; } 2>/dev/null || continue
    echo "$({ cat "/proc/$pid/comm"; } 2>/dev/null) $pid"
  done
}
pid_of() { processes | awk -v name="$1" '$1 == name {print $2; exit}'; }

# utime + stime of a process, in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# Prints the CPU share of each process over `seconds`, while the given steering runs.
measure() {
  local label=$1 steer=$2
  local game_pid console_pid server_pid
  game_pid=$(pid_of vorlix.exe)
  console_pid=$(pid_of conhost.exe)
  server_pid=$(pid_of wineserver64)
  [[ -z "${VERBOSE:-}" ]] || processes >&2
  local g0 c0 s0 g1 c1 s1 start end
  g0=$(cpu_ticks "$game_pid")
  c0=$(cpu_ticks "$console_pid")
  s0=$(cpu_ticks "$server_pid")
  start=$(date +%s.%N)
  $steer
  end=$(date +%s.%N)
  g1=$(cpu_ticks "$game_pid")
  c1=$(cpu_ticks "$console_pid")
  s1=$(cpu_ticks "$server_pid")
  awk -v l="$label" -v t="$(getconf CLK_TCK)" -v s="$start" -v e="$end" \
    -v g=$((g1 - g0)) -v c=$((c1 - c0)) -v w=$((s1 - s0)) 'BEGIN {
      d = e - s
      printf "%-28s %5.1f s   vorlix.exe %6.0f ms (%4.1f%%)   conhost.exe %6.0f ms (%4.1f%%)   wineserver %6.0f ms (%4.1f%%)\n",
        l, d, g * 1000 / t, g * 100 / t / d, c * 1000 / t, c * 100 / t / d, w * 1000 / t, w * 100 / t / d }'
}

idle() { sleep "$seconds"; }
# Ten seconds round a rectangle: right, down, left, up, right.
rectangle() {
  sleep 3.5 && tmux_ send-keys -t cpu Down
  sleep 1 && tmux_ send-keys -t cpu Left
  sleep 3.5 && tmux_ send-keys -t cpu Up
  sleep 1 && tmux_ send-keys -t cpu Right
  sleep 1
}

wineboot -i >/dev/null 2>&1
tmux_ new-session -d -s cpu -x 155 -y 42 -c "$game" \
  "env WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all WINEDLLOVERRIDES='$WINEDLLOVERRIDES' wine vorlix.exe"
wait_for "Continue(C)"
sleep 2
measure "the menu, no key" idle
tmux_ send-keys -t cpu c
wait_for "Your score:"
tmux_ send-keys -t cpu x
sleep 1
# The head's cell as the info panel shows it.
head_cell() { tmux_ capture-pane -p -t cpu | sed -n '13s/.*position:[^(]*(\([^)]*\)).*/\1/p'; }
before=$(head_cell)
measure "play at 100 ms a tick" rectangle
after=$(head_cell)
if tmux_ capture-pane -p -t cpu | grep -qF "GAME OVER" || [[ -z "$after" || "$before" == "$after" ]]; then
  echo "measure-cpu: the snake was not in play all along (head at $before, then $after)" >&2
  exit 1
fi
