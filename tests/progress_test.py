#!/usr/bin/env python3
"""The progress line, as a person at a terminal sees it.

qscan-emu scans a 40-second disc with its drive at 30x, standard error on a
pseudo-terminal: first with standard output in a file, then with both
streams on the terminal. The screen is played back (carriage returns, line
feeds, erase-in-line) and compared with what the report must be. Then
qscan-sheet-emu reads the same disc, and says what it reads as it goes.

Usage: progress_test.py QSCAN_EMU SYNTH_IMAGE QSCAN_SHEET_EMU
"""
import os
import pty
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

EMU, SYNTH, SHEET_EMU = sys.argv[1:4]
ARGS = [EMU, "-t", "-c", "-i", "D:"]
PROGRESS = re.compile(rb"(\d{2,3}):(\d{2}) [ \d]\d\.\dx\r")


def play(data):
    """The screen left by data: a list of lines, trailing blanks removed."""
    lines, row, col = [[]], 0, 0
    i = 0
    while i < len(data):
        c = data[i:i + 1]
        if data.startswith(b"\x1b[K", i):  # erase to the end of the line
            del lines[row][col:]
            i += 3
            continue
        if c == b"\r":
            col = 0
        elif c == b"\n":
            row += 1
            if row == len(lines):
                lines.append([])
        else:
            line = lines[row]
            line.extend([" "] * (col + 1 - len(line)))
            line[col] = c.decode()
            col += 1
        i += 1
    return ["".join(line).rstrip() for line in lines]


def run_on_terminal(env, stdout_path, args=ARGS, interrupt_after=None, typed=None):
    """Runs qscan-emu (or args) with standard error (and, without
    stdout_path, standard output) on a pseudo-terminal; returns what the
    terminal received and the exit status. interrupt_after: seconds after
    which the child gets Ctrl-C, as the terminal sends it; typed: bytes a
    person types on the terminal, which is then standard input too."""
    master, slave = pty.openpty()
    out = open(stdout_path, "wb") if stdout_path else slave
    child = subprocess.Popen(args, env=env, stdin=slave if typed is not None else subprocess.DEVNULL, stdout=out,
                             stderr=slave)
    os.close(slave)
    if stdout_path:
        out.close()
    if typed is not None:
        time.sleep(0.5)
        os.write(master, typed)
    if interrupt_after is not None:
        time.sleep(interrupt_after)
        child.send_signal(signal.SIGINT)
    received = b""
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:  # the terminal's last writer has gone
            break
        if not chunk:
            break
        received += chunk
    os.close(master)
    return received, child.wait()


def main():
    failures, checks = [], []

    def check(ok, what):
        checks.append(what)
        if not ok:
            failures.append(what)

    work = tempfile.mkdtemp(prefix="qscan-progress-")
    try:
        image = os.path.join(work, "disc.img")
        subprocess.run([SYNTH, "3000", image], check=True)
        env = dict(os.environ, QSCAN_EMULATED_DISC=image)
        env.pop("QSCAN_EMULATED_FAULTS", None)
        plain = subprocess.run(ARGS, env=env, capture_output=True)
        check(plain.returncode == 0 and plain.stderr == b"", "without a terminal: status 0, nothing on standard error")
        env["QSCAN_EMULATED_SPEED"] = "30"  # 1.3 s a scan: five updates or so

        # Standard error alone on the terminal.
        out_path = os.path.join(work, "out")
        screen, status = run_on_terminal(env, out_path)
        with open(out_path, "rb") as f:
            check(f.read() == plain.stdout, "standard output in a file: the same bytes as without a terminal")
        check(status == 0, f"status {status}")
        updates = PROGRESS.findall(screen)
        check(len(updates) >= 3, f"only {len(updates)} progress updates in a 1.3-second scan")
        times = [int(m) * 60 + int(s) for m, s in updates]
        check(times == sorted(times), "the disc time shown never goes back")
        check(b"\n" not in screen, "the progress line wrote a line feed")
        check(all(len(text) <= 13 for text in re.findall(rb"[^\r]+", screen)), "progress text over 13 characters")
        check(not any(play(screen)), f"the screen is not left blank: {play(screen)!r}")

        # Both streams on the terminal: the screen shows the report, whole.
        screen, status = run_on_terminal(env, None)
        check(status == 0, f"status {status}")
        check(len(PROGRESS.findall(screen)) >= 3, "no progress updates with both streams on the terminal")
        shown = play(screen)
        while shown and not shown[-1]:
            shown.pop()
        check(shown == plain.stdout.decode().splitlines(), "the screen does not show exactly the report lines")

        # The sheet from the drive: what it reads, then nothing left.
        sheet = [SHEET_EMU, "D:"]
        plain = subprocess.run(sheet, env=env, capture_output=True)
        screen, status = run_on_terminal(env, out_path, sheet)
        with open(out_path, "rb") as f:
            check(f.read() == plain.stdout and plain.stderr == b"", "the sheet is the same bytes on a terminal or not")
        check(status == 0, f"qscan-sheet-emu: status {status}")
        for said in [b"reading the table of contents\r", b"reading track 1's start", b"reading track 1's codes",
                     b"reading the lead-out"]:
            check(said in screen, f"qscan-sheet-emu never said {said!r}")
        check(not any(play(screen)), f"qscan-sheet-emu leaves the screen not blank: {play(screen)!r}")

        # Ctrl-C while the progress line is shown: it is erased before the end.
        slow = dict(env, QSCAN_EMULATED_SPEED="2")
        for args in [ARGS, [SHEET_EMU, "--full", "D:"]]:
            screen, status = run_on_terminal(slow, out_path, args, interrupt_after=1.0)
            name = os.path.basename(args[0])
            check(status == -signal.SIGINT, f"{name}: not ended by Ctrl-C, status {status}")
            check(screen.strip(b" \r") != b"", f"{name}: no progress line before Ctrl-C")
            check(not any(play(screen)), f"{name}: Ctrl-C leaves the screen not blank: {play(screen)!r}")

        # Nothing named and nothing piped in: the sheet says what it awaits.
        screen, status = run_on_terminal(env, out_path, [SHEET_EMU], typed=b"\x04")
        said = play(screen)
        check(said and said[0].startswith("qscan-sheet: reading qscan -r's report from standard input, a terminal here"),
              f"qscan-sheet-emu on a terminal's input does not say what it reads: {said!r}")
        check(status == 1 and "no sectors in the input" in screen.decode(), f"an empty input typed: status {status}")
    finally:
        shutil.rmtree(work)

    for what in failures:
        print("FAIL:", what)
    print(f"{len(checks) - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
