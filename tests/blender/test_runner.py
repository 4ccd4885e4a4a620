"""The runner under the modal operator, without Blender's event loop: a bake
cancelled mid-way ends cleanly with the partial map, progress read while it
runs never falls, and a second bake is refused until the first is collected."""

import functools
import os
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
from addon import dunsmere  # noqa: E402
from dunsmere_blender import runner  # noqa: E402

crate = dunsmere.read_mesh(os.path.join(os.environ["DUNSMERE_EXAMPLES"], "crate.obj"))
bake = functools.partial(dunsmere.bake_map, crate, size=1024, horizontal=24, vertical=10, on_cancel="keep")
first = runner.Runner(dunsmere, bake).start()
try:
    runner.Runner(dunsmere, bake).start()
    raise AssertionError("a second bake started")
except runner.Busy:
    pass
seen = [first.progress]
while not first.poll() and seen[-1] < 0.6:
    time.sleep(0.005)
    seen.append(first.progress)
first.cancel()
assert first.finish(timeout=60) and not runner.running()
assert first.error is None and first.result.cancelled, first.error
assert seen == sorted(seen) and 0.0 < max(seen) <= first.progress < 1.0, (seen[-3:], first.progress)
