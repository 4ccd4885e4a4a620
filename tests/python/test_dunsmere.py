import json
import os
import re
import signal
import threading
import time

import numpy as np
import pytest

import dunsmere
from conftest import CRATE, decode_png, obj_corner_colours, run_command

# Big enough that a signal or a token arrives mid-bake.
LONG = dict(size=1024, horizontal=24, vertical=10)


@pytest.mark.parametrize("args, options", [
    # A distance below the panel's range: the mesh is scaled by a power of two.
    (["--noise", "--noise-size", "0.1", "--distance", "0.5"], dict(noise=True, noise_size=0.1, distance=0.5)),
    (["--coverage-alpha", "--padding", "3", "--size", "256x128"], dict(coverage_alpha=True, padding=3, size=(256, 128))),
])
def test_map_has_the_commands_levels(tmp_path, crate, args, options):
    run_command(CRATE, "-o", str(tmp_path / "map.png"), *args)
    levels, alpha = decode_png(tmp_path / "map.png")
    result = dunsmere.bake_map(crate, **options)
    assert np.array_equal(result.levels, levels)
    assert (result.alpha is None) == (alpha is None)
    if alpha is not None:
        assert np.array_equal(result.alpha, alpha)
    result.save(str(tmp_path / "saved.png"))
    assert (tmp_path / "saved.png").read_bytes() == (tmp_path / "map.png").read_bytes()


def test_vertex_colours_replace_and_accumulate_as_the_command(tmp_path, crate):
    first, second = str(tmp_path / "first.obj"), str(tmp_path / "second.obj")
    run_command(CRATE, "-o", first, "--algorithm", "vertex-colors", "--noise")
    run_command(first, "-o", second, "--algorithm", "vertex-colors", "--accumulate", "--horizontal", "4")
    replaced = dunsmere.bake_vertex_colors(crate, noise=True)
    assert np.array_equal(replaced.corner_colors, obj_corner_colours(first))
    accumulated = dunsmere.bake_vertex_colors(crate, accumulate=True, colors=replaced.corner_colors, horizontal=4)
    assert np.array_equal(accumulated.corner_colors, obj_corner_colours(second))
    assert replaced.stats["faces"]["baked"] == crate.face_count


def test_imported_occluder_and_ground_plane_as_the_command(tmp_path, crate):
    box = os.path.join(os.path.dirname(CRATE), "..", "tests", "data", "smoothing", "box_on_ground.stl")
    run_command(CRATE, "-o", str(tmp_path / "c.obj"), "--algorithm", "vertex-colors", "--occluder", box,
                "--ground-plane", "-y")
    baked = dunsmere.bake_vertex_colors(crate, occluders=[dunsmere.read_mesh(box)], ground_plane="-y")
    assert np.array_equal(baked.corner_colors, obj_corner_colours(tmp_path / "c.obj"))


def test_arrays_in_other_dtypes_bake_the_same(crate):
    a = crate.arrays()
    rebuilt = dunsmere.Mesh(a["vertices"].astype(np.float64), a["faces"].astype(np.int64),
                            uvs=a["uvs"].astype(np.float64), uv_faces=a["uv_faces"].astype(np.int32),
                            smoothing_groups=a["smoothing_groups"].astype(np.int64),
                            material_ids=a["material_ids"].astype(np.uint8),
                            selected_faces=np.flatnonzero(a["selected_faces"]))
    assert np.array_equal(dunsmere.bake_map(rebuilt, noise=True).levels, dunsmere.bake_map(crate, noise=True).levels)
    assert np.array_equal(dunsmere.bake_vertex_colors(rebuilt).corner_colors,
                          dunsmere.bake_vertex_colors(crate).corner_colors)


def triangle(**changes):
    arrays = dict(vertices=[[0, 0, 0], [1, 0, 0], [0, 1, 0]], faces=[[0, 1, 2]])
    arrays.update(changes)
    return arrays


@pytest.mark.parametrize("arrays, name", [
    (triangle(vertices=[[0, 0], [1, 0], [0, 1]]), "vertices"),
    (triangle(vertices=[[0, 0, 0], [1, np.nan, 0], [0, 1, 0]]), "vertices: row 1"),
    (triangle(faces=[[0, 1, 3]]), "faces: row 0"),
    (triangle(faces=[[0, 1, -1]]), "faces: row 0"),
    (triangle(uvs=np.zeros((3, 2)), uv_faces=[[0, 1, 2], [0, 1, 2]]), "uv_faces"),
    (triangle(material_ids=[0]), "material_ids: row 0"),
    (triangle(selected_faces=[4]), "selected_faces: row 0"),
    (triangle(corner_normals=np.zeros((2, 3, 3))), "corner_normals"),
])
def test_bad_arrays_name_the_array(arrays, name):
    with pytest.raises(ValueError, match=name):
        dunsmere.Mesh(arrays.pop("vertices"), arrays.pop("faces"), **arrays)


def test_refusal_carries_the_commands_text(tmp_path):
    path = tmp_path / "bare.obj"
    path.write_text("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n")
    import subprocess
    done = subprocess.run([os.environ["DUNSMERE_COMMAND"], str(path), "-o", str(tmp_path / "m.png")],
                          capture_output=True, text=True)
    with pytest.raises(dunsmere.BakeRefused) as refused:
        dunsmere.bake_map(dunsmere.read_mesh(str(path)))
    assert done.stderr.strip() == "dunsmere: " + str(refused.value)
    with pytest.raises(dunsmere.BakeRefused, match="horizontal 99 is outside its range 0 to 24"):
        dunsmere.bake_map(dunsmere.read_mesh(CRATE), horizontal=99)


def test_ctrl_c_interrupts_and_the_next_bake_is_whole(crate):
    pinned = dunsmere.bake_map(crate, noise=True).levels
    threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT)).start()
    start = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        dunsmere.bake_map(crate, **LONG)
    assert time.monotonic() - start < 3.0
    assert np.array_equal(dunsmere.bake_map(crate, noise=True).levels, pinned)


@pytest.mark.parametrize("on_cancel", ["keep", "discard"])
def test_cancel_token_from_another_thread(crate, on_cancel):
    token = dunsmere.CancelToken()
    threading.Timer(0.5, token.set).start()
    if on_cancel == "discard":
        with pytest.raises(dunsmere.Cancelled):
            dunsmere.bake_map(crate, cancel=token, on_cancel=on_cancel, **LONG)
        return
    partial = dunsmere.bake_map(crate, cancel=token, on_cancel=on_cancel, **LONG)
    assert partial.cancelled and partial.levels.shape == (1024, 1024)


def test_progress_never_falls_and_cannot_start_a_bake(crate):
    seen = []
    dunsmere.bake_map(crate, size=512, horizontal=24, progress=seen.append)
    assert seen == sorted(seen) and seen[-1] == 1.0
    with pytest.raises(RuntimeError, match="progress callback"):
        dunsmere.bake_map(crate, progress=lambda f: dunsmere.bake_map(crate))


def test_two_threads_bake_at_once(crate):
    pinned = {n: dunsmere.bake_map(crate, noise=n).levels for n in (False, True)}
    got = {}
    threads = [threading.Thread(target=lambda n=n: got.setdefault(n, dunsmere.bake_map(crate, noise=n, size=200)))
               for n in (False, True)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(np.array_equal(got[n].levels, pinned[n]) for n in pinned)


def test_presets_round_trip_through_the_command(tmp_path, crate):
    preset = str(tmp_path / "p.ini")
    dunsmere.write_preset(preset, noise=True, noise_size=0.25, horizontal=6, size=(128, 64))
    read = dunsmere.read_preset(preset)
    assert (read["noise"], read["noise_size"], read["horizontal"], read["size"]) == (True, 0.25, 6, (128, 64))
    run_command(CRATE, "-o", str(tmp_path / "m.png"), "--preset", preset)
    assert np.array_equal(dunsmere.bake_map(crate, preset=preset).levels, decode_png(tmp_path / "m.png")[0])


def test_options_are_the_panels(crate):
    rows = {row["name"]: row for row in dunsmere.options()}
    assert (rows["horizontal"]["min"], rows["horizontal"]["max"]) == (0, 24)
    assert rows["size"]["default"] == dunsmere.bake_map(crate).levels.shape[::-1]
    assert "dunsmere" in dunsmere.__version__.lower()


def test_nothing_selected_is_refused_in_the_plug_ins_words_and_an_empty_mesh_bakes():
    with pytest.raises(dunsmere.BakeRefused, match="^Select exactly one node$"):
        dunsmere._dunsmere._bake(None, "uv-map", {}, None, None, "discard", None)
    empty = dunsmere.Mesh(np.zeros((0, 3)), np.zeros((0, 3), dtype=int))
    assert dunsmere.bake_vertex_colors(empty).corner_colors.shape == (0, 3, 3)


def high_counts(*args):
    """The command's --json projection counts of a bake of the crate from itself."""
    return json.loads(run_command(CRATE, "--high", CRATE, "--json", *args, stdout=True))[0]["projection"]


@pytest.mark.parametrize("args, options", [
    # Rays of no length miss in places; a distance below range scales the high mesh with the low.
    (["--ray-distance", "0", "--distance", "0.5"], dict(ray_distance=0, distance=0.5)),
    (["--ray-distance-relative", "0.001:0.002", "--noise"], dict(ray_front=0.001, ray_rear=0.002, noise=True)),
])
def test_high_map_misses_and_counts_are_the_commands(tmp_path, crate, args, options):
    out, miss = str(tmp_path / "map.png"), str(tmp_path / "miss.png")
    counts = high_counts("-o", out, "--miss-map", miss, *args)
    result = dunsmere.bake_map(crate, high=[crate], miss_map=True, **options)
    assert np.array_equal(result.levels, decode_png(out)[0]) and np.array_equal(result.miss_map, decode_png(miss)[0])
    assert result.stats["projection"] == counts == {k: result.projection[k] for k in counts}


def test_high_vertex_colours_are_the_commands_and_a_cage_of_other_faces_is_refused(tmp_path, crate):
    counts = high_counts("-o", str(tmp_path / "c.obj"), "--algorithm", "vertex-colors", "--ray-distance", "0")
    baked = dunsmere.bake_vertex_colors(crate, high=[crate], ray_distance=0)
    assert np.array_equal(baked.corner_colors, obj_corner_colours(tmp_path / "c.obj"))
    assert baked.stats["projection"] == counts
    with pytest.raises(ValueError, match="^" + re.escape("cage: a cage has its mesh's faces in its order, but this "
                                                         "one has 1 faces and %s %d" % (CRATE, crate.face_count))):
        dunsmere.bake_map(crate, high=[crate], cage=dunsmere.Mesh(*triangle().values()))
