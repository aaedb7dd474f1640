"""Exits 1 unless two MP4 files have the same boxes in the same order (sizes aside)."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "interop"))
import mp4_boxes  # noqa: E402


def layout(box_list, depth=0):
    lines = []
    for box in box_list:
        lines.append("  " * depth + box.kind.decode("latin1"))
        if box.kind in mp4_boxes.CONTAINERS:
            lines += layout(box.children(), depth + 1)
    return lines


def read(path):
    with open(path, "rb") as f:
        return layout(mp4_boxes.boxes(f.read()))


sys.exit(read(sys.argv[1]) != read(sys.argv[2]))
