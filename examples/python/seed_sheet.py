#!/usr/bin/python3
"""A 3 x 3 sheet of Orvandel maps, one seed each, drawn with matplotlib.

usage: seed_sheet.py [SHEET.png] [--first SEED] [--settings FILE.ini] [--generations N]

Writes the sheet to SHEET.png (seed_sheet.png by default). Without matplotlib, prints each
map's shares of water, land and unchanged cells instead. Run it with the module on the path,
e.g. PYTHONPATH=build/release/python /usr/bin/python3 examples/python/seed_sheet.py
"""

import argparse

import orvandel


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("sheet", nargs="?", default="seed_sheet.png")
    parser.add_argument("--first", type=int, default=1, help="the first of nine seeds (default 1)")
    parser.add_argument("--settings", help="a settings file (default: the presets)")
    parser.add_argument("--generations", type=int, default=100)
    args = parser.parse_args()

    seeds = range(args.first, args.first + 9)
    maps = [orvandel.generate(seed, generations=args.generations, settings=args.settings) for seed in seeds]
    try:
        import matplotlib

        matplotlib.use("Agg")  # no display needed
        import matplotlib.pyplot as plt
    except ImportError:
        for m in maps:
            s = m.stats
            print(f"seed {m.seed}: water {s['water']['percent']:.1f}%, land {s['land']['percent']:.1f}%, "
                  f"unchanged {s['unchanged']['percent']:.1f}%")
        return

    figure, axes = plt.subplots(3, 3, figsize=(9, 9))
    for ax, m in zip(axes.flat, maps):
        ax.imshow(m.rgba, interpolation="nearest")  # the picture as the PNG shows it
        ax.set_title(f"seed {m.seed}", fontsize=9)
        ax.axis("off")
    figure.suptitle(f"Orvandel {orvandel.__version__}, {maps[0].width} x {maps[0].height}, "
                    f"{args.generations} generations")
    figure.tight_layout()
    figure.savefig(args.sheet, dpi=100)
    print(f"wrote {args.sheet}")


if __name__ == "__main__":
    main()
