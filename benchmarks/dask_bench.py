"""Corpus-wide keywords on Dask: MB/s with 1 and 2 worker processes, and in one process.

The corpus is at least 200 MB of real prose: the six corpora of corpora.py
(English, French, Russian, Greek, Chinese, Japanese; built once into the
cache, see there) written over and over into files of about 16 MB in a
temporary folder, each file holding all six languages. Four ways to get the
top keywords of the whole corpus are timed:

* ``one call``: ``extract_keywords`` on the whole corpus as one str, already
  in memory (reading and joining the files is not timed). The module's own
  speed on one core, and the answer the others must give.
* ``one process``: ``corpus_keywords`` over plain partitions (one per file),
  reading and decoding the files included, in this process.
* ``Dask, N workers, whole files``: ``corpus_keywords`` on a bag of the
  files' texts (``db.from_sequence(paths).map(read)``, one file a text and a
  partition), with a ``distributed.LocalCluster`` of N worker processes of
  one thread each: reading, decoding, counting, the tree of merges and the
  final top N, all on the workers. The same work as ``one process``.
* ``Dask, N workers, read_text``: the same on ``dask.bag.read_text(files,
  blocksize=...)``, Dask's own reader, which cuts the files into blocks at
  line ends and each block into lines (one line a text), so that one large
  file makes many partitions. Cutting into lines costs time of its own.

Each cluster is started (and warmed up with a small run that imports
parvenkel on every worker) before the clock runs.

The ways take turns, one run each per round, for ``--repeat`` rounds, so
that a change in the machine's load hits all of them alike. The table gives
the best and the median time as MB/s, MB being 10^6 bytes of UTF-8 text,
and MB per CPU second: the CPU time of the processes that do the work (this
one, or the sum over the workers), which the load of other programs changes
little, unlike the wall-clock time. "Cores used" is CPU seconds per second:
two workers on two free cores come near 2, and near 1 says that the machine
had one core to spare. Every run's answer is checked against the one
call's (the same counts; ties in word order).

    .venv/bin/python benchmarks/dask_bench.py                # 1 and 2 workers, about 2 minutes
    .venv/bin/python benchmarks/dask_bench.py --mb 400 --workers 1 2 4 --repeat 5
    .venv/bin/python benchmarks/dask_bench.py --json results.json

It needs the ``dask`` extra (``pip install -e '.[dask]'``, or the dev
requirements). Not part of the test suite.
"""

from __future__ import annotations

import argparse
import json
import logging
import os
import statistics
import sys
import tempfile
import time
from contextlib import ExitStack
from pathlib import Path

ALL = 2**64 - 1


def build_corpus(folder: Path, megabytes: float, file_mb: float) -> list[Path]:
    """Files of about file_mb MB each, together at least megabytes MB."""
    sys.path.insert(0, str(Path(__file__).resolve().parent))
    from corpora import load_corpora

    corpora = load_corpora()
    block = "\n".join(corpora[name] for name in sorted(corpora)) + "\n"
    block_bytes = len(block.encode("utf-8"))
    per_file = max(1, round(file_mb * 1e6 / block_bytes))
    content = (block * per_file).encode("utf-8")
    files = []
    total = 0
    while total < megabytes * 1e6:
        path = folder / f"part-{len(files):04d}.txt"
        path.write_bytes(content)
        files.append(path)
        total += len(content)
    return files


def read_utf8(path: str) -> str:
    return Path(path).read_text(encoding="utf-8")


def check_same(result, single_call, name: str) -> None:
    # Same counts in the same order; the same words above the last count.
    counts = [count for _, count in result]
    if counts != [count for _, count in single_call]:
        raise SystemExit(f"{name}: counts differ from the one call's")
    last = counts[-1] if counts else None
    above = {word for word, count in result if count != last}
    if above != {word for word, count in single_call if count != last}:
        raise SystemExit(f"{name}: words differ from the one call's")


class Way:
    """One way to compute the answer, and its times and CPU times per round."""

    def __init__(self, name: str, workers: int, run, cpu_seconds, partitions: int | None = None):
        self.name = name
        self.workers = workers
        self.run = run  # () -> the top keywords
        self.cpu_seconds = cpu_seconds  # () -> CPU seconds used so far by the processes that work
        self.partitions = partitions
        self.seconds: list[float] = []
        self.cpu: list[float] = []


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mb", type=float, default=210, help="corpus size in MB (default 210)")
    parser.add_argument("--file-mb", type=float, default=16, help="size of one file in MB (default 16)")
    parser.add_argument("--blocksize", default="8MiB", help="read_text's block size (default 8MiB)")
    parser.add_argument("--workers", type=int, nargs="+", default=[1, 2], help="worker counts (default 1 2)")
    parser.add_argument("--repeat", type=int, default=3, help="rounds (default 3)")
    parser.add_argument("--top", type=int, default=20, help="top N keywords (default 20)")
    parser.add_argument("--stop-list", default="english", help="built-in stop list, or '' for none")
    parser.add_argument("--json", type=Path, help="also write the figures to this file")
    args = parser.parse_args()

    import dask.bag as db
    import distributed

    from parvenkel import extract_keywords, stoplists
    from parvenkel.dask_support import corpus_keywords

    stop_words = stoplists.load(args.stop_list) if args.stop_list else []
    load_start = os.getloadavg()
    with tempfile.TemporaryDirectory(prefix="parvenkel-dask-bench-") as tmp, ExitStack() as stack:
        files = build_corpus(Path(tmp), args.mb, args.file_mb)
        paths = [str(path) for path in files]
        mb = sum(path.stat().st_size for path in files) / 1e6
        print(f"corpus: {len(files)} files, {mb:.1f} MB of UTF-8 text, in {tmp}", flush=True)

        # The answer every way must give.
        whole = "".join(read_utf8(path) for path in paths)
        single_call = extract_keywords(whole, stop_words, args.top)
        del whole

        def one_call():
            # A new str every time: a str keeps its UTF-8 form after a call,
            # and a newly read text has to pay for that conversion. Reading
            # and joining the files is outside the clock (the run's own
            # process_time and perf_counter below start after it).
            return extract_keywords(text_for_one_call.pop(), stop_words, args.top)

        text_for_one_call: list[str] = []
        ways = [
            Way("one call (text in memory)", 0, one_call, time.process_time),
            Way(
                "one process, corpus_keywords over the files",
                0,
                lambda: corpus_keywords(([read_utf8(path)] for path in paths), stop_words, args.top),
                time.process_time,
            ),
        ]
        for workers in args.workers:
            started = time.perf_counter()
            cluster = stack.enter_context(
                distributed.LocalCluster(
                    n_workers=workers,
                    threads_per_worker=1,
                    processes=True,
                    host="127.0.0.1",
                    # Its HTTP server (health, metrics) is there even without a dashboard:
                    # a free port, not 8787, which another run may hold.
                    dashboard_address="127.0.0.1:0",
                    silence_logs=logging.ERROR,
                )
            )
            client = stack.enter_context(distributed.Client(cluster, set_as_default=False))
            client.wait_for_workers(workers)
            warm_up = corpus_keywords(db.from_sequence(["warm up"] * 8, npartitions=8), [], 1)
            client.compute(warm_up).result()
            print(f"cluster of {workers} started in {time.perf_counter() - started:.1f} s", flush=True)
            bags = {
                "whole files": db.from_sequence(paths, npartitions=len(paths)).map(read_utf8),
                "read_text": db.read_text(paths, blocksize=args.blocksize),
            }
            for input_name, bag in bags.items():
                lazy = corpus_keywords(bag, stop_words, args.top)
                ways.append(
                    Way(
                        f"Dask, {workers} worker process{'es' if workers > 1 else ''}, {input_name}",
                        workers,
                        lambda client=client, lazy=lazy: client.compute(lazy).result(),
                        lambda client=client: sum(client.run(time.process_time).values()),
                        bag.npartitions,
                    )
                )

        # Rounds: every way once per round, in turn, so that a change in the
        # machine's load hits all of them alike.
        for round_number in range(args.repeat):
            print(f"round {round_number + 1} of {args.repeat}", flush=True)
            for way in ways:
                if way.run is one_call:
                    text_for_one_call.append("".join(read_utf8(path) for path in paths))
                cpu_before = way.cpu_seconds()
                start = time.perf_counter()
                result = way.run()
                way.seconds.append(time.perf_counter() - start)
                way.cpu.append(way.cpu_seconds() - cpu_before)
                check_same(result, single_call, way.name)
                print(f"  {way.name}: {way.seconds[-1]:.2f} s, {way.cpu[-1]:.2f} CPU s", flush=True)

    load_end = os.getloadavg()
    print()
    print(
        f"{mb:.1f} MB in {len(files)} files, top {args.top}, stop list {args.stop_list or 'none'}, "
        f"{os.cpu_count()} CPUs, load average {load_start[0]:.2f} at the start, {load_end[0]:.2f} at the end"
    )
    print()
    # Cores used: the CPU seconds of the working processes per second of the
    # run. Two workers that get two free cores come near 2; near 1 means the
    # machine had only one to spare.
    print("| way | MB/s (best) | MB/s (median) | MB per CPU second (median) | cores used (median) |")
    print("|---|---:|---:|---:|---:|")
    for way in ways:
        cores = statistics.median(cpu / wall for cpu, wall in zip(way.cpu, way.seconds))
        print(
            f"| {way.name} | {mb / min(way.seconds):.1f} | {mb / statistics.median(way.seconds):.1f} "
            f"| {mb / statistics.median(way.cpu):.1f} | {cores:.2f} |"
        )
    if args.json:
        figures = {
            "megabytes": mb,
            "files": len(files),
            "top": args.top,
            "stop_list": args.stop_list,
            "cpus": os.cpu_count(),
            "load_average": [load_start, load_end],
            "ways": [
                {
                    "way": way.name,
                    "workers": way.workers,
                    "partitions": way.partitions,
                    "seconds": way.seconds,
                    "cpu_seconds": way.cpu,
                }
                for way in ways
            ],
        }
        args.json.write_text(json.dumps(figures, indent=2) + "\n")


if __name__ == "__main__":
    main()
