"""Writes the fuzz targets' seed corpora under tests/fuzz/corpus/ from the catalogue texts (run from anywhere;
the files are committed, so this is needed only to change them)."""
import math
import os
import re
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def read(*parts):
    with open(os.path.join(ROOT, *parts), "rb") as f:
        return f.read()


def ideal_entries(name, ids):
    text = read("resources", name)
    for i in ids:
        m = re.search(rb'<AB Id="' + re.escape(i.encode()) + rb'".*?</AB>', text, re.S)
        yield i, m.group(0) + b"\n"


def main():
    for knot in ("1_1", "3_1", "3_1u", "4_1", "5_1", "5_2"):
        write("fseries_fuzz", knot, read("knot_fseries", f"knot.{knot}.fseries"))
    entries = list(ideal_entries("ideal.txt", ["0:1:1", "0:1:2", "3:1:1", "4:1:1"]))
    for i, entry in entries:
        safe = i.replace(":", "_")
        # The regex reference runs on inputs up to 2 KiB: keep the seeds within that.
        small = entry if len(entry) <= 2048 else entry[:entry.rfind(b"<Coeff", 0, 1900)] + b"</AB>\n"
        write("ideal_fuzz", safe, small)
        write("particle_fuzz", safe, entry)
    for k, text in enumerate([b"1.5, 2.5, 3.5", b"-0.000006,0.750450,1e3", b"0x1p3,inf,-nan", b" 12", b"1e+,2.,.5"]):
        write("numbers_fuzz", f"n{k}", text)
    # Polygons: kind 1 (int16 / 256) of a trefoil and a figure-eight, kind 0 of a small lattice loop.
    curves = {
        "trefoil": [(math.sin(t) + 2 * math.sin(2 * t), math.cos(t) - 2 * math.cos(2 * t), -math.sin(3 * t))
                    for t in (2 * math.pi * i / 60 for i in range(60))],
        "figure_eight": [((2 + math.cos(2 * t)) * math.cos(3 * t), (2 + math.cos(2 * t)) * math.sin(3 * t),
                          math.sin(4 * t)) for t in (2 * math.pi * i / 80 for i in range(80))],
    }
    for name, pts in curves.items():
        data = bytes([1]) + b"".join(struct.pack("<3h", *(round(c * 256) for c in p)) for p in pts) + bytes([2])
        write("crossings_fuzz", name, data)
    lattice = [(0, 0, 0), (2, 0, 1), (2, 2, 0), (0, 2, 1), (1, -1, 0), (1, 3, 1), (0, 0, 1)]
    write("crossings_fuzz", "lattice", bytes([0]) + bytes(c & 0xFF for p in lattice for c in p) + bytes([0]))


if __name__ == "__main__":
    main()
