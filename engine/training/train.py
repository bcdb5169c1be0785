#!/usr/bin/python3
"""Learns the doubling filters of the enlargement engine and writes engine/FilterTable.h.

Photographs: the wallpapers of Debian's plasma-workspace-wallpapers package.
Each is brought to a few working sizes (the ground truth), turned in the eight
ways of the square, reduced by two with an antialiased Catmull-Rom filter (the
low-resolution input), and every input pixel is classed exactly as
engine/LearnedStep.cpp classes it. Per class and output position, the filter
that best maps the pixel's neighbourhood onto the ground truth is the
least-squares solution, gently pulled towards the filter of all classes.

Set 0 doubles a reduced photograph. Set 1 doubles what set 0 produced from a
photograph reduced by four, towards the photograph itself: the second and
later doublings of a large enlargement.

Usage: /usr/bin/python3 engine/training/train.py [--out engine/FilterTable.h]
"""

import argparse
import glob
import os
import sys
import time

import numpy as np
from PIL import Image

RADIUS = 2  # the filters cover (2 * RADIUS + 1)^2 input pixels
TAPS = (2 * RADIUS + 1) ** 2
ANGLE_BINS = 24
STRENGTH_BINS = 3
COHERENCE_BINS = 3
BUCKETS = ANGLE_BINS * STRENGTH_BINS * COHERENCE_BINS
PAD = max(3, RADIUS)
REACH = 0.5  # as kReach in LearnedStep.cpp
PULL = 1e-6  # how strongly a class's filter is pulled towards the overall one
WORKING_SIZES = (1600, 1024, 640, 400)  # longest side of the ground truth
PHOTOGRAPHS = ("BytheWater", "ColdRipple", "ColorfulCups", "DarkestHour", "EveningGlow", "FallenLeaf",
               "Grey", "Kite", "OneStandsOut", "Path", "summer_1am")
SETS = 2


def set_radius(radius):
    global RADIUS, TAPS, PAD
    RADIUS, TAPS, PAD = radius, (2 * radius + 1) ** 2, max(3, radius)


def wallpapers():
    """The largest file of each photographed wallpaper (the drawn ones are left out)."""
    paths = []
    for name in PHOTOGRAPHS:
        files = glob.glob(f"/usr/share/wallpapers/{name}/contents/images/*.*")
        files = [f for f in files if f.lower().endswith((".jpg", ".jpeg", ".png"))]
        if files:
            paths.append(max(files, key=os.path.getsize))
    return paths


def luma(rgb):
    rgb = rgb.astype(np.float32)
    return (np.float32(0.299) * rgb[..., 0] + np.float32(0.587) * rgb[..., 1]
            + np.float32(0.114) * rgb[..., 2]).astype(np.float32)


def reduce(img, factor):
    """Antialiased Catmull-Rom reduction of an 8-bit RGB image by an integer factor."""
    h, w = img.shape[:2]
    pil = Image.fromarray(img)
    return np.asarray(pil.resize((w // factor, h // factor), Image.BICUBIC))


def fast_atan2(y, x):
    ax, ay = np.abs(x), np.abs(y)
    lo, hi = np.minimum(ax, ay), np.maximum(ax, ay)
    a = np.where(hi > 0, lo / np.where(hi > 0, hi, np.float32(1)), np.float32(0)).astype(np.float32)
    s = a * a
    r = ((np.float32(-0.0464964749) * s + np.float32(0.15931422)) * s - np.float32(0.327622764)) * s * a + a
    r = np.where(ay > ax, np.float32(1.57079637) - r, r)
    r = np.where(x < 0, np.float32(3.14159274) - r, r)
    return np.where(y < 0, -r, r).astype(np.float32)


def features(y):
    """Padded plane, root of the larger eigenvalue, coherence and angle bin per pixel."""
    h, w = y.shape
    p = np.pad(y, PAD, mode="edge")
    gx = np.float32(0.5) * (p[1:-1, 2:] - p[1:-1, :-2])
    gy = np.float32(0.5) * (p[2:, 1:-1] - p[:-2, 1:-1])
    o = PAD - 3  # offset of the products' first row/column that the sums use

    def smooth(q):
        q = q[o:o + h + 4, o:o + w + 4]
        v = (q[0:h] + q[4:h + 4]) + np.float32(4) * (q[1:h + 1] + q[3:h + 3]) + np.float32(6) * q[2:h + 2]
        s = (v[:, 0:w] + v[:, 4:w + 4]) + np.float32(4) * (v[:, 1:w + 1] + v[:, 3:w + 3]) + np.float32(6) * v[:, 2:w + 2]
        return np.float32(1.0 / 256.0) * s

    a, b, d = smooth(gx * gx), smooth(gx * gy), smooth(gy * gy)
    trace = a + d
    spread = np.sqrt((a - d) * (a - d) + np.float32(4) * b * b)
    root1 = np.sqrt(np.float32(0.5) * (trace + spread))
    root2 = np.sqrt(np.maximum(np.float32(0), np.float32(0.5) * (trace - spread)))
    coherence = (root1 - root2) / (root1 + root2 + np.float32(1e-3))
    angle = ((fast_atan2(np.float32(2) * b, a - d) + np.float32(3.14159274))
             * np.float32(ANGLE_BINS / 6.28318531)).astype(np.int32)
    angle[angle >= ANGLE_BINS] -= ANGLE_BINS
    return p, root1, coherence, angle


def bins(v, edges):
    out = np.zeros(v.shape, np.int32)
    for e in edges:
        out += (v >= np.float32(e)).astype(np.int32)
    return out


def classify(y, strength_edges, coherence_edges):
    p, root1, coherence, angle = features(y)
    bucket = (angle * STRENGTH_BINS + bins(root1, strength_edges)) * COHERENCE_BINS + bins(coherence, coherence_edges)
    h, w = y.shape
    c = PAD - RADIUS
    win = np.lib.stride_tricks.sliding_window_view(p[c:c + h + 2 * RADIUS, c:c + w + 2 * RADIUS],
                                                   (2 * RADIUS + 1, 2 * RADIUS + 1))
    return bucket.reshape(-1), win.reshape(h * w, TAPS)


def targets(hr):
    h, w = hr.shape[0] // 2, hr.shape[1] // 2
    t = hr[:2 * h, :2 * w].reshape(h, 2, w, 2).transpose(0, 2, 1, 3)
    return t.reshape(h * w, 4)


def double(y, filters, strength_edges, coherence_edges):
    """What the engine's doubling makes of y with one set of filters."""
    h, w = y.shape
    bucket, patch = classify(y, strength_edges, coherence_edges)
    out = np.einsum("nt,ntp->np", patch, filters[bucket]).reshape(h, w, 4)
    # Each output pixel stays near the range of the four input pixels around it.
    p = np.pad(y, 1, mode="edge")
    for phase, (dy, dx) in enumerate(((-1, -1), (-1, 1), (1, -1), (1, 1))):
        quad = [p[1:h + 1, 1:w + 1], p[1 + dy:h + 1 + dy, 1:w + 1],
                p[1:h + 1, 1 + dx:w + 1 + dx], p[1 + dy:h + 1 + dy, 1 + dx:w + 1 + dx]]
        lo = np.minimum(np.minimum(quad[0], quad[1]), np.minimum(quad[2], quad[3]))
        hi = np.maximum(np.maximum(quad[0], quad[1]), np.maximum(quad[2], quad[3]))
        reach = np.float32(REACH) * (hi - lo)
        out[..., phase] = np.clip(out[..., phase], lo - reach, hi + reach)
    return out.reshape(h, w, 2, 2).transpose(0, 2, 1, 3).reshape(2 * h, 2 * w).astype(np.float32)


def ground_truths(path):
    """The photograph at each working size, in the eight orientations of the square."""
    img = np.asarray(Image.open(path).convert("RGB"))
    for size in WORKING_SIZES:
        h, w = img.shape[:2]
        k = size / max(h, w)
        if k < 1:
            img_s = np.asarray(Image.fromarray(img).resize((max(8, round(w * k)), max(8, round(h * k))), Image.LANCZOS))
        else:
            img_s = img
        hh, ww = (img_s.shape[0] // 4) * 4, (img_s.shape[1] // 4) * 4
        img_s = img_s[:hh, :ww]
        for rot in range(4):
            r = np.ascontiguousarray(np.rot90(img_s, rot))
            yield r
            yield np.ascontiguousarray(r[:, ::-1])


def pair(hr, set_index, prev):
    """Input plane and target plane for one ground truth."""
    if set_index == 0:
        return luma(reduce(hr, 2)), luma(hr)
    quarter = luma(reduce(hr, 4))
    filters, s_edges, c_edges = prev
    return double(quarter, filters, s_edges, c_edges), luma(hr)


def edges_for(paths, set_index, prev):
    roots, cohs = [], []
    for path in paths:
        hr = next(ground_truths(path))
        y, _ = pair(hr, set_index, prev)
        _, root1, coherence, _ = features(y)
        roots.append(root1.reshape(-1)[::7])
        cohs.append(coherence.reshape(-1)[::7])
    roots, cohs = np.concatenate(roots), np.concatenate(cohs)
    # Strength classes split the pixels' summed gradient, not their number, in
    # equal parts: most of a photograph is nearly flat, and the edges matter.
    order = np.argsort(roots)
    mass = np.cumsum(roots[order]) / roots.sum()
    strength = [float(roots[order][np.searchsorted(mass, (i + 1) / STRENGTH_BINS)]) for i in range(STRENGTH_BINS - 1)]
    mask = roots >= strength[0]
    coherence = [float(np.quantile(cohs[mask], (i + 1) / COHERENCE_BINS)) for i in range(COHERENCE_BINS - 1)]
    return strength, coherence


def train_set(paths, set_index, prev):
    s_edges, c_edges = edges_for(paths, set_index, prev)
    ata = np.zeros((BUCKETS, TAPS, TAPS))
    atb = np.zeros((BUCKETS, TAPS, 4))
    counts = np.zeros(BUCKETS, np.int64)
    for n, path in enumerate(paths):
        for hr in ground_truths(path):
            y, target = pair(hr, set_index, prev)
            bucket, patch = classify(y, s_edges, c_edges)
            t = targets(target).astype(np.float64)
            # Every other pixel, in a checkerboard: neighbours say much the same.
            h, w = y.shape
            keep = ((np.arange(h)[:, None] + np.arange(w)[None, :]) % 2 == 0).reshape(-1)
            bucket, patch, t = bucket[keep], patch[keep], t[keep]
            order = np.argsort(bucket, kind="stable")
            bucket, patch, t = bucket[order], patch[order].astype(np.float64), t[order]
            starts = np.searchsorted(bucket, np.arange(BUCKETS + 1))
            for b in range(BUCKETS):
                lo, hi = starts[b], starts[b + 1]
                if hi > lo:
                    x = patch[lo:hi]
                    ata[b] += x.T @ x
                    atb[b] += x.T @ t[lo:hi]
                    counts[b] += hi - lo
        print(f"  set {set_index}: {n + 1}/{len(paths)} {os.path.basename(os.path.dirname(os.path.dirname(os.path.dirname(path))))}",
              file=sys.stderr)
    overall = np.linalg.solve(ata.sum(0) + np.eye(TAPS), atb.sum(0))
    filters = np.zeros((BUCKETS, TAPS, 4))
    for b in range(BUCKETS):
        mu = PULL * np.trace(ata[b]) / TAPS + 1.0
        filters[b] = np.linalg.solve(ata[b] + mu * np.eye(TAPS), atb[b] + mu * overall)
    print(f"  set {set_index}: {counts.sum()} samples, emptiest class {counts.min()}, edges {s_edges} {c_edges}",
          file=sys.stderr)
    return filters.astype(np.float32), s_edges, c_edges


def floats(values):
    return ", ".join(f"{v:.9g}f" for v in values)


def write_table(path, sets, seconds):
    with open(path, "w") as f:
        f.write("// Generated by engine/training/train.py from the plasma-workspace-wallpapers photographs;\n")
        f.write(f"// do not edit. Training took {seconds:.0f} s.\n#pragma once\n\nnamespace ampliscale::table {{\n\n")
        f.write(f"inline constexpr int kRadius = {RADIUS};\ninline constexpr int kSets = {len(sets)};\n")
        f.write(f"inline constexpr int kAngleBins = {ANGLE_BINS};\ninline constexpr int kStrengthBins = {STRENGTH_BINS};\n")
        f.write(f"inline constexpr int kCoherenceBins = {COHERENCE_BINS};\n\n")
        f.write(f"inline constexpr float kStrengthEdges[{len(sets)}][{STRENGTH_BINS - 1}] = {{\n")
        for _, s, _ in sets:
            f.write(f"    {{{floats(s)}}},\n")
        f.write("};\n")
        f.write(f"inline constexpr float kCoherenceEdges[{len(sets)}][{COHERENCE_BINS - 1}] = {{\n")
        for _, _, c in sets:
            f.write(f"    {{{floats(c)}}},\n")
        f.write("};\n\n// [set][class][tap][output position]\n")
        f.write(f"alignas(16) inline constexpr float kFilters[{len(sets)}][{BUCKETS}][{TAPS}][4] = {{\n")
        for filters, _, _ in sets:
            f.write("  {\n")
            for b in range(BUCKETS):
                f.write("    {" + ", ".join("{" + floats(filters[b, t]) + "}" for t in range(TAPS)) + "},\n")
            f.write("  },\n")
        f.write("};\n\n}  // namespace ampliscale::table\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(os.path.dirname(__file__), "..", "FilterTable.h"))
    parser.add_argument("--limit", type=int, default=0, help="use only the first N photographs (quick trials)")
    parser.add_argument("--radius", type=int, default=RADIUS, help="filter radius (1 to 3)")
    args = parser.parse_args()
    set_radius(args.radius)
    paths = wallpapers()
    if not paths:
        sys.exit("no wallpapers found: apt-get install plasma-workspace-wallpapers")
    if args.limit:
        paths = paths[:args.limit]
    start = time.time()
    sets = []
    for s in range(SETS):
        sets.append(train_set(paths, s, sets[-1] if sets else None))
    seconds = time.time() - start
    write_table(args.out, sets, seconds)
    print(f"{len(paths)} photographs, {seconds:.0f} s", file=sys.stderr)


if __name__ == "__main__":
    main()
