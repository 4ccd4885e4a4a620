"""The panel's settings, one group per scene (kept in the .blend) and one in the
add-on's preferences. Ranges, defaults and help come from the module's option
table; only what Blender adds (the choices among UV maps, material slots and
collections) is declared here."""

import bpy

from .loader import module

ALGORITHMS = [("UV_MAP", "UV Map", "A map in a UV layout, into an image", "uv-map"),
              ("VERTEX_COLORS", "Vertex Colors", "One grey a face corner, into the colour attribute \"Smurl\"",
               "vertex-colors"),
              ("SPATIAL", "Spatial", "Not implemented", "spatial")]
CODE = {identifier: code for identifier, _, _, code in ALGORITHMS}
GROUND = ["NONE", "-x", "+x", "-y", "+y", "-z", "+z"]

# Module options shown as one control each; the rest are composed below.
PLAIN = ["distance", "horizontal", "vertical", "selected_only", "noise", "noise_size", "accumulate", "padding",
         "supersample", "coverage_alpha", "invert", "even_ring", "ray_bias", "high_poly", "ray_front", "ray_rear"]


def _row(name):
    for row in module.options():
        if row["name"] == name:
            return row
    raise KeyError(name)


def _touched(group, _context):
    group.touched = True


def _property(row, **extra):
    common = dict(description=row["help"], update=_touched, **extra)
    if row["type"] == "bool":
        return bpy.props.BoolProperty(default=bool(row["default"]), **common)
    if row["type"] == "int":
        return bpy.props.IntProperty(min=row["min"], max=row["max"], default=row["default"], **common)
    return bpy.props.FloatProperty(min=row["min"], max=row["max"], soft_max=min(row["max"], 1000.0),
                                   default=row["default"], **common)


_cached_items = {}


def _uv_maps(_group, context):
    obj = context.object if context else None
    names = [uv.name for uv in obj.data.uv_layers] if obj and obj.type == 'MESH' else []
    items = [(str(i + 1), name, "Map channel %d" % (i + 1), i + 1) for i, name in enumerate(names)]
    # Blender keeps pointers into the list: it must outlive the call.
    _cached_items["uv"] = items or [("1", "(first UV map)", "", 1)]
    return _cached_items["uv"]


def _material_slots(_group, context):
    obj = context.object if context else None
    slots = obj.material_slots if obj else []
    items = [(str(i + 1), "%d: %s" % (i + 1, s.material.name if s.material else "(empty)"), "", i + 1)
             for i, s in enumerate(slots)]
    _cached_items["slot"] = items or [("1", "1", "", 1)]
    return _cached_items["slot"]


def _annotations():
    size = _row("size")
    return dict(
        touched=bpy.props.BoolProperty(default=False, options={'HIDDEN'}),
        algorithm=bpy.props.EnumProperty(name="Algorithm", items=[a[:3] for a in ALGORITHMS], update=_touched),
        distance_is_relative=bpy.props.BoolProperty(
            name="Relative to the mesh", update=_touched,
            description=_row("distance_relative")["help"]),
        distance_relative=bpy.props.FloatProperty(name="Distance", min=1e-6, max=1e3, soft_max=10.0, default=0.5,
                                                  update=_touched, description=_row("distance_relative")["help"]),
        size_x=bpy.props.IntProperty(name="X", min=size["min"], max=size["max"], default=size["default"][0],
                                     description=size["help"], update=_touched),
        size_y=bpy.props.IntProperty(name="Y", min=size["min"], max=size["max"], default=size["default"][1],
                                     description=size["help"], update=_touched),
        uv_map=bpy.props.EnumProperty(name="UV Map", items=_uv_maps, default=1, update=_touched,
                                      description=_row("map_channel")["help"]),
        material_filter=bpy.props.BoolProperty(name="Filter by Material", update=_touched,
                                               description="Bake only the faces of one material slot"),
        material_slot=bpy.props.EnumProperty(name="Slot", items=_material_slots, default=1, update=_touched,
                                             description=_row("material_id")["help"]),
        ground_plane=bpy.props.EnumProperty(name="Ground Plane", update=_touched,
                                            items=[(g, g if g != "NONE" else "None", "") for g in GROUND],
                                            description=_row("ground_plane")["help"]),
        save_path=bpy.props.StringProperty(name="Save To", subtype='FILE_PATH', update=_touched,
                                           description="Also write the map to this file (.png, .tif, .exr), "
                                                       "through the module's writers"),
        **{name: _property(_row(name), name=name.replace("_", " ").title()) for name in PLAIN})


class DunsmereSettings(bpy.types.PropertyGroup):
    """What the preferences keep: no data-blocks, which they cannot hold."""


class DunsmereSceneSettings(bpy.types.PropertyGroup):
    """A scene's: the same, and the collections of occluders and high-poly meshes."""


def names():
    return [n for n in DunsmereSettings.__annotations__ if n != "touched"]


def copy(source, target):
    """Every setting of SOURCE into TARGET, as stored (an unset one unset)."""
    for name in names():
        if name in source:
            target[name] = source[name]
        elif name in target:
            del target[name]
    target.touched = True


def module_options(group):
    """The settings as the module's keyword options, the algorithm apart."""
    options = {name: getattr(group, name) for name in PLAIN}
    options["size"] = (group.size_x, group.size_y)
    options["map_channel"] = int(group.uv_map) if group.uv_map else 1
    if group.distance_is_relative:
        del options["distance"]  # the module takes one or the other
        options["distance_relative"] = group.distance_relative
    options["material_id"] = int(group.material_slot) if group.material_filter and group.material_slot else None
    options["ground_plane"] = None if group.ground_plane == "NONE" else group.ground_plane
    return options


def from_preset(group, preset):
    """A preset's values (module.read_preset's dict) onto GROUP."""
    for name in PLAIN:
        if preset.get(name) is not None:
            kind = type(getattr(group, name))
            setattr(group, name, kind(preset[name]))
    if "algorithm" in preset:
        group.algorithm = {code: identifier for identifier, code in CODE.items()}.get(preset["algorithm"], "UV_MAP")
    if "size" in preset:
        group.size_x, group.size_y = preset["size"]
    group.distance_is_relative = "distance_relative" in preset
    if "distance_relative" in preset:
        group.distance_relative = preset["distance_relative"]
    group.material_filter = preset.get("material_id") is not None
    if group.material_filter:
        group["material_slot"] = int(preset["material_id"])
    if "map_channel" in preset:
        group["uv_map"] = int(preset["map_channel"])


def register():
    DunsmereSettings.__annotations__ = _annotations()
    DunsmereSceneSettings.__annotations__ = dict(
        _annotations(), occluders=bpy.props.PointerProperty(
            name="Occluders", type=bpy.types.Collection, update=_touched, description=_row("occluders")["help"]),
        high=bpy.props.PointerProperty(
            name="High-poly", type=bpy.types.Collection, update=_touched, description=_row("high")["help"]))
    bpy.utils.register_class(DunsmereSettings)
    bpy.utils.register_class(DunsmereSceneSettings)
    bpy.types.Scene.dunsmere = bpy.props.PointerProperty(type=DunsmereSceneSettings)


def unregister():
    del bpy.types.Scene.dunsmere
    bpy.utils.unregister_class(DunsmereSceneSettings)
    bpy.utils.unregister_class(DunsmereSettings)
