"""Reading the command line's inputs: files (plain or compressed), folders
and standard input, as UTF-8 text, in chunks, with a progress bar for long
inputs and errors that name the file and the byte offset; articles of JSON
Lines or of text files."""

from __future__ import annotations

import bz2
import codecs
import gzip
import io
import json
import lzma
import os
import sys
import zlib
from collections.abc import Callable, Iterator, Sequence
from dataclasses import dataclass
from types import TracebackType
from typing import IO, Any

try:
    from compression import zstd
except ImportError:  # an interpreter built without zstd
    zstd = None  # type: ignore[assignment]

#: Bytes read at a time.
CHUNK_SIZE = 1 << 20

#: Characters at which text may be cut into parts that are counted apart:
#: all six are Unicode White_Space, so no word spans a cut.
ASCII_WHITE_SPACE = " \t\n\r\x0b\x0c"

STDIN_NAME = "<stdin>"

#: Compressed files by the end of their name, and the kind of compression.
COMPRESSED = {".gz": "gzip", ".bz2": "bzip2", ".xz": "xz", ".zst": "zstd"}

#: Files in a folder that hold articles as JSON Lines (compressed or not);
#: any other file in a folder is one article.
JSON_LINES = (".jsonl", ".ndjson")

#: What a decompressor raises on damaged data.
_DAMAGED = (OSError, EOFError, zlib.error, lzma.LZMAError) + ((zstd.ZstdError,) if zstd else ())


class InputError(Exception):
    """A problem with the user's input: reported on one line, exit code 1."""


class BadFile(InputError):
    """A file that cannot be read as UTF-8 text: unreadable, not UTF-8, or a
    damaged archive; or JSON Lines of which no line is an article.
    ``--errors skip`` leaves such a file out of the run."""

    def __init__(self, message: str, bad_lines: int = 0) -> None:
        super().__init__(message)
        #: Lines of the file already reported as bad one by one.
        self.bad_lines = bad_lines


class UsageError(Exception):
    """A problem with the command line itself: reported on one line, exit code 2."""


def shown_path(path: str) -> str:
    """A path as text that can always be printed (undecodable bytes of a file
    name appear as \\xNN)."""
    return os.fsencode(path).decode("utf-8", "backslashreplace")


@dataclass(frozen=True, slots=True)
class Source:
    """One input: a file, or standard input when `path` is None."""

    name: str
    path: str | None
    size: int | None
    #: True for a file found in a folder given on the command line.
    from_folder: bool = False

    @property
    def compression(self) -> str | None:
        """The kind of compression the file's name announces, if any."""
        if self.path is None:
            return None
        return COMPRESSED.get(os.path.splitext(self.name)[1].lower())

    @property
    def json_lines(self) -> bool:
        """Whether the source holds articles as JSON Lines, by the end of its
        name (before any compression ending): .jsonl and .ndjson files do,
        whether named on the command line or found in a folder; standard
        input, which has no name, is read as JSON Lines by the commands that
        take articles."""
        if self.path is None:
            return True
        name = self.name.lower()
        if self.compression is not None:
            name = os.path.splitext(name)[0]
        return name.endswith(JSON_LINES)

    def open(self) -> IO[bytes]:
        if self.path is None:
            return sys.stdin.buffer
        try:
            return open(self.path, "rb")
        except OSError as e:
            raise BadFile(f"{self.name}: {e.strerror}") from None


def _decompressed(kind: str, raw: IO[bytes], name: str) -> io.BufferedIOBase:
    """A reader of the decompressed bytes of `raw`, which it reads as needed."""
    if kind == "gzip":
        return gzip.GzipFile(fileobj=raw, mode="rb")
    if kind == "bzip2":
        return bz2.BZ2File(raw)
    if kind == "xz":
        return lzma.LZMAFile(raw)
    if zstd is None:
        raise BadFile(f"{name}: cannot read zstd: this Python has no compression.zstd")
    return zstd.ZstdFile(raw)


def _stdin() -> Source:
    return Source(STDIN_NAME, None, None)


def _walk(folder: str) -> list[Source]:
    """The files under a folder, recursively, in sorted order; names starting
    with "." (hidden files and folders) are left out."""

    def fail(error: OSError) -> None:
        raise InputError(f"{shown_path(error.filename or folder)}: {error.strerror}")

    found = []
    for top, dirs, files in os.walk(folder, onerror=fail):
        dirs[:] = sorted(d for d in dirs if not d.startswith("."))
        for name in sorted(files):
            path = os.path.join(top, name)
            if name.startswith(".") or not os.path.isfile(path):
                continue
            found.append(Source(shown_path(path), path, os.path.getsize(path), True))
    return found


def collect(
    paths: Sequence[str], on_empty_folder: Callable[[str], None] | None = None
) -> list[Source]:
    """The inputs named on the command line: each path is a file or a folder
    (all the files under it); "-", or no path at all, is standard input.
    Every path is checked before anything is read."""
    if not paths:
        return [_stdin()]
    sources: list[Source] = []
    for path in paths:
        if path == "-":
            sources.append(_stdin())
            continue
        name = shown_path(path)
        try:
            st = os.stat(path)
        except OSError as e:
            raise InputError(f"{name}: {e.strerror}") from None
        if os.path.isdir(path):
            found = _walk(path)
            if not found and on_empty_folder is not None:
                on_empty_folder(name)
            sources.extend(found)
        else:
            sources.append(Source(name, path, st.st_size))
    return sources


class Progress:
    """A progress bar on standard error, in bytes, when tqdm is installed and
    the user wants one; otherwise it does nothing."""

    def __init__(self, bar: Any = None) -> None:
        self._bar = bar

    def advance(self, nbytes: int) -> None:
        if self._bar is not None:
            self._bar.update(nbytes)

    def __enter__(self) -> Progress:
        return self

    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc: BaseException | None,
        tb: TracebackType | None,
    ) -> None:
        if self._bar is not None:
            self._bar.close()


def progress(
    mode: str, sources: Sequence[Source], label: str, warn: Callable[[str], None]
) -> Progress:
    """A progress bar over the bytes of `sources`.

    `mode` "auto" shows one only on a terminal and only once the work has
    taken a second (so short inputs never show one); "always" shows it at once
    wherever standard error goes; "never" shows none. Without tqdm (the
    "progress" extra) there is no bar, and "always" says so through `warn`.
    """
    if mode == "never" or (mode == "auto" and not sys.stderr.isatty()):
        return Progress()
    try:
        from tqdm import tqdm
    except ImportError:
        if mode == "always":
            warn("no progress bar: it needs tqdm (pip install 'parvenkel[progress]')")
        return Progress()
    sizes = [s.size for s in sources]
    total = None if None in sizes else sum(s for s in sizes if s is not None)
    bar = tqdm(
        total=total,
        desc=label,
        unit="B",
        unit_scale=True,
        unit_divisor=1024,
        file=sys.stderr,
        leave=False,
        delay=1.0 if mode == "auto" else 0.0,
        dynamic_ncols=True,
    )
    return Progress(bar)


def _position(raw: IO[bytes], otherwise: int) -> int:
    try:
        return raw.tell()
    except OSError:  # a pipe
        return otherwise


def decoded_chunks(
    source: Source,
    meter: Progress | None = None,
    errors: str = "strict",
    warn: Callable[[str], None] | None = None,
) -> Iterator[str]:
    """The text of a source as UTF-8, chunk by chunk (a chunk may be empty);
    a compressed file is decompressed on the way, in chunks of the same size.

    With `errors` "strict", bytes that are not UTF-8 raise BadFile naming the
    source and the byte offset of the first bad byte (in the decompressed
    text, for a compressed file). With "replace" they are read as U+FFFD, and
    the first of them in the source is named through `warn`. A file that
    cannot be read, or a damaged archive, raises BadFile either way."""
    chunk_size = CHUNK_SIZE
    decoder = codecs.getincrementaldecoder("utf-8")("strict")
    kind = source.compression
    unit = "" if kind is None else " of the decompressed text"
    offset = 0  # bytes handed to the decoder so far
    raw = source.open()
    stream: IO[bytes] | io.BufferedIOBase = raw
    read = 0  # bytes of the file itself read so far, for the meter
    try:
        if kind is not None:
            stream = _decompressed(kind, raw, source.name)
        while True:
            try:
                data = stream.read(chunk_size)
            except _DAMAGED as e:
                if kind is None and isinstance(e, OSError):
                    raise BadFile(f"{source.name}: {e.strerror}") from None
                raise BadFile(
                    f"{source.name}: damaged {kind} data after byte offset {offset}{unit} ({e})"
                ) from None
            pending = len(decoder.getstate()[0])
            try:
                text = decoder.decode(data, final=not data)
            except UnicodeDecodeError as e:
                # The decoder works on its pending bytes followed by `data`.
                at = offset - pending + e.start
                bad = e.object[e.start : e.end].hex(" ")
                message = f"{source.name}: not valid UTF-8 at byte offset {at}{unit} ({e.reason}: {bad})"
                if errors != "replace":
                    raise BadFile(message) from None
                if warn is not None:
                    warn(f"{message}; bad bytes read as U+FFFD")
                # A failed call leaves the decoder's state as it was.
                decoder.errors = "replace"
                text = decoder.decode(data, final=not data)
            offset += len(data)
            if meter is not None:
                # The bar counts the bytes of the file, compressed or not.
                done = offset if kind is None else _position(raw, read)
                meter.advance(done - read)
                read = done
            yield text
            if not data:
                return
    finally:
        if source.path is not None:
            stream.close()
            raw.close()


def read_text(
    source: Source,
    meter: Progress | None = None,
    errors: str = "strict",
    warn: Callable[[str], None] | None = None,
) -> str:
    """The whole text of a source (see decoded_chunks)."""
    return "".join(decoded_chunks(source, meter, errors, warn))


def word_runs(chunks: Iterator[str]) -> Iterator[str]:
    """The text of `chunks` again, in parts cut only just after ASCII white
    space, so that every word lies whole within one part."""
    pending: list[str] = []  # text since the last cut, which holds no cut
    for chunk in chunks:
        cut = max(chunk.rfind(c) for c in ASCII_WHITE_SPACE)
        if cut < 0:
            pending.append(chunk)
            continue
        pending.append(chunk[: cut + 1])
        yield "".join(pending)
        pending = [chunk[cut + 1 :]]
    tail = "".join(pending)
    if tail:
        yield tail


def lines(chunks: Iterator[str]) -> Iterator[tuple[int, str]]:
    """The lines of `chunks` (cut at line feeds only, a carriage return at the
    end of a line dropped), each with its number from 1."""
    number = 0
    pending: list[str] = []  # the start of a line whose end has not come yet
    for chunk in chunks:
        if "\n" not in chunk:
            pending.append(chunk)
            continue
        parts = chunk.split("\n")
        parts[0] = "".join(pending) + parts[0]
        pending = [parts.pop()]
        for part in parts:
            number += 1
            yield number, part.removesuffix("\r")
    tail = "".join(pending)
    if tail:
        yield number + 1, tail.removesuffix("\r")


@dataclass(frozen=True, slots=True)
class Fields:
    """The names of an article's fields in JSON Lines."""

    title: str = "title"
    content: str = "content"
    #: The field printed in place of file:line, if any.
    id: str | None = None


def _field(article: object, key: str, where: str, fields: Fields) -> str:
    if not isinstance(article, dict):
        raise InputError(f'{where}: expected a JSON object with "{fields.title}" and "{fields.content}"')
    if key not in article:
        raise InputError(f'{where}: no "{key}" field')
    value = article[key]
    if not isinstance(value, str):
        raise InputError(f'{where}: "{key}" is not a string')
    try:
        value.encode("utf-8")
    except UnicodeEncodeError as e:
        raise InputError(
            f'{where}: "{key}" holds a lone surrogate (U+{ord(value[e.start]):04X}), '
            "which has no UTF-8 form"
        ) from None
    return value


#: A byte-order mark, which some editors put at the start of UTF-8 text.
BOM = "\ufeff"


def articles(
    source: Source,
    chunks: Iterator[str],
    fields: Fields,
    bad_line: Callable[[InputError], None] | None = None,
) -> Iterator[tuple[str, str, str]]:
    """(where, title, content) of each article in `chunks`, the text of
    `source`: JSON Lines (see Source.json_lines) give one article per line
    that is not blank, `where` being the id field or file:line; any other
    file is one article, its first line the title and the rest the content,
    `where` being its name. A byte-order mark at the start is dropped.

    A line that is not an article raises InputError, or, when `bad_line` is
    given, is handed to it and left out; JSON Lines whose every line is bad
    then raise BadFile."""
    if not source.json_lines:
        title, _, content = "".join(chunks).removeprefix(BOM).partition("\n")
        yield source.name, title.removesuffix("\r"), content
        return
    good = bad = 0
    for number, line in lines(chunks):
        if number == 1:
            line = line.removeprefix(BOM)
        if not line.strip():
            continue
        try:
            article = _article(line, f"{source.name}:{number}", fields)
        except InputError as e:
            if bad_line is None:
                raise
            bad += 1
            bad_line(e)
            continue
        good += 1
        yield article
    if bad and not good:
        lines_word = "line" if bad == 1 else f"all {bad} lines"
        raise BadFile(f"{source.name}: no article in the file ({lines_word} bad)", bad)


def _article(line: str, where: str, fields: Fields) -> tuple[str, str, str]:
    try:
        article = json.loads(line)
    except json.JSONDecodeError as e:
        raise InputError(f"{where}: not valid JSON: {e.msg} (column {e.colno})") from None
    title = _field(article, fields.title, where, fields)
    content = _field(article, fields.content, where, fields)
    if fields.id is not None:
        where = _field(article, fields.id, where, fields)
    return where, title, content


class BadFiles:
    """What a run does with a file that cannot be read as UTF-8 text, or a
    line of JSON Lines that is not an article, as ``--errors`` asks: "stop"
    ends the run with the error; "skip" names the file or line in a warning
    and leaves it out; "replace" reads bad bytes as U+FFFD, saying so once
    per file, and skips what cannot be read at all (an unreadable file, a
    damaged archive, a bad line) as "skip" does."""

    def __init__(self, mode: str, warn: Callable[[str], None]) -> None:
        self.mode = mode
        self.skipped = 0
        self.lines_skipped = 0
        self._warn = warn

    def chunks(self, source: Source, meter: Progress | None = None) -> Iterator[str]:
        errors = "replace" if self.mode == "replace" else "strict"
        return decoded_chunks(source, meter, errors, self._warn)

    @property
    def line(self) -> Callable[[InputError], None] | None:
        """What `articles` does with a bad line: None (raise) unless skipping."""
        return None if self.mode == "stop" else self._skip_line

    def _skip_line(self, error: InputError) -> None:
        self._warn(f"{error}; skipped")
        self.lines_skipped += 1

    def skip(self, error: BadFile) -> None:
        """Leave the file of `error` out, or raise `error` when stopping."""
        if self.mode == "stop":
            raise error
        self._warn(f"{error}; skipped")
        self.skipped += 1
        # Its bad lines count as the file, not on their own.
        self.lines_skipped -= error.bad_lines
