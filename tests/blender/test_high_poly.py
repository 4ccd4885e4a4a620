"""Generate from a copy at another scale is the module's bake from the same arrays; misses warn; none is refused."""
import os
import sys

import bpy
import numpy as np
from mathutils import Matrix

sys.path.insert(0, os.path.dirname(__file__))
from addon import dunsmere, generate  # noqa: E402
from dunsmere_blender import meshes  # noqa: E402

bpy.ops.wm.obj_import(filepath=os.path.join(os.environ["DUNSMERE_EXAMPLES"], "crate.obj"))
crate = bpy.context.selected_objects[0]
crate.matrix_world = Matrix()  # the import's turn to Z up would round the copy's way into the crate's space
low = meshes.Triangles(crate.data, uv_name=crate.data.uv_layers[0].name).mesh
# Halved in its data, doubled by its object: exactly the crate once in the crate's space; left out, it misses.
copy = bpy.data.objects.new("copy", crate.data.copy())
copy.data.transform(Matrix.Scale(0.5, 4))
copy.scale = (2, 2, 2)
high = bpy.data.collections.new("High")
high.objects.link(copy)
bpy.context.scene.collection.children.link(high)

generate(crate, size_x=128, size_y=128, high_poly=True, high=high, ray_front=0.001, ray_rear=0.001)
pixels = np.array(bpy.data.images[crate.name + "_smurl"].pixels[:]).reshape(128, 128, 4)[::-1, :, 0]
expected = dunsmere.bake_map(low, high=[low], size=128, ray_front=0.001, ray_rear=0.001).levels
assert np.array_equal(np.round(pixels * 65535), expected)
generate(crate, ray_front=0.0, ray_rear=0.0)  # rays of no length miss in places: a warning, not a failure

bpy.context.scene.dunsmere.high = bpy.data.collections.new("Empty")
try:
    bpy.ops.dunsmere.generate()
    raise AssertionError("Generate baked from no high-poly mesh")
except RuntimeError as e:
    assert "Bake from high-poly is on, but no high-poly mesh is given" in str(e), e
