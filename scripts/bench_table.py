"""Gathers the figures of every benchmark's output (build/bench/) into one table."""
import json
import re
import sys
from pathlib import Path

out = Path(sys.argv[1])
rows = []


def row(what, value, against, ratio):
    rows.append((what, value, against, ratio))


def grab(text, pattern):
    match = re.search(pattern, text)
    return float(match.group(1)) if match else None


# Google Benchmark appends its settings to a name ("decode/gzip/text/iterations:5/...").
lzari = {}
for b in json.loads((out / "lzari.json").read_text())["benchmarks"]:
    lzari["/".join(b["name"].split("/")[:3])] = b
for corpus in ("text", "binary"):
    def mbs(name):
        b = lzari.get(name)
        return b.get("MB") if b else None
    def ratio(name):
        b = lzari.get(name)
        return b.get("ratio") if b else None
    dec, gz, xz = (mbs(f"decode/{t}/{corpus}") for t in ("lzari", "gzip", "xz"))
    row(f"LZARI decode, 4 MiB {corpus}", f"{dec:.1f} MB/s",
        f"gzip -d {gz:.1f} MB/s, xz -d {xz:.1f} MB/s", f"{dec / gz:.2f}x gzip")
    classic, bytewise = (mbs(f"decode/{t}/{corpus}") for t in ("classic", "lzari-bytewise"))
    row(f"LZARI decode against the classic decoder, 4 MiB {corpus}", f"{dec:.1f} MB/s",
        f"classic decoder {classic:.1f} MB/s (ours through per-byte calls {bytewise:.1f} MB/s)",
        f"{dec / classic:.2f}x classic")
    enc, genc, xenc = (mbs(f"encode/{t}/{corpus}") for t in ("lzari", "gzip-9", "xz-9"))
    row(f"LZARI encode, 4 MiB {corpus}", f"{enc:.1f} MB/s",
        f"gzip -9 {genc:.1f} MB/s, xz -9 {xenc:.1f} MB/s", f"{enc / genc:.2f}x gzip")
    r, gr, xr = (ratio(f"encode/{t}/{corpus}") for t in ("lzari", "gzip-9", "xz-9"))
    row(f"compressed size, 4 MiB {corpus}", f"{100 * r:.1f} %",
        f"gzip -9 {100 * gr:.1f} %, xz -9 {100 * xr:.1f} %", f"{r / gr:.2f}x gzip's size")

# Each benchmark's rows appear when its output is there, so that one benchmark can be
# rerun on its own.
if (out / "payload.txt").exists():
    payload = (out / "payload.txt").read_text()
    stored = grab(payload, r"stored entries\s+[\d.]+ ms\s+\(([\d.-]+) ms more\)")
    cp = grab(payload, r"cp of the same .*?([\d.]+) ms")
    packed = grab(payload, r"compressed entries .*?\)\s+[\d.]+ ms\s+\(([\d.-]+) ms more\)")
    decode = grab(payload, r"lzari decode of the same streams\s+([\d.]+) ms")
    row("PE32: start to runtime, 64 MiB stored entries (extra)", f"{stored:.0f} ms", f"cp {cp:.0f} ms",
        f"{stored / cp:.2f}x cp")
    row("PE32: start to runtime, 64 MiB compressed entries (extra)", f"{packed:.0f} ms",
        f"lzari decode {decode:.0f} ms", f"{packed / decode:.2f}x decode")
    labels = (("stored", r"stored entries\s+"), ("compressed", r"compressed entries .*?\)\s+"))
    for kind, label in labels:
        with_record = grab(payload, r"with 4 x \d+ MiB " + label + r"([\d.]+) ms")
        pattern = r"the same " + kind + r" entries without the (?:integrity )?record\s+([\d.]+) ms"
        without = grab(payload, pattern)
        cost = grab(payload, r"cost of the integrity record, " + kind + r"\s+([\d.-]+) %")
        row(f"PE32: start to runtime, 64 MiB {kind} entries, with the integrity record",
            f"{with_record:.0f} ms", f"without it {without:.0f} ms", f"{cost:+.1f} %")
    crc = grab(payload, r"PE32 CRC-32 of the same 64 MiB, in process\s+([\d.]+) ms")
    crc_share = grab(payload, r"in process\s+[\d.]+ ms\s+\(([\d.]+) % of the stored")
    row("PE32: CRC-32 of those 64 MiB stored, in process", f"{crc:.0f} ms",
        f"{64 * 1.048576 / crc * 1000:.0f} MB/s", f"{crc_share:.1f} % of the stored start to runtime")
    ours = grab(payload, r"PE32 decoder, the same streams, in process\s+([\d.]+) ms")
    classic = grab(payload, r"PE32 classic decoder, the same streams\s+([\d.]+) ms")
    row("PE32: LZARI decode of those 64 MiB, in process", f"{ours:.0f} ms",
        f"classic decoder {classic:.0f} ms", f"{classic / ours:.2f}x the classic decoder")

if (out / "cleanup.txt").exists():
    cleanup = (out / "cleanup.txt").read_text()
    c = grab(cleanup, r"timed in-process:\s+([\d.]+) ms")
    r = grab(cleanup, r"rm -rf of the same tree on the host:\s+([\d.]+) ms")
    row("PE32: exit cleanup, 1,000 abandoned folders", f"{c:.0f} ms", f"rm -rf {r:.0f} ms", f"{c / r:.1f}x rm -rf")

if (out / "startup.txt").exists():
    startup = (out / "startup.txt").read_text()
    e = grab(startup, r"empty program ([\d.]+) ms")
    l = grab(startup, r"launcher to runtime and back ([\d.]+) ms")
    row("PE32: launcher, no payload, start to runtime and back", f"{l:.1f} ms",
        f"empty program {e:.1f} ms", f"+{l - e:.1f} ms")

print("| measure | this system | side by side | ratio |")
print("|---|---|---|---|")
for what, value, against, ratio in rows:
    print(f"| {what} | {value} | {against} | {ratio} |")
