#!/usr/bin/env python3
"""Write the man3 pages of lumekwhlist.h from its doc comments.

A doc comment documents the exported prototypes that follow it directly:

    /**
     * name1, name2 - summary
     * @param: text (continued on the following lines)
     *
     * Free text.
     *
     * Returns: text
     */

Every name of the first line must be a prototype below it and the other way round. The first
name gets the page; the others get ".so" pages pointing at it. The section banners of the
header ("/* ---- ... */") name the families listed in lumekwhlist(3).

Anything the pages cannot say properly is an error, so the build stops while the header
and its pages disagree: an exported prototype without a comment, a parameter without text,
an @name that no prototype has, a function result without "Returns:".
"""
import argparse
import os
import re
import sys

PUBLIC = "LUMEKWHLIST_PUBLIC"
HEADER = "lumekwhlist.h"
LIBRARY = "lumekwhlist"


class HeaderError(Exception):
    pass


class Proto:
    def __init__(self, text, line):
        self.line = line
        text = " ".join(text.replace(PUBLIC, " ").split())
        m = re.fullmatch(r"(extern )?(.*?)\s*\b(\w+)\s*\((.*)\);", text)
        if m:
            self.ret, self.name, self.is_function = m.group(2), m.group(3), True
            args = [] if m.group(4).strip() in ("", "void") else m.group(4).split(",")
            self.args = [self.split_arg(a.strip()) for a in args]
            return
        m = re.fullmatch(r"(extern )?(.*?)\s*\b(\w+);", text)
        if not m:
            raise HeaderError(f"line {line}: cannot read the prototype '{text}'")
        self.ret, self.name, self.is_function, self.args = m.group(2), m.group(3), False, []

    @staticmethod
    def split_arg(arg):
        m = re.fullmatch(r"(.*?[\s*])(\w+)", arg)
        if not m:
            raise HeaderError(f"an argument without a name: '{arg}'")
        return m.group(1).rstrip() + (" " if not m.group(1).endswith("*") else ""), m.group(2)


class Doc:
    def __init__(self, lines, line):
        self.line, self.protos, self.family = line, [], None
        self.params, self.body, self.returns = [], [], []
        i = 0
        head = []
        while i < len(lines) and " - " not in " ".join(head):
            head.append(lines[i].strip())
            i += 1
        names, sep, summary = " ".join(head).partition(" - ")
        if not sep:
            raise HeaderError(f"line {line}: the comment does not start with 'name - summary'")
        self.names = [n.strip() for n in names.split(",")]
        summary = [summary]
        while i < len(lines) and lines[i].strip() and not self.tag(lines[i].lstrip()):
            summary.append(lines[i].strip())
            i += 1
        self.summary = " ".join(summary).strip().rstrip(".")
        para = None
        for raw in lines[i:]:
            # An indented line continues the one before, even when it starts with "@".
            tag, text = self.tag(raw), raw.strip()
            if tag == "@":
                m = re.match(r"((?:@\w+, )*@\w+): (.*)", text)
                if not m:
                    raise HeaderError(f"line {line}: cannot read the parameter line '{text}'")
                para = [m.group(2)]
                self.params.append(([n.strip()[1:] for n in m.group(1).split(",")], para))
            elif tag == "Returns:":
                para = [text[len(tag):].strip()]
                self.returns.append(para)
            elif not text:
                para = None
            elif para is None:
                para = [text]
                (self.returns if self.returns else self.body).append(para)
            else:
                para.append(text)

    @staticmethod
    def tag(text):
        if re.match(r"@\w+(, @\w+)*:", text):
            return "@"
        return "Returns:" if text.startswith("Returns:") else None

    def check(self):
        where = f"line {self.line} ({self.names[0]})"
        got = [p.name for p in self.protos]
        if got != self.names:
            raise HeaderError(f"{where}: the comment names {self.names}, the prototypes are {got}")
        args = {a[1] for p in self.protos for a in p.args}
        documented = [n for names, _ in self.params for n in names]
        for n in documented:
            if n not in args:
                raise HeaderError(f"{where}: @{n} is no parameter")
        missing = sorted(args - set(documented))
        if missing:
            raise HeaderError(f"{where}: no @ line for {', '.join(missing)}")
        if any(p.is_function and p.ret != "void" for p in self.protos) and not self.returns:
            raise HeaderError(f"{where}: no 'Returns:'")


def read_header(path):
    docs, family, doc, errors = [], None, None, []
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    i = 0
    while i < len(lines):
        line, start = lines[i], i + 1
        stripped = line.strip()
        if stripped.startswith("/**"):
            block = [stripped[3:]]
            while "*/" not in block[-1]:
                i += 1
                block.append(lines[i].strip())
            block[-1] = block[-1][: block[-1].index("*/")]
            text = [re.sub(r"^\* ?", "", b) for b in block]
            while text and not text[0].strip():
                text.pop(0)
            doc = Doc(text, start)
            doc.family = family
            docs.append(doc)
        elif stripped.startswith("/* ---"):
            banner = []
            i += 1
            while not lines[i].strip().startswith("* ---"):
                banner.append(re.sub(r"^\s*\* ?", "", lines[i]))
                i += 1
            family = " ".join(b.strip() for b in banner)
            doc = None
        elif PUBLIC in line and not line.startswith("#define"):
            text = line
            while not text.rstrip().endswith(";"):
                i += 1
                text += " " + lines[i]
            if doc is None:
                errors.append(f"line {start}: {Proto(text, start).name} has no doc comment")
            else:
                doc.protos.append(Proto(text, start))
        else:
            doc = None
        i += 1
    for d in docs:
        try:
            d.check()
        except HeaderError as e:
            errors.append(str(e))
    if errors:
        raise HeaderError("\n".join(errors))
    return docs


def words(text, exported):
    """Body text: roff escapes, parameters in italics, known functions in bold."""
    out = []
    for tok in re.split(r"(\s+)", text):
        tok = tok.replace("\\", "\\e")
        # A hyphen joins words of prose; anywhere else (numbers, options, paths, names in
        # quotes) it is a minus sign that must copy as one.
        if not re.fullmatch(r"\(?[A-Za-z]+(-[A-Za-z]+)+[),.;:]*", tok):
            tok = tok.replace("-", "\\-")
        tok = re.sub(r"@(\w+)", r"\\fI\1\\fP", tok)
        # Names are not hyphenated.
        if "_" in tok or "/" in tok:
            tok = "\\%" + tok
        tok = re.sub(r"\b(\w+)\(\)", lambda m: f"\\fB{m.group(1)}\\fP()" if m.group(1) in exported else m.group(0),
                     tok)
        out.append(tok)
    return "".join(out)


def lines_out(text):
    """One input line per output line; a leading control character is made literal."""
    return "\n".join(("\\&" + l if l[:1] in (".", "'") else l) for l in text.split("\n"))


def paragraph(para, exported, capital=False):
    text = "\n".join(para)
    if capital:
        text = text[:1].upper() + text[1:]
    return lines_out(words(text, exported))


def synopsis(proto):
    if not proto.is_function:
        return f"\\fBextern {proto.ret} {proto.name};\\fP"
    lead = f"{proto.ret}{'' if proto.ret.endswith('*') else ' '}{proto.name}("
    if not proto.args:
        return f"\\fB{lead}void);\\fP"
    rows, row, width = [], f"\\fB{lead}", len(lead)
    for k, (typ, name) in enumerate(proto.args):
        piece = f"{typ}\\fI{name}\\fB" + (");" if k == len(proto.args) - 1 else ",")
        plain = len(typ) + len(name) + 2
        if k and width + plain > 78:
            rows.append(row.rstrip())
            row, width = "\\fB" + " " * len(lead), len(lead)
        row += piece + " "
        width += plain
    rows.append(row.rstrip() + "\\fP")
    return "\n".join(rows).replace("\\fB\\fI", "\\fI").replace("\\fB\\fP", "\\fP")


def th(name, version):
    # Left-adjusted: long names cannot be broken, so justified lines would need stretching.
    return f'.TH {name} 3 "" "{LIBRARY} {version}" "{LIBRARY} manual"\n.ad l\n'


def page(doc, version, exported):
    names = ", ".join(f"\\%{n}" for n in doc.names)
    out = [th(doc.names[0], version), ".SH NAME\n", f"{names} \\- {words(doc.summary, set())}\n"]
    out.append(f".SH SYNOPSIS\n.nf\n.B #include <{HEADER}>\n.PP\n")
    out.append("\n".join(synopsis(p) for p in doc.protos) + "\n.fi\n")
    out.append(f".PP\nLink with \\fB\\-l{LIBRARY}\\fP, or take the flags from\n"
               f"\\fBpkg\\-config \\-\\-cflags \\-\\-libs {LIBRARY}\\fP.\n")
    if doc.body:
        out.append(".SH DESCRIPTION\n")
        out.append("\n.PP\n".join(paragraph(p, exported) for p in doc.body) + "\n")
    if doc.params:
        out.append(".SH ARGUMENTS\n")
        for names, para in doc.params:
            out.append(".TP\n" + ", ".join(f"\\fI{n}\\fP" for n in names) + "\n" + paragraph(para, exported) + "\n")
    if doc.returns:
        out.append(".SH RETURN VALUE\n")
        out.append("\n.PP\n".join(paragraph(p, exported, True) for p in doc.returns) + "\n")
    text = " ".join(" ".join(p) for p in doc.body + doc.returns + [p for _, p in doc.params])
    refs = sorted({m for m in re.findall(r"\b(\w+)\(\)", text) if m in exported and m not in doc.names})
    out.append(".SH SEE ALSO\n")
    out.append("".join(f".BR \\%{r} (3),\n" for r in refs) + f".BR {LIBRARY} (3),\n.BR lumekctl (1)\n")
    return "".join(out)


def overview(docs, version):
    out = [th(LIBRARY, version), ".SH NAME\n", f"{LIBRARY} \\- client library of the lumek kernel security framework\n",
           f".SH SYNOPSIS\n.nf\n.B #include <{HEADER}>\n.fi\n.PP\n",
           f"Link with \\fB\\-l{LIBRARY}\\fP, or take the flags from\n"
           f"\\fBpkg\\-config \\-\\-cflags \\-\\-libs {LIBRARY}\\fP.\n",
           ".SH DESCRIPTION\n",
           "Every function runs synchronously on the caller's thread and keeps no connection, lock or\n"
           "cache between calls. Results handed to the caller are malloc'd (or GLib-allocated where a\n"
           "GVariant is returned) and belong to the caller; each page says how to release them.\n"]
    families = []
    for d in docs:
        if not families or families[-1][0] != d.family:
            families.append((d.family, []))
        families[-1][1].append(d)
    for family, members in families:
        # A banner is "Title: more text" or "Title. More text".
        title, _, rest = (family or "Other functions").partition(": ")
        title, dot, more = title.partition(". ")
        out.append(f".SS {words(title.rstrip('.'), set())}\n")
        rest = (more + " " + rest).strip() if dot else rest
        if rest:
            out.append(lines_out(words(rest[:1].upper() + rest[1:], set())) + "\n")
        for d in members:
            for n in d.names:
                out.append(f".TP\n.BR \\%{n} (3)\n{words(d.summary, set())}\n")
    out.append(".SH SEE ALSO\n.BR lumekctl (1),\n.BR pkg\\-config (1)\n")
    return "".join(out)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--header", required=True)
    ap.add_argument("--version", required=True)
    ap.add_argument("--outdir", required=True, help="the pages go into OUTDIR/man3")
    ap.add_argument("--stamp", help="touched once every page is written")
    opts = ap.parse_args()
    try:
        docs = read_header(opts.header)
    except HeaderError as e:
        sys.exit(f"{opts.header}: {e}")
    exported = {n for d in docs for n in d.names}
    mandir = os.path.join(opts.outdir, "man3")
    os.makedirs(mandir, exist_ok=True)
    for old in os.listdir(mandir):
        if old.endswith(".3"):
            os.remove(os.path.join(mandir, old))
    pages = {f"{LIBRARY}.3": overview(docs, opts.version)}
    for d in docs:
        pages[f"{d.names[0]}.3"] = page(d, opts.version, exported)
        for other in d.names[1:]:
            pages[f"{other}.3"] = f".so man3/{d.names[0]}.3\n"
    for name, text in pages.items():
        with open(os.path.join(mandir, name), "w", encoding="utf-8") as f:
            f.write(text)
    if opts.stamp:
        with open(opts.stamp, "w", encoding="utf-8") as f:
            f.write(f"{len(pages)} pages\n")


if __name__ == "__main__":
    main()
