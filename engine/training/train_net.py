#!/usr/bin/python3
"""Trains the engine's refining network and writes engine/NetWeights.h.

The first doubling of the engine (LearnedStep with the blended filter sets of
FilterTable.h) is good on clean edges but cannot tell JPEG blocking and ringing
from detail within its 7 x 7 window. A small convolutional network, run on the
source's luma, adds a correction to each of the four pixels that an input pixel
doubles into. It also sees the picture's degradation measure (the engine's
DegradationMeter), which enters it as a constant input plane and so costs
nothing at run time: it folds into the first layer's bias.

Photographs only, from Debian's wallpaper packages (plasma-workspace-wallpapers,
mate-backgrounds, ukui-wallpapers, lomiri-wallpapers-16.04) and palapeli-data's
puzzles; none from the packages the quality bench measures on. A few of them
are held out for the staged training's validation (train_staged.py). Their
low-resolution inputs are made as train.py makes them: reduced with one of
several filters, sometimes noisy, mostly a JPEG of random quality 50 to 95; a
quarter of them are first defocused a little.

Usage: /usr/bin/python3 engine/training/train_net.py [--steps N] [--out engine/NetWeights.h]
"""

import argparse
import glob
import os
import re
import sys
import time

import numpy as np
import torch
from PIL import Image, ImageFilter

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import train  # noqa: E402  (the filters' training: degradation, measure, doubling)

HERE = os.path.dirname(os.path.abspath(__file__))
ENGINE = os.path.join(HERE, "..")

# Layers: (input channels, output channels, kernel size). Input: luma and the
# degradation measure; output: corrections of the four doubled pixels.
WIDTH = 16
LAYERS = ((2, WIDTH, 5), (WIDTH, WIDTH, 3), (WIDTH, WIDTH, 3), (WIDTH, 4, 3))
# The patches' margin of source pixels around the part that is scored: the
# reach of LAYERS; train_staged.py widens it for a deeper network.
HALO = sum(k // 2 for _, _, k in LAYERS)
PATCH = 40  # input pixels a side of the part of a patch that is scored
MEASURE_SCALE = 4.0  # the measure is fed as measure * MEASURE_SCALE
WORKING_SIZES = (1600, 1024, 640)
DEGRADATIONS = 4  # inputs made from each photograph at each size
PATCHES = 48  # patches cut from each input
# Share of the ground truths that are first defocused a little (Gaussian blur of
# sigma 0.5 to 3 pixels), as parts of photographs are: so that the network
# learns to keep soft edges and smooth ramps soft rather than sharpen everything.
DEFOCUS_SHARE = 0.25
# A working size is used only where it reduces the photograph at least this
# much: at or near its own scale a truth carries the file's grain and JPEG
# traces, and above it an enlargement's blur.
LEAST_REDUCTION = 1.25
SEED = 29


# The photographs of lomiri-wallpapers-16.04 and of palapeli-data's puzzles; their
# drawn or rendered pictures (umang, the puzzle table's backgrounds) are left out.
LOMIRI_PHOTOGRAPHS = ("Bridge_by_Sander_Klootwijk", "Dragonfly_by_Bolly", "Picture_0B_by_freespace",
                      "Picture_1A_by_freespace", "Wine_by_Jakkub_Mede", "aitzgorri_by_Aitzol_Berasategi",
                      "analogpattern_by_Peter_Nerlich", "free_by_Peter_Nerlich",
                      "friends_by_Aitzol_Berasategi", "greentock_by_Peter_Nerlich",
                      "life_by_Aitzol_Berasategi", "picosdeeuropa_by_Aitzol_Berasategi",
                      "seeding_by_Clements_Engelhardt", "sunset_by_Aitzol_Berasategi")
PALAPELI_PHOTOGRAPHS = ("castle-maintenon", "cincinnati-bridge", "citrus-fruits", "european-honey-bee",
                        "panther-chameleon-female")
# Never trained on: the staged training's validation measures on these.
HELD_OUT = ("Picture_0B_by_freespace", "friends_by_Aitzol_Berasategi", "life_by_Aitzol_Berasategi",
            "cincinnati-bridge")


def photographs():
    """The photographs of the allowed packages; their drawn pictures are left out."""
    paths = train.wallpapers()
    paths += sorted(glob.glob("/usr/share/backgrounds/mate/nature/*.jpg"))
    paths += glob.glob("/usr/share/backgrounds/Kleiber_by_Lukas_Baubkus.jpg")  # older ukui-wallpapers
    paths += [f"/usr/share/backgrounds/{name}.jpg" for name in LOMIRI_PHOTOGRAPHS]
    paths += [f"/usr/share/palapeli/collection/{name}.jpg" for name in PALAPELI_PHOTOGRAPHS]
    return [p for p in paths if os.path.exists(p)]


# Chosen by eye from stellarium-data's landscape panoramas and tuxpaint-stamps-default's
# stamps: photographs only, their transparent parts never cut from (see README).
STELLARIUM_PHOTOGRAPHS = (
    'garching/garching-gl1.png', 'garching/garching-gl2.png', 'garching/garching-gl3.png',
    'garching/garching-gl4.png', 'garching/garching-ground3.png',
    'grossmugl/grossmugl_leeberg_crop11.25_2048.png', 'guereins/guereins1.png', 'guereins/guereins2.png',
    'guereins/guereins3.png', 'guereins/guereins4.png', 'guereins/guereins5.png', 'guereins/guereins6.png',
    'guereins/guereins7.png', 'guereins/guereins8.png', 'hurricane/hurricane1.png',
    'hurricane/hurricane2.png', 'hurricane/hurricane3.png', 'hurricane/hurricane4.png',
    'hurricane/hurricane5.png', 'hurricane/hurricane6.png', 'hurricane/hurricane7.png',
    'hurricane/hurricane8.png',
)
TUXPAINT_PHOTOGRAPHS = (
    'animals/amphibians/frog-1.png', 'animals/amphibians/frog.png', 'animals/birds/albino_peahen.png',
    'animals/birds/crowned_crane.png', 'animals/birds/helmeted_guineafowl.png',
    'animals/birds/magellanic_penguin.png', 'animals/birds/ostrich.png', 'animals/birds/owl.png',
    'animals/birds/peacock.png', 'animals/birds/pelican.png', 'animals/birds/pink_flamingo.png',
    'animals/birds/turkey.png', 'animals/birds/vulture.png', 'animals/insects/Brown_slug.png',
    'animals/insects/Woodlouse.png', 'animals/mammals/apes/chimp.png', 'animals/mammals/apes/gorilla.png',
    'animals/mammals/apes/tamarin_emperor.png', 'animals/mammals/aquatic/otter.png',
    'animals/mammals/bears/bear.png', 'animals/mammals/bears/european-bear.png',
    'animals/mammals/bovines/bull.png', 'animals/mammals/bovines/cow_white.png',
    'animals/mammals/bovines/gnu-baby-stand.png', 'animals/mammals/bovines/gnu-baby.png',
    'animals/mammals/bovines/gnu-sitting.png', 'animals/mammals/bovines/gnu-stand.png',
    'animals/mammals/bovines/sheep.png', 'animals/mammals/bovines/zebu.png',
    'animals/mammals/camel/camel.png', 'animals/mammals/equines/donkey_eating.png',
    'animals/mammals/ferret.png', 'animals/mammals/pig_golden.png', 'animals/mammals/pig_golden2.png',
    'animals/mammals/rabbit_little.png', 'animals/mammals/rhino_black.png',
    'animals/mammals/rodents/capybara.png', 'animals/mammals/rodents/marmot.png',
    'animals/mammals/rodents/squirrel.png', 'animals/mammals/wildboar.png', 'animals/marsupials/koala.png',
    'animals/marsupials/wombat.png', 'food/fruit/Apricot_whole.png', 'food/fruit/Cherry_Stella.png',
    'food/fruit/Strawberry2.png', 'food/fruit/apricot.png', 'food/fruit/avocado.png',
    'food/fruit/cherimoya.png', 'food/fruit/kiwi.png', 'food/fruit/orange_seville.png',
    'food/spices/ginger.png', 'food/vegetables/corn.png', 'hobbies/music/percussion/cymbal_crash.png',
    'hobbies/music/percussion/drum_tomtom_floor.png', 'household/Lightbulb.png', 'household/cylinder.png',
    'household/home_compost_bin.png', 'household/toilet.png', 'household/tools/cementmixer.png',
    'household/tools/spade.png', 'household/tools/toolbox.png', 'medical/syringe.png',
    'military/final-roll-call.png', 'military/fireman240a.png', 'military/paratrooper.png',
    'military/vehicles/bradley.png', 'military/vehicles/f22_raptor.png',
    'military/vehicles/infantry-stryker.png', 'naturalforces/explosion.png', 'people/fireman200b.png',
    'plants/flowers/anemone_red.png', 'plants/flowers/daffodil.png', 'plants/flowers/flower1.png',
    'plants/mushrooms/cep-1.png', 'plants/mushrooms/cep-2.png', 'plants/mushrooms/cep.png',
    'plants/thyme.png', 'plants/trees/holm_oak.png', 'plants/trees/liberia-palm.png',
    'plants/trees/rambutan.png', 'plants/trees/tree336.png', 'seasonal/candle.png',
    'seasonal/christmas/Christmas_Tree_photo.png', 'seasonal/christmas/Christmas_pudding.png',
    'seasonal/christmas/German_Christmas_toy.png', 'seasonal/christmas/Mince_Pie.png',
    'seasonal/christmas/Roast_turkey.png', 'seasonal/halloween/grave-d.png', 'seasonal/halloween/grave-e.png',
    'seasonal/halloween/grave-g.png', 'seasonal/halloween/grave-j.png', 'space/planets/1_mercury.png',
    'space/planets/5_jupiter.png', 'space/planets/8_neptune.png', 'town/monuments/inukshuk-photo.png',
    'town/roadsigns/railroad_crossing.png', 'vehicles/construction/dumper.png',
    'vehicles/emergency/firetruck.png', 'vehicles/flight/balloon360.png', 'vehicles/flight/planes/747.png',
    'vehicles/garbagetruck.png', 'vehicles/masstransit/green_korean_bus.png', 'vehicles/race/indycar.png',
    'vehicles/ship/walnutBoat.png', 'vehicles/wheel_tractor.png',
)


def extra_photographs():
    paths = [f"/usr/share/stellarium/landscapes/{name}" for name in STELLARIUM_PHOTOGRAPHS]
    paths += [f"/usr/share/tuxpaint/stamps/{name}" for name in TUXPAINT_PHOTOGRAPHS]
    return [p for p in paths if os.path.exists(p)]


def is_held_out(path):
    return os.path.splitext(os.path.basename(path))[0] in HELD_OUT


def training_photographs(extra=False):
    paths = photographs() + (extra_photographs() if extra else [])
    return [p for p in paths if not is_held_out(p)]


def held_out_photographs():
    return [p for p in photographs() if is_held_out(p)]


def header_arrays(header):
    """A function that reads the numbers of one array of an engine header by name."""
    text = open(os.path.join(ENGINE, header)).read()

    def numbers(name):
        body = text[text.index(name + "["):]
        body = body[body.index("= {") + 3:body.index("};")]
        return np.array([float(v) for v in re.findall(r"-?\d[\d.e+-]*", body)], np.float32)

    return numbers


def filter_table():
    """The first doubling's filter sets and class edges, read from FilterTable.h,
    and the later doublings' set with its edges."""
    numbers = header_arrays("FilterTable.h")
    levels = len(train.LEVELS)
    filters = numbers("kFilters").reshape(levels + 1, train.BUCKETS, train.TAPS, 4)
    strength, coherence = numbers("kStrengthEdges"), numbers("kCoherenceEdges")
    return {"filters": list(filters[:levels]), "strength": strength[:2], "coherence": coherence[:2],
            "later": (filters[levels], strength[2:4], coherence[2:4])}


# What a run trains on and for. The defaults are the recipe of the networks
# before the one-step x4 network; train_staged.py keeps a run's recipe in its
# checkpoint.
RECIPE = {"scale": 2, "jpeg_low": 50, "patch": PATCH, "patches": PATCHES, "sizes": WORKING_SIZES,
          "exposure": 0.0, "extra": False}


def load_rgba(path):
    """A photograph as RGB and the mask of its fully opaque pixels (all of it
    for a picture without alpha)."""
    img = Image.open(path)
    if img.mode in ("RGBA", "LA", "P", "PA"):
        img = img.convert("RGBA")
        rgba = np.asarray(img)
        return np.ascontiguousarray(rgba[..., :3]), rgba[..., 3] == 255
    rgb = np.asarray(img.convert("RGB"))
    return rgb, np.ones(rgb.shape[:2], bool)


def working_sizes(longest, sizes):
    """The longest sides a photograph is brought to; a small one (a stamp) is
    reduced by LEAST_REDUCTION once instead, if that leaves enough to cut from."""
    chosen = [s for s in sizes if s * LEAST_REDUCTION <= longest]
    if not chosen and longest / LEAST_REDUCTION >= 128:
        chosen = [int(longest / LEAST_REDUCTION)]
    return chosen


def retouch(rgb, rng, amount):
    """A small change of exposure and colour saturation, up to `amount` either way,
    so that few photographs give more kinds of ground."""
    if amount <= 0:
        return rgb
    x = rgb.astype(np.float32) * np.float32(1 + rng.uniform(-amount, amount))
    grey = x.mean(axis=2, keepdims=True)
    x = grey + (x - grey) * np.float32(1 + rng.uniform(-amount, amount))
    return np.clip(np.rint(x), 0, 255).astype(np.uint8)


def enlarge_base(y, first, scale):
    """What the engine's filters alone make of y: the first doubling with the
    sets blended for its measure, then for x4 the later doublings' set."""
    d = train.degradation(y)
    base = train.double(y, train.blend(first, d), first["strength"][:2], first["coherence"][:2])
    if scale == 4:
        later, strength, coherence = first["later"]
        base = train.double(base, later, strength, coherence)
    return d, base


def engine_x4(y, d, first, net2):
    """The engine's x4 before the one-step network: the first doubling corrected
    by the x2 network (held to its range), then the later doublings' set."""
    doubled = train.double(y, train.blend(first, d), first["strength"][:2], first["coherence"][:2])
    with torch.no_grad():
        padded = torch.from_numpy(np.pad(y, net2.halo, mode="edge"))[None]
        correction = net2(padded, torch.tensor([d], dtype=torch.float32))[0].numpy()
    lo, hi = train.neighbour_range(np.pad(y, 1, mode="edge"))
    corrected = np.clip(doubled + correction, lo, hi).astype(np.float32)
    later, strength, coherence = first["later"]
    return train.double(corrected, later, strength, coherence)


def examples(paths, first, rng, recipe=None, today=None):
    """Patches of (input luma with halo, measure, engine's filter enlargement, ground truth);
    with `today` (the x2 network) for x4, a fifth: the engine's x4 before the one-step network."""
    r = dict(RECIPE, **(recipe or {}))
    scale, patch = r["scale"], r["patch"]
    inputs, measures, bases, truths, todays = [], [], [], [], []
    for path in paths:
        img, opaque = load_rgba(path)
        for size in working_sizes(max(img.shape[:2]), r["sizes"]):
            h, w = img.shape[:2]
            k = size / max(h, w)
            target = (round(w * k), round(h * k))
            hr = np.asarray(Image.fromarray(img).resize(target, Image.LANCZOS))
            # A pixel that the reduction mixed with transparent ground is not opaque.
            solid = np.asarray(Image.fromarray(opaque.astype(np.uint8) * 255).resize(target, Image.BOX)) == 255
            hr = hr[:hr.shape[0] // scale * scale, :hr.shape[1] // scale * scale]
            for _ in range(DEGRADATIONS):
                turn, flip = int(rng.integers(4)), rng.random() < 0.5
                turned = np.ascontiguousarray(np.rot90(hr, turn))
                mask = np.rot90(solid[:hr.shape[0], :hr.shape[1]], turn)
                if flip:
                    turned, mask = np.ascontiguousarray(turned[:, ::-1]), mask[:, ::-1]
                if rng.random() < DEFOCUS_SHARE:
                    blur = ImageFilter.GaussianBlur(float(rng.uniform(0.5, 3.0)))
                    turned = np.asarray(Image.fromarray(turned).filter(blur))
                if r["exposure"]:
                    turned = retouch(turned, rng, r["exposure"])
                y = train.luma(train.degrade(turned, scale, rng, r["jpeg_low"]))
                lh, lw = y.shape
                if lh < patch or lw < patch:
                    continue
                d, base = enlarge_base(y, first, scale)
                now = engine_x4(y, d, first, today) if today is not None else None
                truth = train.luma(turned)[:base.shape[0], :base.shape[1]]
                # Source pixels whose whole reach is opaque.
                low_solid = mask[:scale * lh, :scale * lw].reshape(lh, scale, lw, scale).all(axis=(1, 3))
                padded = np.pad(y, HALO, mode="edge")
                cut, tries = 0, 0
                # Copies, not views: a view would keep its whole plane until the end.
                while cut < r["patches"] and tries < 8 * r["patches"]:
                    tries += 1
                    y0 = int(rng.integers(0, lh - patch + 1))
                    x0 = int(rng.integers(0, lw - patch + 1))
                    if not low_solid[max(0, y0 - HALO):y0 + patch + HALO, max(0, x0 - HALO):x0 + patch + HALO].all():
                        continue
                    cut += 1
                    inputs.append(padded[y0:y0 + patch + 2 * HALO, x0:x0 + patch + 2 * HALO].copy())
                    measures.append(d)
                    s0, t0 = scale * y0, scale * x0
                    bases.append(base[s0:s0 + scale * patch, t0:t0 + scale * patch].copy())
                    truths.append(truth[s0:s0 + scale * patch, t0:t0 + scale * patch].copy())
                    if now is not None:
                        todays.append(now[s0:s0 + scale * patch, t0:t0 + scale * patch].copy())
        print(f"  {os.path.basename(path)}: {len(inputs)} patches", flush=True)
    data = (torch.from_numpy(np.stack(inputs)), torch.tensor(measures, dtype=torch.float32),
            torch.from_numpy(np.stack(bases)), torch.from_numpy(np.stack(truths)))
    return data + (torch.from_numpy(np.stack(todays)),) if todays else data


def layers(width, first_kernel, middle, scale=2):
    """A network's shape: the first layer reads luma and the measure, the last
    makes the corrections of the scale x scale pixels each source pixel becomes."""
    return ((2, width, first_kernel),) + ((width, width, 3),) * middle + ((width, scale * scale, 3),)


_SOBEL = torch.tensor([[-1.0, 0.0, 1.0], [-2.0, 0.0, 2.0], [-1.0, 0.0, 1.0]])
EDGE_MASKS = torch.stack([_SOBEL, _SOBEL.T, torch.tensor([[0.0, 1.0, 0.0], [1.0, -4.0, 1.0], [0.0, 1.0, 0.0]])])


class RepConv(torch.nn.Module):
    """A k x k convolution trained as the sum of several linear branches (k x k,
    1 x 1, 1 x k, k x 1, Sobel and Laplacian masks with learned scales, and a
    1 x 1 expansion to twice the outputs squeezed by a k x k) and run as the one
    k x k convolution they fold into. Without padding every branch is exactly a
    k x k convolution, so `weight` and `bias` are the folded ones and the engine
    runs them unchanged; the branches only change how training moves."""

    def __init__(self, i, o, k):
        super().__init__()
        self.in_channels, self.out_channels, self.kernel_size = i, o, (k, k)
        plain = torch.nn.Conv2d(i, o, k)
        self.full = torch.nn.Parameter(plain.weight.detach().clone())
        self.base_bias = torch.nn.Parameter(plain.bias.detach().clone())
        self.point = torch.nn.Parameter(torch.zeros(o, i))
        self.row = torch.nn.Parameter(torch.zeros(o, i, k))
        self.column = torch.nn.Parameter(torch.zeros(o, i, k))
        self.edges = torch.nn.Parameter(torch.zeros(len(EDGE_MASKS), o, i))
        self.expand = torch.nn.Parameter(torch.randn(2 * o, i) * (1.0 / i) ** 0.5)
        self.expand_bias = torch.nn.Parameter(torch.zeros(2 * o))
        self.squeeze = torch.nn.Parameter(torch.zeros(o, 2 * o, k, k))

    @property
    def weight(self):
        k = self.kernel_size[0]
        c = k // 2
        w = self.full + torch.einsum("omyx,mi->oiyx", self.squeeze, self.expand)
        w = w + torch.nn.functional.pad(torch.einsum("eoi,eyx->oiyx", self.edges, EDGE_MASKS), [c - 1] * 4)
        w = w + torch.nn.functional.pad(self.point[:, :, None, None], [c] * 4)
        w = w + torch.nn.functional.pad(self.row[:, :, None, :], [0, 0, c, c])
        return w + torch.nn.functional.pad(self.column[:, :, :, None], [c, c, 0, 0])

    @property
    def bias(self):
        return self.base_bias + torch.einsum("omyx,m->o", self.squeeze, self.expand_bias)

    def absorb(self, weight, bias):
        """Becomes the given plain convolution: its weights in the k x k branch,
        every other branch silent."""
        with torch.no_grad():
            for p in (self.point, self.row, self.column, self.edges, self.squeeze, self.expand_bias):
                p.zero_()
            self.full.copy_(weight)
            self.base_bias.copy_(bias)

    def forward(self, x):
        return torch.nn.functional.conv2d(x, self.weight, self.bias)


class Net(torch.nn.Module):
    def __init__(self, shape=LAYERS, rep=False):
        super().__init__()
        conv = RepConv if rep else torch.nn.Conv2d
        self.convs = torch.nn.ModuleList(conv(i, o, k) for i, o, k in shape)
        self.halo = sum(k // 2 for _, _, k in shape)
        self.scale = int(round(shape[-1][1] ** 0.5))
        assert self.halo <= HALO, "the patches' margin is HALO"
        last = self.convs[-1]
        with torch.no_grad():  # starts as the engine's filters
            last.weight.zero_() if not rep else last.full.zero_()
            last.bias.zero_() if not rep else last.base_bias.zero_()

    def forward(self, luma, measure):
        x = torch.stack([(luma - 128.0) / 64.0,
                         (measure * MEASURE_SCALE)[:, None, None].expand_as(luma)], 1)
        for i, conv in enumerate(self.convs):
            x = conv(x)
            if i + 1 < len(self.convs):
                x = torch.relu(x)
        return torch.nn.functional.pixel_shuffle(x, self.scale)[:, 0] * 16.0

    def plain(self):
        """The same network with each layer as the one convolution it runs as."""
        net = Net(tuple((c.in_channels, c.out_channels, c.kernel_size[0]) for c in self.convs))
        with torch.no_grad():
            for mine, theirs in zip(self.convs, net.convs):
                theirs.weight.copy_(mine.weight)
                theirs.bias.copy_(mine.bias)
        return net


def corrected_errors(net, inputs, measures, bases, truths):
    """Squared errors of the filters' enlargement as the network corrects it,
    each pixel held to the range around it that the engine holds it to: that
    of the source pixels around its parent in the doubling."""
    patch = inputs.shape[1] - 2 * HALO
    core = inputs[:, HALO - 1:HALO + patch + 1, HALO - 1:HALO + patch + 1]
    lo, hi = (torch.from_numpy(v) for v in train.neighbour_range(core.numpy()))
    if net.scale == 4:
        lo, hi = (v.repeat_interleave(2, 1).repeat_interleave(2, 2) for v in (lo, hi))
    cut = HALO - net.halo
    luma = inputs[:, cut:inputs.shape[1] - cut, cut:inputs.shape[2] - cut]
    out = torch.maximum(torch.minimum(bases + net(luma, measures), hi), lo)
    # Flat ground keeps its level, as the engine keeps it.
    around = inputs[:, HALO - 2:HALO + patch + 2, HALO - 2:HALO + patch + 2].numpy()
    flat = train.plateaus(around)[:, 2:-2, 2:-2]
    if flat.any():
        own = torch.from_numpy(np.ascontiguousarray(inputs[:, HALO:HALO + patch, HALO:HALO + patch].numpy()))
        grow = lambda v: v.repeat_interleave(net.scale, 1).repeat_interleave(net.scale, 2)  # noqa: E731
        held = torch.minimum(torch.maximum(out, grow(own) - 1.0), grow(own) + 1.0)
        out = torch.where(grow(torch.from_numpy(flat)), held, out)
    return (out - truths) ** 2


def fit(data, steps, batch, rng):
    inputs, measures, bases, truths = data
    net = Net()
    opt = torch.optim.Adam(net.parameters(), lr=2e-3)
    sched = torch.optim.lr_scheduler.OneCycleLR(opt, max_lr=2e-3, total_steps=steps, pct_start=0.05)
    n = inputs.shape[0]
    gen = torch.Generator().manual_seed(SEED)
    start = time.time()
    for step in range(steps):
        idx = torch.randint(0, n, (batch,), generator=gen)
        loss = corrected_errors(net, inputs[idx], measures[idx], bases[idx], truths[idx]).mean()
        opt.zero_grad()
        loss.backward()
        opt.step()
        sched.step()
        if step % 200 == 0 or step + 1 == steps:
            with torch.no_grad():
                base_mse = torch.mean((bases[idx] - truths[idx]) ** 2)
            gain = 10 * np.log10(base_mse.item() / max(loss.item(), 1e-9))
            print(f"  step {step}: mse {loss.item():.2f} (doubling alone {base_mse.item():.2f}, "
                  f"{gain:+.2f} dB) {time.time() - start:.0f} s", flush=True)
    return net


def c_floats(values):
    return ", ".join(f"{float(v):.8e}f" for v in np.asarray(values, np.float64).reshape(-1))


def write_weights(net, path, origin):
    """Weights as the engine reads them: raw luma in, luma corrections out, each
    layer's weights as [ky][kx][in][out]; the measure's weights summed over the
    kernel, per channel. The header's shape is the network's own; `origin` says
    in its first comment where the weights come from. The x4 network's header
    has the namespace net4."""
    outputs = net.convs[-1].out_channels
    space = "net" if net.scale == 2 else f"net{net.scale}"
    width, kernel = net.convs[0].out_channels, net.convs[0].kernel_size[0]
    convs = [(c.weight.detach().double().numpy(), c.bias.detach().double().numpy()) for c in net.convs]
    w0, b0 = convs[0]
    measure_w = w0[:, 1].sum(axis=(1, 2)) * MEASURE_SCALE
    convs[0] = (w0[:, :1] / 64.0, b0 - 2.0 * w0[:, 0].sum(axis=(1, 2)))  # fed (luma - 128) / 64
    wl, bl = convs[-1]
    convs[-1] = (wl * 16.0, bl * 16.0)

    def taps(w):
        return c_floats(w.transpose(2, 3, 1, 0))

    middle = convs[1:-1]
    lines = [f"// Generated by {origin}; do not edit.", "#pragma once", "",
             f"namespace ampliscale::{space} {{", "",
             f"inline constexpr int kWidth = {width};",
             f"inline constexpr int kFirstKernel = {kernel};",
             f"inline constexpr int kMiddleLayers = {len(middle)};",
             "// Weights [ky][kx][in][out]; the first layer reads luma, the last makes the",
             f"// corrections of the {outputs} pixels each source pixel becomes, row by row.",
             f"alignas(64) inline constexpr float kFirstWeights[{convs[0][0].size}] = {{{taps(convs[0][0])}}};",
             f"alignas(64) inline constexpr float kFirstBias[{width}] = {{{c_floats(convs[0][1])}}};",
             "// Added to the first layer's bias per unit of the degradation measure.",
             f"alignas(64) inline constexpr float kMeasureWeights[{width}] = {{{c_floats(measure_w)}}};",
             f"alignas(64) inline constexpr float kMiddleWeights[{len(middle)}][{9 * width * width}] = {{"]
    lines += [f"    {{{taps(w)}}}," for w, _ in middle]
    lines.append("};")
    lines.append(f"alignas(64) inline constexpr float kMiddleBias[{len(middle)}][{width}] = {{")
    lines += [f"    {{{c_floats(b)}}}," for _, b in middle]
    lines.append("};")
    lines.append(f"alignas(64) inline constexpr float kLastWeights[{convs[-1][0].size}] = {{{taps(convs[-1][0])}}};")
    lines.append(f"inline constexpr float kLastBias[{outputs}] = {{{c_floats(convs[-1][1])}}};")
    lines += ["", f"}}  // namespace ampliscale::{space}", ""]
    with open(path, "w") as f:
        f.write("\n".join(lines))


def write_reference(net, path):
    """A small picture, its measure, and what the trained network as torch computes
    it makes of its nearest-pixel doubling: the engine's tests hold its inference to
    these. With them the network's width and last biases, so that the tests can
    tell a reference made for other weights than the engine's."""
    h, w, measure, s = 13, 23, 0.15, net.scale
    yy, xx = np.mgrid[0:h, 0:w]
    rng = np.random.default_rng(SEED)
    luma = (100 + 6 * xx - 4 * yy + 90 * (xx > 11) + rng.normal(0, 8, (h, w))).clip(0, 255)
    luma = luma.astype(np.float32)
    with torch.no_grad():
        padded = torch.from_numpy(np.pad(luma, net.halo, mode="edge"))[None]
        correction = net(padded, torch.tensor([measure], dtype=torch.float32))[0].numpy()
    lo, hi = train.neighbour_range(np.pad(luma, 1, mode="edge"))
    lo, hi = (np.repeat(np.repeat(v, s // 2, 0), s // 2, 1) for v in (lo, hi))
    last_bias = net.convs[-1].bias.detach().double().numpy() * 16.0  # as write_weights scales it
    nearest = np.repeat(np.repeat(luma, s, 0), s, 1)
    out = train.hold_plateaus(luma, np.clip(nearest + correction, lo, hi), s)
    header, space = ("NetWeights.h", "netreference") if s == 2 else (f"NetWeights{s}.h", f"netreference{s}")
    lines = [f"// Generated by engine/training/train_net.py with engine/{header}; do not edit.",
             "#pragma once", "", f"namespace {space} {{", "",
             f"inline constexpr int kWidth = {w};", f"inline constexpr int kHeight = {h};",
             f"inline constexpr double kMeasure = {measure};",
             f"inline constexpr float kLuma[{h * w}] = {{{c_floats(luma)}}};",
             f"// The nearest-pixel enlargement of kLuma by {s} as the network corrects it,",
             f"// {s} * kWidth samples a row, and the largest correction that it holds.",
             f"inline constexpr float kCorrected[{s * s * h * w}] = {{{c_floats(out)}}};",
             f"inline constexpr float kLargestCorrection = {c_floats([np.abs(out - nearest).max()])};",
             f"// The network these come from, as engine/{header} has it.",
             f"inline constexpr int kNetWidth = {net.convs[0].out_channels};",
             f"inline constexpr float kNetLastBias[{s * s}] = {{{c_floats(last_bias)}}};",
             "", f"}}  // namespace {space}", ""]
    with open(path, "w") as f:
        f.write("\n".join(lines))


def origin(seconds, photos):
    return (f"engine/training/train_net.py from {photos} wallpaper photographs;\n"
            f"// training took {seconds:.0f} s")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(ENGINE, "NetWeights.h"))
    parser.add_argument("--steps", type=int, default=36000)
    parser.add_argument("--batch", type=int, default=32)
    parser.add_argument("--limit", type=int, default=0, help="use only the first N photographs")
    parser.add_argument("--cache", help="keep the patches in this .pt file between runs")
    parser.add_argument("--keep", help="also save the trained network's state here")
    parser.add_argument("--export", help="write the header of a network saved by --keep; no training")
    parser.add_argument("--reference", default=os.path.join(ENGINE, "..", "tests", "engine", "NetReference.h"))
    args = parser.parse_args()
    torch.manual_seed(SEED)
    torch.set_num_threads(os.cpu_count() or 1)
    rng = np.random.default_rng(SEED)
    start = time.time()
    if args.export:
        net = Net()
        net.load_state_dict(torch.load(args.export))
        write_weights(net, args.out, origin(float(open(args.export + ".seconds").read()),
                                            len(training_photographs())))
        write_reference(net, args.reference)
        return
    paths = training_photographs()
    if args.limit:
        paths = paths[:args.limit]
    if args.cache and os.path.exists(args.cache):
        data = torch.load(args.cache)
    else:
        print(f"patches from {len(paths)} photographs", flush=True)
        data = examples(paths, filter_table(), rng)
        if args.cache:
            torch.save(data, args.cache)
    net = fit(data, args.steps, args.batch, rng)
    seconds = time.time() - start
    if args.keep:
        torch.save(net.state_dict(), args.keep)
        open(args.keep + ".seconds", "w").write(f"{seconds:.0f}")
    write_weights(net, args.out, origin(seconds, len(paths)))
    write_reference(net, args.reference)
    print(f"wrote {args.out} after {time.time() - start:.0f} s")


if __name__ == "__main__":
    main()
