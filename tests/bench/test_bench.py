"""The bench's own tests: its terminal model, the figures it computes and the games it prepares.

Run by `python3 tests/bench/bench.py --self-test` (and by --quick, before it measures).
"""

import os
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import bench  # noqa: E402
from bench import Screen  # noqa: E402


def cup(x, y):
    """The cursor to 0-based column x, row y."""
    return f"\x1b[{y + 1};{x + 1}H".encode()


class ScreenTest(unittest.TestCase):
    def test_cursor_positioning_forms(self):
        screen = Screen()
        screen.feed(b"\x1b[HA" + b"\x1b[5HB" + b"\x1b[5;10HC")
        self.assertEqual(screen.row(0)[0], "A")
        self.assertEqual(screen.row(4)[0], "B")
        self.assertEqual(screen.row(4)[9], "C")

    def test_relative_moves_take_an_omitted_count_as_one(self):
        screen = Screen()
        screen.feed(cup(10, 10) + b"\x1b[A" + b"a" + b"\x1b[2B" + b"b" + b"\x1b[C" + b"c")
        self.assertEqual(screen.row(9)[10], "a")
        self.assertEqual(screen.row(11)[11], "b")
        self.assertEqual(screen.row(11)[13], "c")
        screen.feed(b"\x1b[3D" + b"d")
        self.assertEqual(screen.row(11)[11:14], "d c")  # three left of where c left the cursor
        screen.feed(b"\x1b[0C" + b"e")  # a count of 0 is a count of 1
        self.assertEqual(screen.row(11)[11:14], "d e")  # over the c, not beside the d

    def test_carriage_return_backspace_and_tab(self):
        screen = Screen()
        screen.feed(cup(20, 3) + b"xy\rA\b\bB\tC")
        row = screen.row(3)
        self.assertEqual(row[0], "B")  # backspace stops at the left edge
        self.assertEqual(row[8], "C")  # the next tab stop after column 1
        self.assertEqual(row[20:22], "xy")

    def test_moves_stop_at_the_edges(self):
        screen = Screen()
        screen.feed(b"\x1b[999;999HZ\x1b[999AY")
        self.assertEqual(screen.row(41)[154], "Z")
        self.assertEqual(screen.row(0)[154], "Y")

    def test_the_last_column_waits_to_wrap(self):
        screen = Screen()
        screen.feed(cup(154, 5) + b"E" + cup(3, 7) + b"F")
        self.assertEqual(screen.row(5)[154], "E")
        self.assertEqual(screen.row(6).strip(), "")  # the positioning cancelled the wrap
        self.assertEqual(screen.row(7)[3], "F")
        screen.feed(cup(154, 9) + b"GH")
        self.assertEqual(screen.row(9)[154], "G")
        self.assertEqual(screen.row(10)[0], "H")

    def test_text_past_the_bottom_scrolls(self):
        screen = Screen()
        screen.feed(b"top" + cup(0, 41) + b"last\nnext")
        self.assertEqual(screen.row(40)[:4], "last")
        self.assertEqual(screen.row(41)[4:8], "next")  # LF keeps the column
        self.assertNotIn("top", screen.row(0))

    def test_erase_display_and_line(self):
        screen = Screen()
        screen.feed(cup(0, 1) + b"abcdef" + cup(0, 2) + b"ghijkl")
        screen.feed(cup(3, 1) + b"\x1b[K")
        self.assertEqual(screen.row(1)[:6], "abc   ")
        screen.feed(cup(2, 2) + b"\x1b[1K")
        self.assertEqual(screen.row(2)[:6], "   jkl")
        screen.feed(b"\x1b[2J")
        self.assertTrue(all(screen.row(y).strip() == "" for y in range(42)))

    def test_colours_and_modes_draw_nothing(self):
        screen = Screen()
        screen.feed(b"\x1b[0;37;40m\x1b[?25l\x1b[8;42;155t" + cup(1, 1) + b"\x1b[90mQ\x1b[0m")
        self.assertEqual(screen.row(1)[:3], " Q ")
        self.assertEqual(screen.row(0).strip(), "")

    def test_sequences_and_characters_split_between_reads(self):
        screen = Screen()
        glyph = "█".encode()
        for piece in (b"\x1b[1", b"2;3", b"0H", glyph[:1], glyph[1:], b"\x1b", b"[D", b"!"):
            screen.feed(piece)
        self.assertEqual(screen.row(11)[29], "!")
        self.assertEqual(screen.row(11)[29 + 1], " ")
        screen.feed(cup(0, 0) + glyph)
        self.assertEqual(screen.row(0)[0], "█")

    def test_strings_are_skipped_whole(self):
        screen = Screen()
        screen.feed(b"\x1b]0;title\x07A\x1b]2;other\x1b\\B\x1bP1$r\x1b\\C")
        self.assertEqual(screen.row(0)[:3], "ABC")

    def test_bells_are_counted_not_drawn(self):
        screen = Screen()
        screen.feed(b"GAME OVER !\x07\x07")
        self.assertEqual(screen.bells, 2)
        self.assertTrue(screen.contains("GAME OVER !"))
        self.assertEqual(screen.row(0)[11], " ")

    def test_the_alternate_screen_keeps_the_main_one(self):
        screen = Screen()
        screen.feed(b"shell$ ")
        screen.feed(b"\x1b[?1049h")
        self.assertNotIn("shell", screen.row(0))
        screen.feed(b"game")
        screen.feed(b"\x1b[?1049l")
        self.assertTrue(screen.row(0).startswith("shell$ "))

    def test_menu_complete_needs_its_last_line_and_the_credits(self):
        screen = Screen()
        screen.feed(cup(123, 36) + b"2021.9.13")
        self.assertFalse(bench.menu_complete(screen))
        screen.feed(cup(45, 24) + b"Quit(Esc)")
        self.assertTrue(bench.menu_complete(screen))
        other = Screen()
        other.feed(cup(45, 26) + b"Quit(Esc)" + cup(122, 36) + b"2021.9.13")
        self.assertFalse(bench.menu_complete(other))


class FigureTest(unittest.TestCase):
    def test_reads_close_together_are_one_tick(self):
        chunks = [(1.0000, 4095), (1.0004, 4095), (1.0008, 100),  # one large write, split
                  (1.0100, 20), (1.0200, 22), (1.0210, 3)]
        groups = bench.group_ticks(chunks, gap=0.0015)
        self.assertEqual([g[2] for g in groups], [8290, 20, 25])
        self.assertEqual(groups[0][0], 1.0)
        self.assertEqual(groups[0][1], 1.0008)

    def test_a_gap_just_past_the_limit_starts_a_new_tick(self):
        groups = bench.group_ticks([(0.0, 1), (0.002, 1)], gap=0.0015)
        self.assertEqual(len(groups), 2)

    def test_the_live_grouping_matches_group_ticks(self):
        game = bench.Game.__new__(bench.Game)
        game.chunks, game.groups, game.total_bytes, game.output = [], [], 0, None
        game.screen = Screen()
        chunks = [(0.0, 3), (0.001, 4), (0.010, 5), (0.0101, 6), (0.030, 7)]
        for at, size in chunks:
            game._record(at, b"x" * size)
        self.assertEqual(game.groups, bench.group_ticks(chunks))
        self.assertEqual(game.total_bytes, 25)

    def test_percentile_interpolates_between_ranks(self):
        self.assertEqual(bench.percentile([4, 1, 3, 2], 50), 2.5)
        self.assertAlmostEqual(bench.percentile(range(1, 101), 95), 95.05)
        self.assertEqual(bench.percentile([7], 99), 7)
        self.assertEqual(bench.percentile([1, 2, 3], 100), 3)
        with self.assertRaises(ValueError):
            bench.percentile([], 50)

    def test_interval_errors_are_distances_from_the_delay(self):
        groups = [[0.0, 0.0, 1], [0.1003, 0.1003, 1], [0.1999, 0.1999, 1]]
        errors = bench.interval_errors_ms(groups, 100)
        self.assertAlmostEqual(errors[0], 0.3)
        self.assertAlmostEqual(errors[1], 0.4)

    def test_proc_stat_fields_count_after_the_name(self):
        fields = ["S", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "250", "31", "0", "0"]
        text = "4242 (odd) name (x)) " + " ".join(fields)
        self.assertEqual(bench.parse_proc_stat(text), 281)

    def test_peak_memory_comes_from_vm_hwm(self):
        status = "Name:\tvorlix\nVmPeak:\t   9000 kB\nVmHWM:\t    2988 kB\nVmRSS:\t    2900 kB\n"
        self.assertEqual(bench.parse_vm_hwm_kb(status), 2988)
        with self.assertRaises(bench.BenchError):
            bench.parse_vm_hwm_kb("Name:\tvorlix\n")

    def test_resident_set_split(self):
        status = "VmHWM:\t    3152 kB\nRssAnon:\t     296 kB\nRssFile:\t    2692 kB\n"
        self.assertEqual(bench.parse_rss_split_kb(status), (296, 2692))
        self.assertEqual(bench.parse_rss_split_kb("VmHWM:\t 1 kB\n"), (None, None))

    def test_cpu_text_prefers_the_finer_figure(self):
        text, figure = bench.cpu_text((1.0, 1.412), ticks=1000, seconds=10.0)
        self.assertEqual(figure, 1.412)
        self.assertEqual(text, "1.00% (1.412%), 141 us per tick")
        self.assertEqual(bench.cpu_text((0.1, None)), ("0.10%", 0.1))

    def test_strace_summary_with_and_without_errors(self):
        text = """\
% time     seconds  usecs/call     calls    errors syscall
------ ----------- ----------- --------- --------- ----------------
 45.10    0.000412           2       200       200 read
 30.00    0.000274           2        98           poll
 20.00    0.000183           3        50           write
  4.90    0.000045           1        50           clock_nanosleep
------ ----------- ----------- --------- --------- ----------------
100.00    0.000914           2       398       200 total
"""
        calls, total = bench.parse_strace_summary(text)
        self.assertEqual(total, 398)
        self.assertEqual(calls, {"read": 200, "poll": 98, "write": 50, "clock_nanosleep": 50})
        with self.assertRaises(bench.BenchError):
            bench.parse_strace_summary("strace: attach: ptrace(PTRACE_SEIZE, 1): "
                                       "Operation not permitted\n")


def read_save(text):
    """The numbers of a save.dat, section by section, as the game lays them out."""
    lines = text.splitlines()
    assert lines[0] == "[snake info]"
    direction, length = map(int, lines[1].split())
    body = [tuple(map(int, line.split())) for line in lines[2:2 + length]]
    rest = lines[2 + length:]
    assert rest[0] == "[food info]" and rest[2] == "[game info]"
    return direction, body, tuple(map(int, rest[1].split())), tuple(map(int, rest[3].split()))


def in_playfield(cell):
    return bench.LEFT <= cell[0] <= bench.RIGHT and bench.TOP <= cell[1] <= bench.BOTTOM


class SavedGameTest(unittest.TestCase):
    def test_the_save_file_layout(self):
        text = bench.save_text(3, [(10, 20), (9, 20)], (50, 30), 7, 10)
        self.assertEqual(text, "[snake info]\n3 2\n10 20\n9 20\n[food info]\n50 30\n"
                               "[game info]\n7 10\n")

    def test_a_straight_snake_never_meets_its_food(self):
        direction, body, food, game = read_save(bench.straight_save(10))
        self.assertEqual(game, (0, 10))
        bite, after, _ = bench.simulate(body, direction, [None] * 500)
        self.assertIsNone(bite)
        self.assertTrue(all(cell[1] == body[0][1] for cell in after))
        self.assertNotEqual(food[1], body[0][1])

    def test_wrapping_at_every_border(self):
        self.assertEqual(bench.wrapped(bench.RIGHT + 1, 5), (bench.LEFT, 5))
        self.assertEqual(bench.wrapped(bench.LEFT - 1, 5), (bench.RIGHT, 5))
        self.assertEqual(bench.wrapped(5, bench.TOP - 1), (5, bench.BOTTOM))
        self.assertEqual(bench.wrapped(5, bench.BOTTOM + 1), (5, bench.TOP))

    def test_the_staircase_body_lies_behind_the_head(self):
        direction, body, food, game = read_save(bench.staircase_save(1000, 10))
        self.assertEqual(direction, bench.RIGHT_DIR)
        self.assertEqual(len(body), 1000)
        self.assertEqual(len(set(body)), 1000)
        self.assertTrue(all(in_playfield(cell) for cell in body + [food]))
        self.assertLessEqual(len(body), bench.MAX_LENGTH)
        for i, (ahead, behind) in enumerate(zip(body, body[1:])):
            step = bench.wrapped(behind[0] + (1 if i % 2 == 0 else 0),
                                 behind[1] + (0 if i % 2 == 0 else 1))
            self.assertEqual(step, ahead, f"cell {i + 1} is not one step behind cell {i}")
        self.assertNotIn(food, body)
        self.assertEqual(game, (0, 10))

    def test_the_staircase_keys_never_bite(self):
        _, body, food, _ = read_save(bench.staircase_save(1000, 10))
        keys = ["P" if i % 2 == 0 else "M" for i in range(4000)]  # past a whole period
        bite, _, _ = bench.simulate(body, bench.RIGHT_DIR, keys)
        self.assertIsNone(bite)
        # The food waits 2000 ticks ahead: well past what one run takes.
        _, after, _ = bench.simulate(body, bench.RIGHT_DIR, keys[:1999])
        self.assertNotEqual(after[0], food)
        _, after, _ = bench.simulate(body, bench.RIGHT_DIR, keys[:2000])
        self.assertEqual(after[0], food)

    def test_the_long_snake_bites_soon_when_its_keys_run_out(self):
        # Why the bench keeps keys queued: straight on, the snake crosses its own staircase.
        body = bench.staircase_body(1000, (50, 20))
        keys = ["P" if i % 2 == 0 else "M" for i in range(100)] + [None] * 200
        bite, _, _ = bench.simulate(body, bench.RIGHT_DIR, keys)
        self.assertIsNotNone(bite)
        self.assertLess(bite, 110)

    def test_a_reversal_is_refused(self):
        bite, after, _ = bench.simulate([(10, 10), (9, 10), (8, 10)], bench.RIGHT_DIR, ["K", None])
        self.assertIsNone(bite)
        self.assertEqual(after[0], (12, 10))

    def test_a_bite_is_found(self):
        # A snake of five turning back on itself: right, down, left, up into its own body.
        body = [(10, 10), (9, 10), (8, 10), (7, 10), (6, 10)]
        bite, _, _ = bench.simulate(body, bench.RIGHT_DIR, ["P", "K", "H"])
        self.assertEqual(bite, 3)

    def test_turning_keys_alternate_every_third_tick(self):
        keys = bench.turning_keys(13)
        self.assertEqual([i for i, k in enumerate(keys) if k], [3, 6, 9, 12])
        self.assertEqual([k for k in keys if k], ["H", "M", "H", "M"])

    def test_the_turning_food_is_off_the_turning_path(self):
        head = (10, 20)
        food = bench.turning_food(head, 1200)
        self.assertTrue(in_playfield(food))
        _, _, heads = bench.simulate([head, (9, 20)], bench.RIGHT_DIR, bench.turning_keys(1200))
        self.assertNotIn(food, heads)
        self.assertEqual(heads[:7], [(11, 20), (12, 20), (13, 20), (13, 19), (13, 18), (13, 17),
                                     (14, 17)])

# Stand-ins for the game: small Python programs run in the bench's pseudo-terminal.
FAKE_MENU = r"""
import os, sys, tty
tty.setraw(0)
size = os.get_terminal_size(1)
owns_terminal = os.tcgetpgrp(0) == os.getpgrp() == os.getsid(0)
os.write(1, b"\x1b[?1049h\x1b[2J\x1b[25;46HQuit(Esc)\x1b[31;36HLoad")
os.write(1, f"\x1b[2;1H{size.columns}x{size.lines} {owns_terminal}".encode())
os.write(1, b"\x1b[37;124H2021.9.13")
while os.read(0, 1) != b"\x1b":
    pass
sys.exit(int(sys.argv[1]))
"""


class HarnessTest(unittest.TestCase):
    def run_fake(self, exit_code):
        folder = self.enterContext(tempfile.TemporaryDirectory())
        game = bench.Game(sys.executable, folder, ("-c", FAKE_MENU, str(exit_code)))
        self.addCleanup(game.kill)
        return game

    def test_a_program_sees_a_155_by_42_terminal_that_it_controls(self):
        game = self.run_fake(0)
        game.wait_menu()
        self.assertTrue(game.screen.text_at(0, 1, "155x42 True"))
        self.assertTrue(game.screen.alternate)

    def test_the_menu_time_is_the_read_that_completed_it(self):
        game = self.run_fake(0)
        game.wait_menu()
        self.assertTrue(bench.menu_complete(game.screen))
        self.assertGreater(game.chunks[-1][0], game.started)
        self.assertEqual(game.total_bytes, sum(size for _, size in game.chunks))

    def test_quit_needs_a_clean_exit(self):
        game = self.run_fake(0)
        game.wait_menu()
        game.quit()
        self.assertEqual(os.WEXITSTATUS(game.exit_status), 0)
        failing = self.run_fake(3)
        failing.wait_menu()
        with self.assertRaises(bench.BenchError):
            failing.quit()

    def test_a_screen_that_never_comes_is_an_error_that_shows_the_screen(self):
        game = self.run_fake(0)
        with self.assertRaises(bench.BenchError) as raised:
            game.wait_for("a game over", game.game_over_shown, seconds=0.3)
        self.assertIn("Quit(Esc)", str(raised.exception))

    def test_the_reference_loop_ticks_a_tick_per_write(self):
        folder = self.enterContext(tempfile.TemporaryDirectory())
        command, kind = bench.build_reference_loop(folder)
        self.assertIn(kind, ("C", "Python"))
        loop = bench.Game(command[0], folder, command[1:] + ["10"])
        beside = bench.Game(command[0], folder, command[1:] + ["100"])
        self.addCleanup(loop.kill)
        self.addCleanup(beside.kill)
        bench.pump_together([loop, beside], 0.3)
        self.assertIn(len(beside.groups), (3, 4))  # read over the same 0.3 s
        sizes = [size for _, _, size in loop.groups]
        self.assertGreaterEqual(len(sizes), 10)
        # Every tick is one whole write; only a reader held up for a whole tick may join two.
        self.assertTrue(all(size % 28 == 0 for size in sizes), sizes)
        self.assertGreaterEqual(sizes.count(28), len(sizes) - 2)
        self.assertTrue(loop.screen.text_at(13, 20, "*"))

    def test_the_menu_writer_writes_the_menu_bytes_as_they_are(self):
        folder = self.enterContext(tempfile.TemporaryDirectory())
        menu = b"\x1b[?1049h\x1b[25;46HQuit(Esc)\n\"\\\x00\xe2\x96\x88" + b"#" * 5000
        command = bench.build_menu_writer(folder, menu)
        writer = bench.Game(command[0], folder, command[1:])
        self.addCleanup(writer.kill)
        at, data = writer.read_bytes(len(menu))
        self.assertEqual(data, menu)  # the newline went out as it was, with no carriage return
        self.assertGreater(at, writer.started)
        with self.assertRaises(bench.BenchError):
            writer.read_bytes(1, seconds=0.2)

    def test_kill_leaves_no_process(self):
        game = self.run_fake(0)
        game.wait_menu()
        pid = game.pid
        game.kill()
        with self.assertRaises(ChildProcessError):
            os.waitpid(pid, os.WNOHANG)
        self.assertIsNone(game.master)


if __name__ == "__main__":
    unittest.main()
