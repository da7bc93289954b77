"""The command line, ``parvenkel`` or ``python -m parvenkel``.

    parvenkel keywords [PATH ...]      top keywords of files, folders or standard input
    parvenkel score QUERY [PATH ...]   rank articles for a query
    parvenkel score --index FILE QUERY rank the articles of an index file
    parvenkel index build OUT PATH ... build an index file of articles
    parvenkel explain [PATH | -t TEXT] what each piece of a text becomes, and why

Exit codes: 0 success, 1 a problem with the input (a missing file, text that
is not UTF-8, a bad article, files or lines left out by --errors skip), 2 a
problem with the command line itself,
130 interrupted, 141 standard output closed early (as for a program that
SIGPIPE ends). Errors and warnings are single lines on standard error; the
output is UTF-8.
"""

from __future__ import annotations

import argparse
import codecs
import csv
import io
import json
import os
import sys
import unicodedata
from collections.abc import Callable, Iterable, Iterator, Sequence
from itertools import batched
from typing import NoReturn

from parvenkel import stoplists
from parvenkel._corpus import WordCounter, score_many
from parvenkel._sources import (
    BadFile,
    BadFiles,
    Fields,
    InputError,
    Progress,
    Source,
    UsageError,
    articles,
    collect,
    progress,
    read_text,
    shown_path,
    word_runs,
)
from parvenkel.index import ArticleIndex
from parvenkel.words import check_stop_words, explain

__all__ = ["main"]

PROG = "parvenkel"

#: Articles scored in one call.
SCORE_BATCH = 4096


def _say(kind: str, message: str) -> None:
    print(f"{PROG}: {kind}: {message}", file=sys.stderr)


def _warn(message: str) -> None:
    _say("warning", message)


class _Parser(argparse.ArgumentParser):
    """Errors in the command line on one line, exit code 2."""

    def error(self, message: str) -> NoReturn:
        self.exit(2, f"{self.prog}: error: {message} (see '{self.prog} --help')\n")


def _count(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = -1
    if value < 0:
        raise argparse.ArgumentTypeError(f"must be a whole number from 0 up, not {text!r}")
    return value


def _jobs(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 1 and value != -1:
        raise argparse.ArgumentTypeError(f"must be a whole number from 1 up, or -1 for every core, not {text!r}")
    return value


def _utf8_argument(what: str, value: str) -> str:
    """A command-line string read as UTF-8, whatever the locale. Bytes the
    locale could not decode reach Python as lone surrogates; they are turned
    back into the bytes the system passed and decoded as UTF-8 (refused if
    they are not UTF-8)."""
    try:
        value.encode("utf-8")
        return value
    except UnicodeEncodeError:
        pass
    try:
        return os.fsencode(value).decode("utf-8")
    except UnicodeError:
        raise UsageError(f"{what} is not valid UTF-8") from None


# Output.


#: Terminal columns a table cell may take; a longer cell is cut for display
#: and ends in CUT_MARK. JSON and CSV always hold the whole text.
MAX_CELL_WIDTH = 80
CUT_MARK = "…"


def _char_width(char: str) -> int:
    if unicodedata.combining(char) or unicodedata.category(char) in ("Mn", "Me", "Cf"):
        return 0
    return 2 if unicodedata.east_asian_width(char) in ("W", "F") else 1


def _display_width(text: str) -> int:
    """Terminal columns taken by `text` (wide East Asian characters take two,
    combining and format characters none). Used for alignment only; ASCII
    text, the common case, is measured at once."""
    if text.isascii():
        return len(text)
    return sum(_char_width(char) for char in text)


def _shown(text: str) -> str:
    """`text` with invisible and control characters written as escapes
    (\\u200b, \\x1b, ...), so that a table shows exactly what is there."""
    if text.isprintable():
        return text
    return "".join(c if c.isprintable() else ascii(c)[1:-1] for c in text)


def _cell(text: str) -> str:
    """`text` as a table shows it: escaped (see _shown), and cut to
    MAX_CELL_WIDTH columns, ending in CUT_MARK, when it is longer. Only the
    start of the text is looked at, so that a cell costs the same for a word
    of 40 MB as for one of 40 bytes."""
    # Every character shown takes at least one column, but for combining
    # and format characters, which a cut may then leave out.
    head = text[: 2 * MAX_CELL_WIDTH]
    shown = _shown(head)
    if len(head) == len(text) and _display_width(shown) <= MAX_CELL_WIDTH:
        return shown
    width = 0
    for end, char in enumerate(shown):
        width += 1 if char.isascii() else _char_width(char)
        if width > MAX_CELL_WIDTH - 1:
            return shown[:end] + CUT_MARK
    return shown + CUT_MARK


def _table(
    header: Sequence[str], rows: Sequence[Sequence[object]], right: frozenset[int]
) -> Iterator[str]:
    """The lines of an aligned table: columns two spaces apart, those in
    `right` aligned right (numbers), the last column unpadded."""
    cells = [list(header)] + [
        [_cell(c) if isinstance(c, str) else str(c) for c in row] for row in rows
    ]
    widths = [max(_display_width(row[i]) for row in cells) for i in range(len(header))]
    for row in cells:
        parts = []
        for i, cell in enumerate(row):
            pad = " " * (widths[i] - _display_width(cell))
            if i in right:
                parts.append(pad + cell)
            elif i == len(row) - 1:
                parts.append(cell)
            else:
                parts.append(cell + pad)
        yield "  ".join(parts).rstrip() + "\n"


def _write(
    fmt: str, header: Sequence[str], rows: Sequence[Sequence[object]], right: frozenset[int]
) -> None:
    # Line by line: a reader that stops early (`| head`) is noticed at once.
    out = sys.stdout
    if fmt == "table":
        out.writelines(_table(header, rows, right))
    elif fmt == "json":
        records = [dict(zip(header, row)) for row in rows]
        out.writelines(json.JSONEncoder(ensure_ascii=False, indent=2).iterencode(records))
        out.write("\n")
    else:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(header)
        writer.writerows(rows)


# Inputs shared by the commands.


def _progress_mode(args: argparse.Namespace) -> str:
    return {None: "auto", True: "always", False: "never"}[args.progress]


def _stop_words(args: argparse.Namespace) -> list[str]:
    """The stop words of --stop-list and --stop-words, with a warning for each
    entry of a file that can never match a word."""
    entries: list[str] = []
    for name in args.stop_list:
        entries.extend(stoplists.load(name))
    for path in args.stop_words:
        name = shown_path(path)
        if os.path.isdir(path):
            raise InputError(f"{name}: is a folder, not a stop-word file")
        text = read_text(Source(name, path, None))
        numbered = stoplists.parse(text)
        words = [entry for _, entry in numbered]
        for problem in check_stop_words(words):
            _warn(f"{name}:{numbered[problem.index][0]}: {problem}")
        entries.extend(words)
    return entries


def _empty_folder(name: str) -> None:
    _warn(f"{name}: no files in this folder")


def _skipped(bad: BadFiles, total: int) -> int:
    """The exit code of a run that has written its output: 1, with the count
    on standard error, when files or lines were skipped."""
    said = []
    if bad.skipped:
        said.append(f"{bad.skipped} of {total} file{'s' if total != 1 else ''} skipped")
    if bad.lines_skipped:
        said.append(f"{bad.lines_skipped} bad line{'s' if bad.lines_skipped != 1 else ''} skipped")
    if not said:
        return 0
    _say("error", "; ".join(said))
    return 1


# The commands.

#: Characters of text a counter is handed at a time, per worker.
COUNT_BATCH = 4 << 20


def _pieces(source: Source, bad: BadFiles, meter: Progress, fields: Fields) -> Iterator[str]:
    """The text of a source in pieces that words never span: the title and
    content of each article of JSON Lines (read as 'score' reads them), or
    the text of any other file cut at white space."""
    chunks = bad.chunks(source, meter)
    if source.path is not None and source.json_lines:
        for _, title, content in articles(source, chunks, fields, bad.line):
            yield title
            yield content
    else:
        yield from word_runs(chunks)


def _keywords(args: argparse.Namespace) -> int:
    stop_words = _stop_words(args)
    fields = Fields(args.title_field, args.content_field)
    sources = collect(args.paths, _empty_folder)
    bad = BadFiles(args.errors, _warn)
    total = WordCounter(stop_words)
    # The pieces of a file add up to the counts of the whole file, and no
    # piece needs to be held in full. A few million characters at a time go
    # to a counter, which shares them among its workers. The pieces of a file
    # count only once the file has been read to its end (a long file counts
    # apart, then adds its counts), so a file skipped halfway leaves nothing
    # behind.
    workers = args.jobs if args.jobs > 0 else os.process_cpu_count() or 1
    limit = COUNT_BATCH * workers
    batch: list[str] = []
    batch_size = 0
    with progress(_progress_mode(args), sources, "keywords", _warn) as meter:
        for source in sources:
            parts: list[str] = []
            size = 0
            own = None
            try:
                for part in _pieces(source, bad, meter, fields):
                    parts.append(part)
                    size += len(part)
                    if size >= limit:
                        if own is None:
                            own = WordCounter(stop_words)
                        own.update(parts, workers=args.jobs)
                        parts.clear()
                        size = 0
            except BadFile as e:
                bad.skip(e)
                continue
            if own is not None:
                total.update(own)
            batch.extend(parts)
            batch_size += size
            if batch_size >= limit:
                total.update(batch, workers=args.jobs)
                batch.clear()
                batch_size = 0
        total.update(batch, workers=args.jobs)
    # Highest count first; words of equal count by word (code point order,
    # which is also UTF-8 byte order), so the output is always the same.
    ranked = total.most_common(args.top)
    rows = [(rank, word, count) for rank, (word, count) in enumerate(ranked, start=1)]
    _write(args.format, ("rank", "word", "count"), rows, frozenset({0, 2}))
    return _skipped(bad, len(sources))


def _scored(
    found: Iterable[tuple[str, str, str]], query: str, args: argparse.Namespace
) -> list[tuple[float, str, str]]:
    """(score, where, title) of the articles `found` that are listed."""
    scored = []
    for batch in batched(found, SCORE_BATCH):
        scores = score_many([(title, content) for _, title, content in batch], query, workers=args.jobs)
        for (where, title, _), score in zip(batch, scores, strict=True):
            if score > 0 or args.all:
                scored.append((score, where, title))
    return scored


def _load_index(path: str) -> ArticleIndex:
    try:
        return ArticleIndex.load(path)
    except OSError as e:
        raise InputError(f"{path}: {e.strerror}") from None
    except ValueError as e:
        raise InputError(str(e)) from None


def _score(args: argparse.Namespace) -> int:
    query = _utf8_argument("the query", args.query)
    if not query:
        raise UsageError("the query is empty, and an empty query scores 0 against every article")
    scored = []
    bad = BadFiles(args.errors, _warn)
    sources: list[Source] = []
    if args.index is not None:
        if args.paths:
            raise UsageError("give either --index or files of articles, not both")
        if args.id_field is not None:
            raise UsageError("--id-field goes to 'index build': an index shows the sources it was built with")
        index = _load_index(args.index)
        # The source of an article is the one 'index build' kept as its id
        # (file:line or the id field), else its number in the index from 1.
        for ranked in index.rank(query, args.top, include_zero=args.all):
            article = ranked.article
            where = article[2] if len(article) == 3 else f"{args.index}#{ranked.position + 1}"
            scored.append((ranked.score, where, article[0]))
    else:
        fields = Fields(args.title_field, args.content_field, args.id_field)
        sources = collect(args.paths, _empty_folder)
        with progress(_progress_mode(args), sources, "score", _warn) as meter:
            for source in sources:
                try:
                    # All of a file or none of it.
                    found = articles(source, bad.chunks(source, meter), fields, bad.line)
                    scored.extend(_scored(found, query, args))
                except BadFile as e:
                    bad.skip(e)
    # Highest score first; equal scores in input order (the sort is stable).
    scored.sort(key=lambda item: -item[0])
    rows = [(rank, score, where, title) for rank, (score, where, title) in enumerate(scored[: args.top], start=1)]
    _write(args.format, ("rank", "score", "source", "title"), rows, frozenset({0, 1}))
    return _skipped(bad, len(sources))


def _index_build(args: argparse.Namespace) -> int:
    fields = Fields(args.title_field, args.content_field, args.id_field)
    sources = collect(args.paths, _empty_folder)
    bad = BadFiles(args.errors, _warn)
    index = ArticleIndex()
    with progress(_progress_mode(args), sources, "index", _warn) as meter:
        for source in sources:
            try:
                # All of a file or none of it.
                # Each article keeps its source (as 'score' shows it) as its id.
                found = [
                    (title, content, where)
                    for where, title, content in articles(source, bad.chunks(source, meter), fields, bad.line)
                ]
            except BadFile as e:
                bad.skip(e)
                continue
            index.add(found, workers=args.jobs)
    try:
        index.save(args.out)
    except OSError as e:
        raise InputError(f"{args.out}: {e.strerror}") from None
    print(f"{len(index)} articles indexed in {args.out}")
    return _skipped(bad, len(sources))


def _explain(args: argparse.Namespace) -> int:
    stop_words = _stop_words(args)
    bad = BadFiles(args.errors, _warn)
    if args.text is not None:
        if args.paths:
            raise UsageError("give either --text or a file, not both")
        text = _utf8_argument("--text", args.text)
    else:
        sources = collect(args.paths)
        if len(sources) != 1:
            raise UsageError("explain takes one file (or --text, or standard input)")
        with progress(_progress_mode(args), sources, "explain", _warn) as meter:
            try:
                text = "".join(bad.chunks(sources[0], meter))
            except BadFile as e:
                bad.skip(e)
                text = ""
    rows = [
        (e.piece, e.word, e.word_bytes, e.removed, e.verdict.value)
        for e in explain(text, stop_words)
    ]
    _write(args.format, ("piece", "word", "bytes", "removed", "verdict"), rows, frozenset({2}))
    return _skipped(bad, 1)


def _version() -> str:
    from importlib.metadata import PackageNotFoundError, version

    from parvenkel import UNICODE_VERSION

    try:
        number = version("parvenkel")
    except PackageNotFoundError:
        number = "unknown"
    return f"{PROG} {number} (Unicode {UNICODE_VERSION})"


def _parser() -> _Parser:
    parser = _Parser(
        prog=PROG,
        description="Keywords, article ranking and word-by-word explanations, "
        "by the exact rules of parvenkel's extract_keywords and score_article.",
        suggest_on_error=True,
    )
    parser.add_argument("--version", action="version", version=_version())
    commands = parser.add_subparsers(title="commands", dest="command", required=True)

    def command(name: str, help: str, run: Callable[[argparse.Namespace], int]) -> _Parser:
        sub: _Parser = commands.add_parser(name, help=help, description=help, suggest_on_error=True)
        sub.set_defaults(run=run)
        return sub

    def output(sub: _Parser) -> None:
        sub.add_argument(
            "--format",
            choices=("table", "json", "csv"),
            default="table",
            help="output format (default: table)",
        )
        sub.add_argument(
            "--progress",
            action=argparse.BooleanOptionalAction,
            help="progress bar on standard error (needs the 'progress' extra); "
            "by default shown on a terminal once the work takes more than a second",
        )

    def stops(sub: _Parser) -> None:
        sub.add_argument(
            "--stop-words",
            metavar="FILE",
            action="append",
            default=[],
            help="stop words, one per line, used unchanged (repeatable); "
            "entries that can never match a word are named in a warning",
        )
        sub.add_argument(
            "--stop-list",
            metavar="NAME",
            action="append",
            default=[],
            choices=stoplists.names(),
            help="a built-in stop-word list (repeatable): " + ", ".join(stoplists.names()),
        )

    def errors(sub: _Parser) -> None:
        sub.add_argument(
            "--errors",
            choices=("stop", "skip", "replace"),
            default="stop",
            help="a file that is not UTF-8, cannot be read or is a damaged archive, "
            "or a line of JSON Lines that is not an article: stop (the default) ends "
            "the run; skip names it and leaves it out (exit code 1 at the end); "
            "replace reads bad bytes as U+FFFD and skips the rest as skip does",
        )

    def jobs(sub: _Parser) -> None:
        sub.add_argument(
            "--jobs",
            type=_jobs,
            default=1,
            metavar="N",
            help="worker threads (default: 1; -1: one per core)",
        )

    def fields(sub: _Parser) -> None:
        sub.add_argument(
            "--title-field", default="title", metavar="NAME", help="JSON field of the title (default: title)"
        )
        sub.add_argument(
            "--content-field", default="content", metavar="NAME", help="JSON field of the content (default: content)"
        )

    paths_help = (
        "files, or folders of files: .jsonl and .ndjson files are JSON Lines of articles, "
        "whose titles and contents are counted; any other file is text (.gz, .bz2, .xz "
        "and .zst decompressed); '-' or nothing for text on standard input"
    )

    sub = command("keywords", "the most frequent words of a text", _keywords)
    sub.add_argument("paths", nargs="*", metavar="PATH", help=paths_help)
    sub.add_argument("--top", type=_count, default=10, metavar="N", help="how many words (default: 10)")
    fields(sub)
    jobs(sub)
    errors(sub)
    stops(sub)
    output(sub)

    sub = command("score", "rank articles for a query", _score)
    sub.add_argument(
        "query",
        metavar="QUERY",
        help="the text to look for, lowercased as score_article does: an article scores "
        "1000 when its title starts with it, 500 when the title holds it elsewhere, "
        "and 100 more when the content holds it",
    )
    sub.add_argument(
        "paths",
        nargs="*",
        metavar="PATH",
        help="files, or folders of files: .jsonl and .ndjson files are JSON Lines of "
        "articles, and any other file is one article (first line the title); .gz, .bz2, "
        ".xz and .zst decompressed; '-' or nothing for JSON Lines on standard input",
    )
    sub.add_argument("--top", type=_count, default=10, metavar="N", help="how many articles (default: 10)")
    sub.add_argument("--all", action="store_true", help="list articles that score 0 too")
    fields(sub)
    sub.add_argument(
        "--id-field", metavar="NAME", help="JSON field shown as the source, in place of file:line"
    )
    sub.add_argument("--index", metavar="FILE", help="rank the articles of this index file (see 'index build')")
    jobs(sub)
    errors(sub)
    output(sub)

    sub = command("explain", "what each piece of a text becomes, and why it counts or not", _explain)
    sub.add_argument("paths", nargs="*", metavar="PATH", help="one file; '-' or nothing for standard input")
    sub.add_argument("-t", "--text", help="explain this text instead of a file")
    errors(sub)
    stops(sub)
    output(sub)

    sub = command("index", "article index files, for many queries against one corpus", _index_build)
    actions = sub.add_subparsers(title="actions", dest="action", required=True)
    build: _Parser = actions.add_parser(
        "build",
        help="build an index file from articles",
        description="build an index file from articles",
        suggest_on_error=True,
    )
    build.add_argument("out", metavar="OUT", help="the index file to write (replaced once complete)")
    build.add_argument("paths", nargs="+", metavar="PATH", help="articles, as for 'score'; '-' for standard input")
    fields(build)
    build.add_argument(
        "--id-field", metavar="NAME", help="JSON field kept as the source, in place of file:line"
    )
    jobs(build)
    errors(build)
    build.add_argument(
        "--progress",
        action=argparse.BooleanOptionalAction,
        help="progress bar on standard error (needs the 'progress' extra)",
    )
    return parser


def _utf8_stdout() -> None:
    stream = sys.stdout
    if isinstance(stream, io.TextIOWrapper) and codecs.lookup(stream.encoding).name != "utf-8":
        stream.reconfigure(encoding="utf-8")


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line with `argv` (default: the process's arguments)
    and return the exit code."""
    args = _parser().parse_args(argv)
    _utf8_stdout()
    try:
        code: int = args.run(args)
        sys.stdout.flush()
    except InputError as e:
        _say("error", str(e))
        return 1
    except UsageError as e:
        print(f"{PROG} {args.command}: error: {e} (see '{PROG} {args.command} --help')", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        # Standard output was closed early (`| head`): stop quietly, and keep
        # the interpreter from complaining when it flushes at exit.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return 141
    return code
