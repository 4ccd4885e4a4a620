"""What `import dunsmere` adds to a bake: a warm crate map through the module
against the session's own Generate inside it, by the median of interleaved
calls, and how soon Ctrl-C reaches Python during a long bake. Appends its
section to the results file.

Usage: PYTHONPATH=build/release/python /usr/bin/python3 bench/python_bench.py CRATE RESULTS
"""

import os
import signal
import statistics
import sys
import threading
import time

import dunsmere

CALLS = 21


def overhead(mesh, **options):
    walls, added = [], []
    for _ in range(CALLS):
        start = time.perf_counter()
        result = dunsmere.bake_map(mesh, **options)
        wall = time.perf_counter() - start
        walls.append(wall)
        added.append(wall - result._session_seconds)
    return statistics.median(walls), statistics.median(added)


def interrupt_latency(mesh):
    sent = []

    def send():
        sent.append(time.perf_counter())
        os.kill(os.getpid(), signal.SIGINT)
    threading.Timer(0.5, send).start()
    try:
        dunsmere.bake_map(mesh, size=2048, horizontal=24, vertical=10)
    except KeyboardInterrupt:
        return time.perf_counter() - sent[0]
    raise RuntimeError("the bake ended before the signal")


def main(crate, results):
    mesh = dunsmere.read_mesh(crate)
    dunsmere.bake_map(mesh)  # warm: the plug-in loaded, the codecs too
    rows = []
    for name, options in [("map 200 (defaults)", {}), ("map 1024", dict(size=1024))]:
        wall, added = overhead(mesh, **options)
        rows.append("| crate | %s | %.2f | %.2f | %s |" % (name, wall * 1e3, added * 1e3,
                                                          "met" if added <= 0.005 else "MISSED"))
    latency = statistics.median(interrupt_latency(mesh) for _ in range(3))
    text = "\n".join([
        "",
        "## The Python module (warm calls, medians of %d)" % CALLS,
        "",
        "What a call of dunsmere.bake_map adds to the session's own Generate inside it: the mesh copied into the "
        "session, the options typed, the waiting thread, the arrays and the stats. Goal: at most 5 ms.",
        "",
        "| mesh | bake | call, ms | added, ms | goal |",
        "|---|---|---:|---:|---|",
        *rows,
        "",
        "Ctrl-C during a 2048 map at 24 x 10 rays: KeyboardInterrupt in Python %.0f ms after the signal "
        "(median of 3)." % (latency * 1e3),
        "",
    ])
    sys.stdout.write(text)
    with open(results, "a") as out:
        out.write(text)


if __name__ == "__main__":
    main(*sys.argv[1:3])
