"""Argument types of the command line: each turns one argument's text into its value or raises
argparse.ArgumentTypeError, which argparse reports with the usage (exit status 2)."""

import argparse


def positive(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"'{text}' is not a whole number") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"{value} is not at least 1")
    return value


def integer_set(text: str, minimum: int) -> list[int]:
    """'1-4,6' -> [1, 2, 3, 4, 6]."""
    values: set[int] = set()
    for part in text.split(","):
        first, dash, last = part.strip().partition("-")
        try:
            low = int(first)
            high = int(last) if dash else low
        except ValueError:
            raise argparse.ArgumentTypeError(
                f"'{part.strip()}' is not a number or a range such as 1-4") from None
        if low > high:
            raise argparse.ArgumentTypeError(f"range '{part.strip()}' runs backwards")
        if low < minimum:
            raise argparse.ArgumentTypeError(f"{low} is below the smallest allowed value {minimum}")
        values.update(range(low, high + 1))
    return sorted(values)


def doubled_spins(text: str) -> list[int]:
    return integer_set(text, 0)


def edge_counts(text: str) -> list[int]:
    return integer_set(text, 2)


def spin_list(text: str) -> tuple[int, ...]:
    """'1,1,2' -> (1, 1, 2): one explicit list of doubled spins, at least two."""
    try:
        spins = tuple(int(part) for part in text.split(","))
    except ValueError:
        raise argparse.ArgumentTypeError(
            f"'{text}' is not a comma-separated list of 2j values") from None
    if len(spins) < 2 or min(spins) < 0:
        raise argparse.ArgumentTypeError(f"'{text}' needs at least two spins, none negative")
    return spins


def shard(text: str) -> tuple[int, int]:
    """'2/8' -> (2, 8): shard I of N, I counted from 0."""
    index, slash, count = text.partition("/")
    try:
        if not slash:
            raise ValueError
        value = int(index), int(count)
    except ValueError:
        raise argparse.ArgumentTypeError(f"'{text}' is not a shard I/N such as 0/8") from None
    if value[1] < 1:
        raise argparse.ArgumentTypeError(f"shard {text}: N is not at least 1")
    if not 0 <= value[0] < value[1]:
        raise argparse.ArgumentTypeError(
            f"shard {text}: I counts from 0, so it runs from 0 to {value[1] - 1}")
    return value
