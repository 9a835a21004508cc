"""One row of a tree benchmark's table from its alternating rounds.

Reads one JSON result per line on standard input: kelp-cua's rounds
(time_requests.py, which carry "ping_median_ms") and the reference walks'
(reference_walk.py). Prints the label, the element counts kelp-cua gave,
its first and median times, the median ping where asked, the counts the
reference recorded, its median and the ratio of the medians.

    summarize_rounds.py LABEL WIDTH [--ping]
"""
import json
import statistics
import sys


def main():
    label, width, with_ping = sys.argv[1], int(sys.argv[2]), "--ping" in sys.argv[3:]
    kelp, reference = [], []
    for line in sys.stdin:
        result = json.loads(line)
        (kelp if "ping_median_ms" in result else reference).append(result)
    kelp_median = statistics.median(t for r in kelp for t in r["times_ms"])
    reference_median = statistics.median(t for r in reference for t in r["times_ms"])
    cells = [label.ljust(width), "%9s" % ",".join(map(str, sorted({n for r in kelp for n in r["elements"]}))),
             "%10.2fms" % kelp[0]["first_ms"], "%10.2fms" % kelp_median]
    if with_ping:
        cells.append("%10.3fms" % statistics.median(r["ping_median_ms"] for r in kelp))
    cells += ["%10s" % ",".join(sorted({str(r["recorded"]) for r in reference})), "%10.2fms" % reference_median,
              "%8.1fx" % (reference_median / kelp_median)]
    print(" ".join(cells))


if __name__ == "__main__":
    main()
