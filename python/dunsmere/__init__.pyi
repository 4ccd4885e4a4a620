# The signatures of `import dunsmere`, for editors and type checkers.
from typing import Any, Callable, Literal, Mapping, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str

class BakeRefused(RuntimeError): ...
class Cancelled(RuntimeError): ...

class CancelToken:
    def __init__(self) -> None: ...
    def set(self) -> None: ...
    def clear(self) -> None: ...
    @property
    def is_set(self) -> bool: ...

class Mesh:
    def __init__(self, vertices: npt.ArrayLike, faces: npt.ArrayLike, *, uvs: Optional[npt.ArrayLike] = ...,
                 uv_faces: Optional[npt.ArrayLike] = ...,
                 channels: Optional[Mapping[int, Tuple[npt.ArrayLike, npt.ArrayLike]]] = ...,
                 smoothing_groups: Optional[npt.ArrayLike] = ..., corner_normals: Optional[npt.ArrayLike] = ...,
                 material_ids: Optional[npt.ArrayLike] = ..., selected_faces: Optional[npt.ArrayLike] = ...,
                 smooth_angle: Optional[float] = ...) -> None: ...
    def arrays(self) -> dict[str, Any]: ...
    @property
    def face_count(self) -> int: ...
    @property
    def vertex_count(self) -> int: ...
    @property
    def path(self) -> str: ...

class MapResult:
    levels: npt.NDArray[np.uint16]
    alpha: Optional[npt.NDArray[np.uint16]]
    stats: dict[str, Any]
    projection: Optional[dict[str, Any]]
    miss_map: Optional[npt.NDArray[np.uint16]]
    cancelled: bool
    def save(self, path: str, *, channels: Literal["", "grey", "grey-alpha", "rgba"] = ...,
             bit_depth: Literal[8, 16] = ...) -> None: ...

class ColorsResult:
    corner_colors: npt.NDArray[np.float32]
    vertex_grey: Optional[npt.NDArray[np.float32]]
    stats: dict[str, Any]
    projection: Optional[dict[str, Any]]

Axis = Literal["-x", "+x", "-y", "+y", "-z", "+z"]
Reach = Union[float, Tuple[float, float]]

def read_mesh(path: str, smooth_angle: Optional[float] = ...) -> Mesh: ...
def bake_map(mesh: Mesh, *, size: Union[int, Tuple[int, int], None] = ..., distance: Optional[float] = ...,
             distance_relative: Optional[float] = ..., horizontal: Optional[int] = ..., vertical: Optional[int] = ...,
             map_channel: Optional[int] = ..., selected_only: Optional[bool] = ..., noise: Optional[bool] = ...,
             noise_size: Optional[float] = ..., material_id: Optional[int] = ..., padding: Optional[int] = ...,
             supersample: Optional[int] = ..., coverage_alpha: Optional[bool] = ..., invert: Optional[bool] = ...,
             even_ring: Optional[bool] = ..., ray_bias: Optional[float] = ..., occluders: Optional[Sequence[Mesh]] = ...,
             ground_plane: Optional[Axis] = ..., high: Optional[Sequence[Mesh]] = ...,
             high_poly: Optional[bool] = ..., cage: Optional[Mesh] = ..., ray_front: Optional[float] = ...,
             ray_rear: Optional[float] = ..., ray_distance: Optional[Reach] = ..., miss_map: bool = ...,
             threads: Optional[int] = ..., preset: Optional[str] = ...,
             progress: Optional[Callable[[float], Any]] = ..., cancel: Optional[CancelToken] = ...,
             on_cancel: Literal["discard", "keep"] = ...) -> MapResult: ...
def bake_vertex_colors(mesh: Mesh, *, distance: Optional[float] = ..., distance_relative: Optional[float] = ...,
                       horizontal: Optional[int] = ..., vertical: Optional[int] = ...,
                       selected_only: Optional[bool] = ..., noise: Optional[bool] = ...,
                       noise_size: Optional[float] = ..., material_id: Optional[int] = ...,
                       invert: Optional[bool] = ..., even_ring: Optional[bool] = ..., ray_bias: Optional[float] = ...,
                       accumulate: Optional[bool] = ...,
                       colors: Optional[npt.ArrayLike] = ..., occluders: Optional[Sequence[Mesh]] = ...,
                       ground_plane: Optional[Axis] = ..., high: Optional[Sequence[Mesh]] = ...,
                       high_poly: Optional[bool] = ..., cage: Optional[Mesh] = ..., ray_front: Optional[float] = ...,
                       ray_rear: Optional[float] = ..., ray_distance: Optional[Reach] = ...,
                       threads: Optional[int] = ..., preset: Optional[str] = ...,
                       progress: Optional[Callable[[float], Any]] = ...,
                       cancel: Optional[CancelToken] = ...) -> ColorsResult: ...
def info(mesh: Mesh) -> dict[str, Any]: ...
def options() -> list[dict[str, Any]]: ...
def read_preset(path: str) -> dict[str, Any]: ...
def write_preset(path: str, **options: Any) -> None: ...
