#!/usr/bin/env bash
# Plays the Windows build through under wine, in a 155x42 tmux pane, and judges it by what the
# screen shows and the files it leaves behind: start-up with a best score on file, the menu and its
# colours, a new game started, steered, grown and saved, Esc to the game-over screen with a new
# best score and the bell, back to the menu, the help, the saved game continued, and the farewell.
#
#   tests/windows/smoke.sh build/windows/vorlix.exe      (make test-windows builds it first)
#
# Needs wine and tmux. KEEP=1 keeps the temporary folder (game files, wine prefix, screens).
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
exe=${1:-$repo/build/windows/vorlix.exe}
help_file=${VORLIX_HELP_FILE:-$repo/help.txt}
[[ -f "$exe" ]] || { echo "smoke: no $exe (run make windows)" >&2; exit 2; }
[[ -f "$help_file" ]] || { echo "smoke: no $help_file" >&2; exit 2; }

work=$(mktemp -d /tmp/vorlix-windows-smoke.XXXXXX)
game="$work/game"
mkdir -p "$game"
cp "$exe" "$game/vorlix.exe"
cp "$help_file" "$game/help.txt"
printf '7\n' >"$game/score.dat"

export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe="
tmux_socket="vorlix-smoke-$$"
tmux_() { tmux -L "$tmux_socket" -f /dev/null "$@"; }

finish() {
  local status=$?
  tmux_ kill-server 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  if [[ -n "${KEEP:-}" || $status -ne 0 ]]; then
    echo "smoke: files kept in $work" >&2
  else
    rm -rf "$work"
  fi
  exit "$status"
}
trap finish EXIT

step() { echo "smoke: $*"; }

fail() {
  echo "smoke: FAILED: $*" >&2
  echo "----- screen -----" >&2
  tmux_ capture-pane -p -t smoke >&2 2>/dev/null || true
  echo "------------------" >&2
  exit 1
}

screen() { tmux_ capture-pane -p -t smoke; }
coloured_screen() { tmux_ capture-pane -p -e -t smoke; }

# Waits until the screen shows `text` (a fixed string), for at most `seconds`.
wait_for() {
  local text=$1 seconds=${2:-20}
  local deadline=$((SECONDS + seconds))
  until screen | grep -qF -- "$text"; do
    ((SECONDS < deadline)) || fail "\"$text\" did not appear within ${seconds}s"
    sleep 0.2
  done
}

wait_gone() {
  local text=$1 seconds=${2:-20}
  local deadline=$((SECONDS + seconds))
  while screen | grep -qF -- "$text"; do
    ((SECONDS < deadline)) || fail "\"$text\" stayed on the screen for ${seconds}s"
    sleep 0.2
  done
}

expect_text() { screen | grep -qF -- "$1" || fail "the screen does not show \"$1\""; }
expect_no_text() { ! screen | grep -qF -- "$1" || fail "the screen shows \"$1\""; }

# The foreground colour in which the first "text" of standard input is drawn: an SGR number such as
# 32, or "default". The input is a screen captured with its colours, or the pane's raw output.
first_colour_of() {
  TEXT="$1" perl -CSD -0777 -ne '
    my ($fg, $plain, @colours) = ("default", "");
    for my $piece (split /(\e\[[0-9;?]*[A-Za-z]|\e\][^\a\e]*(?:\a|\e\\))/) {
      next if $piece eq "";
      if ($piece =~ /^\e\[([0-9;]*)m$/) {
        my @codes = split /;/, $1;
        @codes = (0) unless @codes;
        while (@codes) {
          my $code = shift @codes;
          if ($code == 0 || $code == 39) { $fg = "default" }
          elsif (($code >= 30 && $code <= 37) || ($code >= 90 && $code <= 97)) { $fg = $code }
          elsif ($code == 38) { $fg = "38;" . join(";", @codes); @codes = () }
        }
        next;
      }
      next if $piece =~ /^\e/;  # cursor moves and the like
      $plain .= $piece;
      push @colours, ($fg) x length $piece;
    }
    my $at = index $plain, $ENV{TEXT};
    print $at < 0 ? "absent" : $colours[$at];'
}

colour_of() { coloured_screen | first_colour_of "$1"; }

expect_colour() {
  local text=$1 want=$2 got
  got=$(colour_of "$text")
  [[ "$got" == "$want" ]] || fail "\"$text\" is drawn in colour $got, not $want"
}

# Row y (0-based) of the screen.
row() { screen | sed -n "$(($1 + 1))p"; }

# The frame round the playfield stands where it belongs: nothing has scrolled.
expect_frame() {
  local top bottom
  top=$(row 1)
  bottom=$(row 40)
  [[ "${top:1:100}" == "$(printf '#%.0s' {1..100})" ]] || fail "the top of the frame is not on row 1"
  [[ "${bottom:1:100}" == "$(printf '#%.0s' {1..100})" ]] || fail "the bottom of the frame is not on row 40"
  [[ -z "$(row 0 | tr -d ' ')" ]] || fail "row 0 is not blank: $(row 0)"
  [[ -z "$(row 41 | tr -d ' ')" ]] || fail "row 41 is not blank: $(row 41)"
  local y
  for y in 2 20 39; do
    local line
    line=$(row "$y")
    [[ "${line:1:1}" == "#" && "${line:100:1}" == "#" ]] || fail "row $y has no frame sides: $line"
  done
}

# The snake's head as the info panel shows it: "x y".
head_position() {
  screen | sed -n '13p' | sed -n 's/.*position:[^(]*( *\([0-9]*\), *\([0-9]*\)).*/\1 \2/p'
}

# Waits until the head runs along `axis` (x or y): two readings apart show it moving on that axis
# only.
wait_for_motion() {
  local axis=$1 deadline=$((SECONDS + 15)) first="" second=""
  while ((SECONDS < deadline)); do
    first=$(head_position)
    sleep 0.5
    second=$(head_position)
    if [[ -n "$first" && -n "$second" ]]; then
      local x1 y1 x2 y2
      read -r x1 y1 <<<"$first"
      read -r x2 y2 <<<"$second"
      if [[ $axis == x && $y1 == "$y2" && $x1 != "$x2" ]]; then return; fi
      if [[ $axis == y && $x1 == "$x2" && $y1 != "$y2" ]]; then return; fi
    fi
  done
  fail "the snake does not run along $axis (head at $first, then $second)"
}

bells() { wc -l <"$work/bells" | tr -d ' '; }

keys() { tmux_ send-keys -t smoke "$@"; }
# Wine's console hands over an Esc only when another follows it at once; two make one.
escape() { keys Escape Escape; }

# ---------------------------------------------------------------------------------------------
step "preparing a fresh wine prefix"
wineboot -i >"$work/wineboot.log" 2>&1 || fail "wineboot failed (see $work/wineboot.log)"
wineserver -w 2>/dev/null || true

step "starting vorlix.exe in a 155x42 pane"
: >"$work/bells"
: >"$work/pane.log"
tmux_ new-session -d -s smoke -x 155 -y 42 -c "$game" \
  "env WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all WINEDLLOVERRIDES='$WINEDLLOVERRIDES' wine vorlix.exe" \; \
  set-option -t smoke remain-on-exit on \; \
  pipe-pane -o -t smoke "cat >> $work/pane.log" \; \
  set-hook -g alert-bell "run-shell 'echo bell >> $work/bells'"

step "the main menu"
wait_for "Play(P)" 120
wait_for "Quit(Esc)"
sleep 0.5
expect_text "Welcome to Vorlix"
expect_text "Help(H)"
expect_no_text "Continue(C)"
expect_text "Programmed by Belmor"
expect_no_text "MODE"
grep -aqF "Loading.." "$work/pane.log" || fail "start-up never showed \"Loading..\""
! grep -aqF "Warning" "$work/pane.log" || fail "start-up warned although score.dat and help.txt are there"
expect_frame
expect_colour "Welcome to Vorlix" 32
expect_colour "Play(P)" default
expect_colour "Help(H)" default
expect_colour "Quit(Esc)" 90
expect_colour "Programmed by Belmor" 95
expect_colour "2021.9.13" 95
[[ "$(bells)" == 0 ]] || fail "the bell rang before any game"

step "a new game, with the best score from score.dat"
keys p
wait_for "Your score:" 30
wait_for "High score:     7"
expect_text "Level: 0"
expect_colour "Snake:" 90
expect_colour "Delay:  100 ms" 90
expect_frame
[[ -n "$(head_position)" ]] || fail "the info panel shows no snake position"
keys x # the start key
step "steering with the arrow keys"
keys Up
wait_for_motion y
keys Left
wait_for_motion x
keys Down
wait_for_motion y
expect_frame

step "growing to a new best score"
score=$(screen | sed -n 's/.*Your score: *\([0-9]*\).*/\1/p' | head -n 1)
[[ -n "$score" ]] || fail "the score panel shows no score"
best=$((score + 8)) # each U grows the snake and scores a point
keys u u u u u u u u
wait_for "$(printf 'Your score: %5d' "$best")"
expect_colour "$(printf 'Your score: %5d' "$best")" 92
expect_text "length:  $((best + 2))"

step "saving the game"
before=$(bells)
keys s
wait_for "Save the game and continue?"
keys y
wait_gone "Save the game and continue?"
[[ -s "$game/save.dat" ]] || fail "no save.dat after saving"
[[ "$(bells)" -gt "$before" ]] || fail "the save question did not ring the bell"

step "Esc to the game-over screen"
before=$(bells)
escape
wait_for "GAME OVER !"
wait_for "Press any key to continue."
expect_colour "GAME OVER !" 31
expect_text "New High Score: $best !"
expect_colour "New High Score: $best !" 92
expect_frame
[[ "$(bells)" -gt "$before" ]] || fail "the game-over screen did not ring the bell"
[[ "$(tr -d '\r\n' <"$game/score.dat")" == "$best" ]] ||
  fail "score.dat holds \"$(cat "$game/score.dat")\", not $best"

step "back to the menu, which now offers the saved game"
keys x
wait_for "Continue(C)"
wait_for "Play(P)"
expect_frame

step "the help"
keys h
wait_for "Press any key to continue." 240
# Typed line by line from (5, 5); lines of plain printable text must stand there as they are.
y=5
while IFS= read -r line || [[ -n "$line" ]]; do
  line=${line%$'\r'}
  if ((y < 36)) && [[ "$line" =~ ^[[:print:]]*$ ]]; then
    shown=$(row "$y")
    [[ "${shown:5:${#line}}" == "$line" ]] || fail "help line $((y - 4)) reads \"${shown:5}\""
    if [[ "$line" =~ [^[:space:]] && -z "${first_line:-}" ]]; then first_line=$line; fi
  fi
  y=$((y + 1))
done <"$game/help.txt"
if [[ -n "${first_line:-}" ]]; then
  first_line=${first_line#"${first_line%%[![:space:]]*}"}
  expect_colour "$first_line" 96
fi
expect_frame
keys x
wait_for "Play(P)"
wait_gone "Press any key to continue."

step "continuing the saved game"
keys c
wait_for "Your score:" 30
wait_for "$(printf 'Your score: %5d' "$best")"
wait_for "$(printf 'High score: %5d' "$best")"
keys x # the start key
escape
wait_for "GAME OVER !"
wait_for "Final score:"
expect_text "$(printf 'High score:%9s%d' '' "$best")" # a tab from column 128, then " %d"
keys x
wait_for "Play(P)"

step "the farewell"
escape
# It stands only while the screen is being cleared, as the previous pause ended long ago: the
# pane's output shows it.
deadline=$((SECONDS + 30))
until grep -aqF "Thanks for your playing!" "$work/pane.log"; do
  ((SECONDS < deadline)) || fail "the farewell was never drawn"
  sleep 0.2
done
farewell_colour=$(first_colour_of "Thanks for your playing!" <"$work/pane.log")
[[ "$farewell_colour" == 94 ]] || fail "the farewell is drawn in colour $farewell_colour, not 94"
deadline=$((SECONDS + 30))
until [[ "$(tmux_ display -p -t smoke '#{pane_dead}')" == 1 ]]; do
  ((SECONDS < deadline)) || fail "the game did not end after the farewell"
  sleep 0.2
done
expect_no_text "Thanks for your playing!"
expect_no_text "Play(P)"

step "the files left behind"
[[ "$(tr -d '\r\n' <"$game/score.dat")" == "$best" ]] ||
  fail "score.dat changed to \"$(cat "$game/score.dat")\""
[[ -s "$game/save.dat" ]] || fail "save.dat is gone"
leftovers=()
for file in "$game"/* "$game"/.[!.]*; do
  [[ -e "$file" ]] || continue
  case ${file##*/} in
    vorlix.exe | help.txt | score.dat | save.dat) ;;
    *) leftovers+=("${file##*/}") ;;
  esac
done
((${#leftovers[@]} == 0)) || fail "unexpected files left behind: ${leftovers[*]}"
cmp -s "$help_file" "$game/help.txt" || fail "help.txt was changed"

step "Ctrl+C gives the console back"
# In a pane that lives on after the game, as a dead pane always hides its cursor.
tmux_ new-window -t smoke -c "$game" "env WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all \
WINEDLLOVERRIDES='$WINEDLLOVERRIDES' wine vorlix.exe; echo 'ended by Ctrl+C'; sleep 600"
wait_for "Play(P)" 120
[[ "$(tmux_ display -p -t smoke '#{cursor_flag}')" == 0 ]] || fail "the menu shows the cursor"
keys C-c
wait_for "ended by Ctrl+C"
[[ "$(tmux_ display -p -t smoke '#{cursor_flag}')" == 1 ]] || fail "the cursor stayed hidden"

step "passed"
