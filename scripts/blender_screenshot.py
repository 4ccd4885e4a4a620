"""The README's picture of the add-on: the crate baked through Generate as an
artist presses it (the modal operator, its thread and timer), the panel in
the sidebar beside the map in an Image Editor. Needs a display; see the
README's "In Blender" for the command under Xvfb.

    blender --factory-startup --enable-event-simulate --python scripts/blender_screenshot.py -- ZIP CRATE OUT.png
"""

import os
import sys

import addon_utils
import bpy

bpy.context.preferences.view.show_splash = False
zip_path, crate_path, out_path = sys.argv[sys.argv.index("--") + 1:][:3]
bpy.ops.preferences.addon_install(filepath=os.path.abspath(zip_path), overwrite=True)
addon_utils.enable("dunsmere_blender", default_set=True)
from dunsmere_blender import runner  # noqa: E402

for obj in list(bpy.data.objects):
    bpy.data.objects.remove(obj)
bpy.ops.wm.obj_import(filepath=os.path.abspath(crate_path))
crate = bpy.context.selected_objects[0]
bpy.context.view_layer.objects.active = crate
group = bpy.context.scene.dunsmere
group.size_x = group.size_y = 512
group.horizontal, group.vertical, group.noise, group.noise_size = 16, 4, True, 0.5

# Blender 3.4 cannot choose a sidebar tab from Python: the Tool and View tabs
# go, and a simulated click picks Dunsmere's, second under Item's.
for panel in bpy.types.Panel.__subclasses__():
    if (panel.__module__.startswith("bl_ui.") and getattr(panel, "bl_space_type", "") == 'VIEW_3D'
            and getattr(panel, "bl_region_type", "") == 'UI' and panel.is_registered):
        bpy.utils.unregister_class(panel)

window = bpy.context.window_manager.windows[0]
view = max((a for a in window.screen.areas if a.type == 'VIEW_3D'), key=lambda a: a.width)
view.spaces[0].show_region_ui = True
view.spaces[0].shading.type = 'SOLID'
region = next(r for r in view.regions if r.type == 'WINDOW')
with bpy.context.temp_override(window=window, area=view, region=region):
    bpy.ops.view3d.view_all()
    bpy.ops.dunsmere.generate('INVOKE_DEFAULT')
    bpy.ops.screen.area_split(direction='VERTICAL', factor=0.45)


def show_and_shoot():
    if runner.running():
        return 0.2
    image = bpy.data.images[crate.name + "_smurl"]
    editor = min((a for a in window.screen.areas if a.type == 'VIEW_3D'), key=lambda a: a.x)
    editor.type = 'IMAGE_EDITOR'
    editor.spaces[0].image = image
    with bpy.context.temp_override(window=window, area=editor,
                                   region=next(r for r in editor.regions if r.type == 'WINDOW')):
        bpy.ops.image.view_all(fit_view=True)
    sidebar = next(r for r in view.regions if r.type == 'UI')
    x, y = sidebar.x + sidebar.width - 10, sidebar.y + sidebar.height - 85
    window.event_simulate(type='MOUSEMOVE', value='NOTHING', x=x, y=y)
    window.event_simulate(type='LEFTMOUSE', value='PRESS', x=x, y=y)
    window.event_simulate(type='LEFTMOUSE', value='RELEASE', x=x, y=y)
    window.event_simulate(type='MOUSEMOVE', value='NOTHING', x=10, y=10)
    bpy.app.timers.register(shoot, first_interval=1.0)
    return None


def shoot():
    with bpy.context.temp_override(window=window):
        bpy.ops.screen.screenshot(filepath=os.path.abspath(out_path))
    bpy.ops.wm.quit_blender()


bpy.app.timers.register(show_and_shoot, first_interval=0.5)
