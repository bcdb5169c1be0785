#!/usr/bin/python3
"""Learns the doubling filters of the enlargement engine and writes engine/FilterTable.h.

Photographs: the wallpapers of Debian's plasma-workspace-wallpapers package.
Each is brought to a few working sizes (the ground truth) and turned in the
eight ways of the square. Its low-resolution input is made the way pictures
really come: reduced with one of several filters, sometimes with a little
sensor noise, and mostly saved as a JPEG of a random quality from 50 to 95.
Every input pixel is classed exactly as engine/LearnedStep.cpp classes it.
Per class and output position, the filter that best maps the pixel's
neighbourhood onto the ground truth is the least-squares solution, gently
pulled towards the filter of all classes.

The first doubling has one set of filters per degradation level: the engine
measures how strongly its source was compressed (Degradation.cpp, mirrored by
`degradation` below) and blends the two sets nearest to that measure. Each
training input counts towards the levels around its own measure, with the
same weights. The last set doubles what the first doubling made of a
photograph reduced by four, towards the photograph itself: the second and
later doublings of a large enlargement.

Usage: /usr/bin/python3 engine/training/train.py [--out engine/FilterTable.h]
"""

import argparse
import glob
import io
import os
import sys
import time

import numpy as np
from PIL import Image

RADIUS = 3  # the filters cover (2 * RADIUS + 1)^2 input pixels
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
# Degradation measures at which the first doubling's sets apply: clean, about
# JPEG quality 90, 80 and 60.
LEVELS = (0.0, 0.08, 0.18, 0.32)
JPEG_SHARE = 0.7  # of the inputs saved as JPEG
NOISE_SHARE = 0.2  # of the inputs with sensor noise
# Of the JPEGs, when qualities below 50 are asked for: web thumbnails and
# messenger pictures, a third of what is trained on.
LOW_QUALITY_SHARE = 0.35
SEED = 13


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


def neighbour_range(core):
    """Where the doubling keeps its pixels: for each doubled pixel, the range of the
    four input pixels in the square towards its corner, widened by REACH. core holds
    the input with a margin of one pixel (any leading axes); the result is two planes
    of twice the inner size."""
    h, w = core.shape[-2] - 2, core.shape[-1] - 2
    lo = np.empty(core.shape[:-2] + (2 * h, 2 * w), np.float32)
    hi = np.empty_like(lo)
    for dy in (0, 1):
        for dx in (0, 1):
            quad = [core[..., a:a + h, b:b + w] for a in (dy, dy + 1) for b in (dx, dx + 1)]
            low = np.minimum(np.minimum(quad[0], quad[1]), np.minimum(quad[2], quad[3]))
            high = np.maximum(np.maximum(quad[0], quad[1]), np.maximum(quad[2], quad[3]))
            reach = np.float32(REACH) * (high - low)
            lo[..., dy::2, dx::2], hi[..., dy::2, dx::2] = low - reach, high + reach
    return lo, hi


# As engine/LearnedStep.h: a pixel that more than half of the 5 x 5 pixels
# around it equal to within the tolerance is flat ground, and its enlarged
# pixels keep its level.
PLATEAU_TOLERANCE = np.float32(1.0)
PLATEAU_SHARE = 13


def plateaus(y):
    """Where y (any leading axes, edges repeated beyond it) is flat ground."""
    pad = [(0, 0)] * (y.ndim - 2) + [(2, 2), (2, 2)]
    p = np.pad(y, pad, mode="edge")
    h, w = y.shape[-2:]
    same = np.full(y.shape, -1, np.int32)
    for dy in range(5):
        for dx in range(5):
            same += np.abs(p[..., dy:dy + h, dx:dx + w] - y) <= PLATEAU_TOLERANCE
    return same >= PLATEAU_SHARE


def hold_plateaus(y, out, scale):
    """out, an enlargement of y by scale, with flat ground's pixels kept at its level."""
    grow = lambda v: np.repeat(np.repeat(v, scale, -2), scale, -1)  # noqa: E731
    own = grow(y)
    return np.where(grow(plateaus(y)), np.clip(out, own - PLATEAU_TOLERANCE, own + PLATEAU_TOLERANCE), out)


def double(y, filters, strength_edges, coherence_edges):
    """What the engine's doubling makes of y with one set of filters."""
    h, w = y.shape
    bucket, patch = classify(y, strength_edges, coherence_edges)
    out = np.einsum("nt,ntp->np", patch, filters[bucket]).reshape(h, w, 2, 2)
    out = out.transpose(0, 2, 1, 3).reshape(2 * h, 2 * w).astype(np.float32)
    # Each output pixel stays near the range of the four input pixels around it.
    lo, hi = neighbour_range(np.pad(y, 1, mode="edge"))
    return hold_plateaus(y, np.clip(out, lo, hi), 2).astype(np.float32)


# The upper five coefficients of an 8-point DCT: what JPEG quantises away first.
_K = np.arange(8)
HIGH = np.cos(np.pi * (2 * _K[None, :] + 1) * _K[:, None] / 16)[3:].astype(np.float32)
SAMPLES = 1 << 18  # pixels of the picture the measure reads, at most
ZERO = 1.5  # a coefficient this small counts as quantised away


def grid_excess(y):
    """How much more often the high coefficients of 8-pixel row segments vanish
    at the best of the eight grid phases than at the phases on average: 0
    without a block grid, more the harder a JPEG grid quantised its blocks."""
    h, w = y.shape
    step = max(1, -(-(h * w) // SAMPLES))
    rows = y[::step].astype(np.float32)
    share = []
    for p in range(8):
        n = (w - p) // 8
        c = rows[:, p:p + 8 * n].reshape(rows.shape[0], n, 8) @ HIGH.T
        share.append(float(np.count_nonzero(np.abs(c) < np.float32(ZERO))) / c.size)
    return max(share) - sum(share) / 8


def degradation(y):
    """0 for a clean picture, rising with the strength of JPEG compression."""
    h, w = y.shape
    # Lines shorter than two blocks show no grid: read along the long side alone.
    read = [grid_excess(y)] if w >= 16 else []
    read += [grid_excess(np.ascontiguousarray(y.T))] if h >= 16 else []
    return sum(read) / len(read) if read else 0.0


# The noise reading of engine/Noise.cpp: the quietest tenth of 16-pixel segments
# of the 3 x 3 high-pass residual, in luma and in chroma, the lesser of the two.
NOISE_SEGMENT = 16
NOISE_BINS = 256  # of 1/8 level of mean residual
NOISE_LEVELS_PER_RESIDUAL = np.sqrt(np.pi / 2) / 6 / 0.69
NOISE_CHROMA_PER_LUMA = 1.4
NOISE_LEAST_SEGMENTS = 256  # fewer: no quiet ground to read, the picture reads as clean


def _quiet_sigma(plane, step):
    p = plane.astype(np.float32)
    rows = np.arange(1, p.shape[0] - 1, step)
    lap = lambda r: p[r][:, :-2] - 2 * p[r][:, 1:-1] + p[r][:, 2:]
    residual = lap(rows - 1) - 2 * lap(rows) + lap(rows + 1)
    n = residual.shape[1] // NOISE_SEGMENT
    means = np.abs(residual[:, :n * NOISE_SEGMENT]).reshape(len(rows), n, NOISE_SEGMENT).sum(2) / NOISE_SEGMENT
    counts = np.bincount(np.minimum((means * 8).astype(int), NOISE_BINS - 1).ravel(), minlength=NOISE_BINS)
    if counts.sum() < NOISE_LEAST_SEGMENTS:
        return 0.0
    b = int(np.searchsorted(np.cumsum(counts), np.ceil(0.1 * counts.sum())))
    return (b + 0.5) / 8 * NOISE_LEVELS_PER_RESIDUAL


def noise_sigma(rgb):
    """The noise's deviation in luma levels, as the engine reads it; 0 for a clean picture."""
    h, w = rgb.shape[:2]
    if w < NOISE_SEGMENT + 2 or h < 3:
        return 0.0
    step = max(1, -(-(h * w) // SAMPLES))
    y = luma(rgb)
    blue, red = rgb[..., 2].astype(np.float32) - y, rgb[..., 0].astype(np.float32) - y
    chroma = 0.5 * (_quiet_sigma(blue, step) + _quiet_sigma(red, step))
    return min(_quiet_sigma(y, step), chroma / NOISE_CHROMA_PER_LUMA)


def level_weights(d):
    """The share of each degradation level in a picture of measure d."""
    weights = np.zeros(len(LEVELS))
    if d <= LEVELS[0]:
        weights[0] = 1
    elif d >= LEVELS[-1]:
        weights[-1] = 1
    else:
        i = int(np.searchsorted(LEVELS, d)) - 1
        t = (d - LEVELS[i]) / (LEVELS[i + 1] - LEVELS[i])
        weights[i], weights[i + 1] = 1 - t, t
    return weights


KERNELS = (Image.BICUBIC, Image.BICUBIC, Image.LANCZOS, Image.BILINEAR)


def jpeg(rgb, quality):
    """An RGB picture saved as a JPEG of the given quality (PIL, 4:2:0) and read back."""
    buffer = io.BytesIO()
    Image.fromarray(rgb).save(buffer, "JPEG", quality=quality)
    buffer.seek(0)
    return np.asarray(Image.open(buffer).convert("RGB"))


def psnr(a, b):
    """Of a result, rounded to whole levels, against a truth."""
    return 10 * np.log10(255 ** 2 / np.mean((np.clip(np.rint(a), 0, 255) - np.rint(b)) ** 2))


def degrade(hr, factor, rng, jpeg_low=50):
    """A low-resolution input as pictures come: reduced, maybe noisy, mostly a JPEG.
    With jpeg_low below 50, LOW_QUALITY_SHARE of the JPEGs take a quality from
    jpeg_low to 49, the rest 50 to 95 as before."""
    h, w = hr.shape[:2]
    kernel = KERNELS[rng.integers(len(KERNELS))]
    low = np.asarray(Image.fromarray(hr).resize((w // factor, h // factor), kernel))
    if rng.random() < NOISE_SHARE:
        noisy = low.astype(np.float32) + rng.normal(0, rng.uniform(0.5, 2.0), low.shape).astype(np.float32)
        low = np.clip(np.rint(noisy), 0, 255).astype(np.uint8)
    if rng.random() < JPEG_SHARE:
        strong = jpeg_low < 50 and rng.random() < LOW_QUALITY_SHARE
        low = jpeg(low, int(rng.integers(jpeg_low, 50)) if strong else int(rng.integers(50, 96)))
    return low


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


def blend(first, d):
    """The first doubling's filters for a picture of degradation measure d."""
    weights = level_weights(d)
    return sum(wt * f for wt, f in zip(weights, first["filters"]) if wt > 0).astype(np.float32)


def pair(hr, later, first, rng):
    """Input plane, target plane and the input's level weights for one ground truth."""
    if not later:
        y = luma(degrade(hr, 2, rng))
        return y, luma(hr), level_weights(degradation(y))
    quarter = luma(degrade(hr, 4, rng))
    filters = blend(first, degradation(quarter))
    return double(quarter, filters, first["strength"], first["coherence"]), luma(hr), np.ones(1)


def edges_for(paths, later, first, rng):
    roots, cohs = [], []
    for path in paths:
        hr = next(ground_truths(path))
        y, _, _ = pair(hr, later, first, rng)
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


def train_sets(paths, later, first, rng):
    """One set of filters per level (the first doubling) or a single set (later ones)."""
    s_edges, c_edges = edges_for(paths, later, first, rng)
    levels = 1 if later else len(LEVELS)
    ata = np.zeros((levels, BUCKETS, TAPS, TAPS))
    atb = np.zeros((levels, BUCKETS, TAPS, 4))
    counts = np.zeros((levels, BUCKETS))
    for n, path in enumerate(paths):
        for hr in ground_truths(path):
            y, target, weights = pair(hr, later, first, rng)
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
                    xx, xt = x.T @ x, x.T @ t[lo:hi]
                    for level in np.nonzero(weights)[0]:
                        ata[level, b] += weights[level] * xx
                        atb[level, b] += weights[level] * xt
                        counts[level, b] += weights[level] * (hi - lo)
        print(f"  {'later' if later else 'first'}: {n + 1}/{len(paths)} "
              f"{os.path.basename(os.path.dirname(os.path.dirname(os.path.dirname(path))))}", file=sys.stderr)
    sets = []
    for level in range(levels):
        overall = np.linalg.solve(ata[level].sum(0) + np.eye(TAPS), atb[level].sum(0))
        filters = np.zeros((BUCKETS, TAPS, 4))
        for b in range(BUCKETS):
            mu = PULL * np.trace(ata[level, b]) / TAPS + 1.0
            filters[b] = np.linalg.solve(ata[level, b] + mu * np.eye(TAPS), atb[level, b] + mu * overall)
        sets.append(filters.astype(np.float32))
        print(f"  level {level}: {counts[level].sum():.0f} samples, emptiest class {counts[level].min():.0f}",
              file=sys.stderr)
    print(f"  edges {s_edges} {c_edges}", file=sys.stderr)
    return {"filters": sets, "strength": s_edges, "coherence": c_edges}


def floats(values):
    def literal(v):
        text = f"{v:.9g}"
        return text + ("f" if any(c in text for c in ".einf") else ".0f")
    return ", ".join(literal(v) for v in values)


def write_table(path, first, later, seconds):
    sets = first["filters"] + later["filters"]
    with open(path, "w") as f:
        f.write("// Generated by engine/training/train.py from the plasma-workspace-wallpapers photographs;\n")
        f.write(f"// do not edit. Training took {seconds:.0f} s.\n#pragma once\n\nnamespace ampliscale::table {{\n\n")
        f.write(f"inline constexpr int kRadius = {RADIUS};\ninline constexpr int kAngleBins = {ANGLE_BINS};\n")
        f.write(f"inline constexpr int kStrengthBins = {STRENGTH_BINS};\n")
        f.write(f"inline constexpr int kCoherenceBins = {COHERENCE_BINS};\n\n")
        f.write("// The first doubling's sets, one per degradation measure, then the later doublings' set.\n")
        f.write(f"inline constexpr int kLevels = {len(LEVELS)};\ninline constexpr int kSets = {len(sets)};\n")
        f.write(f"inline constexpr float kLevelMeasures[{len(LEVELS)}] = {{{floats(LEVELS)}}};\n\n")
        f.write("// Class edges: [0] for the first doubling, [1] for later ones.\n")
        f.write(f"inline constexpr float kStrengthEdges[2][{STRENGTH_BINS - 1}] = {{\n")
        for group in (first, later):
            f.write(f"    {{{floats(group['strength'])}}},\n")
        f.write("};\n")
        f.write(f"inline constexpr float kCoherenceEdges[2][{COHERENCE_BINS - 1}] = {{\n")
        for group in (first, later):
            f.write(f"    {{{floats(group['coherence'])}}},\n")
        f.write("};\n\n// [set][class][tap][output position]\n")
        f.write(f"alignas(16) inline constexpr float kFilters[{len(sets)}][{BUCKETS}][{TAPS}][4] = {{\n")
        for filters in sets:
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
    rng = np.random.default_rng(SEED)
    start = time.time()
    first = train_sets(paths, False, None, rng)
    later = train_sets(paths, True, first, rng)
    seconds = time.time() - start
    write_table(args.out, first, later, seconds)
    print(f"{len(paths)} photographs, {seconds:.0f} s", file=sys.stderr)


if __name__ == "__main__":
    main()
