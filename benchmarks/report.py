"""Markdown tables and the plot of a benchmark run (see run.py)."""

from __future__ import annotations

import math
import pathlib

NAMES = {
    "parvenkel": "parvenkel",
    "pure-python": "pure Python",
    "scikit-learn": "scikit-learn¹",
    "copy-floor": "copy floor",
    "utf8-conversion": "CPython's UTF-8 conversion alone³",
}
COLOURS = {
    "parvenkel": "#1f77b4",
    "pure-python": "#ff7f0e",
    "scikit-learn": "#2ca02c",
    "copy-floor": "#7f7f7f",
}

# Allowance per distinct word for the counting table in the memory check:
# a hash-table entry holding a string object, a count, a hash and a link,
# at the table's load factor, plus the sorted result vector.
TABLE_BYTES_PER_WORD = 128

TARGETS = {
    "kw_english": 30.0,
    "kw_latin": 25.0,
    "kw_other": 15.0,
    "kw_vocabulary": 5.0,
    "own_bytes_per_word": 100.0,
    "score_prose": 3.0,
    "score_ascii": 10.0,
    "short": 2.0,
    "periodic": 1.0,
}


def _median(row: dict, impl: str) -> float | None:
    s = row["impls"].get(impl)
    return s["median_s"] if s else None


def _mbs(row: dict, impl: str) -> float | None:
    t = _median(row, impl)
    return row["bytes"] / t / 1e6 if t else None


def _ratio(row: dict, slow: str, fast: str) -> float | None:
    a, b = _median(row, slow), _median(row, fast)
    return a / b if a and b else None


def _fmt(v: float | None, digits: int = 3) -> str:
    if v is None:
        return "–"
    if v == 0:
        return "0"
    mag = math.floor(math.log10(abs(v)))
    decimals = max(0, digits - 1 - mag)
    return f"{v:,.{decimals}f}"


def _x(v: float | None) -> str:
    return "–" if v is None else f"{_fmt(v)}×"


def _impls(rows: list[dict]) -> list[str]:
    present = {name for row in rows for name in row["impls"]}
    return [name for name in NAMES if name in present]


def _mb(nbytes: float) -> str:
    return _fmt(nbytes / 1e6, 2)


def keywords_table(rows: list[dict]) -> list[str]:
    impls = _impls(rows)
    others = [i for i in impls if i != "copy-floor"]
    head = ["input", "script", "MB"] + [f"{NAMES[i]} MB/s" for i in impls]
    if "parvenkel" in impls and "pure-python" in impls:
        head.append("parvenkel ÷ pure Python")
    head += [f"{NAMES[i]} vs floor" for i in others]
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for row in rows:
        cells = [row["input"], row["script"], _mb(row["bytes"])]
        cells += [_fmt(_mbs(row, i)) for i in impls]
        if "parvenkel" in impls and "pure-python" in impls:
            cells.append("**" + _x(_ratio(row, "pure-python", "parvenkel")) + "**")
        cells += [_x(_ratio(row, i, "copy-floor")) for i in others]
        lines.append("| " + " | ".join(cells) + " |")
    return lines


def short_table(rows: list[dict]) -> list[str]:
    impls = _impls(rows)
    head = ["articles", "script", "avg bytes"] + [f"{NAMES[i]} calls/s" for i in impls]
    if "parvenkel" in impls:
        head.append("parvenkel ÷ pure Python")
    head += [f"{NAMES[i]} vs floor" for i in impls if i != "copy-floor"]
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for row in rows:
        cells = [row["input"], row["script"], f"{row['bytes']:,.0f}"]
        cells += [_fmt(1 / _median(row, i)) for i in impls]
        if "parvenkel" in impls:
            cells.append("**" + _x(_ratio(row, "pure-python", "parvenkel")) + "**")
        cells += [_x(_ratio(row, i, "copy-floor")) for i in impls if i != "copy-floor"]
        lines.append("| " + " | ".join(cells) + " |")
    return lines


def memory_allowance(m: dict) -> int | None:
    if "distinct_words" not in m:
        return None
    return m["text_utf8_bytes"] + m["distinct_bytes"] + TABLE_BYTES_PER_WORD * m["distinct_words"]


def _own(m: dict) -> int | None:
    """The call's own working memory: the lower of the two calls' peaks (both
    measure the same thing, as nothing is kept in the str between calls; the
    second has less of the heap's leftovers in it)."""
    cached = m.get("peak_extra_cached_bytes")
    return None if cached is None else min(cached, m["peak_extra_bytes"])


def _own_per_word(m: dict) -> float | None:
    """Own working memory beyond the words' own bytes, per distinct word."""
    own = _own(m)
    if own is None or not m.get("distinct_words"):
        return None
    return max(0, own - m["distinct_bytes"]) / m["distinct_words"]


def memory_table(rows: list[dict]) -> list[str]:
    head = ["implementation", "text", "text MB (UTF-8)", "str object MB", "distinct words",
            "their MB", "peak extra MB", "peak extra ÷ text", "own MB⁴", "own bytes per distinct word", "allowance MB²", "within"]
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for m in rows:
        if "error" in m:
            lines.append(f"| {NAMES.get(m['impl'], m['impl'])} | {m['text']} | failed: "
                         + m["error"].splitlines()[-1][:80] + " |" + " |" * (len(head) - 3))
            continue
        allow = memory_allowance(m)
        cached = _own(m)
        per_word = _own_per_word(m)
        cells = [
            NAMES.get(m["impl"], m["impl"]),
            m["text"] + (" (ASCII)" if m["text_is_ascii"] else ""),
            _mb(m["text_utf8_bytes"]),
            _mb(m["text_str_bytes"]),
            f"{m['distinct_words']:,}" if "distinct_words" in m else "–",
            _mb(m["distinct_bytes"]) if "distinct_bytes" in m else "–",
            _mb(m["peak_extra_bytes"]),
            _x(m["peak_extra_bytes"] / m["text_utf8_bytes"]),
            _mb(cached) if cached is not None else "–",
            f"{per_word:,.0f}" if per_word is not None else "–",
            _mb(allow) if allow else "–",
            ("yes" if m["peak_extra_bytes"] <= allow else "**no**") if allow else "–",
        ]
        lines.append("| " + " | ".join(cells) + " |")
    return lines


def _min_ratio(rows, pred) -> tuple[float | None, str]:
    best = None
    for row in rows:
        if not pred(row):
            continue
        r = _ratio(row, "pure-python", "parvenkel")
        if r is not None and (best is None or r < best[0]):
            best = (r, row["input"])
    return best if best else (None, "")


def targets_table(results: dict) -> list[str]:
    kw, big, short = results["keywords"], results["score_large"], results["score_short"]
    periodic = results.get("score_periodic", [])
    checks = [
        ("extract_keywords ≥ 30× pure Python on English prose", TARGETS["kw_english"],
         _min_ratio(kw, lambda r: r["input"] == "prose-en")),
        ("extract_keywords ≥ 25× pure Python on other Latin-script prose", TARGETS["kw_latin"],
         _min_ratio(kw, lambda r: r["kind"] == "prose" and r["script"] == "Latin"
                    and r["input"] != "prose-en")),
        ("extract_keywords ≥ 15× pure Python on other scripts", TARGETS["kw_other"],
         _min_ratio(kw, lambda r: r["kind"] == "prose" and r["script"] != "Latin")),
        ("extract_keywords ≥ 5× pure Python on the huge vocabulary", TARGETS["kw_vocabulary"],
         _min_ratio(kw, lambda r: r["input"] == "huge-vocabulary")),
        ("score_article ≥ 3× on 1 MB real prose bodies", TARGETS["score_prose"],
         _min_ratio(big, lambda r: r["input"].startswith("prose-"))),
        ("score_article ≥ 10× on ASCII-only bodies", TARGETS["score_ascii"],
         _min_ratio(big, lambda r: r["input"].startswith("ascii-"))),
        ("score_article ≥ 2× calls/s on short articles", TARGETS["short"],
         _min_ratio(short, lambda r: True)),
        ("score_article ≥ 1× `lower()` + `in` on periodic bodies", TARGETS["periodic"],
         _min_ratio(periodic, lambda r: True)),
    ]
    lines = ["| target | worst case measured | on | met |", "|---|---|---|---|"]
    for label, goal, (value, where) in checks:
        met = "–" if value is None else ("yes" if value >= goal else "**no**")
        lines.append(f"| {label} | {_x(value)} | {where or '–'} | {met} |")
    for m in results["memory"]:
        if m.get("impl") == "parvenkel" and "error" not in m and memory_allowance(m):
            allow = memory_allowance(m)
            met = "yes" if m["peak_extra_bytes"] <= allow else "**no**"
            own = _own(m)
            own_note = f"; own {_mb(own)} MB" if own is not None else ""
            lines.append(f"| extract_keywords peak memory ≤ text + distinct words + table "
                         f"| {_mb(m['peak_extra_bytes'])} MB (allowance {_mb(allow)} MB{own_note}) "
                         f"| {m['text']} {_mb(m['text_utf8_bytes'])} MB | {met} |")
            per_word = _own_per_word(m)
            if m.get("text") == "huge-vocabulary" and per_word is not None:
                goal = TARGETS["own_bytes_per_word"]
                lines.append(f"| extract_keywords own memory ≤ {goal:.0f} bytes a distinct word "
                             f"| {per_word:,.0f} bytes | {m['text']} {_mb(m['text_utf8_bytes'])} MB "
                             f"| {'yes' if per_word <= goal else '**no**'} |")
    return lines


def markdown(results: dict, plot_name: str | None) -> str:
    meta = results["meta"]
    out = [
        "# parvenkel benchmarks",
        "",
        f"{meta['date']}, {meta['mode']} run of {meta.get('duration_s', 0):.0f} s; "
        f"CPython {meta['python']}, {meta['cpu'] or 'unknown CPU'}, {meta['cores']} cores, "
        f"commit {meta['commit'] or '?'}, scikit-learn {meta['scikit-learn'] or '–'}; "
        f"load average {meta['loadavg_start']:.1f} at the start, "
        f"{meta.get('loadavg_end', 0):.1f} at the end.",
        "",
        "Figures are medians over interleaved rounds; ratios compare medians measured in "
        "the same run. MB = 10⁶ bytes of UTF-8 input. \"vs floor\" is the time of the call "
        "divided by the time of copying the same bytes once (`bytearray(data)`): "
        "how many times the cost of touching the text once.",
        "",
    ]
    if plot_name:
        out += [f"![throughput]({plot_name})", ""]
    periodic = results.get("score_periodic", [])
    if results["keywords"] or results["score_large"] or results["score_short"] or periodic:
        out += ["## Targets", ""] + targets_table(results) + [""]
    if results["keywords"]:
        out += ["## extract_keywords throughput", "",
                "`extract_keywords(text, stop_words, 20)` with a stop list of "
                f"{_stop_count()} words.", ""]
        out += keywords_table(results["keywords"]) + [""]
    if results["score_large"]:
        out += ["## score_article on large bodies", "",
                "A title of about 60 bytes, a body of about 1 MB of prose, a query of about "
                "10 bytes that occurs nowhere (\"absent\": the whole body is searched) or "
                "first about halfway into the body (\"present\").", ""]
        out += keywords_table(results["score_large"]) + [""]
    if results["score_short"]:
        out += ["## score_article on short articles", "",
                "A title of about 60 bytes, a body of about 2 KB, a query of about 10 bytes; "
                "calls per second, each call on new string objects.", ""]
        out += short_table(results["score_short"]) + [""]
    if periodic:
        out += ["## score_article on periodic bodies", "",
                "The worst case of a substring search: a body of one character repeated "
                "(2 million of them in a full run, 500,000 in a quick one; the script column "
                "is the form CPython keeps the str in), and a query of that character with one other character in its "
                "middle, which occurs nowhere. Here pure Python is `query.lower() in "
                "content.lower()` (the title is one letter).", ""]
        out += keywords_table(periodic) + [""]
    if results["memory"]:
        out += ["## Peak memory of extract_keywords", "",
                "Extra resident memory at the peak of one call, measured in a fresh process "
                "(the peak resident size, VmHWM, after the call minus its value reset just "
                "before it, with the text already built). Every copy an implementation makes of "
                "the text (lowercased strings, a UTF-8 form) is part of it.", ""]
        out += memory_table(results["memory"]) + [""]
    agree = results.get("agreement")
    if agree:
        same = sum(1 for k in agree["keywords"] if k["same"])
        out += ["## Same results?", "",
                f"The pure-Python baseline returns exactly parvenkel's word counts on {same} of "
                f"{len(agree['keywords'])} prose and stress inputs, and the same score on "
                f"{agree['score']} of {agree['score_total']} articles."]
        for k in agree["keywords"]:
            if not k["same"]:
                out.append(f"- {k['input']}: {k['differences']} of {k['distinct']} "
                           f"(word, count) pairs differ, e.g. {k['examples'][:3]}")
        out.append("")
    out += [
        "¹ scikit-learn's `CountVectorizer` does not have parvenkel's semantics "
        "(it splits at punctuation, keeps digits and two-letter words, and its tokens "
        "differ on CJK text); it is timed as the library a user would reach for.",
        "",
        f"² text + distinct words + {TABLE_BYTES_PER_WORD} bytes per distinct word for the "
        "counting table and the sorted result.",
        "",
        "³ `PyUnicode_AsUTF8AndSize` on the str, measured alone: what converting a non-ASCII "
        "str to UTF-8 would cost (at its peak about twice the UTF-8 size, the encoder's buffer "
        "and the copy CPython then keeps in the str). parvenkel reads a str where CPython "
        "keeps it and makes no such copy.",
        "",
        "⁴ the lower peak of two calls on the same str (nothing is kept in the str between "
        "them): the function's own working memory; \"own bytes per distinct word\" is that "
        "minus the words' own bytes, per distinct word.",
        "",
    ]
    return "\n".join(out)


def _stop_count() -> int:
    import inputs

    return len(inputs.STOP_WORDS)


def plot(results: dict, path: pathlib.Path) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    panels = [
        ("extract_keywords: MB/s (log scale)", results["keywords"], "mbs"),
        ("score_article on large bodies: MB/s (log scale)", results["score_large"], "mbs"),
        ("score_article on short articles: calls/s (log scale)", results["score_short"], "calls"),
        ("score_article on periodic bodies: MB/s (log scale)", results.get("score_periodic", []),
         "mbs"),
    ]
    panels = [p for p in panels if p[1]]
    if not panels:
        return
    heights = [max(2.0, 0.42 * len(rows) * len(_impls(rows)) / 2.2) for _, rows, _ in panels]
    fig, axes = plt.subplots(len(panels), 1, figsize=(11, sum(heights) + 1.2 * len(panels)),
                             gridspec_kw={"height_ratios": heights}, squeeze=False)
    for ax, (title, rows, unit) in zip(axes[:, 0], panels):
        impls = _impls(rows)
        bar = 0.8 / len(impls)
        for j, impl in enumerate(impls):
            ys = [i + (j - (len(impls) - 1) / 2) * bar for i in range(len(rows))]
            if unit == "mbs":
                vals = [_mbs(r, impl) or 0 for r in rows]
            else:
                vals = [1 / _median(r, impl) if _median(r, impl) else 0 for r in rows]
            ax.barh(ys, vals, height=bar, color=COLOURS[impl], label=NAMES[impl].rstrip("¹"))
        ax.legend(fontsize=8, loc="upper left", bbox_to_anchor=(1.01, 1.0))
        ax.set_yticks(range(len(rows)))
        ax.set_yticklabels([r["input"] for r in rows], fontsize=8)
        ax.invert_yaxis()
        ax.set_xscale("log")
        ax.set_title(title, fontsize=10)
        ax.grid(axis="x", which="both", alpha=0.3)
    meta = results["meta"]
    fig.suptitle(f"parvenkel benchmarks ({meta['mode']} run, {meta['date']})", fontsize=11)
    fig.tight_layout(rect=(0, 0, 1, 0.98))
    fig.savefig(path, dpi=110)
    plt.close(fig)


# The performance page of the documentation site, made from the same
# results: one machine, one date, the tables and the plot, and how to make
# them again. tools/build-docs.sh checks that the committed page is what
# the committed JSON gives.

PAGE_INTRO = """\
Figures of one run on one machine; they are regenerated from
`docs/benchmarks/benchmark-results.json` by the benchmark scripts, never
written by hand. Ratios compare medians measured in the same run, so they
hold for that machine only: another processor gives other ratios.
"""

PAGE_HOW = """\
## How the figures are made

Each call gets new string objects, as text read from files or sockets
would. "pure Python" is `benchmarks/pure_python.py`, which returns the same
answers (the run fails if it does not): `re.sub`, `str.lower`, `str.split`
and `collections.Counter` for keywords, `lower()` and `in` for scores. The
copy floor is the time of copying the same bytes once (`bytearray(data)`),
and "vs floor" is a call's time divided by it: how many times the cost of
touching the text once. Figures are medians over interleaved rounds. MB is
10⁶ bytes of UTF-8 input.

## Reproducing them

```sh
tools/setup.sh
.venv/bin/python -m pip install -r benchmarks/requirements.txt
.venv/bin/python benchmarks/run.py --out docs/benchmarks
```

The run takes about five minutes and writes `docs/benchmarks/` (the JSON,
a full report and the plot) and this page. To remake this page alone from
the JSON: `.venv/bin/python benchmarks/report.py --page docs/performance.md
docs/benchmarks/benchmark-results.json`. The corpus layer, the article
index and Dask have benchmarks of their own: `benchmarks/corpus_bench.py`,
`benchmarks/index_bench.py` and `benchmarks/dask_bench.py`.
"""


INDEX_FILES = ("index-real.md", "index-synthetic.md", "index-synthetic-1m.md")

INDEX_INTRO = """\
## The article index

`ArticleIndex` side by side with its peers, each built from the same
articles and run on one core (the process, and PostgreSQL's server when
there is one, pinned to one CPU): `rank(q, 10)` and `rank(q)` (every
matching article, ranked, with its title and content as `str`); SQLite
FTS5 with the `trigram` tokenizer (`case_sensitive 0`, in memory, every
matching rowid); tantivy with a trigram tokenizer of characters, document
numbers only (its candidates, a superset of the matches: no positions;
their count and top 10); PostgreSQL pg_trgm when the run has it (GIN
index, `ILIKE`, every matching id); and the scan, `rank_articles(articles,
q, 10, workers=1)`. The queries are picked from each corpus by document
frequency (selective about 0.02% of a language's articles, middling 1%,
common 10%), plus queries of 1 and 2 characters, which the peers' trigrams
of characters cannot take from their index ("scan": they read every row;
"cannot": no answer); parvenkel also lists each CJK character, so it
takes `画像` and `使用` from its index; a query of one or two other
characters has no list: for a top 10 it tests every title, then bodies in
order until it has enough ("no list"), and for all rows every article
("scan"). Each round times every system once (fast calls in a
batch sized on a warm call), after an untimed call of its own for calls
under half a second, in an order shuffled from round to round, so that no
system always runs after the one that sweeps its caches. Each
cell is the median and, in brackets, the fastest of the rounds, in
milliseconds; "fastest peer / pv" is the fastest peer's median over
parvenkel's (above 1: parvenkel is ahead). `rank_many`'s calls on one
and two workers are timed alone, their rows freed after the timing. Every parvenkel answer is checked equal to the scan's. Peers fold
case in their own ways, so their match counts may differ. The sizes give
parvenkel's file by part from its header: the text is held twice, as given
and lowercased.

Made by `benchmarks/index_bench.py` (`--out` with a file of
`docs/benchmarks/` named below remakes this page too); the million short
articles take some twenty minutes with PostgreSQL, the others a few:

```sh
.venv/bin/python -m pip install -r benchmarks/requirements.txt
.venv/bin/python benchmarks/index_bench.py --corpus real --postgres --out docs/benchmarks/index-real.md
.venv/bin/python benchmarks/index_bench.py --corpus synthetic --articles 200000 --out docs/benchmarks/index-synthetic.md
.venv/bin/python benchmarks/index_bench.py --corpus synthetic --postgres --out docs/benchmarks/index-synthetic-1m.md
```
"""


def page(results: dict, plot_path: str | None, index_sections: list[str] | None = None) -> str:
    """The documentation's performance page for a run's results."""
    meta = results["meta"]
    date = str(meta["date"]).split(" ")[0]
    out = [
        "# Performance",
        "",
        PAGE_INTRO,
        f"Machine: {meta['cpu'] or 'an unknown processor'}, {meta['cores']} cores, one core used; "
        f"CPython {meta['python']}; measured on {date}.",
        "",
    ]
    if plot_path:
        out += [f"![Throughput of parvenkel, pure Python and scikit-learn]({plot_path})", ""]
    if results["keywords"]:
        out += ["## extract_keywords", "",
                f"`extract_keywords(text, stop_words, 20)` with a stop list of {_stop_count()} words; "
                "throughput in MB/s.", ""]
        out += keywords_table(results["keywords"]) + [""]
    if results["score_large"]:
        out += ["## score_article on large bodies", "",
                "A title of about 60 bytes, a body of about 1 MB of prose, a query of about 10 bytes "
                "that occurs nowhere (\"absent\": the whole body is searched) or first about halfway "
                "into the body (\"present\").", ""]
        out += keywords_table(results["score_large"]) + [""]
    if results["score_short"]:
        out += ["## score_article on short articles", "",
                "A title of about 60 bytes, a body of about 2 KB, a query of about 10 bytes; calls "
                "per second.", ""]
        out += short_table(results["score_short"]) + [""]
    periodic = results.get("score_periodic", [])
    if periodic:
        out += ["## score_article on periodic bodies", "",
                "The worst case of a substring search: a body of one character repeated, and a "
                "query of that character with one other in its middle, which occurs nowhere; pure "
                "Python is `query.lower() in content.lower()`.", ""]
        out += keywords_table(periodic) + [""]
    if results["memory"]:
        out += ["## Peak memory of extract_keywords", "",
                "Extra resident memory at the peak of one call, in a fresh process, with the text "
                "already built.", ""]
        out += memory_table(results["memory"]) + [""]
    if index_sections:
        out += [INDEX_INTRO]
        for section in index_sections:
            out += [section.rstrip(), ""]
    out += [PAGE_HOW]
    notes = markdown(results, None).split("\n¹ ", 1)
    if len(notes) == 2:
        out += ["## Notes", "", "¹ " + notes[1].rstrip(), ""]
    return "\n".join(out).rstrip() + "\n"


def write_page(results_json: pathlib.Path, page_path: pathlib.Path) -> None:
    """Write the performance page for the results in `results_json`, with the
    plot and the article index's tables (INDEX_FILES) beside the JSON when
    they are there."""
    import json
    import os

    results = json.loads(results_json.read_text(encoding="utf-8"))
    plot = results_json.parent / "benchmark-throughput.png"
    rel = os.path.relpath(plot, page_path.parent) if plot.exists() else None
    sections = [
        (results_json.parent / name).read_text(encoding="utf-8")
        for name in INDEX_FILES
        if (results_json.parent / name).exists()
    ]
    page_path.write_text(page(results, rel, sections), encoding="utf-8")


def main() -> None:
    import argparse

    parser = argparse.ArgumentParser(description="the documentation's performance page of a benchmark run")
    parser.add_argument("--page", type=pathlib.Path, required=True, help="the page to write")
    parser.add_argument("results", type=pathlib.Path, help="benchmark-results.json of the run")
    args = parser.parse_args()
    write_page(args.results, args.page)


if __name__ == "__main__":
    import sys

    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
    main()
