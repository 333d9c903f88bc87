#!/usr/bin/env python3
# Times the Python module's qscan.read_scan(REPORT).json() in this process,
# for bench/run's comparison with qscan-sheet --json on the same report.
"""Usage: python_read_scan.py LIBRARY REPORT [RUNS]

Loads the qscan module of this tree over LIBRARY (a libqscan), calls
qscan.read_scan(REPORT).json() once to warm the page cache, then RUNS times
(default 5), and prints one JSON object: the medians of the calls' CPU time
(user and system, of this process) and wall time in seconds, and the
number of tracks the sheet found.
"""
import json
import os
import statistics
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    library, report = sys.argv[1], sys.argv[2]
    runs = int(sys.argv[3]) if len(sys.argv) == 4 else 5
    os.environ["QSCAN_LIBRARY"] = library
    sys.path.insert(0, os.path.join(ROOT, "python"))
    import qscan

    sheet = qscan.read_scan(report).json()
    cpu, wall = [], []
    for _ in range(runs):
        cpu_start, wall_start = time.process_time(), time.perf_counter()
        sheet = qscan.read_scan(report).json()
        cpu.append(time.process_time() - cpu_start)
        wall.append(time.perf_counter() - wall_start)
    print(json.dumps({"cpu_s": statistics.median(cpu), "wall_s": statistics.median(wall),
                      "tracks": len(sheet["tracks"])}))


if __name__ == "__main__":
    main()
