#!/usr/bin/env python3
"""Turns the samples of one bench/run.sh run into the Performance table.

Every figure is the median of its repetitions, with the spread as the lowest
and highest repetition relative to the median; ratios divide medians measured
in the same run and the same placement.
"""
import collections
import statistics
import sys

from e2e import VARIANTS

MB = 1024 * 1024
# Targets of the bulk variants: on loopback never slower than line by line;
# through the link (0.5 ms round trip) many times faster.
LOOPBACK_SPEEDUP = {"kvrdbri": ">= 1.00", "kvrdbro": ">= 1.00", "kvrdbrorsa": ">= 1.00"}
LINK_SPEEDUP = {"kvrdbri": ">= 15", "kvrdbro": ">= 5", "kvrdbrorsa": ">= 5"}


def load(path):
    samples = collections.defaultdict(list)
    with open(path) as f:
        for line in f:
            placement, name, metric, value = line.rstrip("\n").split("\t")
            samples[(placement, name, metric)].append(float(value))
    return samples


def spread(values):
    mid = statistics.median(values)
    if mid == 0 or len(values) < 2:
        return ""
    low = (min(values) - mid) / mid * 100
    high = (max(values) - mid) / mid * 100
    return "%+.0f%%/%+.0f%%" % (low, high)


def main():
    samples = load(sys.argv[1])
    # Figures 1 to 6 per loopback placement; figure 7 per link ("link...").
    everywhere = sorted({key[0] for key in samples}, key=lambda p: (p != "same-cpu", p))
    placements = [p for p in everywhere if not p.startswith("link")]
    links = [p for p in everywhere if p.startswith("link")]

    def values(placement, name, metric):
        return samples.get((placement, name, metric), [])

    def median(placement, name, metric):
        found = values(placement, name, metric)
        return statistics.median(found) if found else None

    rows = []

    def end_to_end_rows(figure, p, ping, speedup_targets):
        """Every variant of e2e.py: wall time with the ratio to its round
        trips x the baseline round trip, round trips, peak memory; a bulk
        variant also its speed-up over the same utility line by line."""
        for variant in VARIANTS:
            if values(p, variant.name, "unavailable"):
                rows.append((figure, variant.what, p, "not available", "", "", ""))
                continue
            wall = median(p, variant.name, "seconds")
            trips = median(p, variant.name, "round_trips")
            ratio = ""
            if wall and trips and ping:
                ratio = fmt(wall / (trips / ping))
            row(figure, variant.what + " (wall)", p, values(p, variant.name, "seconds"), "s", ratio=ratio)
            if trips:
                rows.append((figure, variant.what + ": round trips, rt/s", p,
                             "%d, %.0f rt/s" % (trips, trips / wall) if wall else "%d" % trips,
                             "", "", ""))
            row(figure, variant.what + " (peak memory)", p, values(p, variant.name, "peak_kb"), "MB",
                scale=1 / 1024)
            line = median(p, variant.utility, "seconds")
            if variant.bulk and wall and line:
                rows.append((figure, variant.what + ": speed-up over line by line", p, "", "",
                             fmt(line / wall), speedup_targets.get(variant.utility, "")))

    def row(figure, what, placement, found, unit, scale=1.0, ratio="", target=""):
        if not found:
            rows.append((figure, what, placement, "not measured", "", ratio, target))
            return
        shown = statistics.median(found) * scale
        text = ("%.0f" % shown if shown >= 100 else "%.3g" % shown) + " " + unit
        rows.append((figure, what, placement, text, spread(found), ratio, target))

    def fmt(r):
        return "%.2f" % r if r is not None else ""

    for p in placements:
        ping = median(p, "raw_pingpong", "items_per_second")
        row("1", "raw ping-pong (baseline)", p, values(p, "raw_pingpong", "items_per_second"), "rt/s",
            ratio="1.00")
        for name, what, target in (("execute_minimal", "KVRExecute `s x=1`, minimal server", ">= 0.80"),
                                   ("execute_devserver", "KVRExecute `s x=1`, kvrdevserver", "")):
            m = median(p, name, "items_per_second")
            row("2", what, p, values(p, name, "items_per_second"), "rt/s",
                ratio=fmt(m / ping) if m and ping else "", target=target)
        # TLS: round trips against the same server in clear, and the cost of
        # the handshake as the difference of a whole open and close.
        clear = median(p, "execute_devserver", "items_per_second")
        over_tls = median(p, "execute_devserver_tls", "items_per_second")
        row("2", "KVRExecute `s x=1`, kvrdevserver over TLS (ratio to the same in clear)", p,
            values(p, "execute_devserver_tls", "items_per_second"), "rt/s",
            ratio=fmt(over_tls / clear) if over_tls and clear else "", target=">= 0.80")
        opens = {}
        for name, what in (("open_devserver", "open and close, kvrdevserver"),
                           ("open_devserver_tls", "open and close, kvrdevserver over TLS")):
            per_open = [1e6 / v for v in values(p, name, "items_per_second") if v]
            opens[name] = statistics.median(per_open) if per_open else None
            row("2", what, p, per_open, "us")
        if opens["open_devserver"] and opens["open_devserver_tls"]:
            rows.append(("2", "TLS handshake (open over TLS minus open in clear)", p,
                         "%.0f us" % (opens["open_devserver_tls"] - opens["open_devserver"]), "", "", ""))
        for name, what in (("raw_pingpong", "raw ping-pong"), ("execute_minimal", "KVRExecute, minimal server")):
            row("2", "client CPU per round trip: " + what, p, values(p, name, "cpu_seconds"), "us",
                scale=1e6)
        row("3", "client CPU, 2 s wait for a reply", p, values(p, "slow_reply_cpu", "cpu_ms"), "ms",
            target="< 20 ms")
        bulk = median(p, "bulk_recv", "bytes_per_second")
        row("4", "raw bulk recv, 20 MB (baseline)", p, values(p, "bulk_recv", "bytes_per_second"),
            "MB/s", scale=1 / MB, ratio="1.00")
        out = median(p, "execute_output", "bytes_per_second")
        row("4", "KVRExecuteOutput, 20 MB", p, values(p, "execute_output", "bytes_per_second"), "MB/s",
            scale=1 / MB, ratio=fmt(out / bulk) if out and bulk else "", target=">= 0.50")
        for name, what in (("bulk_recv", "raw bulk recv"), ("execute_output", "KVRExecuteOutput")):
            row("4", "client CPU per 20 MB: " + what, p, values(p, name, "cpu_seconds"), "ms",
                scale=1e3)
        end_to_end_rows("5", p, ping, LOOPBACK_SPEEDUP)
        row("6", "kvrdevserver write requests, 2 clients", p,
            values(p, "devserver_write_2", "items_per_second"), "req/s",
            ratio=fmt(median(p, "devserver_write_2", "items_per_second") / ping)
            if ping and median(p, "devserver_write_2", "items_per_second") else "")

    for p in links:
        ping = median(p, "raw_pingpong", "items_per_second")
        found = values(p, "raw_pingpong", "items_per_second")
        if found:
            rows.append(("7", "raw ping-pong through the relay (baseline)", p,
                         "%.0f rt/s, %.0f us each" % (ping, 1e6 / ping), spread(found), "1.00", ""))
        else:
            row("7", "raw ping-pong through the relay (baseline)", p, found, "rt/s")
        end_to_end_rows("7", p, ping, LINK_SPEEDUP)
        for variant in VARIANTS:
            there = median(p, variant.name, "seconds")
            here = median("same-cpu", variant.name, "seconds")
            if there and here:
                rows.append(("7", variant.what + ": wall through the link / on loopback (same-cpu)", p,
                             "", "", fmt(there / here), ""))

    order = placements + links
    header = ("fig.", "what", "placement", "median", "spread (min/max)", "ratio", "target")
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join("---" for _ in header) + "|")
    for r in sorted(rows, key=lambda r: (r[0], order.index(r[2]))):
        print("| " + " | ".join(r) + " |")


if __name__ == "__main__":
    main()
