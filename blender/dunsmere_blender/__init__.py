"""Dunsmere in Blender: the panel's controls in the 3D viewport's sidebar,
baking the active mesh into an image or a colour attribute."""

bl_info = {
    "name": "Dunsmere",
    "author": "Dunsmere developers",
    "version": (0, 2, 5),
    "blender": (3, 4, 0),
    "location": "3D Viewport > Sidebar > Dunsmere",
    "description": "Bakes the smurl occlusion value into an image or a colour attribute",
    "category": "Object",
}

from . import loader  # noqa: E402

_parts = []


def register():
    global _parts
    module = loader.load()
    from . import panel
    if module is None:
        # Only the line saying why: no controls without the option table.
        _parts = [panel]
    else:
        from . import operators, preferences, settings
        _parts = [settings, preferences, operators, panel]
    for part in _parts:
        part.register()


def unregister():
    for part in reversed(_parts):
        part.unregister()
    _parts.clear()
