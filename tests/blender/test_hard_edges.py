"""A cube smooth-shaded with every edge sharp bakes as the command bakes the
same triangles from an OBJ with one smoothing group a side: the corner
normals Blender shows are the only hard-edge information passed."""

import math
import os
import subprocess
import sys

import bpy
import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
from addon import WORK, generate  # noqa: E402
from conftest import decode_png, obj_corner_colours  # noqa: E402

bpy.ops.mesh.primitive_cube_add()
cube = bpy.context.object
me = cube.data
me.polygons.foreach_set("use_smooth", [True] * len(me.polygons))
me.edges.foreach_set("use_edge_sharp", [True] * len(me.edges))
me.use_auto_smooth, me.auto_smooth_angle = True, math.pi
me.update()
me.calc_loop_triangles()

obj = os.path.join(WORK, "cube.obj")
with open(obj, "w") as out:
    out.writelines("v %r %r %r\n" % tuple(v.co) for v in me.vertices)
    out.writelines("vt %r %r\n" % tuple(d.uv) for d in me.uv_layers[0].data)
    for t in me.loop_triangles:
        out.write("s %d\nf %s\n" % (t.polygon_index + 1, " ".join(
            "%d/%d" % (v + 1, l + 1) for v, l in zip(t.vertices, t.loops))))


def command(*args):
    subprocess.run([os.environ["DUNSMERE_COMMAND"], "-q", obj, *args], check=True)


generate(cube, algorithm='UV_MAP', size_x=64, size_y=64, horizontal=12, vertical=4)
command("-o", os.path.join(WORK, "cube.png"), "--size", "64x64", "--horizontal", "12", "--vertical", "4")
pixels = np.array(bpy.data.images[cube.name + "_smurl"].pixels[:]).reshape(64, 64, 4)[::-1, :, 0]
assert np.array_equal(np.round(pixels * 65535), decode_png(os.path.join(WORK, "cube.png"))[0])

generate(cube, algorithm='VERTEX_COLORS')
command("-o", os.path.join(WORK, "cube_colours.obj"), "--algorithm", "vertex-colors", "--horizontal", "12",
        "--vertical", "4")
stored = me.color_attributes["Smurl"].data
got = np.array([[stored[i].color_srgb[0] for i in t.loops] for t in me.loop_triangles])
command_greys = obj_corner_colours(os.path.join(WORK, "cube_colours.obj"))[..., 0]
assert np.array_equal(np.round(got * 255), np.round(command_greys * 255))

# Smooth everywhere, the map differs: the normals passed are what decide.
me.edges.foreach_set("use_edge_sharp", [False] * len(me.edges))
me.update()
generate(cube, algorithm='UV_MAP')
smooth = np.array(bpy.data.images[cube.name + "_smurl"].pixels[:]).reshape(64, 64, 4)[::-1, :, 0]
assert not np.array_equal(smooth, pixels)
