"""Natural-looking RGB frames for the benchmarks, two sets:

- photo: a real photograph shipped with scikit-image (the astronaut portrait), scaled to cover
  the frame with a margin, and cropped at an offset that moves from frame to frame, as a camera
  panning slowly over a scene would see it;
- noisy: what a camera sensor makes of a smooth scene: soft gradients and out-of-focus shapes
  panned the same way, with fresh read and shot noise in every frame. Noise is what makes camera
  frames compress less than a clean photograph, so the encoder's cost per output byte shows.
  The noise comes from a fixed integer hash, so the frames are the same on every machine.

Run as a program, it writes the frames the C++ PNG benchmark reads:

    python3 bench/natural_frames.py DIR [COUNT]

DIR/<set>_<W>x<H>.rgb holds COUNT frames (default 8) of W×H×3 bytes each, one after another,
for every set in SETS and every size in SIZES.
"""
import pathlib
import sys

import numpy as np

SIZES = ((640, 480), (1920, 1080))
SETS = ("photo", "noisy")

# How far the crop window can travel, in pixels, and how far it moves a frame.
_MARGIN = 48
_STEP_X, _STEP_Y = 5, 3


def _scaled_photo(width, height):
    from skimage import data, transform

    photo = data.astronaut()  # 512×512×3 uint8
    scale = max((width + _MARGIN) / photo.shape[1], (height + _MARGIN) / photo.shape[0])
    shape = (int(np.ceil(photo.shape[0] * scale)), int(np.ceil(photo.shape[1] * scale)))
    scaled = transform.resize(photo, shape, order=1, anti_aliasing=False, preserve_range=True)
    return np.clip(np.rint(scaled), 0, 255).astype(np.uint8)


def natural_frames(width, height, count):
    """count frames of width×height, each a C-contiguous uint8 array of shape (height, width, 3);
    consecutive frames differ by a small pan of the same photograph."""
    photo = _scaled_photo(width, height)
    span_y = photo.shape[0] - height
    span_x = photo.shape[1] - width
    frames = []
    for i in range(count):
        # A triangle wave keeps the window inside the photograph however many frames are asked.
        x = _bounce(i * _STEP_X, span_x)
        y = _bounce(i * _STEP_Y, span_y)
        frames.append(np.ascontiguousarray(photo[y:y + height, x:x + width]))
    return frames


def _bounce(position, span):
    if span <= 0:
        return 0
    period = 2 * span
    position %= period
    return position if position <= span else period - position


# Sensor noise in 8-bit levels: a constant read noise, and shot noise that grows with the light.
_READ_NOISE = 2.0
_SHOT_GAIN = 0.04


def _smooth_scene(width, height):
    """A scene with nothing sharp in it, as float RGB in [0, 255]: a lit wall and floor, with
    blurred shapes in front; larger than the frame by the panning margin."""
    h, w = height + _MARGIN, width + _MARGIN
    y = np.linspace(0.0, 1.0, h)[:, None]
    x = np.linspace(0.0, 1.0, w)[None, :]
    light = 0.55 + 0.45 * np.cos(2.2 * (x - 0.35)) * np.cos(1.6 * (y - 0.3))
    scene = np.empty((h, w, 3))
    for channel, (wall, floor) in enumerate(((170, 120), (160, 100), (140, 80))):
        scene[..., channel] = (wall + (floor - wall) * np.clip((y - 0.62) * 8, 0, 1)) * light
    # Out-of-focus objects: wide Gaussian blobs of colour, fixed in the scene.
    blobs = ((0.25, 0.55, 0.12, (60, -30, -50)), (0.7, 0.4, 0.18, (-40, 20, 70)),
             (0.5, 0.8, 0.1, (30, 40, -20)), (0.85, 0.75, 0.08, (-70, -60, -40)))
    for cx, cy, radius, colour in blobs:
        weight = np.exp(-((x - cx) ** 2 * (w / h) ** 2 + (y - cy) ** 2) / (2 * radius ** 2))
        scene += weight[..., None] * np.array(colour, dtype=float)
    return np.clip(scene, 0, 255)


def _hash_uniforms(frame_index, shape):
    """Four arrays of independent uniforms in [0, 1), one value per element of shape, from an
    integer hash of the frame index and the element's position (splitmix64's finaliser)."""
    # Unsigned 64-bit array arithmetic wraps, as the hash wants.
    seed = np.uint64(((frame_index + 1) * 0x9E3779B97F4A7C15) % 2 ** 64)
    z = np.arange(int(np.prod(shape)), dtype=np.uint64) + seed
    z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
    z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
    z = z ^ (z >> np.uint64(31))
    return [((z >> np.uint64(16 * i)) & np.uint64(0xFFFF)).astype(np.float32).reshape(shape)
            / 65536.0 for i in range(4)]


def noisy_frames(width, height, count):
    """count frames of width×height, like natural_frames: a smooth scene panned from frame to
    frame, with new sensor noise in each (Gaussian, from the sum of four uniforms)."""
    scene = _smooth_scene(width, height)
    frames = []
    for i in range(count):
        x = _bounce(i * _STEP_X, _MARGIN)
        y = _bounce(i * _STEP_Y, _MARGIN)
        clean = scene[y:y + height, x:x + width]
        # The sum of four uniforms has mean 2 and variance 1/3.
        normal = (sum(_hash_uniforms(i, clean.shape)) - 2.0) * np.sqrt(3.0)
        sigma = np.sqrt(_READ_NOISE ** 2 + _SHOT_GAIN * clean)
        frames.append(np.ascontiguousarray(
            np.clip(np.rint(clean + sigma * normal), 0, 255).astype(np.uint8)))
    return frames


FRAME_SETS = {"photo": natural_frames, "noisy": noisy_frames}


def main(argv):
    if len(argv) not in (2, 3):
        sys.exit(__doc__)
    out = pathlib.Path(argv[1])
    count = int(argv[2]) if len(argv) == 3 else 8
    out.mkdir(parents=True, exist_ok=True)
    for name in SETS:
        for width, height in SIZES:
            with open(out / f"{name}_{width}x{height}.rgb", "wb") as file:
                for frame in FRAME_SETS[name](width, height, count):
                    file.write(frame.tobytes())


if __name__ == "__main__":
    main(sys.argv)
