#!/usr/bin/python3
"""Finds how the engine's noise reading should bend its first doubling.

Sensor noise in a picture that was never a JPEG is sharpened into grain by the
doubling for clean pictures. The filter sets and the network's answers for
compressed pictures smooth it. For noisy inputs made from the training
photographs (every other one of train_net.photographs(), longest side 768,
halved, then Gaussian noise of 0 to 6 levels in each colour channel), this
reads the noise as the engine does (train.noise_sigma), and for each measure
on a grid doubles as the engine's first doubling does: the blended sets of
FilterTable.h, corrected by the network of NetWeights.h by the share that its
half-size copy asks (StrengthCheck). It prints the floor for the measure,
clamp(slope * (sigma - start), 0, 0.32), that loses the least PSNR against
the best measure of each input, for kFloorFrom and kFloorPerLevel in
engine/Noise.cpp.

With "chroma" instead, it finds from how much noise on the chroma is better
enlarged by the cubic B-spline, which smooths, than by Catmull-Rom, which
interpolates (kNoisyColourFrom): the threshold with the largest mean gain.

Usage: /usr/bin/python3 engine/training/calibrate_noise.py [doublings | chroma]
  doublings: 1 (the default) calibrates enlargements by two, 2 by four
  (about 12 and 5 minutes); chroma takes about 2 minutes.
"""

import os
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import train  # noqa: E402
import train_net  # noqa: E402

MEASURES = np.array([0.0, 0.04, 0.08, 0.12, 0.16, 0.2, 0.25, 0.32])
NOISE = (0, 1, 2, 3, 4, 6)
CHROMA = sys.argv[1:] == ["chroma"]
DOUBLINGS = int(sys.argv[1]) if len(sys.argv) > 1 and not CHROMA else 1  # 2: enlargements by four


def header_weights():
    """The network as the engine runs it: raw luma in, corrections out."""
    numbers = train_net.header_arrays("NetWeights.h")
    width, first = train_net.WIDTH, train_net.LAYERS[0][2]
    middle = numbers("kMiddleWeights").reshape(-1, 3, 3, width, width)
    return {"first": numbers("kFirstWeights").reshape(first, first, width),
            "first_bias": numbers("kFirstBias"), "measure": numbers("kMeasureWeights"),
            "middle": list(middle), "middle_bias": list(numbers("kMiddleBias").reshape(len(middle), width)),
            "last": numbers("kLastWeights").reshape(3, 3, width, 4), "last_bias": numbers("kLastBias")}


def conv(x, w, bias):
    """Valid convolution of x (h, w, in) with w (k, k, in, out)."""
    k = w.shape[0]
    h, wd = x.shape[0] - k + 1, x.shape[1] - k + 1
    out = np.broadcast_to(bias, (h, wd, w.shape[3])).astype(np.float32)
    for ky in range(k):
        for kx in range(k):
            out = out + x[ky:ky + h, kx:kx + wd] @ w[ky, kx]
    return out


def correction(net, y, measure):
    """The four corrections of each pixel of y, laid out on the doubled grid."""
    x = np.pad(y, train_net.HALO, mode="edge")[..., None]
    x = np.maximum(conv(x, net["first"][:, :, None, :], net["first_bias"] + measure * net["measure"]), 0)
    for w, b in zip(net["middle"], net["middle_bias"]):
        x = np.maximum(conv(x, w, b), 0)
    x = conv(x, net["last"], net["last_bias"])
    h, w = y.shape
    return x.reshape(h, w, 2, 2).transpose(0, 2, 1, 3).reshape(2 * h, 2 * w)


def first_doubling(net, first, y, measure, share):
    base = train.double(y, train.blend(first, measure), first["strength"][:2], first["coherence"][:2])
    lo, hi = train.neighbour_range(np.pad(y, 1, mode="edge"))
    c = np.clip(base + correction(net, y, measure), lo, hi) - base
    if share is None:  # the share that best doubles y's own half-size copy
        h, w = y.shape
        half = np.asarray(Image.fromarray(y).resize((w // 2, h // 2), Image.BICUBIC))
        hb, hc = first_doubling(net, first, half, measure, 1.0)
        inner = y[:2 * (h // 2), :2 * (w // 2)]
        share = float(np.clip(np.sum(hc * (inner - hb)) / max(np.sum(hc * hc), 1e-9), 0, 1))
    return base, share * c


def enlarge(net, first, y, measure):
    """The engine's luma enlarged by 2 ** DOUBLINGS: the first doubling, then the later ones."""
    out = sum(first_doubling(net, first, y, measure, None))
    filters, strength, coherence = first["later"]
    for _ in range(DOUBLINGS - 1):
        out = train.double(out, filters, strength, coherence)
    return out


def kernel_weights(name, x):
    x = np.abs(x)
    if name == "bspline":
        return np.where(x < 1, (0.5 * x - 1) * x * x + 2 / 3, np.where(x < 2, (2 - x) ** 3 / 6, 0))
    return np.where(x < 1, (1.5 * x - 2.5) * x * x + 1, np.where(x < 2, ((-0.5 * x + 2.5) * x - 4) * x + 2, 0))


def doubled(plane, name):
    """plane (h, w, channels) doubled along both axes by a cubic, centres aligned, edges repeated."""
    for axis in (0, 1):
        n = plane.shape[axis]
        centre = (np.arange(2 * n) + 0.5) / 2 - 0.5
        taps = np.floor(centre - 2).astype(int)[:, None] + 1 + np.arange(4)
        weights = kernel_weights(name, taps - centre[:, None])
        weights /= weights.sum(1, keepdims=True)
        picked = np.take(plane, np.clip(taps, 0, n - 1), axis=axis)  # axis grows a tap axis after it
        shape = [1] * picked.ndim
        shape[axis], shape[axis + 1] = weights.shape
        plane = (picked * weights.reshape(shape)).sum(axis + 1)
    return plane


def chroma_main():
    rng = np.random.default_rng(train_net.SEED)
    readings, gains = [], []
    for path in train_net.photographs()[::2]:
        img = Image.open(path).convert("RGB")
        k = 512 / max(img.size)
        hr = np.asarray(img.resize((round(img.width * k) // 2 * 2, round(img.height * k) // 2 * 2),
                                   Image.LANCZOS)).astype(np.float32)
        low = np.asarray(Image.fromarray(hr.astype(np.uint8)).resize((hr.shape[1] // 2, hr.shape[0] // 2),
                                                                       Image.BICUBIC)).astype(np.float32)
        y = train.luma(hr)
        truth = np.stack([hr[..., 2] - y, hr[..., 0] - y], -1)[2:-2, 2:-2]
        for sigma in NOISE:
            noisy = np.clip(np.rint(low + rng.normal(0, sigma, low.shape)), 0, 255).astype(np.uint8)
            ly = train.luma(noisy)
            chroma = np.stack([noisy[..., 2] - ly, noisy[..., 0] - ly], -1).astype(np.float64)
            errors = [np.mean((doubled(chroma, name)[2:-2, 2:-2] - truth) ** 2) for name in ("catmullrom", "bspline")]
            readings.append(train.noise_sigma(noisy))
            gains.append(10 * np.log10(errors[0] / errors[1]))
            print(f"  {os.path.basename(path)} noise {sigma}: reads {readings[-1]:.2f}, "
                  f"B-spline {gains[-1]:+.2f} dB", flush=True)
    readings, gains = np.array(readings), np.array(gains)
    best = max((float(np.mean(np.where(readings >= t, gains, 0))), t) for t in np.arange(0.4, 4.01, 0.2))
    print(f"B-spline chroma from {best[1]:.1f} levels of noise: {best[0]:+.3f} dB on average")


def main():
    if CHROMA:
        chroma_main()
        return
    first = train_net.filter_table()
    net = header_weights()
    rng = np.random.default_rng(train_net.SEED)
    readings, curves = [], []
    factor = 2 ** DOUBLINGS
    for path in train_net.photographs()[::2]:
        img = Image.open(path).convert("RGB")
        k = 768 / max(img.size)
        size = (round(img.width * k) // factor * factor, round(img.height * k) // factor * factor)
        hr = np.asarray(img.resize(size, Image.LANCZOS))
        truth = train.luma(hr)
        low = np.asarray(Image.fromarray(hr).resize((size[0] // factor, size[1] // factor), Image.BICUBIC))
        for sigma in NOISE:
            noisy = low.astype(np.float32) + rng.normal(0, sigma, low.shape).astype(np.float32)
            noisy = np.clip(np.rint(noisy), 0, 255).astype(np.uint8)
            y = train.luma(noisy)
            curve = [train.psnr(enlarge(net, first, y, d), truth) for d in MEASURES]
            readings.append(train.noise_sigma(noisy))
            curves.append(curve)
            print(f"  {os.path.basename(path)} noise {sigma}: reads {readings[-1]:.2f}, "
                  f"best measure {MEASURES[int(np.argmax(curve))]:.2f}", flush=True)
    readings, curves = np.array(readings), np.array(curves)
    best = (1e9, 0, 0)
    for start in np.arange(0.0, 1.61, 0.1):
        for slope in np.arange(0.02, 0.241, 0.01):
            floor = np.clip(slope * (readings - start), 0, MEASURES[-1])
            got = [np.interp(f, MEASURES, c) for f, c in zip(floor, curves)]
            loss = float(np.mean(curves.max(1) - got))
            best = min(best, (loss, start, slope))
    print(f"floor from {best[1]:.1f} levels, {best[2]:.2f} per level: "
          f"{best[0]:.3f} dB under the best measure on average "
          f"(no floor: {np.mean(curves.max(1) - curves[:, 0]):.3f} dB)")


if __name__ == "__main__":
    main()
