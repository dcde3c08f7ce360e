"""Error messages for people: one paragraph that walks the chain of causes."""

from __future__ import annotations

import textwrap


class UserError(Exception):
    """A failure the user can fix (a missing file, a bad setting, a wrong file type).

    Its message says what was being done; the exception it is raised from says why.
    """


def cause_chain(exc: BaseException) -> list[BaseException]:
    """``exc`` followed by its causes: ``__cause__``, else an unsuppressed ``__context__``."""
    chain: list[BaseException] = []
    seen = set()
    current: BaseException | None = exc
    while current is not None and id(current) not in seen:
        chain.append(current)
        seen.add(id(current))
        if current.__cause__ is not None:
            current = current.__cause__
        elif not current.__suppress_context__:
            current = current.__context__
        else:
            current = None
    return chain


def describe(exc: BaseException) -> str:
    """The text of one exception, without the noise of its Python representation."""
    if isinstance(exc, OSError) and exc.strerror:
        text = exc.strerror
        if exc.filename is not None:
            text += f": {exc.filename}"
        return text
    if isinstance(exc, KeyError) and len(exc.args) == 1:
        return f"missing key {exc.args[0]!r}"
    text = str(exc).strip()
    if not text:
        return type(exc).__name__
    if isinstance(exc, (UserError, ValueError, RuntimeError, IndexError, LookupError)):
        return text
    return f"{type(exc).__name__}: {text}"


def format_error(exc: BaseException, prog: str = "orvane", width: int = 100) -> str:
    """One paragraph: ``prog: error: what failed: why: why that ...``.

    An exception with a ``paragraphs(width)`` method adds the paragraphs it returns, one a line.
    """
    parts: list[str] = []
    for link in cause_chain(exc):
        text = describe(link)
        if text.endswith(".") and not text.endswith(".."):
            text = text[:-1]
        if not parts or text != parts[-1]:
            parts.append(text)
    message = f"{prog}: error: " + ": ".join(parts)
    text = textwrap.fill(message, width=width, break_long_words=False, break_on_hyphens=False)
    # An error made of several problems (a settings file's) adds one paragraph per problem.
    paragraphs = getattr(exc, "paragraphs", None)
    if callable(paragraphs):
        text += ":\n" + "\n".join(paragraphs(width))
    return shown(text)


def shown(text: str) -> str:
    """``text`` printable on any terminal: bytes of file names that are not UTF-8 (which Python
    holds as surrogate escapes) shown as ``\\xNN``."""
    return text.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")
