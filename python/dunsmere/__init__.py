"""Dunsmere from Python: numpy arrays in, numpy arrays out, the same bytes as
the dunsmere command.

    import dunsmere
    mesh = dunsmere.read_mesh("crate.obj")
    result = dunsmere.bake_map(mesh, size=512, noise=True)
    result.save("crate.png")

Options are keyword-only and named as the command's (--noise-size is
noise_size); every call starts from the plug-in's defaults, and None leaves an
option at its default. dunsmere.options() lists them with their ranges.

Arrays given to Mesh are copied once into the mesh; an array of another dtype
or a non-contiguous one is first converted (one more, temporary copy). The
arrays a bake returns own their data: nothing is copied on the way out.
"""

from . import _dunsmere
from ._dunsmere import (BakeRefused, CancelToken, Cancelled, ColorsResult, MapResult, Mesh, info, read_mesh,
                        read_preset)

__all__ = ["Mesh", "read_mesh", "bake_map", "bake_vertex_colors", "info", "options", "read_preset",
           "write_preset", "CancelToken", "BakeRefused", "Cancelled", "MapResult", "ColorsResult"]

for _type in (BakeRefused, Cancelled, CancelToken, ColorsResult, MapResult, Mesh):
    _type.__module__ = __name__

_options = None


def options():
    """Every option the bakes take, as data: name, option (the command's), type,
    min, max, default (as the plug-in's panel sets them up), unit and help."""
    global _options
    if _options is None:
        _options = _dunsmere._option_rows()
    return [dict(row) for row in _options]


def _merged(preset, given):
    options = {k: v for k, v in read_preset(preset).items() if k != "algorithm"} if preset else {}
    if preset and given.get("distance") is not None:
        options.pop("distance_relative", None)
    # A preset holds the panel's box and reach; what the call gives wins.
    if preset and given.get("high"):
        options.pop("high_poly", None)
    if preset and given.get("ray_distance") is not None:
        options.pop("ray_front", None)
        options.pop("ray_rear", None)
    options.update({k: v for k, v in given.items() if v is not None})
    return options


def bake_map(mesh, *, size=None, distance=None, distance_relative=None, horizontal=None, vertical=None,
             map_channel=None, selected_only=None, noise=None, noise_size=None, material_id=None, padding=None,
             supersample=None, coverage_alpha=None, invert=None, even_ring=None, ray_bias=None, occluders=None,
             ground_plane=None, high=None, high_poly=None, cage=None, ray_front=None, ray_rear=None,
             ray_distance=None, miss_map=False, threads=None, preset=None, progress=None, cancel=None,
             on_cancel="discard"):
    """Bakes MESH's map in its map channel's UV layout and returns a MapResult:
    levels (uint16, height x width, row 0 at the top), alpha (uint16 with
    coverage_alpha, else None), stats (the command's --json fields) and
    save(path, channels=..., bit_depth=...).

    size is an int or (width, height); material_id=None bakes every material.
    progress(fraction) is called at least every 100 ms with a fraction that
    never falls. A CancelToken set from another thread ends the bake: with
    on_cancel="discard" it raises Cancelled, with "keep" the partial map comes
    back with cancelled=True. Ctrl-C raises KeyboardInterrupt once the workers
    stopped. A refusal raises BakeRefused with the plug-in's text.

    HIGH, a list of Meshes in MESH's space, bakes from their surface instead
    of MESH's own (equal hits go to the later one); CAGE, MESH's faces in its
    order pushed out, is where the rays start. ray_front and ray_rear are the
    reach as fractions of MESH's diagonal, ray_distance the same in mesh units
    (FRONT or (FRONT, REAR)). The result's projection is then {samples,
    missed, front, rear} (the reach in mesh units), and with miss_map=True its
    miss_map is each texel's share of samples that missed, times 65535, as
    levels are laid out."""
    given = dict(size=size, distance=distance, distance_relative=distance_relative, horizontal=horizontal,
                 vertical=vertical, map_channel=map_channel, selected_only=selected_only, noise=noise,
                 noise_size=noise_size, material_id=material_id, padding=padding, supersample=supersample,
                 coverage_alpha=coverage_alpha, invert=invert, even_ring=even_ring, ray_bias=ray_bias,
                 occluders=occluders, ground_plane=ground_plane, high=high, high_poly=high_poly, cage=cage,
                 ray_front=ray_front, ray_rear=ray_rear, ray_distance=ray_distance, threads=threads)
    return _dunsmere._bake(mesh, "uv-map", _merged(preset, given), progress, cancel, on_cancel, None, miss_map)


def bake_vertex_colors(mesh, *, distance=None, distance_relative=None, horizontal=None, vertical=None,
                       selected_only=None, noise=None, noise_size=None, material_id=None, invert=None,
                       even_ring=None, ray_bias=None, accumulate=None, colors=None, occluders=None, ground_plane=None,
                       high=None, high_poly=None, cage=None, ray_front=None, ray_rear=None, ray_distance=None,
                       threads=None, preset=None, progress=None, cancel=None):
    """Bakes one grey a face corner and returns a ColorsResult: corner_colors
    (float32, faces x 3 x 3, as the command writes them), vertex_grey (float32
    a vertex when no vertex got two colours, else None) and stats.

    With accumulate=True the bake multiplies COLORS (faces x 3 x 3), the
    corner colours already there. Waiting, progress and cancel are as for
    bake_map; a cancelled run raises Cancelled. A bake from HIGH projects
    each face's centre as bake_map projects a texel; a centre that missed
    counts as open in its vertices' greys."""
    given = dict(distance=distance, distance_relative=distance_relative, horizontal=horizontal, vertical=vertical,
                 selected_only=selected_only, noise=noise, noise_size=noise_size, material_id=material_id,
                 invert=invert, even_ring=even_ring, ray_bias=ray_bias, accumulate=accumulate, occluders=occluders,
                 ground_plane=ground_plane, high=high, high_poly=high_poly, cage=cage, ray_front=ray_front,
                 ray_rear=ray_rear, ray_distance=ray_distance, threads=threads)
    return _dunsmere._bake(mesh, "vertex-colors", _merged(preset, given), progress, cancel, "discard", colors)


def write_preset(path, **options):
    """Writes the settings a bake with OPTIONS would use as a preset file, the
    command's --write-preset: the plug-in's section and the command's own."""
    _dunsmere._write_preset(path, {k: v for k, v in options.items() if v is not None})


def _version():
    try:
        plugin = _dunsmere._plugin_version()
    except Exception:  # the module still imports without its plug-in
        plugin = "no plug-in"
    return "%s (%s)" % (_dunsmere.__version__, plugin)


__version__ = _version()
