"""Writes the resource files of the fault launcher copies into a folder:

  fault_config_big.txt    a CONFIG text of exactly 1 MiB, its one usable entry last
  fault_config_many.txt   a CONFIG text of 10000 entries, the one to choose last
  cut_config.txt    a CONFIG that asks for the bitmap CUT at 150x150
  cut_N.bmp         the 150x150 24-bit bitmap S150.bmp cut to N bytes

The cut lengths are 0, 53 (one short of the headers), 54 (headers only), the
headers and half of the first row, and the whole file less one byte."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_bitmaps  # noqa: E402

ROW = (150 * 3 + 3) // 4 * 4
CUT_LENGTHS = (0, 53, 54, 54 + ROW // 2, 54 + ROW * 150 - 1)
USABLE = "SplashScreen=150x150;S150"


def big_config():
    entries = []
    size = 0
    i = 0
    target = 1024 * 1024 - len(USABLE)
    while size < target:
        entry = f"Filler{i}=" + "x" * 40 + "|"
        entries.append(entry)
        size += len(entry)
        i += 1
    text = "".join(entries)
    text = text[:target - 1] + "|" + USABLE
    assert len(text) == 1024 * 1024
    return text


def many_config():
    # 9999 entries of 1 x 1 naming bitmaps that do not exist, then the one
    # the choice must end on: it fits the screen and is larger than them all.
    entries = [f"SplashScreen=1x1;Missing{i}" for i in range(9999)] + [USABLE]
    return "|".join(entries)


def main(folder):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "fault_config_big.txt"), "w") as f:
        f.write(big_config())
    with open(os.path.join(folder, "fault_config_many.txt"), "w") as f:
        f.write(many_config())
    with open(os.path.join(folder, "fault_cut_config.txt"), "w") as f:
        f.write("SplashScreen=150x150;CUT")
    whole = make_bitmaps.encode("S150.bmp")
    assert len(whole) == 54 + ROW * 150, len(whole)
    for n in CUT_LENGTHS:
        with open(os.path.join(folder, f"fault_cut_{n}.bmp"), "wb") as f:
            f.write(whole[:n])


if __name__ == "__main__":
    main(sys.argv[1])
