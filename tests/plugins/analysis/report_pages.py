#!/usr/bin/env python3
"""The report's pages as a person gets them.

  report_pages.py write PROGRAM EXAMPLES OUT
      Writes the pages with the zantrix program into OUT: the demo session's
      (on the shipped sample data in EXAMPLES), six years of daily values
      against a benchmark, and a short series that fills few panels; then
      checks each without a browser: every SVG is well-formed XML, every chart
      draws a path, and nothing is loaded from elsewhere.

  report_pages.py browse OUT
      Opens the pages written into OUT in headless Chromium at a desktop and
      a phone width and prints the demo's page to PDF. Fails when the browser
      reports an error, when the page loads any resource, when a chart draws
      no visible path, when the page is wider than the window, or when the
      print is not A4 landscape. Screenshots and the PDF stay in OUT for a
      person to look at. Exits 77 (skipped) when Chromium is not installed.
"""

import json
import os
import random
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from datetime import date, timedelta
from pathlib import Path

SKIPPED = 77
CHROMIUM = "/usr/bin/chromium"
SVG_NS = "{http://www.w3.org/2000/svg}"
PAGES = ("demo_report", "six_years_report", "short_report")
DESKTOP, PHONE = 1360, 390

failures = []


def fail(page, message):
    failures.append(f"{page}: {message}")


def run(command, **options):
    done = subprocess.run(command, capture_output=True, text=True, timeout=900, **options)
    if done.returncode != 0:
        raise SystemExit(f"{' '.join(map(str, command))} exited {done.returncode}\n"
                         f"{done.stdout}\n{done.stderr}")
    return done


def weekdays(first, last):
    day = first
    while day <= last:
        if day.weekday() < 5:
            yield day
        day += timedelta(days=1)


def write_series(path, days, with_benchmark, seed):
    walk = random.Random(seed)
    value, benchmark = 100.0, 100.0
    lines = ["date,value,benchmark" if with_benchmark else "date,value"]
    for day in days:
        value *= 1 + walk.gauss(0.0004, 0.011)
        benchmark *= 1 + walk.gauss(0.0002, 0.009)
        lines.append(f"{day},{value:.4f},{benchmark:.4f}" if with_benchmark
                     else f"{day},{value:.4f}")
    path.write_text("\n".join(lines) + "\n")


def write_pages(program, examples, out):
    out.mkdir(parents=True, exist_ok=True)
    config = out / "demo_config.json"
    config.write_text(json.dumps({
        "DATA_PATH": {"kline": str(examples / "data" / "kline")},
        "TIME_STEP": 60000,
        "BAR_CONVENTION": {},
        "DB": {"sqlite3": str(out / "demo_store")},
    }))
    run([program, "--config", config, "demo", "--html", out / "demo_report.html",
         "--csv", out / "demo_tables", "--log", out / "demo_session.log"])
    six_years = out / "six_years.csv"
    write_series(six_years, weekdays(date(2018, 1, 1), date(2023, 12, 29)), True, 7)
    run([program, "metrics", six_years, "--html", out / "six_years_report.html",
         "--csv", out / "six_years_tables"])
    short = out / "short.csv"
    write_series(short, weekdays(date(2024, 1, 1), date(2024, 1, 4)), False, 8)
    run([program, "metrics", short, "--html", out / "short_report.html"])
    for table in ("equity", "drawdown", "monthly_returns", "rolling", "trades", "fees"):
        if not (out / "demo_tables" / f"{table}.csv").stat().st_size:
            fail("demo_tables", f"{table}.csv is empty")


def drawn(d):
    """Whether a path's data draws something: two or more points."""
    return len(re.findall(r"-?\d+(?:\.\d+)?", d or "")) >= 4


def check_markup(name, html):
    """The checks that need no browser."""
    fragments = re.findall(r"<svg\b.*?</svg>", html, re.S)
    if not fragments:
        fail(name, "no chart")
    for i, fragment in enumerate(fragments):
        try:
            svg = ET.fromstring(fragment)
        except ET.ParseError as error:
            fail(name, f"SVG {i} is not well-formed: {error}")
            continue
        paths = [p for p in svg.iter(f"{SVG_NS}path") if drawn(p.get("d"))]
        if "chart" in svg.get("class", "").split() and not paths:
            fail(name, f"chart '{svg.get('aria-label')}' draws no path")
    for pattern, what in ((r"<script", "a script"), (r"\bsrc\s*=", "a src attribute"),
                          (r"<link\b", "a link element"), (r"url\(", "a CSS url()"),
                          (r"@import", "a CSS import"),
                          (r"https?://(?!www\.w3\.org/2000/svg\")", "an outside address")):
        if re.search(pattern, html):
            fail(name, f"the page holds {what}; it must load nothing")


# Appended to a copy of a page: what the browser laid out and drew, written
# into the DOM that --dump-dom prints.
PROBE = """<script>
(() => {
  const problems = [];
  let shown = 0;
  document.querySelectorAll('svg').forEach((svg, i) => {
    const name = svg.getAttribute('aria-label') || 'svg ' + i;
    if (!svg.getClientRects().length) return;  // the other width's drawing
    ++shown;
    const box = svg.getBoundingClientRect();
    if (box.width < 100 || box.height < 60) problems.push(name + ' is laid out ' + box.width + 'x' + box.height);
    if (!svg.classList.contains('chart')) return;
    const visible = [...svg.querySelectorAll('path')].filter(p => {
      const b = p.getBBox();
      return p.getTotalLength() > 0 && (b.width > 0 || b.height > 0) &&
             getComputedStyle(p).visibility !== 'hidden';
    });
    if (!visible.length) problems.push(name + ' draws no visible path');
  });
  if (!shown) problems.push('no chart is shown');
  const loaded = performance.getEntriesByType('resource').map(e => e.name);
  if (loaded.length) problems.push('the page loaded ' + loaded.join(', '));
  if (document.documentElement.scrollWidth > window.innerWidth + 1)
    problems.push('the page is ' + document.documentElement.scrollWidth + ' px wide in a ' + window.innerWidth + ' px window');
  document.body.setAttribute('data-probe', JSON.stringify(
      {problems, height: document.documentElement.scrollHeight}));
})();
</script>"""


def chromium(*arguments, width, height):
    with tempfile.TemporaryDirectory() as profile:
        return run([CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                    "--no-first-run", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync", f"--user-data-dir={profile}",
                    "--enable-logging=stderr", "--v=0", "--hide-scrollbars",
                    f"--window-size={width},{height}", *arguments])


def probe(name, page, width):
    """Opens the page with the probe; returns the page's height."""
    copy = page.with_name(f"{page.stem}.probe.html")
    copy.write_text(page.read_text().replace("</body>", PROBE + "</body>"))
    done = chromium("--dump-dom", copy.as_uri(), width=width, height=900)
    copy.unlink()
    for line in done.stderr.splitlines():
        if ":CONSOLE" in line:
            fail(name, f"the browser reported: {line}")
    found = re.search(r'data-probe="([^"]*)"', done.stdout)
    if not found:
        fail(name, f"the page did not finish loading at {width} px")
        return 900
    result = json.loads(found.group(1).replace("&quot;", '"').replace("&amp;", "&"))
    for problem in result["problems"]:
        fail(name, f"at {width} px, {problem}")
    return result["height"]


def print_size(pdf):
    """The first page's size in points."""
    box = re.search(rb"/MediaBox\s*\[\s*0 0 ([\d.]+) ([\d.]+)\s*\]", pdf.read_bytes())
    return (float(box.group(1)), float(box.group(2))) if box else None


def browse(out):
    if not os.access(CHROMIUM, os.X_OK):
        print(f"{CHROMIUM} is not installed (scripts/install-deps --browser): browser check skipped")
        sys.exit(SKIPPED)
    for name in PAGES:
        page = out / f"{name}.html"
        check_markup(name, page.read_text())
        for width, suffix in ((DESKTOP, ""), (PHONE, "_phone")):
            if suffix and name != "demo_report":
                continue
            height = probe(name, page, width)
            shot = out / f"{name}{suffix}.png"
            chromium(f"--screenshot={shot}", page.as_uri(), width=width, height=min(height, 16000))
            print(f"screenshot: {shot}")
    pdf = out / "demo_report.pdf"
    chromium(f"--print-to-pdf={pdf}", "--no-pdf-header-footer", (out / "demo_report.html").as_uri(),
             width=DESKTOP, height=900)
    size = print_size(pdf)
    if not size or abs(size[0] - 841.9) > 2 or abs(size[1] - 595.3) > 2:
        fail("demo_report", f"prints on {size} points, not A4 landscape (841.9 x 595.3)")
    print(f"print: {pdf}")


def main():
    if len(sys.argv) == 5 and sys.argv[1] == "write":
        out = Path(sys.argv[4])
        write_pages(Path(sys.argv[2]), Path(sys.argv[3]), out)
        for name in PAGES:
            check_markup(name, (out / f"{name}.html").read_text())
    elif len(sys.argv) == 3 and sys.argv[1] == "browse":
        browse(Path(sys.argv[2]))
    else:
        sys.exit(__doc__)
    for failure in failures:
        print("FAIL", failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
