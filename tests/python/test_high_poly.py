"""Bakes from a high-poly mesh: the module and the command on the same files,
the crate projected onto itself."""

import json
import re

import numpy as np
import pytest

import dunsmere
from conftest import CRATE, decode_png, obj_corner_colours, run_command


def projection(*args):
    """The command's --json projection counts of a bake of the crate from itself."""
    return json.loads(run_command(CRATE, "--high", CRATE, "--json", *args, stdout=True))[0]["projection"]


@pytest.mark.parametrize("args, options", [
    # Rays of no length: the faces the averaged normals tilt away from miss. A
    # distance below the panel's range scales the high mesh with the low.
    (["--ray-distance", "0", "--distance", "0.5"], dict(ray_distance=0, distance=0.5)),
    (["--ray-distance-relative", "0.001:0.002", "--noise"], dict(ray_front=0.001, ray_rear=0.002, noise=True)),
])
def test_map_misses_and_counts_are_the_commands(tmp_path, crate, args, options):
    out, miss = str(tmp_path / "map.png"), str(tmp_path / "miss.png")
    counts = projection("-o", out, "--miss-map", miss, *args)
    result = dunsmere.bake_map(crate, high=[crate], miss_map=True, **options)
    assert np.array_equal(result.levels, decode_png(out)[0])
    assert np.array_equal(result.miss_map, decode_png(miss)[0])
    assert result.stats["projection"] == counts == {k: result.projection[k] for k in counts}


def test_vertex_colours_as_the_command_and_a_cage_of_other_faces_refused(tmp_path, crate):
    out = str(tmp_path / "c.obj")
    counts = projection("-o", out, "--algorithm", "vertex-colors", "--ray-distance", "0")
    baked = dunsmere.bake_vertex_colors(crate, high=[crate], ray_distance=0)
    assert np.array_equal(baked.corner_colors, obj_corner_colours(out)) and baked.stats["projection"] == counts
    cage = dunsmere.Mesh([[0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 2]])
    with pytest.raises(ValueError, match="^" + re.escape("cage: a cage has its mesh's faces in its order, but this "
                                                         "one has 1 faces and %s %d" % (CRATE, crate.face_count))):
        dunsmere.bake_map(crate, high=[crate], cage=cage)
