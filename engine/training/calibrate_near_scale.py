#!/usr/bin/python3
"""Finds how the engine should enlarge by less than 1.3 times.

There the engine doubles with the learned filters alone (no network) and
reduces the doubled picture to the target. The result is close to the
source's own scale, where the smoothing that the filter sets for compressed
pictures bring also takes real detail. For inputs made from the training
photographs (every other one of train_net.photographs(), longest side 768,
reduced by the factor with Catmull-Rom, kept clean or saved as a JPEG of
quality 90 or 75), this doubles as the engine does, with the blended sets of
FilterTable.h for a share of the measured compression, reduces to the
photograph's size with Catmull-Rom, and compares luma PSNR with Lanczos3's
enlargement. It prints, per factor, the mean and the least gain for each
share. The smallest factor from which some share keeps every photograph and
input above Lanczos3 is where the learned doubling starts (kLearnFrom in
engine/Enlarger.cpp); from there on, the share whose least gain is greatest
(never below Lanczos3 comes first, the mean decides ties) is
kNearScaleMeasureShare.

Usage: /usr/bin/python3 engine/training/calibrate_near_scale.py   (about 2 minutes)
"""

import os
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import train  # noqa: E402
import train_net  # noqa: E402

FACTORS = (1.05, 1.1, 1.2, 1.29)
QUALITIES = (0, 90, 75)  # 0: kept clean
SHARES = (0.0, 0.25, 0.5, 0.75, 1.0)


def resized(y, size, kernel):
    return np.asarray(Image.fromarray(y.astype(np.float32), "F").resize(size, kernel))


def main():
    first = train_net.filter_table()
    gains = [[[] for _ in QUALITIES] for _ in FACTORS]
    for path in train_net.photographs()[::2]:
        img = Image.open(path).convert("RGB")
        k = 768 / max(img.size)
        img = img.resize((round(img.width * k), round(img.height * k)), Image.LANCZOS)
        truth = train.luma(np.asarray(img))
        for i, factor in enumerate(FACTORS):
            low = np.asarray(img.resize((round(img.width / factor), round(img.height / factor)),
                                        Image.BICUBIC))
            for j, quality in enumerate(QUALITIES):
                y = train.luma(train.jpeg(low, quality) if quality else low)
                measure = train.degradation(y)
                lanczos = train.psnr(resized(y, img.size, Image.LANCZOS), truth)
                row = []
                for share in SHARES:
                    doubled = train.double(y, train.blend(first, share * measure),
                                           first["strength"][:2], first["coherence"][:2])
                    row.append(train.psnr(resized(doubled, img.size, Image.BICUBIC), truth) - lanczos)
                gains[i][j].append(row)
        print(f"  {os.path.basename(path)}", flush=True)
    gains = np.array(gains)  # factor, quality, photograph, share
    for i, factor in enumerate(FACTORS):
        for j, quality in enumerate(QUALITIES):
            g = gains[i, j]
            print(f"x{factor} {'clean' if not quality else f'q{quality}':5s} mean "
                  + " ".join(f"{v:+.3f}" for v in g.mean(0)) + " | least "
                  + " ".join(f"{v:+.2f}" for v in g.min(0)))
    least = gains.min((1, 2))  # factor, share
    start = next((i for i in range(len(FACTORS)) if least[i].max() >= 0), len(FACTORS))
    if start == len(FACTORS):
        print("no share keeps every photograph above Lanczos3 at any factor")
        return
    least_on, mean_on = least[start:].min(0), gains[start:].mean((0, 1, 2))
    best = max(range(len(SHARES)), key=lambda k: (round(least_on[k], 2), mean_on[k]))
    print(f"learned doubling from x{FACTORS[start]}; from there, least gain per share "
          + " ".join(f"{v:+.2f}" for v in least_on) + ", mean " + " ".join(f"{v:+.3f}" for v in mean_on)
          + f": share {SHARES[best]:.2f}")


if __name__ == "__main__":
    main()
