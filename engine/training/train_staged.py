#!/usr/bin/python3
"""Trains a refining network to convergence, in stages that can stop and resume.

A long run goes on in the background for hours, on one core. Its whole state
lives in a small checkpoint, engine/training/runs/NAME.pt: the network, Adam's
state, the step, the batch generator's state, the learning rate's schedule and
the validation history. The checkpoint is written every few minutes and on
SIGTERM, to a temporary file renamed over the last one, so that a stop at any
moment leaves a whole checkpoint. `--resume` goes on from it exactly: the same
batches and the same losses as a run that never stopped.

The patches come from train_net.examples, the pipeline of the one-shot
training, made from the training photographs. The pool is made anew every
POOL_STEPS batches, seeded by its number, so that a long run does not learn
one pool by heart and a resumed run makes the same pool again.

Validation: the mean squared error of the corrected doubling on a fixed set of
patches from the held-out photographs (train_net.HELD_OUT, never trained on),
next to that of the filters' doubling alone and of the committed network
(engine/NetWeights.h, which has not seen them either), over all patches and by
the input's degradation measure.

Learning rate: a short warm-up to LEARNING_RATE, then held. When the
validation loss has not improved by IMPROVEMENT over PATIENCE validations in
a row, the rate falls to a third; once it has fallen DECAYS times and is flat
again as long, the run has converged and ends.

Usage:
  OMP_NUM_THREADS=1 /usr/bin/python3 engine/training/train_staged.py --run NAME --width 32 --middle 2
  OMP_NUM_THREADS=1 /usr/bin/python3 engine/training/train_staged.py --run NAME --resume
  /usr/bin/python3 engine/training/train_staged.py --run NAME --history
  /usr/bin/python3 engine/training/train_staged.py --run NAME --export engine/NetWeights.h
"""

import argparse
import datetime
import glob
import hashlib
import os
import signal
import sys
import time

import numpy as np
import torch

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import train_net  # noqa: E402  (patches, network, loss)

RUNS = os.path.join(train_net.HERE, "runs")
BATCH = 32
LEARNING_RATE = 1e-3
WARMUP = 1000  # batches
POOL_STEPS = 20000  # batches between new pools of patches
VALIDATE_EVERY = 1000  # batches
PATIENCE = 10  # validations without improvement before the rate falls
IMPROVEMENT = 0.002  # a validation loss this much below the best counts as progress
DECAYS = 3
CHECKPOINT_SECONDS = 300
VALIDATION_SEED = 71
# Degradation measures that split the validation patches: clean, light and
# strong compression (about JPEG quality 90 and below 80).
KINDS = (("clean", 0.0, 0.04), ("light", 0.04, 0.14), ("strong", 0.14, 1.0))


def committed_net():
    """The engine's network as torch computes it, from engine/NetWeights.h:
    train_net.write_weights undone. The measure's weights, summed over the
    kernel there, go to the kernel's centre, which is the same on a constant plane."""
    numbers = train_net.header_arrays("NetWeights.h")
    text = open(os.path.join(train_net.ENGINE, "NetWeights.h")).read()

    def constant(name):
        return int(text.split(f"int {name} = ")[1].split(";")[0])

    width, kernel, middle = constant("kWidth"), constant("kFirstKernel"), constant("kMiddleLayers")
    net = train_net.Net(train_net.layers(width, kernel, middle))
    with torch.no_grad():
        luma_w = numbers("kFirstWeights").reshape(kernel, kernel, width).transpose(2, 0, 1) * 64.0
        first = np.zeros((width, 2, kernel, kernel), np.float32)
        first[:, 0] = luma_w
        first[:, 1, kernel // 2, kernel // 2] = numbers("kMeasureWeights") / train_net.MEASURE_SCALE
        net.convs[0].weight.copy_(torch.from_numpy(first))
        net.convs[0].bias.copy_(torch.from_numpy(numbers("kFirstBias") + 2.0 * luma_w.sum(axis=(1, 2))))
        weights = numbers("kMiddleWeights").reshape(middle, 3, 3, width, width)
        biases = numbers("kMiddleBias").reshape(middle, width)
        for i in range(middle):
            net.convs[1 + i].weight.copy_(torch.from_numpy(weights[i].transpose(3, 2, 0, 1).copy()))
            net.convs[1 + i].bias.copy_(torch.from_numpy(biases[i]))
        last = numbers("kLastWeights").reshape(3, 3, width, 4).transpose(3, 2, 0, 1) / 16.0
        net.convs[-1].weight.copy_(torch.from_numpy(last.copy()))
        net.convs[-1].bias.copy_(torch.from_numpy(numbers("kLastBias") / 16.0))
    return net


def begin_from(net, start):
    """Gives net the x2 network's layers; for x4 each of its four corrections
    goes to the four pixels its doubled pixel becomes. A wider or deeper net
    holds them in its first channels and layers: its added channels start
    small and unread, its added middle layers as the identity (their inputs
    have passed a ReLU), so that it begins as the x2 network does."""
    mine, theirs = list(net.convs), list(start.convs)
    pairs = list(zip(mine[:len(theirs) - 1], theirs[:-1])) + [(mine[-1], theirs[-1])]
    added = mine[len(theirs) - 1:-1]
    with torch.no_grad():
        for layer, source in pairs:
            weight, bias = source.weight, source.bias
            if layer is mine[-1] and layer.out_channels != source.out_channels:
                parent = [(c // 4 // 2) * 2 + (c % 4) // 2 for c in range(layer.out_channels)]
                weight, bias = weight[parent], bias[parent]
            o, i = weight.shape[:2]
            w = layer.weight.detach().clone() * 0.1
            w[:, i:] = 0.0
            w[:o, :i] = weight
            b = torch.zeros_like(layer.bias)
            b[:o] = bias
            place(layer, w, b)
        for layer in added:
            w = torch.zeros_like(layer.weight)
            for c in range(layer.out_channels):
                w[c, c, 1, 1] = 1.0
            place(layer, w, torch.zeros_like(layer.bias))


def place(layer, weight, bias):
    if isinstance(layer, train_net.RepConv):
        layer.absorb(weight, bias)
    else:
        layer.weight.copy_(weight)
        layer.bias.copy_(bias)


def patch_errors(net, data, plane=2):
    """Each validation patch's mean squared error, with the network's correction
    (or, for net None, of the patches' `plane`: the filters' enlargement, or for
    x4 the engine's before the one-step network)."""
    inputs, measures, bases, truths = data[:4]
    bases = data[plane]
    errors = []
    with torch.no_grad():
        for s in range(0, inputs.shape[0], 256):
            part = slice(s, s + 256)
            if net is None:
                e = (bases[part] - truths[part]) ** 2
            else:
                e = train_net.corrected_errors(net, inputs[part], measures[part], bases[part], truths[part])
            errors.append(e.mean(dim=(1, 2)))
    return torch.cat(errors)


def summary(errors, measures):
    """The mean error over all patches and over each kind of input."""
    out = {"all": errors.mean().item()}
    for name, lo, hi in KINDS:
        mask = (measures >= lo) & (measures < hi)
        out[name] = errors[mask].mean().item() if mask.any() else float("nan")
    return out


def gain(reference, mse):
    return 10 * np.log10(reference / mse)


class Run:
    def __init__(self, path, shape, pool_steps=POOL_STEPS, rep=False, recipe=None):
        self.path = path
        # A deeper network reads further: its pools and validation patches
        # need a margin as wide as its reach.
        train_net.HALO = max(train_net.HALO, sum(k // 2 for _, _, k in shape))
        self.net = train_net.Net(shape, rep)
        self.opt = torch.optim.Adam(self.net.parameters(), lr=LEARNING_RATE)
        self.gen = torch.Generator().manual_seed(train_net.SEED)
        self.state = {"shape": shape, "step": 0, "seconds": 0.0, "rate": 1.0, "best": float("inf"),
                      "flat": 0, "decays": 0, "converged": False, "loss_sum": 0.0, "loss_count": 0,
                      "history": [], "reference": None, "pool_steps": pool_steps, "rep": rep,
                      "recipe": dict(train_net.RECIPE, **(recipe or {}))}

    def save(self):
        data = {"net": self.net.state_dict(), "opt": self.opt.state_dict(),
                "gen": self.gen.get_state(), "torch_rng": torch.get_rng_state(), **self.state}
        temporary = self.path + ".tmp"
        torch.save(data, temporary)
        os.replace(temporary, self.path)

    @staticmethod
    def load(path):
        data = torch.load(path)
        run = Run(path, tuple(tuple(layer) for layer in data["shape"]), rep=data.get("rep", False),
                  recipe=data.get("recipe"))
        run.net.load_state_dict(data.pop("net"))
        run.opt.load_state_dict(data.pop("opt"))
        run.gen.set_state(data.pop("gen"))
        torch.set_rng_state(data.pop("torch_rng"))
        run.state.update(data)
        return run

    def validate(self, val):
        """Logs the validation loss and moves the learning rate's schedule on."""
        s = self.state
        errors = summary(patch_errors(self.net, val), val[1])
        train_mse = s["loss_sum"] / max(1, s["loss_count"])
        s["loss_sum"], s["loss_count"] = 0.0, 0
        lr = LEARNING_RATE * s["rate"]
        s["history"].append({"step": s["step"], "hours": s["seconds"] / 3600, "train": train_mse, "lr": lr,
                             "utc": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M"),
                             **{"val_" + k: v for k, v in errors.items()}})
        if errors["all"] < s["best"] * (1 - IMPROVEMENT):
            s["best"], s["flat"] = errors["all"], 0
        else:
            s["flat"] += 1
        if s["flat"] >= PATIENCE:
            if s["decays"] == DECAYS:
                s["converged"] = True
            else:
                s["rate"] /= 3
                s["decays"] += 1
                s["flat"] = 0
        print(line(s["history"][-1], s["reference"]) + f" flat {s['flat']}", flush=True)


def line(entry, reference):
    """One validation as a line of the log and of --history: the mean squared
    errors, and the gains in dB over the filters' doubling alone, of this
    network and (in brackets) of the committed one."""
    alone, committed = reference["alone"], reference["committed"]
    parts = [f"step {entry['step']:7d} {entry['hours']:6.2f} h lr {entry['lr']:.1e} train {entry['train']:6.2f}"]
    for kind in ("all",) + tuple(k for k, _, _ in KINDS):
        mse = entry["val_" + kind]
        parts.append(f"{kind} {mse:6.2f} {gain(alone[kind], mse):+.3f} ({gain(alone[kind], committed[kind]):+.3f})")
    return " | ".join(parts)


def make_pool(index, cache, recipe):
    """The index-th pool of training patches; kept in the cache folder, if one is
    given, so that a resumed run need not make it again (an hour on a busy core)."""
    paths = train_net.training_photographs(recipe["extra"])
    key = {"index": index, "margin": train_net.HALO, "photographs": [os.path.basename(p) for p in paths],
           "filters": hashlib.sha256(open(os.path.join(train_net.ENGINE, "FilterTable.h"), "rb").read()).hexdigest()}
    if recipe != train_net.RECIPE:
        key["recipe"] = recipe
    file = os.path.join(cache, f"pool{index}.pt") if cache else None
    if file and os.path.exists(file):
        kept = torch.load(file)
        if kept["key"] == key:
            print(f"pool {index}: from {file}", flush=True)
            return kept["data"]
    print(f"pool {index}: patches from {len(paths)} photographs", flush=True)
    data = train_net.examples(paths, train_net.filter_table(), np.random.default_rng([train_net.SEED, index]),
                              recipe)
    if file:
        os.makedirs(cache, exist_ok=True)
        torch.save({"key": key, "data": data}, file + ".tmp")
        os.replace(file + ".tmp", file)
        for old in glob.glob(os.path.join(cache, "pool*.pt")):
            if old != file:
                os.remove(old)  # a run never goes back to an earlier pool
    return data


def train(run, stop, cache=None):
    s = run.state
    x4 = s["recipe"]["scale"] == 4
    # For x4 the committed network's place is the engine's x4 before the one-step network.
    val = train_net.examples(train_net.held_out_photographs(), train_net.filter_table(),
                             np.random.default_rng(VALIDATION_SEED), s["recipe"], committed_net() if x4 else None)
    if s["reference"] is None:
        s["reference"] = {"alone": summary(patch_errors(None, val), val[1]),
                          "committed": summary(patch_errors(None, val, 4) if x4 else
                                               patch_errors(committed_net(), val), val[1])}
        counts = {k: int(((val[1] >= lo) & (val[1] < hi)).sum()) for k, lo, hi in KINDS}
        print(f"validation: {val[0].shape[0]} patches {counts}; doubling alone {s['reference']['alone']}; "
              f"committed network {s['reference']['committed']}", flush=True)
    pool, pool_index = None, -1
    began, saved = time.time(), time.time()
    while not s["converged"] and not stop["now"]:
        every = s.get("pool_steps", POOL_STEPS)  # runs begun before the option: the default
        if s["step"] // every != pool_index:
            pool_index = s["step"] // every
            pool = None  # let the old pool go before the new one is made
            pool = make_pool(pool_index, cache, s["recipe"])
        inputs, measures, bases, truths = pool
        for group in run.opt.param_groups:
            group["lr"] = LEARNING_RATE * s["rate"] * min(1.0, (s["step"] + 1) / WARMUP)
        idx = torch.randint(0, inputs.shape[0], (BATCH,), generator=run.gen)
        # bfloat16 for the convolutions where the run asks for it: a fifth faster
        # on this processor, and as good in a trial of 2500 batches.
        with torch.autocast("cpu", dtype=torch.bfloat16, enabled=s.get("bf16", False)):
            loss = train_net.corrected_errors(run.net, inputs[idx], measures[idx], bases[idx], truths[idx]).mean()
        run.opt.zero_grad()
        loss.backward()
        run.opt.step()
        s["step"] += 1
        s["loss_sum"] += loss.item()
        s["loss_count"] += 1
        now = time.time()
        s["seconds"] += now - began
        began = now
        if s["step"] % 200 == 0:
            print(f"  step {s['step']}: train {s['loss_sum'] / s['loss_count']:.2f} "
                  f"{s['seconds'] / 3600:.2f} h", flush=True)
        if s["step"] % VALIDATE_EVERY == 0:
            run.validate(val)
        if s["converged"] or stop["now"] or now - saved > CHECKPOINT_SECONDS:
            run.save()
            saved = time.time()
            print(f"  checkpoint at step {s['step']}", flush=True)
    run.save()
    print("converged" if s["converged"] else f"stopped at step {s['step']}", flush=True)


def export(path, header, reference):
    """Writes the run's network as the engine's header, and the reference that
    the engine's tests hold its inference to, as train_net.py writes them."""
    run = Run.load(path)
    s = run.state
    origin = (f"engine/training/train_staged.py, run {os.path.basename(path)[:-3]} at batch {s['step']}\n"
              f"// ({s['seconds'] / 3600:.2f} training hours{', converged' if s['converged'] else ''}),"
              f" from {len(train_net.training_photographs(s['recipe']['extra']))} photographs")
    net = run.net.plain() if s.get("rep") else run.net  # the branches folded into one convolution
    train_net.write_weights(net, header, origin)
    train_net.write_reference(net, reference)
    print(f"wrote {header} and {reference}: {s['shape']}, batch {s['step']}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--run", required=True, help="the run's name: runs/NAME.pt (or a checkpoint's path)")
    parser.add_argument("--resume", action="store_true", help="go on from the run's checkpoint")
    parser.add_argument("--history", action="store_true", help="print the run's validations and end")
    parser.add_argument("--export", metavar="HEADER",
                        help="write the run's network as the engine's NetWeights.h there and end")
    parser.add_argument("--reference", help="with --export: where the tests' reference goes",
                        default=os.path.join(train_net.ENGINE, "..", "tests", "engine", "NetReference.h"))
    parser.add_argument("--width", type=int, default=train_net.WIDTH)
    parser.add_argument("--first-kernel", type=int, default=train_net.LAYERS[0][2])
    parser.add_argument("--middle", type=int, default=len(train_net.LAYERS) - 2)
    parser.add_argument("--pool-steps", type=int, default=POOL_STEPS,
                        help="batches between new pools of patches (kept in the checkpoint)")
    parser.add_argument("--scale", type=int, choices=(2, 4), default=2,
                        help="4: the one-step x4 network, correcting the filters' two doublings")
    parser.add_argument("--jpeg-low", type=int, default=50, help="lowest JPEG quality of the training inputs")
    parser.add_argument("--exposure", type=float, default=0.0,
                        help="largest change of exposure and saturation of the truths, as a share")
    parser.add_argument("--extra", action="store_true",
                        help="also the photographs of stellarium-data and tuxpaint-stamps-default")
    parser.add_argument("--patch", type=int, default=train_net.PATCH, help="source pixels a side of a patch")
    parser.add_argument("--patches", type=int, default=train_net.PATCHES, help="patches cut from each input")
    parser.add_argument("--sizes", default=",".join(map(str, train_net.WORKING_SIZES)),
                        help="longest sides of the ground truths")
    parser.add_argument("--rep", action="store_true", help="re-parameterized layers, folded on export")
    parser.add_argument("--from-committed", action="store_true",
                        help="start from the engine's x2 network (NetWeights.h)")
    parser.add_argument("--bf16", action="store_true", help="train with bfloat16 convolutions (kept in the checkpoint)")
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--cache", default="/tmp/magnova-pools",
                        help="folder that keeps the pools of patches between runs ('' for none)")
    args = parser.parse_args()
    torch.set_num_threads(args.threads)
    # A checkpoint elsewhere (another checkout's running training) by its path.
    path = args.run if args.run.endswith(".pt") else os.path.join(RUNS, args.run + ".pt")
    if args.history:
        run = Run.load(path)
        print(f"{run.state['shape']}: step {run.state['step']}, {run.state['seconds'] / 3600:.2f} h"
              f"{', converged' if run.state['converged'] else ''}")
        for entry in run.state["history"]:
            print(line(entry, run.state["reference"]))
        return
    if args.export:
        export(path, args.export, args.reference)
        return
    if args.resume:
        run = Run.load(path)
        print(f"resuming {path} at step {run.state['step']}", flush=True)
    else:
        if os.path.exists(path):
            sys.exit(f"{path} exists: --resume it, or choose another --run")
        os.makedirs(RUNS, exist_ok=True)
        torch.manual_seed(train_net.SEED)
        recipe = {"scale": args.scale, "jpeg_low": args.jpeg_low, "patch": args.patch, "patches": args.patches,
                  "sizes": tuple(int(v) for v in args.sizes.split(",")), "exposure": args.exposure,
                  "extra": args.extra}
        if args.from_committed:
            start = committed_net()
            args.first_kernel = start.convs[0].kernel_size[0]
            args.width = max(args.width, start.convs[0].out_channels)
            args.middle = max(args.middle, len(start.convs) - 2)
        run = Run(path, train_net.layers(args.width, args.first_kernel, args.middle, args.scale), args.pool_steps,
                  args.rep, recipe)
        run.state["bf16"] = args.bf16
        if args.from_committed:
            begin_from(run.net, start)
    stop = {"now": False}

    def request_stop(signum, frame):
        stop["now"] = True

    signal.signal(signal.SIGTERM, request_stop)
    signal.signal(signal.SIGINT, request_stop)
    train(run, stop, args.cache)


if __name__ == "__main__":
    main()
