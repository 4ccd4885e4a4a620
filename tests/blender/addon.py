"""Installs the built add-on zip as Blender's "Install..." does (into
BLENDER_USER_SCRIPTS, which ctest points at the test's own folder) and
enables it; the tests then import what it carries."""

import os
import sys

import addon_utils
import bpy

WORK = os.environ["DUNSMERE_WORK"]
os.makedirs(WORK, exist_ok=True)
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "python"))

bpy.ops.preferences.addon_install(filepath=os.environ["DUNSMERE_BLENDER_ZIP"], overwrite=True)


def _raise(error):
    raise error


addon_utils.enable("dunsmere_blender", default_set=True, handle_error=_raise)
from dunsmere_blender import loader  # noqa: E402

assert loader.module is not None, loader.problem
dunsmere = loader.module
assert os.path.realpath(dunsmere.__file__).startswith(os.path.realpath(os.environ["BLENDER_USER_SCRIPTS"]))


def generate(obj, **settings):
    """The operator's synchronous form on OBJ with SETTINGS on the scene."""
    bpy.context.view_layer.objects.active = obj
    for name, value in settings.items():
        setattr(bpy.context.scene.dunsmere, name, value)
    assert bpy.ops.dunsmere.generate() == {'FINISHED'}
