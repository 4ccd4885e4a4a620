"""Blender meshes to the module's arrays and its results back: triangles from
loop_triangles, corner normals as the viewport shows them, one UV map as
channel 1; the map into an image, the corner greys into a colour attribute."""

import bpy
import numpy as np

from .loader import module

SMURL = "Smurl"


class Triangles:
    """An evaluated mesh's triangles: the module's Mesh and each triangle
    corner's loop, where the results go back."""

    def __init__(self, mesh, matrix=None, uv_name=None, selection=True):
        mesh.calc_loop_triangles()
        count = len(mesh.loop_triangles)
        self.loops = _get(mesh.loop_triangles, "loops", np.int32, (count, 3))
        faces = _get(mesh.loop_triangles, "vertices", np.int32, (count, 3))
        vertices = _get(mesh.vertices, "co", np.float32, (len(mesh.vertices), 3))
        normals = _corner_normals(mesh)[self.loops]
        if matrix is not None:
            m = np.array(matrix, dtype=np.float64)
            vertices = (vertices @ m[:3, :3].T + m[:3, 3]).astype(np.float32)
            # Normals go by the inverse transpose; the module renormalises them.
            normals = (normals @ np.linalg.inv(m[:3, :3])).astype(np.float32)
        arrays = dict(corner_normals=normals)
        polygons = _get(mesh.loop_triangles, "polygon_index", np.int32, (count,))
        arrays["material_ids"] = _get(mesh.loop_triangles, "material_index", np.int32, (count,)) + 1
        if selection:
            arrays["selected_faces"] = _get(mesh.polygons, "select", bool, (len(mesh.polygons),))[polygons]
        uv = mesh.uv_layers.get(uv_name) if uv_name else None
        if uv is not None:
            arrays["uvs"] = _get(uv.data, "uv", np.float32, (len(mesh.loops), 2))
            arrays["uv_faces"] = self.loops
        self.loop_count = len(mesh.loops)
        self.vertex_count = len(mesh.vertices)
        self.faces = faces
        self.mesh = module.Mesh(vertices, faces, **arrays)


def _get(collection, attribute, dtype, shape):
    out = np.empty(int(np.prod(shape)), dtype=dtype)
    collection.foreach_get(attribute, out)
    return out.reshape(shape)


def _corner_normals(mesh):
    """What the viewport shades with: sharp edges, flat faces and custom
    normals split them. 4.1 keeps them as corner_normals; before, they are
    computed into the loops."""
    if bpy.app.version >= (4, 1, 0):
        return _get(mesh.corner_normals, "vector", np.float32, (len(mesh.loops), 3))
    mesh.calc_normals_split()
    return _get(mesh.loops, "normal", np.float32, (len(mesh.loops), 3))


def evaluated_mesh(obj, depsgraph):
    """OBJ as evaluated, modifiers applied, in its own space; free with
    obj.evaluated_get(depsgraph).to_mesh_clear()."""
    return obj.evaluated_get(depsgraph).to_mesh(preserve_all_data_layers=True, depsgraph=depsgraph)


def collection_meshes(collection, active, depsgraph, skip=()):
    """The meshes of COLLECTION (not ACTIVE, nor objects named in SKIP),
    moved into ACTIVE's space."""
    out = []
    if collection is None:
        return out
    to_active = active.matrix_world.inverted()
    for obj in collection.all_objects:
        if obj == active or obj.name in skip or obj.type != 'MESH':
            continue
        mesh = evaluated_mesh(obj, depsgraph)
        try:
            out.append(Triangles(mesh, to_active @ obj.matrix_world, selection=False).mesh)
        finally:
            obj.evaluated_get(depsgraph).to_mesh_clear()
    return out


def image_for(name, width, height):
    """The image NAME, a float buffer with Non-Color data, WIDTH x HEIGHT."""
    image = bpy.data.images.get(name)
    if image is not None and image.source != 'GENERATED' and not image.is_float:
        # A file of bytes would round the levels: a float image takes its place
        # in every material that showed it.
        fresh = bpy.data.images.new(name + ".float", width, height, alpha=True, float_buffer=True)
        image.user_remap(fresh)
        bpy.data.images.remove(image)
        fresh.name = name
        image = fresh
    if image is None:
        image = bpy.data.images.new(name, width, height, alpha=True, float_buffer=True)
    else:
        if image.source == 'GENERATED':
            # A generated image is remade at its generated size and depth.
            image.use_generated_float = True
            image.generated_width, image.generated_height = width, height
        elif tuple(image.size) != (width, height):
            image.scale(width, height)
    image.colorspace_settings.name = 'Non-Color'
    return image


def store_map(image, result):
    """RESULT's levels (row 0 at the top) as IMAGE's pixels (row 0 at the
    bottom): level / 65535 in red, green and blue; alpha from the coverage."""
    levels = result.levels[::-1].astype(np.float32) / np.float32(65535)
    alpha = (result.alpha[::-1].astype(np.float32) / np.float32(65535) if result.alpha is not None
             else np.ones_like(levels))
    pixels = np.stack([levels, levels, levels, alpha], axis=-1)
    image.pixels.foreach_set(pixels.ravel())
    image.update()


def show_in_material(obj, image):
    """An Image Texture node of the active material showing IMAGE redraws."""
    material = obj.active_material
    if material is None or not material.use_nodes:
        return
    for node in material.node_tree.nodes:
        if node.type == 'TEX_IMAGE' and node.image == image:
            node.image = image
            material.node_tree.update_tag()


def corner_colours(mesh, triangles):
    """The colours the bake multiplies: "Smurl", else the active colour
    attribute, as faces x 3 x 3 in the bytes' sRGB values; None if none."""
    attributes = mesh.color_attributes
    attribute = attributes.get(SMURL) or attributes.active_color
    if attribute is None:
        return None
    count = triangles.loop_count if attribute.domain == 'CORNER' else triangles.vertex_count
    if attribute.domain not in ('CORNER', 'POINT') or len(attribute.data) != count:
        return None
    rgba = _get(attribute.data, "color_srgb", np.float32, (count, 4))
    index = triangles.loops if attribute.domain == 'CORNER' else triangles.faces
    return np.ascontiguousarray(rgba[index][:, :, :3])


def store_colours(mesh, triangles, result):
    """The corner greys into the byte colour attribute "Smurl". color_srgb,
    not color: the byte stored is round(grey * 255), what the command's .ply
    holds; color would go through the scene-linear transform."""
    attribute = mesh.color_attributes.get(SMURL)
    if attribute is not None and (attribute.domain != 'CORNER' or attribute.data_type != 'BYTE_COLOR'):
        mesh.color_attributes.remove(attribute)
        attribute = None
    if attribute is None:
        attribute = mesh.color_attributes.new(SMURL, 'BYTE_COLOR', 'CORNER')
    rgba = _get(attribute.data, "color_srgb", np.float32, (triangles.loop_count, 4))
    rgba[triangles.loops.ravel(), :3] = result.corner_colors.reshape(-1, 3)
    rgba[triangles.loops.ravel(), 3] = 1.0
    attribute.data.foreach_set("color_srgb", rgba.ravel())
    mesh.color_attributes.active_color = attribute
    mesh.update()
