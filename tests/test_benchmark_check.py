"""benchmarks/run.py fails when the pure-Python baseline disagrees with parvenkel."""

import runpy
import sys
from pathlib import Path
from types import SimpleNamespace

import pytest

import parvenkel

RUN = Path(__file__).resolve().parent.parent / "benchmarks" / "run.py"
pytestmark = pytest.mark.skipif(not RUN.exists(), reason="no benchmarks folder here")

TEXTS = [SimpleNamespace(name="en", text="The cat sat on the cat's hat, the CAT!"),
         SimpleNamespace(name="el", text="Ο ΟΔΥΣΣΕΥΣ έφυγε. Καλημέρα κόσμε, κόσμε")]
ARTICLES = [SimpleNamespace(title=t, content="a hat", query=q)
            for t, q in [("Cat news", "cat"), ("The CAT", "cat"), ("Dogs", "hat"), ("Dogs", "x")]]


@pytest.fixture(scope="module")
def run():
    path = list(sys.path)  # run.py puts benchmarks/ first on the path
    names = runpy.run_path(str(RUN), run_name="benchmarks_run")
    sys.path[:] = path
    return SimpleNamespace(**names)


def check(run):
    run.exit_on_disagreement(run.agreement(parvenkel, TEXTS, [], [SimpleNamespace(articles=ARTICLES)]))


def test_same_results_pass(run):
    check(run)


@pytest.mark.parametrize("name", ["extract_keywords", "score_article"])
def test_a_difference_exits(run, monkeypatch, name):
    real = getattr(run.pure_python, name)
    wrong = {"extract_keywords": lambda *a: real(*a)[1:], "score_article": lambda *a: real(*a) + 100}
    monkeypatch.setattr(run.pure_python, name, wrong[name])
    with pytest.raises(SystemExit, match=f"disagree:\n  {name}"):
        check(run)


# The article index benchmark: what it reads of the index file, the pages it
# makes articles of, and its SQLite peer's answers.

@pytest.fixture(scope="module")
def bench():
    path = list(sys.path)
    sys.path.insert(0, str(RUN.parent))
    try:
        import index_bench
        import index_peers
        import real_corpus
    finally:
        sys.path[:] = path
    return SimpleNamespace(index_bench=index_bench, index_peers=index_peers, real_corpus=real_corpus)


def test_index_file_parts_add_up(bench, tmp_path):
    index = parvenkel.ArticleIndex([("Ünïcode title", "body ΣΑΣ 画像"), ("x", "y")], ids=["a", None])
    index.save(tmp_path / "i.idx")
    size, note = bench.index_bench.index_parts(str(tmp_path / "i.idx"))
    assert size == (tmp_path / "i.idx").stat().st_size
    assert note.startswith("text ") and "other" not in note and "unknown" not in note


PAGES = [
    # LibreOffice help: the page's own header, side panels and scripts are not prose.
    ('<html><head><title>Панель поиска</title><script>var x = 1;</script></head><body>'
     '<header><a>Справка LibreOffice</a></header><aside><nav>Содержимое</nav></aside>'
     '<div id="DisplayArea"><h1>Find Bar</h1><p>The <span>Find</span> toolbar searches documents.</p>'
     '<pre>code()</pre></div></body></html>',
     "Панель поиска", "Find Bar\nThe Find toolbar searches documents."),
    # The GIMP manual (DocBook): navigation bars above and below.
    ('<html><head><title>5.4. Εστίαση</title></head><body><div class="navheader"><table><tr>'
     '<th>5.4. Εστίαση</th></tr></table></div><div class="sect2"><h3>5.4. Εστίαση</h3>'
     '<p>Το εργαλείο &laquo;εστίαση&raquo; αλλάζει το επίπεδο εστίασης.</p></div>'
     '<div class="navfooter">Επόμενο</div></body></html>',
     "5.4. Εστίαση", "5.4. Εστίαση\nΤο εργαλείο «εστίαση» αλλάζει το επίπεδο εστίασης."),
]


@pytest.mark.parametrize("markup, title, content", PAGES)
def test_help_page_article(bench, markup, title, content):
    article = bench.real_corpus.page_article("xx", markup)
    assert (article.title, article.content) == (title, content)


def test_sqlite_peer_answers_every_match(bench):
    """Its answers, by the index and by LIKE for short queries, with the
    characters MATCH and LIKE give a meaning to: those of the scan on ASCII text."""
    articles = [("100% \"done\"", "a_b c"), ("Done", "ab%c"), ("x", "A_B"), ("y", "\\z")]
    peer = bench.index_peers.Sqlite()
    try:
        peer.build(articles)
        for query in ["done", '"do', "0% ", "%", "_", "a_b", "b%", "\\", "\\z", "ab", "q"]:
            rows = sorted(r for (r,) in peer.answer(query)())
            expected = [k + 1 for k, r in enumerate(parvenkel.score_many(articles, query)) if r]
            assert rows == expected, query
    finally:
        peer.close()
