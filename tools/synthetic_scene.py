"""A small moving scene for camera frames: a ball rolling over a tiled floor, seen by an RGB
camera and a depth camera at the same pose. Smooth surfaces with edges, as a real camera sees,
not noise.
"""
import math

import numpy as np


class SyntheticScene:
    def __init__(self, width, height):
        self.width = width
        self.height = height
        rows = np.arange(height, dtype=np.float32)[:, None]
        cols = np.arange(width, dtype=np.float32)[None, :]
        self._rows = rows
        self._cols = cols
        self._horizon = height * 0.4
        below = np.clip(rows - self._horizon, 1.0, None)
        # The floor: distance grows towards the horizon; above it, a wall 6 m away.
        self._floor_depth = np.where(rows > self._horizon, 0.5 + 3.5 * (height - rows) / below
                                     * (self._horizon / height), 6.0).astype(np.float32)
        self._floor_depth = np.ascontiguousarray(
            np.minimum(np.broadcast_to(self._floor_depth, (height, width)), 6.0))
        # The tiled floor and the wall behind it do not move: drawn once.
        floor_x = (cols - width / 2) * self._floor_depth / width
        tiles = ((np.floor(floor_x * 2) + np.floor(self._floor_depth * 2)) % 2)
        shade = np.clip(1.2 - self._floor_depth / 5, 0.3, 1.0)
        floor = np.stack([(90 + 80 * tiles) * shade, (80 + 70 * tiles) * shade,
                          (60 + 50 * tiles) * shade], axis=-1)
        sky = np.linspace(0, 1, height, dtype=np.float32)[:, None]
        wall = np.empty((height, width, 3), np.float32)
        wall[..., 0], wall[..., 1], wall[..., 2] = 150 + 60 * sky, 170 + 50 * sky, 200 + 30 * sky
        background = np.where((rows > self._horizon)[..., None], floor, wall)
        self._background = np.clip(background, 0, 255).astype(np.uint8)

    def _ball(self, t):
        """Centre (column, row), radius in pixels and distance in metres of the ball at time t."""
        cx = self.width * (0.5 + 0.35 * math.sin(1.3 * t))
        cy = self.height * (0.68 + 0.12 * math.sin(2.1 * t + 0.5))
        radius = self.height * (0.08 + 0.03 * math.sin(0.7 * t))
        distance = 1.5 + 0.5 * math.cos(1.3 * t)
        return cx, cy, radius, distance

    def _ball_patch(self, t):
        """The ball at time t: the rows and columns of its bounding box, which of their pixels
        it covers, its surface height (0 at the rim, 1 at the centre) and the light on it."""
        cx, cy, radius, distance = self._ball(t)
        top, bottom = max(0, int(cy - radius)), min(self.height, int(cy + radius) + 1)
        left, right = max(0, int(cx - radius)), min(self.width, int(cx + radius) + 1)
        dx = (self._cols[:, left:right] - cx) / radius
        dy = (self._rows[top:bottom] - cy) / radius
        d2 = dx * dx + dy * dy
        inside = d2 < 1.0
        bulge = np.sqrt(np.clip(1.0 - d2, 0.0, 1.0))
        light = np.clip(0.25 + 0.75 * (bulge - 0.4 * dx - 0.5 * dy) / 1.6, 0.1, 1.0)
        box = (slice(top, bottom), slice(left, right))
        return box, inside, bulge, light, radius, distance

    def rgb(self, t):
        """The RGB frame at time t (seconds): uint8, shape (height, width, 3), C-contiguous."""
        image = self._background.copy()
        box, inside, _, light, _, _ = self._ball_patch(t)
        ball = np.stack([230 * light, 60 * light + 20, 40 * light + 10], axis=-1)
        patch = image[box]
        patch[inside] = ball[inside].astype(np.uint8)
        return image

    def depth(self, t):
        """The depth frame at time t in metres: float32, shape (height, width), C-contiguous."""
        depth = self._floor_depth.copy()
        box, inside, bulge, _, radius, distance = self._ball_patch(t)
        ball_depth = distance - bulge * (radius / self.height) * 1.5
        patch = depth[box]
        patch[inside] = ball_depth[inside]
        return depth
