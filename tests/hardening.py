"""Helpers of the hardening tests (leaks, threads, extremes, allocation
failures): a leak check in the manner of CPython's reference-leak hunter,
and what the running interpreter can tell about itself."""

import gc
import sys

#: The debug build of CPython counts every reference it hands out.
HAVE_TOTAL_REFCOUNT = hasattr(sys, "gettotalrefcount")

#: The interpreter's own allocator counts its blocks; the system allocator
#: (PYTHONMALLOC=malloc, as under tools/sanitize.sh) does not.
HAVE_BLOCK_COUNT = sys.getallocatedblocks() > 0


def under_address_sanitizer():
    """True when the AddressSanitizer runtime is loaded (tools/sanitize.sh)."""
    try:
        with open("/proc/self/maps", encoding="utf-8", errors="replace") as maps:
            return any("libasan" in line or "libclang_rt.asan" in line for line in maps)
    except OSError:
        return False


class HasIndex:
    """An integer argument that is not an int: only __index__ makes it one."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def new_str(text):
    """A string object of its own: literals may be shared, interned or
    immortal, and then their reference counts tell nothing."""
    return "".join([text, "\u0000"])[:-1] if text else text


def _totals():
    gc.collect()
    refs = sys.gettotalrefcount() if HAVE_TOTAL_REFCOUNT else 0
    return refs, sys.getallocatedblocks()


def leak_deltas(call, *, warmups=3, runs=6, calls_per_run=20):
    """Runs `call` in `warmups` untracked runs, then in `runs` tracked ones of
    `calls_per_run` calls each; returns the growth of the total reference
    count and of the allocated block count over each tracked run.

    The total reference count exists only in a debug build (zeros
    elsewhere); the block count only counts blocks of the interpreter's own
    allocator (zeros under PYTHONMALLOC=malloc)."""
    for _ in range(warmups):
        for _ in range(calls_per_run):
            call()
    ref_deltas = [0] * runs
    block_deltas = [0] * runs
    # Everything alive now is set aside by the collector, so that each
    # collection below looks only at what the runs made: the same result,
    # without walking the whole test session's heap each time.
    gc.collect()
    gc.freeze()
    try:
        refs, blocks = _totals()
        for run in range(runs):
            for _ in range(calls_per_run):
                call()
            new_refs, new_blocks = _totals()
            ref_deltas[run] = new_refs - refs
            block_deltas[run] = new_blocks - blocks
            refs, blocks = new_refs, new_blocks
    finally:
        gc.unfreeze()
    return ref_deltas, block_deltas


def assert_no_leak(call, *, calls_per_run=20, **kwargs):
    """Fails when every tracked run left references or memory blocks behind:
    a leak grows with every run, noise does not. A call does the same work
    each time, so a leaked block is one a call at least; the interpreter's
    own caches (free lists filling up) can leave a few blocks a run, and
    those are not counted."""
    ref_deltas, block_deltas = leak_deltas(call, calls_per_run=calls_per_run, **kwargs)
    least_blocks = max(1, calls_per_run // 4)
    leaked = []
    if all(delta >= 1 for delta in ref_deltas):
        leaked.append(f"references left per run: {ref_deltas}")
    if all(delta >= least_blocks for delta in block_deltas):
        leaked.append(f"memory blocks left per run: {block_deltas}")
    assert not leaked, "; ".join(leaked)
