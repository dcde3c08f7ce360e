"""Shared pieces of the figures and web pages the package writes.

- :func:`pyplot` imports matplotlib with the non-interactive Agg backend (or says how to
  install it);
- :func:`new_figure` makes a figure drawn by Agg without pyplot;
- :func:`small_multiples` lays out ``n`` panels on a grid (one per channel, say) and hides the
  panels the grid has left over;
- :func:`save_png` writes a figure at a fixed resolution, atomically (and closes a pyplot one);
- :class:`Page` builds a self-contained HTML page: every text is escaped, the style sheet and
  the optional script are inline, nothing is fetched from anywhere (images are relative
  links to files beside the page), so the page opens from the file system with no network.
"""

from __future__ import annotations

import html
import os
import warnings
from collections.abc import Iterable, Sequence
from pathlib import Path
from typing import Any

from .._atomic import atomic_output

#: Resolution of every PNG (dots per inch).
DPI = 100
#: Default size of one panel of a small-multiples grid, in inches (width, height).
PANEL_SIZE = (3.2, 2.4)


def _matplotlib() -> Any:
    try:
        import matplotlib
    except ImportError as exc:
        raise ImportError("plots need matplotlib (pip install 'orvane[plot]')") from exc
    return matplotlib


def pyplot() -> Any:
    """``matplotlib.pyplot`` with the Agg backend (no display needed).

    Raises
    ------
    ImportError
        matplotlib is not installed; the message names the extra that installs it.
    """
    _matplotlib().use("Agg")
    import matplotlib.pyplot as plt

    return plt


def new_figure(size: tuple[float, float], *, dpi: int = DPI) -> Any:
    """A figure of ``size`` inches drawn by Agg, outside pyplot's registry of open figures.

    Only the caller's references keep it, so it needs no closing, and a figure kept to draw
    several images raises no warning about too many open figures.
    """
    _matplotlib()
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    figure = Figure(figsize=size, dpi=dpi)
    FigureCanvasAgg(figure)
    return figure


def small_multiples(
    n: int,
    ncols: int = 4,
    panel_size: tuple[float, float] = PANEL_SIZE,
    *,
    sharex: bool = False,
    sharey: bool = False,
    titles: Sequence[str] | None = None,
) -> tuple[Any, list[Any]]:
    """A figure of ``n`` panels, ``ncols`` a row (fewer when ``n`` is smaller).

    Returns the figure and a flat list of the ``n`` axes in reading order; the grid's panels
    beyond ``n`` are hidden.  ``titles`` (one per panel) become the panels' titles.
    """
    if n < 1:
        raise ValueError(f"a grid needs at least one panel, got {n}")
    if ncols < 1:
        raise ValueError(f"a grid needs at least one column, got {ncols}")
    if titles is not None and len(titles) != n:
        raise ValueError(f"{len(titles)} titles for {n} panels")
    cols = min(ncols, n)
    rows = -(-n // cols)
    figure = new_figure((panel_size[0] * cols, panel_size[1] * rows))
    grid = figure.subplots(rows, cols, sharex=sharex, sharey=sharey, squeeze=False)
    # Fixed margins (in inches, whatever the grid's size): a tight layout of a large grid takes
    # longer than drawing it.
    width, height = panel_size[0] * cols, panel_size[1] * rows
    figure.subplots_adjust(
        left=min(0.8 / width, 0.3),  # the tick labels, and the figure's y label left of them
        right=1 - min(0.15 / width, 0.1),
        bottom=min(0.55 / height, 0.3),
        top=1 - min(0.35 / height, 0.2),
        wspace=0.45,
        hspace=0.6,
    )
    figure.orvane_fixed_layout = True
    axes = list(grid.ravel())
    for spare in axes[n:]:
        spare.set_visible(False)
    axes = axes[:n]
    if titles is not None:
        for ax, title in zip(axes, titles):
            ax.set_title(title, fontsize="medium")
    return figure, axes


def save_png(figure: Any, path: str | os.PathLike, *, dpi: int = DPI) -> Path:
    """Write ``figure`` to ``path`` as a PNG (at ``dpi``), atomically.

    A figure from :func:`small_multiples` keeps its fixed margins; any other gets a tight
    layout.  A pyplot figure is then closed, even when writing fails, so a long run of plots
    keeps no memory; one from :func:`new_figure` goes with its last reference (and can be
    drawn again).
    """
    path = Path(path)
    try:
        # Layouts too tight to solve only warn; the figure is drawn anyway.
        if not getattr(figure, "orvane_fixed_layout", False):
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", UserWarning)
                figure.tight_layout()
        with atomic_output(path) as tmp, open(tmp, "wb") as stream:
            figure.savefig(stream, format="png", dpi=dpi)
    finally:
        if figure.canvas.manager is not None:  # pyplot's own figures
            pyplot().close(figure)
    return path


def escape(value: object) -> str:
    """``value`` as text safe inside HTML elements and quoted attributes."""
    return html.escape(str(value), quote=True)


_STYLE = """
body { font-family: sans-serif; margin: 0 auto; max-width: 1500px; padding: 0 1.5em 3em;
       color: #1b1b1b; background: #fff; line-height: 1.4; }
h1 { font-size: 1.6em; margin-top: 1em; }
h2 { font-size: 1.3em; margin-top: 1.8em; border-bottom: 1px solid #ccc; }
h3 { font-size: 1.1em; margin-top: 1.2em; }
nav { font-size: 0.95em; margin: 0.5em 0 1em; display: flex; flex-wrap: wrap; gap: 0.2em 1em; }

table { border-collapse: collapse; margin: 0.5em 0 1em; font-size: 0.9em; }
th, td { border: 1px solid #ccc; padding: 0.2em 0.5em; text-align: right; vertical-align: top; }
th { background: #f0f0f0; }
td.text, th.text { text-align: left; }
table.sortable th { cursor: pointer; }
table.sortable th:hover { background: #e0e8f0; }
tr.warned td { background: #fff4e0; }
.warning { border-left: 5px solid #d9822b; background: #fff4e0; padding: 0.4em 0.8em;
           margin: 0.5em 0; }
.warning .kind { font-weight: bold; font-family: monospace; }
.ok { border-left: 5px solid #3c9a3c; background: #eaf6ea; padding: 0.4em 0.8em; }
.note { color: #555; font-size: 0.9em; }
figure { margin: 0.5em 0 1.5em; }
figure img { max-width: 100%; height: auto; border: 1px solid #ddd; }
figcaption { color: #555; font-size: 0.9em; }
pre { background: #f6f6f6; padding: 0.5em; overflow-x: auto; font-size: 0.85em; }
code { font-size: 0.95em; }
dl.facts { display: grid; grid-template-columns: max-content auto; gap: 0.15em 1em; }
dl.facts dt { font-weight: bold; }
dl.facts dd { margin: 0; }
"""

# Sorting a table by a header click; the page reads the same without it.
_SORT_SCRIPT = """
document.querySelectorAll("table.sortable").forEach(function (table) {
  table.querySelectorAll("th").forEach(function (th, column) {
    th.title = "sort by this column";
    th.addEventListener("click", function () {
      var body = table.tBodies[0];
      var rows = Array.prototype.slice.call(body.rows);
      var down = th.getAttribute("data-order") !== "up";
      th.setAttribute("data-order", down ? "up" : "down");
      function key(row) {
        var cell = row.cells[column];
        var text = cell.getAttribute("data-value") || cell.textContent;
        var number = parseFloat(text);
        return isNaN(number) ? text : number;
      }
      rows.sort(function (a, b) {
        var x = key(a), y = key(b);
        if (typeof x !== typeof y) { x = String(x); y = String(y); }
        var order = x < y ? -1 : (x > y ? 1 : 0);
        return down ? order : -order;
      });
      rows.forEach(function (row) { body.appendChild(row); });
    });
  });
});
"""


class Page:
    """A self-contained HTML page, built element by element.

    Every text argument is escaped; :meth:`raw` is the one way to add markup as it is.  The
    page has an inline style sheet and, when a table is sortable, a small inline script; it
    links nothing but the images given to :meth:`image` (relative paths beside the page).
    """

    def __init__(self, title: str) -> None:
        self.title = title
        self._body: list[str] = []
        self._script = False

    def raw(self, markup: str) -> None:
        """Add markup as it is (the caller has escaped what needs it)."""
        self._body.append(markup)

    def heading(self, text: str, level: int = 2, anchor: str | None = None) -> None:
        """A heading ``<hN>``; ``anchor`` gives it an id to link to."""
        if not 1 <= level <= 6:
            raise ValueError(f"a heading level is 1 to 6, got {level}")
        ident = f' id="{escape(anchor)}"' if anchor else ""
        self._body.append(f"<h{level}{ident}>{escape(text)}</h{level}>")

    def paragraph(self, text: str, css_class: str | None = None) -> None:
        """A paragraph of plain text."""
        cls = f' class="{escape(css_class)}"' if css_class else ""
        self._body.append(f"<p{cls}>{escape(text)}</p>")

    def nav(self, links: Iterable[tuple[str, str]]) -> None:
        """A line of links to anchors of the page: ``(anchor, text)`` pairs."""
        items = "".join(f'<a href="#{escape(a)}">{escape(t)}</a>' for a, t in links)
        self._body.append(f"<nav>{items}</nav>")

    def facts(self, items: Iterable[tuple[str, object]]) -> None:
        """A list of ``name: value`` lines."""
        rows = "".join(f"<dt>{escape(k)}</dt><dd>{escape(v)}</dd>" for k, v in items)
        self._body.append(f'<dl class="facts">{rows}</dl>')

    def preformatted(self, text: str) -> None:
        """Text shown as it is, in a fixed-width font."""
        self._body.append(f"<pre>{escape(text)}</pre>")

    def table(
        self,
        header: Sequence[str],
        rows: Iterable[Sequence[object]],
        *,
        text_columns: Iterable[int] = (),
        sortable: bool = False,
        row_classes: Sequence[str | None] | None = None,
        anchor: str | None = None,
    ) -> None:
        """A table; columns listed in ``text_columns`` are left-aligned (numbers align right).

        ``sortable`` lets the reader sort it by a click on a column header.
        """
        left = set(text_columns)

        def cell(tag: str, i: int, value: object) -> str:
            cls = ' class="text"' if i in left else ""
            return f"<{tag}{cls}>{escape(value)}</{tag}>"

        parts = ['<table class="sortable"' if sortable else "<table"]
        if anchor:
            parts[0] += f' id="{escape(anchor)}"'
        parts[0] += ">"
        parts.append("<thead><tr>" + "".join(cell("th", i, h) for i, h in enumerate(header)))
        parts.append("</tr></thead><tbody>")
        for r, row in enumerate(rows):
            cls = row_classes[r] if row_classes is not None else None
            attr = f' class="{escape(cls)}"' if cls else ""
            parts.append(f"<tr{attr}>" + "".join(cell("td", i, v) for i, v in enumerate(row)))
            parts.append("</tr>")
        parts.append("</tbody></table>")
        self._body.append("".join(parts))
        self._script = self._script or sortable

    def image(self, src: str, alt: str, caption: str | None = None) -> None:
        """An image (a path relative to the page) with its alternative text and a caption."""
        figure = f'<figure><img src="{escape(src)}" alt="{escape(alt)}">'
        if caption:
            figure += f"<figcaption>{escape(caption)}</figcaption>"
        self._body.append(figure + "</figure>")

    def render(self) -> str:
        """The whole page as text."""
        script = f"<script>{_SORT_SCRIPT}</script>" if self._script else ""
        return (
            "<!DOCTYPE html>\n"
            '<html lang="en"><head><meta charset="utf-8">'
            '<meta name="viewport" content="width=device-width, initial-scale=1">'
            f"<title>{escape(self.title)}</title><style>{_STYLE}</style></head>\n<body>\n"
            + "\n".join(self._body)
            + f"\n{script}\n</body></html>\n"
        )

    def write(self, path: str | os.PathLike) -> Path:
        """Write the page to ``path`` (UTF-8), atomically."""
        path = Path(path)
        with atomic_output(path) as tmp:
            tmp.write_text(self.render(), encoding="utf-8")
        return path


__all__ = [
    "DPI",
    "PANEL_SIZE",
    "Page",
    "escape",
    "new_figure",
    "pyplot",
    "save_png",
    "small_multiples",
]
