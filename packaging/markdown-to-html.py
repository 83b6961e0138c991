#!/usr/bin/python3
"""Writes a Markdown file (the user guide) as one HTML page.

    markdown-to-html.py README.md guide.html "Title"

Headings get the anchors the guide's own links use; tables and fenced code
blocks are kept. Needs Python-Markdown (Debian: python3-markdown).
"""
import html
import sys

import markdown

STYLE = """
body { font-family: system-ui, "Segoe UI", sans-serif; max-width: 60em; margin: 2em auto; padding: 0 1em;
       line-height: 1.45; color: #222; }
code, pre { font-family: Consolas, "DejaVu Sans Mono", monospace; font-size: 0.92em; }
pre { background: #f4f4f4; padding: 0.6em 0.8em; overflow-x: auto; }
table { border-collapse: collapse; margin: 0.8em 0; }
th, td { border: 1px solid #ccc; padding: 0.25em 0.5em; vertical-align: top; text-align: left; }
img { max-width: 100%; }
"""


def main() -> int:
    source, target, title = sys.argv[1], sys.argv[2], sys.argv[3]
    with open(source, encoding="utf-8") as f:
        text = f.read()
    body = markdown.markdown(text, extensions=["tables", "fenced_code", "toc"])
    page = (
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        f"<title>{html.escape(title)}</title>\n<style>{STYLE}</style>\n</head>\n<body>\n{body}\n</body>\n</html>\n"
    )
    with open(target, "w", encoding="utf-8", newline="\r\n") as f:
        f.write(page)
    return 0


if __name__ == "__main__":
    sys.exit(main())
