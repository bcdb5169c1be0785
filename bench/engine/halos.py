#!/usr/bin/python3
"""Counts halos: how far each enlargement's luma lies beyond its truth's own
range over the (2 r + 1)^2 pixels around it, r the factor rounded. A halo is
a bright or dark line that nothing near it in the truth has.

Usage: bench/engine/halos.py SAVED TRUTHS
  SAVED: a folder that engine_quality_bench --save wrote (NAME_KIND_xF_METHOD.png)
  TRUTHS: the folder of the photographs it was given (NAME.png, NAME.jpg)
Prints per input kind, factor and method the mean excess in levels, the share
of pixels beyond by more than 8 levels (per mille), and the 99.9th percentile.
"""
import collections
import glob
import os
import re
import sys

import numpy as np
from PIL import Image
from scipy.ndimage import maximum_filter, minimum_filter


def luma(path):
    a = np.asarray(Image.open(path).convert("RGB")).astype(np.float32)
    return 0.299 * a[..., 0] + 0.587 * a[..., 1] + 0.114 * a[..., 2]


def main():
    saved, truths = sys.argv[1], sys.argv[2]
    truth = {}
    rows = collections.defaultdict(list)
    for path in sorted(glob.glob(os.path.join(saved, "*.png"))):
        m = re.match(r"(.+)_(clean|\d+)_x([\d.]+)_(\w+)\.png$", os.path.basename(path))
        if not m:
            continue
        name, kind, factor, method = m.groups()
        if name not in truth:
            found = glob.glob(os.path.join(truths, name + ".*"))
            truth[name] = luma(found[0]) if found else None  # the drawings have no file
        if truth[name] is None:
            continue
        out = luma(path)
        t = truth[name][:out.shape[0], :out.shape[1]]
        r = max(1, round(float(factor)))
        excess = np.maximum(out - maximum_filter(t, 2 * r + 1), 0) + \
            np.maximum(minimum_filter(t, 2 * r + 1) - out, 0)
        edge = r + 2  # the bench's own shave, and the filters' border
        excess = excess[edge:-edge, edge:-edge]
        rows[(kind, float(factor), method)].append(
            (excess.mean(), (excess > 8).mean() * 1000, np.percentile(excess, 99.9)))
    for (kind, factor, method), values in sorted(rows.items()):
        v = np.array(values)
        print(f"{kind:>5} x{factor:<5g} {method:<9} mean {v[:, 0].mean():.3f}  "
              f"beyond 8: {v[:, 1].mean():.2f} per mille  p99.9 {v[:, 2].mean():.1f}  ({len(v)} photographs)")


if __name__ == "__main__":
    main()
