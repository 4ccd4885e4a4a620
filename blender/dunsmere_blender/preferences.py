"""The add-on's preferences: the settings a scene starts from. "Save as
defaults" writes them; a scene whose settings were never set takes them at
its first Generate or at a panel reset."""

import bpy

from . import settings


class DunsmerePreferences(bpy.types.AddonPreferences):
    bl_idname = __package__

    defaults: bpy.props.PointerProperty(type=settings.DunsmereSettings)

    def draw(self, _context):
        self.layout.label(text="Defaults come from a scene's panel: \"Save as Defaults\".")


def get(context):
    addon = context.preferences.addons.get(__package__)
    return addon.preferences.defaults if addon else None


def adopt(context, scene_settings, force=False):
    """Gives SCENE_SETTINGS the preferences' values, if never set or FORCE."""
    defaults = get(context)
    if defaults is not None and (force or not scene_settings.touched):
        settings.copy(defaults, scene_settings)
    scene_settings.touched = True


def register():
    bpy.utils.register_class(DunsmerePreferences)


def unregister():
    bpy.utils.unregister_class(DunsmerePreferences)
