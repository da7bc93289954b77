"""Benchmark suite: parvenkel against pure Python, a word-counting library and
the cost of copying the same bytes, on real prose and stress inputs.

    .venv/bin/python benchmarks/run.py            # full run, about 5 minutes
    .venv/bin/python benchmarks/run.py --quick    # smoke run, about 1 minute
    .venv/bin/python benchmarks/run.py --out docs/benchmarks   # and docs/performance.md
    .venv/bin/python benchmarks/run.py --check    # agreement only, no timing

Writes benchmark-results.md (tables), benchmark-results.json (all figures)
and benchmark-throughput.png (plot) into benchmarks/results/ or --out, and
prints the tables. It then exits with status 1 when the pure-Python
baseline and parvenkel disagree on any input (see agreement). See
benchmarks/README.md.
"""

from __future__ import annotations

import argparse
import datetime
import json
import os
import pathlib
import platform
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
#: Where the documentation's figures live; a run written there also writes
#: the site's performance page.
DOCS_BENCHMARKS = HERE.parent / "docs" / "benchmarks"
sys.path.insert(0, str(HERE))

import corpora  # noqa: E402
import harness  # noqa: E402
import inputs  # noqa: E402
import libraries  # noqa: E402
import pure_python  # noqa: E402
import report  # noqa: E402
from harness import Impl  # noqa: E402

SETTINGS = {
    # per group: time budget per input (s), minimum rounds per implementation
    "full": {
        "keywords": (6.0, 7), "synthetic": (6.0, 3), "big": (0.0, 3),
        "score": (3.0, 9), "short": (3.0, 9), "periodic": (1.0, 5),
    },
    "quick": {
        "keywords": (0.4, 3), "synthetic": (0.4, 3), "big": (0.0, 1),
        "score": (0.2, 3), "short": (0.3, 3), "periodic": (0.1, 3),
    },
}


def log(msg: str) -> None:
    print(msg, file=sys.stderr, flush=True)


def load_parvenkel():
    try:
        import parvenkel
    except ImportError as exc:
        log(f"run: parvenkel cannot be imported ({exc}); timing the baselines only")
        return None
    return parvenkel


def fresh_text_args(text: str):
    return lambda: (inputs.fresh(text), inputs.STOP_WORDS, inputs.TOP_N)


def fresh_article_args(article: inputs.Article):
    return lambda: (inputs.fresh(article.title), inputs.fresh(article.content),
                    inputs.fresh(article.query))


def keyword_impls(pv, text: str, with_library: bool, slow_min_rounds: int | None = None):
    make = fresh_text_args(text)
    payload = text.encode("utf-8")
    impls = []
    if pv is not None:
        impls.append(Impl("parvenkel", pv.extract_keywords, make))
    impls.append(Impl("pure-python", pure_python.extract_keywords, make, slow_min_rounds))
    if with_library:
        impls.append(Impl("scikit-learn", libraries.sklearn_extract_keywords, make, slow_min_rounds))
    impls.append(Impl("copy-floor", bytearray, lambda: (payload,)))
    return impls


def score_impls(pv, make, payload: bytes):
    impls = []
    if pv is not None:
        impls.append(Impl("parvenkel", pv.score_article, make))
    impls.append(Impl("pure-python", pure_python.score_article, make))
    impls.append(Impl("copy-floor", bytearray, lambda: (payload,)))
    return impls


def summarise(samples: dict[str, harness.Sample]) -> dict:
    return {
        name: {"median_s": s.median, "spread": s.spread, "rounds": len(s.times), "batch": s.batch}
        for name, s in samples.items()
    }


def bench_keywords(pv, texts, budget, min_rounds, with_library, slow_min_rounds=None):
    rows = []
    for t in texts:
        log(f"extract_keywords: {t.name} ({t.nbytes / 1e6:.1f} MB)")
        samples = harness.run_case(
            keyword_impls(pv, t.text, with_library, slow_min_rounds),
            budget_s=budget, min_rounds=min_rounds,
        )
        rows.append({"input": t.name, "kind": t.kind, "script": t.script, "bytes": t.nbytes,
                     "note": t.note, "impls": summarise(samples)})
    return rows


def bench_score_large(pv, cases, budget, min_rounds):
    rows = []
    for c in cases:
        log(f"score_article: {c.name} ({c.article.nbytes / 1e6:.1f} MB)")
        a = c.article
        payload = (a.title + a.content + a.query).encode("utf-8")
        samples = harness.run_case(score_impls(pv, fresh_article_args(a), payload),
                                   budget_s=budget, min_rounds=min_rounds)
        rows.append({"input": c.name, "script": c.script, "bytes": a.nbytes, "note": c.note,
                     "impls": summarise(samples)})
    return rows


def bench_short(pv, pools, budget, min_rounds):
    rows = []
    for pool in pools:
        log(f"score_article: {pool.name} ({len(pool.articles)} short articles)")
        arts = pool.articles
        state = {"i": 0}

        def make():
            a = arts[state["i"] % len(arts)]
            state["i"] += 1
            return (inputs.fresh(a.title), inputs.fresh(a.content), inputs.fresh(a.query))

        payloads = [(a.title + a.content + a.query).encode("utf-8") for a in arts]
        fstate = {"i": 0}

        def make_floor():
            p = payloads[fstate["i"] % len(payloads)]
            fstate["i"] += 1
            return (p,)

        impls = []
        if pv is not None:
            impls.append(Impl("parvenkel", pv.score_article, make))
        impls.append(Impl("pure-python", pure_python.score_article, make))
        impls.append(Impl("copy-floor", bytearray, make_floor))
        # Batches of about 20 ms (cycling through the pool, each call on new
        # copies): shorter ones are at the mercy of every other process here.
        samples = harness.run_case(impls, budget_s=budget, min_rounds=min_rounds,
                                   batch_s=0.02, max_batch=20_000)
        avg = sum(a.nbytes for a in arts) / len(arts)
        rows.append({"input": pool.name, "script": pool.script, "bytes": avg,
                     "articles": len(arts), "impls": summarise(samples)})
    return rows


def memory_probes(pv, mode: str, cache, big_bytes: int, with_library: bool):
    mb = big_bytes / 1e6
    vocab_mb = 20 if mode == "full" else 5
    probes = []
    if pv is not None:
        probes += [("parvenkel", "mixed", mb), ("parvenkel", "ascii", mb),
                   ("parvenkel", "huge-vocabulary", vocab_mb)]
        probes.append(("utf8-conversion", "mixed", mb))
    probes.append(("pure-python", "mixed", mb))
    if with_library:
        probes.append(("scikit-learn", "mixed", mb))
    out = []
    for impl, text, size in probes:
        log(f"peak memory: {impl} on {text} {size:.0f} MB (fresh process)")
        cmd = [sys.executable, str(HERE / "memprobe.py"), "--impl", impl, "--text", text,
               "--mb", str(size)]
        if cache:
            cmd += ["--cache", str(cache)]
        if impl == "parvenkel":
            cmd.append("--cached")
        if impl == "parvenkel" or pv is None:
            cmd.append("--distinct")
        proc = subprocess.run(cmd, capture_output=True, text=True)
        if proc.returncode != 0:
            log(f"  failed: {proc.stderr.strip().splitlines()[-1:]}")
            out.append({"impl": impl, "text": text, "error": proc.stderr.strip()[-2000:]})
            continue
        out.append(json.loads(proc.stdout))
    return out


def agreement(pv, texts, score_cases, pools):
    """Does the pure-Python baseline give parvenkel's results on these inputs?"""
    if pv is None:
        return None
    res = {"keywords": [], "score": 0, "score_total": 0, "score_diffs": []}
    for t in texts:
        a = dict(pv.extract_keywords(t.text, inputs.STOP_WORDS, 2**64 - 1))
        b = dict(pure_python.extract_keywords(t.text, inputs.STOP_WORDS, None))
        diff = sorted(set(a.items()) ^ set(b.items()))
        res["keywords"].append({"input": t.name, "same": not diff, "distinct": len(a),
                                "differences": len(diff), "examples": diff[:5]})
    arts = [c.article for c in score_cases] + [a for p in pools for a in p.articles]
    for art in arts:
        x = pv.score_article(art.title, art.content, art.query)
        y = pure_python.score_article(art.title, art.content, art.query)
        res["score_total"] += 1
        if x == y:
            res["score"] += 1
        elif len(res["score_diffs"]) < 5:
            res["score_diffs"].append([art.title, art.query, x, y])
    return res


def disagreements(agree) -> list[str]:
    """Every disagreement in `agree` (what agreement returned), one line each."""
    if agree is None:
        return []
    lines = [f"extract_keywords on {k['input']}: {k['differences']} (word, count) pairs differ "
             f"(parvenkel has {k['distinct']} words), e.g. {k['examples'][:3]}"
             for k in agree["keywords"] if not k["same"]]
    if agree["score"] != agree["score_total"]:
        lines.append(f"score_article: {agree['score_total'] - agree['score']} of "
                     f"{agree['score_total']} articles score differently, e.g. "
                     f"(title, query, parvenkel, pure Python) {agree['score_diffs'][:3]}")
    return lines


def exit_on_disagreement(agree) -> None:
    lines = disagreements(agree)
    if lines:
        sys.exit("run: parvenkel and the pure-Python baseline disagree:\n  " + "\n  ".join(lines))


def metadata(mode: str, pv) -> dict:
    cpu = ""
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    try:
        commit = subprocess.run(["git", "-C", str(HERE), "describe", "--always", "--dirty"],
                                capture_output=True, text=True).stdout.strip()
    except OSError:
        commit = ""
    sklearn_version = ""
    try:
        import sklearn

        sklearn_version = sklearn.__version__
    except ImportError:
        pass
    return {
        "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
        "mode": mode,
        "python": platform.python_version(),
        "platform": platform.platform(),
        "cpu": cpu,
        "cores": os.cpu_count(),
        "commit": commit,
        "parvenkel": getattr(pv, "__file__", None) and "imported" or "not importable",
        "scikit-learn": sklearn_version,
        "loadavg_start": os.getloadavg()[0],
    }


def main() -> None:
    parser = argparse.ArgumentParser(description="parvenkel benchmark suite")
    parser.add_argument("--quick", action="store_true", help="smoke run (about a minute)")
    parser.add_argument("--out", type=pathlib.Path, default=HERE / "results",
                        help="folder for the table, JSON and plot (default benchmarks/results)")
    parser.add_argument("--cache", type=pathlib.Path, default=None,
                        help="corpus cache folder (default ~/.cache/parvenkel/bench-corpora)")
    parser.add_argument("--skip", action="append", default=[],
                        choices=["keywords", "score", "short", "periodic", "big", "memory", "library",
                                 "plot"],
                        help="leave out a part (repeatable)")
    parser.add_argument("--check", action="store_true",
                        help="only check that the pure-Python baseline gives parvenkel's results "
                             "on the inputs (no timing, nothing written); exit 1 when it does not")
    args = parser.parse_args()

    mode = "quick" if args.quick else "full"
    size = inputs.SIZES[mode]
    settings = SETTINGS[mode]
    started = time.perf_counter()

    pv = load_parvenkel()
    if args.check:
        check(pv, corpora.load_corpora(args.cache), size)
        return
    with_library = "library" not in args.skip and libraries.sklearn_available()
    if not with_library and "library" not in args.skip:
        log("run: scikit-learn is not installed; the library column stays empty")

    corpus = corpora.load_corpora(args.cache)
    meta = metadata(mode, pv)
    results: dict = {"meta": meta, "keywords": [], "score_large": [], "score_short": [],
                     "score_periodic": [], "memory": []}

    log("building inputs")
    prose = inputs.prose_texts(corpus, size)
    score_cases = inputs.score_inputs(corpus, size)
    pools = inputs.article_pools(corpus, size)
    periodic = inputs.periodic_inputs(size)

    if "keywords" not in args.skip:
        results["keywords"] += bench_keywords(pv, prose, *settings["keywords"], with_library)
        synthetic = inputs.synthetic_texts(corpus, size)
        results["keywords"] += bench_keywords(pv, synthetic, *settings["synthetic"], with_library)
        del synthetic
    if "big" not in args.skip:
        big = inputs.big_text(corpus, size["big"], "mixed")
        budget, rounds = settings["big"]
        results["keywords"] += bench_keywords(pv, [big], budget, rounds, with_library,
                                              slow_min_rounds=2 if mode == "full" else 1)
        del big
    if "score" not in args.skip:
        results["score_large"] = bench_score_large(pv, score_cases, *settings["score"])
    if "short" not in args.skip:
        results["score_short"] = bench_short(pv, pools, *settings["short"])
    if "periodic" not in args.skip:
        results["score_periodic"] = bench_score_large(pv, periodic, *settings["periodic"])
    if "memory" not in args.skip:
        results["memory"] = memory_probes(pv, mode, args.cache, size["big"], with_library)

    log("checking that the pure-Python baseline agrees with parvenkel")
    results["agreement"] = agreement(pv, prose + inputs.synthetic_texts(corpus, size),
                                     score_cases + periodic, pools)
    meta["loadavg_end"] = os.getloadavg()[0]
    meta["duration_s"] = round(time.perf_counter() - started, 1)

    args.out.mkdir(parents=True, exist_ok=True)
    (args.out / "benchmark-results.json").write_text(json.dumps(results, indent=1, ensure_ascii=False))
    plot_name = None
    if "plot" not in args.skip:
        plot_name = "benchmark-throughput.png"
        report.plot(results, args.out / plot_name)
    markdown = report.markdown(results, plot_name)
    (args.out / "benchmark-results.md").write_text(markdown)
    if args.out.resolve() == DOCS_BENCHMARKS:
        # A run for the documentation remakes its performance page too.
        report.write_page(args.out / "benchmark-results.json", DOCS_BENCHMARKS.parent / "performance.md")
    print(markdown)
    log(f"wrote {args.out}/benchmark-results.md, .json"
        + (f" and {plot_name}" if plot_name else "") + f" in {meta['duration_s']:.0f} s")
    exit_on_disagreement(results["agreement"])


def check(pv, corpus, size) -> None:
    """The agreement part of a run alone, on the same inputs."""
    if pv is None:
        sys.exit("run: --check needs parvenkel")
    log("checking that the pure-Python baseline agrees with parvenkel")
    agree = agreement(pv, inputs.prose_texts(corpus, size) + inputs.synthetic_texts(corpus, size),
                      inputs.score_inputs(corpus, size) + inputs.periodic_inputs(size),
                      inputs.article_pools(corpus, size))
    exit_on_disagreement(agree)
    log(f"run: same results on all {len(agree['keywords'])} texts and "
        f"{agree['score_total']} articles")


if __name__ == "__main__":
    main()
