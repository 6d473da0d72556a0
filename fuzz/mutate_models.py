#!/usr/bin/env python3
"""Mutation fuzzing of `quadscene import` over Assimp's own test models.

Each case is one model of /usr/share/assimp/models, mutated (bit flips, bytes replaced,
inserted, deleted, duplicated, the file cut short, numbers swapped for extreme ones), written
under its own name into a scratch folder and imported once, under an address-space limit and
a wall-clock limit of its own. Every case must end with status 0, or 1 and one line naming
the file; anything else (a signal, a hang past the limit, another status, no message) is a
failure of quadscene and is kept. Models that crashed the contained reader are kept too, and
shrunk to the smallest input that still crashes it the same way.

Seeded and bounded: the same seed gives the same cases; --cases and --seconds bound the run.
Usage: fuzz/mutate_models.py BUILD_DIR [--cases N] [--seed S] [--seconds T] [--jobs J]
Prints counts by outcome and by format; keeps its findings in fuzz/out/mutations/.
"""
import argparse
import collections
import concurrent.futures
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

CORPUS = "/usr/share/assimp/models"
MAX_SEED_BYTES = 2 << 20
CASE_SECONDS = 60
ADDRESS_SPACE = 4 << 30
INTERESTING = [b"0", b"-1", b"4294967295", b"2147483648", b"999999999999", b"1e308", b"-1e308",
               b"nan", b"inf", b"65535", b"\x00", b"\xff\xff\xff\xff", b"\x7f\xff\xff\xff"]


def model_extensions():
    """The extensions Assimp reads, from `assimp listext` (assimp-utils): "*.3ds;*.obj;..."."""
    listed = subprocess.run(["assimp", "listext"], capture_output=True, text=True).stdout
    return {ext.strip().lstrip("*").lower() for ext in listed.split(";") if ext.strip()}


def seeds():
    extensions = model_extensions()
    found = []
    for folder, _, files in os.walk(CORPUS):
        for name in files:
            path = os.path.join(folder, name)
            if (os.path.splitext(name)[1].lower() in extensions and os.path.isfile(path) and
                    0 < os.path.getsize(path) <= MAX_SEED_BYTES):
                found.append(path)
    return sorted(found)


def mutate(data, rng):
    data = bytearray(data)
    for _ in range(rng.choice([1, 1, 2, 3, 8])):
        kind = rng.randrange(8)
        at = rng.randrange(len(data)) if data else 0
        if kind == 0 and data:  # flip bits
            data[at] ^= 1 << rng.randrange(8)
        elif kind == 1 and data:  # replace a byte
            data[at] = rng.choice([0, 0xFF, 0x7F, 0x80, rng.randrange(256)])
        elif kind == 2:  # insert bytes
            data[at:at] = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 16)))
        elif kind == 3 and data:  # delete a run
            del data[at:at + rng.randrange(1, 256)]
        elif kind == 4 and data:  # duplicate a run
            run = data[at:at + rng.randrange(1, 4096)]
            data[at:at] = run * rng.randrange(1, 8)
        elif kind == 5 and data:  # cut the file short
            del data[at:]
        elif kind == 6:  # a number swapped for an extreme one
            numbers = [m.span() for m in re.finditer(rb"-?\d+(\.\d+)?", bytes(data[:65536]))]
            if numbers:
                start, end = rng.choice(numbers)
                data[start:end] = rng.choice(INTERESTING)
        elif kind == 7 and data:  # a 32-bit field of a binary format
            value = rng.choice(INTERESTING[10:] + [b"\x00\x00\x00\x80", b"\xff\xff\x00\x00"])
            data[at:at + len(value)] = value
    return bytes(data)


def run_case(quadscene, model_path, data, scratch):
    case_dir = tempfile.mkdtemp(dir=scratch)
    model = os.path.join(case_dir, os.path.basename(model_path))
    with open(model, "wb") as out:
        out.write(data)
    command = ["prlimit", "--as=%d" % ADDRESS_SPACE, quadscene, "import", model, "-o",
               os.path.join(case_dir, "out", "nyc.map"), "--quiet"]
    started = time.monotonic()
    try:
        result = subprocess.run(command, capture_output=True, timeout=CASE_SECONDS)
        status, err = result.returncode, result.stderr.decode("utf-8", "replace")
    except subprocess.TimeoutExpired:
        status, err = "hang", ""
    seconds = time.monotonic() - started
    shutil.rmtree(case_dir, ignore_errors=True)
    lines = [line for line in err.splitlines() if line.startswith(model + ": ") or
             line.startswith(model + ":")]
    last = err.strip().splitlines()[-1] if err.strip() else ""
    if status == 0:
        outcome = "imported"
    elif status == 1 and last.startswith(model):
        match = re.search(r"the model reader (crashed \((SIG\w+)\)|stopped after|did not finish|"
                          r"was stopped for a system call|ended without)", last)
        if match and match.group(2):
            outcome = "contained crash " + match.group(2)
        elif match:
            outcome = "contained " + match.group(1).split(" (")[0]
        else:
            outcome = "refused with a message"
    else:
        outcome = "FAILURE status %s" % status
    return outcome, last, seconds, bool(lines)


def shrink(quadscene, model_path, data, outcome, scratch, budget_seconds=120):
    """The smallest input found that still ends the same way: chunks removed while it does."""
    deadline = time.monotonic() + budget_seconds
    chunk = max(1, len(data) // 2)
    while chunk >= 1 and time.monotonic() < deadline:
        at, shrunk = 0, False
        while at < len(data) and time.monotonic() < deadline:
            candidate = data[:at] + data[at + chunk:]
            if candidate and run_case(quadscene, model_path, candidate, scratch)[0] == outcome:
                data, shrunk = candidate, True
            else:
                at += chunk
        if not shrunk:
            chunk //= 2
    return data


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--cases", type=int, default=10000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--seconds", type=int, default=6 * 3600)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--shrink", type=int, default=8, help="crash classes to shrink")
    args = parser.parse_args()
    quadscene = os.path.abspath(os.path.join(args.build, "tools", "quadscene"))
    kept = os.path.join(os.path.dirname(os.path.abspath(__file__)), "out", "mutations")
    os.makedirs(kept, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix="quadview-mutations-")
    rng = random.Random(args.seed)
    corpus = seeds()
    cases = []
    for index in range(args.cases):
        model = rng.choice(corpus)
        with open(model, "rb") as source:
            cases.append((index, model, mutate(source.read(), rng)))
    by_outcome = collections.Counter()
    by_format = collections.defaultdict(collections.Counter)
    first_of_class = {}
    deadline = time.monotonic() + args.seconds
    done = 0
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        futures = {pool.submit(run_case, quadscene, model, data, scratch): (index, model, data)
                   for index, model, data in cases}
        for future in concurrent.futures.as_completed(futures):
            index, model, data = futures[future]
            outcome, last, seconds, _ = future.result()
            extension = os.path.splitext(model)[1].lower() or "(none)"
            by_outcome[outcome] += 1
            by_format[extension][outcome] += 1
            done += 1
            if outcome.startswith("FAILURE") or outcome.startswith("contained"):
                name = "%s-%05d%s" % (re.sub(r"\W+", "_", outcome), index, extension)
                with open(os.path.join(kept, name), "wb") as out:
                    out.write(data)
                first_of_class.setdefault((outcome, extension), (model, data, name))
            if done % 500 == 0:
                print("%d cases: %s" % (done, dict(by_outcome)), flush=True)
            if time.monotonic() > deadline:
                for other in futures:
                    other.cancel()
                break
    print("\n%d cases, seed %d, by outcome:" % (done, args.seed))
    for outcome, count in by_outcome.most_common():
        print("  %6d  %s" % (count, outcome))
    print("by format (imported / message / contained / FAILURE):")
    for extension in sorted(by_format):
        counts = by_format[extension]
        contained = sum(n for o, n in counts.items() if o.startswith("contained"))
        failures = sum(n for o, n in counts.items() if o.startswith("FAILURE"))
        print("  %-8s %5d %5d %5d %5d" % (extension, counts["imported"],
                                           counts["refused with a message"], contained, failures))
    crash_classes = [key for key in first_of_class if key[0].startswith("contained crash")]
    for outcome, extension in sorted(crash_classes)[:args.shrink]:
        model, data, name = first_of_class[(outcome, extension)]
        small = shrink(quadscene, model, data, outcome, scratch)
        path = os.path.join(kept, "shrunk-" + name)
        with open(path, "wb") as out:
            out.write(small)
        print("shrunk %s (%s): %d -> %d bytes: %s" % (outcome, extension, len(data), len(small),
                                                       path))
    shutil.rmtree(scratch, ignore_errors=True)
    return 1 if any(o.startswith("FAILURE") for o in by_outcome) else 0


if __name__ == "__main__":
    sys.exit(main())
