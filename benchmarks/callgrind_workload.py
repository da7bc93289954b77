"""Fixed workloads for benchmarks/callgrind.sh.

    python callgrind_workload.py {extract_keywords|score_article} CALLS

Builds a deterministic input (the same bytes on every machine and every
version of parvenkel: no corpus, no random module), then makes CALLS calls,
each on new string objects. callgrind.sh runs it with CALLS = N and with
CALLS = 0 and subtracts, which leaves the instructions of the N calls alone
(the copies of the strings are made in both runs, so they cancel out).
"""

from __future__ import annotations

import sys

WORDS = {
    "latin": "The Installation Guide covers booting, partitioning, networking and "
             "package management; Debian's installer asks few questions. Naïve café "
             "users résumé x-ray covid-19 2024 e-mail".split(),
    "cyrillic": "Программа установки Debian поддерживает большинство сетевых карт и "
                "дисков; ОБНОВЛЕНИЕ системы выполняется командой".split(),
    "greek": "Ο ΟΔΗΓΟΣ ΕΓΚΑΤΑΣΤΑΣΗΣ του Debian περιγράφει τις διαδικασίες "
             "εκκίνησης, ΔΙΑΜΕΡΙΣΗΣ και ρύθμισης δικτύου· ΟΔΟΣ ΣΟΦΙΑΣ".split(),
    "cjk": "安装程序 支持 大多数 网络 硬件。 インストーラ は ほとんど の ハードウェア を サポート します".split(),
}


class Lcg:
    """A tiny linear congruential generator: the same sequence everywhere."""

    def __init__(self, seed: int) -> None:
        self.state = seed

    def below(self, n: int) -> int:
        self.state = (self.state * 6364136223846793005 + 1442695040888963407) % 2**64
        return (self.state >> 33) % n


def text(nbytes: int, seed: int) -> str:
    rng = Lcg(seed)
    groups = list(WORDS.values())
    out, size = [], 0
    while size < nbytes:
        group = groups[rng.below(len(groups))]
        for _ in range(1 + rng.below(12)):
            w = group[rng.below(len(group))]
            out.append(w)
            size += len(w.encode("utf-8")) + 1
        out.append("\n" if rng.below(4) == 0 else " ")
    return " ".join(out)


def fresh(s: str) -> str:
    return s.encode("utf-8").decode("utf-8")


def main() -> None:
    function, calls = sys.argv[1], int(sys.argv[2])
    import parvenkel

    if function == "extract_keywords":
        body = text(200_000, 1)
        stop = ["the", "and", "для", "και", "του"]
        for _ in range(5):
            t = fresh(body)
            if calls:
                parvenkel.extract_keywords(t, stop, 20)
                calls -= 1
    elif function == "score_article":
        articles = []
        for i in range(100):
            title = text(60, 1000 + i)
            content = text(2000, 2000 + i)
            words = content.split()
            query = words[(i * 7) % len(words)] if i % 2 else "zqxj" + words[0]
            articles.append((title, content, query))
        for rep in range(10):
            for title, content, query in articles:
                args = (fresh(title), fresh(content), fresh(query))
                if calls:
                    parvenkel.score_article(*args)
                    calls -= 1
    else:
        raise SystemExit(f"unknown function {function}")


if __name__ == "__main__":
    main()
