#!/usr/bin/env python3
"""A test site for mirroring benchmarks, and the checks of a saved copy.

    mirror_site.py generate --origin http://127.0.0.1:PORT --out DIR
        Writes the site into DIR (which must be empty or missing), plus two
        lists beside it: DIR.files (every file of the site, one relative path
        a line) and DIR.queries (every query-string page linked from the site,
        as path?query, one a line). The same origin gives the same bytes.

    mirror_site.py check --site DIR --origin URL --tool NAME COPY
        Compares a saved copy (the folder that stands for the origin's root)
        with the site: prints one line of NAME=VALUE figures on stdout, and
        examples of what is missing or broken on stderr (none with --quiet).

The site: 2,000 HTML pages (index.html, a catalogue list.html, 10 sections
with an index and a list page each, 8 chapters a section, and 1,898 article
pages in chapter folders and part folders below them), 24 shared images and
one image of its own on every article page (.gif, .jpg and .png of 1 to 8 KB),
one style sheet and one script. Links come as plain relative ones, "../"
ones, root-relative ones, absolute ones to the origin, folder links ("/",
"/secNN/"), links with fragments, and links to list.html?page=N (and
secNN/list.html?page=N&sort=name), which the server answers with list.html.
Everything is reachable from index.html.
"""

import argparse
import html
import os
import random
import re
import sys
import urllib.parse

SECTIONS = 10
CHAPTERS = 8
PAGES = 2000
ROOT_LIST_PAGES = 10
SECTION_LIST_PAGES = 5
PAGE_EXTS = (".html",)
IMAGE_EXTS = (".gif", ".jpg", ".png")

WORDS = (
    "archive copy offline mirror page link image folder site visit browse read local server "
    "section chapter part note table figure list index catalogue history method sample value "
    "network request answer header body title style script layout graph record entry detail "
    "summary review report update change version release stable open close start finish"
).split()


# --- the site -----------------------------------------------------------------


def image_bytes(ext, size, rng):
    head = {
        ".gif": b"GIF89a\x10\x00\x10\x00\x80\x00\x00",
        ".jpg": b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00",
        ".png": b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR\x00\x00\x00\x10\x00\x00\x00\x10\x08\x02\x00\x00\x00",
    }[ext]
    tail = {".gif": b";", ".jpg": b"\xff\xd9", ".png": b"\x00\x00\x00\x00IEND\xaeB`\x82"}[ext]
    body = rng.getrandbits(8 * (size - len(head) - len(tail))).to_bytes(size - len(head) - len(tail), "little")
    return head + body + tail


def words(rng, n):
    return " ".join(rng.choice(WORDS) for _ in range(n))


def paragraph(rng):
    text = words(rng, rng.randint(40, 110))
    return "<p>" + text[0].upper() + text[1:] + ".</p>"


def rel(target, page):
    """The relative link from the page (a path below the root) to target."""
    return os.path.relpath(target, os.path.dirname(page) or ".").replace(os.sep, "/")


class Site:
    def __init__(self, origin):
        self.origin = origin.rstrip("/")
        self.rng = random.Random(20240611)
        self.files = {}  # relative path -> bytes
        self.queries = set()  # "path?query" as the server is asked for it
        self.shared = []  # shared image paths
        self.sections = []  # [(index, list, [(chapter index, [article pages])])]

    def layout(self):
        rng = self.rng
        for i in range(24):
            ext = IMAGE_EXTS[i % 3]
            name = ("logo", "icon", "banner", "badge", "arrow", "photo")[i % 6]
            path = "img/shared/%s%d%s" % (name, i, ext)
            self.shared.append(path)
            self.files[path] = image_bytes(ext, rng.randint(2048, 8192), rng)
        articles = PAGES - 2 - 2 * SECTIONS - SECTIONS * CHAPTERS
        chapters = []
        for s in range(SECTIONS):
            chs = []
            for c in range(CHAPTERS):
                chs.append(("sec%02d/ch%02d/index.html" % (s, c), []))
                chapters.append(chs[-1][1])
            self.sections.append(("sec%02d/index.html" % s, "sec%02d/list.html" % s, chs))
        for n in range(articles):
            ch = n % len(chapters)
            k = n // len(chapters)
            s, c = divmod(ch, CHAPTERS)
            folder = "sec%02d/ch%02d/" % (s, c)
            if k >= 8:
                folder += "part%d/" % ((k - 8) // 6 + 1)
            chapters[ch].append(folder + "p%04d.html" % n)
        self.articles = [p for _, _, chs in self.sections for _, ps in chs for p in ps]

    # Link helpers: each returns the text of an href/src for target as seen
    # from page, in one of the ways sites write links.
    def link(self, target, page, style):
        if style == "rel":
            return rel(target, page)
        if style == "root":
            return "/" + target
        if style == "abs":
            return self.origin + "/" + target
        raise ValueError(style)

    def query(self, path, page, q, style):
        self.queries.add(path + "?" + q)
        return self.link(path, page, style) + "?" + q.replace("&", "&amp;")

    def head(self, page, title, n):
        css = self.link("css/site.css", page, ("root", "rel")[n % 2])
        js = self.link("js/site.js", page, ("rel", "root")[n % 2])
        return (
            '<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n'
            "<title>%s</title>\n"
            '<meta name="viewport" content="width=device-width, initial-scale=1">\n'
            '<link rel="stylesheet" href="%s">\n<script src="%s"></script>\n</head>\n'
            '<body id="top">\n<div class="top"><a href="/"><img src="%s" alt="Home" width="120" height="40"></a>\n'
            '<a href="%s">Start</a> | <a href="%s">Catalogue</a></div>\n'
            % (html.escape(title), css, js, self.link(self.shared[0], page, "root"),
               self.link("index.html", page, "abs"), self.link("list.html", page, ("rel", "root")[n % 2]))
        )

    def foot(self, page):
        return (
            '<div class="foot"><a href="#top">Top</a> | <a href="mailto:webmaster@example.invalid">Mail</a>'
            ' | <a href="%s">About</a></div>\n</body>\n</html>\n' % self.link("index.html", page, "rel")
        )

    def img(self, target, page, style, alt):
        return '<img src="%s" alt="%s" width="64" height="64">' % (self.link(target, page, style), alt)

    def write_page(self, path, text):
        self.files[path] = text.encode()

    def pages(self):
        rng = self.rng
        total_sections = len(self.sections)
        # index.html: every section, the catalogue, every shared image.
        page = "index.html"
        body = [self.head(page, "Test site", 0), "<h1>Test site</h1>", paragraph(rng)]
        body.append("<ul>")
        for s, (index, lst, _) in enumerate(self.sections):
            style = ("rel", "root", "abs")[s % 3]
            body.append('<li><a href="%s">Section %d</a> (<a href="%s">list</a>)</li>'
                        % (self.link(index, page, style), s, self.link(lst, page, "rel")))
        body.append("</ul>")
        body.append('<p><a href="%s">First catalogue page</a></p>' % self.query("list.html", page, "page=1", "rel"))
        body.append("<div class=\"gallery\">" + " ".join(
            self.img(p, page, ("rel", "root", "abs")[i % 3], "shared %d" % i) for i, p in enumerate(self.shared)) + "</div>")
        body.append(paragraph(rng))
        self.write_page(page, "\n".join(body) + "\n" + self.foot(page))

        # list.html: the catalogue, paged by a query the server ignores.
        page = "list.html"
        body = [self.head(page, "Catalogue", 1), "<h1>Catalogue</h1>", '<p class="pages">']
        body += ['<a href="%s">%d</a>' % (self.query("list.html", page, "page=%d" % n, ("rel", "root")[n % 2]), n)
                 for n in range(1, ROOT_LIST_PAGES + 1)]
        body.append("</p><ul>")
        for _, _, chs in self.sections:
            for c, (index, _) in enumerate(chs):
                body.append('<li><a href="%s">%s</a></li>' % (self.link(index, page, "abs"), index))
        body.append("</ul>")
        body.append(self.img(self.shared[1], page, "rel", "list"))
        self.write_page(page, "\n".join(body) + "\n" + self.foot(page))

        for s, (index, lst, chs) in enumerate(self.sections):
            # Section index: its chapters, its list.
            body = [self.head(index, "Section %d" % s, s), "<h1>Section %d</h1>" % s, paragraph(rng), "<ul>"]
            for c, (chapter, _) in enumerate(chs):
                style = ("rel", "root", "abs", "rel")[c % 4]
                body.append('<li><a href="%s">Chapter %d</a></li>' % (self.link(chapter, index, style), c))
            body.append("</ul>")
            body.append('<p><a href="%s">All pages of this section</a> | <a href="%s">previous section</a></p>'
                        % (self.link(lst, index, "rel"),
                           self.link(self.sections[(s - 1) % total_sections][0], index, "rel")))
            body.append(self.img(self.shared[2 + s % 6], index, "root", "section"))
            self.write_page(index, "\n".join(body) + "\n" + self.foot(index))

            # Section list: every article of the section, paged by a query.
            body = [self.head(lst, "Section %d, all pages" % s, s + 1), "<h1>Section %d, all pages</h1>" % s,
                    '<p class="pages">']
            body += ['<a href="%s">%d</a>' % (self.query(lst, lst, "page=%d&sort=name" % n, "rel"), n)
                     for n in range(1, SECTION_LIST_PAGES + 1)]
            body.append("</p><ol>")
            for chapter, arts in chs:
                for a in arts:
                    body.append('<li><a href="%s">%s</a></li>' % (self.link(a, lst, "rel"), a))
            body.append("</ol>")
            self.write_page(lst, "\n".join(body) + "\n" + self.foot(lst))

            for c, (chapter, arts) in enumerate(chs):
                body = [self.head(chapter, "Section %d, chapter %d" % (s, c), c),
                        '<p class="crumbs"><a href="%s">Home</a> &gt; <a href="%s">Section %d</a></p>'
                        % (self.link("index.html", chapter, "root"), self.link(index, chapter, "rel"), s),
                        "<h1>Chapter %d</h1>" % c, paragraph(rng), "<ul>"]
                for a in arts:
                    body.append('<li><a href="%s">%s</a></li>' % (self.link(a, chapter, "rel"), a.rsplit("/", 1)[1]))
                body.append("</ul>")
                body.append(self.img(self.shared[8 + c], chapter, "rel", "chapter"))
                self.write_page(chapter, "\n".join(body) + "\n" + self.foot(chapter))

                for i, a in enumerate(arts):
                    self.article(a, s, c, i, arts, chapter)

    def article(self, page, s, c, i, arts, chapter):
        rng = self.rng
        n = int(page.rsplit("/p", 1)[1][:4])
        folder = page.rsplit("/", 1)[0]
        own = "%s/pics/p%04d%s" % (folder, n, IMAGE_EXTS[n % 3])
        self.files[own] = image_bytes(IMAGE_EXTS[n % 3], rng.randint(1024, 6144), rng)
        others = rng.sample(range(len(self.articles)), 3)
        shared = rng.sample(range(1, len(self.shared)), 3)
        body = [
            self.head(page, "Page %04d" % n, n),
            '<p class="crumbs"><a href="/">Home</a> &gt; <a href="/sec%02d/">Section %d</a> &gt; '
            '<a href="%s">Chapter %d</a></p>' % (s, s, self.link(chapter, page, "rel"), c),
            "<h1>Page %04d</h1>" % n,
            self.img(own, page, "rel", "own"),
            paragraph(rng),
            self.img(self.shared[shared[0]], page, "root", "shared"),
            "<p>See also <a href=\"%s\">this page</a>, <a href=\"%s\">that part</a> and <a href=\"%s\">another one</a>.</p>"
            % (self.link(self.articles[others[0]], page, "rel"),
               self.link(self.articles[others[1]], page, "root") + "#s2",
               self.link(self.articles[others[2]], page, "abs")),
            paragraph(rng),
            '<h2 id="s2">More</h2>',
            self.img(self.shared[shared[1]], page, "rel", "shared"),
            paragraph(rng),
            self.img(self.shared[shared[2]], page, "abs", "shared"),
            '<p>Listed on <a href="%s">catalogue page %d</a>.</p>'
            % (self.query("list.html", page, "page=%d" % (n % ROOT_LIST_PAGES + 1), ("root", "rel")[n % 2]),
               n % ROOT_LIST_PAGES + 1),
        ]
        nav = ['<a href="%s">Up</a>' % self.link(chapter, page, "rel")]
        if i > 0:
            nav.append('<a href="%s">Previous</a>' % self.link(arts[i - 1], page, "rel"))
        if i + 1 < len(arts):
            nav.append('<a href="%s">Next</a>' % self.link(arts[i + 1], page, "rel"))
        body.append('<div class="nav">%s</div>' % " | ".join(nav))
        self.write_page(page, "\n".join(body) + "\n" + self.foot(page))

    def assets(self):
        rng = self.rng
        rules = []
        for i in range(60):
            rules.append(".c%d { margin: %dpx %dpx; color: #%06x; }" % (i, rng.randint(0, 20), rng.randint(0, 20),
                                                                         rng.getrandbits(24)))
        self.files["css/site.css"] = ("body { font-family: sans-serif; max-width: 50em; margin: auto; }\n"
                                      + "\n".join(rules) + "\n").encode()
        funcs = []
        for i in range(40):
            funcs.append("function f%d(x) { return x * %d + %d; }" % (i, rng.randint(1, 99), rng.randint(1, 99)))
        self.files["js/site.js"] = ("// site script\n" + "\n".join(funcs) + "\n").encode()

    def build(self):
        self.layout()
        self.pages()
        self.assets()
        assert sum(p.endswith(".html") for p in self.files) == PAGES


def generate(args):
    site = Site(args.origin)
    site.build()
    out = args.out.rstrip("/")
    if os.path.exists(out) and os.listdir(out):
        sys.exit("mirror_site: %s is not empty" % out)
    for path in sorted(site.files):
        full = os.path.join(out, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(site.files[path])
    with open(out + ".files", "w") as f:
        f.write("".join(p + "\n" for p in sorted(site.files)))
    with open(out + ".queries", "w") as f:
        f.write("".join(q + "\n" for q in sorted(site.queries)))
    kinds = {}
    for p in site.files:
        ext = os.path.splitext(p)[1]
        kinds[ext] = kinds.get(ext, 0) + 1
    size = sum(len(b) for b in site.files.values())
    print("%d files (%s), %d KB, %d query pages"
          % (len(site.files), ", ".join("%d %s" % (kinds[k], k) for k in sorted(kinds)), size // 1024,
             len(site.queries)))


# --- checking a copy ---------------------------------------------------------------

ATTR_RE = re.compile(r"""\b(href|src)\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s>"']+))""", re.I)
TAG_RE = re.compile(r"<[a-zA-Z][^>]*>", re.S)
ENTITY_RE = re.compile(r"&(#[0-9]+|#[xX][0-9a-fA-F]+|[a-zA-Z][a-zA-Z0-9]*);")
QUERY_MARKS = ("?", "\u00bf", "%3F", "%3f")


def attr_text(value):
    # Only entities with their ";": in an attribute "&sort=" stays as it is.
    return ENTITY_RE.sub(lambda m: html.unescape(m.group(0)), value)


def query_key(name):
    """path?query for a saved file whose name carries a query, else None."""
    for mark in QUERY_MARKS:
        if mark in name:
            path, query = name.split(mark, 1)
            query = urllib.parse.unquote(query.replace("\u00a1", "/"))
            # One way of saving adds ".html" behind the query.
            if query.endswith(".html"):
                query = query[: -len(".html")]
            # A saver that kept "&amp;" from the page asked for it as it was.
            return path + "?" + query.replace("&amp;", "&")
    return None


def check(args):
    site = args.site.rstrip("/")
    with open(site + ".files") as f:
        expected = [l.rstrip("\n") for l in f if l.strip()]
    with open(site + ".queries") as f:
        queries = {l.rstrip("\n") for l in f if l.strip()}
    origin = args.origin.rstrip("/")
    copy = os.path.abspath(args.copy)

    saved = []
    for folder, _, names in os.walk(copy):
        for name in names:
            saved.append(os.path.relpath(os.path.join(folder, name), copy).replace(os.sep, "/"))
    saved_set = set(saved)
    query_files = {}
    for p in saved:
        key = query_key(p)
        if key is not None:
            query_files[p] = key
    pages = [p for p in saved if p.endswith(PAGE_EXTS) and p not in query_files]
    images = [p for p in saved if p.endswith(IMAGE_EXTS)]
    want_pages = [p for p in expected if p.endswith(PAGE_EXTS)]
    want_images = [p for p in expected if p.endswith(IMAGE_EXTS)]
    missing_pages = [p for p in want_pages if p not in saved_set]
    missing_images = [p for p in want_images if p not in saved_set]
    missing_other = [p for p in expected if not p.endswith(PAGE_EXTS + IMAGE_EXTS) and p not in saved_set]
    known = set(expected)
    extra_pages = sorted(p for p in pages if p not in known)
    other_extra = sorted(p for p in saved if p not in known and p not in query_files and not p.endswith(PAGE_EXTS))
    found_queries = set(query_files.values())
    missing_queries = sorted(queries - found_queries)

    links = broken = rootrel = abs_home = abs_other = skipped = outside = with_query = 0
    examples = {}

    def example(kind, text):
        examples.setdefault(kind, [])
        if len(examples[kind]) < 3:
            examples[kind].append(text)
    html_files = [p for p in saved if p.endswith(PAGE_EXTS) or p in query_files]
    for p in html_files:
        with open(os.path.join(copy, p), "rb") as f:
            text = f.read().decode("utf-8", "replace")
        for tag in TAG_RE.findall(text):
            for m in ATTR_RE.finditer(tag):
                value = attr_text(next(g for g in m.groups()[1:] if g is not None)).strip()
                if not value or value.startswith("#") or re.match(r"(mailto|javascript|data):", value, re.I):
                    skipped += 1
                    continue
                links += 1
                if re.match(r"[a-zA-Z][a-zA-Z0-9+.-]*:", value) or value.startswith("//"):
                    if value.startswith(origin + "/") or value == origin or value.startswith("//" + origin.split("//", 1)[1]):
                        abs_home += 1
                        example("absolute", "%s: absolute link to the served site left: %s" % (p, value))
                    else:
                        abs_other += 1
                    continue
                if value.startswith("/"):
                    rootrel += 1
                    example("root-relative", "%s: root-relative link left: %s" % (p, value))
                    continue
                # A "?" left in a link: the query was not made part of a
                # local name. Offline, the file without the query opens.
                if "?" in value.split("#", 1)[0]:
                    with_query += 1
                    example("query", "%s: link with a query left: %s" % (p, value))
                path = value.split("#", 1)[0].split("?", 1)[0]
                target = os.path.normpath(os.path.join(os.path.dirname(os.path.join(copy, p)),
                                                       urllib.parse.unquote(path)))
                if target != copy and not target.startswith(copy + os.sep):
                    outside += 1
                    example("outside", "%s: link leaves the copy: %s" % (p, value))
                    continue
                ok = os.path.isfile(target) or (os.path.isdir(target) and os.path.isfile(os.path.join(target, "index.html")))
                if not ok:
                    broken += 1
                    example("broken", "%s: broken link %s (no %s)" % (p, value, os.path.relpath(target, copy)))

    tool = args.tool
    if args.quiet:
        examples = {}
    for what, items in (("missing page", missing_pages), ("missing image", missing_images),
                        ("missing other file", missing_other), ("missing query page", missing_queries),
                        ("extra page", extra_pages), ("extra file", other_extra)):
        for item in ([] if args.quiet else items[:4]):
            print("   %s: %s %s" % (tool, what, item), file=sys.stderr)
        if len(items) > 4 and not args.quiet:
            print("   %s: ... %d %ss in all" % (tool, len(items), what), file=sys.stderr)
    for kind in sorted(examples):
        for e in examples[kind]:
            print("   %s: %s" % (tool, e), file=sys.stderr)
    figures = dict(
        files=len(saved), pages=len(pages), images=len(images), query_pages=len(query_files),
        query_urls=len(found_queries & queries), missing_pages=len(missing_pages),
        missing_images=len(missing_images), missing_other=len(missing_other),
        missing_queries=len(missing_queries), extra_pages=len(extra_pages), extra_files=len(other_extra),
        links=links, broken=broken, outside=outside, query_links=with_query, root_relative=rootrel, absolute_home=abs_home,
        absolute_other=abs_other, skipped=skipped,
    )
    print(" ".join("%s=%d" % kv for kv in figures.items()))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    g = sub.add_parser("generate", help="write the site")
    g.add_argument("--origin", required=True, help="scheme://host:port the site is served from")
    g.add_argument("--out", required=True, help="folder for the site")
    c = sub.add_parser("check", help="check a saved copy")
    c.add_argument("--site", required=True, help="the folder the site was generated into")
    c.add_argument("--origin", required=True)
    c.add_argument("--tool", default="copy", help="name shown in the messages")
    c.add_argument("--quiet", action="store_true", help="figures only, no examples")
    c.add_argument("copy", help="the copy's folder that stands for the site's root")
    args = parser.parse_args()
    (generate if args.command == "generate" else check)(args)


if __name__ == "__main__":
    main()
