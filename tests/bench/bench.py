#!/usr/bin/env python3
"""Measures the real Vorlix program as a player's terminal sees it.

The game runs in a 155x42 pseudo-terminal of its own, in a temporary folder holding help.txt,
score.dat and save.dat. Every byte it writes is recorded with the moment it arrived, and a small
terminal model (Screen) keeps the picture those bytes paint, so the bench can wait for what a
player would wait for: the menu, the first frame of a game, the game-over screen. Keys go in
through the same terminal.

    python3 tests/bench/bench.py              the full run: one table, about two minutes
    python3 tests/bench/bench.py --quick      every measurement for a moment, to prove the bench
                                              works (never fails on a figure)
    python3 tests/bench/bench.py --self-test  the bench's own tests (tests/bench/test_bench.py)

Each game output tick is a single write(); a large write may reach us in several reads, so reads
that arrive within TICK_GAP_S of each other are counted as one tick.
"""

import argparse
import codecs
import datetime
import errno
import fcntl
import gc
import os
import platform
import re
import select
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import termios
import time

sys.dont_write_bytecode = True  # the self-test imports this file: leave no cache in the tree

WIDTH, HEIGHT = 155, 42
# The playfield inside the border, both ends included.
LEFT, RIGHT, TOP, BOTTOM = 2, 99, 2, 39
FIELD_W, FIELD_H = RIGHT - LEFT + 1, BOTTOM - TOP + 1
MAX_LENGTH = FIELD_W * FIELD_H  # 3724

ESC = b"\x1b"
# The decoder holds a lone ESC this long before it becomes the Esc key.
ESC_SETTLE_S = 0.08
TICK_GAP_S = 0.0015

# Directions as save.dat writes them, the step each takes, and the key that steers that way.
UP, LEFT_DIR, DOWN, RIGHT_DIR = 0, 1, 2, 3
STEP = {UP: (0, -1), LEFT_DIR: (-1, 0), DOWN: (0, 1), RIGHT_DIR: (1, 0)}
KEY_DIRECTION = {"H": UP, "K": LEFT_DIR, "P": DOWN, "M": RIGHT_DIR}


class BenchError(Exception):
    """The bench itself could not do what it set out to: no figure can be trusted."""


# ---- The terminal model -------------------------------------------------------------------------


class Screen:
    """What a VT/xterm-like terminal of WIDTH x HEIGHT shows after the bytes fed to it.

    It knows the sequences a full-screen program sends: cursor positioning and relative moves,
    CR, BS, TAB, LF, erase in display and line, the alternate screen; colours and other modes are
    read and ignored. Text is UTF-8. A character written in the last column leaves the cursor
    there with a wrap pending, as xterm does.
    """

    def __init__(self, width=WIDTH, height=HEIGHT):
        self.width, self.height = width, height
        self._decoder = codecs.getincrementaldecoder("utf-8")("replace")
        self._state = "ground"
        self._params = ""
        self.bells = 0
        self.alternate = False
        self._saved_main = None
        self._saved_cursor = (0, 0)
        self._blank_all()

    def _blank_all(self):
        self.cells = [[" "] * self.width for _ in range(self.height)]
        self.x = self.y = 0
        self._wrap_pending = False

    # -- reading the picture
    def row(self, y):
        return "".join(self.cells[y])

    def text_at(self, x, y, text):
        return self.row(y)[x:x + len(text)] == text

    def contains(self, text):
        return any(text in self.row(y) for y in range(self.height))

    # -- feeding bytes
    def feed(self, data):
        for ch in self._decoder.decode(data):
            self._take(ch)

    def _take(self, ch):
        state = self._state
        if state == "ground":
            if ch == "\x1b":
                self._state = "escape"
            elif ch >= " " and ch != "\x7f":
                self._put(ch)
            else:
                self._control(ch)
        elif state == "escape":
            self._after_escape(ch)
        elif state == "csi":
            if " " <= ch <= "?":
                self._params += ch
            elif "@" <= ch <= "~":
                self._state = "ground"
                self._csi(self._params, ch)
            elif ch == "\x1b":
                self._state = "escape"
            else:
                self._control(ch)
        elif state == "string":  # OSC, DCS and their kin: skipped up to BEL or ST
            if ch == "\a":
                self._state = "ground"
            elif ch == "\x1b":
                self._state = "string-escape"
        elif state == "string-escape":
            self._state = "ground" if ch == "\\" else "string"
        elif state == "charset":
            self._state = "ground"

    def _control(self, ch):
        if ch == "\r":
            self.x, self._wrap_pending = 0, False
        elif ch in "\n\x0b\x0c":
            self._line_feed()
        elif ch == "\b":
            self.x, self._wrap_pending = max(0, self.x - 1), False
        elif ch == "\t":
            self.x = min(self.width - 1, (self.x // 8 + 1) * 8)
        elif ch == "\a":
            self.bells += 1

    def _after_escape(self, ch):
        self._state = "ground"
        if ch == "[":
            self._state, self._params = "csi", ""
        elif ch in "]PX^_":
            self._state = "string"
        elif ch in "()*+":
            self._state = "charset"
        elif ch == "7":
            self._saved_cursor = (self.x, self.y)
        elif ch == "8":
            self.x, self.y = self._saved_cursor
            self._wrap_pending = False
        elif ch == "D":
            self._line_feed()
        elif ch == "E":
            self.x = 0
            self._line_feed()
        elif ch == "M":
            self.y, self._wrap_pending = max(0, self.y - 1), False
        elif ch == "c":
            self._blank_all()

    def _line_feed(self):
        self._wrap_pending = False
        if self.y + 1 < self.height:
            self.y += 1
        else:
            del self.cells[0]
            self.cells.append([" "] * self.width)

    def _put(self, ch):
        if self._wrap_pending:
            self.x = 0
            self._line_feed()
        self.cells[self.y][self.x] = ch
        if self.x + 1 < self.width:
            self.x += 1
        else:
            self._wrap_pending = True

    def _csi(self, params, final):
        private = params[:1] in ("?", ">", "<", "=")
        body = params[1:] if private else params
        body = body.rstrip(" !\"#$%&'()*+,-./")  # intermediate bytes
        numbers = []
        for part in body.split(";"):
            numbers.append(int(part) if part.isdigit() else None)

        def count(i=0, default=1):
            value = numbers[i] if i < len(numbers) else None
            return value if value else default

        if private:
            if final in "hl" and 1049 in numbers:
                self._alternate_screen(final == "h")
            return
        self._wrap_pending = False
        if final in "Hf":
            self.y, self.x = self._clamp_y(count(0) - 1), self._clamp_x(count(1) - 1)
        elif final == "A":
            self.y = self._clamp_y(self.y - count())
        elif final in "Be":
            self.y = self._clamp_y(self.y + count())
        elif final in "Ca":
            self.x = self._clamp_x(self.x + count())
        elif final == "D":
            self.x = self._clamp_x(self.x - count())
        elif final in "EF":
            self.y = self._clamp_y(self.y + (count() if final == "E" else -count()))
            self.x = 0
        elif final in "G`":
            self.x = self._clamp_x(count() - 1)
        elif final == "d":
            self.y = self._clamp_y(count() - 1)
        elif final == "J":
            self._erase_display(numbers[0] or 0)
        elif final == "K":
            self._erase_line(numbers[0] or 0)

    def _clamp_x(self, x):
        return min(max(x, 0), self.width - 1)

    def _clamp_y(self, y):
        return min(max(y, 0), self.height - 1)

    def _erase_line(self, mode, y=None):
        y = self.y if y is None else y
        start, end = {0: (self.x, self.width), 1: (0, self.x + 1)}.get(mode, (0, self.width))
        for x in range(start, end):
            self.cells[y][x] = " "

    def _erase_display(self, mode):
        if mode == 0:
            self._erase_line(0)
            rows = range(self.y + 1, self.height)
        elif mode == 1:
            self._erase_line(1)
            rows = range(0, self.y)
        else:
            rows = range(self.height)
        for y in rows:
            self.cells[y] = [" "] * self.width

    def _alternate_screen(self, on):
        if on and not self.alternate:
            self._saved_main = (self.cells, self.x, self.y)
            self.cells = [[" "] * self.width for _ in range(self.height)]
            self.alternate = True
        elif not on and self.alternate:
            self.cells, self.x, self.y = self._saved_main
            self.alternate = False


def menu_complete(screen):
    """Whether the whole main menu is on the screen: its last line and the credits."""
    return screen.contains("Quit(Esc)") and screen.text_at(123, 36, "2021.9.13")


# ---- Figures from recordings --------------------------------------------------------------------


def group_ticks(chunks, gap=TICK_GAP_S):
    """Joins reads (arrival time, byte count) that follow each other within `gap` seconds.

    Returns [first arrival, last arrival, bytes] per group, in order.
    """
    groups = []
    for at, size in chunks:
        if groups and at - groups[-1][1] <= gap:
            groups[-1][1] = at
            groups[-1][2] += size
        else:
            groups.append([at, at, size])
    return groups


def percentile(values, p):
    """The p-th percentile with linear interpolation between the closest ranks."""
    ordered = sorted(values)
    if not ordered:
        raise ValueError("no values")
    rank = (len(ordered) - 1) * p / 100.0
    low = int(rank)
    high = min(low + 1, len(ordered) - 1)
    return ordered[low] + (ordered[high] - ordered[low]) * (rank - low)


def interval_errors_ms(groups, delay_ms):
    """|interval - delay| in ms between the starts of consecutive ticks."""
    return [abs((b[0] - a[0]) * 1000.0 - delay_ms) for a, b in zip(groups, groups[1:])]


def parse_proc_stat(text):
    """(utime + stime) in clock ticks from the text of /proc/<pid>/stat."""
    # The command name is in parentheses and may hold spaces; fields count on after it.
    fields = text[text.rindex(")") + 2:].split()
    return int(fields[11]) + int(fields[12])


def parse_vm_hwm_kb(text):
    match = re.search(r"^VmHWM:\s+(\d+) kB", text, re.M)
    if not match:
        raise BenchError("no VmHWM in /proc/<pid>/status")
    return int(match.group(1))


def parse_rss_split_kb(text):
    """(RssAnon, RssFile) in kB: the program's own memory and the mapped files, such as the
    shared libraries, that make up its resident set now."""
    values = {}
    for name in ("RssAnon", "RssFile"):
        match = re.search(rf"^{name}:\s+(\d+) kB", text, re.M)
        values[name] = int(match.group(1)) if match else None
    return values["RssAnon"], values["RssFile"]


def parse_strace_summary(text):
    """The per-call counts and the total of a `strace -c` summary: ({name: calls}, total)."""
    calls, total = {}, None
    for line in text.splitlines():
        parts = line.split()
        if len(parts) < 5 or not re.fullmatch(r"\d+\.\d+", parts[0]):
            continue
        # % time, seconds, usecs/call, calls, [errors], name
        name = parts[-1]
        if name == "total":
            total = int(parts[3])
        else:
            calls[name] = int(parts[3])
    if total is None:
        raise BenchError("no total line in the strace summary")
    return calls, total


# ---- Saved games ---------------------------------------------------------------------------------


def wrapped(x, y):
    return (x - LEFT) % FIELD_W + LEFT, (y - TOP) % FIELD_H + TOP


def save_text(direction, body, food, score, delay_ms):
    lines = ["[snake info]", f"{direction} {len(body)}"]
    lines += [f"{x} {y}" for x, y in body]
    lines += ["[food info]", f"{food[0]} {food[1]}", "[game info]", f"{score} {delay_ms}"]
    return "\n".join(lines) + "\n"


def straight_save(delay_ms, head=(10, 20), food=(50, 30)):
    """A snake of two heading right along row head[1]; the food on another row is never eaten."""
    body = [head, wrapped(head[0] - 1, head[1])]
    return save_text(RIGHT_DIR, body, food, 0, delay_ms)


def staircase_body(length, head):
    """A body laid along the down-right staircase behind `head`, the last move having been right.

    Cell i+1 is one step back from cell i: to the left when i is even, up when it is odd. The
    keys P, M, P, M, ... then carry the head on along the same staircase.
    """
    body = [head]
    for i in range(length - 1):
        x, y = body[-1]
        body.append(wrapped(x - 1, y) if i % 2 == 0 else wrapped(x, y - 1))
    return body


def staircase_ahead(head, steps):
    """The head's cell after `steps` ticks of P, M, P, M, ... from `head`."""
    x, y = head
    for i in range(steps):
        x, y = wrapped(x, y + 1) if i % 2 == 0 else wrapped(x + 1, y)
    return x, y


def staircase_save(length, delay_ms, head=(50, 20), food_ahead=2000):
    body = staircase_body(length, head)
    food = staircase_ahead(head, food_ahead)
    if food in body:
        raise BenchError("the staircase food lies on the body")
    return save_text(RIGHT_DIR, body, food, 0, delay_ms)


def turning_keys(ticks, every=3):
    """The key (or None) the game takes before each tick when H and M alternate every `every`."""
    keys = []
    for tick in range(ticks):
        if tick > 0 and tick % every == 0:
            keys.append("H" if (tick // every) % 2 == 1 else "M")
        else:
            keys.append(None)
    return keys


def simulate(body, direction, keys):
    """Plays the keys (one per tick; None for none) by the game's rules.

    Returns (tick of the first bite or None, the body afterwards, the head's cell after each
    tick). A reversal is refused, the border wraps, and the head bites when it lands on any other
    body cell.
    """
    body = list(body)
    heads = []
    occupied = {}
    for cell in body:
        occupied[cell] = occupied.get(cell, 0) + 1
    for tick, key in enumerate(keys, start=1):
        wanted = KEY_DIRECTION.get(key, direction)
        if (direction + 2) % 4 != wanted:
            direction = wanted
        dx, dy = STEP[direction]
        head = wrapped(body[0][0] + dx, body[0][1] + dy)
        tail = body.pop()
        occupied[tail] -= 1
        body.insert(0, head)
        heads.append(head)
        occupied[head] = occupied.get(head, 0) + 1
        if occupied[head] > 1:
            return tick, body, heads
    return None, body, heads


def turning_food(head, ticks):
    """A playfield cell at least three cells from the path of a turning snake that starts at
    `head` heading right, so that a turn taken a tick late does not reach it either."""
    _, _, heads = simulate([head, wrapped(head[0] - 1, head[1])], RIGHT_DIR, turning_keys(ticks))
    near = set()
    for x, y in heads:
        near.update(wrapped(x + dx, y + dy) for dx in range(-2, 3) for dy in range(-2, 3))
    for fy in range(TOP, BOTTOM + 1):
        for fx in range(LEFT, RIGHT + 1):
            if (fx, fy) not in near:
                return fx, fy
    return LEFT, TOP  # near everywhere: the food may be eaten, which costs a tick a few bytes


# ---- The game in a pseudo-terminal ---------------------------------------------------------------


def start_in_terminal(binary, args, folder):
    """Starts `binary` in `folder` in a new WIDTH x HEIGHT pseudo-terminal that is its controlling
    terminal, in a session of its own. Returns (the master side, non-blocking; the pid; the
    moment just before the start).

    posix_spawn starts the program without copying the bench's memory as fork() would, and the
    child runs no Python: a new session, the terminal opened by name (which makes it the session's
    controlling terminal) as 0, 1 and 2, and exec.
    """
    master, slave = os.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", HEIGHT, WIDTH, 0, 0))
    actions = [(os.POSIX_SPAWN_OPEN, 0, os.ttyname(slave), os.O_RDWR, 0),
               (os.POSIX_SPAWN_DUP2, 0, 1), (os.POSIX_SPAWN_DUP2, 0, 2)]
    env = dict(os.environ, TERM="xterm-256color")
    argv = [binary, *args]
    os.set_blocking(master, False)
    here = os.getcwd()
    os.chdir(folder)  # posix_spawn has no action for the child's folder: it takes the bench's
    try:
        started = time.monotonic()
        pid = os.posix_spawn(binary, argv, env, file_actions=actions, setsid=True)
    finally:
        os.chdir(here)
        os.close(slave)
    return master, pid, started


class Game:
    """One run of the program, from its start to its exit, and all it wrote."""

    def __init__(self, binary, folder, args=(), keep_output=False):
        self.folder = folder
        # Everything the reader needs is made before the start, so that none of it runs while the
        # program starts.
        self.screen = Screen()
        self.chunks = []  # (arrival, byte count)
        self.total_bytes = 0
        self.groups = []  # live tick grouping, as group_ticks makes it
        self.output = bytearray() if keep_output else None
        self.eof = False
        self.exit_status = None
        self.master, self.pid, self.started = start_in_terminal(binary, args, folder)

    # -- output
    def pump(self, seconds, until=None, on_output=None):
        """Reads output for up to `seconds`; returns True as soon as until() holds."""
        end = time.monotonic() + seconds
        while True:
            if until is not None and until():
                return True
            left = end - time.monotonic()
            if left <= 0 or self.eof:
                return False
            ready, _, _ = select.select([self.master], [], [], left)
            if ready and self.take_output() and on_output is not None:
                on_output()

    def take_output(self):
        """One read of what is waiting, recorded with the moment it came; False for none."""
        try:
            data = os.read(self.master, 65536)
        except BlockingIOError:
            return False
        except OSError as error:
            if error.errno != errno.EIO:
                raise
            data = b""
        at = time.monotonic()
        if not data:
            self.eof = True
            return False
        self._record(at, data)
        return True

    def _record(self, at, data):
        if self.output is not None:
            self.output += data
        self.chunks.append((at, len(data)))
        self.total_bytes += len(data)
        if self.groups and at - self.groups[-1][1] <= TICK_GAP_S:
            self.groups[-1][1] = at
            self.groups[-1][2] += len(data)
        else:
            self.groups.append([at, at, len(data)])
        self.screen.feed(data)

    def wait_for(self, what, predicate, seconds=5.0):
        if not self.pump(seconds, until=predicate):
            raise BenchError(f"waited {seconds:.0f} s for {what}; the screen shows:\n"
                             + self.dump())

    def dump(self):
        return "\n".join(self.screen.row(y).rstrip() for y in range(HEIGHT))

    def groups_between(self, start, end):
        return [g for g in self.groups if start <= g[0] < end]

    def read_bytes(self, count, seconds=5.0):
        """Reads the first `count` bytes raw, as fast as they come, with no terminal model in the
        way; returns (the arrival of the read that completed them, all bytes read)."""
        data = bytearray()
        end = time.monotonic() + seconds
        while len(data) < count:
            left = end - time.monotonic()
            if left <= 0:
                raise BenchError(f"{len(data)} of {count} bytes came in {seconds:.0f} s")
            if not select.select([self.master], [], [], left)[0]:
                continue
            try:
                more = os.read(self.master, 65536)
            except BlockingIOError:
                continue
            except OSError as error:
                if error.errno != errno.EIO:
                    raise
                more = b""
            at = time.monotonic()
            if not more:
                raise BenchError(f"the program closed its terminal after {len(data)} bytes")
            data += more
        return at, bytes(data)

    # -- input
    def send(self, keys):
        data = keys.encode() if isinstance(keys, str) else keys
        while data:
            try:
                written = os.write(self.master, data)
            except BlockingIOError:
                self.pump(0.005)
                continue
            data = data[written:]

    def press_esc(self):
        """Esc, then a pause so that the next key cannot join it into a sequence."""
        self.send(ESC)
        self.pump(ESC_SETTLE_S)

    # -- the process
    def cpu(self):
        """(CPU seconds from /proc/<pid>/stat, CPU seconds from schedstat or None)."""
        with open(f"/proc/{self.pid}/stat") as stat:
            ticks = parse_proc_stat(stat.read())
        try:
            with open(f"/proc/{self.pid}/schedstat") as sched:
                precise = int(sched.read().split()[0]) / 1e9
        except (OSError, ValueError, IndexError):
            precise = None
        return ticks / os.sysconf("SC_CLK_TCK"), precise

    def status(self):
        with open(f"/proc/{self.pid}/status") as status:
            return status.read()

    def poll_exit(self):
        if self.exit_status is None:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid == self.pid:
                self.exit_status = status
        return self.exit_status is not None

    def wait_exit(self, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if self.poll_exit():
                return True
            self.pump(0.02)
        return self.poll_exit()

    def kill(self):
        if not self.poll_exit():
            try:
                os.kill(self.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            os.waitpid(self.pid, 0)
            self.exit_status = -1
        if self.master is not None:
            os.close(self.master)
            self.master = None

    # -- the game's screens
    def wait_menu(self, seconds=5.0):
        self.wait_for("the main menu", lambda: menu_complete(self.screen), seconds)

    def wait_game_frame(self, delay_ms, seconds=5.0):
        def ready():
            return (self.screen.text_at(112, 10, "Snake:")
                    and re.search(rf"Delay:\s+{delay_ms} ms", self.screen.row(22)) is not None)
        if self.screen.contains("DAMAGED"):
            raise BenchError("the game turned the saved game away")
        self.wait_for(f"the first frame of a game at {delay_ms} ms", ready, seconds)

    def game_over_shown(self):
        return self.screen.contains("GAME OVER")

    def end_game(self, seconds=5.0):
        """Esc in a game, a key past the game-over screen, and back at the menu."""
        self.press_esc()
        self.wait_for("the game-over screen",
                      lambda: self.screen.text_at(117, 18, "Press any key to continue."), seconds)
        self.send(" ")
        self.wait_menu(seconds)

    def quit(self, seconds=5.0):
        """Esc on the menu; the farewell takes up to 2 s, then the program must exit 0."""
        self.press_esc()
        if not self.wait_exit(seconds):
            raise BenchError("the game did not exit after Esc on the menu")
        if not (os.WIFEXITED(self.exit_status) and os.WEXITSTATUS(self.exit_status) == 0):
            raise BenchError(f"the game ended with wait status {self.exit_status}")


def pump_together(games, seconds):
    """Reads the output of all `games` as it comes, for `seconds`."""
    end = time.monotonic() + seconds
    while True:
        left = end - time.monotonic()
        running = {game.master: game for game in games if not game.eof}
        if left <= 0 or not running:
            return
        ready, _, _ = select.select(list(running), [], [], left)
        for master in ready:
            running[master].take_output()


def prepare_folder(folder, help_file):
    shutil.copy(help_file, os.path.join(folder, "help.txt"))
    with open(os.path.join(folder, "score.dat"), "w") as score:
        score.write("0\n")
    write_save(folder, straight_save(100))


def write_save(folder, text):
    with open(os.path.join(folder, "save.dat"), "w") as save:
        save.write(text)


# A bare paced loop, for comparison with the game on the same machine at the same time: one write
# of a typical tick's bytes, then one sleep to the next deadline. It shows what the machine itself
# adds to the pace of a tick, and what one wake-up and one write per tick cost it.
REFERENCE_LOOP_C = r"""
#include <stdlib.h>
#include <time.h>
#include <unistd.h>
int main(int argc, char** argv) {
  const long long period = atoll(argv[1]) * 1000000LL;
  static const char tick[] = "\x1b[21;12H \x1b[21;14H*\x1b[13;136H5";
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  long long deadline = now.tv_sec * 1000000000LL + now.tv_nsec;
  for (;;) {
    if (write(1, tick, sizeof tick - 1) < 0) return 1;
    deadline += period;
    const struct timespec until = {deadline / 1000000000LL, deadline % 1000000000LL};
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, NULL);
  }
}
"""

# The same in Python, where no C compiler is to be had; its interpreter adds to its CPU time.
REFERENCE_LOOP_PYTHON = """
import os, sys, time
period = int(sys.argv[1]) / 1000.0
tick = b"\\x1b[21;12H \\x1b[21;14H*\\x1b[13;136H5"
deadline = time.monotonic()
while True:
    os.write(1, tick)
    deadline += period
    time.sleep(max(0.0, deadline - time.monotonic()))
"""


def build_c(folder, name, source):
    """`source` built as the program `name` in `folder`; None where there is no C compiler."""
    compiler = shutil.which("cc") or shutil.which("gcc") or shutil.which("c++")
    if compiler:
        program = os.path.join(folder, name)
        built = subprocess.run([compiler, "-O2", "-x", "c", "-", "-o", program],
                               input=source.encode(), capture_output=True, timeout=60)
        if built.returncode == 0:
            return program
    return None


def build_reference_loop(folder):
    """The C reference loop built in `folder`: (program, kind), or the Python one."""
    program = build_c(folder, "reference-loop", REFERENCE_LOOP_C)
    if program:
        return [program], "C"
    return [sys.executable, "-c", REFERENCE_LOOP_PYTHON], "Python"


def c_string(data):
    """`data` as a C string literal."""
    return '"' + "".join(f"\\{byte:03o}" for byte in data) + '"'


# The floor of a start: a program that writes the game's bytes up to its whole menu in one write,
# as soon as it runs, then waits to be killed. Output post-processing is switched off because the
# bytes are the ones the terminal already processed.
MENU_WRITER_C = """
#include <termios.h>
#include <unistd.h>
static const char menu[] = %s;
int main(void) {
  struct termios mode;
  if (tcgetattr(1, &mode) == 0) {
    mode.c_oflag &= ~OPOST;
    tcsetattr(1, TCSANOW, &mode);
  }
  if (write(1, menu, sizeof menu - 1) < 0) return 1;
  for (;;) pause();
}
"""


def build_menu_writer(folder, menu):
    """The menu writer for `menu` built in `folder`, as a command, or the same in Python."""
    program = build_c(folder, "menu-writer", MENU_WRITER_C % c_string(menu))
    if program:
        return [program]
    script = ("import os, signal, sys\n"
              "os.write(1, bytes.fromhex(sys.argv[1]))\n"
              "signal.pause()\n")
    return [sys.executable, "-c", script, menu.hex()]


# ---- The measurements ----------------------------------------------------------------------------


class Bench:
    def __init__(self, binary, help_file, quick):
        self.binary, self.help_file, self.quick = binary, help_file, quick
        self.results = {}
        self.games = []

    def seconds(self, full):
        return min(full, 1.0) if self.quick else full

    def start(self, folder, command=None):
        """The game, or another `command`, started in `folder`; the bench kills whatever is left
        of each at the end."""
        if command is None:
            game = Game(self.binary, folder)
        else:
            game = Game(command[0], folder, command[1:])
        self.games.append(game)
        return game

    def cleanup(self):
        for game in self.games:
            game.kill()

    # -- start-up
    def measure_startup(self, folder, runs):
        """The game's start to its whole menu, against the floor of any start: a program that
        writes the same bytes at once, started and read the same way, run for run in turn."""
        first = Game(self.binary, folder, keep_output=True)
        self.games.append(first)
        first.wait_menu()
        menu = bytes(first.output)  # up to the read that completed the menu
        first.quit()
        first.kill()
        writer = build_menu_writer(folder, menu)
        times = {"game": [], "floor": []}
        gc.disable()  # no collection in the middle of a start
        try:
            for run in range(runs):
                for kind in (("game", "floor") if run % 2 == 0 else ("floor", "game")):
                    command = [self.binary] if kind == "game" else writer
                    times[kind].append(self._time_start(folder, command, menu))
        finally:
            gc.enable()
        self.results["startup"] = times["game"]
        self.results["startup_floor"] = times["floor"]
        self.results["menu_bytes"] = len(menu)

    def _time_start(self, folder, command, menu):
        """ms from the start of `command` to the read that brought the last of `menu`'s bytes."""
        run = Game(command[0], folder, command[1:])
        self.games.append(run)
        at, data = run.read_bytes(len(menu))
        run.kill()
        screen = Screen()
        screen.feed(data[:len(menu)])
        if not menu_complete(screen):
            raise BenchError(f"{command[0]} wrote other bytes before its menu than the first run")
        return (at - run.started) * 1000.0

    # -- one session through everything else
    def measure_session(self, folder):
        game = self.start(folder)
        game.wait_menu()

        # The menu, left alone.
        bytes_before, cpu_before, start = game.total_bytes, game.cpu(), time.monotonic()
        game.pump(self.seconds(10.0))
        cpu_after, idle = game.cpu(), time.monotonic() - start
        self.results["idle"] = (self._cpu_share(cpu_before, cpu_after, idle),
                                game.total_bytes - bytes_before)

        # A new game at 100 ms, straight on.
        game.send("P")
        game.wait_game_frame(100)
        self.results["play100"] = self._straight_run(game, folder, 100, self.seconds(20.0))
        game.end_game()

        # A saved game at 10 ms, straight on.
        self._continue_saved(game, folder, straight_save(10), 10)
        self.results["play10"] = self._straight_run(game, folder, 10, self.seconds(10.0))
        game.end_game()

        # Turning: H and M in turn every third tick, at 10 ms.
        turning = save_text(RIGHT_DIR, [(10, 20), (9, 20)], turning_food((10, 20), 1200), 0, 10)
        self._continue_saved(game, folder, turning, 10)
        self.results["turning"] = self._turning_run(game, 10, self.seconds(5.0))
        game.end_game()

        # System calls at 100 ms.
        self._continue_saved(game, folder, straight_save(100), 100)
        self.results["syscalls"] = self._strace_run(game, self.seconds(5.0))
        game.end_game()

        # The 1,000-cell snake on its staircase at 10 ms.
        self._continue_saved(game, folder, staircase_save(1000, 10), 10)
        self.results["long"] = self._staircase_run(game, 10, self.seconds(10.0))
        game.end_game(seconds=10.0)

        status = game.status()
        self.results["hwm_kb"] = parse_vm_hwm_kb(status)
        self.results["rss_split_kb"] = parse_rss_split_kb(status)
        game.quit()
        game.kill()

    @staticmethod
    def _continue_saved(game, folder, text, delay_ms):
        """Writes `text` as the saved game, continues it from the menu and waits for its first
        frame at `delay_ms`."""
        write_save(folder, text)
        game.send("C")
        game.wait_game_frame(delay_ms)

    @staticmethod
    def _cpu_share(before, after, seconds):
        stat = (after[0] - before[0]) / seconds * 100.0
        precise = None
        if before[1] is not None and after[1] is not None:
            precise = (after[1] - before[1]) / seconds * 100.0
        return stat, precise

    def _window(self, game, seconds, on_output=None):
        """Lets the game run: a warm-up, then `seconds` measured. Returns (cpu share, ticks)."""
        warm_up = 0.2 if self.quick else 0.3
        game.pump(warm_up, on_output=on_output)
        start, cpu_before = time.monotonic(), game.cpu()
        game.pump(seconds, on_output=on_output)
        end, cpu_after = time.monotonic(), game.cpu()
        ticks = game.groups_between(start, end)
        if len(ticks) < 2:
            raise BenchError(f"the game made {len(ticks)} ticks in {seconds:.1f} s")
        return self._cpu_share(cpu_before, cpu_after, end - start), ticks

    def _straight_run(self, game, folder, delay_ms, seconds):
        """The game going straight at `delay_ms`, and beside it, over the same window, the bare
        reference loop at the same pace, so that whatever else the machine does meets both."""
        if "reference_kind" not in self.results:
            self._reference, self.results["reference_kind"] = build_reference_loop(folder)
        loop = self.start(folder, command=self._reference + [str(delay_ms)])
        pump_together([game, loop], delay_ms / 2000.0)  # the two then tick half a period apart
        game.send("M")  # the start key (right, the way the snake already heads)
        pump_together([game, loop], 0.2 if self.quick else 0.3)
        start, game_before, loop_before = time.monotonic(), game.cpu(), loop.cpu()
        pump_together([game, loop], seconds)
        end, game_after, loop_after = time.monotonic(), game.cpu(), loop.cpu()
        ticks, loop_ticks = game.groups_between(start, end), loop.groups_between(start, end)
        loop.kill()
        if len(ticks) < 2 or len(loop_ticks) < 2:
            raise BenchError(f"{len(ticks)} ticks of the game and {len(loop_ticks)} of the bare "
                             f"loop in {seconds:.1f} s")
        self.results[f"reference{delay_ms}"] = {
            "ticks": loop_ticks, "cpu": self._cpu_share(loop_before, loop_after, end - start),
            "seconds": end - start}
        return {"cpu": self._cpu_share(game_before, game_after, end - start), "ticks": ticks,
                "delay": delay_ms, "seconds": end - start}

    def _turning_run(self, game, delay_ms, seconds):
        state = {"seen": None, "next": "H"}

        def steer():
            # Three ticks after the last key (or the start), the next turn is queued for the 4th.
            if state["seen"] is None:
                state["seen"] = len(game.groups)
            if len(game.groups) - state["seen"] >= 3:
                game.send(state["next"])
                state["next"] = "M" if state["next"] == "H" else "H"
                state["seen"] = len(game.groups)

        game.send("M")
        _, ticks = self._window(game, seconds, on_output=steer)
        return {"ticks": ticks, "delay": delay_ms}

    def _staircase_run(self, game, delay_ms, seconds):
        keys = {"sent": 0, "first_group": None}
        backlog_target, burst = 40, 40

        def alternation(count):
            out = []
            for _ in range(count):
                out.append("P" if keys["sent"] % 2 == 0 else "M")
                keys["sent"] += 1
            return "".join(out)

        def feed():
            if game.game_over_shown():
                raise BenchError("the 1,000-cell snake bit itself: the staircase was not kept")
            ticks = len(game.groups) - keys["first_group"]
            backlog = keys["sent"] - ticks
            if backlog < backlog_target - 2:
                game.send(alternation(backlog_target - backlog))

        keys["first_group"] = len(game.groups)
        game.send("M" + alternation(burst))  # the start key, then the first keys of the queue
        cpu, ticks = self._window(game, seconds, on_output=feed)
        if game.game_over_shown():
            raise BenchError("the 1,000-cell snake bit itself: the staircase was not kept")
        # The queue still holds keys; Esc follows them and ends the game once they are used.
        return {"cpu": cpu, "ticks": ticks, "delay": delay_ms, "seconds": seconds,
                "keys": keys["sent"]}

    def _strace_run(self, game, seconds):
        strace = shutil.which("strace")
        game.send("M")
        game.pump(0.3)
        if strace is None:
            return {"error": "strace is not installed"}
        summary = os.path.join(game.folder, "strace.txt")
        tracer = subprocess.Popen([strace, "-f", "-c", "-o", summary, "-p", str(game.pid)],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.PIPE)
        try:
            attached = self._wait_attached(game, tracer)
            if not attached:
                return {"error": "strace could not attach"}
            start = time.monotonic()
            game.pump(seconds)
            end = time.monotonic()
            tracer.send_signal(signal.SIGINT)
            deadline = time.monotonic() + 5.0
            while tracer.poll() is None and time.monotonic() < deadline:
                game.pump(0.02)
        finally:
            if tracer.poll() is None:
                tracer.kill()
                tracer.wait()
            tracer.stderr.close()
        with open(summary) as text:
            calls, total = parse_strace_summary(text.read())
        ticks = len(game.groups_between(start, end))
        if ticks == 0:
            raise BenchError("no tick while strace was attached")
        return {"calls": calls, "total": total, "ticks": ticks}

    @staticmethod
    def _wait_attached(game, tracer):
        os.set_blocking(tracer.stderr.fileno(), False)
        said = b""
        deadline = time.monotonic() + 5.0
        while time.monotonic() < deadline:
            game.pump(0.01)
            try:
                more = os.read(tracer.stderr.fileno(), 4096)
            except BlockingIOError:
                more = None
            if more:
                said += more
            if b"attached" in said:
                return True
            if tracer.poll() is not None:
                return False
        return False

    # -- all of it
    def run(self):
        with tempfile.TemporaryDirectory(prefix="vorlix-bench-") as folder:
            prepare_folder(folder, self.help_file)
            self.measure_startup(folder, 2 if self.quick else 20)
            prepare_folder(folder, self.help_file)
            self.measure_session(folder)


# ---- The report ----------------------------------------------------------------------------------


def machine_lines():
    model = "unknown"
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    load = " ".join(f"{value:.2f}" for value in os.getloadavg())
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    return [f"Machine: {model}, {os.cpu_count()} cores, Linux {platform.release()}",
            f"Date:    {now}; load average at the start {load}"]


def verdict(met):
    if met is None:
        return "-"
    return "yes" if met else "NO"


def cpu_text(share, ticks=None, seconds=None):
    """The share from /proc/<pid>/stat, the finer one from schedstat in brackets, and the CPU time
    per tick; with the figure the verdict uses (schedstat's when there is one)."""
    stat, precise = share
    figure = precise if precise is not None else stat
    text = f"{stat:.2f}%"
    if precise is not None:
        text += f" ({precise:.3f}%)"
    if ticks:
        text += f", {cpu_per_tick_us(share, ticks, seconds):.0f} us per tick"
    return text, figure


def cpu_per_tick_us(share, ticks, seconds):
    """CPU time per tick in microseconds, from the figure the verdicts use."""
    stat, precise = share
    figure = precise if precise is not None else stat
    return figure / 100.0 * seconds / ticks * 1e6


def byte_text(groups):
    sizes = [g[2] for g in groups]
    return statistics.median(sizes), percentile(sizes, 95)


def table_rows(results):
    rows = []
    startup, floor = results["startup"], results["startup_floor"]
    median_start, median_floor = statistics.median(startup), statistics.median(floor)
    rows.append(("Start to the first whole menu frame", "under 1.5x the floor's",
                 f"{median_start / median_floor:.2f}x: median {median_start:.2f} ms against "
                 f"{median_floor:.2f} ms ({len(startup)} starts of each)",
                 verdict(median_start < 1.5 * median_floor)))
    rows.append(("  the same in ms; floor: the menu's bytes in one write", "under 10 ms, as a note",
                 f"game {min(startup):.2f}-{max(startup):.2f} ms, "
                 f"floor {min(floor):.2f}-{max(floor):.2f} ms ({results['menu_bytes']} bytes)",
                 "-"))

    idle_share, idle_bytes = results["idle"]
    text, figure = cpu_text(idle_share)
    rows.append(("CPU, menu left alone", "0.0%, 0 bytes", f"{text}, {idle_bytes} bytes",
                 verdict(round(figure, 1) == 0.0 and idle_bytes == 0)))

    kind = results["reference_kind"]
    for key, delay, note in (("play100", 100, "under 0.2%"), ("play10", 10, "under 0.5%")):
        run, loop = results[key], results[f"reference{delay}"]
        ticks = len(run["ticks"])
        text, _ = cpu_text(run["cpu"], ticks, run["seconds"])
        loop_text, _ = cpu_text(loop["cpu"], len(loop["ticks"]), loop["seconds"])
        game_us = cpu_per_tick_us(run["cpu"], ticks, run["seconds"])
        loop_us = cpu_per_tick_us(loop["cpu"], len(loop["ticks"]), loop["seconds"])
        rows.append((f"CPU per tick, playing at {delay} ms", f"at most 1.2x the bare {kind} loop's",
                     f"{game_us / loop_us:.2f}x: {game_us:.0f} us against {loop_us:.0f} us",
                     verdict(game_us <= 1.2 * loop_us)))
        rows.append(("  the same as a share; the bare loop", f"{note}, as a note",
                     f"{text} ({ticks} ticks in {run['seconds']:.0f} s); loop {loop_text}", "-"))
    run = results["long"]
    ticks = len(run["ticks"])
    text, _ = cpu_text(run["cpu"], ticks, run["seconds"])
    rows.append(("CPU, 1,000-cell snake at 10 ms", "none set",
                 f"{text} ({ticks} ticks in {run['seconds']:.0f} s)", "-"))

    med100, p95_100 = byte_text(results["play100"]["ticks"])
    med10, p95_10 = byte_text(results["play10"]["ticks"])
    rows.append(("Bytes per tick, straight, at 100 ms / 10 ms", "median 32 or fewer",
                 f"median {med100:g} / {med10:g}, 95th pct {p95_100:g} / {p95_10:g}",
                 verdict(max(med100, med10) <= 32)))
    med_turn, p95_turn = byte_text(results["turning"]["ticks"])
    rows.append(("Bytes per tick, turning every 3rd tick", "none set",
                 f"median {med_turn:g}, 95th pct {p95_turn:g} "
                 f"({len(results['turning']['ticks'])} ticks)", "-"))

    for key, delay in (("play100", 100), ("play10", 10)):
        errors = interval_errors_ms(results[key]["ticks"], delay)
        loop_errors = interval_errors_ms(results[f"reference{delay}"]["ticks"], delay)
        p99, loop_p99 = percentile(errors, 99), percentile(loop_errors, 99)
        rows.append((f"Tick interval at {delay} ms, 99th pct off by",
                     f"at most the bare {kind} loop's + 0.5 ms",
                     f"{p99:.3f} ms against {loop_p99:.3f} ms ({len(errors)} intervals)",
                     verdict(p99 <= loop_p99 + 0.5)))
        late = sum(error > 2.0 for error in errors)
        loop_late = sum(error > 2.0 for error in loop_errors)
        rows.append(("  the median; intervals off by over 2 ms",
                     "median < 0.5, 99th < 2 ms, as a note",
                     f"{statistics.median(errors):.3f} ms, {late}; loop "
                     f"{statistics.median(loop_errors):.3f} ms, {loop_late} "
                     f"({len(loop_errors)} intervals)", "-"))

    sys_calls = results["syscalls"]
    label = "System calls per tick at 100 ms"
    if "error" in sys_calls:
        rows.append((label, "none set", sys_calls["error"], "-"))
    else:
        per_tick = sys_calls["total"] / sys_calls["ticks"]
        top = sorted(sys_calls["calls"].items(), key=lambda item: -item[1])
        detail = ", ".join(f"{name} {count / sys_calls['ticks']:.1f}" for name, count in top)
        rows.append((label, "none set", f"{per_tick:.1f} ({detail}; {sys_calls['ticks']} ticks)",
                     "-"))

    hwm = results["hwm_kb"]
    anon, files = results["rss_split_kb"]
    split = ""
    if anon is not None and files is not None:
        split = f"; resident at the end: own {anon} kB, mapped files {files} kB"
    rows.append(("Peak resident memory (VmHWM)", "under 3 MB",
                 f"{hwm / 1024:.2f} MB ({hwm} kB{split})", verdict(hwm < 3 * 1024)))
    return rows


def render_table(rows):
    header = ("Measurement", "Goal", "Measured", "Met")
    widths = [max(len(str(row[i])) for row in rows + [header]) for i in range(4)]

    def line(cells):
        return "| " + " | ".join(str(c).ljust(w) for c, w in zip(cells, widths)) + " |"

    out = [line(header), "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
    out += [line(row) for row in rows]
    return "\n".join(out)


# ---- Entry ---------------------------------------------------------------------------------------


def run_self_test():
    import unittest

    here = os.path.dirname(os.path.abspath(__file__))
    suite = unittest.defaultTestLoader.discover(here, pattern="test_bench.py", top_level_dir=here)
    result = unittest.TextTestRunner(verbosity=1).run(suite)
    return result.wasSuccessful()


def on_time_limit(signum, frame):
    reason = "ran out of its time limit" if signum == signal.SIGALRM else "was told to stop"
    raise BenchError(f"the bench {reason}")


def main(argv=None):
    repo = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser = argparse.ArgumentParser(description="Measures the Vorlix game in a pseudo-terminal.")
    parser.add_argument("--quick", action="store_true",
                        help="run each measurement briefly, to prove that the bench works")
    parser.add_argument("--self-test", action="store_true", help="run the bench's own tests")
    parser.add_argument("--binary", default=os.path.join(repo, "build", "release", "vorlix"))
    parser.add_argument("--help-file", default=os.path.join(repo, "help.txt"))
    args = parser.parse_args(argv)

    if args.self_test:
        return 0 if run_self_test() else 1
    if args.quick and not run_self_test():
        return 1
    binary = os.path.abspath(args.binary)
    if not os.access(binary, os.X_OK):
        print(f"bench: no game at {binary}; build it first (make build)", file=sys.stderr)
        return 1

    print("\n".join(machine_lines()))
    print(f"Game:    {binary}" + ("  (quick run: the figures mean nothing)" if args.quick else ""))
    bench = Bench(binary, os.path.abspath(args.help_file), args.quick)
    signal.signal(signal.SIGALRM, on_time_limit)
    signal.signal(signal.SIGTERM, on_time_limit)
    signal.alarm(240 if args.quick else 900)
    try:
        bench.run()
    except BenchError as error:
        print(f"bench: {error}", file=sys.stderr)
        return 1
    finally:
        signal.alarm(0)
        bench.cleanup()
    rows = table_rows(bench.results)
    if args.quick:  # a moment's figures say nothing about the goals
        rows = [row[:3] + ("-",) for row in rows]
    print()
    print(render_table(rows))
    load = " ".join(f"{value:.2f}" for value in os.getloadavg())
    print(f"\nLoad average at the end {load}. CPU: /proc/<pid>/stat (utime+stime, 10 ms steps); "
          "in brackets the same from /proc/<pid>/schedstat (ns), which the verdict uses.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
