"""log_frame's value checks: each refusal, in the order the checks run. A refused frame has no
effect at all, so none of these needs a daemon or a writer."""
import numpy as np
import pytest

from quillspan.data_daemon import _data_bridge as bridge


def frame(**changes):
    arguments = dict(robot_id="arm", robot_instance=0, data_type="RGB_IMAGES", name="cam",
                     width=2, height=2, dtype="uint8", payload=bytes(12), timestamp_ns=10)
    arguments.update(changes)
    return arguments


UNSUPPORTED = "unsupported video frame dtype {}; expected one of: uint8, float16, float32"
INCOMPATIBLE = ("video data type {} is incompatible with dtype {}; "
                "expected RGB_IMAGES + uint8 or DEPTH_IMAGES + float16/float32")

CASES = [
    pytest.param(frame(name=""), "robot_id, data_type and name must not be empty",
                 id="empty-name"),
    pytest.param(frame(robot_id="", dtype="bad"), "robot_id, data_type and name must not be empty",
                 id="identity-before-dtype"),
    pytest.param(frame(dtype="UINT8"), UNSUPPORTED.format('"UINT8"'), id="dtype-upper-case"),
    pytest.param(frame(dtype="uint8 "), UNSUPPORTED.format('"uint8 "'), id="dtype-trailing-blank"),
    pytest.param(frame(dtype="float64"), UNSUPPORTED.format('"float64"'), id="dtype-float64"),
    pytest.param(frame(dtype='u"i\\n\t\x01'), UNSUPPORTED.format(r'"u\"i\\n\t\u{1}"'),
                 id="dtype-quoted-with-escapes"),
    pytest.param(frame(dtype="bad", payload=b"x"), UNSUPPORTED.format('"bad"'),
                 id="dtype-before-length"),
    pytest.param(frame(data_type="rgb_images"), INCOMPATIBLE.format('"rgb_images"', '"uint8"'),
                 id="data-type-lower-case"),
    pytest.param(frame(data_type="DEPTH_IMAGES"), INCOMPATIBLE.format('"DEPTH_IMAGES"', '"uint8"'),
                 id="depth-with-uint8"),
    pytest.param(frame(dtype="float16"), INCOMPATIBLE.format('"RGB_IMAGES"', '"float16"'),
                 id="rgb-with-float16"),
    pytest.param(frame(data_type="POINT_CLOUDS", dtype="float32"),
                 INCOMPATIBLE.format('"POINT_CLOUDS"', '"float32"'), id="other-data-type"),
    pytest.param(frame(width=0), "width and height must be non-zero", id="width-zero"),
    pytest.param(frame(height=0, payload=b""), "width and height must be non-zero",
                 id="height-zero-empty-buffer"),
    pytest.param(frame(data_type="DEPTH_IMAGES", dtype="float32", width=2**31, height=2**31),
                 "width * height * bytes_per_pixel overflows", id="size-overflows"),
    pytest.param(frame(width=2**31, height=2**31),
                 "video frame buffer is 12 bytes; expected width*height*3 = "
                 "13835058055282163712 bytes for dtype Rgb8", id="huge-rgb-fits-64-bits"),
    pytest.param(frame(data_type="DEPTH_IMAGES", dtype="float16", width=2**31, height=2**31),
                 "video frame buffer is 12 bytes; expected width*height*2 = "
                 "9223372036854775808 bytes for dtype DepthF16", id="huge-depth16-fits-64-bits"),
    pytest.param(frame(width=640, height=480, payload=bytes(921599)),
                 "video frame buffer is 921599 bytes; expected width*height*3 = 921600 bytes "
                 "for dtype Rgb8", id="one-byte-short"),
    pytest.param(frame(data_type="DEPTH_IMAGES", dtype="float32", payload=bytes(12)),
                 "video frame buffer is 12 bytes; expected width*height*4 = 16 bytes for dtype "
                 "DepthF32", id="depth32-length"),
    pytest.param(frame(payload=np.zeros((2, 4, 3), np.uint8)[:, :2]),
                 "video frame buffer must be C-contiguous", id="column-slice"),
    pytest.param(frame(payload=np.asfortranarray(np.zeros((2, 2, 3), np.uint8))),
                 "video frame buffer must be C-contiguous", id="fortran-order"),
    pytest.param(frame(payload=np.zeros((2, 4, 3), np.uint8)[:, :1]),
                 "video frame buffer is 6 bytes; expected width*height*3 = 12 bytes for dtype "
                 "Rgb8", id="strided-wrong-length-reports-length"),
]


@pytest.mark.parametrize("arguments, text", CASES)
def test_refused_frame(arguments, text):
    with pytest.raises(ValueError) as raised:
        bridge.log_frame(**arguments)
    assert str(raised.value) == text
