"""Real prose for the benchmarks, built from a Debian documentation package.

The Debian installation guide (package ``installation-guide-amd64``, licence
GPL-2, see README.md) ships the same manual as HTML in about twenty languages,
among them English and French (Latin script), Russian (Cyrillic), Greek, and
Chinese and Japanese (CJK). This script downloads that one package with
``apt-get download`` (no system-wide install, no root needed), unpacks it with
``dpkg -x`` into a cache folder, strips the HTML to plain text and keeps one
text file per language. Nothing of it goes into the repository.

    .venv/bin/python benchmarks/corpora.py [--cache DIR] [--force]

Run it once by hand or let ``benchmarks/run.py`` call it; a second run reuses
the cache. The apt package lists must be present (``apt-get update``).
"""

from __future__ import annotations

import argparse
import html.parser
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

PACKAGE = "installation-guide-amd64"
DOC_DIR = pathlib.Path("usr/share/doc") / PACKAGE

# Language folder in the package -> corpus name and script, in display order.
LANGUAGES = {
    "en": ("en", "Latin"),
    "fr": ("fr", "Latin"),
    "ru": ("ru", "Cyrillic"),
    "el": ("el", "Greek"),
    "zh_CN": ("zh", "CJK"),
    "ja": ("ja", "CJK"),
}

# Bump when the text extraction changes, so that old caches are rebuilt.
FORMAT_VERSION = "1"


def default_cache() -> pathlib.Path:
    base = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    return pathlib.Path(base) / "parvenkel" / "bench-corpora"


class _TextExtractor(html.parser.HTMLParser):
    """Plain text of a DocBook HTML page: the prose, without navigation bars,
    code listings (<pre>) or the document head."""

    _SKIP_TAGS = {"head", "script", "style", "pre"}
    _SKIP_DIV_CLASSES = {"navheader", "navfooter", "toc", "list-of-tables", "list-of-figures"}
    _BLOCK_TAGS = {
        "p", "div", "li", "dt", "dd", "tr", "h1", "h2", "h3", "h4", "h5", "h6",
        "br", "table", "ul", "ol", "dl", "blockquote", "title",
    }

    def __init__(self) -> None:
        super().__init__(convert_charrefs=True)
        self.parts: list[str] = []
        self._skip_depth = 0  # > 0 while inside a skipped element
        self._div_stack: list[bool] = []  # per open <div>: does it start a skip?

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        if tag == "div":
            classes = set((dict(attrs).get("class") or "").split())
            skip = bool(classes & self._SKIP_DIV_CLASSES)
            self._div_stack.append(skip)
            if skip:
                self._skip_depth += 1
        elif tag in self._SKIP_TAGS:
            self._skip_depth += 1
        if tag in self._BLOCK_TAGS:
            self.parts.append("\n")

    def handle_endtag(self, tag: str) -> None:
        if tag == "div":
            if self._div_stack and self._div_stack.pop():
                self._skip_depth -= 1
        elif tag in self._SKIP_TAGS:
            self._skip_depth = max(0, self._skip_depth - 1)
        if tag in self._BLOCK_TAGS:
            self.parts.append("\n")

    def handle_data(self, data: str) -> None:
        if self._skip_depth == 0:
            self.parts.append(data)


def html_to_text(markup: str) -> str:
    parser = _TextExtractor()
    parser.feed(markup)
    parser.close()
    lines = (" ".join(line.split()) for line in "".join(parser.parts).splitlines())
    return "\n".join(line for line in lines if line) + "\n"


def _page_order(path: pathlib.Path) -> tuple[int, str]:
    # index, then chapters, then appendices, each in file-name order.
    name = path.name
    rank = 0 if name.startswith("index") else 1 if name.startswith("ch") else 2
    return (rank, name)


def language_text(folder: pathlib.Path) -> str:
    pages = []
    for page in sorted(folder.glob("*.html"), key=_page_order):
        # apf*: the appendix holding the GNU GPL, left in English in every
        # translation; it is licence text, not the translated prose.
        if page.name.startswith("apf"):
            continue
        pages.append(html_to_text(page.read_text(encoding="utf-8")))
    return "\n".join(pages)


def corpus_path(cache: pathlib.Path, name: str) -> pathlib.Path:
    return cache / "text" / f"{name}.txt"


def _ready(cache: pathlib.Path) -> bool:
    stamp = cache / "text" / "FORMAT"
    return stamp.is_file() and stamp.read_text().strip() == FORMAT_VERSION and all(
        corpus_path(cache, name).is_file() for name, _ in LANGUAGES.values()
    )


def ensure_corpora(cache: pathlib.Path | None = None, force: bool = False, log=print) -> pathlib.Path:
    """Build the text corpora in ``cache`` unless they are already there."""
    cache = pathlib.Path(cache or default_cache())
    if not force and _ready(cache):
        return cache
    if shutil.which("apt-get") is None or shutil.which("dpkg") is None:
        raise SystemExit("corpora: apt-get and dpkg are needed to fetch the prose corpora")
    debs = cache / "debs"
    debs.mkdir(parents=True, exist_ok=True)
    if force or not list(debs.glob(f"{PACKAGE}_*.deb")):
        for old in debs.glob(f"{PACKAGE}_*.deb"):
            old.unlink()
        log(f"corpora: downloading {PACKAGE} into {debs}")
        result = subprocess.run(
            ["apt-get", "download", "-q", PACKAGE], cwd=debs, capture_output=True, text=True
        )
        if result.returncode != 0:
            sys.stderr.write(result.stdout + result.stderr)
            raise SystemExit(
                f"corpora: 'apt-get download {PACKAGE}' failed; run 'apt-get update' first"
            )
    deb = sorted(debs.glob(f"{PACKAGE}_*.deb"))[-1]
    out = cache / "text"
    out.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=cache) as tmp:
        subprocess.run(["dpkg", "-x", str(deb), tmp], check=True)
        root = pathlib.Path(tmp) / DOC_DIR
        for folder, (name, script) in LANGUAGES.items():
            text = language_text(root / folder)
            corpus_path(cache, name).write_text(text, encoding="utf-8")
            log(f"corpora: {name} ({script}): {len(text.encode('utf-8')) / 1e6:.2f} MB of text")
        shutil.copyfile(root / "copyright", out / "COPYRIGHT")
    (out / "SOURCE").write_text(f"{deb.name}\n")
    (out / "FORMAT").write_text(FORMAT_VERSION + "\n")
    return cache


def load_corpora(cache: pathlib.Path | None = None) -> dict[str, str]:
    cache = ensure_corpora(cache)
    return {
        name: corpus_path(cache, name).read_text(encoding="utf-8") for name, _ in LANGUAGES.values()
    }


def scripts() -> dict[str, str]:
    return {name: script for name, script in LANGUAGES.values()}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cache", type=pathlib.Path, default=None, help="cache folder")
    parser.add_argument("--force", action="store_true", help="download and extract again")
    args = parser.parse_args()
    cache = ensure_corpora(args.cache, force=args.force)
    print(f"corpora ready in {cache / 'text'}")


if __name__ == "__main__":
    main()
