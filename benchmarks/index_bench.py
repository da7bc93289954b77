"""Many queries against one corpus: ArticleIndex side by side with its peers.

Two corpora (``--corpus``):

* ``synthetic`` (default): ``--articles`` short articles (default
  1,000,000), a title of 60 characters and a body of 300, cut in turn from
  the six prose corpora of corpora.py (English, French, Russian, Greek,
  Chinese, Japanese), each article from another place;
* ``real``: the pages of Debian's GIMP and LibreOffice help in English,
  German, French, Russian, Greek, Chinese and Japanese (real_corpus.py;
  some 22,500 articles, 54 MB), the first ``--articles`` of them if given.

Systems, each built from the same articles and run on one core (the
process, and PostgreSQL's server, pinned to ``--cpu``):

* parvenkel: ``ArticleIndex(articles, workers=1)``, saved and loaded back;
  ``rank(q, 10)`` and ``rank(q)`` (every matching article, ranked); the
  build on two workers too, and ``rank_many`` of a thousand topic queries
  (the corpus's most frequent words of four letters or more), top 10, on
  one worker and on two, checked equal to ``rank`` query by query;
* the scan, ``rank_articles(articles, q, 10, workers=1)``;
* SQLite FTS5 trigram in memory, every matching rowid (``--no-sqlite``);
* tantivy with character trigrams: its candidates, counted, top 10
  (``--no-tantivy``; skipped when not importable);
* PostgreSQL pg_trgm, every matching id, with ``--postgres`` only.

Queries: selective, middling and common ones of each language, picked from
the corpus by document frequency (index_queries.py), and queries of 1 and
2 characters. For each, every system is timed in interleaved rounds
(``--rounds``, the order shuffled), fast calls in batches; the tables give
the median and (in brackets) the fastest round, per call, and each
system's matches. Every parvenkel answer is checked equal to the scan's
(``rank_articles`` and ``score_many``). Also printed: the corpus by
language, each system's build time and size (parvenkel's by part, read
from its file's header), the machine and the load average. ``--markdown``
prints the tables as Markdown.

With ``--large MB``, only the memory that building an index of one article
of MB megabytes of UTF-8 (the six scripts in turn) needs above the article
itself, in bytes a byte of text (the peak resident size, its high-water
mark reset before the build, as memprobe.py does).

    .venv/bin/python benchmarks/index_bench.py --corpus real --markdown
    .venv/bin/python benchmarks/index_bench.py --corpus synthetic --articles 200000 --markdown
    .venv/bin/python benchmarks/index_bench.py --corpus real --articles 3000 --rounds 2   # quick look
    .venv/bin/python benchmarks/index_bench.py --large 256
"""

from __future__ import annotations

import argparse
import datetime
import gc
import os
import platform
import random
import resource
import shlex
import signal
import statistics
import struct
import sys
import tempfile
import time
from pathlib import Path
from typing import Callable

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import corpora  # noqa: E402
import index_peers  # noqa: E402
import index_queries  # noqa: E402

from parvenkel import ArticleIndex, WordCounter, rank_articles, score_many  # noqa: E402

TITLE = 60
BODY = 300
BATCH_SECONDS = 0.002  # a timed batch of fast calls lasts at least this long
WARM_UP_SECONDS = 0.5  # a call faster than this follows an untimed call of its own
CORPUS_TITLES = {
    "real": "Real text: Debian's GIMP and LibreOffice help pages",
    "synthetic": "Short synthetic articles cut from the six prose corpora",
}


def make_articles(count: int) -> tuple[list[tuple[str, str]], list[str]]:
    corpus = corpora.load_corpora()
    names = list(corpus)
    texts = [" ".join(t.split()) for t in corpus.values()]
    at = [0] * len(texts)
    articles = []
    for k in range(count):
        j = k % len(texts)
        text = texts[j]
        if at[j] + TITLE + BODY > len(text):
            at[j] = (at[j] + TITLE + BODY) % 97  # start again, a little further
        articles.append((text[at[j] : at[j] + TITLE], text[at[j] + TITLE : at[j] + TITLE + BODY]))
        at[j] += TITLE + BODY + 13
    return articles, [names[k % len(names)] for k in range(count)]


def load_corpus(args: argparse.Namespace) -> tuple[list[tuple[str, str]], list[str], dict[str, str]]:
    """The articles, the language of each, and the script of each language."""
    if args.corpus == "synthetic":
        articles, languages = make_articles(args.articles or 1_000_000)
        return articles, languages, corpora.scripts()
    import real_corpus

    pages = real_corpus.load(log=lambda m: print(m, file=sys.stderr))
    if args.articles:
        pages = pages[: args.articles]
    scripts = {language: entry[0] for language, entry in real_corpus.LANGUAGES.items()}
    return [(p.title, p.content) for p in pages], [p.language for p in pages], scripts


# --- timing -------------------------------------------------------------


def _timed(fn: Callable[[], object], batch: int) -> float:
    gc.disable()
    try:
        start = time.perf_counter()
        for _ in range(batch):
            fn()
        return (time.perf_counter() - start) / batch
    finally:
        gc.enable()


def interleaved(calls: dict[str, Callable[[], object]], rounds: int) -> dict[str, tuple[float, float]]:
    """Median and fastest seconds a call of each, over ``rounds`` rounds that
    each time every call once (a batch of calls for fast ones), warm, in an
    order shuffled from round to round (the same orders in every run)."""
    batches = {}
    once_times = {}
    for name, fn in calls.items():
        # The batch is sized on a warm call: a first call that reads its
        # data from memory would give a fast query a batch of one, whose
        # rounds then each start cold after the other systems' calls.
        _timed(fn, 1)
        once = once_times[name] = _timed(fn, 1)
        batches[name] = 1 if once >= BATCH_SECONDS else min(10_000, int(BATCH_SECONDS / max(once, 1e-7)) + 1)
    names = list(calls)
    # A call that follows the scan or a peer reading much runs with cold
    # caches. Rotating a fixed order gives each call the same one before
    # it in most rounds (the first after the last, the scan, in 5 rounds
    # of 7 with six calls), so that its median is a cold call and another's
    # a warm one; shuffled, no call keeps a neighbour.
    shuffle = random.Random(len(names) * 1_000 + rounds)
    times: dict[str, list[float]] = {name: [] for name in names}
    for _ in range(rounds):
        order = names[:]
        shuffle.shuffle(order)
        for name in order:
            # An untimed call first, for calls under WARM_UP_SECONDS: on
            # the million short articles, a call after another system's
            # (or after this machine sat idle a few seconds) took up to 30
            # times its fastest time, parvenkel's and tantivy's the most,
            # whichever system ran before; each is timed warm.
            if once_times[name] < WARM_UP_SECONDS:
                _timed(calls[name], 1)
            times[name].append(_timed(calls[name], batches[name]))
    return {name: (statistics.median(t), min(t)) for name, t in times.items()}


# --- output -------------------------------------------------------------


def table(header: list[str], rows: list[list[str]], markdown: bool, right_from: int = 1,
          right_to: int | None = None) -> str:
    """Columns right_from to right_to (not included) are numbers, aligned right."""
    right = range(right_from, len(header) if right_to is None else right_to)
    if markdown:
        rule = ["---:" if k in right else "---" for k in range(len(header))]
        return "\n".join("| " + " | ".join(r) + " |" for r in [header, rule, *rows])
    widths = [max(len(r[k]) for r in [header, *rows]) for k in range(len(header))]
    line = lambda r: "  ".join(c.rjust(w) if k in right else c.ljust(w) for k, (c, w) in enumerate(zip(r, widths)))  # noqa: E731
    return "\n".join([line(header), *(line(r) for r in rows)])


def ms(seconds: float) -> str:
    value = seconds * 1e3
    return f"{value:.3f}" if value < 1 else f"{value:.2f}" if value < 100 else f"{value:.0f}"


def cell(timing: tuple[float, float] | None, note: str = "") -> str:
    if timing is None:
        return "cannot"
    text = f"{ms(timing[0])} ({ms(timing[1])})"
    return f"{text} {note}" if note else text


def ratio(slow: float, fast: float) -> str:
    return f"{slow / fast:.1f}x" if slow < 1000 * fast else ">1000x"


def machine() -> str:
    model = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as f:
            model = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    return f"{model}, {os.cpu_count()} cores, {platform.system()} {platform.release()}, Python {platform.python_version()}"


def load_text() -> str:
    return " ".join(f"{x:.2f}" for x in os.getloadavg())


# --- parvenkel's file ---------------------------------------------------


def index_parts(path: str) -> tuple[int, str]:
    """The file's size and its parts, from the header (docs/design/index-format.md)."""
    with open(path, "rb") as f:
        head = f.read(80)
    magic, version, _, articles, text, trigrams, postings, ids = struct.unpack_from("<8sIIQQQQQ", head)
    if magic != b"PVKINDEX" or version not in (2, 3, 4):
        return os.path.getsize(path), "(unknown file version)"
    pad = lambda n: (n + 7) & ~7  # noqa: E731
    offsets = articles * (4 + 1) * 8
    directory = trigrams * 24
    size = os.path.getsize(path)
    other = size - (80 + offsets + pad(text) + pad(ids) + directory + postings)
    note = (
        f"text {index_peers.mb(text)}, offsets {index_peers.mb(offsets)}, ids {index_peers.mb(ids)}, "
        f"directory {trigrams:,} x 24 B = {index_peers.mb(directory)}, postings {index_peers.mb(postings)}"
    )
    return size, note + (f", other {index_peers.mb(other)}" if other else "")


# --- the run ------------------------------------------------------------


def make_peers(args: argparse.Namespace, cpu: int | None, peers: list) -> None:
    """Append the peers asked for to ``peers`` (which the caller closes)."""
    if not args.no_sqlite:
        peers.append(index_peers.Sqlite())
    if not args.no_tantivy:
        try:
            peers.append(index_peers.Tantivy())
        except ImportError:
            print("tantivy is not installed (pip install tantivy): left out", file=sys.stderr)
    if args.postgres:
        try:
            peers.append(index_peers.Postgres(cpu))
        except (ImportError, RuntimeError, OSError) as error:
            print(f"PostgreSQL left out: {error}", file=sys.stderr)


ALL_CPUS: set[int] = set()


def on_workers(workers: int, fn: Callable[[], object]) -> Callable[[], object]:
    """``fn`` run on every CPU this process may use when ``workers`` > 1
    (their threads are started inside it and take its CPUs), else on the
    one it is pinned to."""
    if workers == 1:
        return fn

    def run() -> object:
        pinned = os.sched_getaffinity(0)
        os.sched_setaffinity(0, ALL_CPUS)
        try:
            return fn()
        finally:
            os.sched_setaffinity(0, pinned)

    return run


def run(args: argparse.Namespace) -> None:
    # A terminated run stops its peers too (PostgreSQL's server above all).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    cpu = None
    global ALL_CPUS
    ALL_CPUS = os.sched_getaffinity(0)
    if args.cpu != -2:
        allowed = sorted(ALL_CPUS)
        cpu = allowed[-1] if args.cpu == -1 else args.cpu
        os.sched_setaffinity(0, {cpu})
    load_start = load_text()
    articles, languages, scripts = load_corpus(args)
    md = args.markdown
    lines: list[str] = []

    def out(text: str = "") -> None:
        print(text, flush=True)
        lines.append(text)

    rows = []
    for language in scripts:
        mine = [a for a, lang in zip(articles, languages) if lang == language]
        size = sum(len(t.encode()) + len(c.encode()) for t, c in mine)
        rows.append([language, scripts[language], f"{len(mine):,}", f"{size / 1e6:.1f}"])
    corpus_bytes = sum(len(t.encode()) + len(c.encode()) for t, c in articles)
    rows.append(["all", "", f"{len(articles):,}", f"{corpus_bytes / 1e6:.1f}"])

    item = "- " if md else ""
    if md:
        count = f": {len(articles):,}" if args.corpus == "synthetic" else ""
        out(f"### {CORPUS_TITLES[args.corpus]}{count}\n")
    command = shlex.join([".venv/bin/python", "benchmarks/index_bench.py", *sys.argv[1:]])
    out(f"{item}Command: `{command}`" if md else f"Command: {command}")
    out(f"{item}Machine: {machine()}; everything pinned to CPU {cpu if cpu is not None else '(none)'}")
    out(f"{item}Date: {datetime.datetime.now(datetime.UTC):%Y-%m-%d %H:%M} UTC; load average at the start "
        f"{load_start} (1, 5, 15 minutes)")
    out(f"{item}Corpus `{args.corpus}`: {len(articles):,} articles, {corpus_bytes / 1e6:.1f} MB of UTF-8\n")
    out(table(["language", "script", "articles", "MB"], rows, md, right_from=2))

    queries = index_queries.pick(articles, languages, scripts)
    builds: list[list[str]] = []
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "articles.idx")
        on = build_times(articles, max(1, min(args.rounds, 5)))
        build, build2 = on[1][0], on[2][0]
        index = ArticleIndex(articles, workers=1)
        start = time.perf_counter()
        index.save(path)
        save = time.perf_counter() - start
        del index
        start = time.perf_counter()
        index = ArticleIndex.load(path)
        load = time.perf_counter() - start
        size, note = index_parts(path)
    builds.append(["parvenkel", f"{build:.2f}", f"{size / 1e6:.1f}", f"{size / corpus_bytes:.2f}",
                   f"{note}; save {save:.2f} s, load {load:.2f} s; "
                   f"on 2 workers {build2:.2f} s, {build / build2:.2f}x faster"])
    peers: list = []
    try:
        make_peers(args, cpu, peers)
        for peer in peers:
            seconds = peer.build(articles)
            size, note = peer.size()
            builds.append([peer.name, f"{seconds:.2f}", f"{size / 1e6:.1f}", f"{size / corpus_bytes:.2f}", note])
        out("\nBuild (one core) and size:\n")
        out(table(["system", "build s", "MB", "x corpus", "parts"], builds, md, right_to=4))
        query_tables(args, articles, index, peers, queries, out)
        out("")
        out(item + rank_many_line(index, articles, args.rounds))
    finally:
        for peer in peers:
            peer.close()
    out(f"\nLoad average at the end: {load_text()}; peak memory of this process "
        f"{resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1e6:.1f} GB")
    if args.out is not None:
        write_out(args.out, lines)


def write_out(path: Path, lines: list[str]) -> None:
    """Write the Markdown to ``path``; in docs/benchmarks/, remake the
    performance page, which includes it."""
    path.write_text("\n".join(lines).rstrip() + "\n", encoding="utf-8")
    print(f"wrote {path}", file=sys.stderr)
    results = path.resolve().parent / "benchmark-results.json"
    docs = path.resolve().parent.parent
    if path.resolve().parent.name == "benchmarks" and results.exists() and (docs / "performance.md").exists():
        import report

        report.write_page(results, docs / "performance.md")
        print(f"remade {docs / 'performance.md'}", file=sys.stderr)


def topic_queries(articles: list[tuple[str, str]], count: int) -> list[str]:
    """The ``count`` most frequent words of four letters or more of the
    articles' contents."""
    counter = WordCounter()
    counter.update([content for _, content in articles], workers=-1)
    return [w for w, _ in counter.most_common() if len(w) >= 4][:count]


def build_times(articles: list[tuple[str, str]], rounds: int) -> dict[int, tuple[float, float]]:
    """Median and fastest seconds of ``ArticleIndex(articles, workers=w)`` for
    one and two workers, in alternating order; one index at a time in
    memory, each freed after its timing (freeing is not building)."""
    times: dict[int, list[float]] = {1: [], 2: []}
    for r in range(rounds):
        for w in (1, 2) if r % 2 == 0 else (2, 1):
            gc.collect()
            start = time.perf_counter()
            index = on_workers(w, lambda w=w: ArticleIndex(articles, workers=w))()
            times[w].append(time.perf_counter() - start)
            del index
    return {w: (statistics.median(t), min(t)) for w, t in times.items()}


def rank_many_line(index: ArticleIndex, articles: list[tuple[str, str]], rounds: int) -> str:
    topics = topic_queries(articles, 1000)
    # Each call timed alone, its rows freed after the timing (freeing
    # them is not answering: 10,000 rows of 6,000 articles' strs on the
    # help pages, a millisecond on the calling thread), one and two
    # workers in alternating order.
    calls = {w: on_workers(w, lambda w=w: index.rank_many(topics, 10, workers=w)) for w in (1, 2)}
    times: dict[int, list[float]] = {1: [], 2: []}
    for w in (1, 2):
        calls[w]()
    for r in range(max(11, rounds)):
        for w in (1, 2) if r % 2 == 0 else (2, 1):
            gc.disable()
            try:
                start = time.perf_counter()
                rows = calls[w]()
                times[w].append(time.perf_counter() - start)
                del rows
            finally:
                gc.enable()
    many = {w: (statistics.median(t), min(t)) for w, t in times.items()}
    equal = index.rank_many(topics, 10, workers=2) == [index.rank(q, 10) for q in topics]
    return (
        f"`rank_many` of {len(topics):,} topic queries, top 10: one worker {ms(many[1][0])} ms, "
        f"two {ms(many[2][0])} ms, {many[1][0] / many[2][0]:.2f}x; equal to `rank` query by query: "
        f"{'yes' if equal else 'NO'}"
    )


def query_tables(args, articles, index, peers, queries, out) -> None:
    md = args.markdown
    names = ["parvenkel rank(q, 10)", "parvenkel rank(q)", *(p.name for p in peers), "scan rank_articles(q, 10)"]
    timing_rows, match_rows, unequal = [], [], []
    for band, language, query in queries:
        calls: dict[str, Callable[[], object]] = {
            names[0]: lambda: index.rank(query, 10),
            names[1]: lambda: index.rank(query),
        }
        answers = {}
        for peer in peers:
            answer = peer.answer(query)
            answers[peer.name] = answer
            if answer is not None:
                calls[peer.name] = answer
        calls[names[-1]] = lambda: rank_articles(articles, query, 10, workers=1)
        found = index.rank(query)
        if not (index.scores(query) == score_many(articles, query, workers=1)
                and found == rank_articles(articles, query, workers=1)):
            unequal.append(query)
        counts = []
        for peer in peers:
            answer = answers[peer.name]
            result = answer() if answer is not None else None
            counts.append("-" if result is None else f"{result if isinstance(result, int) else len(result):,}")
        timings = interleaved(calls, args.rounds)
        label = [band, language, f"`{query}`" if md else query]
        row = [*label]
        for name in names:
            peer = next((p for p in peers if p.name == name), None)
            if peer is not None:
                note = "scan" if peer.how(query) == "scan" else ""
            else:
                # A query of one or two characters, none of them CJK (3
                # bytes or more in UTF-8), has no list: parvenkel tests every
                # title, then bodies in order until it has enough for a top
                # 10, and every article for all rows.
                lowered = query.lower()
                listed = len(lowered) >= 3 or any(ord(c) >= 0x800 for c in lowered)
                short = name in names[:2] and not listed
                note = ("no list" if name == names[0] else "scan") if short else ""
            row.append(cell(timings.get(name), note))
        peer_best = min(
            ((timings[p.name][0], p.name) for p in peers if p.name in timings), default=None
        )
        if peer_best is None:
            row += ["no peer", "no peer"]
        else:
            row += [ratio(peer_best[0], timings[names[0]][0]), ratio(peer_best[0], timings[names[1]][0])]
        row.append("yes" if query not in unequal else "NO")
        timing_rows.append(row)
        match_rows.append([*label, f"{len(found):,}", *counts])
    short = {"FTS5 trigram": "FTS5", "PostgreSQL pg_trgm": "pg_trgm"}
    header = ["class", "lang", "query", "pv top 10", "pv all", *(short.get(p.name, p.name) for p in peers),
              "scan top 10", "fastest peer / pv top 10", "fastest peer / pv all", "= scan"]
    out(f"\nMilliseconds a query, median (fastest) of {args.rounds} interleaved rounds, one core:\n")
    out(table(header, timing_rows, md, right_from=3, right_to=len(header) - 1))
    out("\nMatches (parvenkel: exact, Unicode lowercasing; FTS5: its own case folding; "
        "tantivy: candidates, no positions; pg_trgm: ILIKE in C.UTF-8):\n")
    out(table(["class", "lang", "query", "parvenkel", *(short.get(p.name, p.name) for p in peers)],
              match_rows, md, right_from=3))
    if unequal:
        raise SystemExit(f"parvenkel's answers differ from the scan's for {unequal!r}")
    out("\nEvery parvenkel answer equals the scan's (rank_articles and score_many).")


def _peak_kib() -> int:
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))


def large_article(megabytes: int) -> None:
    texts = [" ".join(t.split()) for t in corpora.load_corpora().values()]
    wanted = megabytes * 2**20
    parts, size = [], 0
    while size < wanted:
        for text in texts:
            parts.append(text)
            size += len(text.encode())
    body = "".join(parts)
    del parts
    gc.collect()
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    before = _peak_kib()
    start = time.perf_counter()
    index = ArticleIndex([("One large article", body)])
    build = time.perf_counter() - start
    extra = (_peak_kib() - before) * 1024
    print(
        f"one article of {size / 2**20:.0f} MB of UTF-8: built in {build:.1f} s, "
        f"{extra / size:.2f} bytes a byte of text above the article at the peak (target <= 4)"
    )
    del index


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--corpus", choices=["synthetic", "real"], default="synthetic")
    parser.add_argument("--articles", type=int, default=None,
                        help="synthetic: how many (default 1,000,000); real: the first N (default all)")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--markdown", action="store_true", help="print the tables as Markdown")
    parser.add_argument("--out", type=Path, metavar="FILE",
                        help="also write the Markdown to FILE (docs/benchmarks/index-real.md, "
                        "index-synthetic.md or index-synthetic-1m.md: the performance page includes "
                        "them and is remade)")
    parser.add_argument("--no-sqlite", action="store_true")
    parser.add_argument("--no-tantivy", action="store_true")
    parser.add_argument("--postgres", action="store_true", help="also PostgreSQL pg_trgm (if installed)")
    parser.add_argument("--cpu", type=int, default=-1,
                        help="the CPU to pin everything to (default the last allowed; -2: no pinning)")
    parser.add_argument("--large", type=int, metavar="MB", help="only the memory of one large article")
    args = parser.parse_args()
    args.markdown = args.markdown or args.out is not None
    if args.large is not None:
        large_article(args.large)
        return
    run(args)


if __name__ == "__main__":
    main()
