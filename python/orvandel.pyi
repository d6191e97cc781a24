"""Orvandel's maps as NumPy arrays (the types of the compiled module orvandel)."""

import os
from typing import Any, Optional, SupportsIndex, Union

import numpy as np
import numpy.typing as npt

__version__: str
OUTPUTS: tuple[str, ...]
"""The outputs a map can be saved as: 'png', 'stats', 'grid', ..."""

_Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]
_Settings = Union[None, _Path, dict[str, Union[SupportsIndex, str]]]

class Map:
    """One map, as the window program shows it when stopped after the generations drawn."""

    @property
    def classes(self) -> npt.NDArray[np.uint8]:
        """(height, width) uint8, read-only: 0 water, 1 land, 2 unchanged (3 sea in the world mode)."""
    @property
    def rgba(self) -> npt.NDArray[np.uint8]:
        """(height, width, 4) uint8, read-only: the PNG's pixels, R, G, B, A."""
    @property
    def heights(self) -> npt.NDArray[np.int16]:
        """(height, width) int16, read-only: a world's heights in metres. Raises ValueError."""
    @property
    def terrain(self) -> npt.NDArray[np.uint8]:
        """(height, width) uint8, read-only: 0 sea, 1 lake, 2 river, 3 land. Raises ValueError."""
    @property
    def atlas(self) -> npt.NDArray[np.uint8]:
        """(height, width, 4) uint8, read-only: a world's atlas picture. Raises ValueError."""
    @property
    def stats(self) -> dict[str, Any]:
        """What orvandel-batch --stats writes, as a dict."""
    @property
    def settings(self) -> dict[str, int]:
        """The settings the map was made from."""
    @property
    def seed(self) -> int:
        """The seed used (the clock's when 0 was given; 0 when the settings use none)."""
    @property
    def generations(self) -> int:
        """The generations drawn."""
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    def save(self, output: str, path: _Path) -> None:
        """Writes one of OUTPUTS to a file. Raises ValueError, OSError."""
    def save_png(self, path: _Path) -> None:
        """The picture as a PNG with its recipe. Raises OSError."""
    def save_stats(self, path: _Path) -> None:
        """The statistics as JSON. Raises OSError."""
    def save_grid(self, path: _Path) -> None:
        """The classes as a NumPy .npy file. Raises OSError."""
    def save_height(self, path: _Path) -> None:
        """A world's heights: int16 .npy, or 16-bit grey .png by the name. Raises ValueError, OSError."""
    def save_terrain(self, path: _Path) -> None:
        """A world's land and water as a .npy file. Raises ValueError, OSError."""
    def save_atlas(self, path: _Path) -> None:
        """A world's atlas as a PNG. Raises ValueError, OSError."""
    def save_rivers(self, path: _Path) -> None:
        """A world's rivers as GeoJSON. Raises ValueError, OSError."""

def presets() -> dict[str, int]:
    """Every setting with its preset value."""

def read_settings(path: _Path) -> dict[str, int]:
    """The presets changed by a settings file. Raises OSError."""

def generate(
    seed: SupportsIndex,
    width: Optional[SupportsIndex] = None,
    height: Optional[SupportsIndex] = None,
    generations: SupportsIndex = 100,
    settings: _Settings = None,
    until_settled: bool = False,
) -> Map:
    """Makes a map. Raises ValueError, OSError, TypeError, MemoryError."""
