"""The documentation site as a reader sees it: the front page and the API
reference rendered by headless Chromium, with their navigation and their
text. Needs the built site (tools/build-docs.sh builds it and runs this);
skipped when it is not built, unless PARVENKEL_DOCS_CHECK is set."""

import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parent.parent
SITE = Path(os.environ.get("PARVENKEL_SITE", REPO / "build" / "site"))
SHOTS = REPO / "build" / "site-check"
REQUIRED = bool(os.environ.get("PARVENKEL_DOCS_CHECK"))


def chromium():
    found = shutil.which("chromium") or shutil.which("chromium-browser")
    if found is None or not (SITE / "index.html").is_file():
        if REQUIRED:
            pytest.fail(f"needs Debian's chromium and the site built in {SITE}")
        pytest.skip("needs Debian's chromium and the site built (tools/build-docs.sh)")
    return found


def render(page, *flags):
    # As root, Chromium runs only without its sandbox; the pages are our own.
    argv = [chromium(), "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
            "--window-size=1280,1000", *flags, (SITE / page).as_uri()]
    got = subprocess.run(argv, capture_output=True, timeout=120, cwd=SITE)
    assert got.returncode == 0, got.stderr.decode(errors="replace")[-2000:]
    return got.stdout.decode("utf-8")


def text_of(html):
    return re.sub(r"\s+", " ", re.sub(r"<[^>]+>", " ", html))


NAVIGATION = ["Getting started", "The rules", "Command line", "API reference", "Performance", "Development"]


@pytest.mark.parametrize(
    "page, words",
    [
        ("index.html", ["score_article", "extract_keywords", "Unicode Character Database 17.0.0"]),
        ("api/index.html", ["Score an article title + content against a query.", "WordCounter",
                            "most_common", "ArticleIndex", "RankedArticle", "check_stop_words"]),
    ],
)
def test_page_renders_with_navigation_and_text(page, words):
    dom = render(page, "--dump-dom")
    # The site's navigation: the primary sidebar, up to the page's content.
    nav = dom[dom.index('<nav class="md-nav md-nav--primary"') : dom.index('<div class="md-content"')]
    assert all(title in text_of(nav) for title in NAVIGATION), text_of(nav)[:500]
    article = dom[dom.index('<article class="md-content__inner'):]
    body = text_of(article[: article.index("</article>")])
    assert len(body) > 500 and all(word in body for word in words), body[:500]
    # A screenshot to look at, and far more than an empty page's few bytes.
    SHOTS.mkdir(parents=True, exist_ok=True)
    shot = SHOTS / (page.replace("/", "-").removesuffix(".html") + ".png")
    shot.unlink(missing_ok=True)
    render(page, f"--screenshot={shot}")
    assert shot.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and shot.stat().st_size > 30_000


def test_internal_links_resolve():
    """Every link and image of the built site that stays inside it names a
    file that exists, and an anchor that page has."""
    chromium()  # the same precondition: a built site
    # The 404 page is served from any depth, so its links start at the root.
    pages = {path: path.read_text(encoding="utf-8") for path in SITE.rglob("*.html") if path.name != "404.html"}
    ids = {path: set(re.findall(r'\bid="([^"]+)"', html)) for path, html in pages.items()}
    broken = []
    for path, html in pages.items():
        for link in re.findall(r'\b(?:href|src)="([^"]+)"', html):
            if re.match(r"[a-z]+:|//|#?$", link) or link.startswith("data:"):
                continue
            target, _, anchor = link.partition("#")
            where = (path.parent / target).resolve() if target else path
            if where.is_dir():
                where = where / "index.html"
            if not where.exists():
                broken.append(f"{path.relative_to(SITE)}: {link}")
            elif anchor and where.suffix == ".html" and anchor not in ids.get(where, set()):
                broken.append(f"{path.relative_to(SITE)}: {link} (no such anchor)")
    assert broken == []
