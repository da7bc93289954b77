"""Timing loop of the benchmarks.

Why not pyperf's Runner (or pytest-benchmark)? Both are good harnesses, but
this suite's question is a *ratio* between implementations on the same input,
on a 2-core machine that other work keeps busy, and some inputs weigh 100 MB:

* pyperf runs each benchmark in about twenty fresh worker processes; every
  worker would have to rebuild or reload its inputs (the 100 MB text alone
  takes seconds), which would blow the 10-minute budget many times over;
* pyperf (like pytest-benchmark) measures one benchmark after the other, so a
  compile starting on the machine halfway through slows one implementation
  and not the other, and the ratio is off by the noise.

So this harness follows timeit's recipe (``time.perf_counter``, garbage
collector off while timing, a batch of calls long enough to time) in one
process, and interleaves: every round times each implementation once on the
same input, in an order that rotates from round to round, and the figure
kept is the median over the rounds. Noise then hits all implementations
alike and the medians' ratio holds even when absolute speeds wander; the
spread between rounds is kept in results.json.

Each call gets its own fresh copy of the input strings (made outside the
timed region): CPython caches a str's UTF-8 form inside the object after the
first conversion, so timing a call on the same object again would hide the
conversion that a real call on a newly read text pays.
"""

from __future__ import annotations

import dataclasses
import gc
import math
import statistics
import time
from typing import Any, Callable


@dataclasses.dataclass
class Impl:
    name: str
    fn: Callable[..., Any]
    make_args: Callable[[], tuple]  # fresh arguments for one call
    min_rounds: int | None = None  # None: the case's own minimum


@dataclasses.dataclass
class Sample:
    times: list[float]  # seconds per call, one figure per round
    batch: int  # calls per timed batch

    @property
    def median(self) -> float:
        return statistics.median(self.times)

    @property
    def spread(self) -> float:
        """Relative half-width of the middle half of the rounds."""
        if len(self.times) < 4:
            return (max(self.times) - min(self.times)) / 2 / self.median
        q = statistics.quantiles(self.times, n=4)
        return (q[2] - q[0]) / 2 / self.median


def _time_batch(fn: Callable[..., Any], batch_args: list[tuple]) -> float:
    # Each result is dropped at once, as in a caller's loop, so that the
    # allocator reuses its memory for the next call (a copy whose result is
    # kept costs page faults on new memory and runs at a fraction of memcpy's
    # speed, which would be no floor).
    gc_was_enabled = gc.isenabled()
    gc.disable()
    try:
        start = time.perf_counter()
        for args in batch_args:
            fn(*args)
        elapsed = time.perf_counter() - start
    finally:
        if gc_was_enabled:
            gc.enable()
    return elapsed


def run_case(
    impls: list[Impl],
    *,
    budget_s: float,
    min_rounds: int,
    max_rounds: int = 50,
    batch_s: float = 0.01,
    max_batch: int = 10_000,
) -> dict[str, Sample]:
    """Time every implementation on the same input, interleaved by rounds.

    Rounds go on until each implementation has its minimum number of rounds
    and ``budget_s`` seconds have passed, or ``max_rounds`` is reached. An
    implementation whose own minimum is reached stops early once the budget
    is spent, so a slow baseline can be timed fewer times than a fast one.
    """
    # Calibrate: one warm-up call each, then a batch size that makes one
    # timed batch last about batch_s.
    batches: dict[str, int] = {}
    for impl in impls:
        one = _time_batch(impl.fn, [impl.make_args()])
        if one < batch_s:  # fast enough to look again: the least of three
            one = min(_time_batch(impl.fn, [impl.make_args()]) for _ in range(3))
        batches[impl.name] = max(1, min(max_batch, math.ceil(batch_s / max(one, 1e-9))))

    times: dict[str, list[float]] = {impl.name: [] for impl in impls}
    start = time.perf_counter()
    for rnd in range(max_rounds):
        over_budget = time.perf_counter() - start > budget_s
        active = [
            impl for impl in impls
            if not over_budget or len(times[impl.name]) < (impl.min_rounds or min_rounds)
        ]
        if not active:
            break
        k = rnd % len(active)
        for impl in active[k:] + active[:k]:
            n = batches[impl.name]
            batch_args = [impl.make_args() for _ in range(n)]
            times[impl.name].append(_time_batch(impl.fn, batch_args) / n)
            del batch_args
    return {name: Sample(t, batches[name]) for name, t in times.items()}
