"""Real articles in four scripts for the index benchmark, from Debian help packages.

Debian ships the GIMP manual (``gimp-help-*``) and the LibreOffice help
(``libreoffice-help-*``) as HTML pages translated into many languages. This
module downloads both for English, German and French (Latin script),
Russian (Cyrillic), Greek, and simplified Chinese and Japanese (CJK) with
``apt-get download`` (no install), unpacks them with ``dpkg -x`` and makes
one article of each page: its ``<title>`` as the title, its prose (without
the navigation bars, scripts and code listings) as the content. The
articles are cached as JSON lines under ``~/.cache/parvenkel/real-corpus``
(``$XDG_CACHE_HOME`` if set); nothing of it goes into the repository.

    .venv/bin/python benchmarks/real_corpus.py [--cache DIR] [--force]

prints the corpus's size by language. The apt package lists must be
present (run ``apt-get update`` once). The pages are under the GNU FDL 1.2
or later (GIMP, whose copyright file is in ``gimp-help-common``) and the
MPL 2.0 (LibreOffice); the copyright files come along in the cache.
"""

from __future__ import annotations

import argparse
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
from dataclasses import dataclass

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import corpora  # noqa: E402

# Language -> (script, GIMP package suffix and folder, LibreOffice package suffix and folder).
LANGUAGES = {
    "en": ("Latin", "en", "en", "en-us", "en-US"),
    "de": ("Latin", "de", "de", "de", "de"),
    "fr": ("Latin", "fr", "fr", "fr", "fr"),
    "ru": ("Cyrillic", "ru", "ru", "ru", "ru"),
    "el": ("Greek", "el", "el", "el", "el"),
    "zh": ("CJK", "zh-cn", "zh_CN", "zh-cn", "zh-CN"),
    "ja": ("CJK", "ja", "ja", "ja", "ja"),
}
GIMP_DIR = pathlib.Path("usr/share/gimp/2.0/help")
OFFICE_DIR = pathlib.Path("usr/share/libreoffice/help")

# Bump when the extraction changes, so that old caches are rebuilt.
FORMAT_VERSION = "2"


@dataclass(frozen=True)
class Article:
    language: str
    title: str
    content: str


def packages() -> list[str]:
    names = ["gimp-help-common"]  # only for the GIMP manual's copyright file
    for _, gimp, _, office, _ in LANGUAGES.values():
        names += [f"gimp-help-{gimp}", f"libreoffice-help-{office}"]
    return names


def default_cache() -> pathlib.Path:
    base = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    return pathlib.Path(base) / "parvenkel" / "real-corpus"


class _PageExtractor(corpora._TextExtractor):
    """The title and prose of a GIMP (DocBook) or LibreOffice help page."""

    _SKIP_TAGS = corpora._TextExtractor._SKIP_TAGS | {"header", "aside", "nav", "noscript", "footer"}

    def __init__(self) -> None:
        super().__init__()
        self.title: list[str] = []
        self._in_title = False

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        self._in_title = tag == "title"
        super().handle_starttag(tag, attrs)

    def handle_endtag(self, tag: str) -> None:
        if tag == "title":
            self._in_title = False
        super().handle_endtag(tag)

    def handle_data(self, data: str) -> None:
        if self._in_title:
            self.title.append(data)
        super().handle_data(data)


def page_article(language: str, markup: str) -> Article | None:
    parser = _PageExtractor()
    parser.feed(markup)
    parser.close()
    title = " ".join("".join(parser.title).split())
    lines = (" ".join(line.split()) for line in "".join(parser.parts).splitlines())
    content = "\n".join(line for line in lines if line)
    if not title or len(content) < 40:  # redirections and empty stubs
        return None
    return Article(language, title, content)


def _articles_path(cache: pathlib.Path, language: str) -> pathlib.Path:
    return cache / "articles" / f"{language}.jsonl"


def _ready(cache: pathlib.Path) -> bool:
    stamp = cache / "articles" / "FORMAT"
    return stamp.is_file() and stamp.read_text().strip() == FORMAT_VERSION and all(
        _articles_path(cache, language).is_file() for language in LANGUAGES
    )


def _download(debs: pathlib.Path, log) -> None:
    missing = [name for name in packages() if not list(debs.glob(f"{name}_*.deb"))]
    if not missing:
        return
    log(f"real corpus: downloading {len(missing)} packages into {debs}")
    # apt-get download runs as the unprivileged _apt user where it can: give it a folder it may write.
    with tempfile.TemporaryDirectory(dir=debs) as tmp:
        os.chmod(tmp, 0o777)
        result = subprocess.run(
            ["apt-get", "download", "-q", *missing], cwd=tmp, capture_output=True, text=True
        )
        if result.returncode != 0:
            sys.stderr.write(result.stdout + result.stderr)
            raise SystemExit(
                "real corpus: 'apt-get download' failed; run 'apt-get update' first "
                "(the packages are Debian's gimp-help-* and libreoffice-help-*)"
            )
        for deb in pathlib.Path(tmp).glob("*.deb"):
            shutil.move(str(deb), debs / deb.name)


def ensure(cache: pathlib.Path | None = None, force: bool = False, log=print) -> pathlib.Path:
    """Build the cached articles in ``cache`` unless they are already there."""
    cache = pathlib.Path(cache or default_cache())
    if not force and _ready(cache):
        return cache
    if shutil.which("apt-get") is None or shutil.which("dpkg") is None:
        raise SystemExit(
            "real corpus: apt-get and dpkg are needed to fetch Debian's help packages "
            "(gimp-help-*, libreoffice-help-*); on another system use --corpus synthetic"
        )
    debs = cache / "debs"
    debs.mkdir(parents=True, exist_ok=True)
    if force:
        for old in debs.glob("*.deb"):
            old.unlink()
    _download(debs, log)
    out = cache / "articles"
    out.mkdir(parents=True, exist_ok=True)
    (out / "FORMAT").unlink(missing_ok=True)
    with tempfile.TemporaryDirectory(dir=cache) as tmp:
        root = pathlib.Path(tmp)
        for name in packages():
            subprocess.run(["dpkg", "-x", str(sorted(debs.glob(f"{name}_*.deb"))[-1]), tmp], check=True)
        for language, (_, _, gimp_dir, _, office_dir) in LANGUAGES.items():
            pages = sorted((root / GIMP_DIR / gimp_dir).rglob("*.html"))
            pages += sorted((root / OFFICE_DIR / office_dir).rglob("*.html"))
            with _articles_path(cache, language).open("w", encoding="utf-8") as f:
                for page in pages:
                    article = page_article(language, page.read_text(encoding="utf-8", errors="replace"))
                    if article is not None:
                        f.write(json.dumps([article.title, article.content], ensure_ascii=False) + "\n")
        for name in packages():
            copyright_file = root / "usr/share/doc" / name / "copyright"
            if copyright_file.is_file():
                shutil.copyfile(copyright_file, out / f"COPYRIGHT.{name}")
    (out / "SOURCE").write_text("".join(f"{deb.name}\n" for deb in sorted(debs.glob("*.deb"))))
    (out / "FORMAT").write_text(FORMAT_VERSION + "\n")
    return cache


def load(cache: pathlib.Path | None = None, log=print) -> list[Article]:
    """Every article, the languages taken in turn (en, de, fr, ru, el, zh, ja,
    en, ...), so that the first N articles mix all of them."""
    cache = ensure(cache, log=log)
    by_language = []
    for language in LANGUAGES:
        with _articles_path(cache, language).open(encoding="utf-8") as f:
            by_language.append([Article(language, *json.loads(line)) for line in f])
    articles = []
    for k in range(max(len(pages) for pages in by_language)):
        articles += [pages[k] for pages in by_language if k < len(pages)]
    return articles


def describe(articles: list[Article]) -> list[tuple[str, str, int, float]]:
    """(language, script, articles, MB of UTF-8) for each language, then the total."""
    rows = []
    for language, (script, *_) in LANGUAGES.items():
        mine = [a for a in articles if a.language == language]
        size = sum(len(a.title.encode()) + len(a.content.encode()) for a in mine)
        rows.append((language, script, len(mine), size / 1e6))
    rows.append(("all", "", sum(r[2] for r in rows), sum(r[3] for r in rows)))
    return rows


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cache", type=pathlib.Path, default=None, help="cache folder")
    parser.add_argument("--force", action="store_true", help="download and extract again")
    args = parser.parse_args()
    ensure(args.cache, force=args.force)
    for language, script, count, mb in describe(load(args.cache)):
        print(f"{language:<4} {script:<9} {count:>7,} articles {mb:8.1f} MB")


if __name__ == "__main__":
    main()
