"""Generate and the panel's other buttons. Generate reads the scene, starts
the module's bake on a runner thread and, back on Blender's thread, writes
what came back; a timer shows the progress meanwhile and Esc cancels."""

import functools
import os
import time

import bpy

from . import meshes, preferences, runner, settings
from .loader import module

# The plug-in's words where the session, which holds meshes only, cannot
# make it say them: an object with no surface, and its question after a
# cancelled map.
NO_MESH = "Could not get TriObject"
SAVE_PARTIAL = "Save Partial Bitmap?"
# Objects Blender turns into a mesh, as the plug-in's host converts a node.
CONVERTIBLE = {'MESH', 'CURVE', 'SURFACE', 'FONT', 'META'}
# What vertex colours do not take: the map's own options.
MAP_ONLY = ("size", "map_channel", "padding", "supersample", "coverage_alpha")

_partial = None  # a cancelled map waiting for the answer to "Save Partial Bitmap?"


class Refusal(Exception):
    pass


def plugin_refusal(algorithm):
    """What the plug-in says to Generate with nothing selected, or with an
    algorithm it does not have: asked of it, by a bake of no mesh."""
    try:
        module._dunsmere._bake(None, settings.CODE[algorithm], {}, None, None, "discard", None)
    except module.BakeRefused as e:
        return Refusal(str(e))
    return Refusal("the plug-in baked nothing")


def missed_text(projection):
    """What a bake from high-poly meshes missed, as the command warns of it;
    None when it missed nothing."""
    if not projection or not projection["missed"]:
        return None
    return ("Dunsmere: %d of %d samples missed the high-poly meshes, with rays from %g in front to %g behind the "
            "mesh (see Ray Front and Ray Rear)"
            % (projection["missed"], projection["samples"], projection["front"], projection["rear"]))


class Job:
    """One Generate: what was baked, where its result goes, and its runner."""

    def __init__(self, context):
        group = context.scene.dunsmere
        preferences.adopt(context, group)
        self.algorithm = group.algorithm
        obj = context.active_object
        if self.algorithm == 'SPATIAL' or obj is None:
            raise plugin_refusal(self.algorithm)
        if obj.type not in CONVERTIBLE:
            raise Refusal(NO_MESH)
        self.object_name = obj.name
        self.save_path = bpy.path.abspath(group.save_path) if group.save_path else ""
        if obj.mode == 'EDIT':
            obj.update_from_editmode()
        options = settings.module_options(group)
        channel = options["map_channel"]
        depsgraph = context.evaluated_depsgraph_get()
        try:
            mesh = meshes.evaluated_mesh(obj, depsgraph)
            uv_name = mesh.uv_layers[channel - 1].name if channel <= len(mesh.uv_layers) else None
            self.triangles = meshes.Triangles(mesh, uv_name=uv_name)
            # From the evaluated mesh: in Edit Mode the mesh's own layers are empty.
            accumulate = self.algorithm == 'VERTEX_COLORS' and options["accumulate"]
            colours = meshes.corner_colours(mesh, self.triangles) if accumulate else None
        finally:
            obj.evaluated_get(depsgraph).to_mesh_clear()
        options["occluders"] = meshes.collection_meshes(group.occluders, obj, depsgraph) or None
        if group.high_poly:  # else the panel's box keeps the bake the object's own
            occluders = {o.name for o in group.occluders.all_objects} if group.occluders else set()
            options["high"] = meshes.collection_meshes(group.high, obj, depsgraph, skip=occluders)
        options["map_channel"] = 1  # the chosen UV map is the mesh's channel 1
        if self.algorithm == 'UV_MAP':
            options.pop("accumulate")
            bake = functools.partial(module.bake_map, self.triangles.mesh, on_cancel="keep", **options)
        else:
            for name in MAP_ONLY:
                options.pop(name)
            if obj.type != 'MESH':
                raise Refusal("Vertex colours go into a mesh: convert %s to a mesh first" % obj.name)
            if self.triangles.loop_count != len(obj.data.loops):
                raise Refusal("The modifiers change the mesh's corners: apply them before baking vertex colours")
            options["colors"] = colours
            bake = functools.partial(module.bake_vertex_colors, self.triangles.mesh, **options)
        self.started = time.monotonic()
        self.runner = runner.Runner(module, bake)

    def end(self, operator, context):
        """Writes the result, or reports why there is none. Blender's thread."""
        error, result = self.runner.error, self.runner.result
        if isinstance(error, (module.BakeRefused, ValueError)):
            operator.report({'ERROR'}, str(error))
            return {'CANCELLED'}
        if isinstance(error, module.Cancelled):
            operator.report({'WARNING'}, "Dunsmere: the bake was cancelled")
            return {'CANCELLED'}
        if error is not None:
            operator.report({'ERROR'}, "Dunsmere: %s" % error)
            return {'CANCELLED'}
        obj = bpy.data.objects.get(self.object_name)
        if obj is None:
            operator.report({'ERROR'}, "Dunsmere: %s is gone" % self.object_name)
            return {'CANCELLED'}
        if self.algorithm == 'UV_MAP' and result.cancelled:
            global _partial
            _partial = (self, result)
            if not bpy.app.background:
                bpy.ops.dunsmere.keep_partial('INVOKE_DEFAULT')
            return {'CANCELLED'}
        unsaved = self.write(context, obj, result)
        if unsaved:
            operator.report({'WARNING'}, unsaved)
        missed = missed_text(result.projection)
        if missed:
            operator.report({'WARNING'}, missed)
        operator.report({'INFO'}, "Dunsmere: done, elapsed time = %d secs" % (time.monotonic() - self.started))
        return {'FINISHED'}

    def write(self, context, obj, result):
        """Puts RESULT into OBJ's image or colour attribute; says why the map
        file was not written, if it was not."""
        if self.algorithm == 'UV_MAP':
            width, height = result.levels.shape[1], result.levels.shape[0]
            image = meshes.image_for(obj.name + "_smurl", width, height)
            meshes.store_map(image, result)
            meshes.show_in_material(obj, image)
            if self.save_path:
                try:
                    os.makedirs(os.path.dirname(self.save_path) or ".", exist_ok=True)
                    result.save(self.save_path)
                except (OSError, ValueError, RuntimeError) as e:
                    return "Dunsmere: the map is in %s, but %s was not written: %s" % (image.name, self.save_path, e)
            return None
        editing = obj.mode == 'EDIT'
        if editing:  # the edit mesh would overwrite what is written to the mesh
            with context.temp_override(active_object=obj, object=obj):
                bpy.ops.object.mode_set(mode='OBJECT')
        try:
            if self.triangles.loop_count != len(obj.data.loops):
                raise Refusal("The mesh changed while it was baked: Generate again")
            meshes.store_colours(obj.data, self.triangles, result)
        finally:
            if editing:
                with context.temp_override(active_object=obj, object=obj):
                    bpy.ops.object.mode_set(mode='EDIT')
        return None


class DUNSMERE_OT_generate(bpy.types.Operator):
    """Bake the active mesh with the panel's settings (Esc cancels)"""
    bl_idname = "dunsmere.generate"
    bl_label = "Generate"
    bl_options = {'REGISTER', 'UNDO'}

    def start(self, context):
        if runner.running():
            self.report({'ERROR'}, "Dunsmere: a bake is running; wait for it, or press Esc to cancel it")
            return False
        try:
            self.job = Job(context)
        except Refusal as e:
            self.report({'ERROR'}, str(e))
            return False
        except (module.BakeRefused, ValueError) as e:
            self.report({'ERROR'}, str(e))
            return False
        self.job.runner.start()
        return True

    def execute(self, context):
        if not self.start(context):
            return {'CANCELLED'}
        self.job.runner.finish()
        return self.end(context)

    def invoke(self, context, _event):
        if not self.start(context):
            return {'CANCELLED'}
        window_manager = context.window_manager
        self.timer = window_manager.event_timer_add(0.1, window=context.window)
        self.area = context.area
        window_manager.progress_begin(0.0, 1.0)
        window_manager.modal_handler_add(self)
        return {'RUNNING_MODAL'}

    def modal(self, context, event):
        if event.type == 'ESC' and event.value == 'PRESS':
            self.job.runner.cancel()
            return {'RUNNING_MODAL'}
        if event.type != 'TIMER':
            return {'PASS_THROUGH'}
        fraction = self.job.runner.progress
        context.window_manager.progress_update(fraction)
        if self.area:
            self.area.header_text_set("Dunsmere: %d%% (Esc cancels)" % int(fraction * 100))
        if not self.job.runner.poll():
            return {'RUNNING_MODAL'}
        self.stop(context)
        return self.end(context)

    def stop(self, context):
        self.job.runner.finish()
        context.window_manager.event_timer_remove(self.timer)
        context.window_manager.progress_end()
        if self.area:
            self.area.header_text_set(None)

    def cancel(self, context):
        # Blender ends the operator itself (a file is loaded, the window
        # closes): the bake stops and its result is dropped.
        self.job.runner.cancel()
        self.stop(context)

    def end(self, context):
        try:
            return self.job.end(self, context)
        except Refusal as e:
            self.report({'ERROR'}, str(e))
            return {'CANCELLED'}


class DUNSMERE_OT_keep_partial(bpy.types.Operator):
    """Keep the map as far as it was baked before the cancel"""
    bl_idname = "dunsmere.keep_partial"
    bl_label = SAVE_PARTIAL
    bl_options = {'REGISTER', 'UNDO', 'INTERNAL'}

    def invoke(self, context, event):
        return context.window_manager.invoke_confirm(self, event)

    def execute(self, context):
        global _partial
        if _partial is None:
            return {'CANCELLED'}
        (job, result), _partial = _partial, None
        obj = bpy.data.objects.get(job.object_name)
        if obj is None:
            return {'CANCELLED'}
        unsaved = job.write(context, obj, result)
        if unsaved:
            self.report({'WARNING'}, unsaved)
        return {'FINISHED'}


class DUNSMERE_OT_save_defaults(bpy.types.Operator):
    """Make this scene's settings the ones a new scene starts from"""
    bl_idname = "dunsmere.save_defaults"
    bl_label = "Save as Defaults"

    def execute(self, context):
        settings.copy(context.scene.dunsmere, preferences.get(context))
        context.preferences.is_dirty = True  # saved with the preferences, as Blender saves them
        return {'FINISHED'}


class DUNSMERE_OT_reset(bpy.types.Operator):
    """Set this scene's settings to the saved defaults"""
    bl_idname = "dunsmere.reset"
    bl_label = "Reset to Defaults"
    bl_options = {'REGISTER', 'UNDO'}

    def execute(self, context):
        preferences.adopt(context, context.scene.dunsmere, force=True)
        return {'FINISHED'}


class DUNSMERE_OT_preset_load(bpy.types.Operator):
    """Load a preset file of the dunsmere command"""
    bl_idname = "dunsmere.preset_load"
    bl_label = "Load Preset"
    bl_options = {'REGISTER', 'UNDO'}
    filepath: bpy.props.StringProperty(subtype='FILE_PATH')
    filter_glob: bpy.props.StringProperty(default="*.ini;*.txt", options={'HIDDEN'})

    def invoke(self, context, _event):
        context.window_manager.fileselect_add(self)
        return {'RUNNING_MODAL'}

    def execute(self, context):
        try:
            preset = module.read_preset(self.filepath)
        except Exception as e:
            self.report({'ERROR'}, str(e))
            return {'CANCELLED'}
        settings.from_preset(context.scene.dunsmere, preset)
        context.scene.dunsmere.touched = True
        return {'FINISHED'}


class DUNSMERE_OT_preset_save(bpy.types.Operator):
    """Write the settings as a preset file of the dunsmere command"""
    bl_idname = "dunsmere.preset_save"
    bl_label = "Save Preset"
    filepath: bpy.props.StringProperty(subtype='FILE_PATH')
    filter_glob: bpy.props.StringProperty(default="*.ini;*.txt", options={'HIDDEN'})
    check_existing: bpy.props.BoolProperty(default=True, options={'HIDDEN'})

    def invoke(self, context, _event):
        if not self.filepath:
            self.filepath = "dunsmere.ini"
        context.window_manager.fileselect_add(self)
        return {'RUNNING_MODAL'}

    def execute(self, context):
        group = context.scene.dunsmere
        options = settings.module_options(group)
        options.pop("ground_plane")  # a preset holds the panel's settings, not a scene
        try:
            module.write_preset(self.filepath, algorithm=settings.CODE[group.algorithm], **options)
        except Exception as e:
            self.report({'ERROR'}, str(e))
            return {'CANCELLED'}
        return {'FINISHED'}


class DUNSMERE_OT_about(bpy.types.Operator):
    """About Dunsmere"""
    bl_idname = "dunsmere.about"
    bl_label = "About Dunsmere"

    def execute(self, _context):
        return {'FINISHED'}

    def invoke(self, context, _event):
        return context.window_manager.invoke_popup(self, width=300)

    def draw(self, _context):
        self.layout.label(text="Dunsmere %s" % module.__version__)
        self.layout.label(text="The smurl occlusion baker, inside Blender")


CLASSES = (DUNSMERE_OT_generate, DUNSMERE_OT_keep_partial, DUNSMERE_OT_save_defaults, DUNSMERE_OT_reset,
           DUNSMERE_OT_preset_load, DUNSMERE_OT_preset_save, DUNSMERE_OT_about)


def register():
    for cls in CLASSES:
        bpy.utils.register_class(cls)


def unregister():
    for cls in reversed(CLASSES):
        bpy.utils.unregister_class(cls)
