#!/usr/bin/env python3
"""Makes a deterministic file tree for scan and search benchmarks and end-to-end tests.

    gen_tree.py ROOT [--files N] [--per-dir K] [--seed S] [--big] [--invalid-utf8]

The same arguments always give the same tree: names, sizes (sparse files) and
modification times. Names are awkward on purpose: blanks, several dots, no dot, a
leading dot, apostrophes, non-ASCII UTF-8, long names; --invalid-utf8 adds names with
bytes that are not UTF-8, --big adds a few sparse files of 2 to 4 GiB. Prints the number
of files and directories made. Refuses to write into a non-empty ROOT.
"""
import argparse
import os
import random
import sys

STEMS = ["report", "Tax Return", "photo", "notes", "O'Brien letter", "budget.final", "README",
         "Übersicht", "résumé", "данные", "写真", "archive", "backup copy", "x", "setup",
         "invoice 2002", "a.b.c", "data_set", "Mix-Case", "thesis"]
EXTS = ["doc", "txt", "pdf", "jpg", "tar.gz", "c", "h", "", "verylongextension", "DOC", "md", "mp3"]
DIR_STEMS = ["docs", "Projects", "old stuff", "2002", "src", "Müller's", "cache", ".hidden", "a.b",
             "photos", "tmp", "lib"]


def file_name(rng, i):
    kind = rng.randrange(20)
    stem = rng.choice(STEMS)
    if kind == 0:
        return f".{stem.replace(' ', '')}{i}"          # leading dot, its only dot
    if kind == 1:
        return f"{stem} {i}"                             # no dot at all
    if kind == 2:
        return f"{stem}.{i}.v2.{rng.choice(EXTS) or 'bak'}"  # several dots
    if kind == 3:
        return (stem.replace(" ", "_") * 40)[:200] + f"_{i}.txt"  # long name
    ext = rng.choice(EXTS)
    return f"{stem} {i}.{ext}" if ext else f"{stem}{i}"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("root")
    ap.add_argument("--files", type=int, default=200_000)
    ap.add_argument("--per-dir", type=int, default=10)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--big", action="store_true")
    ap.add_argument("--invalid-utf8", action="store_true")
    args = ap.parse_args()

    root = os.path.abspath(args.root)
    os.makedirs(root, exist_ok=True)
    if os.listdir(root):
        sys.exit(f"gen_tree: {root} is not empty")
    rng = random.Random(args.seed)
    base_time = 1_000_000_000  # 2001-09-09, then spread over 20 years

    dirs = [root.encode()]
    made_dirs = 0
    made_files = 0
    queue = [root.encode()]
    while made_files < args.files:
        parent = queue.pop(0) if queue else root.encode()
        # Subdirectories first, so the tree is several levels deep.
        for _ in range(rng.randrange(1, 4)):
            name = f"{rng.choice(DIR_STEMS)} {made_dirs}".encode()
            path = os.path.join(parent, name)
            if len(path) > 240:
                continue
            os.mkdir(path)
            made_dirs += 1
            queue.append(path)
            dirs.append(path)
        for _ in range(rng.randrange(1, 2 * args.per_dir)):
            if made_files >= args.files:
                break
            name = file_name(rng, made_files).encode()
            if args.invalid_utf8 and made_files % 997 == 0:
                name = b"bad\xff\xfename " + str(made_files).encode() + b".bin"
            path = os.path.join(parent, name)
            if len(path) > 4000 or len(name) > 255:
                continue
            size = rng.choice([0, 1, 17, 512, 4096, 10_240, 102_401, 1_048_576, 5_000_000])
            with open(path, "wb") as f:
                if size:
                    f.truncate(size)
            t = base_time + rng.randrange(20 * 365 * 86400)
            os.utime(path, (t, t))
            made_files += 1
    if args.big:
        for i, size in enumerate([2 * 1024**3 + 7, 3 * 1024**3, 4 * 1024**3 - 1]):
            path = os.path.join(root.encode(), f"big file {i}.img".encode())
            with open(path, "wb") as f:
                f.truncate(size)
            made_files += 1
    print(f"{made_files} files in {made_dirs + 1} directories under {root}")


if __name__ == "__main__":
    main()
