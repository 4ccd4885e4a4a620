#!/usr/bin/env python3
# Two builds side by side, taking turns: the ray scene's rates (through
# dunsmere_bench --rays-only) and whole bakes through each build's command,
# medians of RUNS turns. For a change that must not slow any route, run the
# change's build against the build of the commit it started from:
#
#   bench/side_by_side.py BASE_BUILD NEW_BUILD CRATE WORK [RUNS]
#
# where a build is a release build folder with the bench built.
import subprocess, sys, time, re, statistics, pathlib
if len(sys.argv) < 5:
    sys.exit("usage: side_by_side.py BASE_BUILD NEW_BUILD CRATE WORK [RUNS]")
builds = {"base": sys.argv[1], "new": sys.argv[2]}
crate = sys.argv[3]
W = pathlib.Path(sys.argv[4]); W.mkdir(parents=True, exist_ok=True)
runs = int(sys.argv[5]) if len(sys.argv) > 5 else 5
res = {b: {} for b in builds}
def rec(b, k, v): res[b].setdefault(k, []).append(v)
def timed(args):
    t = time.perf_counter(); r = subprocess.run(args, capture_output=True, text=True); d = time.perf_counter() - t
    if r.returncode != 0: print("FAILED", args, r.stderr[-500:]); return float('nan')
    return d
# the box
box = W / "box.obj"
box.write_text("""v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1
vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1
f 1/1 3/3 2/2\nf 1/1 4/4 3/3\nf 5/1 6/2 7/3\nf 5/1 7/3 8/4\nf 1/1 2/2 6/3\nf 1/1 6/3 5/4
f 2/1 3/2 7/3\nf 2/1 7/3 6/4\nf 3/1 4/2 8/3\nf 3/1 8/3 7/4\nf 4/1 1/2 5/3\nf 4/1 5/3 8/4
""")
for i in range(runs):
    order = list(builds) if i % 2 == 0 else list(builds)[::-1]
    for b in order:
        d = builds[b]; cmd = d + "/bin/dunsmere"; wd = W / b; wd.mkdir(exist_ok=True)
        out = wd / "rays.md"
        subprocess.run([d + "/bench/dunsmere_bench", "--dunsmere", cmd, "--crate", crate, "--work", str(wd),
                        "--results", str(out), "--sizes", "100000", "--rays-only", "1"], capture_output=True, text=True)
        for line in out.read_text().splitlines():
            m = re.match(r"\| (100k|crate) \| ([\d.]+) \| \d+ \| [\d%]+ \| ([\d.]+) \| ([\d.]+) \|", line)
            if m: rec(b, f"rays {m.group(1)} d={m.group(2)} 1T Mray/s", float(m.group(3))); rec(b, f"rays {m.group(1)} d={m.group(2)} 2T Mray/s", float(m.group(4)))
        sphere = wd / "sphere-100k.obj"
        cfg = str(wd / "cfg")
        base = [cmd, "--config-dir", cfg, "-q"]
        rec(b, "100k map 1024 2T s", timed(base + [str(sphere), "--size", "1024x1024", "-o", str(wd / "m.png")]))
        rec(b, "100k map 1024 1T s", timed(base + [str(sphere), "--size", "1024x1024", "--threads", "1", "-o", str(wd / "m1.png")]))
        rec(b, "100k vertex colours 2T s", timed(base + [str(sphere), "--algorithm", "vertex-colors", "-o", str(wd / "v.obj")]))
        rec(b, "crate map 2048 s", timed(base + [crate, "--size", "2048x2048", "-o", str(wd / "c.png")]))
        rec(b, "box 200 ms", 1000 * statistics.median(timed(base + [str(box), "-o", str(wd / "b.png")]) for _ in range(5)))
    print("run", i + 1, "done", flush=True)
print("| route | base | new | new/base |\n|---|---:|---:|---:|")
for k in res["base"]:
    a = statistics.median(res["base"][k]); n = statistics.median(res["new"][k])
    print(f"| {k} | {a:.3f} | {n:.3f} | {n/a:.3f} |")
