#!/usr/bin/env python3
"""Turns the programs' own --help texts into their manual pages and mapzip's bash completion,
so that neither can say anything else than the programs do.

Usage:
  helpdoc.py man PROGRAM OUTPUT [--section TITLE TEXT]...
  helpdoc.py completion PROGRAM TEMPLATE OUTPUT

PROGRAM is the built program. Its --help text makes the page: the usage lines the synopsis, the
first sentence the NAME line, the rest the description, options and exit status. Each command
of its "Commands:" list adds a section made from PROGRAM COMMAND --help. --section adds a
section of text that --help has no place for (files, see also). The completion fills the
template's @MAPZIP_COMPLETION_DATA@ with the commands, their options and what each option's
value and each command's operands are (map, archive, picture, file, dir, words:..., none).

The help texts are plain: paragraphs of prose; "Heading:" lines; lists of two-space indented
entries whose descriptions start in one column; "Exit status: ..." paragraphs.
"""
import os
import re
import subprocess
import sys


def help_text(program, *args):
    env = dict(os.environ)
    # --help must work without a display, so none is offered.
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        env.pop(name, None)
    result = subprocess.run([program, *args, "--help"], capture_output=True, text=True, env=env,
                            timeout=60)
    if result.returncode != 0 or not result.stdout.strip():
        sys.exit("%s %s --help failed (%d): %s" % (program, " ".join(args), result.returncode,
                                                  result.stderr))
    return result.stdout


class Help:
    """One help text: usage lines, then blocks ("prose", text), ("heading", text),
    ("items", [(term, description)]), ("exit", text)."""

    def __init__(self, text):
        self.usage = []
        self.blocks = []
        paragraphs = [p.split("\n") for p in re.split(r"\n\s*\n", text.strip("\n"))]
        first = paragraphs[0]
        # "Usage: ..." and the lines indented below it.
        while first and (re.match(r"(?i)usage: ", first[0]) or
                         (self.usage and first[0].startswith(" "))):
            self.usage.append(re.sub(r"(?i)^usage: ", "", first.pop(0)).strip())
        for lines in paragraphs:
            self._paragraph(lines)

    def _paragraph(self, lines):
        prose = []

        def flush():
            if prose:
                text = " ".join(prose)
                kind = "exit" if text.lower().startswith("exit status:") else "prose"
                self.blocks.append((kind, text.split(":", 1)[1].strip() if kind == "exit" else text))
                prose.clear()

        i = 0
        while i < len(lines):
            line = lines[i]
            if line.startswith("  ") and not line.startswith("   "):
                flush()
                j = i
                while j < len(lines) and lines[j].startswith("  "):
                    j += 1
                self.blocks.append(("items", items(lines[i:j])))
                i = j
                continue
            if line.endswith(":") and not prose and len(line.split()) <= 3:
                flush()
                self.blocks.append(("heading", line[:-1]))
            else:
                prose.append(line.strip())
            i += 1
        flush()

    def commands(self):
        """The first words of the entries listed under "Commands:"."""
        names = []
        for (kind, content), following in zip(self.blocks, self.blocks[1:]):
            if kind == "heading" and content.lower() == "commands" and following[0] == "items":
                for term, _ in following[1]:
                    if term.split()[0] not in names:
                        names.append(term.split()[0])
        return names

    def name_line(self):
        """The first sentence of the first prose paragraph, and that paragraph without it."""
        for index, (kind, text) in enumerate(self.blocks):
            if kind == "prose":
                sentence, _, rest = text.partition(". ")
                return sentence.rstrip("."), index, rest

        return "", -1, ""


def items(lines):
    """Entries of a two-space indented list: (term, description). A description starts after a
    gap of two blanks or more, or in the list's description column; lines indented further
    continue the entry above."""
    gaps = [re.search(r"\S\s{2,}(?=\S)", line) for line in lines]
    ends = [gap.end() for gap in gaps if gap]
    column = max(set(ends), key=ends.count) if ends else None
    entries = []
    for line, gap in zip(lines, gaps):
        if line.startswith("   ") and entries:
            term, description = entries[-1]
            entries[-1] = (term, (description + " " + line.strip()).strip())
        elif gap:
            entries.append((line[:gap.start() + 1].strip(), line[gap.end():].strip()))
        elif column and len(line) > column and line[column - 1] == " ":
            entries.append((line[:column].strip(), line[column:].strip()))
        else:
            entries.append((line.strip(), ""))
    return entries


# Manual pages

def roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return re.sub(r"^([.'])", r"\\&\1", text)


def roff_term(term):
    """Options and commands bold, placeholders (upper case words) italic."""
    def word(match):
        token = match.group(0)
        if token.startswith("-") or re.fullmatch(r"[a-z][a-z0-9]*", token):
            return "\\fB" + roff(token) + "\\fR"
        if re.fullmatch(r"[A-Z][A-Z0-9_]*", token):
            return "\\fI" + roff(token) + "\\fR"
        return roff(token)
    return re.sub(r"[-\w]+", word, term)


def page_blocks(blocks, out):
    for kind, content in blocks:
        if kind == "prose" or kind == "exit":
            out.append(".PP")
            out.append(roff(("Exit status: " if kind == "exit" else "") + content))
        elif kind == "heading":
            out.append(".SS " + roff(content))
        else:
            for term, description in content:
                out.append(".TP")
                out.append(roff_term(term))
                out.append(roff(description) if description else "\\&")


def man(program, output, sections):
    name = os.path.basename(program)
    version = subprocess.run([program, "--version"], capture_output=True, text=True,
                             timeout=60).stdout.strip()
    main = Help(help_text(program))
    summary, first, rest = main.name_line()
    blocks = list(main.blocks)
    if first >= 0:
        if rest:
            blocks[first] = ("prose", rest)
        else:
            del blocks[first]
    helps = [(command, Help(help_text(program, command))) for command in main.commands()]

    out = ['.TH %s 1 "" "%s" "User Commands"' % (name.upper(), roff(version)),
           ".SH NAME",
           "%s \\- %s" % (roff(name), roff(summary[:1].lower() + summary[1:])),
           ".SH SYNOPSIS",
           ".nf"]
    for line in (main.usage if not helps else [u for _, h in helps for u in h.usage]):
        out.append(roff_term(line))
    out.append(".fi")
    out.append(".SH DESCRIPTION")
    exits = [content for kind, content in blocks if kind == "exit"]
    described = [block for block in blocks if block[0] != "exit"]
    # Without commands, an untitled list is the program's options.
    if not helps and any(kind == "items" for kind, _ in described):
        at = next(i for i, (kind, _) in enumerate(described) if kind == "items")
        page_blocks(described[:at], out)
        out.append(".SH OPTIONS")
        page_blocks(described[at:], out)
    else:
        page_blocks(described, out)
    if helps:
        out.append(".SH COMMANDS")
    for command, help in helps:
        out.append(".SS %s" % roff(command))
        out.append(".nf")
        out.extend(roff_term(line) for line in help.usage)
        out.append(".fi")
        page_blocks(help.blocks, out)
    if exits:
        out.append('.SH "EXIT STATUS"')
        out.extend(roff(text) for text in exits)
    for title, text in sections:
        out.append('.SH "%s"' % roff(title.upper()))
        for paragraph in text.split("\n\n"):
            out.append(".PP")
            out.append(roff(paragraph.strip()))
    with open(output, "w", encoding="utf-8") as page:
        page.write("\n".join(out) + "\n")


# Bash completion

# What each placeholder of the help texts stands for, as the completion offers it.
PLACEHOLDERS = {
    "MAP": "map", "ARCHIVE": "archive", "OUT": "archive", "FILE": "file", "DIR": "dir",
    "OUTDIR": "dir",
}


def value_kind(placeholder):
    if placeholder.lower().endswith(".png"):
        return "picture"
    if "|" in placeholder and placeholder.lower() == placeholder:
        return "words:" + placeholder.replace("|", " ")
    base = re.sub(r"[^A-Z].*$", "", placeholder)
    return PLACEHOLDERS.get(base, "none")


def completion(program, template, output):
    main = Help(help_text(program))
    commands = main.commands()
    lines = ["_mapzip_commands='%s'" % " ".join(commands)]
    top = sorted({option for kind, content in main.blocks if kind == "items"
                  for term, _ in content for option in re.findall(r"(?<!\S)--?[a-z][-a-z]*", term)
                  if term.split()[0] not in commands})
    lines.append("_mapzip_options_='%s'" % " ".join(top))
    for command in commands:
        help = Help(help_text(program, command))
        options, values = [], []
        for kind, content in help.blocks:
            if kind != "items":
                continue
            for term, _ in content:
                words = term.replace(",", " ").split()
                names = [w for w in words if w.startswith("-")]
                argument = [w for w in words if not w.startswith("-")]
                options.extend(names)
                if argument:
                    values.extend("%s=%s" % (n, value_kind(argument[0])) for n in names)
        positional = "none"
        for usage in help.usage:
            for word in usage.split()[2:]:
                if re.fullmatch(r"[A-Z]+(\.\.\.)?", word):
                    positional = value_kind(word)
                    break
            if positional != "none":
                break
        lines.append("_mapzip_options_%s='%s'" % (command, " ".join(options)))
        lines.append("_mapzip_values_%s='%s'" % (command, ";".join(values)))
        lines.append("_mapzip_operands_%s='%s'" % (command, positional))
    with open(template, encoding="utf-8") as source:
        text = source.read().replace("@MAPZIP_COMPLETION_DATA@", "\n".join(lines))
    with open(output, "w", encoding="utf-8") as out:
        out.write(text)


def main(argv):
    if len(argv) < 4 or argv[1] not in ("man", "completion"):
        sys.exit(__doc__)
    mode = argv[1]
    positional = []
    sections = []
    args = argv[2:]
    while args:
        arg = args.pop(0)
        if arg == "--section":
            sections.append((args.pop(0), args.pop(0)))
        else:
            positional.append(arg)
    if mode == "man" and len(positional) == 2:
        man(positional[0], positional[1], sections)
    elif mode == "completion" and len(positional) == 3:
        completion(*positional)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
