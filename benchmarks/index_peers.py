"""The peers of ArticleIndex in index_bench.py: SQLite FTS5, tantivy, PostgreSQL.

Each peer builds its own index of the same (title, content) articles on
one core and answers a query with every row that holds it (or, for
tantivy, every candidate). ``answer(q)`` gives a function of no arguments
to time, or ``None`` when the peer cannot answer ``q`` at all; ``how(q)``
says how it answers (``"index"``, ``"scan"``); ``size()`` gives its size
in bytes and a note of its parts.
"""

from __future__ import annotations

import os
import pathlib
import shutil
import sqlite3
import subprocess
import tempfile
import time
from typing import Callable


def folder_bytes(folder: str | pathlib.Path) -> int:
    return sum(p.stat().st_size for p in pathlib.Path(folder).rglob("*") if p.is_file())


def mb(n: float) -> str:
    return f"{n / 1e6:.1f} MB"


class Sqlite:
    """FTS5 with the trigram tokenizer, folding case, in memory. Queries of
    fewer than 3 characters cannot use its index: they are answered with
    LIKE, a scan of every row (whose case folding is ASCII only)."""

    name = "FTS5 trigram"

    def __init__(self) -> None:
        self.db = sqlite3.connect(":memory:")

    def build(self, articles: list[tuple[str, str]]) -> float:
        start = time.perf_counter()
        self.db.execute(
            "CREATE VIRTUAL TABLE t USING fts5(title, body, tokenize='trigram case_sensitive 0')"
        )
        # A generator, not the list: Python code runs between rows, so that
        # an interrupt stops the build (and the run's clean-up runs).
        self.db.executemany("INSERT INTO t(title, body) VALUES (?, ?)", (a for a in articles))
        self.db.execute("INSERT INTO t(t) VALUES ('optimize')")
        self.db.commit()
        return time.perf_counter() - start

    def size(self) -> tuple[int, str]:
        rows = self.db.execute("SELECT name, sum(pgsize) FROM dbstat GROUP BY name").fetchall()
        parts = dict(rows)
        total = sum(parts.values())
        content = parts.get("t_content", 0)
        postings = parts.get("t_data", 0) + parts.get("t_idx", 0)
        note = f"stored text {mb(content)}, index {mb(postings)}, other {mb(total - content - postings)}"
        return total, note

    def how(self, query: str) -> str:
        return "index" if len(query) >= 3 else "scan"

    def answer(self, query: str) -> Callable[[], object] | None:
        db = self.db
        if len(query) >= 3:
            phrase = ('"' + query.replace('"', '""') + '"',)
            return lambda: db.execute("SELECT rowid FROM t WHERE t MATCH ?", phrase).fetchall()
        like = "%" + query.replace("\\", "\\\\").replace("%", "\\%").replace("_", "\\_") + "%"
        sql = "SELECT rowid FROM t WHERE title LIKE ?1 ESCAPE '\\' OR body LIKE ?1 ESCAPE '\\'"
        return lambda: db.execute(sql, (like,)).fetchall()

    def close(self) -> None:
        self.db.close()


class Tantivy:
    """Character trigrams (tantivy's ngram tokenizer over the whole field,
    lowercased), document numbers only: a query is every trigram of the
    query in the title, or every one in the body. Without positions it
    finds candidates (a superset of the matches), top 10 by its score plus
    their count; it cannot answer a query of fewer than 3 characters."""

    name = "tantivy"

    def __init__(self) -> None:
        import tantivy

        self.tv = tantivy
        self.folder = tempfile.mkdtemp(prefix="tantivy-")
        builder = tantivy.SchemaBuilder()
        for field in ("title", "body"):
            builder.add_text_field(field, stored=False, tokenizer_name="tri", index_option="basic")
        self.schema = builder.build()
        self.analyzer = (
            tantivy.TextAnalyzerBuilder(tantivy.Tokenizer.ngram(3, 3, False))
            .filter(tantivy.Filter.lowercase())
            .build()
        )
        self.index = tantivy.Index(self.schema, path=self.folder)
        self.index.register_tokenizer("tri", self.analyzer)
        self.searcher = None

    def build(self, articles: list[tuple[str, str]]) -> float:
        tv = self.tv
        start = time.perf_counter()
        writer = self.index.writer(heap_size=1_000_000_000, num_threads=1)
        for title, body in articles:
            writer.add_document(tv.Document(title=title, body=body))
        writer.commit()
        writer.wait_merging_threads()
        self.index.reload()
        self.searcher = self.index.searcher()
        return time.perf_counter() - start

    def size(self) -> tuple[int, str]:
        assert self.searcher is not None
        return folder_bytes(self.folder), f"no text; {self.searcher.num_segments} segment(s)"

    def how(self, query: str) -> str:
        return "index" if self.analyzer.analyze(query) else "cannot"

    def answer(self, query: str) -> Callable[[], object] | None:
        tv, schema, searcher = self.tv, self.schema, self.searcher
        assert searcher is not None
        grams = sorted(set(self.analyzer.analyze(query)))
        if not grams:
            return None

        def run() -> int:
            fields = [
                tv.Query.boolean_query(
                    [(tv.Occur.Must, tv.Query.term_query(schema, f, g, index_option="basic")) for g in grams]
                )
                for f in ("title", "body")
            ]
            query_ = tv.Query.boolean_query([(tv.Occur.Should, q) for q in fields])
            return searcher.search(query_, limit=10, count=True).count

        return run

    def close(self) -> None:
        self.searcher = None
        del self.index
        shutil.rmtree(self.folder, ignore_errors=True)


def postgres_bin() -> pathlib.Path | None:
    """The folder of initdb and pg_ctl of Debian's newest PostgreSQL."""
    found = sorted(pathlib.Path("/usr/lib/postgresql").glob("*/bin/pg_ctl"), key=lambda p: int(p.parts[-3]))
    if found:
        return found[-1].parent
    which = shutil.which("pg_ctl")
    return pathlib.Path(which).resolve().parent if which else None


class Postgres:
    """PostgreSQL with pg_trgm: a temporary cluster owned by the user
    postgres, unix socket only, no parallel workers; a GIN index
    (gin_trgm_ops) on title and body, queries ``ILIKE '%q%'``. pg_trgm
    takes trigrams of characters, so queries of fewer than 3 characters
    read the whole index (a scan)."""

    name = "PostgreSQL pg_trgm"

    def __init__(self, cpu: int | None) -> None:
        import psycopg

        bin_folder = postgres_bin()
        if bin_folder is None:
            raise RuntimeError("PostgreSQL is not installed (Debian: apt-get install postgresql)")
        self.bin = bin_folder
        self.folder = tempfile.mkdtemp(prefix="pgtrgm-")
        os.chmod(self.folder, 0o777)
        self.data = os.path.join(self.folder, "data")
        self.started = False
        as_postgres = ["runuser", "-u", "postgres", "--"] if os.geteuid() == 0 else []
        self.as_postgres = as_postgres
        try:
            subprocess.run(
                [*as_postgres, str(self.bin / "initdb"), "-D", self.data, "-U", "postgres", "-E", "UTF8",
                 "--locale=C.UTF-8", "--auth=trust"],
                check=True, capture_output=True,
            )
            options = (
                f"-c listen_addresses='' -c unix_socket_directories='{self.folder}' -c fsync=off "
                "-c synchronous_commit=off -c full_page_writes=off -c shared_buffers=2GB "
                "-c maintenance_work_mem=2GB -c work_mem=256MB -c max_parallel_workers_per_gather=0 "
                "-c max_parallel_maintenance_workers=0 -c max_parallel_workers=0 -c jit=off"
            )
            pin = ["taskset", "-c", str(cpu)] if cpu is not None and shutil.which("taskset") else []
            subprocess.run(
                [*as_postgres, *pin, str(self.bin / "pg_ctl"), "-D", self.data, "-l",
                 os.path.join(self.folder, "log"), "-o", options, "-w", "start"],
                check=True, capture_output=True,
            )
            self.started = True
            self.conn = psycopg.connect(host=self.folder, user="postgres", dbname="postgres", autocommit=True)
            self.conn.execute("CREATE EXTENSION pg_trgm")
        except BaseException:
            self.close()  # the server, if it started, and the folder
            raise

    def build(self, articles: list[tuple[str, str]]) -> float:
        start = time.perf_counter()
        self.conn.execute("CREATE TABLE t (id integer PRIMARY KEY, title text, body text)")
        with self.conn.cursor().copy("COPY t (id, title, body) FROM STDIN") as copy:
            for k, (title, body) in enumerate(articles):
                copy.write_row((k, title, body))
        self.conn.execute("CREATE INDEX t_trgm ON t USING gin (title gin_trgm_ops, body gin_trgm_ops)")
        self.conn.execute("VACUUM ANALYZE t")
        seconds = time.perf_counter() - start
        # The build's pages written out now, untimed: the checkpointer
        # would otherwise write them over the next minutes, on the CPU the
        # timed queries of every system share.
        self.conn.execute("CHECKPOINT")
        return seconds

    def size(self) -> tuple[int, str]:
        table, index = self.conn.execute(
            "SELECT pg_table_size('t'), pg_relation_size('t_trgm')"
        ).fetchone()
        return table + index, f"table {mb(table)}, GIN index {mb(index)}"

    def how(self, query: str) -> str:
        return "index" if len(query) >= 3 else "scan"

    def answer(self, query: str) -> Callable[[], object] | None:
        like = "%" + query.replace("\\", "\\\\").replace("%", "\\%").replace("_", "\\_") + "%"
        cursor = self.conn.cursor()
        sql = "SELECT id FROM t WHERE title ILIKE %(q)s OR body ILIKE %(q)s"
        return lambda: cursor.execute(sql, {"q": like}, prepare=True).fetchall()

    def close(self) -> None:
        # A server may be up with started still False: interrupted in pg_ctl start.
        if self.started or os.path.exists(os.path.join(self.data, "postmaster.pid")):
            try:
                if hasattr(self, "conn"):
                    self.conn.close()
            finally:
                subprocess.run(
                    [*self.as_postgres, str(self.bin / "pg_ctl"), "-D", self.data, "-m", "fast", "-w", "stop"],
                    capture_output=True,
                )
                self.started = False
        shutil.rmtree(self.folder, ignore_errors=True)
