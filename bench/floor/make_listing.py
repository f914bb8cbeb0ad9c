#!/usr/bin/env python3
"""The input of write_floor for a tree: a listing ("D folder" and "F size file"
lines, each folder before what it holds, names with "/") and one data file
with every file's bytes in listing order. With --make N it first builds the
tree: N small files of deterministic text (1 to 1,024 bytes) in folders of
500.
Usage: make_listing.py [--make N] TREE LISTING DATA"""
import os
import sys


def make_tree(tree, count):
    os.makedirs(tree)
    for i in range(count):
        folder = os.path.join(tree, "d%04d" % (i // 500))
        if i % 500 == 0:
            os.mkdir(folder)
        size = (i * 7919) % 1024 + 1
        line = ("file %d of %d in folders of 500; " % (i, count)).encode()
        body = (line * (size // len(line) + 1))[:size]
        with open(os.path.join(folder, "f%05d.txt" % i), "wb") as f:
            f.write(body)


def write_listing(tree, listing, data):
    with open(listing, "w", encoding="utf-8", newline="\n") as lst, \
            open(data, "wb") as out:
        for top, dirs, files in os.walk(tree):
            dirs.sort()
            rel = os.path.relpath(top, tree)
            for d in dirs:
                name = d if rel == "." else rel + "/" + d
                lst.write("D %s\n" % name)
            for name in sorted(files):
                path = os.path.join(top, name)
                with open(path, "rb") as f:
                    body = f.read()
                out.write(body)
                lst.write("F %d %s\n" % (len(body),
                                         name if rel == "." else rel + "/" + name))


def main():
    args = sys.argv[1:]
    if args[:1] == ["--make"]:
        count = int(args[1])
        args = args[2:]
        if len(args) != 3:
            sys.exit(__doc__)
        make_tree(args[0], count)
    if len(args) != 3:
        sys.exit(__doc__)
    write_listing(*args)


if __name__ == "__main__":
    main()
