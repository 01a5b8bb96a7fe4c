"""Natural-looking RGB frames for the benchmarks: a real photograph shipped with scikit-image
(the astronaut portrait), scaled to cover the frame with a margin, and cropped at an offset that
moves from frame to frame, as a camera panning slowly over a scene would see it.

Run as a program, it writes the frames the C++ PNG benchmark reads:

    python3 bench/natural_frames.py DIR [COUNT]

DIR/photo_<W>x<H>.rgb holds COUNT frames (default 8) of W×H×3 bytes each, one after another,
for every size in SIZES.
"""
import pathlib
import sys

import numpy as np

SIZES = ((640, 480), (1920, 1080))

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


def main(argv):
    if len(argv) not in (2, 3):
        sys.exit(__doc__)
    out = pathlib.Path(argv[1])
    count = int(argv[2]) if len(argv) == 3 else 8
    out.mkdir(parents=True, exist_ok=True)
    for width, height in SIZES:
        with open(out / f"photo_{width}x{height}.rgb", "wb") as file:
            for frame in natural_frames(width, height, count):
                file.write(frame.tobytes())


if __name__ == "__main__":
    main(sys.argv)
