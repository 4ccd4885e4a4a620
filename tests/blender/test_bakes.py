"""Both bakes through Generate equal the module's bake of the same arrays,
read here from Blender's API one corner at a time; what the plug-in refuses
comes back as its own words."""

import os
import sys

import bpy
import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
from addon import dunsmere, generate  # noqa: E402
from dunsmere_blender import preferences  # noqa: E402

bpy.ops.wm.obj_import(filepath=os.path.join(os.environ["DUNSMERE_EXAMPLES"], "crate.obj"))
crate = bpy.context.selected_objects[0]
me = crate.data
me.calc_loop_triangles()
me.calc_normals_split()
tris = me.loop_triangles
arrays = dunsmere.Mesh([v.co[:] for v in me.vertices], [t.vertices[:] for t in tris],
                       uvs=[d.uv[:] for d in me.uv_layers[0].data], uv_faces=[t.loops[:] for t in tris],
                       corner_normals=[[me.loops[i].normal[:] for i in t.loops] for t in tris],
                       material_ids=[t.material_index + 1 for t in tris],
                       selected_faces=[me.polygons[t.polygon_index].select for t in tris])

generate(crate, algorithm='UV_MAP', size_x=160, size_y=96, noise=True, noise_size=0.5)
image = bpy.data.images[crate.name + "_smurl"]
pixels = np.array(image.pixels[:], dtype=np.float32).reshape(96, 160, 4)
expected = dunsmere.bake_map(arrays, size=(160, 96), noise=True, noise_size=0.5).levels
assert image.is_float and image.colorspace_settings.name == 'Non-Color'
assert np.array_equal(np.round(pixels[::-1, :, 0] * 65535).astype(np.uint16), expected)

generate(crate, algorithm='VERTEX_COLORS', horizontal=5)
stored = me.color_attributes["Smurl"]
got = np.array([[stored.data[i].color_srgb[0] for i in t.loops] for t in tris])
expected = dunsmere.bake_vertex_colors(arrays, horizontal=5, noise=True, noise_size=0.5).corner_colors[:, :, 0]
assert stored.data_type == 'BYTE_COLOR' and stored.domain == 'CORNER'
assert np.array_equal(np.round(got * 255), np.round(expected * 255))

bpy.ops.mesh.primitive_plane_add()
bpy.context.object.data.uv_layers.remove(bpy.context.object.data.uv_layers[0])
for active, algorithm, text in [(None, 'UV_MAP', "Select exactly one node"),
                                (bpy.context.object, 'UV_MAP', "map channel 1 has no coordinates"),
                                (crate, 'SPATIAL', "This Smurl type is not implemented yet")]:
    bpy.context.view_layer.objects.active = active
    bpy.context.scene.dunsmere.algorithm = algorithm
    try:
        bpy.ops.dunsmere.generate()
        raise AssertionError("Generate did not refuse: " + text)
    except RuntimeError as e:
        assert text in str(e), e

# The settings through a preset of the command's, after a reset to defaults.
group = bpy.context.scene.dunsmere
group.distance_is_relative, group.material_filter, group.even_ring, group.ray_front = True, True, True, 0.25
kept = {name: getattr(group, name) for name in group.bl_rna.properties.keys() if name not in ("rna_type", "name")}
preset = os.path.join(os.environ["DUNSMERE_WORK"], "preset.ini")
bpy.ops.dunsmere.preset_save(filepath=preset)
assert dunsmere.read_preset(preset)["horizontal"] == 5 and "distance_relative" in dunsmere.read_preset(preset)
bpy.ops.dunsmere.reset()
assert group.horizontal == 8 and not group.noise
bpy.ops.dunsmere.preset_load(filepath=preset)
assert kept == {name: getattr(group, name) for name in kept}, kept

# A scene never set takes the saved defaults; one set keeps its own.
bpy.ops.dunsmere.save_defaults()
fresh, own = bpy.data.scenes.new("fresh").dunsmere, bpy.data.scenes.new("own").dunsmere
own.horizontal = 2
for group in (fresh, own):
    preferences.adopt(bpy.context, group)
assert (fresh.horizontal, fresh.even_ring, own.horizontal, own.even_ring) == (5, True, 2, False)
