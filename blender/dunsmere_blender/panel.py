"""The "Dunsmere" tab of the 3D viewport's sidebar: the plug-in's page, with
the same controls greyed out for each algorithm, and an Options sub-panel."""

import bpy

from . import loader


class DUNSMERE_PT_main(bpy.types.Panel):
    bl_label = "Dunsmere"
    bl_space_type = 'VIEW_3D'
    bl_region_type = 'UI'
    bl_category = "Dunsmere"

    def draw(self, context):
        layout = self.layout
        if loader.module is None:
            layout.label(text=loader.problem, icon='ERROR')
            return
        group = context.scene.dunsmere
        obj = context.active_object
        is_map = group.algorithm == 'UV_MAP'
        layout.label(text="Algorithm")
        layout.column(align=True).prop(group, "algorithm", expand=True)
        if group.algorithm == 'SPATIAL':
            layout.label(text="Spatial is not implemented", icon='INFO')
        spread = layout.column(align=True)
        spread.label(text="Ray Spread")
        spread.prop(group, "horizontal", text="Horizontal")
        spread.prop(group, "vertical", text="Vertical")
        distance = layout.column(align=True)
        distance.prop(group, "distance_relative" if group.distance_is_relative else "distance", text="Distance")
        distance.prop(group, "distance_is_relative")
        size = layout.column(align=True)
        size.enabled = is_map
        size.label(text="Map Size")
        row = size.row(align=True)
        row.prop(group, "size_x", text="X")
        row.prop(group, "size_y", text="Y")
        channel = layout.column(align=True)
        channel.enabled = is_map and obj is not None and obj.type == 'MESH'
        channel.label(text="Map Channel")
        channel.prop(group, "uv_map", text="")
        layout.prop(group, "selected_only", text="Selected Faces Only")
        noise = layout.row(align=True)
        noise.enabled = is_map
        noise.prop(group, "noise", text="Noise On")
        noise.prop(group, "noise_size", text="Size")
        material = layout.row(align=True)
        material.enabled = is_map and obj is not None and len(obj.material_slots) > 0
        material.prop(group, "material_filter", text="Material")
        material.prop(group, "material_slot", text="")
        accumulate = layout.row()
        accumulate.enabled = group.algorithm == 'VERTEX_COLORS'
        accumulate.prop(group, "accumulate", text="Accumulate vertex colors")
        layout.operator("dunsmere.generate", icon='RENDER_STILL')
        row = layout.row(align=True)
        row.operator("dunsmere.about", text="About...")


class DUNSMERE_PT_options(bpy.types.Panel):
    bl_label = "Options"
    bl_space_type = 'VIEW_3D'
    bl_region_type = 'UI'
    bl_category = "Dunsmere"
    bl_parent_id = "DUNSMERE_PT_main"
    bl_options = {'DEFAULT_CLOSED'}

    @classmethod
    def poll(cls, _context):
        return loader.module is not None

    def draw(self, context):
        layout = self.layout
        group = context.scene.dunsmere
        is_map = group.algorithm == 'UV_MAP'
        column = layout.column()
        column.enabled = is_map
        column.prop(group, "padding")
        column.prop(group, "supersample", text="Antialiasing")
        column.prop(group, "coverage_alpha")
        column.prop(group, "save_path")
        layout.prop(group, "invert", text="White Is Open")
        layout.prop(group, "even_ring")
        layout.prop(group, "ray_bias")
        layout.prop(group, "occluders")
        layout.prop(group, "ground_plane")
        layout.prop(group, "high_poly", text="Bake from High-poly")
        high = layout.column(align=True)
        high.enabled = group.high_poly
        high.prop(group, "high")
        high.prop(group, "ray_front", text="Ray Front")
        high.prop(group, "ray_rear", text="Ray Rear")
        presets = layout.row(align=True)
        presets.operator("dunsmere.preset_load", icon='FILEBROWSER')
        presets.operator("dunsmere.preset_save", icon='FILE_TICK')
        defaults = layout.row(align=True)
        defaults.operator("dunsmere.save_defaults")
        defaults.operator("dunsmere.reset")


CLASSES = (DUNSMERE_PT_main, DUNSMERE_PT_options)


def register():
    bpy.utils.register_class(DUNSMERE_PT_main)
    if loader.module is not None:
        bpy.utils.register_class(DUNSMERE_PT_options)


def unregister():
    for cls in reversed(CLASSES):
        if cls.is_registered:
            bpy.utils.unregister_class(cls)
