"""Corpus-wide keywords and rankings on a real Dask cluster (parvenkel.dask_support).

A distributed.LocalCluster with two worker processes runs both functions over
a corpus of a few thousand articles cut from the real texts in examples/ (the
Constitution and the Declaration of Independence, in windows of consecutive
sentences) plus a few written here for the Unicode rules, split into many
partitions of uneven sizes, some empty. Every answer is compared with the
single-process one: extract_keywords on all texts joined by a space, and
score_article on every article. One test kills a worker in the middle of a
run and gets the same answer. The cluster is closed at the end of the module,
and its worker processes are checked to be gone.
"""

from __future__ import annotations

import json
import logging
import os
import pickle
import re
from functools import cache
from pathlib import Path

import pytest

dask = pytest.importorskip("dask")
db = pytest.importorskip("dask.bag")
distributed = pytest.importorskip("distributed")
psutil = pytest.importorskip("psutil")

from parvenkel import WordCounter, extract_keywords, score_article, stoplists  # noqa: E402
from parvenkel import dask_index, dask_support  # noqa: E402
from parvenkel.index import ArticleIndex  # noqa: E402
from parvenkel.dask_support import RankedArticle, corpus_keywords, rank_articles  # noqa: E402

ALL = 2**64 - 1
ROOT = Path(__file__).resolve().parent.parent
# A guard against a hung cluster, not a measure: runs take a few seconds.
TIMEOUT = 300

# Articles written for this test, for what the English texts lack: non-ASCII
# letters, the final sigma, words of 3 bytes or more in few letters, text
# without spaces, separators other than the space, and texts without words.
UNICODE_ARTICLES = [
    ("ΟΔΟΣ ΚΑΙ ΠΟΛΗ", "Η ΟΔΟΣ είναι μακριά. Η οδός και η πόλη, ΟΔΟΣ-Α και ΣΟΦΟΣ."),
    ("Η οδοσ", "οδοσ με μεσαίο σίγμα, όχι τελικό: ΟΔΟΣΑ οδοσα"),
    ("İSTANBUL haberleri", "İstanbul'da İSTANBUL ve ISTANBUL, KELVIN \u212a ẞ straße"),
    ("東京と大阪", "東京 東京 大阪 北京市 中 中 中文 東京"),
    ("Naïve questions", "naïve naïve üü üü ü ü covid-19 COVID19 2024 x-ray x.ray xray"),
    ("Separators", "tab\tline\nfeed\u00a0nbsp\u3000ideographic zero\u200bwidth joined"),
    ("", ""),
    ("   ", "\t\n \u3000"),
    ("2024", "12 -- ... 3.14 ¶ §"),
]


def _sentences(text: str) -> list[str]:
    return [s for s in re.split(r"(?<=[.;:?!])\s+", text) if s.strip()]


@cache
def articles() -> tuple[tuple[str, str], ...]:
    """A few thousand (title, content) pairs of real text, the same on every run.

    Every window of 1 to 8 consecutive sentences of each document is one
    article: its first sentence is the title, the rest the content.
    """
    found: list[tuple[str, str]] = []
    for name in ("us-constitution.txt", "us-declaration.txt"):
        sentences = _sentences((ROOT / "examples" / "texts" / name).read_text(encoding="utf-8"))
        for width in range(1, 9):
            for start in range(len(sentences) - width + 1):
                window = sentences[start : start + width]
                found.append((window[0], " ".join(window[1:])))
    with open(ROOT / "examples" / "articles.jsonl", encoding="utf-8") as lines:
        for line in lines:
            if line.strip():
                record = json.loads(line)
                found.append((record["title"], record["content"]))
    # The written ones spread through the corpus, so they fall in many partitions.
    step = len(found) // len(UNICODE_ARTICLES)
    for n, article in enumerate(UNICODE_ARTICLES):
        found.insert(n * step + n, article)
    return tuple(found)


@cache
def texts() -> tuple[str, ...]:
    return tuple(f"{title}\n{content}" for title, content in articles())


# Partition sizes, taken in turn until the items run out: uneven, some empty.
SIZES = (0, 1, 37, 90, 5, 0, 64, 123, 2, 48, 0, 71)


def partitions(items: tuple[object, ...]) -> list[list[object]]:
    parts: list[list[object]] = []
    start = 0
    while start < len(items):
        size = SIZES[len(parts) % len(SIZES)]
        parts.append(list(items[start : start + size]))
        start += size
    return parts


def bag_of(items: tuple[object, ...], kill_marker: Path | None = None):
    """A bag of the items in the partitions above; with kill_marker, the task
    that produces the middle partition kills its worker the first time."""
    parts = partitions(items)
    middle = len(parts) // 2
    markers = [str(kill_marker) if kill_marker and n == middle else None for n in range(len(parts))]
    return db.from_delayed(
        [dask.delayed(_partition, pure=True)(part, marker) for part, marker in zip(parts, markers)]
    )


def _partition(items: list[object], kill_marker: str | None) -> list[object]:
    """The items of one partition, after killing this worker process on the
    first attempt when a marker path is given (the marker records the pid)."""
    if kill_marker is not None:
        try:
            fd = os.open(kill_marker, os.O_WRONLY | os.O_CREAT | os.O_EXCL)
        except FileExistsError:
            pass  # a later attempt, on a new worker
        else:
            os.write(fd, str(os.getpid()).encode())
            os.close(fd)
            os._exit(1)
    return items


# --- the single-process answers ---------------------------------------------


def expected_keywords(stop_words, top_n):
    joined = " ".join(texts())
    full = dict(extract_keywords(joined, stop_words, ALL))
    ordered = sorted(full.items(), key=lambda pair: (-pair[1], pair[0]))
    return full, extract_keywords(joined, stop_words, top_n), ordered[:top_n]


def assert_same_keywords(result, stop_words, top_n):
    full, single_call, ordered = expected_keywords(stop_words, top_n)
    # Word for word and count for count, ties in the order of the word.
    assert result == ordered
    # The same as one call over the whole corpus, ties aside: the same counts
    # in the same order, and the same words above the last count.
    assert [count for _, count in result] == [count for _, count in single_call]
    if result:
        last = result[-1][1]
        assert {w for w, c in result if c > last} == {w for w, c in single_call if c > last}
        assert all(full[word] == last for word, count in single_call if count == last)
    if top_n >= len(full):
        assert dict(result) == dict(single_call) == full


def expected_ranking(query, top_n, include_zero=False):
    scored = [(score_article(t, c, query), n, (t, c)) for n, (t, c) in enumerate(articles())]
    kept = [entry for entry in scored if include_zero or entry[0] > 0]
    kept.sort(key=lambda entry: (-entry[0], entry[1]))
    return [RankedArticle(score, n, article) for score, n, article in kept[:top_n]]


# --- the cluster ---------------------------------------------------------------


class Cluster:
    """A client of the test cluster, and every worker process it has had."""

    def __init__(self, client):
        self.client = client
        # psutil's handles know their process's start time, so a number used
        # again by a new process later is not taken for the worker.
        self.seen: dict[int, psutil.Process] = {}

    def worker_pids(self) -> set[int]:
        pids = set(self.client.run(os.getpid).values())
        for pid in pids:
            self.seen.setdefault(pid, psutil.Process(pid))
        return pids


def _is_resource_tracker(process) -> bool:
    # multiprocessing's helper for the spawned workers; it serves this whole
    # test process and ends with it.
    try:
        return any("multiprocessing.resource_tracker" in part for part in process.cmdline())
    except psutil.NoSuchProcess:
        return True


def _runs(process) -> bool:
    # A zombie has ended and only waits to be reaped.
    try:
        return process.is_running() and process.status() != psutil.STATUS_ZOMBIE
    except psutil.NoSuchProcess:
        return False


@pytest.fixture(scope="module")
def cluster(tmp_path_factory):
    me = psutil.Process()
    children_before = {child.pid for child in me.children(recursive=True)}
    # The cluster closes a worker's nanny for good when, 15 s after that
    # worker was lost, no worker of its name is registered. The tests here
    # kill workers on purpose, and a nanny restarting the one killed in one
    # test can be caught, mid-restart, by the timer of a kill in an earlier
    # test: the cluster would be left with one worker. The nannies bring the
    # workers back, so the timer is not needed.
    with dask.config.set({"distributed.deploy.lost-worker-timeout": "1h"}), distributed.LocalCluster(
        n_workers=2,
        threads_per_worker=1,
        processes=True,
        host="127.0.0.1",
        # Its HTTP server (health, metrics) is there even without a dashboard:
        # a free port, not 8787, which another run may hold.
        dashboard_address="127.0.0.1:0",
        local_directory=str(tmp_path_factory.mktemp("dask-workers")),
        silence_logs=logging.ERROR,
    ) as local_cluster:
        with distributed.Client(local_cluster) as client:
            started = Cluster(client)
            assert len(started.worker_pids()) == 2
            yield started
            started.worker_pids()
    # No cluster process is left running: every worker the cluster has had is
    # gone, and so is every other process started for it.
    still_running = [process for process in started.seen.values() if _runs(process)]
    assert still_running == []
    left = [
        child
        for child in me.children(recursive=True)
        if child.pid not in children_before and not _is_resource_tracker(child) and _runs(child)
    ]
    assert left == []


@pytest.fixture
def client(cluster):
    return cluster.client


def run(client, lazy):
    return client.compute(lazy).result(timeout=TIMEOUT)


KEYWORD_CASES = [
    # name, stop words, top_n, split_every
    ("every word", (), ALL, None),
    ("top 25", (), 25, None),
    ("english stop list", tuple(stoplists.load("english")), 40, None),
    ("english, every word, deep tree", stoplists.load("english"), ALL, 2),
    ("stop words unchanged", ["the", "The", "SHALL", "shall", "of", "ΟΔΟΣ", "οδος"], 10, 3),
    ("one", (), 1, None),
    ("none", (), 0, None),
]


@pytest.mark.parametrize(
    ("stop_words", "top_n", "split_every"),
    [case[1:] for case in KEYWORD_CASES],
    ids=[case[0] for case in KEYWORD_CASES],
)
def test_corpus_keywords_on_the_cluster_equal_one_call_over_the_corpus(
    client, stop_words, top_n, split_every
):
    lazy = corpus_keywords(bag_of(texts()), stop_words, top_n, split_every=split_every)
    assert_same_keywords(run(client, lazy), stop_words, top_n)


RANKING_CASES = [
    # query, top_n, include_zero
    ("congress", 10, False),
    ("PRESIDENT", ALL, False),
    ("the", 25, False),  # long runs of equal scores: input order decides
    ("ΟΔΟΣ", 5, False),  # final sigma: matches ΟΔΟΣ and οδός's title, not οδοσ
    ("οδοσ", 5, False),
    ("İstanbul", 3, False),
    ("東京", 3, False),
    (" ", 50, False),
    ("", 5, False),  # an empty query scores 0 everywhere
    ("", 5, True),
    ("no such words here", 3, True),
    ("united states", 0, False),
]


@pytest.mark.parametrize(("query", "top_n", "include_zero"), RANKING_CASES)
def test_rank_articles_on_the_cluster_equal_scoring_every_article(client, query, top_n, include_zero):
    lazy = rank_articles(bag_of(articles()), query, top_n, include_zero=include_zero)
    assert run(client, lazy) == expected_ranking(query, top_n, include_zero)


def test_the_test_corpus_is_big_and_real():
    # What the tests above rely on: thousands of articles, all of them
    # counted and ranked, across many partitions, some of them empty.
    parts = partitions(articles())
    assert len(articles()) > 2500
    assert len(parts) > 40 and sum(1 for part in parts if not part) > 5
    assert sum(map(len, parts)) == len(articles())
    assert dict(extract_keywords(" ".join(texts()), [], 5))["the"] > 10_000
    assert expected_ranking("ΟΔΟΣ", ALL) != []


def test_articles_as_mappings_and_lists_rank_like_pairs(client):
    as_dicts = tuple({"title": t, "content": c, "id": n} for n, (t, c) in enumerate(articles()))
    as_lists = tuple([t, c] for t, c in articles())
    dicts, lists = dask.compute(
        rank_articles(bag_of(as_dicts), "congress", 20), rank_articles(bag_of(as_lists), "congress", 20)
    )
    expected = expected_ranking("congress", 20)
    # The id of a dictionary is its position: the articles came back whole.
    assert [(r.score, r.position, r.article["id"]) for r in dicts] == [
        (e.score, e.position, e.position) for e in expected
    ]
    assert [(r.score, r.position, tuple(r.article)) for r in lists] == expected


@pytest.mark.parametrize("function", ["keywords", "ranking"])
def test_a_worker_killed_in_the_middle_of_a_run_is_survived(cluster, tmp_path, function):
    client = cluster.client
    marker = tmp_path / "killed"
    before = cluster.worker_pids()
    bag = bag_of(texts() if function == "keywords" else articles(), kill_marker=marker)
    stop_words = stoplists.load("english")
    if function == "keywords":
        result = run(client, corpus_keywords(bag, stop_words, 30))
        assert_same_keywords(result, stop_words, 30)
    else:
        result = run(client, rank_articles(bag, "the", 40))
        assert result == expected_ranking("the", 40)
    # A worker did die in the run, and the nanny put a new one in its place.
    killed = int(marker.read_text())
    assert killed in before
    client.wait_for_workers(2, timeout=TIMEOUT)
    after = cluster.worker_pids()
    assert killed not in after and len(after) == 2


def test_an_error_in_a_partition_reaches_the_caller(client):
    bag = db.from_sequence(["fine text", 42, "more text"], npartitions=2)
    with pytest.raises(TypeError, match="'int' object, not a str"):
        run(client, corpus_keywords(bag, [], 5))
    with pytest.raises(TypeError, match="argument 'content'"):
        run(client, rank_articles(db.from_sequence([("title", None)]), "q", 5))


# --- in this process: iterables of partitions, and argument checks -------------


LOCAL_PARTITIONINGS = {
    "uneven lists": lambda items: partitions(items),
    "one partition": lambda items: [list(items)],
    "generators": lambda items: (iter(part) for part in partitions(items)),
    "one item each": lambda items: [[item] for item in items],
}


@pytest.mark.parametrize("partitioning", LOCAL_PARTITIONINGS.values(), ids=LOCAL_PARTITIONINGS.keys())
@pytest.mark.parametrize(
    ("stop_words", "top_n"), [((), ALL), (stoplists.load("english"), 15), (["The", "the"], 0)]
)
def test_corpus_keywords_of_plain_partitions(partitioning, stop_words, top_n):
    assert_same_keywords(corpus_keywords(partitioning(texts()), stop_words, top_n), stop_words, top_n)


@pytest.mark.parametrize("partitioning", LOCAL_PARTITIONINGS.values(), ids=LOCAL_PARTITIONINGS.keys())
@pytest.mark.parametrize(
    ("query", "top_n", "include_zero"), [("the", 30, False), ("ΟΔΟΣ", ALL, False), ("", 4, True)]
)
def test_rank_articles_of_plain_partitions(partitioning, query, top_n, include_zero):
    result = rank_articles(partitioning(articles()), query, top_n, include_zero=include_zero)
    assert result == expected_ranking(query, top_n, include_zero)


def test_texts_are_counted_in_pieces_joined_by_a_space(monkeypatch):
    # A partition's texts are counted a piece of several texts at a time;
    # with tiny pieces, every piece boundary falls between two texts.
    monkeypatch.setattr(dask_support, "_PIECE_CHARS", 50)
    assert_same_keywords(corpus_keywords([list(texts())], (), ALL), (), ALL)
    assert corpus_keywords([["ab", "c", "abc"], ["ab", "c abc"]], (), ALL) == [("abc", 2)]


def test_summing_partial_counts_leaves_them_as_they_were():
    # A scheduler may keep a partial result and hand it to a retried task.
    partials = [WordCounter(), WordCounter(), WordCounter()]
    partials[0].update("abc abc def")
    partials[1].update("abc")
    copies = [pickle.loads(pickle.dumps(part)) for part in partials]
    assert dask_support._merge_counts(iter(partials)).most_common() == [("abc", 3), ("def", 1)]
    assert partials == copies
    assert dask_support._merge_counts(iter([])) == WordCounter()


def test_what_tasks_hand_on_travels_in_one_piece():
    # distributed sends a plain dict or list between processes one element
    # at a time, a frame each (seconds for a large vocabulary); the partial
    # results and the results must go as one pickle.
    from distributed.protocol import serialize, to_serialize

    counts = dask_support._count_partition(texts(), [])
    ranked = dask_support._rank_partition(articles(), "the", ALL, True)
    shipped = [
        counts,
        dask_support._merge_counts([counts, counts]),
        corpus_keywords([texts()], [], ALL),
        ranked,
        dask_support._merge_rankings([ranked, ranked], ALL),
        rank_articles([articles()], "the", ALL, include_zero=True),
    ]
    for value in shipped:
        assert len(value) > 1
        header, frames = serialize(to_serialize(value))
        assert len(frames) == 1, type(value)
    # Still lists to the caller.
    assert isinstance(shipped[2], list) and isinstance(shipped[5], list)


def test_empty_corpora():
    assert corpus_keywords([], (), 5) == []
    assert corpus_keywords([[], [""], ["  "]], (), ALL) == []
    assert rank_articles([], "q", 5, include_zero=True) == []
    assert rank_articles([[], [("a", "b")]], "q", 5, include_zero=True) == [RankedArticle(0.0, 0, ("a", "b"))]


def _error_of(call):
    with pytest.raises(BaseException) as caught:
        call()
    return type(caught.value), str(caught.value)


ARGUMENT_ERRORS = [
    # the call here, the compiled function's call that fails the same way
    (lambda b: corpus_keywords(b, "the", 5), lambda: extract_keywords("", "the", 5)),
    (lambda b: corpus_keywords(b, {"the"}, 5), lambda: extract_keywords("", {"the"}, 5)),
    (lambda b: corpus_keywords(b, ["the", 1], 5), lambda: extract_keywords("", ["the", 1], 5)),
    (lambda b: corpus_keywords(b, [], -1), lambda: extract_keywords("", [], -1)),
    (lambda b: corpus_keywords(b, [], 2**64), lambda: extract_keywords("", [], 2**64)),
    (lambda b: corpus_keywords(b, [], 2.0), lambda: extract_keywords("", [], 2.0)),
    (lambda b: rank_articles(b, None, 5), lambda: score_article("", "", None)),
    (lambda b: rank_articles(b, "\ud800", 5), lambda: score_article("", "", "\ud800")),
    (lambda b: rank_articles(b, "q", -1), lambda: extract_keywords("", [], -1)),
    (lambda b: rank_articles(b, "q", "5"), lambda: extract_keywords("", [], "5")),
]


@pytest.mark.parametrize(("call", "compiled"), ARGUMENT_ERRORS)
@pytest.mark.parametrize("as_bag", [True, False], ids=["bag", "partitions"])
def test_arguments_are_checked_before_any_work_like_the_compiled_functions(call, compiled, as_bag):
    # A bag whose computation would fail: the call must fail before it.
    bag = db.from_sequence([1], npartitions=1).map(lambda _: 1 / 0) if as_bag else iter(())
    assert _error_of(lambda: call(bag)) == _error_of(compiled)


@pytest.mark.parametrize(
    "call",
    [
        lambda: corpus_keywords("some text here", [], 5),
        lambda: corpus_keywords(["some text here"], [], 5),
        lambda: corpus_keywords([["fine text"], b"bytes"], [], 5),
        lambda: rank_articles("title", "q", 5),
        lambda: rank_articles([("title", "content")], "q", 5),
    ],
)
def test_a_str_is_neither_partitions_nor_a_partition(call):
    # It would iterate over characters: letters counted one by one.
    with pytest.raises(TypeError, match="not a 'str' object|not a 'bytes' object|is a 'str' object"):
        call()


@pytest.mark.parametrize(
    "article", ["title and content", b"tc", ("only a title",), ("t", "c", "x"), 7, {"title": "t"}]
)
def test_articles_that_are_not_pairs_are_refused(article):
    with pytest.raises(TypeError, match="article 0 "):
        rank_articles([[article]], "q", 5)


# --- an index in shards (parvenkel.dask_index) ---------------------------------

SHARD_QUERIES = [
    # query, top_n, include_zero: selective, common, short (scanned), none,
    # non-ASCII, every article with the zeros
    ("congress", 15, False),
    ("the", None, False),
    ("th", 40, False),
    ("no such words here", 5, False),
    ("οδοσ", 10, False),
    ("İstanbul", None, False),
    ("shall", 3000, True),
    ("state", 0, False),
]


def _kill_once(marker: str):
    """Makes this worker process die the first time it loads a shard, once
    among all processes (the marker file records the pid)."""
    from parvenkel import dask_index

    loaded = dask_index._loaded

    def dying(path):
        try:
            fd = os.open(marker, os.O_WRONLY | os.O_CREAT | os.O_EXCL)
        except FileExistsError:
            return loaded(path)
        os.write(fd, str(os.getpid()).encode())
        os.close(fd)
        os._exit(1)

    dying.original = loaded
    dask_index._loaded = dying


def _unpatch():
    from parvenkel import dask_index

    dask_index._loaded = getattr(dask_index._loaded, "original", dask_index._loaded)


@pytest.fixture(scope="module")
def sharded(cluster, tmp_path_factory):
    """The test corpus built into shards on the cluster, a worker killed in
    the middle of the build, and one index over the same articles."""
    folder = tmp_path_factory.mktemp("shards")
    marker = folder.parent / "killed-building"
    before = cluster.worker_pids()
    index = run(cluster.client, dask_index.build_shards(bag_of(articles(), kill_marker=marker), folder))
    assert int(marker.read_text()) in before
    cluster.client.wait_for_workers(2, timeout=TIMEOUT)
    return index, ArticleIndex(articles())


@pytest.mark.parametrize(("query", "top_n", "include_zero"), SHARD_QUERIES)
def test_shards_rank_as_one_index_over_all_the_articles(client, sharded, query, top_n, include_zero):
    shards, whole = sharded
    expected = whole.rank(query, top_n, include_zero=include_zero)
    assert [tuple(r) for r in expected] == [
        tuple(r) for r in expected_ranking(query, len(articles()) if top_n is None else top_n, include_zero)
    ]
    on_cluster = run(client, dask_index.rank_shards(shards, query, top_n, include_zero=include_zero))
    assert on_cluster == expected
    assert shards.rank(query, top_n, include_zero=include_zero) == expected


def test_shards_list_every_partition_and_travel_whole(sharded, tmp_path):
    shards, whole = sharded
    sizes = [len(part) for part in partitions(articles())]
    assert [s.articles for s in shards.shards] == sizes
    assert [s.name for s in shards.shards] == [dask_index.shard_name(n) for n in range(len(sizes))]
    assert len(shards) == len(whole) == len(articles())
    assert pickle.loads(pickle.dumps(shards)) == shards
    path = shards.save()
    assert os.path.basename(path) == dask_index.LIST_NAME
    assert dask_index.ShardedIndex.load(shards.folder) == shards
    assert [p for p in os.listdir(shards.folder) if p.endswith(".tmp")] == []


def test_a_worker_killed_in_the_middle_of_a_query_is_survived(cluster, sharded, tmp_path):
    client = cluster.client
    shards, whole = sharded
    marker = str(tmp_path / "killed-querying")
    before = cluster.worker_pids()
    client.run(_kill_once, marker)
    try:
        result = run(client, dask_index.rank_shards(shards, "the", 50))
    finally:
        client.wait_for_workers(2, timeout=TIMEOUT)
        client.run(_unpatch)
    assert result == whole.rank("the", 50)
    killed = int(Path(marker).read_text())
    assert killed in before and killed not in cluster.worker_pids()


@pytest.mark.parametrize("partitioning", ["uneven", "one", "none"])
def test_shards_of_plain_partitions(tmp_path, partitioning):
    parts = {
        "uneven": partitions(articles()),
        "one": [list(articles())],
        "none": [],
    }[partitioning]
    shards = dask_index.build_shards(parts, tmp_path / "made" / "here")
    assert isinstance(shards, dask_index.ShardedIndex)
    whole = ArticleIndex([article for part in parts for article in part])
    for query, top_n, include_zero in SHARD_QUERIES:
        assert shards.rank(query, top_n, include_zero=include_zero) == whole.rank(
            query, top_n, include_zero=include_zero
        )


@pytest.mark.parametrize(
    ("call", "compiled"),
    [
        (lambda s: s.rank(42, 5), lambda: score_article("", "", 42)),
        (lambda s: dask_index.rank_shards(s, "q", -1), lambda: extract_keywords("", [], -1)),
        (lambda s: dask_index.rank_shards(s, "q", "5"), lambda: extract_keywords("", [], "5")),
        (lambda s: dask_index.rank_shards(s, "\ud800", 5), lambda: score_article("", "", "\ud800")),
    ],
)
def test_shard_queries_are_checked_before_any_work(call, compiled):
    # Shards that do not exist: a query that got as far as a worker would fail otherwise.
    missing = dask_index.ShardedIndex("/nonexistent", [dask_index.Shard("x.idx", 3)])
    assert _error_of(lambda: call(missing)) == _error_of(compiled)
