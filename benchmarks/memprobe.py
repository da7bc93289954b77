"""Peak memory of one extract_keywords call on a big text, in a fresh process.

    python benchmarks/memprobe.py --impl parvenkel --text mixed --mb 100

tracemalloc sees only Python's own allocations, not the C++ core's, so the
probe reads the resident set instead: it builds the text, collects garbage,
resets the kernel's high-water mark (writing 5 to /proc/self/clear_refs),
reads the peak resident size as the baseline, makes one call and reads the
peak again. The difference is the extra memory the call needed at its peak
(its result included, which is tiny for top_n = 20). With --cached it then
measures a second call on the same str, which shows whether the first left
anything behind in it (a UTF-8 copy kept by CPython, say).
``--impl utf8-conversion`` measures CPython's UTF-8 conversion of the str
alone.
Prints one JSON object.

The peak is read as VmHWM from /proc/self/status, the same counter that
getrusage()'s ru_maxrss reports, except that ru_maxrss also keeps the peak
of the process image before exec: a probe started by a big parent process
(the benchmark runner, with its inputs built) inherits the parent's size
there and would see no growth at all. ru_maxrss is reported alongside.
"""

from __future__ import annotations

import argparse
import gc
import json
import pathlib
import resource
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import corpora  # noqa: E402
import inputs  # noqa: E402


def _status_kib(field: str) -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])  # "VmHWM:   12345 kB"
    raise RuntimeError(f"{field} not in /proc/self/status")


def _rss_kib() -> int:
    return _status_kib("VmRSS")


def _peak_kib() -> int:
    return _status_kib("VmHWM")


def _maxrss_kib() -> int:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss  # KiB on Linux


def _reset_peak() -> bool:
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def _impl(name: str):
    if name == "parvenkel":
        import parvenkel

        return parvenkel.extract_keywords
    if name == "pure-python":
        import pure_python

        return pure_python.extract_keywords
    if name == "utf8-conversion":
        # What the call frame asks of CPython for a str argument, alone.
        import ctypes

        as_utf8 = ctypes.pythonapi.PyUnicode_AsUTF8AndSize
        as_utf8.restype = ctypes.c_void_p
        as_utf8.argtypes = [ctypes.py_object, ctypes.POINTER(ctypes.c_ssize_t)]

        def convert(text, stop_words, top_n):
            size = ctypes.c_ssize_t()
            as_utf8(text, ctypes.byref(size))
            return []

        return convert
    if name == "scikit-learn":
        import libraries

        return libraries.sklearn_extract_keywords
    raise SystemExit(f"unknown implementation {name}")


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--impl", required=True)
    parser.add_argument("--text", default="mixed", choices=["mixed", "ascii", "huge-vocabulary"])
    parser.add_argument("--mb", type=float, default=100)
    parser.add_argument("--cache", type=pathlib.Path, default=None)
    parser.add_argument("--cached", action="store_true",
                        help="also measure a second call on the same str")
    parser.add_argument("--distinct", action="store_true",
                        help="also count the distinct words (with parvenkel, after the measurement)")
    args = parser.parse_args()

    fn = _impl(args.impl)
    corpus = corpora.load_corpora(args.cache)
    text = inputs.big_text(corpus, int(args.mb * 1_000_000), args.text).text
    del corpus
    gc.collect()

    # Warm the function up on a small text so that first-call costs (lazy
    # imports, caches) are not counted as the big call's memory.
    fn("warm up the function", inputs.STOP_WORDS, inputs.TOP_N)
    gc.collect()

    str_bytes = sys.getsizeof(text)
    rss_before = _rss_kib()
    reset = _reset_peak()
    base = _peak_kib()
    maxrss_before = _maxrss_kib()
    result = fn(text, inputs.STOP_WORDS, inputs.TOP_N)
    peak = _peak_kib()
    maxrss_after = _maxrss_kib()
    rss_after = _rss_kib()

    out = {
        "impl": args.impl,
        "text": args.text,
        "text_chars": len(text),
        "text_utf8_bytes": inputs.utf8_len(text),
        "text_str_bytes": str_bytes,
        "text_is_ascii": text.isascii(),
        "peak_reset": reset,
        "rss_before_kib": rss_before,
        "baseline_kib": base,
        "peak_kib": peak,
        "rss_after_kib": rss_after,
        "ru_maxrss_before_kib": maxrss_before,
        "ru_maxrss_after_kib": maxrss_after,
        "peak_extra_bytes": (peak - base) * 1024,
        "top": result[:3],
    }
    del result
    gc.collect()

    # The same call again: a function that converted the str to UTF-8 would
    # find that form kept in the str now and peak lower; parvenkel reads the
    # str where it lies, so both calls measure its own working memory.
    if args.cached:
        _reset_peak()
        base = _peak_kib()
        result = fn(text, inputs.STOP_WORDS, inputs.TOP_N)
        out["peak_extra_cached_bytes"] = (_peak_kib() - base) * 1024
        del result
    out["text_str_bytes_after"] = sys.getsizeof(text)
    if args.distinct:
        # All distinct counted words: their number and their UTF-8 bytes
        # (from parvenkel when it can be imported, else the baseline's).
        try:
            import parvenkel

            words = parvenkel.extract_keywords(text, inputs.STOP_WORDS, 2**64 - 1)
        except ImportError:
            import pure_python

            words = pure_python.extract_keywords(text, inputs.STOP_WORDS, None)
        out["distinct_words"] = len(words)
        out["distinct_bytes"] = sum(inputs.utf8_len(w) for w, _ in words)
    json.dump(out, sys.stdout)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
