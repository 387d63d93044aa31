"""An inventory of books, read from a CSV file and summarised."""
from __future__ import annotations

import csv
import sys
from collections import Counter, defaultdict
from dataclasses import dataclass, field
from pathlib import Path
from typing import Iterable, Iterator

SHELF_LIMIT = 120
GENRES = {"fiction", "history", "science", "poetry"}


@dataclass(order=True)
class Book:
    title: str
    author: str
    year: int = 0
    genres: set[str] = field(default_factory=set)

    @property
    def decade(self) -> int:
        return self.year // 10 * 10

    def matches(self, word: str) -> bool:
        word = word.lower()
        return word in self.title.lower() or word in self.author.lower()


class Inventory:
    def __init__(self, books: Iterable[Book] = ()):
        self._books: list[Book] = sorted(books)
        self._by_author: dict[str, list[Book]] = defaultdict(list)
        for book in self._books:
            self._by_author[book.author].append(book)

    def __len__(self) -> int:
        return len(self._books)

    def __iter__(self) -> Iterator[Book]:
        yield from self._books

    def search(self, word: str) -> list[Book]:
        return [b for b in self._books if b.matches(word)]

    def decades(self) -> Counter:
        return Counter(b.decade for b in self._books if b.year > 0)

    async def refresh(self, source) -> None:
        async with source.session() as session:
            rows = await session.fetch_all()
            self._books = sorted(parse_row(r) for r in rows if r)


def parse_row(row: dict[str, str]) -> Book:
    try:
        year = int(row.get("year", "0") or 0)
    except ValueError:
        year = 0
    genres = {g.strip() for g in row.get("genres", "").split(";") if g.strip() in GENRES}
    return Book(row["title"].strip(), row["author"].strip(), year, genres)


def load(path: Path) -> Inventory:
    with path.open(newline="", encoding="utf-8") as f:
        return Inventory(parse_row(r) for r in csv.DictReader(f))


def main(argv: list[str]) -> int:
    if len(argv) < 2:
        print(f"usage: {argv[0]} FILE [WORD]", file=sys.stderr)
        return 2
    inventory = load(Path(argv[1]))
    if len(inventory) > SHELF_LIMIT:
        print(f"warning: {len(inventory)} books, more than {SHELF_LIMIT} fit", file=sys.stderr)
    books = inventory.search(argv[2]) if len(argv) > 2 else list(inventory)
    for decade, count in sorted(inventory.decades().items()):
        print(f"{decade}s: {'#' * count} ({count})")
    width = max((len(b.title) for b in books), default=0)
    for book in books:
        tags = ", ".join(sorted(book.genres)) or "-"
        print(f"{book.title:<{width}}  {book.author} ({book.year or '?'}) [{tags}]")
    lookup = lambda name: inventory._by_author.get(name, [])
    assert all(lookup(b.author) for b in books), "every author is indexed"
    return 0 if books else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
